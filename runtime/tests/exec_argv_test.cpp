// The argument-vector runner: the child's environment, its standard-input text, and the
// exit status left for the caller after the run's record is gone.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/child.h"
#include "runtime/exec.h"

namespace {

struct ArgvRun {
    std::vector<std::string> lines;
    int status = -2;
};

ArgvRun run(std::vector<std::string> words, const char* input, char** env) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execopt opts{};
    opts.envchain = env;
    r_exec_chain* chain = u_exec_argv(argv.data(), input, 20, &opts, nullptr);
    ArgvRun r;
    for (r_exec_chain* c = chain; c; c = c->next) r.lines.emplace_back(c->line, c->size);
    u_free_r_chain(chain);
    r.status = opts.exitStatus;
    return r;
}

TEST(ExecArgv, TheGivenEnvironmentIsTheChilds) {
    setenv("ZOV_PARENT_ONLY", "parent", 1);
    char a[] = "ZOV_X=child value";
    char b[] = "PATH=/usr/bin:/bin";
    char* env[] = {a, b, nullptr};
    ArgvRun r = run({"/bin/sh", "-c", "echo \"[$ZOV_X][$ZOV_PARENT_ONLY]\""}, nullptr, env);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"[child value][]"}));
    // Without one, the caller's.
    r = run({"/bin/sh", "-c", "echo \"[$ZOV_PARENT_ONLY]\""}, nullptr, nullptr);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"[parent]"}));
    unsetenv("ZOV_PARENT_ONLY");
}

TEST(ExecArgv, AWordHoldingShellSyntaxStaysOneWord) {
    ArgvRun r =
        run({"/bin/sh", "-c", "for w in \"$@\"; do echo \"<$w>\"; done", "sh", "a;b|c", "> d"},
            nullptr, nullptr);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"<a;b|c>", "<> d>"}));
}

TEST(ExecArgv, StandardInputTextArrives) {
    ArgvRun r = run({"/bin/sh", "-c", "read l; echo \"got $l\""}, "first line\n", nullptr);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"got first line"}));
    EXPECT_TRUE(WIFEXITED(r.status) && WEXITSTATUS(r.status) == 0) << r.status;
}

TEST(ExecArgv, ExitStatusOfTheRun) {
    ArgvRun r = run({"/bin/sh", "-c", "echo out; exit 3"}, nullptr, nullptr);
    EXPECT_EQ(r.lines, (std::vector<std::string>{"out"}));
    ASSERT_TRUE(WIFEXITED(r.status)) << r.status;
    EXPECT_EQ(WEXITSTATUS(r.status), 3);
    r = run({"/bin/sh", "-c", "kill -KILL $$"}, nullptr, nullptr);
    ASSERT_TRUE(WIFSIGNALED(r.status)) << r.status;
    EXPECT_EQ(WTERMSIG(r.status), SIGKILL);
    // A program that cannot be started leaves no status.
    r = run({"/nonexistent/program"}, nullptr, nullptr);
    EXPECT_EQ(r.status, -1);
}

// A permanent child from an argument vector: its own environment, a word holding ";" as
// one word, and its pipes.
TEST(ExecArgv, PermanentChildFromAnArgumentVector) {
    char a[] = "ZOV_X=perm";
    char b[] = "PATH=/usr/bin:/bin";
    char* env[] = {a, b, nullptr};
    std::vector<std::string> words = {"/bin/sh", "-c", "read l; echo \"$ZOV_X|$l|$1\"", "sh",
                                      "a;b"};
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execopt o{};
    o.envchain = env;
    ASSERT_EQ(u_exec_perm_argv(argv.data(), &o), 0);
    int in = -1, out = -1;
    ASSERT_EQ(u_exec_get_fh(&in, &out, &o), 0);
    ASSERT_EQ(write(in, "hello\n", 6), 6);
    std::string got;
    while (got.find('\n') == std::string::npos) {
        struct pollfd p {
            out, POLLIN, 0
        };
        ASSERT_GT(poll(&p, 1, 10000), 0) << got;
        char buf[256];
        ssize_t n = read(out, buf, sizeof buf);
        if (n <= 0) break;
        got.append(buf, static_cast<size_t>(n));
    }
    EXPECT_EQ(got, "perm|hello|a;b\n");
    EXPECT_EQ(u_exec_term(&o), 0);
    EXPECT_EQ(o.ihandle, nullptr);
}

}  // namespace
