// A private pipe directory and a named-pipe configuration for the transport tests and the
// request server's; the directory must be empty again when a test ends (every FIFO cleaned
// up).
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "comm/pipe_transport.h"
#include "comm/zovcomm.h"
#include "runtime/env.h"
#include "runtime/platform.h"
#include "testing/child_support.h"

class PipeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = env_vars;
        saved_wait_ = wait_timeout;
        dir_ = make_test_dir("zovcomm_test_");
        ASSERT_NE(dir_, "");
        use_test_config(dir_.data(), useshm_.data());
        comm_pipe_reset_names();
        wait_timeout = 3;
        zovcomm_locked = 0;
    }

    void TearDown() override {
        EXPECT_EQ(entries(), std::vector<std::string>{}) << "files left in " << dir_;
        remove_test_dir(dir_);
        env_vars = saved_;
        comm_pipe_reset_names();
        wait_timeout = saved_wait_;
        u_platform_reset();
    }

    std::vector<std::string> entries() const { return dir_entries(dir_); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string collector_pipe() const { return path("col_SRV1_ZEM100_pipe"); }

    std::string dir_;
    std::string useshm_ = "0";
    ENV_VARS saved_{};
    int saved_wait_ = 0;
};
