// The historian, the log distributors and the row dump.
#include "collector/distributors/history.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "collector/distributors/log_distributors.h"
#include "defs/distrib.h"
#include "runtime/env.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

constexpr const char* pass1 = "20261211093000";
constexpr const char* pass2 = "20261211093500";

// A cursor in its window for the whole day, its length set as the row store sets it.
void ready(cursortest::cursor& rc, int16_t history = 1) {
    curs* c = rc.get();
    int32_t length = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        length = col->offset + col->len;
    c->length = length;
    c->window_start = 0;
    c->window_end = 0x7fffffff;
    c->history = history;
    c->needs_history = 1;
}

class History : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = env_vars.coll_home;
        env_vars.coll_home = home_.data();
    }
    void TearDown() override { env_vars.coll_home = saved_; }
    std::string file(const char* name) {
        return cfg_read_file(dir_ / (std::string(name) + ".HST"));
    }
    CfgTempDir dir_;
    std::string home_ = dir_.path();
    char* saved_ = nullptr;
};

TEST_F(History, WritesTheCurrentSampleOnceWithThePassTime) {
    cursortest::cursor a("HA", {{"N", 3, 1}, {"V", 2, 2}});
    a.add({"x", "1"});
    a.add({"yy", "22"});
    ready(a);
    cursortest::cursor s("HS", {{"N", 2, 1}});
    s.add({"o"});
    s.get()->first_row->sampleno = 1;
    s.add({"n"});
    s.get()->last_row->sampleno = 2;
    ready(s);
    s.get()->samples = 2;
    s.get()->sampleno = 2;
    cursortest::cursor quiet("HQ", {{"N", 2, 1}});
    quiet.add({"q"});
    ready(quiet, 0);

    LogCapture log;
    ASSERT_EQ(do_history(pass1), 0) << log.text();
    // NUL bytes between the columns go out as blanks.
    EXPECT_EQ(file("HA"), std::string(pass1) + "x   1 \n" + pass1 + "yy  22\n");
    EXPECT_EQ(file("HS"), std::string(pass1) + "n \n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "HQ.HST"));
    EXPECT_EQ(a.get()->needs_history, 0);

    // Nothing new: nothing written; a new row rewrites every stored row.
    ASSERT_EQ(do_history(pass2), 0);
    EXPECT_EQ(file("HA").size(), 14u * 2 + 7 * 2);
    a.add({"z", "3"});
    a.get()->needs_history = 1;
    ASSERT_EQ(do_history(pass2), 0);
    EXPECT_EQ(file("HA").substr(42),
              std::string(pass2) + "x   1 \n" + pass2 + "yy  22\n" + pass2 + "z   3 \n");
}

TEST_F(History, AFailedFileIsFailedAndItsRecordsGoOutWhenItWorks) {
    cursortest::cursor a("HA", {{"N", 3, 1}});
    a.add({"a"});
    ready(a);
    cursortest::cursor b("HB", {{"N", 3, 1}});
    b.add({"b"});
    ready(b);
    std::filesystem::create_directories(dir_ / "sub");
    home_ = dir_ / "sub/none";
    env_vars.coll_home = home_.data();
    {
        LogCapture log;
        EXPECT_EQ(do_history(pass1), 1);
        EXPECT_TRUE(log.has("CHI1630E")) << log.text();
        EXPECT_TRUE(log.has("HA.HST: No such file or directory\n")) << log.text();
    }
    // The records of the failed pass are kept with their time and go out first.
    std::filesystem::create_directories(home_);
    a.add({"a2"});
    a.get()->needs_history = 1;
    ASSERT_EQ(do_history(pass2), 0);
    EXPECT_EQ(cfg_read_file(home_ + "/HA.HST"),
              std::string(pass1) + "a  \n" + pass2 + "a  \n" + pass2 + "a2 \n");
    EXPECT_EQ(cfg_read_file(home_ + "/HB.HST"), std::string(pass1) + "b  \n");

    // A full device: FAIL, and the other cursor is still written.
    home_ = dir_.path();
    env_vars.coll_home = home_.data();
    ASSERT_EQ(symlink("/dev/full", (dir_ / "HA.HST").c_str()), 0);
    a.get()->needs_history = 1;
    b.get()->needs_history = 1;
    {
        LogCapture log;
        EXPECT_EQ(do_history(pass1), 1);
        EXPECT_TRUE(log.has("CHI1632E")) << log.text();
        EXPECT_TRUE(log.has("HA.HST: No space left on device\n")) << log.text();
        EXPECT_EQ(b.get()->needs_history, 0);
        EXPECT_EQ(file("HB"), std::string(pass1) + "b  \n");
    }
    // Nothing new, yet the kept records are tried again, and go out once the file works.
    EXPECT_EQ(do_history(pass2), 1);
    std::filesystem::remove(dir_ / "HA.HST");
    ASSERT_EQ(do_history(pass2), 0);
    EXPECT_EQ(file("HA"), std::string(pass1) + "a  \n" + pass1 + "a2 \n");
    ASSERT_EQ(do_history(pass2), 0);  // and only once
    EXPECT_EQ(file("HA").size(), 2u * 18);
}

// At most 1000 records of a cursor wait: the oldest go, and their number is told when the
// file works again.
TEST_F(History, KeptRecordsAreBoundedAndTheDroppedCounted) {
    cursortest::cursor a("HK", {{"N", 4, 1}});
    for (int i = 0; i < 300; ++i) a.add({std::to_string(i)});
    ready(a);
    ASSERT_EQ(mkdir((dir_ / "HK.HST").c_str(), 0700), 0);  // a file that cannot be opened
    LogCapture log;
    for (int pass = 0; pass < 4; ++pass) {
        a.get()->needs_history = 1;
        EXPECT_EQ(do_history(pass1), 1);
    }
    EXPECT_TRUE(log.has("HK.HST: Is a directory\n")) << log.text();
    std::filesystem::remove(dir_ / "HK.HST");
    ASSERT_EQ(do_history(pass2), 0);
    const std::string text = file("HK");
    EXPECT_EQ(text.size(), 1000u * 19);
    // The first 200 of 1200 records went: the rest start with row 200 of the second pass.
    EXPECT_EQ(text.substr(0, 19), std::string(pass1) + "200 \n");
    EXPECT_TRUE(log.has("CHI1636W")) << log.text();
    EXPECT_TRUE(log.has("200 history records of cursor HK were lost")) << log.text();
}

// On a device that fills up (a small tmpfs in a private mount namespace), the samples that
// do not fit wait and go out in order once there is room.
TEST_F(History, AFullFilesystemLosesNoSample) {
    const std::string mnt = dir_ / "mnt";
    ASSERT_EQ(mkdir(mnt.c_str(), 0700), 0);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(fds[0]);
        auto report = [&](const std::string& what, int code) {
            ssize_t w = write(fds[1], what.data(), what.size());
            (void)w;
            _exit(code);
        };
        const uid_t uid = getuid();
        const gid_t gid = getgid();
        if (unshare(CLONE_NEWNS) != 0) {
            if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
                report(std::string("unshare: ") + std::strerror(errno), 77);
            auto put = [&](const char* file, const std::string& text) {
                int fd = open(file, O_WRONLY);
                bool ok = fd >= 0 &&
                          write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
                if (fd >= 0) close(fd);
                return ok;
            };
            put("/proc/self/setgroups", "deny");
            if (!put("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
                !put("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
                report("uid map", 77);
        }
        if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=64k") != 0)
            report(std::string("mount: ") + std::strerror(errno), 77);
        char* saved = env_vars.coll_home;
        env_vars.coll_home = const_cast<char*>(mnt.c_str());
        // Records longer than a page, so that a full device cannot take the next one.
        cursortest::cursor a("HF", {{"N", 5000, 1}});
        a.add({"first"});
        ready(a);
        LogCapture log;
        std::string expected;
        auto record = [](const char* when, const std::string& v) {
            return std::string(when) + v + std::string(5000 - v.size(), ' ') + "\n";
        };
        if (do_history(pass1) != 0) report("first pass: " + log.text(), 1);
        expected += record(pass1, "first");
        // Fill the device.
        const std::string filler = mnt + "/filler";
        {
            int fd = open(filler.c_str(), O_WRONLY | O_CREAT, 0600);
            const std::string block(512, 'f');
            while (write(fd, block.data(), block.size()) > 0) {
            }
            close(fd);
        }
        const char* passes[] = {"20261211093100", "20261211093200", "20261211093300"};
        std::vector<std::string> values = {"first"};
        for (const char* when : passes) {
            values.push_back(std::string("row ") + when);
            a.add({values.back()});
            a.get()->needs_history = 1;
            if (do_history(when) != 1) report("a full device should fail the pass", 1);
            for (const std::string& v : values) expected += record(when, v);
        }
        if (!log.has("CHI1632E") || !log.has("No space left on device"))
            report("no reason given: " + log.text(), 1);
        if (cfg_read_file(mnt + "/HF.HST") != record(pass1, "first"))
            report("a cut record stayed behind", 1);
        std::filesystem::remove(filler);
        if (do_history(pass2) != 0) report("room again: " + log.text(), 1);
        const std::string got = cfg_read_file(mnt + "/HF.HST");
        env_vars.coll_home = saved;
        if (got != expected) report("history:\n" + got + "\nexpected:\n" + expected, 1);
        report("", 0);
    }
    close(fds[1]);
    std::string said;
    char buf[4096];
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0) said.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 77) GTEST_SKIP() << "no private tmpfs can be made here: " << said;
    EXPECT_EQ(WEXITSTATUS(status), 0) << said;
}

TEST_F(History, ARecordCutByTheFileSizeLimitIsTakenBack) {
    cursortest::cursor a("HA", {{"N", 30, 1}});
    for (int i = 0; i < 3; ++i) a.add({"row" + std::to_string(i)});
    ready(a);
    const std::string before(100, 'p');
    dir_.write("HA.HST", before);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{};
        getrlimit(RLIMIT_FSIZE, &lim);
        lim.rlim_cur = 150;
        setrlimit(RLIMIT_FSIZE, &lim);
        LogCapture log;
        const bool failed = do_history(pass1) == 1;
        const bool cut_back = cfg_read_file(home_ + "/HA.HST") == before;
        // With room again, the kept records follow whole.
        rlimit more{};
        getrlimit(RLIMIT_FSIZE, &more);
        more.rlim_cur = more.rlim_max;
        setrlimit(RLIMIT_FSIZE, &more);
        const bool written = do_history(pass2) == 0;
        _exit(failed && cut_back && written ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    std::string expected = before;
    for (int i = 0; i < 3; ++i)
        expected += std::string(pass1) + "row" + std::to_string(i) + std::string(26, ' ') + "\n";
    EXPECT_EQ(file("HA"), expected);
}

TEST(SendARow, OneLinePerColumnByConversion) {
    cursortest::cursor rc("SR", {{"T", 4, 1}, {"B", 3, 1}, {"I", 4, 2}, {"F", 8, 2}, {"Z", 2, 1}});
    curs* c = rc.get();
    char insert[] = "INSERT INTO T (T, B, I, F, Z)";
    c->insert = insert;
    columns* col = c->insert_columns;
    const int16_t convert[] = {CONV_NONE, CONV_NONE, CONV_INT, CONV_FLOAT, CONV_NOSEND};
    const int16_t offset[] = {0, 4, 8, 16, 0};
    for (int i = 0; col != nullptr; col = col->next, ++i) {
        col->convert = convert[i];
        col->row_offset = offset[i];
    }
    alignas(8) char row[25] = {};
    std::memcpy(row, "ab     ", 7);
    // Numbers at offsets a cluster row need not keep aligned for the reader.
    const int32_t n = -123;
    const double f = 2.5;
    std::memcpy(row + 8, &n, 4);
    std::memcpy(row + 16, &f, 8);
    LogCapture log;
    ASSERT_EQ(send_a_row(c, row), 0);
    EXPECT_TRUE(log.has("INSERT INTO T (T, B, I, F, Z)")) << log.text();
    for (const char* line :
         {"#=1,n=T,l=2,o=0,ll=4:ab\n", "#=2,n=B,l=1,o=4,ll=3: \n", "#=3,n=I,l=4,o=8,ll=4:-123\n",
          "#=4,n=F,l=8,o=16,ll=8:2.500000\n", "#=5,n=Z,l=3,o=0,ll=0:ZIP\n"})
        EXPECT_TRUE(log.has(line)) << line << log.text();
}

TEST(LogDistributors, NulvLogsTheRowsOfItsClassesAndDistributeItsName) {
    cursortest::cursor in("NI", {{"V", 3, 1}});
    in.add({"one"});
    in.add({"two"});
    ready(in, 0);
    in.get()->klass = 3;
    cursortest::cursor out("NO", {{"V", 3, 1}});
    out.add({"out"});
    ready(out, 0);
    out.get()->klass = 4;
    distrib d{};
    std::strcpy(d.distrib_name, "printer");
    d.classes[3] = 1;
    LogCapture log;
    EXPECT_EQ(do_nulv(&d, pass1), 0);
    EXPECT_TRUE(log.has("Nulv for NI")) << log.text();
    EXPECT_TRUE(log.has(":one\n"));
    EXPECT_TRUE(log.has(":two\n"));
    EXPECT_FALSE(log.has("Nulv for NO"));
    EXPECT_EQ(distribute(&d, pass1), 0);
    EXPECT_TRUE(log.has("Dist for printer at 20261211093000\n"));
}

}  // namespace
