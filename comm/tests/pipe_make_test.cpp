// The transport picks which of the anchor's names becomes a FIFO.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comm/comm_anchor.h"
#include "comm/pipe_transport.h"
#include "runtime/pipes.h"
#include "testing/temp_dir.h"

namespace {

class PipeMake : public ::testing::Test {
  protected:
    void SetUp() override {
        std::snprintf(anchor_.coll_pipe, COMM_NAME_SIZE, "%s", (dir_ / "coll").c_str());
        std::snprintf(anchor_.ulv_pipe, COMM_NAME_SIZE, "%s", (dir_ / "ulv").c_str());
    }
    void TearDown() override {
        unlink(anchor_.coll_pipe);
        unlink(anchor_.ulv_pipe);
    }
    CfgTempDir dir_;
    comm_anchor anchor_{};
};

TEST_F(PipeMake, WhichNamesThePipe) {
    EXPECT_EQ(comm_make_pipe(&anchor_, 7), 0);
    EXPECT_EQ(Access(anchor_.ulv_pipe, 0), 0);
    EXPECT_EQ(Access(anchor_.coll_pipe, 0), -1);
    EXPECT_EQ(comm_make_pipe(&anchor_, 0), 0);
    EXPECT_EQ(Access(anchor_.coll_pipe, 0), 0);
}

TEST_F(PipeMake, ANameThatFillsItsFieldIsRefused) {
    std::memset(anchor_.coll_pipe, 'x', COMM_NAME_SIZE);
    EXPECT_EQ(comm_make_pipe(&anchor_, 0), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    anchor_.coll_pipe[0] = '\0';
    EXPECT_EQ(comm_make_pipe(nullptr, 0), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
