// The Client-Library layer against the scripted test server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "acquire/ctlib/zemctutl.h"
#include "runtime/msg.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"
#include "tests/tds/tds_testenv.h"

namespace {

using zovtds::LogEntry;

const char* kScenario = R"(
server TESTSERV
batch update t set x = 1
batch select x from t
  result x:int name:varchar(12)
  row 1 'alpha'
  row 2 NULL
batch exec p
  status 4
batch select missing
  error 208 16 1 missing not found.
batch print info
  message 5701 10 1 Changed database context.
batch print warning
  message 2601 16 2 Attempt to insert duplicate key row
batch select slow
  delay 20000
  result x:int
  row 1
)";

class Zemct : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env.start(kScenario, error)) << error;
        ASSERT_EQ(zem_init(&ctx), CS_SUCCEED);
    }
    void TearDown() override {
        if (conn) zem_con_cleanup(conn, 1);
        if (ctx) zem_ctx_cleanup(ctx, 1);
        unsetenv("COLL_DB_TIMEOUT");
    }
    void connect() {
        ASSERT_EQ(zem_connect(ctx, &conn, "zemtest", "sa", "secret", "ZOVTDS"), CS_SUCCEED);
        ASSERT_NE(conn, nullptr);
    }
    int count(LogEntry::Kind kind) {
        int n = 0;
        for (const auto& e : env.server.log()) n += e.kind == kind;
        return n;
    }
    zovtds::TestEnv env;
    LogCapture log;
    CS_CONTEXT* ctx = nullptr;
    CS_CONNECTION* conn = nullptr;
};

TEST(ZemctTables, ConvertRetcode) {
    const struct {
        CS_RETCODE rc;
        int expected;
    } cases[] = {
        {CS_SUCCEED, 0},   {CS_END_DATA, 0}, {CS_END_RESULTS, 0}, {CS_FATAL, 2},
        {CS_INTERRUPT, 2}, {CS_BUSY, 2},     {CS_PENDING, 2},     {CS_FAIL, 1},
        {CS_CANCELED, 1},  {CS_ROW_FAIL, 1}, {12345, 1},
    };
    for (const auto& c : cases) EXPECT_EQ(zem_convert_retcode(c.rc), c.expected) << c.rc;
}

// The messages a failure brings, in the order the library gives them, and what the fault
// record keeps: a time-out over the connection loss it causes, a refusal over what follows.
TEST(ZemctTables, FaultRecordKeepsTheTellingMessage) {
    struct message {
        bool server;
        CS_INT number;
        const char* text;
    };
    const struct {
        const char* name;
        bool login;
        std::vector<message> messages;
        zem_fault_kind kind;
        const char* text;
    } cases[] = {
        {"stalled login",
         true,
         {{false, 20003, "Adaptive Server connection timed out"},
          {false, 20017, "Unexpected EOF from the server"},
          {false, 20002, "Adaptive Server connection failed"}},
         zem_fault_timeout,
         "Adaptive Server connection timed out"},
        {"refused login",
         true,
         {{true, 4002, "Login failed."}, {false, 20002, "Adaptive Server connection failed"}},
         zem_fault_refused,
         "Login failed."},
        {"no server",
         true,
         {{false, 20009, "Unable to connect: Adaptive Server is unavailable or does not exist"}},
         zem_fault_unreachable,
         "Unable to connect: Adaptive Server is unavailable or does not exist"},
        {"login dropped",
         true,
         {{false, 20017, "Unexpected EOF from the server"}},
         zem_fault_unreachable,
         "Unexpected EOF from the server"},
        {"dropped later",
         false,
         {{false, 20017, "Unexpected EOF from the server"},
          {false, 20006, "Write to the server failed"}},
         zem_fault_dropped,
         "Unexpected EOF from the server"},
        {"server error", false, {{true, 208, "t not found."}}, zem_fault_none, ""},
    };
    for (const auto& k : cases) {
        zem_fault_clear();
        zem_login_pending = k.login;
        for (const message& m : k.messages) {
            if (m.server)
                zem_fault_note_server(m.number, m.text);
            else
                zem_fault_note_client(m.number, m.text, nullptr);
        }
        zem_login_pending = false;
        EXPECT_EQ(zem_fault(), k.kind) << k.name;
        EXPECT_STREQ(zem_fault_text(), k.text) << k.name;
    }
    zem_fault_clear();
}

TEST(ZemctTables, DisplayWidth) {
    const struct {
        CS_INT type;
        CS_INT maxlength;
        const char* name;
        CS_INT expected;
    } cases[] = {
        {CS_CHAR_TYPE, 20, "c", 20},
        {CS_VARCHAR_TYPE, 5000, "c", 1024},
        {CS_TEXT_TYPE, 32768, "c", 1024},
        {CS_IMAGE_TYPE, 10, "c", 10},
        {CS_BINARY_TYPE, 8, "b", 18},
        {CS_VARBINARY_TYPE, 2000, "b", 1024},
        {CS_TINYINT_TYPE, 1, "t", 3},
        {CS_BIT_TYPE, 1, "b", 3},
        {CS_SMALLINT_TYPE, 2, "s", 6},
        {CS_INT_TYPE, 4, "i", 11},
        {CS_REAL_TYPE, 4, "r", 20},
        {CS_FLOAT_TYPE, 8, "f", 24},
        {CS_BIGINT_TYPE, 8, "b", 20},
        {CS_UBIGINT_TYPE, 8, "u", 20},
        {CS_UINT_TYPE, 4, "u", 20},
        {CS_DATE_TYPE, 4, "d", 30},
        {CS_TIME_TYPE, 4, "t", 30},
        {CS_BIGDATETIME_TYPE, 8, "d", 30},
        {CS_DATETIME_TYPE, 8, "d", 30},
        {CS_DATETIME4_TYPE, 4, "d", 30},
        {CS_MONEY_TYPE, 8, "m", 24},
        {CS_MONEY4_TYPE, 4, "m", 24},
        {CS_NUMERIC_TYPE, 35, "n", 79},
        {CS_DECIMAL_TYPE, 35, "n", 79},
        {CS_LONGCHAR_TYPE, 100, "l", 100},
        {CS_LONGCHAR_TYPE, 4000, "l", 1024},
        {CS_LONGBINARY_TYPE, 100, "l", 12},
        // A name longer than the type's width makes the column as wide as the name + 1.
        {CS_INT_TYPE, 4, "a_rather_long_name", 19},
        {CS_CHAR_TYPE, 0, "", 1},
    };
    for (const auto& c : cases) {
        CS_DATAFMT f{};
        f.datatype = c.type;
        f.maxlength = c.maxlength;
        snprintf(f.name, sizeof f.name, "%s", c.name);
        f.namelen = static_cast<CS_INT>(strlen(c.name));
        EXPECT_EQ(zem_display_dlen(&f), c.expected) << "type " << c.type << " name " << c.name;
    }
}

TEST(ZemctTables, TimeoutFromTheEnvironment) {
    const struct {
        const char* value;
        int expected;
    } cases[] = {{nullptr, 60}, {"", 60}, {"5", 5}, {"0", 0}, {"-3", 0}, {"abc", 60}, {"7x", 60}};
    for (const auto& c : cases) {
        if (c.value)
            setenv("COLL_DB_TIMEOUT", c.value, 1);
        else
            unsetenv("COLL_DB_TIMEOUT");
        EXPECT_EQ(zem_db_timeout(), c.expected) << (c.value ? c.value : "unset");
    }
    unsetenv("COLL_DB_TIMEOUT");
}

TEST_F(Zemct, ExecuteCmdCases) {
    connect();
    const struct {
        const char* text;
        int expected;
        bool cancelled;  // the rest of the answer was cancelled with an attention
    } cases[] = {
        {"update t set x = 1", 1, false},  // DONE only
        {"select x from t", 0, true},      // rows are no success here: cancelled
        {"exec p", 1, false},              // a return status alone is discarded
        {"select missing", 0, false},      // the server's error
        {"update t set x = 1", 1, false},  // and the connection goes on
    };
    for (const auto& c : cases) {
        int attentions = count(LogEntry::Attention);
        EXPECT_EQ(zem_execute_cmd(conn, c.text), c.expected) << c.text;
        EXPECT_EQ(count(LogEntry::Attention) - attentions, c.cancelled ? 1 : 0) << c.text;
        std::string last;
        for (const auto& e : env.server.log())
            if (e.kind == LogEntry::Batch) last = e.text;
        EXPECT_EQ(last, c.text);
    }
    EXPECT_TRUE(log.has("208, Severity: 16")) << log.text();
}

TEST_F(Zemct, ExecuteCmdOnNullConnectionSendsNothing) {
    connect();
    size_t before = env.server.log().size();
    EXPECT_EQ(zem_execute_cmd(nullptr, "update t set x = 1"), 1);
    EXPECT_EQ(zem_execute_cmd_show(nullptr, "select x from t"), 1);
    EXPECT_EQ(env.server.log().size(), before);
    EXPECT_TRUE(log.has("connection not established")) << log.text();
}

TEST_F(Zemct, ExecuteCmdShowPrintsTheRows) {
    connect();
    testing::internal::CaptureStdout();
    int rc = zem_execute_cmd_show(conn, "select x from t");
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(rc, 1);
    // Columns as wide as their display width (int 11, varchar(12) 12) plus the NUL's
    // place; a NULL shows as an empty value, not as the previous row's.
    EXPECT_EQ(out,
              "\n"
              "x           name         \n"
              "----------- ------------ \n"
              "1           alpha\n"
              "2           \n"
              "-------- All done processing rows. -------\n");
    EXPECT_EQ(zem_execute_cmd_show(conn, "exec p"), 1);
    EXPECT_EQ(zem_execute_cmd_show(conn, "select missing"), 0);
}

TEST_F(Zemct, DisplayColumnConvertsAndPads) {
    CS_DATAFMT f{};
    f.datatype = CS_INT_TYPE;
    f.maxlength = 4;
    strcpy(f.name, "n");
    CS_INT v = 42;
    CS_FLOAT d = 2.5;
    CS_DATAFMT g = f;
    g.datatype = CS_FLOAT_TYPE;
    g.maxlength = 8;
    testing::internal::CaptureStdout();
    zem_display_column(ctx, &f, &v, sizeof v, 0);
    zem_display_column(ctx, &f, &v, sizeof v, -1);
    zem_display_column(ctx, &g, &d, sizeof d, 0);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "42         NULL       2.5                     ");
}

TEST_F(Zemct, UseDatabase) {
    connect();
    EXPECT_EQ(zem_use_db(conn, "tempdb"), 1);
    EXPECT_EQ(env.server.log().back().text, "use tempdb\n");
    std::string long_name(ZEM_BUFSIZE, 'x');
    size_t before = env.server.log().size();
    EXPECT_EQ(zem_use_db(conn, long_name.c_str()), 0);
    EXPECT_EQ(env.server.log().size(), before);  // refused, not cut
}

TEST_F(Zemct, ConnectPassesTheLoginAndThePlainPassword) {
    connect();
    auto l = env.server.log();
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l[0].user, "sa");
    EXPECT_EQ(l[0].app, "zemtest");
    EXPECT_EQ(l[0].password, "secret");
    EXPECT_FALSE(log.has("secret"));
}

TEST_F(Zemct, EmptyStoredPasswordSetsNoPassword) {
    ASSERT_EQ(zem_connect(ctx, &conn, nullptr, "sa", "", "ZOVTDS"), CS_SUCCEED);
    auto l = env.server.log();
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l[0].password, "");
    EXPECT_EQ(l[0].app, "");
}

TEST_F(Zemct, UnreadableStoredPasswordFailsTheConnect) {
    const char* stored = "0123456789ABCDEF";  // hexadecimal, but no valid scrambled form
    EXPECT_NE(zem_connect(ctx, &conn, "zemtest", "sa", stored, "ZOVTDS"), CS_SUCCEED);
    EXPECT_EQ(conn, nullptr);
    EXPECT_TRUE(env.server.log().empty());  // nothing was sent
    EXPECT_TRUE(log.has("cannot be read")) << log.text();
    EXPECT_FALSE(log.has(stored));
}

TEST_F(Zemct, RefusedLoginLeavesNoHandle) {
    std::string error;
    ASSERT_TRUE(env.set_scenario("login refuse\n", error)) << error;
    EXPECT_EQ(zem_connect(ctx, &conn, "zemtest", "sa", "secret", "ZOVTDS"), CS_FAIL);
    EXPECT_EQ(conn, nullptr);
    EXPECT_TRUE(log.has("Failed to open SYBASE Server connection")) << log.text();
    EXPECT_TRUE(log.has("4002, Severity: 14")) << log.text();
}

TEST_F(Zemct, ServerMessagesBelowSeverity11AreDropped) {
    connect();
    EXPECT_EQ(zem_execute_cmd(conn, "print info"), 1);
    EXPECT_FALSE(log.has("5701")) << log.text();
    EXPECT_EQ(zem_execute_cmd(conn, "print warning"), 1);  // no ERROR bit: still success
    std::string t = log.text();
    EXPECT_NE(t.find("2601, Severity: 16, State: 2, Line: 1"), std::string::npos) << t;
    EXPECT_NE(t.find("Server 'TESTSERV'"), std::string::npos) << t;
    EXPECT_NE(t.find("Message: Attempt to insert duplicate key row"), std::string::npos) << t;
}

TEST_F(Zemct, ClientMessagesOnlyWithTraceLevel3) {
    CS_CLIENTMSG m{};
    m.msgnumber = 20003;
    m.severity = 6;
    snprintf(m.msgstring, sizeof m.msgstring, "Adaptive Server connection timed out");
    m.msgstringlen = static_cast<CS_INT>(strlen(m.msgstring));
    my_trace_all[3] = 0;
    EXPECT_EQ(zem_clientmsg_cb(nullptr, nullptr, &m), CS_FAIL);  // a time-out gives up
    EXPECT_FALSE(log.has("ycm0600") || log.has("YCM0600")) << log.text();
    my_trace_all[3] = 1;
    m.msgnumber = 20017;
    EXPECT_EQ(zem_clientmsg_cb(nullptr, nullptr, &m), CS_SUCCEED);
    my_trace_all[3] = 0;
    std::string t = log.text();
    EXPECT_NE(t.find("SEVERITY = (6) NUMBER = (20017)"), std::string::npos) << t;
    EXPECT_NE(t.find("Message: Adaptive Server connection timed out"), std::string::npos) << t;
}

TEST_F(Zemct, ServerThatIsNotThereFailsTheConnect) {
    env.server.stop();
    EXPECT_EQ(zem_connect(ctx, &conn, "zemtest", "sa", "secret", "ZOVTDS"), CS_FAIL);
    EXPECT_EQ(conn, nullptr);
}

TEST_F(Zemct, OrderlyCleanupLogsOut) {
    connect();
    EXPECT_EQ(zem_con_cleanup(conn, 1), CS_SUCCEED);
    conn = nullptr;
    EXPECT_TRUE(env.server.wait_for(
        [](const std::vector<LogEntry>& l) {
            return !l.empty() && l.back().kind == LogEntry::Logout;
        },
        2000));
    EXPECT_EQ(zem_ctx_cleanup(ctx, 1), CS_SUCCEED);
    ctx = nullptr;
}

TEST_F(Zemct, ForcedCleanupOfADeadConnection) {
    connect();
    std::string error;
    ASSERT_TRUE(env.set_scenario("batch x\n  drop\n", error));
    EXPECT_EQ(zem_execute_cmd(conn, "x"), 0);
    EXPECT_EQ(zem_con_cleanup(conn, 300), CS_SUCCEED);
    conn = nullptr;
    EXPECT_EQ(zem_ctx_cleanup(ctx, 300), CS_SUCCEED);
    ctx = nullptr;
}

TEST_F(Zemct, DroppedConnectionFailsTheCommand) {
    connect();
    std::string error;
    ASSERT_TRUE(env.set_scenario("batch select x\n  result x:int\n  row 1\n  drop\n", error));
    EXPECT_EQ(zem_execute_cmd(conn, "select x"), 0);
}

TEST(ZemctTables, PanicEndsWithStatus1) {
    EXPECT_EXIT(zem_panic("out of luck"), ::testing::ExitedWithCode(1), "");
}

// The time-out is set on the context, so these make their own.
class ZemctTimeout : public Zemct {
  protected:
    void SetUp() override {
        setenv("COLL_DB_TIMEOUT", "1", 1);
        Zemct::SetUp();
    }
};

TEST_F(ZemctTimeout, DelayedAnswerTimesOut) {
    connect();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(zem_execute_cmd(conn, "select slow"), 0);
    auto took = std::chrono::steady_clock::now() - start;
    // The 1-second time-out, far below the 20-second delay, with room for a loaded machine.
    EXPECT_LT(took, std::chrono::seconds(10));
}

TEST_F(ZemctTimeout, DelayedLoginTimesOut) {
    std::string error;
    ASSERT_TRUE(env.set_scenario("login delay 20000\n", error));
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(zem_connect(ctx, &conn, "zemtest", "sa", "secret", "ZOVTDS"), CS_SUCCEED);
    EXPECT_EQ(conn, nullptr);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::seconds(10));  // far below the 20-second delay
}

}  // namespace
