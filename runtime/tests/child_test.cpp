#include "runtime/child.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <cstdlib>
#include <cstring>
#include <fstream>

#include "testing/exec_support.h"

namespace {

using Lines = std::vector<std::string>;

class ChildTest : public ExecTest {};

TEST(ExecoptLayout, FlagsFillTheFirstWordFromTheTop) {
    execopt o{};
    o.callerSet = 1;
    uint32_t word;
    std::memcpy(&word, &o, sizeof word);
    EXPECT_EQ(word, 0x80000000u);
    o = execopt{};
    o.keepsip = 1;  // the eleventh flag
    std::memcpy(&word, &o, sizeof word);
    EXPECT_EQ(word, 1u << 21);
    o = execopt{};
    o.keeppw = 1;  // the first beyond the historical eleven
    std::memcpy(&word, &o, sizeof word);
    EXPECT_EQ(word, 1u << 20);
}

// How parameters reach the child, by option set: the helper prints each argument as
// "arg:...", a "@file" argument's contents as "file:..." and, after "--", its standard
// input as "stdin:..." and "stdinlen:...".
struct PassCase {
    const char* name;
    bool callerSet, stdinp, infile, iflargep, parmsaltin;
    size_t longLen;  // 0: use parms as given; else a text of that many 'p's
    const char* parms;
    Lines expected;  // with "<P>" standing for the long text
};
void PrintTo(const PassCase& c, std::ostream* os) { *os << c.name; }

class ParmsPassingTest : public ChildTest, public ::testing::WithParamInterface<PassCase> {};

TEST_P(ParmsPassingTest, ParametersArriveAsDocumented) {
    const PassCase& c = GetParam();
    std::string longText(c.longLen, 'p');
    std::string parms = c.longLen ? longText : c.parms;
    execopt o{};
    o.callerSet = c.callerSet;
    o.stdinp = c.stdinp;
    o.infile = c.infile;
    o.iflargep = c.iflargep;
    o.parmsaltin = c.parmsaltin;
    ChainGuard out(u_exec_timed(xh("xh_args").c_str(), parms.c_str(), 10, &o));
    EXPECT_EQ(o.processRC, pRC_ok);
    Lines expected;
    for (const std::string& e : c.expected) {
        std::string line = e;
        size_t at = line.find("<P>");
        if (at != std::string::npos) line.replace(at, 3, longText);
        if (line == "arg:@") {
            // the file's name is not known in advance
            expected.push_back("?");
            continue;
        }
        expected.push_back(line);
    }
    Lines got = chain_lines(out.c);
    for (size_t i = 0; i < got.size() && i < expected.size(); ++i)
        if (expected[i] == "?" && got[i].rfind("arg:@", 0) == 0) got[i] = "?";
    EXPECT_EQ(got, expected);
    EXPECT_TRUE(temp_files().empty()) << "a parameter file was left behind";
    EXPECT_TRUE(no_children());
}

INSTANTIATE_TEST_SUITE_P(
    Options, ParmsPassingTest,
    ::testing::Values(PassCase{"no_options_words_with_quotes",
                               true,
                               false,
                               false,
                               false,
                               false,
                               0,
                               "a 'b c' \"d e\"",
                               {"arg:a", "arg:b c", "arg:d e"}},
                      PassCase{"defaults_short_on_command_line",
                               false,
                               false,
                               false,
                               false,
                               false,
                               0,
                               "x y",
                               {"arg:x", "arg:y"}},
                      PassCase{"defaults_long_on_stdin_with_nul",
                               false,
                               false,
                               false,
                               false,
                               false,
                               2000,
                               nullptr,
                               {"arg:--", "stdin:<P>", "stdinlen:2001"}},
                      PassCase{
                          "stdinp_without_parmsaltin", true, true, false, false, false, 0, "q", {}},
                      PassCase{"infile_long_named_with_at",
                               true,
                               false,
                               true,
                               true,
                               true,
                               2000,
                               nullptr,
                               {"arg:@", "file:<P>"}},
                      PassCase{"infile_without_parmsaltin_not_named",
                               true,
                               false,
                               true,
                               true,
                               false,
                               2000,
                               nullptr,
                               {}},
                      PassCase{"shell_keeps_quotes_in_one_word",
                               true,
                               false,
                               false,
                               false,
                               false,
                               0,
                               "'a b' \"c'd\" | cat",
                               {"arg:a b", "arg:c'd"}},
                      PassCase{"no_parameters", false, false, false, false, false, 0, "", {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(ChildTest, LongParametersWithFewWordsAreCompactedOntoTheCommandLine) {
    // Over 1023 with the command, under 600 itself, no ")": runs of blanks shrink to one.
    std::string parms = "a" + std::string(590, ' ') + "b";
    std::string cmd = std::string(ZOV_TEST_HELPER_DIR);  // a long but valid path
    for (int i = 0; i < 250; ++i) cmd += "/.";
    cmd += "/xh_args";
    execopt o{};
    ChainGuard out(u_exec_timed(cmd.c_str(), parms.c_str(), 10, &o));
    EXPECT_EQ(chain_lines(out.c), (Lines{"arg:a", "arg:b"}));
}

// A long command line for the shell is a script that sh reads from its standard input
// (the defaults) or from a file; either way the quotes in it survive.
TEST_F(ChildTest, LongShellCommandTravelsAsAScript) {
    std::string word(1100, 'p');
    std::string parms = "'" + word + "' \"it's\" | cat";
    execopt viaStdin{};
    ChainGuard a(u_exec_timed(xh("xh_args").c_str(), parms.c_str(), 10, &viaStdin));
    EXPECT_EQ(viaStdin.processRC, pRC_ok);
    EXPECT_EQ(chain_lines(a.c), (Lines{"arg:" + word, "arg:it's"}));

    execopt viaFile{};
    viaFile.callerSet = 1;
    viaFile.infile = 1;
    viaFile.iflargep = 1;
    ChainGuard b(u_exec_timed(xh("xh_args").c_str(), parms.c_str(), 10, &viaFile));
    EXPECT_EQ(chain_lines(b.c), (Lines{"arg:" + word, "arg:it's"}));
    EXPECT_TRUE(temp_files().empty()) << "the script file was left behind";
    EXPECT_TRUE(no_children());
}

TEST_F(ChildTest, ScriptWithoutInterpreterLineRunsWithTheShell) {
    std::string script = tmp_.write("noshebang", "echo plain script \"$1\"\n", 0700);
    execopt o{};
    ChainGuard out(u_exec_timed(script.c_str(), "x", 10, &o));
    EXPECT_EQ(o.processRC, pRC_ok);
    EXPECT_EQ(chain_lines(out.c), (Lines{"plain script x"}));
}

TEST_F(ChildTest, CommandNotFound) {
    execopt o{};
    ChainGuard out(u_exec_timed("no_such_command_xq", "a", 5, &o));
    EXPECT_EQ(out.c, nullptr);
    EXPECT_EQ(o.processRC, pRC_ierror);
    EXPECT_EQ(o.ihandle, nullptr);
    EXPECT_NE(log().find("Command not found: no_such_command_xq."), std::string::npos);

    createProcessComm* cpc = u_new_cpc();
    EXPECT_EQ(CreateChildProcess("no_such_command_xq", "", &o, cpc), 30);
    o.ihandle = cpc;
    CreateChildProcessEnd(&o);
}

TEST_F(ChildTest, TimeOutEndsTheProcessGroupAndKeepsTheLinesWritten) {
    std::string pidfile = tmp_ / "grandchild.pid";
    std::string parms = "3 30 grandchild " + pidfile;
    execopt o{};
    auto t0 = std::chrono::steady_clock::now();
    ChainGuard out(u_exec_timed(xh("xh_slow").c_str(), parms.c_str(), 1, &o));
    double took = seconds_since(t0);
    EXPECT_EQ(o.processRC, pRC_timedout);
    EXPECT_EQ(chain_lines(out.c), (Lines{"line 1", "line 2", "line 3"}));
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 15.0);  // far below the child's 30 seconds, with room for load
    EXPECT_TRUE(no_children());
    EXPECT_NE(log().find("did not finish in 1 seconds."), std::string::npos);
    pid_t grandchild = std::stoi(cfg_read_file(pidfile));
    EXPECT_TRUE(eventually([&] { return !process_alive(grandchild); }))
        << "grandchild " << grandchild << " outlived the time-out";
}

TEST_F(ChildTest, ChildIgnoringSigtermIsKilled) {
    execopt o{};
    auto t0 = std::chrono::steady_clock::now();
    ChainGuard out(u_exec_timed(xh("xh_slow").c_str(), "1 30 ignterm", 1, &o));
    EXPECT_EQ(o.processRC, pRC_timedout);
    EXPECT_EQ(chain_lines(out.c), (Lines{"line 1"}));
    EXPECT_LT(seconds_since(t0), 15.0);  // far below the child's 30 seconds
    EXPECT_TRUE(no_children());
}

TEST_F(ChildTest, OutputBeyondAPipeNeverDeadlocksAndIsCappedAt30000) {
    execopt o{};
    auto t0 = std::chrono::steady_clock::now();
    ChainGuard out(u_exec_timed(xh("xh_lines").c_str(), "40000 100", 60, &o));
    EXPECT_EQ(o.processRC, pRC_ok);
    Lines got = chain_lines(out.c);
    ASSERT_EQ(got.size(), 30000u);
    EXPECT_EQ(got.front(), "0000001" + std::string(93, 'x'));
    EXPECT_EQ(got.back().substr(0, 7), "0030000");
    EXPECT_LT(seconds_since(t0), 30.0);
    EXPECT_LE(o.maxWaitTime, 30);
    EXPECT_TRUE(no_children());
}

TEST_F(ChildTest, ChildWritingWithoutPauseIsStillStoppedAtItsLimit) {
    execopt o{};
    auto t0 = std::chrono::steady_clock::now();
    ChainGuard out(u_exec_timed("yes", "abc", 1, &o));
    EXPECT_EQ(o.processRC, pRC_timedout);
    EXPECT_LT(seconds_since(t0), 15.0);  // `yes` never ends by itself
    Lines got = chain_lines(out.c);
    EXPECT_EQ(got.size(), 30000u);
    EXPECT_EQ(got.back(), "abc");
    EXPECT_TRUE(no_children());
}

TEST_F(ChildTest, MaxRetLinesAndTheEndMark) {
    execopt o{};
    o.maxRetLines = 5;
    ChainGuard five(u_exec_timed(xh("xh_lines").c_str(), "50 10", 10, &o));
    EXPECT_EQ(chain_lines(five.c).size(), 5u);

    // A line ending with 0x1A ends the output; the mark is removed.
    execopt e{};
    ChainGuard marked(u_exec_timed("printf", "'a\\nb\\032\\nc\\n' | cat", 10, &e));
    EXPECT_EQ(chain_lines(marked.c), (Lines{"a", "b"}));
    ASSERT_NE(marked.c, nullptr);
    EXPECT_EQ(marked.c->next->size, 1);
    EXPECT_TRUE(no_children());
}

TEST_F(ChildTest, LongLinesArriveCutAndLastLineWithoutNewlineIsKept) {
    execopt o{};
    ChainGuard whole(u_exec_timed(xh("xh_lines").c_str(), "2 2500 nonl", 10, &o));
    Lines got = chain_lines(whole.c);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].size(), 2500u);
    EXPECT_EQ(got[1].size(), 2500u);
    EXPECT_EQ(o.longLines, 0);

    // Longer than one read: each stays one line, cut to what the reader held of it, and is
    // counted; the last one, without its newline, too.
    ChainGuard cut(u_exec_timed(xh("xh_lines").c_str(), "2 150000 nonl", 10, &o));
    got = chain_lines(cut.c);
    ASSERT_EQ(got.size(), 2u);
    for (const auto& l : got) {
        EXPECT_GE(l.size(), static_cast<size_t>(u_child_read_size));
        EXPECT_LT(l.size(), 2u * static_cast<size_t>(u_child_read_size));
    }
    EXPECT_EQ(o.longLines, 2);
    EXPECT_EQ(got.back().back(), 'x');
}

TEST_F(ChildTest, OutputFileWithStandardError) {
    execopt o{};
    o.callerSet = 1;
    o.outpfile = 1;
    o.retstderr = 1;
    ChainGuard out(u_exec_timed("sh", "-c 'echo out; echo err 1>&2' ; true", 10, &o));
    EXPECT_EQ(chain_lines(out.c), (Lines{"out", "err"}));
    EXPECT_TRUE(temp_files().empty()) << "the output file was left behind";
    EXPECT_TRUE(no_children());
}

TEST_F(ChildTest, AsyncStartThenContinue) {
    execopt o{};
    o.async = 1;
    EXPECT_EQ(u_exec_timed(xh("xh_args").c_str(), "one two", 10, &o), nullptr);
    ASSERT_NE(o.ihandle, nullptr);
    o.asyncCont = 1;
    ChainGuard out(u_exec_timed(nullptr, nullptr, 0, &o));
    EXPECT_EQ(chain_lines(out.c), (Lines{"arg:one", "arg:two"}));
    EXPECT_EQ(o.ihandle, nullptr);
    EXPECT_TRUE(no_children());

    execopt none{};
    none.asyncCont = 1;
    EXPECT_EQ(u_exec_timed(nullptr, nullptr, 0, &none), nullptr);
    EXPECT_EQ(none.processRC, pRC_ierror);
}

TEST_F(ChildTest, NonZeroExitStatusIsLogged) {
    execopt o{};
    ChainGuard out(u_exec_timed(xh("xh_slow").c_str(), "1 0 exit 3", 10, &o));
    EXPECT_EQ(o.processRC, pRC_ok);
    EXPECT_EQ(chain_lines(out.c), (Lines{"line 1"}));
    EXPECT_NE(log().find("ended with exit status 3"), std::string::npos) << log();
}

TEST_F(ChildTest, PermanentChildSeesEndOfInputAndIsReaped) {
    std::string marker = tmp_ / "eof.txt";
    execopt o{};
    ASSERT_EQ(u_exec_perm(xh("xh_pcc").c_str(), marker.c_str(), &o), 0);
    int in = -1, out = -1;
    EXPECT_EQ(u_exec_get_fh(&in, &out, &o), 0);
    EXPECT_GT(in, 2);
    EXPECT_GT(out, 2);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(u_exec_term(&o), 0);
    // Less than the two seconds a child that does not end by itself is given.
    EXPECT_LT(seconds_since(t0), 2.0) << "a child that ends by itself is not made to wait";
    EXPECT_EQ(o.ihandle, nullptr);
    EXPECT_EQ(cfg_read_file(marker), "eof\n");
    EXPECT_TRUE(no_children());
    EXPECT_EQ(u_exec_get_fh(&in, &out, &o), 4);
}

TEST_F(ChildTest, PermanentChildThatIgnoresItsInputIsEnded) {
    execopt o{};
    ASSERT_EQ(u_exec_perm(xh("xh_slow").c_str(), "0 30 ignterm", &o), 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(u_exec_term(&o), 0);
    EXPECT_LT(seconds_since(t0), 15.0);  // far below the child's 30 seconds
    EXPECT_TRUE(no_children());
}

TEST_F(ChildTest, GetFhReportsMissingDescriptors) {
    execopt o{};
    int in = -1, out = -1;
    EXPECT_EQ(u_exec_get_fh(&in, &out, &o), 4);
    EXPECT_EQ(u_exec_get_fh(nullptr, nullptr, nullptr), 4);
    o.ihandle = u_new_cpc();
    EXPECT_EQ(u_exec_get_fh(&in, &out, &o), 3);
    EXPECT_EQ(in, 0);
    EXPECT_EQ(out, 0);
    CreateChildProcessEnd(&o);
    EXPECT_EQ(o.ihandle, nullptr);
}

TEST_F(ChildTest, AsynProcessRunsDetachedAndLeavesNoZombie) {
    std::string marker = tmp_ / "async.txt";
    std::string parms = "-c 'echo started > " + marker + "'";
    EXPECT_EQ(u_AsynProcess("sh", parms.c_str()), 0);
    EXPECT_TRUE(no_children());
    EXPECT_TRUE(eventually([&] { return cfg_read_file(marker) == "started\n"; }));
}

TEST_F(ChildTest, ReadChildOutputWithoutPipe) {
    execopt o{};
    createProcessComm* cpc = u_new_cpc();
    o.ihandle = cpc;
    EXPECT_EQ(ReadChildOutput(&o, cpc), nullptr);
    EXPECT_NE(log().find("No pipe created for child stdout"), std::string::npos);
    CreateChildProcessEnd(&o);
}

// Output that no text holds is counted for the caller to judge; its lines still arrive as
// the line reader splits them (a NUL ends a line too).
TEST_F(ChildTest, OddBytesOfTheOutputAreCounted) {
    struct Case {
        const char* format;  // printf's format
        int32_t odd;
        Lines lines;
    } cases[] = {
        {"plain\\ttabbed\\r\\nend mark\\032\\n", 0, {"plain\ttabbed\r", "end mark"}},
        {"a\\000b\\n", 1, {"a", "b"}},
        {"a\\001b\\033c\\177\\n", 3, {"a\001b\033c\177"}},
        {"text\\nmore text\\n\\000\\000tail", 2, {"text", "more text", "tail"}},
    };
    for (const Case& k : cases) {
        std::string printf_path = "/usr/bin/printf", fmt = k.format;
        char* argv[] = {printf_path.data(), fmt.data(), nullptr};
        execopt o{};
        ChainGuard out(u_exec_argv(argv, nullptr, 10, &o, nullptr));
        EXPECT_EQ(o.processRC, pRC_ok) << k.format;
        EXPECT_EQ(o.oddBytes, k.odd) << k.format;
        EXPECT_EQ(chain_lines(out.c), k.lines) << k.format;
    }
}

// A child that leaves a process of its own session holding its output ends the run once it
// has ended and the output stays quiet, not at the time limit.
TEST_F(ChildTest, AGrandchildHoldingTheOutputDoesNotHoldTheWait) {
    const std::string pidfile = tmp_ / "gc.pid";
    const std::string script = tmp_ / "gc.sh";
    {
        std::ofstream out(script);
        out << "echo one\nsetsid /bin/sh -c 'echo $$ > " << pidfile
            << "; sleep 3; echo late; exec sleep 30' &\necho two\n";
    }
    execopt o{};
    auto t0 = std::chrono::steady_clock::now();
    ChainGuard out(u_exec_timed("/bin/sh", script.c_str(), 20, &o));
    EXPECT_EQ(o.processRC, pRC_ok);
    EXPECT_LT(seconds_since(t0), 10.0);
    EXPECT_EQ(chain_lines(out.c), (Lines{"one", "two"}));
    EXPECT_EQ(log().find("did not finish"), std::string::npos) << log();
    EXPECT_TRUE(no_children());
    pid_t grandchild = 0;
    ASSERT_TRUE(eventually([&] {
        std::ifstream in(pidfile);
        return static_cast<bool>(in >> grandchild) && grandchild > 0;
    }));
    kill(grandchild, SIGKILL);
    EXPECT_TRUE(eventually([&] { return !process_alive(grandchild); }, 5000));
}

TEST_F(ChildTest, TimeOutMessageNamesTheWholeCommand) {
    execopt o{};
    const std::string cmd = xh("xh_slow");
    ASSERT_GT(cmd.size(), 20u);
    ChainGuard out(u_exec_timed(cmd.c_str(), "0 30", 1, &o));
    EXPECT_EQ(o.processRC, pRC_timedout);
    EXPECT_NE(log().find("Child process " + cmd + " 0 30 did not finish in 1 seconds."),
              std::string::npos)
        << log();
    EXPECT_TRUE(no_children());
}

// COLL_PASSWORD reaches only a child whose caller asks for it (the database access
// programs) or gives the environment itself; every other way of starting a program
// leaves it out, and the caller's own environment keeps it.
TEST_F(ChildTest, ThePasswordReachesOnlyTheChildrenThatNeedIt) {
    const char* saved = std::getenv("COLL_PASSWORD");
    const std::string keep = saved ? saved : "";
    setenv("COLL_PASSWORD", "Sw0rdf1sh", 1);
    auto has_password = [](const r_exec_chain* c) {
        for (const std::string& l : chain_lines(c))
            if (l.find("Sw0rdf1sh") != std::string::npos) return true;
        return false;
    };
    std::string env_path = "/usr/bin/env";
    char* argv[] = {env_path.data(), nullptr};
    {
        execopt o{};
        ChainGuard out(u_exec_argv(argv, nullptr, 10, &o, nullptr));
        EXPECT_FALSE(has_password(out.c));
        EXPECT_FALSE(chain_lines(out.c).empty());
    }
    {
        execopt o{};
        o.keeppw = 1;
        ChainGuard out(u_exec_argv(argv, nullptr, 10, &o, nullptr));
        EXPECT_TRUE(has_password(out.c));
    }
    {
        execopt o{};
        ChainGuard out(u_exec_timed("/usr/bin/env", "", 10, &o));
        EXPECT_FALSE(has_password(out.c));
    }
    {
        ChainGuard out(u_exec("/usr/bin/env", ""));
        EXPECT_FALSE(has_password(out.c));
        EXPECT_FALSE(chain_lines(out.c).empty());
    }
    for (int keeppw : {0, 1}) {
        // Detached: the program writes what it got to a file.
        const std::string file = tmp_ / ("detached" + std::to_string(keeppw) + ".env");
        std::string sh = "/bin/sh", c = "-c",
                    script = "env > " + file + ".tmp; mv " + file + ".tmp " + file;
        char* dargv[] = {sh.data(), c.data(), script.data(), nullptr};
        ASSERT_EQ(u_AsynProcessArgv(dargv, 10, keeppw), 0);
        ASSERT_TRUE(
            eventually([&] { return cfg_read_file(file).find("PATH=") != std::string::npos; }));
        EXPECT_EQ(cfg_read_file(file).find("Sw0rdf1sh") != std::string::npos, keeppw == 1);
    }
    EXPECT_STREQ(std::getenv("COLL_PASSWORD"), "Sw0rdf1sh");
    EXPECT_EQ(u_is_db_access_program("/opt/zov/bin/zemsql"), 1);
    EXPECT_EQ(u_is_db_access_program("zem2sql"), 1);
    EXPECT_EQ(u_is_db_access_program("/opt/zov/bin/qelsql"), 1);
    EXPECT_EQ(u_is_db_access_program("/opt/zov/bin/zemsqlx"), 0);
    EXPECT_EQ(u_is_db_access_program("/home/u/my_sql"), 0);  // a user's script
    EXPECT_EQ(u_is_db_access_program("/usr/bin/env"), 0);
    if (saved)
        setenv("COLL_PASSWORD", keep.c_str(), 1);
    else
        unsetenv("COLL_PASSWORD");
    EXPECT_TRUE(no_children());
}

}  // namespace
