#include "runtime/pipes.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <string>

#include "comm/comm_anchor.h"
#include "testing/temp_dir.h"

namespace {

class PipesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        anchor_ = comm_anchor{};
        set(anchor_.coll_pipe, dir_ / "coll");
        set(anchor_.ulv_pipe, dir_ / "ulv");
        old_pipe_ = signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override { signal(SIGPIPE, old_pipe_); }
    static void set(char* field, const std::string& name) {
        std::snprintf(field, COMM_NAME_SIZE, "%s", name.c_str());
    }
    static mode_t mode_of(const char* path) {
        struct stat st;
        return lstat(path, &st) == 0 ? st.st_mode : 0;
    }
    CfgTempDir dir_;
    comm_anchor anchor_{};
    void (*old_pipe_)(int) = nullptr;
};

TEST_F(PipesTest, CreatedForOwnerAndGroupWhateverTheUmask) {
    for (mode_t mask : {0000, 0022, 0077}) {
        mode_t old = umask(mask);
        EXPECT_EQ(MakeNamedPipe(&anchor_, 0), 0);
        EXPECT_EQ(MakeNamedPipe(&anchor_, 1), 0);
        umask(old);
        for (const char* p : {anchor_.coll_pipe, anchor_.ulv_pipe}) {
            EXPECT_TRUE(S_ISFIFO(mode_of(p))) << p;
            EXPECT_EQ(mode_of(p) & 07777, 0660u) << "umask " << mask;
            unlink(p);
        }
    }
}

TEST_F(PipesTest, WhichNamesThePipe) {
    EXPECT_EQ(MakeNamedPipe(&anchor_, 7), 0);
    EXPECT_EQ(Access(anchor_.ulv_pipe, 0), 0);
    EXPECT_EQ(Access(anchor_.coll_pipe, 0), -1);
}

TEST_F(PipesTest, AnExistingNameIsLeftAlone) {
    dir_.write("coll", "keep", 0600);
    EXPECT_EQ(MakeNamedPipe(&anchor_, 0), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(cfg_read_file(anchor_.coll_pipe), "keep");
    EXPECT_EQ(mode_of(anchor_.coll_pipe) & 07777, 0600u);
}

TEST_F(PipesTest, ANameThatFillsItsFieldIsRefused) {
    std::memset(anchor_.coll_pipe, 'x', COMM_NAME_SIZE);
    EXPECT_EQ(MakeNamedPipe(&anchor_, 0), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_EQ(MakeNamedPipe(nullptr, 0), -1);
}

TEST_F(PipesTest, RoundTrip) {
    ASSERT_EQ(MakeNamedPipe(&anchor_, 0), 0);
    int r = ClientOpenPipe(anchor_.coll_pipe, 1 | 4);
    ASSERT_GE(r, 0);
    EXPECT_NE(fcntl(r, F_GETFD) & FD_CLOEXEC, 0);
    int w = ClientOpenPipe(anchor_.coll_pipe, 2 | 4);
    ASSERT_GE(w, 0);
    EXPECT_EQ(fcntl(w, F_GETFL) & O_ACCMODE, O_WRONLY);
    EXPECT_EQ(WritePipe(w, "hello", 5), 5);
    char buf[16] = "";
    EXPECT_EQ(ReadPipe(r, buf, sizeof buf), 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_EQ(ReadPipe(r, buf, sizeof buf), -1);  // non-blocking, nothing there
    EXPECT_EQ(errno, EAGAIN);
    EXPECT_EQ(ClosePipe(w), 0);
    EXPECT_EQ(ReadPipe(r, buf, sizeof buf), 0);  // no writer left: end of file
    EXPECT_EQ(ClosePipe(r), 0);
}

TEST_F(PipesTest, NoReaderFailsAtOnce) {
    ASSERT_EQ(MakeNamedPipe(&anchor_, 0), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ClientOpenPipe(anchor_.coll_pipe, 2 | 4), -1);
    EXPECT_EQ(errno, ENXIO);
    // A reader that goes away: the next write fails instead of ending the process.
    int r = ClientOpenPipe(anchor_.coll_pipe, 4);
    int w = ClientOpenPipe(anchor_.coll_pipe, 2 | 4);
    ASSERT_GE(w, 0);
    ClosePipe(r);
    EXPECT_EQ(WritePipe(w, "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ClosePipe(w);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST_F(PipesTest, BlockingWriteOpenWaitsForAReader) {
    ASSERT_EQ(MakeNamedPipe(&anchor_, 0), 0);
    pid_t pid = fork();
    if (pid == 0) {
        usleep(200 * 1000);
        int r = open(anchor_.coll_pipe, O_RDONLY);
        char c = 0;
        _exit(r >= 0 && read(r, &c, 1) == 1 && c == 'z' ? 0 : 1);
    }
    auto start = std::chrono::steady_clock::now();
    int w = ClientOpenPipe(anchor_.coll_pipe, 2);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    ASSERT_GE(w, 0);
    EXPECT_EQ(WritePipe(w, "z", 1), 1);
    ClosePipe(w);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(PipesTest, OpensOnlyOurOwnFifos) {
    std::string file = dir_.write("plain", "data");
    EXPECT_EQ(ClientOpenPipe(file.c_str(), 4), -1);
    EXPECT_EQ(errno, EPERM);

    ASSERT_EQ(MakeNamedPipe(&anchor_, 0), 0);
    std::string link = dir_ / "link";
    ASSERT_EQ(symlink(anchor_.coll_pipe, link.c_str()), 0);
    EXPECT_EQ(ClientOpenPipe(link.c_str(), 4), -1);
    EXPECT_EQ(ClientOpenPipe((dir_ / "missing").c_str(), 4), -1);
    EXPECT_EQ(errno, ENOENT);

    if (geteuid() == 0) {
        ASSERT_EQ(chown(anchor_.coll_pipe, 65534, 65534), 0);
        EXPECT_EQ(ClientOpenPipe(anchor_.coll_pipe, 4), -1);
        EXPECT_EQ(errno, EPERM);
    }
}

TEST_F(PipesTest, AccessAndTheEmptyOperations) {
    ASSERT_EQ(MakeNamedPipe(&anchor_, 1), 0);
    EXPECT_EQ(Access(anchor_.ulv_pipe, 0), 0);
    unlink(anchor_.ulv_pipe);
    EXPECT_EQ(Access(anchor_.ulv_pipe, 0), -1);
    DisconnectPipe(-1);
    EXPECT_EQ(AcceptConnection(-1, 0), 0);
    EXPECT_EQ(ClientConnectToPipe(anchor_.ulv_pipe, 0), 0);
}

}  // namespace
