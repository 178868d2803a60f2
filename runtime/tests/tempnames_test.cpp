#include "runtime/tempnames.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/exec.h"
#include "runtime/input_files.h"
#include "runtime/platform.h"
#include "runtime/shell.h"
#include "runtime/sleep.h"
#include "testing/case_names.h"
#include "testing/temp_dir.h"

namespace {

// 10:20:30 UTC on 2024-02-29 (the tests run with TZ=UTC).
void fixed_clock(struct timespec* out) {
    out->tv_sec = 1709202030;
    out->tv_nsec = 0;
}

std::vector<long> g_slept;
void record_sleep(long ms) { g_slept.push_back(ms); }

// Points env_vars' name fields at test texts and restores them afterwards.
class NameFields : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = env_vars;
        env_vars.hostname = const_cast<char*>("alpha");
        env_vars.db_type = const_cast<char*>("zem");
        env_vars.serverid = const_cast<char*>("SRV1");
        chmod(dir_.path().c_str(), 0700);
        env_vars.localtmpdir = const_cast<char*>(dir_.path().c_str());
        u_platform_set(u_platform_ops{fixed_clock, nullptr, nullptr});
    }
    void TearDown() override {
        env_vars = saved_;
        u_platform_reset();
    }
    ENV_VARS saved_{};
    CfgTempDir dir_;
};

TEST_F(NameFields, LayoutWithTimeCounterAndProcess) {
    std::string name = u_createTempFileName(nullptr, "rexec", 'u');
    std::regex layout(dir_.path() + "/alpha_em_SRV1_102030([0-9]+)_" + std::to_string(getpid()) +
                      "_rexec");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(name, m, layout)) << name;
    int counter = std::stoi(m[1]);
    EXPECT_GE(counter, 1);
    EXPECT_LE(counter, 101);
}

TEST_F(NameFields, ModeNLeavesOutTheUniquePart) {
    char buf[1024];
    EXPECT_EQ(u_createTempFileName(buf, "ipc", 'n'), buf);
    EXPECT_EQ(std::string(buf), dir_.path() + "/alpha_em_SRV1_ipc");
    EXPECT_EQ(std::string(u_createTempFileName(buf, "ipc", 'N')),
              dir_.path() + "/alpha_em_SRV1_ipc");
}

TEST_F(NameFields, EmptyFieldsAreLeftOut) {
    env_vars.localtmpdir = nullptr;
    env_vars.hostname = const_cast<char*>("");
    env_vars.db_type = nullptr;
    env_vars.serverid = nullptr;
    EXPECT_STREQ(u_createTempFileName(nullptr, "x", 'n'), "x");
}

TEST_F(NameFields, CounterRunsTo101ThenWraps) {
    std::regex counter_of(".*_102030([0-9]+)_[0-9]+_b");
    auto counter = [&]() {
        std::string name = u_createTempFileName(nullptr, "b", 0);
        std::smatch m;
        EXPECT_TRUE(std::regex_match(name, m, counter_of)) << name;
        return std::stoi(m[1]);
    };
    // Run up to the top of the range, whatever earlier tests left behind.
    int c = counter();
    while (c != 101) {
        int next = counter();
        EXPECT_EQ(next, c + 1);
        c = next;
    }
    EXPECT_EQ(counter(), 1);
    EXPECT_EQ(counter(), 2);
}

TEST_F(NameFields, ADirectoryThatIsNotOursIsNotUsed) {
    // Writable by others.
    chmod(dir_.path().c_str(), 0777);
    EXPECT_STREQ(u_createTempFileName(nullptr, "x", 'n'), "./alpha_em_SRV1_x");
    chmod(dir_.path().c_str(), 0700);
    EXPECT_EQ(std::string(u_createTempFileName(nullptr, "x", 'n')),
              dir_.path() + "/alpha_em_SRV1_x");

    // A symbolic link to our own directory.
    std::string link = dir_ / "link";
    std::string real = dir_ / "real";
    mkdir(real.c_str(), 0700);
    ASSERT_EQ(symlink(real.c_str(), link.c_str()), 0);
    env_vars.localtmpdir = link.data();
    EXPECT_STREQ(u_createTempFileName(nullptr, "x", 'n'), "./alpha_em_SRV1_x");

    // Owned by another user.
    if (geteuid() == 0) {
        ASSERT_EQ(chown(real.c_str(), 65534, 65534), 0);
        env_vars.localtmpdir = real.data();
        EXPECT_STREQ(u_createTempFileName(nullptr, "x", 'n'), "./alpha_em_SRV1_x");
    }
}

TEST(TempDir, IsCreatedOwnerOnlyOnFirstUse) {
    CfgFreshProcessDeathTests fresh;
    CfgTempDir dir;
    std::string made = dir / "tmp";
    EXPECT_EXIT(
        {
            umask(0);
            env_vars.localtmpdir = made.data();
            std::string name = u_createTempFileName(nullptr, "x", 'n');
            struct stat st;
            bool ok =
                name == made + "/x" && stat(made.c_str(), &st) == 0 && (st.st_mode & 07777) == 0700;
            _exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(TempFile, OwnerOnlyAndNeverReused) {
    CfgTempDir dir;
    std::string p = dir / "t";
    mode_t old = umask(0);
    int fd = u_createTempFile(p.c_str());
    umask(old);
    ASSERT_GE(fd, 0);
    EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    close(fd);
    struct stat st;
    ASSERT_EQ(stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(u_createTempFile(p.c_str()), -1);  // exists already

    std::string target = dir / "target";
    std::string link = dir / "link";
    ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
    EXPECT_EQ(u_createTempFile(link.c_str()), -1);  // a planted link is not followed
    EXPECT_NE(access(target.c_str(), F_OK), 0);
}

// ---- definition-file search --------------------------------------------------------
// The product code is fixed per process, so each search runs in a process of its own.

struct SearchFixture {
    CfgTempDir home;
    CfgTempDir ctl;
    void point_env(const char* type) {
        env_vars.db_type = const_cast<char*>(type);
        env_vars.serverid = const_cast<char*>("SRV1");
        env_vars.coll_home = const_cast<char*>(home.path().c_str());
        env_vars.ctl_home = const_cast<char*>(ctl.path().c_str());
    }
};

// Opens the collector's cursor file and exits 0 when its text is `expected`.
[[noreturn]] void open_and_check(const char* expected) {
    FILE* f = u_openInputFile("coll");
    std::string text;
    if (f) {
        char buf[64] = "";
        if (fgets(buf, sizeof buf, f)) text = buf;
        fclose(f);
    }
    _exit(text == expected ? 0 : 1);
}

TEST(InputFile, SearchOrder) {
    CfgFreshProcessDeathTests fresh;
    SearchFixture fx;
    fx.point_env("zem");
    // Each step removes the file found before, so the next place is seen.
    const char* files[] = {"SRV1/zemcoll.ctl", "SRV1_zemcoll.ctl", "zemcoll.ctl"};
    for (const char* f : files) fx.home.write(f, f);
    fx.ctl.write("zemcoll.ctl", "ctl");
    for (const char* f : files) {
        EXPECT_EXIT(open_and_check(f), ::testing::ExitedWithCode(0), "") << f;
        unlink((fx.home / f).c_str());
    }
    EXPECT_EXIT(open_and_check("ctl"), ::testing::ExitedWithCode(0), "");
    unlink((fx.ctl / "zemcoll.ctl").c_str());
    EXPECT_EXIT(open_and_check(""), ::testing::ExitedWithCode(0), "");
}

TEST(InputFile, ZypFallsBackToQel) {
    CfgFreshProcessDeathTests fresh;
    SearchFixture fx;
    fx.point_env("zyp9");
    fx.ctl.write("qelcoll.ctl", "qel");
    EXPECT_EXIT(open_and_check("qel"), ::testing::ExitedWithCode(0), "");
}

// ---- sleeping and shell commands ---------------------------------------------------

TEST(Sleep, WholeSecondsOnly) {
    g_slept.clear();
    u_platform_set(u_platform_ops{nullptr, record_sleep, nullptr});
    u_Msleep(999);
    u_Msleep(2500);
    u_sleep(3);
    u_platform_reset();
    EXPECT_EQ(g_slept, (std::vector<long>{2000, 3000}));
}

struct ShellCase {
    const char* command;
    const char* expected;
};

class ShellTest : public ::testing::TestWithParam<ShellCase> {};

TEST_P(ShellTest, OutputAsOneLine) {
    char* out = u_shell(GetParam().command);
    ASSERT_NE(out, nullptr);
    EXPECT_STREQ(out, GetParam().expected);
    U_FREE(out);
}

INSTANTIATE_TEST_SUITE_P(Table, ShellTest,
                         ::testing::Values(ShellCase{"true", ""}, ShellCase{"echo alpha", "alpha"},
                                           ShellCase{"printf 'a\\nb\\n'", "a b"},
                                           ShellCase{"printf 'a  \\t\\n\\n   \\nb'", "a b"}),
                         case_names(&ShellCase::command));

TEST(Shell, StopsAfter500Lines) {
    char* out = u_shell("seq 1 600");
    std::string expected;
    for (int i = 1; i <= 500; ++i) expected += (i > 1 ? " " : "") + std::to_string(i);
    EXPECT_EQ(std::string(out), expected);
    U_FREE(out);
}

TEST(Popen, ChainOfLines) {
    r_exec_chain* chain = u_popen("printf 'one\\n\\nthree'");
    std::vector<std::string> lines;
    for (r_exec_chain* e = chain; e; e = e->next) {
        EXPECT_EQ(e->size, static_cast<int32_t>(std::strlen(e->line)));
        lines.push_back(e->line);
    }
    u_free_r_chain(chain);
    EXPECT_EQ(lines, (std::vector<std::string>{"one", "", "three"}));
    EXPECT_EQ(u_popen("true"), nullptr);
}

}  // namespace
