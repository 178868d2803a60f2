// SQL cursors run against the scripted test server: rows fetched as text into stored rows,
// the failures of a statement, the connection's commit and close.
#include "acquire/sql_cursor.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acquire/server_faults.h"
#include "collector/rows/server_status.h"
#include "collector/run/cursor_run.h"
#include "collector/transforms/host_vars.h"
#include "defs/clause_exits.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"
#include "tests/tds/tds_testenv.h"

namespace {

using zovtds::LogEntry;

constexpr const char* kStamp = "20260101120000";

// A cursor whose rows come from a statement; its columns unresolved as after definition.
class SqlCursor : public cursortest::cursor {
  public:
    SqlCursor(const char* name, std::vector<cursortest::col_spec> cols, const std::string& sql)
        : cursortest::cursor(name, std::move(cols)) {
        set_sql(sql);
        unresolve();
    }
    ~SqlCursor() {
        curs* c = get();
        freeDBcurMem(c);
        U_FREE(c->buffer);
        U_FREE(c->nulls);
        c->buffer = nullptr;
        c->nulls = nullptr;
    }
    std::vector<std::string> rows() const { return stored_rows(); }
    int run() {
        int n = 0;
        int rc = prep_l_fetch(get(), kStamp, &n);
        fetched += n;
        return rc;
    }
    int fetched = 0;
};

std::string columns_61() {
    std::string r = "  result";
    std::string row = "  row";
    for (int i = 0; i < 61; ++i) {
        r += " c" + std::to_string(i) + ":int";
        row += " " + std::to_string(i);
    }
    return r + "\n" + row + "\n";
}

const std::string kScenario = R"(
batch select * from types
  result c:char(6) v:varchar(10) i:int b:bigint f:float n:numeric(10,2) d:datetime m:money
  row 'ab' 'xyz' -42 9223372036854775807 2.5 12.34 '2026-01-02 03:04:05' 7.5
batch select * from nulls
  result name:varchar(8) id:int
  row NULL NULL
  row 'b' 2
batch exec two_sets
  result name:varchar(8) id:int
  row 'a' 1
  row 'b' 2
  result name:varchar(8) id:int
  row 'c' 3
  status 0
batch select missing
  error 208 16 1 missing not found.
batch select wide
)" + columns_61() + R"(
batch select dropped
  result name:varchar(8) id:int
  row 'a' 1
  row 'b' 2
  drop
  row 'c' 3
batch select name, id from t where login = 'o''neil'
  result name:varchar(8) id:int
  row 'q' 7
batch select name, id from t where name like '[a-z]%'
  result name:varchar(8) id:int
  row 'like' 8
batch select * from long
  result name:varchar(10) id:int
  row 'abcdefghij' 5
batch select * from none
  result name:varchar(8) id:int
batch select * from texts
  result t:text
  row 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx'
  row 'yyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyyy'
batch select slow
  delay 20000
  result name:varchar(8) id:int
  row 'a' 1
)";

class SqlCursors : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env.start(kScenario, error)) << error;
        engine_alloc_work_buff();
        collector_at = distrib_new();
        std::strcpy(collector_at->distrib_name, "collector");
        std::strcpy(collector_at->logon_id, "sa");
        std::strcpy(collector_at->password, "secret");
        std::memcpy(collector_at->server_id, "ZOVTDS  ", 8);
        database_info.connected = 0;
        database_info.status = down;
        server_faults_reset();
    }
    void TearDown() override {
        commit_collect(1);
        distrib_free(collector_at);
        collector_at = nullptr;
        unsetenv("COLL_DB_TIMEOUT");
    }
    void connect() {
        ASSERT_EQ(connect_to_DB(collector_at), 0);
        database_info.connected = 1;
    }
    int count(LogEntry::Kind kind) {
        int n = 0;
        for (const auto& e : env.server.log()) n += e.kind == kind;
        return n;
    }
    int batches(const std::string& text) {
        int n = 0;
        for (const auto& e : env.server.log()) n += e.kind == LogEntry::Batch && e.text == text;
        return n;
    }
    zovtds::TestEnv env;
    LogCapture log;
};

TEST_F(SqlCursors, EveryTypeIsStoredAsItsText) {
    connect();
    EXPECT_STREQ(database_info.type, "SYB");
    SqlCursor q("TYPES",
                {{"c", 6, 1},
                 {"v", 10, 1},
                 {"i", 11, 2},
                 {"b", 20, 2},
                 {"f", 24, 2},
                 {"n", 12, 2},
                 {"d", 26, 1},
                 {"m", 24, 2}},
                "select * from types");
    ASSERT_EQ(q.run(), 0) << log.text();
    ASSERT_EQ(q.rows().size(), 1u);
    // Every value as the library's blank-padded text, numbers right-justified in the width
    // the result's type gives (the columns take the fetched widths).
    const std::string expected = "ab    |xyz       |        -42| 9223372036854775807|" +
                                 std::string(21, ' ') + "2.5|" + std::string(74, ' ') +
                                 "12.34|           Jan  2 2026 03:04AM|" + std::string(18, ' ') +
                                 "7.5000";
    EXPECT_EQ(q.rows()[0], expected);
    EXPECT_EQ(q.fetched, 1);
    EXPECT_EQ(q.get()->held, 0);
}

}  // namespace

TEST_F(SqlCursors, NullInTheFirstRowResolvesAndDoesNotHold) {
    connect();
    SqlCursor q("NULLS", {{"name", 8, 1}, {"id", 11, 2}}, "select * from nulls");
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(q.get()->held, 0);
    ASSERT_EQ(q.rows().size(), 2u);
    EXPECT_EQ(q.rows()[1], "b       |          2");
    EXPECT_NE(q.rows()[0].find("NULL"), std::string::npos) << q.rows()[0];
    // The second run binds again on the kept description.
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(q.rows().size(), 4u);
    EXPECT_EQ(q.rows()[3], "b       |          2");
}

TEST_F(SqlCursors, ProcedureSetsAllKeptUnderEmptyAndPreAge) {
    connect();
    SqlCursor q("TWO", {{"name", 8, 1}, {"id", 11, 2}}, "exec two_sets");
    q.get()->empty = 1;
    q.get()->pre_age = 1;
    q.add({"old", "9"});
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(q.rows(), (std::vector<std::string>{"a       |          1", "b       |          2",
                                                  "c       |          3"}));
    EXPECT_EQ(q.fetched, 3);
    EXPECT_FALSE(log.has("YPP0235"));
}

TEST_F(SqlCursors, UnknownStatementFailsTheRunAndKeepsTheConnection) {
    connect();
    SqlCursor bad("BAD", {{"x", 4, 1}}, "select missing");
    bad.add({"kept"});
    EXPECT_EQ(bad.run(), 1);
    EXPECT_TRUE(log.has("YPP0230E")) << log.text();
    EXPECT_STREQ(collector_at->status, "FAIL");
    EXPECT_EQ(bad.rows(), (std::vector<std::string>{"kept"}));
    SqlCursor q("NULLS", {{"name", 8, 1}, {"id", 11, 2}}, "select * from nulls");
    EXPECT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(count(LogEntry::Login), 1);
}

TEST_F(SqlCursors, MoreThanSixtyColumnsAreRefused) {
    connect();
    SqlCursor q("WIDE", {{"c0", 4, 2}}, "select wide");
    EXPECT_EQ(q.run(), 1);
    EXPECT_TRUE(log.has("YFR0302E")) << log.text();
    EXPECT_EQ(q.get()->cur_memory, nullptr);
    EXPECT_TRUE(q.rows().empty());
}

TEST_F(SqlCursors, ConnectionDroppedMidResultFailsAndKeepsTheStoredRows) {
    connect();
    SqlCursor q("DROP", {{"name", 8, 1}, {"id", 11, 2}}, "select dropped");
    q.add({"old", "9"});
    EXPECT_NE(q.run(), 0);
    // The library meets the closed connection while reading the rows (yfr0365) or, when it
    // had read ahead, while asking for the result; either way the loss is told.
    EXPECT_TRUE(log.has("YPP0243E")) << log.text();
    ASSERT_GE(q.rows().size(), 1u);
    EXPECT_EQ(q.rows()[0].substr(0, 3), "old");
}

TEST_F(SqlCursors, TimeOutThenCommitClosesAndTheNextRunLogsInAgain) {
    setenv("COLL_DB_TIMEOUT", "1", 1);
    connect();
    SqlCursor q("SLOW", {{"name", 8, 1}, {"id", 11, 2}}, "select slow");
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_NE(q.run(), 0);
    // The 1-second time-out, far below the 20-second delay, with room for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(10));
    commit_collect(0);
    EXPECT_EQ(database_info.connected, 0);
    EXPECT_EQ(collector_at->syb_connection, nullptr);
    unsetenv("COLL_DB_TIMEOUT");
    connect();
    SqlCursor n("NULLS", {{"name", 8, 1}, {"id", 11, 2}}, "select * from nulls");
    EXPECT_EQ(n.run(), 0) << log.text();
    EXPECT_EQ(count(LogEntry::Login), 2);
}

TEST_F(SqlCursors, CommitKeepsTheConnectionAndAFailingCommitClosesIt) {
    connect();
    commit_collect(0);
    EXPECT_EQ(database_info.connected, 1);
    EXPECT_NE(collector_at->syb_connection, nullptr);
    EXPECT_EQ(batches("commit transaction "), 1);

    std::string error;
    ASSERT_TRUE(env.set_scenario("batch commit transaction\n  error 3902 16 1 no tran\n", error))
        << error;
    database_info.status = reDoInit;
    commit_collect(0);
    EXPECT_EQ(database_info.connected, 0);
    EXPECT_EQ(collector_at->syb_connection, nullptr);
    EXPECT_EQ(database_info.status, reDoInit);
}

TEST_F(SqlCursors, OnceCursorWithRowsSendsNothing) {
    connect();
    SqlCursor q("ONCE", {{"name", 8, 1}, {"id", 11, 2}}, "select * from nulls");
    q.get()->once = 1;
    q.add({"x", "1"});
    EXPECT_EQ(q.run(), 0);
    EXPECT_EQ(batches("select * from nulls"), 0);
    EXPECT_EQ(q.rows().size(), 1u);
}

TEST_F(SqlCursors, ConnectFailsOnARefusedLogin) {
    std::string error;
    ASSERT_TRUE(env.set_scenario("login refuse\n", error)) << error;
    EXPECT_EQ(connect_to_DB(collector_at), 1);
    EXPECT_TRUE(log.has("YCD0130E")) << log.text();
    EXPECT_EQ(collector_at->syb_context, nullptr);
}

// SQLRC follows the last connection: 1 after a refused login, blank after the next success.
TEST_F(SqlCursors, TheStatusColumnShowsTheLastConnectionsOutcome) {
    char field[7] = "??????";
    char* const saved = servstatus;
    const int saved_len = servstatus_len;
    servstatus = field;
    servstatus_len = 6;
    std::string error;
    ASSERT_TRUE(env.set_scenario("login refuse\n", error)) << error;
    EXPECT_EQ(connect_to_DB(collector_at), 1);
    EXPECT_STREQ(field, "1     ");
    ASSERT_TRUE(env.set_scenario(kScenario, error)) << error;
    connect();
    EXPECT_STREQ(field, "      ");
    servstatus = saved;
    servstatus_len = saved_len;
}

// A cursor whose statement takes values of another cursor's last row.
class HvCursor : public SqlCursor {
  public:
    explicit HvCursor(const std::string& sql)
        : SqlCursor("Q", {{"name", 8, 1}, {"id", 11, 2}}, sql) {
        curs* c = get();
        c->raw_insert_select = static_cast<char*>(U_MALLOC(sql.size() + 1));
        std::memcpy(c->raw_insert_select, sql.c_str(), sql.size() + 1);
        c->has_hvs_in_sel = 1;
    }
    ~HvCursor() {
        free_sel_pieces(get()->sel_piece);
        get()->sel_piece = nullptr;
        U_FREE(get()->raw_insert_select);
    }
};

TEST_F(SqlCursors, HostVariableWaitsForALastRowThenSendsTheQuotedValue) {
    connect();
    cursortest::cursor procs("PROCS", {{"LOGIN", 10, 1}});
    HvCursor q("select name, id from t where login = [PROCS.LOGIN");
    const int before = count(LogEntry::Batch);
    EXPECT_EQ(q.run(), 1);
    EXPECT_EQ(count(LogEntry::Batch), before);
    EXPECT_EQ(q.get()->has_hvs_in_sel, 1);

    procs.add({"o'neil"});
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(batches("select name, id from t where login = 'o''neil'"), 1);
    EXPECT_EQ(q.rows(), (std::vector<std::string>{"q       |          7"}));
}

TEST_F(SqlCursors, AnUnbindableReferenceSendsTheTextUnchangedFromThenOn) {
    connect();
    const std::string sql = "select name, id from t where name like '[a-z]%'";
    HvCursor q(sql);
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(q.get()->has_hvs_in_sel, 0);
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(batches(sql), 2);
    EXPECT_EQ(q.rows().size(), 2u);
}

TEST_F(SqlCursors, SetLenCutsTheValueOnEveryRun) {
    connect();
    SqlCursor q("LONG", {{"name", 10, 1}, {"id", 11, 2}}, "select * from long");
    set_len forced{};
    std::strcpy(forced.col_name, "name");
    forced.len = 4;
    q.get()->set_len = &forced;
    ASSERT_EQ(q.run(), 0) << log.text();
    ASSERT_EQ(q.run(), 0) << log.text();
    q.get()->set_len = nullptr;
    EXPECT_EQ(q.rows(), (std::vector<std::string>{"abcd|          5", "abcd|          5"}));
}

TEST_F(SqlCursors, ConnectNamesTheServerAndTracesNoPassword) {
    std::memset(machine_id.me, ' ', sizeof machine_id.me);
    std::memcpy(machine_id.me, "SRV1", 4);
    my_trace_all[2] = 1;
    trace_all = 1;
    connect();
    my_trace_all[2] = 0;
    trace_all = 0;
    EXPECT_TRUE(log.has("YCD0125")) << log.text();
    EXPECT_TRUE(log.has("password=***")) << log.text();
    EXPECT_FALSE(log.has("secret"));
    EXPECT_STREQ(database_info.name, "SRV1");
    std::memset(machine_id.me, 0, sizeof machine_id.me);
}

TEST_F(SqlCursors, AResultWithoutRowsKeepsTheStoredRows) {
    connect();
    SqlCursor q("NONE", {{"name", 8, 1}, {"id", 11, 2}}, "select * from none");
    q.get()->empty = 1;
    q.get()->pre_age = 1;
    q.add({"old", "9"});
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(q.fetched, 0);
    ASSERT_EQ(q.rows().size(), 1u);
    EXPECT_EQ(q.rows()[0].substr(0, 3), "old");
}

TEST_F(SqlCursors, ARowThatCannotBeMergedHoldsTheCursor) {
    connect();
    SqlCursor q("NOCOL", {{"name", 8, 1}, {"zzz", 4, 1}}, "select * from long");
    EXPECT_EQ(q.run(), 1);
    EXPECT_TRUE(log.has("YFR0350E")) << log.text();
    EXPECT_TRUE(log.has("YFR0355E"));
    EXPECT_EQ(q.get()->held, 'Y');
    EXPECT_STREQ(collector_at->status, "FAIL");
    EXPECT_TRUE(q.rows().empty());
}

TEST_F(SqlCursors, AValueCutToTheFetchWidthIsStillMergedWithOneWarning) {
    connect();
    SqlCursor q("TEXTS", {{"t", 256, 1}}, "select * from texts");
    ASSERT_EQ(q.run(), 0) << log.text();
    EXPECT_EQ(q.rows(), (std::vector<std::string>{std::string(256, 'x'), std::string(256, 'y')}));
    const std::string text = log.text();
    const auto first = text.find("YFR0352W");
    ASSERT_NE(first, std::string::npos) << text;
    EXPECT_EQ(text.find("YFR0352W", first + 1), std::string::npos);
    EXPECT_EQ(q.get()->held, 0);
}

// The row length as the merge of earlier rows left it.
void laid_out(SqlCursor& q) {
    for (const columns* col = q.get()->insert_columns; col != nullptr; col = col->next)
        q.get()->length = col->offset + col->len;
}

// The reason a connect failed, in the error line itself: no library return code.
TEST_F(SqlCursors, AFailedConnectSaysWhy) {
    struct reason_case {
        const char* scenario;
        bool stop_server;
        const char* words;
    } cases[] = {{"login refuse\n", false, "login refused (Login failed.)"},
                 {"login delay 5000\n", false, "time-out after 1 seconds ("},
                 {"", true, "server unreachable (Unable to connect"}};
    setenv("COLL_DB_TIMEOUT", "1", 1);
    for (const reason_case& k : cases) {
        std::string error;
        ASSERT_TRUE(env.set_scenario(k.scenario, error)) << error;
        if (k.stop_server) env.server.stop();
        LogCapture one;
        EXPECT_EQ(connect_to_DB(collector_at), 1) << k.words;
        const std::string text = one.text();
        EXPECT_NE(text.find("YCD0130E"), std::string::npos) << text;
        EXPECT_NE(text.find("server:ZOVTDS, id:sa, " + std::string(k.words)), std::string::npos)
            << text;
        EXPECT_EQ(text.find("Retcode="), std::string::npos) << text;
    }
}

// A run whose rows break off keeps the rows it had: none of the rows before the break,
// with or without `empty`; the connection is closed on our side and the next run of the
// pass logs in again.
TEST_F(SqlCursors, ARunThatBreaksOffKeepsTheLastGoodSample) {
    for (int16_t empty : {0, 1}) {
        server_faults_reset();
        server_pass_begin();
        commit_collect(1);
        SqlCursor q("DROP", {{"name", 8, 1}, {"id", 11, 2}}, "select dropped");
        q.get()->empty = empty;
        laid_out(q);
        q.add({"old", "9"});
        q.add({"old2", "8"});
        const std::vector<std::string> before = q.rows();
        const int32_t sample = q.get()->sampleno;
        const int logins = count(LogEntry::Login);
        EXPECT_NE(run_cursor(q.get(), kStamp), 0);
        EXPECT_EQ(q.rows(), before) << "empty " << empty;
        EXPECT_EQ(q.get()->count, 2);
        // The kept rows stay the current sample (readers by sample number see them).
        EXPECT_EQ(q.get()->sampleno, sample) << "empty " << empty;
        EXPECT_TRUE(log.has("YPP0243E")) << log.text();
        EXPECT_EQ(database_info.connected, 0);
        EXPECT_EQ(collector_at->syb_connection, nullptr);

        SqlCursor n("NULLS", {{"name", 8, 1}, {"id", 11, 2}}, "select * from nulls");
        EXPECT_EQ(run_cursor(n.get(), kStamp), 0) << log.text();
        EXPECT_EQ(n.rows().size(), 2u);
        EXPECT_EQ(count(LogEntry::Login), logins + 2);
        server_pass_end();
    }
    // A first run that breaks off lays the rows out as it fetches them: none of them stay.
    server_faults_reset();
    commit_collect(1);
    SqlCursor first("DROP", {{"name", 8, 1}, {"id", 11, 2}}, "select dropped");
    first.get()->length = 0;  // as read from its definition: no layout yet
    EXPECT_NE(run_cursor(first.get(), kStamp), 0);
    EXPECT_EQ(first.rows(), std::vector<std::string>{});
    EXPECT_EQ(first.get()->count, 0);
    EXPECT_EQ(first.get()->last_row, nullptr);
}

// A statement that times out is told as a time-out, and the pass asks the server nothing
// more: the next cursor is skipped without a login.
TEST_F(SqlCursors, ATimeOutIsToldAsOneAndSkipsTheRestOfThePass) {
    setenv("COLL_DB_TIMEOUT", "1", 1);
    server_faults_reset();
    server_pass_begin();
    connect();
    SqlCursor q("SLOW", {{"name", 8, 1}, {"id", 11, 2}}, "select slow");
    laid_out(q);
    q.add({"old", "9"});
    EXPECT_NE(run_cursor(q.get(), kStamp), 0);
    EXPECT_TRUE(log.has("YPP0242E")) << log.text();
    EXPECT_TRUE(log.has("no answer from the server within 1 seconds (time-out)")) << log.text();
    EXPECT_FALSE(log.has("YPP0240W")) << log.text();
    EXPECT_EQ(q.rows().size(), 1u);

    SqlCursor n("NULLS", {{"name", 8, 1}, {"id", 11, 2}}, "select * from nulls");
    EXPECT_NE(run_cursor(n.get(), kStamp), 0);
    EXPECT_EQ(batches("select * from nulls"), 0);
    EXPECT_EQ(count(LogEntry::Login), 1);
    server_pass_end();
    EXPECT_TRUE(log.has("time-out; 1 SQL cursors skipped")) << log.text();
    server_faults_reset();
}
