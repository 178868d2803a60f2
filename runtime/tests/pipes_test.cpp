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

#include "testing/temp_dir.h"

namespace {

class PipesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        coll_ = dir_ / "coll";
        ulv_ = dir_ / "ulv";
        old_pipe_ = signal(SIGPIPE, SIG_IGN);
    }
    void TearDown() override { signal(SIGPIPE, old_pipe_); }
    static mode_t mode_of(const char* path) {
        struct stat st;
        return lstat(path, &st) == 0 ? st.st_mode : 0;
    }
    CfgTempDir dir_;
    std::string coll_;
    std::string ulv_;
    void (*old_pipe_)(int) = nullptr;
};

TEST_F(PipesTest, CreatedForOwnerAndGroupWhateverTheUmask) {
    for (mode_t mask : {0000, 0022, 0077}) {
        mode_t old = umask(mask);
        EXPECT_EQ(MakeNamedPipe(coll_.c_str()), 0);
        EXPECT_EQ(MakeNamedPipe(ulv_.c_str()), 0);
        umask(old);
        for (const char* p : {coll_.c_str(), ulv_.c_str()}) {
            EXPECT_TRUE(S_ISFIFO(mode_of(p))) << p;
            EXPECT_EQ(mode_of(p) & 07777, 0660u) << "umask " << mask;
            unlink(p);
        }
    }
}

TEST_F(PipesTest, AnExistingNameIsLeftAlone) {
    dir_.write("coll", "keep", 0600);
    EXPECT_EQ(MakeNamedPipe(coll_.c_str()), -1);
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(cfg_read_file(coll_.c_str()), "keep");
    EXPECT_EQ(mode_of(coll_.c_str()) & 07777, 0600u);
}

TEST_F(PipesTest, RoundTrip) {
    ASSERT_EQ(MakeNamedPipe(coll_.c_str()), 0);
    int r = ClientOpenPipe(coll_.c_str(), 1 | 4);
    ASSERT_GE(r, 0);
    EXPECT_NE(fcntl(r, F_GETFD) & FD_CLOEXEC, 0);
    int w = ClientOpenPipe(coll_.c_str(), 2 | 4);
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
    ASSERT_EQ(MakeNamedPipe(coll_.c_str()), 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ClientOpenPipe(coll_.c_str(), 2 | 4), -1);
    EXPECT_EQ(errno, ENXIO);
    // A reader that goes away: the next write fails instead of ending the process.
    int r = ClientOpenPipe(coll_.c_str(), 4);
    int w = ClientOpenPipe(coll_.c_str(), 2 | 4);
    ASSERT_GE(w, 0);
    ClosePipe(r);
    EXPECT_EQ(WritePipe(w, "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ClosePipe(w);
    // Nothing blocked (an open that waited for a reader would never return).
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

TEST_F(PipesTest, BlockingWriteOpenWaitsForAReader) {
    ASSERT_EQ(MakeNamedPipe(coll_.c_str()), 0);
    // Timed from before the fork: the reader's pause may begin before the parent runs on.
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        usleep(200 * 1000);
        int r = open(coll_.c_str(), O_RDONLY);
        char c = 0;
        _exit(r >= 0 && read(r, &c, 1) == 1 && c == 'z' ? 0 : 1);
    }
    int w = ClientOpenPipe(coll_.c_str(), 2);
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

    ASSERT_EQ(MakeNamedPipe(coll_.c_str()), 0);
    std::string link = dir_ / "link";
    ASSERT_EQ(symlink(coll_.c_str(), link.c_str()), 0);
    EXPECT_EQ(ClientOpenPipe(link.c_str(), 4), -1);
    EXPECT_EQ(ClientOpenPipe((dir_ / "missing").c_str(), 4), -1);
    EXPECT_EQ(errno, ENOENT);

    if (geteuid() == 0) {
        ASSERT_EQ(chown(coll_.c_str(), 65534, 65534), 0);
        EXPECT_EQ(ClientOpenPipe(coll_.c_str(), 4), -1);
        EXPECT_EQ(errno, EPERM);
    }
}

TEST_F(PipesTest, AccessAndANullPath) {
    ASSERT_EQ(MakeNamedPipe(ulv_.c_str()), 0);
    EXPECT_EQ(Access(ulv_.c_str(), 0), 0);
    unlink(ulv_.c_str());
    EXPECT_EQ(Access(ulv_.c_str(), 0), -1);
    EXPECT_EQ(MakeNamedPipe(nullptr), -1);
    EXPECT_EQ(errno, EINVAL);
}

}  // namespace
