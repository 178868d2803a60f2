// The program runner the process-level tests share: what goes in reaches the child, what
// comes out reaches the test, and a child past its deadline ends with its group, reaped.
#include "testing/program_runner.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "testing/case_names.h"
#include "testing/temp_dir.h"

namespace {

using testprog::program;
using testprog::program_result;
using testprog::run_program;

struct runner_case {
    const char* name;
    program p;
    int status;
    const char* out;
    const char* err;
};

program sh(const std::string& script, std::vector<std::string> env = {}, std::string input = "") {
    program p;
    p.path = "/bin/sh";
    p.args = {"-c", script};
    p.env = std::move(env);
    p.input = std::move(input);
    return p;
}

// A program by path, its words, its whole environment and its working directory.
program prog(std::string path, std::vector<std::string> args, std::vector<std::string> env = {},
             std::string dir = "") {
    program p;
    p.path = std::move(path);
    p.args = std::move(args);
    p.env = std::move(env);
    p.dir = std::move(dir);
    return p;
}

program merged(program p) {
    p.merge_stderr = true;
    return p;
}

class Runner : public ::testing::TestWithParam<runner_case> {};

TEST_P(Runner, GivesStatusAndOutput) {
    const runner_case& c = GetParam();
    const program_result r = run_program(c.p);
    EXPECT_EQ(r.status, c.status);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Runner,
    ::testing::Values(
        runner_case{"exit_status", sh("exit 3"), 3, "", ""},
        runner_case{"out_and_err_apart", sh("echo one; echo two >&2; echo three"), 0,
                    "one\nthree\n", "two\n"},
        runner_case{"err_merged", merged(sh("echo one; echo two >&2")), 0, "one\ntwo\n", ""},
        runner_case{"stdin_whole_then_end", sh("cat; echo end", {}, "a\nb c\n"), 0, "a\nb c\nend\n",
                    ""},
        runner_case{"no_input_is_end_of_file", sh("cat; echo end"), 0, "end\n", ""},
        // The environment is exactly the one given: nothing of the test's is added.
        runner_case{"environment_exact", prog("/usr/bin/env", {}, {"A=1", "B=two words"}), 0,
                    "A=1\nB=two words\n", ""},
        runner_case{"signal_is_100_plus", sh("kill -TERM $$"), 100 + SIGTERM, "", ""},
        runner_case{"missing_program", prog("/nonexistent/prog", {}), testprog::exec_failed, "",
                    ""},
        runner_case{"missing_directory", prog("/bin/sh", {"-c", "echo x"}, {}, "/nonexistent/dir"),
                    testprog::no_working_dir, "", ""}),
    case_names(&runner_case::name));

TEST(RunnerStatus, NamesTheSignalThatEndedIt) {
    program_result r = run_program(sh("kill -TERM $$"));
    EXPECT_EQ(r.signal, SIGTERM);
    r = run_program(sh("exit 100"));
    EXPECT_EQ(r.status, 100);
    EXPECT_EQ(r.signal, 0);  // an exit status of 100 is no signal
}

TEST(RunnerArguments, Argv0AndTheWordsReachTheProgram) {
    program p = sh("cat /proc/$$/cmdline");
    p.argv0 = "named";
    const program_result r = run_program(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string("named\0-c\0cat /proc/$$/cmdline\0", 30));
}

// True while pid names a living process (a zombie counts as gone).
bool alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

bool no_children() {
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

TEST(RunnerDeadline, EndsASleepingChildWithItsGroupAndReapsIt) {
    // The shell starts a sleep of its own and waits: both outlive the deadline.
    program p = sh("sleep 600 & echo $!; wait");
    // Room for the shell to start its sleep and print its pid on a loaded machine.
    p.deadline = std::chrono::seconds(2);
    const auto t0 = std::chrono::steady_clock::now();
    const program_result r = run_program(p);
    EXPECT_TRUE(r.timed_out);
    EXPECT_EQ(r.status, 100 + SIGKILL);
    EXPECT_EQ(r.signal, SIGKILL);
    // Far below the sleep: the runner did not wait for it.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(120));
    const pid_t grandchild = std::atoi(r.out.c_str());
    ASSERT_GT(grandchild, 0) << r.out;
    // The sleep went with the group (init reaps it, so allow it a moment).
    for (int i = 0; i < 500 && alive(grandchild); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(alive(grandchild));
    EXPECT_TRUE(no_children());
}

TEST(RunnerDeadline, ADroppedStartedProgramEndsAndIsReaped) {
    CfgTempDir dir;
    pid_t pid = -1;
    {
        testprog::started_program child;
        program p = sh("echo started; exec sleep 600");
        p.output_file = dir / "out.txt";
        ASSERT_TRUE(child.start(p));
        pid = child.pid();
        // It writes to its file while it runs.
        for (int i = 0; i < 3000 && cfg_read_file(dir / "out.txt").empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        EXPECT_EQ(cfg_read_file(dir / "out.txt"), "started\n");
        EXPECT_EQ(child.wait_exit(std::chrono::milliseconds(0)), -1);
        EXPECT_TRUE(alive(pid));
    }
    EXPECT_FALSE(alive(pid));
    EXPECT_TRUE(no_children());
}

TEST(RunnerDeadline, WaitExitGivesTheStatusOnceItEnds) {
    testprog::started_program child;
    program p = sh("exit 4");
    p.output_file = "/dev/null";
    ASSERT_TRUE(child.start(p));
    EXPECT_EQ(child.wait_exit(std::chrono::seconds(60)), 4);
    EXPECT_EQ(child.wait_exit(std::chrono::milliseconds(0)), 4);  // the same again
    EXPECT_TRUE(no_children());
}

TEST(RunnerOutput, BothStreamsLargerThanAPipeComeWhole) {
    // Each stream fills its pipe many times over while the other one waits to be read.
    const program_result r =
        run_program(sh("i=0; while [ $i -lt 4000 ]; do echo 012345678901234567890123456789; "
                       "echo abcdefghijabcdefghijabcdefghij >&2; i=$((i+1)); done"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.size(), 4000u * 31);
    EXPECT_EQ(r.err.size(), 4000u * 31);
    EXPECT_EQ(r.out.substr(0, 31), "012345678901234567890123456789\n");
    EXPECT_EQ(r.err.substr(r.err.size() - 31), "abcdefghijabcdefghijabcdefghij\n");
}

TEST(RunnerOutput, SeesTheOutputAsItComes) {
    std::vector<std::string> seen;
    const program_result r =
        run_program(sh("echo first; sleep 1; echo second"),
                    [&](const std::string& so_far) { seen.push_back(so_far); });
    EXPECT_EQ(r.status, 0);
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), "first\nsecond\n");
    EXPECT_EQ(seen.front().substr(0, 6), "first\n");
}

TEST(RunnerOutput, ReadsUntilAMarkWhileTheProgramRunsOn) {
    testprog::started_program child;
    // It runs until told to stop.
    ASSERT_TRUE(
        child.start(sh("trap 'echo stopped; exit 5' TERM; echo ready; "
                       "while :; do sleep 0.05; done")));
    ASSERT_TRUE(child.read_until("ready\n"));
    EXPECT_EQ(child.out(), "ready\n");
    EXPECT_EQ(child.wait_exit(std::chrono::milliseconds(0)), -1);
    ASSERT_EQ(kill(child.pid(), SIGTERM), 0);
    const program_result r = child.finish();
    EXPECT_EQ(r.status, 5);
    EXPECT_EQ(r.out, "ready\nstopped\n");  // what read_until read is kept

    // A mark that never comes: false at the end of the output, which finish still gives.
    ASSERT_TRUE(child.start(sh("echo other")));
    EXPECT_FALSE(child.read_until("ready"));
    const program_result other = child.finish();
    EXPECT_EQ(other.status, 0);
    EXPECT_EQ(other.out, "other\n");
    EXPECT_TRUE(no_children());
}

TEST(RunnerInput, AFileInPlaceOfTheBytes) {
    CfgTempDir dir;
    std::ofstream(dir / "in.txt") << "from a file\n";
    program p = sh("cat", {}, "not these bytes");
    p.input_path = dir / "in.txt";
    program_result r = run_program(p);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "from a file\n");

    // A directory: the child's read fails (an empty input would be a clean end).
    p.input_path = "/";
    r = run_program(p);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Is a directory"), std::string::npos) << r.err;

    // A file that cannot be opened: nothing is started.
    p.input_path = dir / "missing";
    r = run_program(p);
    EXPECT_EQ(r.status, -1);
    EXPECT_TRUE(no_children());
}

}  // namespace
