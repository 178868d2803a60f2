// The collector's side of the parent-child SQL channel against a scripted stand-in child
// (what it was sent, how each kind of answer is taken) and, end to end, against the real
// database access programs talking to the scripted TDS server.
#include "acquire/channel_parent.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "acquire/result_sets.h"
#include "collector/startup/cleanup.h"
#include "collector/transforms/host_vars.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/pcc.h"
#include "runtime/trace.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"
#include "tests/tds/tds_testenv.h"

namespace {

constexpr char kStamp[] = "20260101120000";
constexpr char kStatus[] = "!I S 0000 %I 00000000 %A Y";

// A cursor with a statement, its columns unresolved as after definition.
class ChanCursor : public cursortest::cursor {
  public:
    ChanCursor(const char* name, const std::string& sql,
               std::vector<cursortest::col_spec> cols = {{"NAME", 8, 1}, {"ID", 11, 2}})
        : cursortest::cursor(name, std::move(cols)) {
        set_sql(sql);
        unresolve();
        get()->limit = 200;
    }
    ~ChanCursor() {
        curs* c = get();
        channel_release_cursor(c);
        U_FREE(c->buffer);
        U_FREE(c->nulls);
    }
    std::vector<std::string> rows() const { return stored_rows(); }
};

std::string column_record(const char* name, char type, int length) {
    char rec[pcc_record_size + 2];
    pcc_format(rec, 'C', name, type, length);
    return rec;
}

std::string info_record(int cols, int size) {
    char rec[pcc_record_size + 2];
    pcc_format(rec, 'I', 'I', cols, size);
    return rec;
}

// Headers of the cursor's two columns, as a child sends them.
std::string headers() {
    return info_record(2, 19) + "\n!I P C\n" + column_record("NAME", 'C', 8) + "\n" +
           column_record("ID", 'I', 11);
}

std::string row(const std::string& name, const std::string& id) {
    std::string n = name;
    n.resize(8, ' ');
    std::string i = std::string(11 - id.size(), ' ') + id;
    return "!D " + n + i;
}

// A whole answer with rows.
std::string answer(const std::vector<std::string>& rows, bool with_headers = true) {
    std::string a = std::string(kStatus) + "\n";
    if (with_headers) a += headers() + "\n";
    for (const auto& r : rows) a += r + "\n";
    return a + kStatus + "\n!Z";
}

class Channel : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(dir.path().empty());
        program = std::string(u_db_type(0)) + "sql";
        std::filesystem::create_symlink(CHANNEL_CHILD, dir / program);
        saved_bin = env_vars.bin_home ? env_vars.bin_home : "";
        u_env_set_field(&env_vars.bin_home, dir.path().c_str());
        setenv("CHAN_SCRIPT", (dir / "script").c_str(), 1);
        setenv("CHAN_LOG", (dir / "log").c_str(), 1);
        grwtSec = 2;
        d = distrib_new();
        std::strcpy(d->distrib_name, "collector");
        std::strcpy(d->logon_id, "sa");
        std::strcpy(d->password, "StoredPw");
        std::memcpy(d->server_id, "SRV1    ", 8);
    }
    void TearDown() override {
        StopDBAP(d, 2);
        U_FREE(d->dbapsa);
        d->dbapsa = nullptr;
        if (d->dbx) DBX_free(static_cast<_anchorDBX*>(d->dbx));
        d->dbx = nullptr;
        distrib_free(d);
        u_env_set_field(&env_vars.bin_home, saved_bin.empty() ? nullptr : saved_bin.c_str());
        unsetenv("COLL_WAIT_TIMEOUT");
        grwtSec = 0;
    }
    void script(const std::vector<std::string>& answers) {
        std::string text;
        for (size_t i = 0; i < answers.size(); ++i) text += (i ? "\n==\n" : "") + answers[i];
        dir.write("script", text + "\n");
        std::filesystem::remove(dir / "script.pos");
    }
    std::vector<std::string> log_lines(const std::string& prefix) const {
        std::vector<std::string> out;
        std::ifstream in(dir / "log");
        for (std::string l; std::getline(in, l);)
            if (l.rfind(prefix, 0) == 0) out.push_back(l.substr(prefix.size()));
        return out;
    }
    // The records the children read, one request (up to its !Z) per entry, blank padding
    // of the command records cut.
    std::vector<std::vector<std::string>> requests() const {
        std::vector<std::vector<std::string>> out(1);
        for (std::string l : log_lines("< ")) {
            while (!l.empty() && l.back() == ' ') l.pop_back();
            out.back().push_back(l);
            if (l == "!Z") out.emplace_back();
        }
        out.pop_back();
        return out;
    }
    dist_anchored_dbapsa* block() const { return static_cast<dist_anchored_dbapsa*>(d->dbapsa); }
    cur_memory_s* request_block(curs* c) const { return static_cast<cur_memory_s*>(c->cur_memory); }
    bool connected() const { return (d->state & DIST_CHANNEL_CONNECTED) != 0; }
    int request(ChanCursor& c) {
        char stamp[sizeof kStamp];
        std::memcpy(stamp, kStamp, sizeof kStamp);
        int rc = run_cursor_DB(d, c.get(), stamp);
        if (rc != 0) return 1000 + rc;
        return get_cursor_DB(d, c.get());
    }
    void wait_for_log(const std::string& prefix, size_t count) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (log_lines(prefix).size() < count && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }

    // Until the process has ended (a zombie or gone).
    static void wait_gone(int pid) {
        auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < until) {
            std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
            std::string stat;
            if (!std::getline(in, stat)) return;
            const size_t paren = stat.rfind(')');
            if (paren != std::string::npos && stat.size() > paren + 2 && stat[paren + 2] == 'Z')
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    CfgTempDir dir;
    std::string program, saved_bin;
    distrib* d = nullptr;
    LogCapture log;
};

TEST_F(Channel, FirstAndLaterRequestsAndTheIdWrap) {
    script({answer({row("ab", "1"), row("cd", "23")}), answer({row("ef", "4")}, false),
            answer({row("gh", "5")}, false)});
    ChanCursor c("CUR1", "select name, id from t");
    ASSERT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(c.rows(), (std::vector<std::string>{"ab      |          1", "cd      |         23"}));
    EXPECT_EQ(c.get()->tiCount, 2);
    EXPECT_EQ(c.get()->totalDataRowsReturned, 2);
    EXPECT_EQ(std::string(request_block(c.get())->name), kStamp);

    request_block(c.get())->request_id = 9998;
    ASSERT_EQ(request(c), 0) << log.text();
    ASSERT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(c.rows().back(), "gh      |          5");
    EXPECT_EQ(block()->outstanding, 0);

    const auto r = requests();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0], (std::vector<std::string>{"!X X", "!X A CUR1", "!X I 0001", "!X R 0200",
                                              "!S S select name, id from t", "!Z"}));
    // A known layout asks for no headers; the id field wraps from 9999 to 1.
    EXPECT_EQ(r[1], (std::vector<std::string>{"!X A CUR1", "!X I 9999", "!X R 0200",
                                              "!S S select name, id from t", "!Z"}));
    EXPECT_EQ(r[2][1], "!X I 0001");
    EXPECT_EQ(log_lines("START ").size(), 1u);
}

TEST_F(Channel, RowLimitTravelsOnlyWhenFourDigitsHoldIt) {
    const struct {
        int limit;
        const char* record;  // null: none sent
    } cases[] = {{0, nullptr}, {1, "!X R 0001"}, {9999, "!X R 9999"}, {10000, nullptr}};
    script({});
    for (const auto& k : cases) {
        ChanCursor c("CUR1", "select 1");
        c.get()->limit = k.limit;
        char stamp[] = "x";
        ASSERT_EQ(run_cursor_DB(d, c.get(), stamp), 0);
        get_cursor_DB(d, c.get());
        const auto last = requests().back();
        std::string limit_record;
        for (const auto& l : last)
            if (l.rfind("!X R", 0) == 0) limit_record = l;
        EXPECT_EQ(limit_record, k.record ? k.record : "") << k.limit;
    }
}

// A limit of five digits, which no record carries, is still applied: the cursor takes the
// first rows of the answer up to it, as a child told the limit would send them.
TEST_F(Channel, ALimitTooWideToSendIsAppliedToTheAnswer) {
    std::vector<std::string> rows;
    for (int i = 1; i <= 10003; ++i) rows.push_back(row("r" + std::to_string(i), "1"));
    script({answer(rows)});
    ChanCursor c("CUR1", "select name, id from t");
    c.get()->limit = 10000;
    ASSERT_EQ(request(c), 0) << log.text();
    const auto stored = c.rows();
    ASSERT_EQ(stored.size(), 10000u);
    EXPECT_EQ(stored.front(), "r1      |          1");
    EXPECT_EQ(stored.back(), "r10000  |          1");
    EXPECT_EQ(c.get()->tiCount, 10000);
}

TEST_F(Channel, LateOrForeignIdIsRefusedAndItsAnswerDropped) {
    script({"!I S 0000 0042 00000000 %A Y\n" + headers() + "\n" + row("old", "1") +
                "\n!I S 0000 0042 00000000 %A Y\n!Z",
            answer({row("ab", "1")})});
    ChanCursor c("CUR1", "select name, id from t");
    EXPECT_EQ(request(c), CHANNEL_ID_MISMATCH);
    EXPECT_TRUE(log.has("Request ID mismatch. got:42, Expected:1")) << log.text();
    EXPECT_TRUE(c.rows().empty());
    // The rest of that answer went: the next answer is read in step.
    EXPECT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(c.rows(), (std::vector<std::string>{"ab      |          1"}));
}

TEST_F(Channel, MergeFailureHoldsTheCursorAndDropsTheRestOfTheAnswer) {
    // The result names no column of the cursor.
    std::string bad = std::string(kStatus) + "\n" + info_record(2, 19) + "\n" +
                      column_record("OTHER", 'C', 8) + "\n" + column_record("ID", 'I', 11) + "\n" +
                      row("ab", "1") + "\n" + row("cd", "2") + "\n" + kStatus + "\n!Z";
    script({bad, answer({})});
    ChanCursor c("CUR1", "select other, id from t");
    EXPECT_EQ(request(c), 2);
    EXPECT_EQ(c.get()->held, 'Y');
    EXPECT_TRUE(log.has("merge failed after = 0 rows")) << log.text();
    EXPECT_TRUE(log.has("Holding cursor")) << log.text();
    EXPECT_EQ(c.get()->sqlcode, -1);
    // In step: the next answer (no rows) is its own, not the tail of the last one.
    EXPECT_EQ(request(c), 1) << log.text();
    EXPECT_FALSE(log.has("Request ID mismatch"));
}

TEST_F(Channel, BrokenAnswersAreRefusedWhole) {
    const struct {
        const char* what;
        std::string answer;
        const char* message;
    } cases[] = {
        {"status without a cursor name",
         "!I S 0000 %I 00000000          Y\n" + headers() + "\n" + row("ab", "1") + "\n!Z",
         "without a cursor name"},
        {"a column beyond the announced count",
         std::string(kStatus) + "\n" + info_record(1, 8) + "\n" + column_record("NAME", 'C', 8) +
             "\n" + column_record("ID", 'I', 11) + "\n" + row("ab", "1") + "\n" + kStatus + "\n!Z",
         "more column records than announced"},
        {"a column wider than a record",
         std::string(kStatus) + "\n" + info_record(1, 8) + "\n" + column_record("NAME", 'C', 3000) +
             "\n" + kStatus + "\n!Z",
         "column length out of range"},
    };
    for (const auto& k : cases) {
        script({k.answer, answer({row("ok", "9")})});
        ChanCursor c("CUR1", "select name, id from t");
        EXPECT_EQ(request(c), 2) << k.what;
        EXPECT_TRUE(log.has(k.message)) << k.what << log.text();
        EXPECT_TRUE(c.rows().empty()) << k.what;
        // The next answer is read in step and taken.
        EXPECT_EQ(request(c), 0) << k.what << log.text();
        EXPECT_EQ(c.rows(), (std::vector<std::string>{"ok      |          9"})) << k.what;
    }
}

TEST_F(Channel, ShortRowIsBlankPaddedNotFilledFromTheLineBefore) {
    script({answer({row("long", "12345678901"), "!D ab"})});
    ChanCursor c("CUR1", "select name, id from t");
    ASSERT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(c.rows(), (std::vector<std::string>{"long    |12345678901", "ab      |           "}));
}

TEST_F(Channel, SilentChildIsEndedAndTheNextRequestStartsAnother) {
    setenv("COLL_WAIT_TIMEOUT", "1", 1);
    grwtSec = 0;
    script({"@hang", answer({row("ab", "1")})});
    ChanCursor c("CUR1", "select name, id from t");
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(request(c), CHANNEL_NO_ANSWER);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(20));  // not a hang
    EXPECT_FALSE(connected());
    EXPECT_EQ(block()->opts.ihandle, nullptr);
    EXPECT_EQ(c.get()->sqlcode, -1);
    const int first = std::atoi(log_lines("START ").at(0).c_str());
    EXPECT_NE(kill(first, 0), 0);  // gone and reaped
    EXPECT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(log_lines("START ").size(), 2u);
    EXPECT_EQ(requests().back()[0], "!X X");  // a new child is asked for headers
    EXPECT_EQ(c.rows(), (std::vector<std::string>{"ab      |          1"}));
}

TEST_F(Channel, ChildDyingMidAnswerGivesNoAnswer) {
    script({std::string(kStatus) + "\n" + headers() + "\n" + row("ab", "1") + "\n@exit",
            answer({row("cd", "2")})});
    ChanCursor c("CUR1", "select name, id from t");
    EXPECT_EQ(request(c), CHANNEL_NO_ANSWER);
    EXPECT_FALSE(connected());
    EXPECT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(log_lines("START ").size(), 2u);
}

TEST_F(Channel, WriteToADeadChildEndsItAndTheNextRequestRestarts) {
    script({answer({row("ab", "1")}) + "\n@exit", answer({row("cd", "2")})});
    ChanCursor c("CUR1", "select name, id from t");
    ASSERT_EQ(request(c), 0) << log.text();
    wait_for_log("EXIT", 1);
    wait_gone(std::atoi(log_lines("START ").at(0).c_str()));
    char stamp[] = "x";
    EXPECT_EQ(run_cursor_DB(d, c.get(), stamp), 104);
    EXPECT_FALSE(connected());
    EXPECT_EQ(block()->opts.ihandle, nullptr);
    EXPECT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(log_lines("START ").size(), 2u);
    EXPECT_EQ(c.rows().back(), "cd      |          2");
}

TEST_F(Channel, DisconnectThenRequestReconnectsAndAsksForHeaders) {
    script({answer({row("ab", "1")})});  // later requests get a plain status
    ChanCursor c("CUR1", "select name, id from t");
    ASSERT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(StopDBAP(d, 1), 0);
    EXPECT_FALSE(connected());
    EXPECT_NE(block()->opts.ihandle, nullptr);
    EXPECT_EQ(request(c), 1);  // the plain status: no rows
    EXPECT_TRUE(connected());
    const auto r = requests();
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[1], (std::vector<std::string>{"!X D SRV1", "!Z"}));
    EXPECT_EQ(r[2], (std::vector<std::string>{"!X C SRV1", "!Z"}));
    EXPECT_EQ(r[3][0], "!X X");
    // A commit reads its own answer: the next request is in step.
    EXPECT_EQ(StopDBAP(d, 0), 0);
    EXPECT_EQ(requests().back(), (std::vector<std::string>{"!X O", "!Z"}));
    EXPECT_EQ(request(c), 1);
    EXPECT_FALSE(log.has("mismatch")) << log.text();
    EXPECT_EQ(log_lines("START ").size(), 1u);
}

TEST_F(Channel, ReconnectRefusedByTheChildFailsTheRequest) {
    script({answer({row("ab", "1")}), answer({}), "!I S 0011 0000 00000000          N\n!Z"});
    ChanCursor c("CUR1", "select name, id from t");
    ASSERT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(StopDBAP(d, 1), 0);
    char stamp[] = "x";
    EXPECT_EQ(run_cursor_DB(d, c.get(), stamp), 1);
    EXPECT_FALSE(connected());
}

TEST_F(Channel, StopThenRequestStartsANewChild) {
    // The second answer is the stopping child's, which nobody reads.
    script({answer({row("ab", "1")}), answer({}), answer({row("cd", "2")})});
    ChanCursor c("CUR1", "select name, id from t");
    ASSERT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(StopDBAP(d, 2), 0);
    EXPECT_FALSE(connected());
    EXPECT_EQ(block()->opts.ihandle, nullptr);
    EXPECT_EQ(requests()[1], (std::vector<std::string>{"!X D SRV1", "!X S FORCE", "!Z"}));
    EXPECT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(log_lines("START ").size(), 2u);
    EXPECT_EQ(c.rows().back(), "cd      |          2");
}

TEST_F(Channel, RequestsThatCannotTravelAreRefusedBeforeAnything) {
    const struct {
        const char* what;
        std::string sql;
        const char* stamp;
    } cases[] = {
        {"statement longer than a record", "select '" + std::string(2990, 'x') + "'", kStamp},
        {"statement with a line break", "select 1\nselect 2", kStamp},
        {"name longer than the block holds", "select 1", "0123456789abcdef"},
    };
    script({});
    for (const auto& k : cases) {
        ChanCursor c("CUR1", k.sql);
        std::string stamp = k.stamp;
        EXPECT_EQ(run_cursor_DB(d, c.get(), stamp.data()), CHANNEL_REFUSED) << k.what;
        EXPECT_EQ(c.get()->cur_memory, nullptr) << k.what;
    }
    EXPECT_TRUE(log_lines("START ").empty());
    EXPECT_EQ(d->dbapsa, nullptr);
}

TEST_F(Channel, ChildGetsCredentialsInItsEnvironmentNotOnItsCommandLine) {
    const int16_t saved_all = trace_all, saved_something = trace_something;
    int16_t saved[10];
    std::memcpy(saved, my_trace_all, sizeof saved);
    trace_set("-dd");  // level 0 only: the old word "-d" would have read as a call type
    script({});
    EXPECT_EQ(StartDBAP(d), 0);
    int16_t sent[10];
    std::memcpy(sent, my_trace_all, sizeof sent);
    trace_all = saved_all;
    trace_something = saved_something;
    std::memcpy(my_trace_all, saved, sizeof saved);
    wait_for_log("ENV COLL_DEBUG", 1);
    EXPECT_EQ(log_lines("ARGV "), (std::vector<std::string>{"-rdbms SRV1 -logonid sa I"}));
    EXPECT_EQ(log_lines("ENV COLL_PASSWORD="), (std::vector<std::string>{"StoredPw"}));
    const auto debug = log_lines("ENV COLL_DEBUG=");
    ASSERT_EQ(debug.size(), 1u);
    // The word sets the same levels in the child.
    trace_set(debug[0].c_str());
    int16_t got[10];
    std::memcpy(got, my_trace_all, sizeof got);
    const int16_t got_all = trace_all;
    trace_all = saved_all;
    trace_something = saved_something;
    std::memcpy(my_trace_all, saved, sizeof saved);
    EXPECT_EQ(got_all, 1);
    EXPECT_EQ(0, std::memcmp(got, sent, sizeof got));
}

TEST_F(Channel, ReadWithoutACursorTakesEveryOutstandingAnswer) {
    script({answer({row("ab", "1")}), answer({row("cd", "2"), row("ef", "3")})});
    ChanCursor c1("CUR1", "select name, id from t");
    ChanCursor c2("CUR2", "select name, id from u");
    char stamp[] = "x";
    ASSERT_EQ(run_cursor_DB(d, c1.get(), stamp), 0);
    ASSERT_EQ(run_cursor_DB(d, c2.get(), stamp), 0);
    EXPECT_EQ(block()->outstanding, 2);
    EXPECT_EQ(get_cursor_DB(d, nullptr), 0) << log.text();
    EXPECT_EQ(block()->outstanding, 0);
    EXPECT_EQ(c1.rows(), (std::vector<std::string>{"ab      |          1"}));
    EXPECT_EQ(c2.rows(),
              (std::vector<std::string>{"cd      |          2", "ef      |          3"}));
    EXPECT_EQ(get_cursor_DB(d, nullptr), 0);  // nothing outstanding: no read
}

TEST_F(Channel, AnswerOfAnotherCursorIsReadForIt) {
    // CUR2's answer comes first while CUR1's is read: it is merged into CUR2, then CUR1's
    // own answer is read.
    auto named = [](const std::string& name, const std::vector<std::string>& rows) {
        std::string status = "!I S 0000 0001 00000000 " + name + " Y";
        std::string a = status + "\n" + headers() + "\n";
        for (const auto& r : rows) a += r + "\n";
        return a + status + "\n!Z";
    };
    script({named("CUR2    ", {row("two", "2")}), named("CUR1    ", {row("one", "1")})});
    ChanCursor c1("CUR1", "select name, id from t");
    ChanCursor c2("CUR2", "select name, id from u");
    char stamp[] = "x";
    ASSERT_EQ(run_cursor_DB(d, c1.get(), stamp), 0);
    ASSERT_EQ(run_cursor_DB(d, c2.get(), stamp), 0);
    EXPECT_EQ(get_cursor_DB(d, c1.get()), 0) << log.text();
    EXPECT_TRUE(log.has("Cursor name mismatch"));
    EXPECT_EQ(c1.rows(), (std::vector<std::string>{"one     |          1"}));
    EXPECT_EQ(c2.rows(), (std::vector<std::string>{"two     |          2"}));
    EXPECT_EQ(block()->outstanding, 0);
}

TEST_F(Channel, MessagesAreLoggedAndAnEndBeforeAnyStatusIsPassedOver) {
    script({"!Z\n!M ESQ0110E hello from the child\nABC1234W plain message\ngarbage\n" +
            answer({row("ab", "1")})});
    ChanCursor c("CUR1", "select name, id from t");
    EXPECT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(c.rows(), (std::vector<std::string>{"ab      |          1"}));
    EXPECT_TRUE(log.has("hello from the child")) << log.text();
    EXPECT_TRUE(log.has("ABC1234W plain message")) << log.text();
    EXPECT_TRUE(log.has("invalid pcc header garbage")) << log.text();
}

TEST_F(Channel, ProgramThatCannotStartFailsTheRequest) {
    std::filesystem::remove(dir / program);
    u_env_set_field(&env_vars.bin_home, (dir / "none").c_str());
    ChanCursor c("CUR1", "select name, id from t");
    char stamp[] = "x";
    EXPECT_EQ(run_cursor_DB(d, c.get(), stamp), 1);
    EXPECT_TRUE(log.has("Could not start database access program " + program)) << log.text();
    EXPECT_FALSE(connected());
    EXPECT_EQ(c.get()->cur_memory, nullptr);
}

TEST_F(Channel, StatementWhoseHostVariableCannotBeBoundGoesPlain) {
    script({answer({row("ab", "1")}), answer({}, false)});
    ChanCursor c("CUR1", "select name, id from t");
    std::string raw = "select name, id from t where x = [NOSUCH.col]";
    c.get()->raw_insert_select = raw.data();
    c.get()->has_hvs_in_sel = 1;
    ASSERT_EQ(request(c), 0) << log.text();
    EXPECT_EQ(c.get()->has_hvs_in_sel, 0);
    ASSERT_EQ(request(c), 1);
    for (const auto& r : requests()) EXPECT_EQ(r[r.size() - 2], "!S S select name, id from t");
    free_sel_pieces(c.get()->sel_piece);
    c.get()->sel_piece = nullptr;
    c.get()->raw_insert_select = nullptr;
}

TEST_F(Channel, NoRowsWithoutADummyRowFailsTheCursor) {
    script({answer({})});
    ChanCursor c("CUR1", "select name, id from t");
    EXPECT_EQ(request(c), 1);
    EXPECT_EQ(c.get()->sqlcode, -1);
    EXPECT_EQ(std::string(c.get()->ssqlcode, 16), std::string(14, ' ') + "-1");
}

TEST_F(Channel, LocateCursNeedsTheWholeName) {
    ChanCursor c("CUR1", "select 1");
    char exact[] = "CUR1", prefix[] = "CUR";
    EXPECT_EQ(LocateCurs(d, exact), c.get());
    EXPECT_EQ(LocateCurs(d, prefix), nullptr);
}

TEST_F(Channel, ColumnLayoutFollowsEachLength) {
    _anchorDBdata a{};
    a.ncols = 5;
    const struct {
        const char* name;
        char type;
        int length;
        int kind;
        int offset;
    } cols[] = {{"A   ", 'C', 8, 1, 0},
                {"B", 'I', 11, 2, 8},
                {"C", 'D', 26, 2, 19},
                {"D", 'N', 12, 2, 45},
                {"E", 'X', 3, 0, 57}};
    for (const auto& k : cols) {
        std::string name = k.name;
        EXPECT_EQ(gcbd_set1col(name.data(), k.type, k.length, &a), 0);
    }
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(a.Acoldata[i].type, cols[i].kind) << i;
        EXPECT_EQ(a.Acoldata[i].offset, cols[i].offset) << i;
        EXPECT_EQ(a.Acoldata[i].length, cols[i].length) << i;
        EXPECT_EQ(a.Acoldata[i].number, i + 1);
    }
    EXPECT_STREQ(a.Acoldata[0].name, "A");
    EXPECT_TRUE(log.has("invalid column type X"));
    std::string extra = "F";
    EXPECT_EQ(gcbd_set1col(extra.data(), 'C', 1, &a), 1);
    U_FREE(a.Acoldata);
}

TEST_F(Channel, CleanUpStopsTheChildAndFreesTheBlocks) {
    script({answer({row("ab", "1")})});
    curs* c = curs_new();
    std::strcpy(c->cur_name, "CUR1");
    c->insert_select = static_cast<sel*>(U_MALLOC(sizeof(sel) + 9));
    c->insert_select->len = 9;
    std::memcpy(c->insert_select->text, "select 1", 9);
    curs* saved_cursors = cur_anchor;
    distrib* saved_distribs = distrib_anchor;
    cur_anchor = c;
    distrib_anchor = d;
    char stamp[] = "x";
    ASSERT_EQ(run_cursor_DB(d, c, stamp), 0);
    ASSERT_TRUE(channel_is_request_block(c->cur_memory));
    free_all_cursors();
    EXPECT_EQ(cur_anchor, nullptr);
    EXPECT_EQ(d->dbapsa, nullptr);
    EXPECT_FALSE(connected());
    EXPECT_EQ(requests().back(), (std::vector<std::string>{"!X D SRV1", "!X S FORCE", "!Z"}))
        << cfg_read_file(dir / "log");
    cur_anchor = saved_cursors;
    distrib_anchor = saved_distribs;
}

// End to end: the real programs, placed as the database access program, against the
// scripted server.
class ChannelEndToEnd : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env.start(R"(
batch select name, id from t
  result name:varchar(8) id:int
  row 'ab' 1
  row 'cd' -2147483648
batch select name, id from none
  result name:varchar(8) id:int
)",
                              error))
            << error;
        // A Sybase server: the program is "zemsql" (unless the process fixed its database
        // type before).
        saved_type = env_vars.db_type ? env_vars.db_type : "";
        if (saved_type.empty()) u_env_set_field(&env_vars.db_type, "SYB");
        program = std::string(u_db_type(0)) + "sql";
        std::filesystem::create_symlink(GetParam(), dir / program);
        saved_bin = env_vars.bin_home ? env_vars.bin_home : "";
        u_env_set_field(&env_vars.bin_home, dir.path().c_str());
        grwtSec = 30;
        d = distrib_new();
        std::strcpy(d->logon_id, "sa");
        std::strcpy(d->password, kPassword);
        std::memcpy(d->server_id, env.section.c_str(), env.section.size());
    }
    void TearDown() override {
        StopDBAP(d, 2);
        U_FREE(d->dbapsa);
        if (d->dbx) DBX_free(static_cast<_anchorDBX*>(d->dbx));
        d->dbapsa = d->dbx = nullptr;
        distrib_free(d);
        u_env_set_field(&env_vars.bin_home, saved_bin.empty() ? nullptr : saved_bin.c_str());
        u_env_set_field(&env_vars.db_type, saved_type.empty() ? nullptr : saved_type.c_str());
        grwtSec = 0;
    }
    int request(ChanCursor& c) {
        char stamp[sizeof kStamp];
        std::memcpy(stamp, kStamp, sizeof kStamp);
        int rc = run_cursor_DB(d, c.get(), stamp);
        if (rc != 0) return 1000 + rc;
        return get_cursor_DB(d, c.get());
    }

    std::string saved_type;
    static constexpr const char* kPassword = "Pw_s3cret_xyz";
    zovtds::TestEnv env;
    CfgTempDir dir;
    std::string program, saved_bin;
    distrib* d = nullptr;
    LogCapture log;
};

TEST_P(ChannelEndToEnd, RowsArriveAndThePasswordStaysOffTheCommandLine) {
    ChanCursor c("CUR1", "select name, id from t");
    ASSERT_EQ(request(c), 0) << log.text();
    const auto rows = c.rows();
    ASSERT_EQ(rows.size(), 2u) << log.text();
    // Each value whole in the width the child laid it out in.
    auto trimmed = [](std::string s) {
        s.erase(0, s.find_first_not_of(' '));
        s.erase(s.find_last_not_of(' ') + 1);
        return s;
    };
    EXPECT_EQ(trimmed(rows[0].substr(0, rows[0].find('|'))), "ab");
    EXPECT_EQ(trimmed(rows[0].substr(rows[0].find('|') + 1)), "1");
    EXPECT_EQ(trimmed(rows[1].substr(rows[1].find('|') + 1)), "-2147483648");

    const auto* cpc = static_cast<dist_anchored_dbapsa*>(d->dbapsa)->opts.ihandle;
    ASSERT_NE(cpc, nullptr);
    std::ifstream in("/proc/" + std::to_string(cpc->pid) + "/cmdline", std::ios::binary);
    const std::string cmdline((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    EXPECT_NE(cmdline.find("-logonid"), std::string::npos) << cmdline;
    EXPECT_EQ(cmdline.find(kPassword), std::string::npos) << cmdline;
    bool login = false;
    for (const auto& e : env.server.log())
        login |= e.kind == zovtds::LogEntry::Login && e.user == "sa" && e.password == kPassword;
    EXPECT_TRUE(login);
}

TEST_P(ChannelEndToEnd, NoRowsAndNoDummyRowIsSqlcodeMinusOne) {
    ChanCursor c("CUR1", "select name, id from none");
    EXPECT_EQ(request(c), 1) << log.text();
    EXPECT_EQ(c.get()->sqlcode, -1);
    EXPECT_EQ(std::string(c.get()->ssqlcode, 16), std::string(14, ' ') + "-1");
}

INSTANTIATE_TEST_SUITE_P(Programs, ChannelEndToEnd, ::testing::Values(ZEMSQL_PATH, ZEM2SQL_PATH),
                         [](const auto& info) {
                             return std::string(info.param).find("zem2sql") != std::string::npos
                                        ? std::string("zem2sql")
                                        : std::string("zemsql");
                         });

}  // namespace
