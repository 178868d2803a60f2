// zem2sql as a process against the scripted TDS server, with real DB-Library. The password
// travels only in COLL_PASSWORD and must appear in no output and no server log line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
rpc sp_spaceused
  result database_name:varchar(30) database_size:varchar(20)
  row 'whatever' '2.5 MB'
  result reserved:varchar(20) data:varchar(20) index_size:varchar(20) unused:varchar(20)
  row '1024 KB' '512 KB' '256 KB' '100 KB'
rpc sp_helpdb master
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'master' '2.5 MB' 'sa' 1
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:int
  row 'master' '2.5 MB' 'data and log' 1000
rpc sp_helpdb tempdb
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'tempdb' '4.0 MB' 'sa' 2
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:int
  row 'tempdev' '2.0 MB' 'data only' 300
  row 'templog' '512 KB' 'log only' 200
rpc sp_helpdb
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'pubs' '10.0 MB' 'sa' 4
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:int
  row 'pubsdev' '10.0 MB' 'data and log' 5000
batch select * from t
  result a:varchar(20) b:int c:smalldatetime d:smallmoney e:bigint f:numeric(10,2)
  row 'x y' 42 '2024-02-29 13:45' 12.5 9000000000 -12345.67
  row 'NLTAB' NULL NULL NULL NULL NULL
rpc manyparms
  result n:int
  row 25
rpc myproc p1 'p 2'
  result a:varchar(20) b:int
  row 'one two' 7
  row 'NLTAB' NULL
  status 3
batch select small
  result name:varchar(8) id:int flag:tinyint big:bigint
  row 'ab' 1 2 3
batch select two_sets
  result n:int
  row 1
  row 2
  row 3
  row 4
  row 5
  result m:int
  row 6
  row 7
  row 8
  row 9
  row 10
batch select dropped
  result x:int
  row 1
  drop
)";

// The scenario above with a value holding a newline and a TAB in place of NLTAB, and a
// set of 3001 rows for "select many".
zovtds::Scenario scenario() {
    std::string text = kScenario;
    text += "batch select many\n  result n:int\n";
    for (int i = 1; i <= 3001; ++i) text += "  row " + std::to_string(i) + "\n";
    // Twelve columns of 255 characters: wider than a record.
    text += "batch select wide\n  result";
    for (int i = 1; i <= 12; ++i) text += " c" + std::to_string(i) + ":varchar(255)";
    text += "\n  row";
    for (int i = 1; i <= 12; ++i) text += " 'v'";
    text += "\n";
    // Two text values longer than a stored value holds.
    text += "batch select long\n  result t:text\n  row '" + std::string(1100, 'x') + "'\n  row '" +
            std::string(1030, 'y') + "'\n";
    text += "batch select slow\n  delay 4000\n  result x:int\n  row 1\n";
    zovtds::Scenario sc;
    std::string error;
    EXPECT_TRUE(zovtds::parse_scenario(text, sc, error)) << error;
    for (auto& e : sc.entries)
        for (auto& st : e.answer.steps)
            for (auto& row : st.rows)
                for (auto& v : row)
                    if (v.text == "NLTAB") v.text = "ab\ncd\tef";
    return sc;
}

using ProcRun = testprog::program_result;
using testprog::lines_of;

class Zem2sql : public testprog::dbaccess_test {
  protected:
    Zem2sql() : dbaccess_test({ZEM2SQL_PATH, "zem2sql", {}, 1, scenario}) {}
};

TEST_F(Zem2sql, SpaceReportOverTwoDatabases) {
    ProcRun r = run({"1", "x", "sp_helpdb", "master", "tempdb"});
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    // "2.5 MB" is 2560 kilobytes; totalfree is the size of sp_spaceused plus its unused;
    // then its data and index sizes.
    EXPECT_EQ(lines_of(r.out), (std::vector<std::string>{
                                   "master 1 2560 2560 1000 1000 1 2660 512 256",
                                   "tempdb 2 512 2048 200 300 0 2660 512 256",
                               }));
    std::vector<std::string> calls;
    for (const auto& e : env.server.log()) {
        if (e.kind == zovtds::LogEntry::Rpc)
            calls.push_back("rpc " + e.text + (e.params.empty() ? "" : " " + e.params[0].value));
        else if (e.kind == zovtds::LogEntry::Batch && e.text.rfind("use", 0) == 0)
            calls.push_back(e.text);
    }
    EXPECT_EQ(calls, (std::vector<std::string>{"use [master]", "rpc sp_spaceused",
                                               "rpc sp_helpdb master", "use [tempdb]",
                                               "rpc sp_spaceused", "rpc sp_helpdb tempdb"}));
}

TEST_F(Zem2sql, SpaceReportOfTheWholeServer) {
    ProcRun r = run({"1", "x", "sp_helpdb"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "pubs 4 10240 10240 5000 5000 1 0 0 0\n");
}

TEST_F(Zem2sql, SqlBatchPrintsEveryTypeAsText) {
    ProcRun r = run({"3", "master", "select * from t"});
    EXPECT_EQ(r.status, 0) << r.err;
    auto b = [](int n) { return std::string(static_cast<size_t>(n), ' '); };
    // Layout 3: quoted when holding a blank, right-aligned converted values, the newline and
    // TAB of a value as blanks, a NULL as one blank.
    EXPECT_EQ(
        lines_of(r.out),
        (std::vector<std::string>{
            "\"x y\" " + b(11) + "42 \"Feb 29 2024  1:45:00:000PM\" " + b(19) + "12.5000 " + b(12) +
                "9000000000 " + b(5) + "-12345.67 ",
            "\"ab cd ef\" " + b(13) + " " + b(28) + " " + b(26) + " " + b(22) + " " + b(14) + " ",
        }));
}

TEST_F(Zem2sql, ProcedurePrintsItsRowsAndStatus) {
    ProcRun r = run({"2", "master", "myproc", "p1", "'p 2'"});
    EXPECT_EQ(r.status, 0) << r.err << r.out;
    std::vector<std::string> out = lines_of(r.out);
    ASSERT_EQ(out.size(), 3u) << r.out;
    EXPECT_NE(out[0].find("RPC returned a status of: 3"), std::string::npos) << out[0];
    auto b = [](int n) { return std::string(static_cast<size_t>(n), ' '); };
    EXPECT_EQ(out[1], "one two" + b(13) + " " + b(10) + "7 ");
    EXPECT_EQ(out[2], "ab cd ef" + b(12) + " " + b(11) + " ");
    const std::vector<zovtds::LogEntry> rpcs = env.server.log();
    const zovtds::LogEntry* call = zovtds::last_rpc(rpcs, "myproc");
    ASSERT_NE(call, nullptr);
    ASSERT_EQ(call->params.size(), 2u);
    EXPECT_EQ(call->params[1].value, "p 2");
}

// Call type 2 sends every operand after the procedure name, beyond 20 too.
TEST_F(Zem2sql, ProcedureTakesEveryOperandAsAParameter) {
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

TEST_F(Zem2sql, ChannelHeadersAndRowLimits) {
    auto out = channel(
        {"!X X", "!S S select small", "!Z", "!X R 2", "!S S select two_sets", "!Z", "!X S", "!Z"});
    std::vector<std::string> expected = {
        "!I S 0000 0000 00000000          Y",
        "!I I 0004 0042",
        "!I P C",
        "!C name                             C 0008",
        "!C id                               I 0011",
        "!C flag                             I 0003",
        "!C big                              C 0020",
        "!D ab                1  2                   3",
        "!I S 0000 0000 00000000          Y",
        "!Z",
        "!I S 0000 0000 00000000          Y",
        "!D           1",
        "!D           2",
        "!D           6",
        "!D           7",
        "!I S 0000 0000 00000000          Y",
        "!Z",
        "!I S 0000 0000 00000000          N",
        "!Z",
    };
    EXPECT_EQ(out, expected);
}

TEST_F(Zem2sql, ChannelRowStoreLimit) {
    auto out = channel({"!X R 1000", "!S S select many", "!Z", "!S S select many", "!Z"});
    EXPECT_EQ(count_prefix(out, "!D "), 1000);
    ASSERT_GE(out.size(), 4u);
    // The second request: sdu0830 naming the limit, code 3, no rows.
    std::vector<std::string> tail(out.begin() + 1002, out.end());
    EXPECT_EQ(count_prefix(tail, "!D "), 0);
    EXPECT_EQ(count_prefix(tail, "!M SDU0830E"), 1) << ::testing::PrintToString(tail);
    EXPECT_NE(std::find(tail.begin(), tail.end(), "!I S 0012 0000 00000003          Y"), tail.end())
        << ::testing::PrintToString(tail);
    EXPECT_EQ(out[1001], "!I S 0000 0000 00000000          Y");
}

TEST_F(Zem2sql, ChannelLogsInAgainAfterADroppedConnection) {
    auto out = channel({"!S S select dropped", "!Z", "!S S select small", "!Z"});
    std::vector<std::string> records;
    for (const auto& l : out)
        if (l.rfind("!M ", 0) != 0) records.push_back(l);
    EXPECT_EQ(records, (std::vector<std::string>{
                           "!I S 0000 0000 00000000          Y",
                           "!I S 0012 0000 00000006          Y",
                           "!Z",
                           "!I S 0000 0000 00000000          Y",
                           "!D ab                1  2                   3",
                           "!I S 0000 0000 00000000          Y",
                           "!Z",
                       }));
    EXPECT_EQ(log_of(zovtds::LogEntry::Login).size(), 2u);
}

TEST_F(Zem2sql, RefusedLoginIsRetriedWithAWarning) {
    ProcRun r = run({"3", "master", "select small"}, "", {"COLL_LOGON=baduser"});
    // The retry without user and password (a trusted login) is refused here too.
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.out.find("SDU0906W"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Login as baduser refused"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("SDU0915E"), std::string::npos) << r.err;
    int refused = 0;
    for (const auto& e : env.server.log()) {
        EXPECT_NE(e.kind, zovtds::LogEntry::Login);
        if (e.kind == zovtds::LogEntry::LoginRefused) {
            ++refused;
            EXPECT_TRUE(e.user == "baduser" || e.user.empty()) << e.user;
        }
    }
    EXPECT_GE(refused, 1);
}

// A channel procedure of more than 20 parameters is refused whole, nothing sent.
TEST_F(Zem2sql, ChannelRefusesAProcedureOfMoreThanTwentyParameters) {
    std::string text = "manyparms";
    for (int i = 1; i <= 21; ++i) text += " " + std::to_string(i);
    auto out = channel({"!S P" + std::string(18, ' ') + text, "!Z"});
    EXPECT_EQ(count_prefix(out, "!M SDB0002E"), 1) << ::testing::PrintToString(out);
    EXPECT_EQ(count_prefix(out, "!D "), 0);
    EXPECT_NE(std::find(out.begin(), out.end(), "!I S 0012 0000 00000001          Y"), out.end())
        << ::testing::PrintToString(out);
    EXPECT_TRUE(log_of(zovtds::LogEntry::Rpc).empty());
}

TEST_F(Zem2sql, ChannelRefusesARowWiderThanARecord) {
    auto out = channel({"!S S select wide", "!Z"});
    EXPECT_EQ(count_prefix(out, "!D "), 0);
    EXPECT_EQ(count_prefix(out, "!M SDB0720E"), 1) << ::testing::PrintToString(out);
    EXPECT_NE(std::find(out.begin(), out.end(), "!I S 0012 0000 00000001          Y"), out.end())
        << ::testing::PrintToString(out);
}

TEST_F(Zem2sql, LongTextIsCutWithOneWarning) {
    ProcRun r = run({"3", "master", "select long"});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> out;
    int warnings = 0;
    for (const auto& l : lines_of(r.out)) {
        if (l.rfind("SDU0835W", 0) == 0)
            ++warnings;
        else
            out.push_back(l);
    }
    EXPECT_EQ(warnings, 1) << r.out.substr(0, 200);
    EXPECT_EQ(out, (std::vector<std::string>{std::string(1024, 'x') + " ",
                                             std::string(1024, 'y') + " "}));
}

// Why a login failed is said at error level; only a refused login is tried again without
// user and password.
TEST_F(Zem2sql, FailedLoginSaysWhy) {
    ClosedPort closed(env.conf_path, "CLOSED");
    ASSERT_TRUE(closed.ready());
    ProcRun r = run({"3", "master", "select small"}, "", {"COLL_SERVERID=CLOSED"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("SDU0907E"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Login to CLOSED failed: server unreachable (Unable to connect"),
              std::string::npos)
        << r.err;
    EXPECT_EQ((r.out + r.err).find("SDU0906"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("SDU0915E"), std::string::npos) << r.err;

    // A login the server breaks off is no refusal either: one try.
    zovtds::Scenario sc = scenario();
    sc.login_drop = true;
    env.server.set_scenario(sc);
    r = run({"3", "master", "select small"});
    EXPECT_EQ(r.status, 2) << r.out << r.err;
    EXPECT_NE(r.err.find("SDU0907E"), std::string::npos) << r.err;
    EXPECT_EQ((r.out + r.err).find("SDU0906"), std::string::npos) << r.out;
    EXPECT_EQ(log_of(zovtds::LogEntry::Login).size(), 1u);
}

struct ExitCase {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> env;
    int status;
    const char* message;  // in the output, null: nothing printed
};

class Zem2sqlExit : public Zem2sql, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(Zem2sqlExit, Status) {
    const ExitCase& c = GetParam();
    if (std::string(c.name) == "refused_login") {
        zovtds::Scenario sc = scenario();
        sc.refuse_all = true;
        env.server.set_scenario(sc);
    }
    ProcRun r = run(c.args, "", c.env);
    EXPECT_EQ(r.status, c.status) << r.out << r.err;
    if (c.message)
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
    else
        EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Zem2sql, Zem2sqlExit,
    ::testing::Values(
        ExitCase{"no_operand", {}, {}, 4, "SDB0150E"},
        ExitCase{"unknown_call_type", {"Xyz"}, {}, 4, "SDB0150E"},
        ExitCase{"V", {"V"}, {}, 1, nullptr},
        ExitCase{"missing_server_id",
                 {"3", "master", "select small"},
                 {"COLL_SERVERID="},
                 1,
                 "SDB0107E"},
        ExitCase{"refused_login", {"3", "master", "select small"}, {}, 2, "SDU0915E"},
        ExitCase{"row_store_full", {"3", "master", "select many"}, {}, 3, "SDU0830E"},
        ExitCase{"unreadable_password",
                 {"3", "master", "select small"},
                 {"COLL_PASSWORD=ABCDEF"},
                 2,
                 "SDU0912E"},
        ExitCase{"use_name_refused", {"3", "bad;name", "select small"}, {}, 1, "SDU0205E"},
        ExitCase{"too_many_operands",
                 [] {
                     std::vector<std::string> w = {"3", "master"};
                     w.resize(99, "select small");
                     return w;
                 }(),
                 {},
                 4,
                 "SDB0109E"},
        // A query time-out leaves FreeTDS's connection dead: code 6.
        ExitCase{
            "query_time_out", {"3", "master", "select slow"}, {"COLL_DB_TIMEOUT=1"}, 6, "20003"}),
    case_names(&ExitCase::name));

}  // namespace
