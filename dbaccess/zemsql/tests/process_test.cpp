// zemsql as a process against the scripted TDS server, with real Client-Library, and call
// type 4 against the stand-in isql. The password travels only in COLL_PASSWORD and must
// appear in no output, no server log line and on no isql command line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/case_names.h"
#include "testing/closed_port.h"
#include "testing/dbaccess_fixture.h"
#include "testing/program_runner.h"
#include "tests/tds/tds_scenario.h"
#include "tests/tds/tds_testenv.h"

namespace {

const char* const kPassword = testprog::dbaccess_password;

const char* kScenario = R"(
server TESTSERV
login refuse baduser
rpc sp_helpdb master
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'master' '2.5 MB' 'sa' 1
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:varchar(20)
  row 'master' '2.5 MB' 'data and log' '1000'
rpc sp_helpdb tempdb
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'tempdb' '2.5 MB' 'sa' 2
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:varchar(20)
  row 'tempdev' '2.0 MB' 'data only' '300'
  row 'templog' '0.5 MB' 'log only' 'not applicable'
  result text:varchar(60)
  row 'log only free kbytes = 123'
rpc sp_helpdb
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'pubs' '10.0 MB' 'sa' 4
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:varchar(20)
  row 'pubsdev' '10.0 MB' 'data and log' '5000'
batch select small
  result name:varchar(8) id:int
  row 'ab' 1
batch select five
  result n:int
  row 1
  row 2
  row 3
  row 4
  row 5
batch select dropped
  result x:int
  row 1
  drop
batch select msg10
  message 5701 10 1 Changed database context ten
  result x:int
  row 1
batch select msg11
  message 2601 11 1 Eleven is logged
  result x:int
  row 1
rpc manyparms
  result n:int
  row 25
rpc myproc p1 'p 2'
  result a:varchar(20)
  row 'one two'
  status 3
)";

// The scenario with a result of every kind the printing must keep whole: a NULL after a
// value, a value holding a newline, a bigint, a 300-character longchar.
zovtds::Scenario scenario() {
    std::string text = kScenario;
    text += "batch select kinds\n  result a:varchar(20) b:bigint c:longchar(300)\n";
    text += "  row 'x' 9000000000 '" + std::string(300, 'L') + "'\n";
    text += "  row NULL NULL NULL\n";
    text += "  row 'NL' -5 'z'\n";
    // Twelve columns of 255 characters: wider than a record.
    text += "batch select wide\n  result";
    for (int i = 1; i <= 12; ++i) text += " c" + std::to_string(i) + ":varchar(255)";
    text += "\n  row";
    for (int i = 1; i <= 12; ++i) text += " 'v'";
    text += "\n";
    zovtds::Scenario sc;
    std::string error;
    EXPECT_TRUE(zovtds::parse_scenario(text, sc, error)) << error;
    for (auto& e : sc.entries)
        for (auto& st : e.answer.steps)
            for (auto& row : st.rows)
                for (auto& v : row)
                    if (v.text == "NL") v.text = "ab\ncd";
    return sc;
}

using ProcRun = testprog::program_result;
using testprog::lines_of;

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

class Zemsql : public testprog::dbaccess_test {
  protected:
    Zemsql()
        : dbaccess_test(
              {ZEMSQL_PATH, "zemsql", {"SYBASE_OCS=", "LD_LIBRARY_PATH=", "ISQL_"}, 0, scenario}) {}
};

TEST_F(Zemsql, SpaceReportOverTwoDatabases) {
    ProcRun r = run({"1", "x", "sp_helpdb", "master", "tempdb"});
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    // Sizes are megabytes times 1024; tempdb's log free space comes from its third set.
    EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{
                                   "master 1 2560 2560 1000 1000 1",
                                   "tempdb 2 512 2048 123 300 0",
                               }));
}

TEST_F(Zemsql, SpaceReportOfTheWholeServer) {
    ProcRun r = run({"1", "x", "sp_helpdb"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "pubs 4 10240 10240 5000 5000 1\n");
}

TEST_F(Zemsql, SpaceReportRebuildsAfterThe26thDatabase) {
    std::vector<std::string> args = {"1", "x", "sp_helpdb"};
    for (int i = 1; i <= 30; ++i) args.push_back("d" + std::to_string(i));
    ProcRun r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(lines_of(r.out).size(), 30u);
    // The order of logins and switches: one login, 26 databases, the second login, 4 more.
    std::vector<std::string> order;
    for (const auto& e : env.server.log()) {
        if (e.kind == zovtds::LogEntry::Login) order.push_back("login");
        if (e.kind == zovtds::LogEntry::Batch && e.text.rfind("use d", 0) == 0)
            order.push_back(e.text.substr(4));
    }
    std::vector<std::string> expected = {"login"};
    for (int i = 1; i <= 30; ++i) {
        expected.push_back("d" + std::to_string(i));
        if (i == 26) expected.push_back("login");
    }
    EXPECT_EQ(order, expected);
}

TEST_F(Zemsql, SqlRowsArriveWhole) {
    ProcRun r = run({"3", "master", "select kinds"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto b = [](int n) { return std::string(static_cast<size_t>(n), ' '); };
    // Every column but the last in a field of its width + 1, the last and one blank; a NULL
    // is empty, never the value of the row before.
    // (a bigint is 20 characters wide, as Client-Library writes it as text)
    EXPECT_EQ(r.out, "x" + b(20) + "9000000000" + b(11) + std::string(300, 'L') + " \n" + b(21) +
                         b(21) + " \n" + "ab\ncd" + b(16) + "-5" + b(19) + "z \n");
}

TEST_F(Zemsql, ProcedureRowsAndParameters) {
    // Each word is one parameter, sent as it is.
    ProcRun r = run({"2", "master", "myproc", "p1", "p 2"});
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.out, "one two \n");
    const std::vector<zovtds::LogEntry> rpcs = env.server.log();
    const zovtds::LogEntry* call = zovtds::last_rpc(rpcs, "myproc");
    ASSERT_NE(call, nullptr);
    ASSERT_EQ(call->params.size(), 2u);
    EXPECT_EQ(call->params[1].value, "p 2");
}

// Call type 2 sends every operand after the procedure name, beyond 20 too.
TEST_F(Zemsql, ProcedureTakesEveryOperandAsAParameter) {
    std::vector<std::string> args = {"2", "master", "manyparms"};
    for (int i = 1; i <= 25; ++i) args.push_back(std::to_string(i));
    ProcRun r = run(args);
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_NE(r.out.find("25"), std::string::npos) << r.out;
    const std::vector<zovtds::LogEntry> rpcs = env.server.log();
    const zovtds::LogEntry* call = zovtds::last_rpc(rpcs, "manyparms");
    ASSERT_NE(call, nullptr);
    ASSERT_EQ(call->params.size(), 25u);
    EXPECT_EQ(call->params[0].value, "1");
    EXPECT_EQ(call->params[24].value, "25");
}

TEST_F(Zemsql, ServerMessagesBySeverity) {
    ProcRun quiet = run({"3", "master", "select msg10"});
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out.find("Changed database context ten"), std::string::npos) << quiet.out;
    EXPECT_EQ(quiet.out.find("ESQ05"), std::string::npos) << quiet.out;
    ProcRun loud = run({"3", "master", "select msg11"});
    EXPECT_EQ(loud.status, 0);
    EXPECT_NE(loud.out.find("Eleven is logged"), std::string::npos) << loud.out;
    EXPECT_NE(loud.out.find("ESQ0540I"), std::string::npos) << loud.out;
    // In channel mode the lines go to the parent as !M records.
    auto out = channel({"!S S select msg11", "!Z"});
    EXPECT_GE(count_prefix(out, "!M ESQ05"), 4) << ::testing::PrintToString(out);
}

TEST_F(Zemsql, ChannelHeadersAndRowLimit) {
    auto out = channel(
        {"!X X", "!S S select small", "!Z", "!X R 3", "!S S select five", "!Z", "!X S", "!Z"});
    std::vector<std::string> records;
    for (const auto& l : out)
        if (l.rfind("!M ", 0) != 0) records.push_back(l);
    std::vector<std::string> expected = {
        "!I S 0000 0000 00000000          Y",
        "!I I 0002 0019",
        "!I P C",
        "!C name                             C 0008",
        "!C id                               C 0011",
        // Values left-aligned at the sum of the widths before them, padded to the row width.
        "!D ab      1          ",
        "!I S 0000 0000 00000000          Y",
        "!Z",
        "!I S 0000 0000 00000000          Y",
        "!D 1          ",
        "!D 2          ",
        "!D 3          ",
        "!I S 0012 0000 00000001          Y",
        "!Z",
        "!I S 0000 0000 00000000          N",
        "!Z",
    };
    EXPECT_EQ(records, expected);
}

TEST_F(Zemsql, ChannelLogsInAgainAfterADroppedConnection) {
    auto out = channel({"!S S select dropped", "!Z", "!S S select small", "!Z"});
    std::vector<std::string> records;
    for (const auto& l : out)
        if (l.rfind("!M ", 0) != 0 && l.rfind("!D", 0) != 0) records.push_back(l);
    EXPECT_EQ(count_prefix(out, "!D ab"), 1) << ::testing::PrintToString(out);
    EXPECT_EQ(log_of(zovtds::LogEntry::Login).size(), 2u);
    ASSERT_GE(records.size(), 5u) << ::testing::PrintToString(out);
    EXPECT_NE(records[1].substr(0, 9), "!I S 0000") << records[1];
    EXPECT_EQ(records[4], "!I S 0000 0000 00000000          Y");
}

struct RefusedCase {
    const char* name;
    std::string request;
    const char* message;
};

// A procedure request: its text starts at byte 22.
const std::string kProc = "!S P" + std::string(18, ' ');

class ZemsqlChannelRefused : public Zemsql, public ::testing::WithParamInterface<RefusedCase> {};

// Each is answered with code 1 and nothing sent to the server; the channel goes on.
TEST_P(ZemsqlChannelRefused, CodeOne) {
    const RefusedCase& c = GetParam();
    auto out = channel({c.request, "!Z", "!S D master", "!S S select small", "!Z"});
    EXPECT_EQ(count_prefix(out, "!D "), 1) << ::testing::PrintToString(out);
    EXPECT_NE(std::find(out.begin(), out.end(), "!I S 0012 0000 00000001          Y"), out.end())
        << ::testing::PrintToString(out);
    bool logged = false;
    for (const auto& l : out) logged = logged || l.find(c.message) != std::string::npos;
    EXPECT_TRUE(logged) << ::testing::PrintToString(out);
    EXPECT_TRUE(log_of(zovtds::LogEntry::Rpc).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Zemsql, ZemsqlChannelRefused,
    ::testing::Values(
        RefusedCase{"row_wider_than_a_record", "!S S select wide", "!M "},
        RefusedCase{"procedure_name_too_long", kProc + std::string(64, 'p'), "!M JUP0004E"},
        RefusedCase{"procedure_without_a_word", kProc + "   ", "!M JUP0001E"},
        RefusedCase{"too_many_parameters",
                    kProc + "myproc 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20 21",
                    "!M JUP0002E"},
        RefusedCase{"use_name_refused", "!S D bad;name\n!S S select small", "!M ESQ0030E"}),
    case_names(&RefusedCase::name));

class ZemsqlIsql : public Zemsql {
  protected:
    void SetUp() override {
        Zemsql::SetUp();
        ocs = env.dir + "/ocs";
        rec = env.dir + "/rec";
        ASSERT_EQ(mkdir(ocs.c_str(), 0700), 0);
        ASSERT_EQ(mkdir((ocs + "/bin").c_str(), 0700), 0);
        ASSERT_EQ(mkdir(rec.c_str(), 0700), 0);
        ASSERT_EQ(symlink(ISQL_STANDIN, (ocs + "/bin/isql").c_str()), 0);
    }
    ProcRun run4(const std::string& output, const std::vector<std::string>& more = {}) {
        std::string out_file = env.dir + "/isql_out";
        std::ofstream(out_file) << output;
        std::vector<std::string> e = {"SYBASE_OCS=" + ocs, "ISQL_RECORD=" + rec,
                                      "ISQL_OUTPUT=" + out_file};
        e.insert(e.end(), more.begin(), more.end());
        return run({"4", "55"}, "", e);
    }
    std::string ocs, rec;
};

TEST_F(ZemsqlIsql, PasswordOnStandardInputOnly) {
    ProcRun r = run4("some banner\nbuffer READ BUFFER = 0x1234abcd more\nlast line\n");
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    EXPECT_EQ(r.out, "0x1234abcd  55 \n");
    std::vector<std::string> args = lines_of(read_file(rec + "/args"));
    ASSERT_EQ(args.size(), 3u);
    EXPECT_EQ(args[0], "-Usa");
    EXPECT_EQ(args[1], "-S" + env.section);
    EXPECT_EQ(args[2].rfind("-i", 0), 0u);
    // The SQL file is gone after the run.
    EXPECT_NE(access(args[2].substr(2).c_str(), F_OK), 0);
    // The password line, then the NUL the runner ends a standard-input text with.
    EXPECT_EQ(read_file(rec + "/stdin"), std::string(kPassword) + "\n" + '\0');
    std::string envs = read_file(rec + "/env");
    EXPECT_NE(envs.find("\nLD_LIBRARY_PATH=" + ocs + "/lib\n"), std::string::npos) << envs;
    EXPECT_EQ(envs.find(kPassword), envs.find("COLL_PASSWORD=") + 14);
}

TEST_F(ZemsqlIsql, LibraryPathKeepsTheOldOne) {
    ProcRun r = run4("READ BUFFER = 0x9 \nend\n", {"LD_LIBRARY_PATH=/opt/x"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::string envs = read_file(rec + "/env");
    EXPECT_NE(envs.find("\nLD_LIBRARY_PATH=" + ocs + "/lib:/opt/x\n"), std::string::npos) << envs;
}

struct IsqlCase {
    const char* name;
    const char* output;
    int status;
    const char* message;
};

class ZemsqlIsqlOutput : public ZemsqlIsql, public ::testing::WithParamInterface<IsqlCase> {};

TEST_P(ZemsqlIsqlOutput, Status) {
    const IsqlCase& c = GetParam();
    ProcRun r = run4(c.output);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Zemsql, ZemsqlIsqlOutput,
    ::testing::Values(IsqlCase{"invalid", "Msg 1\nInvalid process id\nend\n", 1, "ESQ1000E"},
                      IsqlCase{"no_output", "", 1, "ESQ1004E"},
                      IsqlCase{"last_line_taken", "nothing\naddr=0xff tail\n", 0, "0xff  55 \n"},
                      IsqlCase{"no_address", "nothing\nno equals sign\n", 1, "ESQ1008E"}),
    case_names(&IsqlCase::name));

// A failed connect says why at error level, in the message itself; no trace needed.
TEST_F(Zemsql, FailedConnectSaysWhy) {
    ClosedPort closed(env.conf_path, "CLOSED");
    ASSERT_TRUE(closed.ready());
    const struct {
        const char* name;
        std::vector<std::string> env;
        const char* message;
    } cases[] = {
        {"closed_port",
         {"COLL_SERVERID=CLOSED"},
         "Failed to open SYBASE Server connection: server unreachable (Unable to connect"},
        {"refused_login",
         {"COLL_LOGON=baduser"},
         "Failed to open SYBASE Server connection: login failed (Login failed.)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ProcRun r = run({"3", "master", "select small"}, "", c.env);
        EXPECT_EQ(r.status, 1) << r.out << r.err;
        size_t at = r.err.find("ESQ0630E (");
        ASSERT_NE(at, std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.message, at), std::string::npos) << r.err;
        EXPECT_EQ((r.out + r.err).find("Retcode"), std::string::npos);
    }
    // In channel mode the reason reaches the parent beside the failed status.
    ProcRun r = run({"I"}, "!X C\n!Z\n", {"COLL_SERVERID=CLOSED"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto out = lines_of(r.out);
    bool said = false;
    for (const auto& l : out)
        said = said || (l.rfind("!M ESQ0630E", 0) == 0 &&
                        l.find("server unreachable") != std::string::npos);
    EXPECT_TRUE(said) << ::testing::PrintToString(out);
    EXPECT_NE(std::find(out.begin(), out.end(), "!I S 0012 0000 00000001          N"), out.end())
        << ::testing::PrintToString(out);
}

struct ExitCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
    const char* message;
};

class ZemsqlExit : public Zemsql, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ZemsqlExit, Status) {
    const ExitCase& c = GetParam();
    ProcRun r = run(c.args, "", c.env);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Zemsql, ZemsqlExit,
    ::testing::Values(
        ExitCase{"only_options", {}, {}, 80, "ESQ0080E"},
        ExitCase{"server_and_password_unset",
                 {"3", "master", "select small"},
                 {"COLL_SERVERID=", "COLL_PASSWORD="},
                 1,
                 "Missing required vars (Server ID Database password ID )"},
        ExitCase{"no_process_id", {"4"}, {}, 1, "ESQ0093E"},
        ExitCase{"process_id_not_a_number", {"4", "12x"}, {}, 1, "ESQ0093E"},
        ExitCase{"unknown_call_type", {"Xyz"}, {}, 4, "ESQ0015E"},
        ExitCase{"sybase_ocs_unset", {"4", "12"}, {}, 1, "ESQ1006E"},
        ExitCase{"refused_login",
                 {"3", "master", "select small"},
                 {"COLL_LOGON=baduser"},
                 1,
                 "ESQ0630E"},
        ExitCase{"unreadable_password",
                 {"3", "master", "select small"},
                 {"COLL_PASSWORD=ABCDEF"},
                 1,
                 "ESQ0605E"},
        ExitCase{"use_name_refused", {"3", "bad;name", "select small"}, {}, 1, "ESQ0030E"}),
    case_names(&ExitCase::name));

}  // namespace
