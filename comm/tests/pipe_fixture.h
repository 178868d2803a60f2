// A private pipe directory and a named-pipe configuration for the transport tests; the
// directory must be empty again when a test ends (every FIFO cleaned up).
#pragma once

#include <dirent.h>
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

class PipeFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zovcomm_test_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        saved_ = env_vars;
        env_vars.coll_home = dir_.data();  // the configuration counts as read
        env_vars.localtmpdir = dir_.data();
        env_vars.tmpdir = dir_.data();
        env_vars.useshm = useshm_.data();
        env_vars.serverid = server_.data();
        env_vars.db_type = db_.data();
        env_vars.hostname = host_.data();
        comm_pipe_reset_names();
        saved_wait_ = wait_timeout;
        wait_timeout = 3;
        zovcomm_locked = 0;
    }

    void TearDown() override {
        EXPECT_EQ(entries(), std::vector<std::string>{}) << "files left in " << dir_;
        for (const auto& e : entries()) unlink((dir_ + "/" + e).c_str());
        rmdir(dir_.c_str());
        env_vars = saved_;
        comm_pipe_reset_names();
        wait_timeout = saved_wait_;
        u_platform_reset();
    }

    std::vector<std::string> entries() const {
        std::vector<std::string> out;
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") out.push_back(n);
            }
            closedir(d);
        }
        return out;
    }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::string collector_pipe() const { return path("col_SRV1_ZEM100_pipe"); }

    std::string dir_;
    std::string useshm_ = "0";
    std::string server_ = "SRV1";
    std::string db_ = "ZEM100";
    std::string host_ = "h1";
    ENV_VARS saved_{};
    int saved_wait_ = 0;
};
