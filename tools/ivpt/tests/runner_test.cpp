// The runner in-process: joining parameters and what a captured run keeps.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/env.h"
#include "testing/temp_dir.h"
#include "tools/ivpt/ivpt.h"

namespace {

TEST(JoinParms, NullRuleForMiddleAndLast) {
    EXPECT_EQ(join_parms({V("a"), V(""), V("b")}), "a -null- b");
    EXPECT_EQ(join_parms({V("a"), V(nullptr), V("b")}), "a -null- b");
    EXPECT_EQ(join_parms({V("a"), V("b"), V("")}), "a b");
    EXPECT_EQ(join_parms({W("fspace . /tmp"), V("-ddddd")}), "fspace . /tmp -ddddd");
}

// A scripted qelrel stand-in whose output is `out`; captured with `flags`.
class CapturedRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_.write("plan/.keep", "");
        setenv("IVPT_PLAN", (dir_ / "plan").c_str(), 1);
        unsetenv("IVPT_LOG");
        u_env_set_field(&env_vars.bin_home, IVPT_STANDINS);
        test = 0;
    }
    void TearDown() override {
        unsetenv("IVPT_PLAN");
        u_env_set_field(&env_vars.bin_home, nullptr);
    }
    std::string capture(const std::string& out, int flags, size_t len = std::string::npos) {
        dir_.write("plan/qelrel.out", out);
        char* text = run_cmd_ret("qelrel", {W("x")}, flags);
        if (!text) return "(null)";
        if (len == std::string::npos) return text;
        return std::string(text, len);
    }
    CfgTempDir dir_;
};

TEST_F(CapturedRun, KeptLines) {
    struct Case {
        const char* out;
        int flags;
        const char* kept;
        size_t len;  // bytes compared (npos: up to the first NUL)
    };
    const Case cases[] = {
        {"  \n1234\nmore\n", 0, "1234\0more\0", 10},
        {"  \n1234\nmore\n", RUN_BLANKS, "1234 more ", std::string::npos},
        {"QEL1234I note\nrow\n", RUN_NOMSG | RUN_BLANKS, "row ", std::string::npos},
        {"QEL1234I note\nrow\n", RUN_BLANKS, "QEL1234I note row ", std::string::npos},
        {"  ->QEL1234I kept\n", RUN_NOMSG | RUN_BLANKS, "QEL1234I kept ", std::string::npos},
        {"QEL1234I only\n", RUN_NOMSG, "", std::string::npos},
        {"", 0, "(null)", std::string::npos},
    };
    for (const Case& c : cases) {
        std::string got = capture(c.out, c.flags, c.len);
        EXPECT_EQ(got,
                  std::string(c.kept, c.len == std::string::npos ? std::strlen(c.kept) : c.len))
            << c.out << " flags " << c.flags;
    }
}

TEST_F(CapturedRun, LinesPastTheBoundAreDropped) {
    std::string line(1000, 'x');
    std::string out;
    for (int i = 0; i < 5; ++i) out += std::string(1, static_cast<char>('a' + i)) + line + "\n";
    std::string got = capture(out, RUN_BLANKS);
    // Four lines of 1001 bytes and their blanks fit below 4093; the fifth does not.
    EXPECT_EQ(got.size(), 4u * 1002u);
    EXPECT_EQ(got[3 * 1002], 'd');
    EXPECT_EQ(got.find('e'), std::string::npos);
}

TEST_F(CapturedRun, FailedProgramGivesNoText) {
    dir_.write("plan/qelrel.rc", "3");
    EXPECT_EQ(capture("row\n", 0), "(null)");
    EXPECT_EQ(run_cmd("qelrel", {W("x")}, RUN_CAPTURE), 4);
    EXPECT_EQ(retcmd, nullptr);
}

TEST_F(CapturedRun, TestModeReturnsTheCommandLine) {
    test = 1;
    char* text = run_cmd_ret("qelrel", {W("-dbhome"), V("/h"), V("")}, RUN_BLANKS);
    test = 0;
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, "qelrel -dbhome /h ");
}

}  // namespace

namespace {

TEST(TestExecTimedV, LegendOptionsAndLines) {
    struct Case {
        const char* options;
        std::vector<std::string> shown;
        bool ran;
    };
    const Case cases[] = {
        {nullptr, {" 0 -iflargep ", " 5 -outpfile "}, false},
        {"?", {" 3 -parmsaltin "}, false},
        {"?1", {" 0 -iflargep ", "iflargep=1 stdinp=0"}, true},
        {"000001", {"outpfile=1 \n"}, true},
    };
    for (const Case& c : cases) {
        char seconds[] = "5", cmd[] = "echo", parms[] = "hello";
        parm1 = seconds;
        parm2 = const_cast<char*>(c.options);
        parm3 = cmd;
        parm4 = parms;
        testing::internal::CaptureStdout();
        EXPECT_EQ(test_exec_timed_v(), 0);
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_TRUE(out.find(" Time limit=5, Command=echo, Parms=hello.\n") != std::string::npos);
        for (const std::string& s : c.shown)
            EXPECT_TRUE(out.find(s) != std::string::npos) << s << "\n" << out;
        EXPECT_EQ(out.find("(005)->hello<-\n") != std::string::npos, c.ran) << out;
        parm1 = parm2 = parm3 = parm4 = nullptr;
    }
}

}  // namespace
