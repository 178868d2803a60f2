// The log file: its name, rotation of backups, wrap, failure to open, and the file that
// replaces standard output. The backup count, line limit and file name are fixed on first
// use in a process, so each case runs in a freshly started child.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/clock_fixture.h"
#include "testing/temp_dir.h"

namespace {

const char kMissing[] = "<missing>";

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    if (!in) return kMissing;
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string make_dir() { return cfg_make_scratch_dir(test_temp_template("zovlog")); }

// Fails the child with a readable reason on standard error.
#define CHILD_CHECK(cond, what)                                                    \
    do {                                                                           \
        if (!(cond)) {                                                             \
            std::fprintf(stderr, "check failed: %s\n", std::string(what).c_str()); \
            std::_Exit(1);                                                         \
        }                                                                          \
    } while (0)

class LogFile : public ::testing::Test {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        dir_ = make_dir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override {
        std::string cmd = "rm -rf '" + dir_ + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }
    // Points the log name at the test directory: <dir>/col.out.
    void use_dir() {
        env_vars.coll_out = const_cast<char*>(dir_.c_str());
        env_vars.hostname = nullptr;
        env_vars.db_type = nullptr;
        env_vars.serverid = nullptr;
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::string dir_;
};

TEST(LogName, BuiltFromTheConfiguration) {
    ENV_VARS saved = env_vars;
    struct Case {
        const char* coll_out;
        const char* hostname;
        const char* db_type;
        const char* serverid;
        const char* base;
        const char* expected;
    } cases[] = {
        {"/var/log", "alpha", "zem", "SRV1", "col.out", "/var/log/alpha_em_SRV1_col.out"},
        {nullptr, nullptr, nullptr, nullptr, "col.out", "col.out"},
        {"", "", "", "", "col.log", "col.log"},
        {nullptr, "alpha", nullptr, nullptr, "col.out", "alpha_col.out"},
        {"/d", nullptr, "zem11", nullptr, "x", "/d/em11_x"},
    };
    for (const Case& c : cases) {
        env_vars.coll_out = const_cast<char*>(c.coll_out);
        env_vars.hostname = const_cast<char*>(c.hostname);
        env_vars.db_type = const_cast<char*>(c.db_type);
        env_vars.serverid = const_cast<char*>(c.serverid);
        char buf[1024];
        EXPECT_STREQ(u_createOutputFileName(buf, c.base), c.expected);
        EXPECT_STREQ(u_createOutputFileName(nullptr, c.base), c.expected);
    }
    env_vars = saved;
}

struct RotationCase {
    const char* numoutbak;  // null: unset
    bool level4;
    int existing;  // backups present before the opening
    int kept;      // backups the opening rotates
};

class LogRotation : public LogFile, public ::testing::WithParamInterface<RotationCase> {};

TEST_P(LogRotation, KeepsNumberedBackups) {
    const RotationCase& c = GetParam();
    EXPECT_EXIT(
        {
            if (c.numoutbak)
                setenv("COLL_NUMOUTBAK", c.numoutbak, 1);
            else
                unsetenv("COLL_NUMOUTBAK");
            my_trace_all[4] = c.level4 ? 1 : 0;
            use_dir();
            write_file(path("col.out"), "current");
            for (int k = 1; k <= c.existing; ++k)
                write_file(path("col.ou" + std::to_string(k)), "bak" + std::to_string(k));
            FILE* f = u_openPRINTfile(nullptr);
            CHILD_CHECK(f && f == stder, "log opened");
            CHILD_CHECK(std::string(stder_filename) == path("col.out"), stder_filename);
            CHILD_CHECK(read_file(path("col.out")).empty(), "new log is empty");
            for (int k = 1; k <= 14; ++k) {
                std::string expected;
                if (k <= c.kept)
                    expected = k == 1                ? "current"
                               : k - 1 <= c.existing ? "bak" + std::to_string(k - 1)
                                                     : kMissing;
                else
                    expected = k <= c.existing ? "bak" + std::to_string(k) : kMissing;
                std::string got = read_file(path("col.ou" + std::to_string(k)));
                CHILD_CHECK(got == expected, "backup " + std::to_string(k) + ": " + got);
            }
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LogRotation,
    ::testing::Values(RotationCase{nullptr, false, 3, 1}, RotationCase{"", false, 3, 1},
                      RotationCase{nullptr, true, 6, 5}, RotationCase{"0", false, 2, 0},
                      RotationCase{"-5", false, 2, 0}, RotationCase{"-12", false, 3, 12},
                      RotationCase{"15", false, 11, 9}, RotationCase{"3", false, 0, 3}),
    case_names(&RotationCase::numoutbak));

struct WrapCase {
    const char* wraplines;
    const char* calls;   // 'm' a u_msg line, 'p' a PRINT line
    const char* backup;  // backup 1 afterwards; "<wrap>" stands for the wrap line
    const char* log;     // the log afterwards
};

// Replaces each wrap line, after checking its form, by "<wrap>".
std::string mark_wrap_lines(const std::string& text) {
    const std::string head = "CGN5000I MSG(";
    const std::string tail = ")        File wrapped -- Thu Dec 10 14:30:05 2026\n";
    std::string out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        line += "\n";
        if (line.rfind(head, 0) == 0 && line.size() > head.size() + tail.size() &&
            line.substr(line.size() - tail.size()) == tail)
            out += "<wrap>\n";
        else
            out += line;
    }
    return out;
}

class LogWrap : public LogFile, public ::testing::WithParamInterface<WrapCase> {};

TEST_P(LogWrap, StartsANewFileWithTheWrapLine) {
    const WrapCase& c = GetParam();
    EXPECT_EXIT(
        {
            setenv("COLL_WRAPLINES", c.wraplines, 1);
            setenv("COLL_NUMOUTBAK", "1", 1);
            u_platform_set(u_platform_ops{zovtest::fixed_clock, nullptr, nullptr});
            use_dir();
            CHILD_CHECK(u_openPRINTfile(nullptr) != nullptr, "log opened");
            for (int i = 0; c.calls[i]; ++i) {
                if (c.calls[i] == 'm')
                    u_msg(nullptr, nullptr, 0, "iP", "abc0001", "m%d", i);
                else
                    PRINT('-', "abc0002", "p%d\n", i);
            }
            std::fflush(stder);
            std::string backup = read_file(path("col.ou1"));
            if (backup != kMissing) backup = mark_wrap_lines(backup);
            std::string log = mark_wrap_lines(read_file(path("col.out")));
            CHILD_CHECK(backup == c.backup, "backup: " + backup);
            CHILD_CHECK(log == c.log, "log: " + log);
            CHILD_CHECK(read_file(path("col.ou2")) == kMissing, "a single backup");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

#define M(i) "ABC0001I m" #i "\n"
#define P(i) "p" #i "\n"
#define W "<wrap>\n"
INSTANTIATE_TEST_SUITE_P(
    Table, LogWrap,
    ::testing::Values(
        // The third line of a writer wraps the file; the count restarts at 0 with that
        // line, so the next file holds three of them before it wraps.
        WrapCase{"2", "mmm", M(0) M(1), W M(2)}, WrapCase{"2", "mmmmmm", W M(2) M(3) M(4), W M(5)},
        // The writers count apart: PRINT's third line wraps although u_msg's count is
        // also at the limit, and the file is rotated only once.
        WrapCase{"2", "mmppp", M(0) M(1) P(2) P(3), W P(4)},
        WrapCase{"0", "mmmmm", kMissing, M(0) M(1) M(2) M(3) M(4)},
        WrapCase{"-3", "mmmm", kMissing, M(0) M(1) M(2) M(3)}),
    case_names(&WrapCase::wraplines));
#undef M
#undef P
#undef W

TEST_F(LogFile, NameIsFixedOnceBuilt) {
    EXPECT_EXIT(
        {
            setenv("COLL_NUMOUTBAK", "1", 1);
            use_dir();
            CHILD_CHECK(u_openPRINTfile("a.out") != nullptr, "first opening");
            std::fprintf(stder, "first\n");
            // The open log is closed (and so flushed) before the reopening rotates it.
            CHILD_CHECK(u_openPRINTfile("b.out") != nullptr, "second opening");
            CHILD_CHECK(std::string(stder_filename) == path("a.out"), stder_filename);
            CHILD_CHECK(read_file(path("a.ou1")) == "first\n", "backup of the first");
            CHILD_CHECK(read_file(path("b.out")) == kMissing, "no second name");
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LogFile, UnopenableLogRetriesOnceWithColx) {
    EXPECT_EXIT(
        {
            setenv("COLL_NUMOUTBAK", "0", 1);  // the directory stays where it is
            use_dir();
            mkdir(path("col.out").c_str(), 0700);  // a directory cannot be opened for writing
            testing::internal::CaptureStdout();
            FILE* f = u_openPRINTfile(nullptr);
            std::string out = testing::internal::GetCapturedStdout();
            CHILD_CHECK(f != nullptr && f == stder, "retry opened");
            CHILD_CHECK(std::string(stder_filename) == path("colx.out"), stder_filename);
            CHILD_CHECK(
                out == "CAT1995E - Can't open message ouput file: " + path("col.out") + "\n", out);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LogFile, NoLogAfterTwoFailures) {
    EXPECT_EXIT(
        {
            std::string missing = path("nope");
            env_vars.coll_out = const_cast<char*>(missing.c_str());
            testing::internal::CaptureStdout();
            FILE* f = u_openPRINTfile(nullptr);
            std::string out = testing::internal::GetCapturedStdout();
            CHILD_CHECK(f == nullptr && stder == nullptr, "no log");
            CHILD_CHECK(stder_filename[0] == '\0', "name cleared");
            CHILD_CHECK(
                out == "CAT1995E - Can't open message ouput file: " + missing + "/col.out\n", out);
            // The writers then use standard output.
            testing::internal::CaptureStdout();
            PRINT('-', "x", "still seen\n");
            out = testing::internal::GetCapturedStdout();
            CHILD_CHECK(out == "still seen\n", out);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LogFile, StandardOutputFile) {
    EXPECT_EXIT(
        {
            use_dir();
            CHILD_CHECK(u_openSTDOUTfile(0) == 0, "reopened");
            CHILD_CHECK(my_stdout == stdout, "my_stdout");
            std::printf("to the file\n");
            std::fflush(stdout);
            CHILD_CHECK(read_file(path("col.log")) == "to the file\n", read_file(path("col.log")));
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::string missing = path("nope");
    ENV_VARS saved = env_vars;
    env_vars.coll_out = const_cast<char*>(missing.c_str());
    EXPECT_EQ(u_openSTDOUTfile(0), 1);
    env_vars = saved;
}

// The log takes whole lines only: a line cut short by the file size limit (as by a full
// device) is taken back, the lines that could not be written are counted when writing
// works again, and every line is in the file as soon as it is written, with no flush.
TEST_F(LogFile, LinesAreWrittenWholeOrNotAtAll) {
    EXPECT_EXIT(
        {
            setenv("COLL_NUMOUTBAK", "0", 1);
            std::signal(SIGXFSZ, SIG_IGN);
            use_dir();
            CHILD_CHECK(u_openPRINTfile(nullptr) != nullptr, "log opened");
            rlimit lim{};
            getrlimit(RLIMIT_FSIZE, &lim);
            rlimit small = lim;
            small.rlim_cur = 250;
            CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &small) == 0, "limit set");
            const std::string text(40, 'x');
            for (int i = 0; i < 8; ++i)
                u_msg(nullptr, nullptr, 0, "iP", "abc0001", "%s %d", text.c_str(), i);
            CHILD_CHECK(setrlimit(RLIMIT_FSIZE, &lim) == 0, "limit raised");
            PRINT('w', "abc0002", "after %d\n", 8);
            const std::string log = read_file(path("col.out"));
            std::istringstream in(log);
            std::string line;
            int whole = 0;
            while (std::getline(in, line)) {
                if (line.rfind("ABC0001I " + text + " ", 0) == 0) {
                    CHILD_CHECK(line == "ABC0001I " + text + " " + std::to_string(whole),
                                "in order: " + log);
                    ++whole;
                }
            }
            CHILD_CHECK(whole >= 1 && whole < 8, "some lines fit, not all: " + log);
            CHILD_CHECK(log.back() == '\n', "ends with a whole line: " + log);
            const std::string lost =
                " " + std::to_string(8 - whole) + " lines could not be written to the log\n";
            CHILD_CHECK(
                log.find("CGN5020W ") != std::string::npos && log.find(lost) != std::string::npos,
                "lost lines counted: " + log);
            CHILD_CHECK(log.size() > 9 && log.find("after 8\n") == log.size() - 8,
                        "the next line follows whole: " + log);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(LogFile, ReopenedWhenItsDirectoryEntryIsGone) {
    EXPECT_EXIT(
        {
            setenv("COLL_NUMOUTBAK", "0", 1);
            use_dir();
            CHILD_CHECK(u_openPRINTfile(nullptr) != nullptr, "log opened");
            PRINT('i', "abc0001", "before\n");
            // On the file at once: a crash now would lose nothing.
            CHILD_CHECK(read_file(path("col.out")).find("before\n") != std::string::npos,
                        "information line written at once");
            std::string cmd = "rm -rf '" + dir_ + "' && mkdir '" + dir_ + "'";
            CHILD_CHECK(std::system(cmd.c_str()) == 0, "directory made again");
            sleep(1);  // the name is looked at once a second
            usleep(200000);
            PRINT('w', "abc0002", "after\n");
            const std::string log = read_file(path("col.out"));
            CHILD_CHECK(log.find("CGN5010I") != std::string::npos &&
                            log.find("was gone: opened anew") != std::string::npos,
                        "reopening noted: " + log);
            CHILD_CHECK(log.find("ABC0002W") != std::string::npos &&
                            log.find("after\n") != std::string::npos,
                        "the next line in the new file: " + log);
            std::_Exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
