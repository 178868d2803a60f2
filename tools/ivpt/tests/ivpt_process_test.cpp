// zovivpt as a process, with the programs it runs replaced by the stand-ins of
// tests/standins (found through COLL_BINPATH), each scripted per case.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "testing/temp_dir.h"
#include "tools/ivpt/tests/ivpt_harness.h"

namespace {

using namespace ivpt_test;

TEST(IvptProcess, InterpreterOutcomes) {
    struct Case {
        std::vector<std::string> words;
        int status;
        std::vector<std::string> lines;
    };
    const Case cases[] = {
        {{}, 0, {}},
        {{"-limit"}, 1, {"-- Command '-limit' needs 1 parms", " -CONFgured  \t1,"}},
        {{"-limit", "x5", "-types"}, 1, {"-- Command '-limit' needs 1 parms"}},
        {{"-limit", "200", "-bogus", "-types"}, 0, {"-- Invalid command '-bogus'", " int "}},
        {{"-bogus", "-types"}, 1, {"-- Invalid command '-bogus'", "\tEnter the name"}},
        {{"stray"}, 1, {"-- Invalid command 'stray'"}},
        {{"-vik"}, 200, {"-- Command vik returned 200 -- quitting"}},
        {{"-h"}, 1, {" -GET_ENVs   \t0,\tDisplay", " -Help       \t0\n"}},
        {{"-rdbmsSRV1", "-get_envs"}, 0, {"env_vars.serverid=SRV1."}},
        {{"-rdbms", "SRVX", "-limit", "5", "-get_envs"}, 0, {"env_vars.serverid=SRVX."}},
        {{"-rdbmsSRV1", "-vikdb"}, 200, {"-- Command vikdb returned 200"}},
        // The limit is seen after a runtime option with a joined or a missing value.
        {{"-rdbmsSRVJ", "-limit", "200", "-vik", "-get_envs"}, 0, {"env_vars.serverid=SRVJ."}},
        {{"-rdbms", "-limit", "200", "-vik", "-get_envs"}, 0, {"env_vars.serverid=SRV1."}},
    };
    for (const Case& c : cases) {
        Ivpt t;
        Result r = t.run(c.words);
        std::string label = c.words.empty() ? "(none)" : c.words[0];
        EXPECT_EQ(r.status, c.status) << label << "\n" << r.out;
        for (const std::string& l : c.lines) EXPECT_TRUE(has(r.out, l)) << label << ": " << l;
        if (c.words.empty()) {
            EXPECT_EQ(r.out, "");
        }
    }
}

TEST(IvptProcess, LimitLetsFourPassAndStopsAtSix) {
    Ivpt t;
    t.plan("zovos", "out", "ZOV1234I only a message\n");  // every run gives 4
    Result r = t.run({"-limit", "5", "-zov", "-zov"});
    EXPECT_EQ(r.status, 0) << r.out;
    Ivpt u;
    u.plan("zovos", "rc", "6");
    r = u.run({"-limit", "5", "-zov", "-types"});
    EXPECT_EQ(r.status, 6) << r.out;
    EXPECT_TRUE(has(r.out, "-- Command zov returned 6 -- quitting"));
    EXPECT_FALSE(has(r.out, " int "));
}

TEST(IvptProcess, ZovVerdicts) {
    struct Case {
        const char* what;  // plan file of zovos, or "" for none
        const char* text;
        int status;
        int runs;  // zovos calls made
        const char* line;
    };
    const Case cases[] = {
        {"out", "row one\nZOV1234W warned\n", 0, 6, "-- ->row one<-"},
        {"out", "ZOV1234W warned\n", 4, 2, "-- ZOV1234W warned"},
        {"out", "", 5, 2, "-- No data returned"},
        {"out", "Command not found.\n", 8, 2, "-- ->Command not found.<-"},
        {"rc", "3", 5, 2, "-- Command zov returned 5"},
        {"sig", "TERM", 128 + SIGTERM, 2, "-- Command zov returned 143"},
    };
    for (const Case& c : cases) {
        Ivpt t;
        t.plan("zovos", c.what, c.text);
        Result r = t.run({"-zov"});
        EXPECT_EQ(r.status, c.status) << c.what << "=" << c.text << "\n" << r.out;
        EXPECT_TRUE(has(r.out, c.line)) << c.text << "\n" << r.out;
        std::string calls = t.calls();
        int runs = 0;
        for (size_t p = 0; (p = calls.find("zovos", p)) != std::string::npos; ++p) ++runs;
        EXPECT_EQ(runs, c.runs) << c.text << "\n" << calls;
    }
    // The tool's own operand text is split into words; the empty debug word disappears.
    Ivpt t;
    t.run({"-zov"});
    EXPECT_TRUE(has(t.calls(), "zovos [-ddddd] [auth]\nzovos [fspace] [.] [/tmp] [/usr]\n"))
        << t.calls();
}

TEST(IvptProcess, ProgramNotInstalledGivesEight) {
    Ivpt u;
    Result r = u.run({"-zov"}, {"COLL_BINPATH=/nonexistent"});
    EXPECT_EQ(r.status, 8) << r.out;
    EXPECT_TRUE(has(r.out, "-- Command zov returned 8"));
}

TEST(IvptProcess, ZemPassesProcessIdAndLogOn) {
    Ivpt t;
    t.plan("zemsql", "out", "  4711 \n");
    t.plan("zemlog", "out", "/var/log/srv1.log\n");
    Result r = t.run({"-setdebug", "-zem"}, {"COLL_DBHOME=/opt/db"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::string calls = t.calls();
    EXPECT_TRUE(has(calls,
                    "zemsql [3] [ ] [SELECT osprocid FROM master..sysengines WHERE  engine "
                    "= 0]\n"))
        << calls;
    EXPECT_TRUE(has(calls, "zemlog [-dbhome] [/opt/db] [-rdbms] [SRV1] [4711] [-ddddd]\n"));
    EXPECT_TRUE(has(calls, "zemerr [-log] [/var/log/srv1.log] [0] [-ddddd]\n"));
    EXPECT_TRUE(has(calls, "zemserv [-log] [/var/log/srv1.log] [-ddddd]\n"));
}

TEST(IvptProcess, ZemWithoutProcessId) {
    Ivpt t;
    t.plan("zemsql", "out", "");
    Result r = t.run({"-zem"});
    EXPECT_EQ(r.status, 20) << r.out;
    EXPECT_TRUE(has(r.out, "-- Could not get Sybase process ID"));
    EXPECT_FALSE(has(t.calls(), "zemlog"));
    Ivpt u;
    u.plan("zemsql", "out", "");
    u.plan("zemlog", "out", "/l\n");
    r = u.run({"-limit", "20", "-zem"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(u.calls(), "[SRV1] [-null-]\n")) << u.calls();
}

TEST(IvptProcess, ErrorLogPathIsOneArgument) {
    Ivpt t;
    const std::string hostile = "/tmp/a;b $(touch x) c";
    t.plan("zemsql", "out", "1\n");
    t.plan("zemlog", "out", "->" + hostile + "\n");
    // The log path is the first word of zemlog's answer: give it without blanks there, then
    // check the whole text travels as one argument through gim, which reads it from the
    // configuration.
    Result r = t.run({"-limit", "20", "-gim"}, {"COLL_ERRORLOG=" + hostile});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(t.calls(), "gimerr [size] [-log] [" + hostile + "] [0]\n")) << t.calls();
    EXPECT_EQ(access((t.path() + "/x").c_str(), F_OK), -1);
    Ivpt u;
    u.plan("zemsql", "out", "1\n");
    u.plan("zemlog", "out", "/tmp/a;b$(touch${IFS}x)\n");
    r = u.run({"-zem"});
    EXPECT_TRUE(has(u.calls(), "zemerr [-log] [/tmp/a;b$(touch${IFS}x)] [0]\n")) << u.calls();
    EXPECT_EQ(access((u.path() + "/x").c_str(), F_OK), -1);
}

TEST(IvptProcess, TestModeStartsNothing) {
    Ivpt t;
    Result r = t.run({"-test", "-zov", "-zem", "-gim", "-qel"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(has(r.out, "-- ->zovos fspace . /tmp /usr<-"));
    EXPECT_EQ(t.calls(), "");
}

TEST(IvptProcess, PasswordsNeverShown) {
    struct Case {
        const char* password;  // null: unset
        int status;
        const char* line;
    };
    const Case cases[] = {
        {"NONE", 0, "-- Decrypted password is (null)"},
        {nullptr, 20, "-- Decrypted password is (null)"},
        {"secretword", 0, "-- Decrypted password is (10) ***"},
        {"ABCDEF", 21, "-- Decrypted password is"},
    };
    for (const Case& c : cases) {
        Ivpt t;
        std::vector<std::string> env;
        if (c.password) env.push_back(std::string("COLL_PASSWORD=") + c.password);
        Result r = t.run({"-limit", "0", "-testpass"}, env);
        EXPECT_EQ(r.status, c.status) << r.out;
        EXPECT_TRUE(has(r.out, c.line)) << r.out;
        if (c.password && std::strcmp(c.password, "NONE") != 0) {
            EXPECT_FALSE(has(r.out, c.password)) << r.out;
        }
    }
    Ivpt t;
    Result r = t.run({"-get_envs"}, {"COLL_PASSWORD=secretword"});
    EXPECT_EQ(r.status, 0);
    EXPECT_FALSE(has(r.out, "secretword")) << r.out;
    EXPECT_TRUE(has(r.out, "COLL_PASSWORD=***"));
    EXPECT_TRUE(has(r.out, "env_vars.password=***."));
}

TEST(IvptProcess, FetchExitDebugWord) {
    Ivpt t;
    Result r = t.run({"-setdebug", "-setdebug", "-setdebug"});
    EXPECT_TRUE(has(r.out,
                    "-- Fetch exit debugging set to -ddddd\n-- Fetch exit debugging turned off\n"
                    "-- Fetch exit debugging set to -ddddd\n"))
        << r.out;
    r = t.run({"-dddd", "-setdebug"});
    EXPECT_TRUE(has(r.out, "-- Fetch exit debugging set to -dddaaaaaa\n")) << r.out;
    r = t.run({"-debug", "-setdebug"});
    EXPECT_TRUE(has(r.out, "-- Fetch exit debugging set to -ddddd\n")) << r.out;
}

TEST(IvptProcess, SignalTrapping) {
    Ivpt t;
    Result r = t.run({"-singal"}, {"COLL_NOSIGNALS=3"});
    EXPECT_TRUE(has(r.out, "-- Setting signal SIGINT (2)")) << r.out;
    EXPECT_TRUE(has(r.out, "-- Setting signal SIGTERM (15)"));
    EXPECT_FALSE(has(r.out, "SIGHUP"));
    r = t.run({"-singal"}, {"COLL_NOSIGNALS=4"});
    EXPECT_FALSE(has(r.out, "Setting signal")) << r.out;
    r = t.run({"-singal"});
    EXPECT_TRUE(has(r.out, "SIGUSR2")) << r.out;
    EXPECT_FALSE(has(r.out, "SIGCHLD"));
    // With trapping on, a failing program still fails its run.
    Ivpt u;
    u.plan("zovos", "rc", "3");
    r = u.run({"-singal", "-zov"});
    EXPECT_EQ(r.status, 5) << r.out;
}

TEST(IvptProcess, InterruptEndsAfterTheRun) {
    Ivpt t;
    t.plan("zovos", "sleep", "2");
    Result r = t.run({"-singal", "-zov", "-types"}, {}, [](pid_t pid, const Ivpt& self) {
        for (int i = 0; i < 100 && self.calls().empty(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        kill(pid, SIGINT);
    });
    EXPECT_EQ(r.status, 128 + SIGINT) << r.out;
    EXPECT_TRUE(has(r.out, "-- Signal captured type: 2"));
    EXPECT_TRUE(has(r.out, "-- Received interupt (2). Quitting."));
    EXPECT_FALSE(has(r.out, " int "));
}

}  // namespace

namespace {

TEST(IvptProcess, QelErrorLogFromQellog) {
    struct Case {
        const char* qellog;  // output, null: prints nothing
        std::vector<std::string> env;
        const char* qelerr;  // the call made
        bool release;        // qelrel asked
    };
    const Case cases[] = {
        {"/d/alert.log\nsecond\n", {"COLL_DBHOME=/d"}, "qelerr [-log] [/d/alert.log] [0]\n", true},
        {nullptr,
         {"COLL_DBHOME=/d", "COLL_ERRORLOG=/cfg.log", "COLL_DBVERSION=19"},
         "qelerr [-log] [/cfg.log] [0]\n",
         false},
    };
    for (const Case& c : cases) {
        Ivpt t;
        t.plan("qellog", "out", c.qellog ? c.qellog : "");
        Result r = t.run({"-limit", "4", "-qel"}, c.env);
        std::string calls = t.calls();
        EXPECT_TRUE(has(calls, c.qelerr)) << calls << r.out;
        EXPECT_EQ(has(calls, "qelrel [-dbhome] [/d]\n"), c.release) << calls;
        EXPECT_TRUE(has(calls, "qellog [-rdbms] [SRV1] [-dbhome] [/d]\n")) << calls;
    }
}

}  // namespace
