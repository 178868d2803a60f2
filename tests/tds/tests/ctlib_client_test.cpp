// FreeTDS's Client-Library against the test server: login, a batch with two result sets
// and a return status, an RPC with parameters, server messages, a dropped connection, a
// refused login and a cancel.
#include <ctpublic.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/tds/tds_testenv.h"

namespace zovtds {
namespace {

struct Seen {
    std::vector<std::pair<int, int>> server;  // number, severity
    std::vector<int> client;                  // message numbers
};
Seen g_seen;

CS_RETCODE server_cb(CS_CONTEXT*, CS_CONNECTION*, CS_SERVERMSG* m) {
    g_seen.server.emplace_back(static_cast<int>(m->msgnumber), static_cast<int>(m->severity));
    return CS_SUCCEED;
}
CS_RETCODE client_cb(CS_CONTEXT*, CS_CONNECTION*, CS_CLIENTMSG* m) {
    g_seen.client.push_back(static_cast<int>(m->msgnumber));
    return CS_SUCCEED;
}

const char* kScenario = R"(
server TESTSERV
batch exec two_sets
  result name:varchar(20) n:int d:datetime m:money x:numeric(10,2)
  row 'alpha' 1 '2024-02-29 13:45:30.500' 12.50 -12345.67
  row NULL NULL NULL NULL NULL
  result f:float
  row 3.25
  message 2601 16 2 Attempt to insert duplicate key row
  status 5
rpc myproc 'hello rpc' @p2=42
  result x:int
  row 7
  status 3
rpc myproc
  error 2812 16 1 wrong arguments
batch select dropped
  result x:int
  row 1
  drop
batch select types
  result c:char(5) v:varchar(10) t1:tinyint t2:smallint i:int b:bigint f:float r:real \
         d:datetime sd:smalldatetime m:money sm:smallmoney x:numeric(38,4) tx:text
  row 'ab' 'xyz' 255 -32768 2147483647 -9000000000 -1.5 0.25 \
      '1900-01-01 00:00:00.003' '2079-06-06 23:59' -922337203685477.5808 -214748.3648 \
      1234567890123456789012345678901234.5678 'long text'
  result i:intn(1) f:floatn(8) d:datetimen(4) m:moneyn(8) x:numeric(5,2) c:char(3) tx:text
  row 7 2.5 '2001-02-03 04:05' 1.25 -1.5 'q' 't'
  row NULL NULL NULL NULL NULL NULL NULL
batch select many
  result x:int
  row 1
  row 2
  row 3
batch select numbered
  result n:int s:char(6)
  repeat 3
  row {i} 'r{i}'
  delay 300
  row 99 'last'
batch select counted
  result n:int total:tinyint
  row {n} {250+3n}
batch select cut
  result x:int
  row 1
  row 2
  drop
  row 3
)";

class CtlibClient : public ::testing::Test {
  protected:
    void SetUp() override {
        g_seen = {};
        std::string error;
        ASSERT_TRUE(env.start(kScenario, error)) << error;
        ASSERT_EQ(cs_ctx_alloc(CS_VERSION_100, &ctx), CS_SUCCEED);
        ASSERT_EQ(ct_init(ctx, CS_VERSION_100), CS_SUCCEED);
        ct_callback(ctx, nullptr, CS_SET, CS_SERVERMSG_CB, reinterpret_cast<CS_VOID*>(server_cb));
        ct_callback(ctx, nullptr, CS_SET, CS_CLIENTMSG_CB, reinterpret_cast<CS_VOID*>(client_cb));
    }
    void TearDown() override {
        if (conn) {
            ct_close(conn, CS_FORCE_CLOSE);
            ct_con_drop(conn);
        }
        if (ctx) {
            ct_exit(ctx, CS_FORCE_EXIT);
            cs_ctx_drop(ctx);
        }
    }
    CS_RETCODE connect(const char* user) {
        EXPECT_EQ(ct_con_alloc(ctx, &conn), CS_SUCCEED);
        ct_con_props(conn, CS_SET, CS_USERNAME, const_cast<char*>(user), CS_NULLTERM, nullptr);
        ct_con_props(conn, CS_SET, CS_PASSWORD, const_cast<char*>("secret"), CS_NULLTERM, nullptr);
        ct_con_props(conn, CS_SET, CS_APPNAME, const_cast<char*>("ctclient"), CS_NULLTERM, nullptr);
        return ct_connect(conn, const_cast<char*>("ZOVTDS"), CS_NULLTERM);
    }
    // Allocates a language command with this text and sends it.
    void send_language(const char* text, CS_COMMAND** cmd) {
        ASSERT_EQ(ct_cmd_alloc(conn, cmd), CS_SUCCEED);
        ct_command(*cmd, CS_LANG_CMD, const_cast<char*>(text), CS_NULLTERM, CS_UNUSED);
        ASSERT_EQ(ct_send(*cmd), CS_SUCCEED);
    }
    // Runs the command and returns the sequence of result types and fetched rows as text.
    std::string run(CS_COMMAND* cmd) {
        std::string trail;
        CS_INT type = 0;
        CS_RETCODE rc;
        while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
            switch (type) {
                case CS_ROW_RESULT:
                case CS_STATUS_RESULT:
                case CS_PARAM_RESULT: {
                    trail += type == CS_ROW_RESULT      ? "rows["
                             : type == CS_STATUS_RESULT ? "status["
                                                        : "params[";
                    CS_INT n = 0;
                    ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr);
                    std::vector<std::string> bufs(static_cast<size_t>(n), std::string(64, '\0'));
                    std::vector<CS_INT> lens(static_cast<size_t>(n));
                    std::vector<CS_SMALLINT> inds(static_cast<size_t>(n));
                    for (CS_INT i = 0; i < n; ++i) {
                        CS_DATAFMT f{};
                        f.datatype = CS_CHAR_TYPE;
                        f.format = CS_FMT_NULLTERM;
                        f.maxlength = 64;
                        f.count = 1;
                        ct_bind(cmd, i + 1, &f, bufs[static_cast<size_t>(i)].data(),
                                &lens[static_cast<size_t>(i)], &inds[static_cast<size_t>(i)]);
                    }
                    CS_INT count = 0;
                    while (ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &count) == CS_SUCCEED) {
                        trail += "(";
                        for (CS_INT i = 0; i < n; ++i) {
                            trail += i ? "," : "";
                            trail += inds[static_cast<size_t>(i)] == -1
                                         ? "NULL"
                                         : bufs[static_cast<size_t>(i)].c_str();
                        }
                        trail += ")";
                    }
                    trail += "] ";
                    break;
                }
                case CS_CMD_SUCCEED:
                    trail += "succeed ";
                    break;
                case CS_CMD_DONE:
                    trail += "done ";
                    break;
                case CS_CMD_FAIL:
                    trail += "fail ";
                    break;
                default:
                    trail += "type" + std::to_string(type) + " ";
                    break;
            }
        }
        trail += rc == CS_END_RESULTS ? "end" : "rc" + std::to_string(rc);
        return trail;
    }
    TestEnv env;
    CS_CONTEXT* ctx = nullptr;
    CS_CONNECTION* conn = nullptr;
};

TEST_F(CtlibClient, LoginIsLoggedWithUserApplicationAndHost) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    auto log = env.server.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log[0].kind, LogEntry::Login);
    EXPECT_EQ(log[0].user, "sa");
    EXPECT_EQ(log[0].password, "secret");
    EXPECT_EQ(log[0].app, "ctclient");
    char host[256] = "";
    gethostname(host, sizeof host);
    EXPECT_EQ(log[0].host, std::string(host).substr(0, 30));
    EXPECT_EQ(log_line(log[0]).find("secret"), std::string::npos);
}

TEST_F(CtlibClient, BatchWithTwoResultSetsStatusAndMessage) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_EQ(ct_cmd_alloc(conn, &cmd), CS_SUCCEED);
    ASSERT_EQ(ct_command(cmd, CS_LANG_CMD, const_cast<char*>("exec   two_sets\n"), CS_NULLTERM,
                         CS_UNUSED),
              CS_SUCCEED);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    EXPECT_EQ(
        run(cmd),
        "rows[(alpha,1,Feb 29 2024 01:45PM,12.5000,-12345.67)(NULL,NULL,NULL,NULL,NULL)] done "
        "rows[(3.25)] done status[(5)] succeed done succeed done end");
    ct_cmd_drop(cmd);
    ASSERT_EQ(g_seen.server.size(), 1u);
    EXPECT_EQ(g_seen.server[0], std::make_pair(2601, 16));
}

TEST_F(CtlibClient, EveryTypeAndNull) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_NO_FATAL_FAILURE(send_language("select types", &cmd));
    EXPECT_EQ(run(cmd),
              "rows[(ab,xyz,255,-32768,2147483647,-9000000000,-1.5,0.25,Jan  1 1900 12:00AM,"
              "Jun  6 2079 11:59PM,-922337203685477.5808,-214748.3648,"
              "1234567890123456789012345678901234.5678,long text)] done "
              "rows[(7,2.5,Feb  3 2001 04:05AM,1.2500,-1.50,q,t)"
              "(NULL,NULL,NULL,NULL,NULL,NULL,NULL)] done end");
    ct_cmd_drop(cmd);
}

TEST_F(CtlibClient, ProcedureCallWithParameters) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_EQ(ct_cmd_alloc(conn, &cmd), CS_SUCCEED);
    ASSERT_EQ(
        ct_command(cmd, CS_RPC_CMD, const_cast<char*>("myproc"), CS_NULLTERM, CS_NO_RECOMPILE),
        CS_SUCCEED);
    CS_DATAFMT f{};
    f.datatype = CS_CHAR_TYPE;
    f.maxlength = 9;
    f.status = CS_INPUTVALUE;
    ct_param(cmd, &f, const_cast<char*>("hello rpc"), 9, 0);
    CS_DATAFMT g{};
    strcpy(g.name, "@p2");
    g.namelen = 3;
    g.datatype = CS_INT_TYPE;
    g.status = CS_INPUTVALUE;
    CS_INT v = 42;
    ct_param(cmd, &g, &v, sizeof v, 0);
    ASSERT_EQ(ct_send(cmd), CS_SUCCEED);
    EXPECT_EQ(run(cmd), "rows[(7)] done status[(3)] succeed done end");
    ct_cmd_drop(cmd);
    auto log = env.server.log();
    ASSERT_EQ(log.back().kind, LogEntry::Rpc);
    EXPECT_EQ(log_line(log.back()), "rpc conn=1 myproc 'hello rpc' @p2='42'");
}

TEST_F(CtlibClient, DroppedConnectionFailsTheCommand) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_NO_FATAL_FAILURE(send_language("select dropped", &cmd));
    std::string trail = run(cmd);
    EXPECT_NE(trail.substr(trail.size() - 3), "end") << trail;
    EXPECT_FALSE(g_seen.client.empty());
    ct_cmd_drop(cmd);
}

TEST_F(CtlibClient, RepeatedRowsAndAPauseBetweenRows) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_NO_FATAL_FAILURE(send_language("select numbered", &cmd));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(run(cmd), "rows[(0,r0)(1,r1)(2,r2)(99,last)] done end");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    ct_cmd_drop(cmd);
}

// Each answer of an entry counts on; a value that outgrows its column ends the result with
// an error instead of a broken row.
TEST_F(CtlibClient, AnswerNumbersCountOnAndAnOverflowIsAnError) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    for (const char* want : {"rows[(1,253)] done end", "fail done end"}) {
        CS_COMMAND* cmd = nullptr;
        ASSERT_NO_FATAL_FAILURE(send_language("select counted", &cmd));
        const std::string trail = run(cmd);
        EXPECT_NE(trail.find(want), std::string::npos) << trail;
        ct_cmd_drop(cmd);
    }
    EXPECT_EQ(g_seen.server, (std::vector<std::pair<int, int>>{{99003, 16}}));
}

// A connection cut between rows: the rows sent arrive, then the fetch fails (no DONE came).
TEST_F(CtlibClient, ADropBetweenRowsFailsTheFetch) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_NO_FATAL_FAILURE(send_language("select cut", &cmd));
    const std::string trail = run(cmd);
    EXPECT_EQ(trail.substr(0, 12), "rows[(1)(2)]") << trail;
    EXPECT_EQ(trail.find("done"), std::string::npos) << trail;
    EXPECT_FALSE(g_seen.client.empty());
    ct_cmd_drop(cmd);
}

// The server keeps no transactions: begin, commit and rollback succeed as outside one.
TEST_F(CtlibClient, TransactionStatementsAreAnsweredByTheServer) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    for (const char* text : {"begin tran", "commit", "COMMIT TRANSACTION", "rollback tran t1"}) {
        CS_COMMAND* cmd = nullptr;
        ASSERT_NO_FATAL_FAILURE(send_language(text, &cmd));
        EXPECT_EQ(run(cmd), "succeed done end") << text;
        ct_cmd_drop(cmd);
    }
    EXPECT_TRUE(g_seen.server.empty());
}

TEST_F(CtlibClient, RefusedLoginFails) {
    std::string error;
    ASSERT_TRUE(env.set_scenario("login refuse baduser\n", error)) << error;
    EXPECT_EQ(connect("baduser"), CS_FAIL);
    ASSERT_FALSE(g_seen.server.empty());
    EXPECT_EQ(g_seen.server[0].first, 4002);
    EXPECT_EQ(env.server.log()[0].kind, LogEntry::LoginRefused);
}

TEST_F(CtlibClient, CancelIsAcknowledgedAndTheConnectionGoesOn) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_NO_FATAL_FAILURE(send_language("select many", &cmd));
    CS_INT type = 0;
    ASSERT_EQ(ct_results(cmd, &type), CS_SUCCEED);
    EXPECT_EQ(type, CS_ROW_RESULT);
    EXPECT_EQ(ct_cancel(nullptr, cmd, CS_CANCEL_ALL), CS_SUCCEED);
    EXPECT_TRUE(env.server.wait_for(
        [](const std::vector<LogEntry>& l) {
            return !l.empty() && l.back().kind == LogEntry::Attention;
        },
        2000));
    ct_cmd_drop(cmd);
    ASSERT_NO_FATAL_FAILURE(send_language("select many", &cmd));
    EXPECT_EQ(run(cmd), "rows[(1)(2)(3)] done end");
    ct_cmd_drop(cmd);
}

TEST_F(CtlibClient, UnknownStatementGetsAnErrorMessage) {
    ASSERT_EQ(connect("sa"), CS_SUCCEED);
    CS_COMMAND* cmd = nullptr;
    ASSERT_NO_FATAL_FAILURE(send_language("select nothing known", &cmd));
    EXPECT_EQ(run(cmd), "fail done end");
    ct_cmd_drop(cmd);
    ASSERT_EQ(g_seen.server.size(), 1u);
    EXPECT_EQ(g_seen.server[0].second, 16);
}

}  // namespace
}  // namespace zovtds
