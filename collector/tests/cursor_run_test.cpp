// Cursor runs: pre-cursors, post-cursors, retention, connection, iteration, demand answers.
#include "collector/run/cursor_run.h"

#include <gtest/gtest.h>

#include <cstring>

#include "acquire/server_faults.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_store.h"
#include "collector/tests/row_test_support.h"
#include "defs/clause_decode.h"
#include "defs/clause_loads.h"
#include "defs/distrib.h"
#include "model/db_specifics.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::column;
using rowtest::value;

constexpr const char* stamp = "20261211093000";

class CursorRun : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        // A gate closed or a back-off left by an earlier test would skip the runs here.
        server_faults_reset();
        engine_alloc_work_buff();
        saved_collector = collector_at;
        collector = distrib{};
        collector_at = &collector;
        saved_db = database_info;
        database_info.connected = 0;
        database_info.status = up;
    }
    void TearDown() override {
        pcnt_forget();
        collector_at = saved_collector;
        database_info = saved_db;
    }
    // Parses the blocks (each "cursor NAME; ..."), makes the percent cursor.
    void parse(const std::string& text) {
        LogCapture log;
        ASSERT_EQ(curstest::parse(text + "end;\n"), 0) << log.text();
        ASSERT_EQ(build_percent_cursor(), 0);
    }
    curs* find(const char* name) { return curstest::find(name); }
    // Binds column n of c to column m of src.
    void source(curs* c, int n, curs* src, int m) {
        column(c, n)->base_column = column(src, m);
        column(c, n)->base_cursor = src;
    }
    // Appends rows with the given 16-byte-field values and row numbers.
    void rows(curs* c, std::vector<std::string> values) {
        int32_t n = 0;
        for (std::string v : values) {
            v.resize(16, ' ');
            c->rowno = ++n;
            row_append(c, v.c_str(), 16);
        }
    }
    void queue(curs* q, curs* run, int32_t rowno) {
        auto* e = static_cast<curslist*>(U_MALLOC(sizeof(curslist)));
        *e = curslist{nullptr, run, rowno};
        curslist** tail = &q->curslist;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = e;
    }
    distrib collector{};
    distrib* saved_collector = nullptr;
    db_specifics saved_db{};
};

// A cursor without SQL over the row number: runs without a database.
// (A cursor needs one column the collector does not supply itself: %parm0.)
const std::string nosql = "no_sql;\n";

TEST_F(CursorRun, AHeldCursorIsSkippedBeforeRetention) {
    parse(block("H", "%rowno, %parm0", nosql + "empty;\n"));
    curs* h = find("H");
    rows(h, {"a", "b"});
    h->held = 'Y';
    h->time_limit = 1;
    EXPECT_EQ(run_cursor(h, stamp), 0);
    EXPECT_EQ(h->count, 2);
    EXPECT_EQ(h->first_row->age, 0);
    EXPECT_EQ(h->sampleno, 0);
}

TEST_F(CursorRun, ACursorWithoutSqlBuildsOneRowPerRun) {
    parse(block("P", "%sampleno, %parm0", nosql));
    curs* p = find("P");
    ASSERT_EQ(run_cursor(p, stamp), 0);
    ASSERT_EQ(run_cursor(p, stamp), 0);
    ASSERT_EQ(p->count, 2);
    EXPECT_EQ(value(p->last_row, column(p, 1)), "               2");
    EXPECT_EQ(p->last_row->sampleno, 2);
}

TEST_F(CursorRun, AFailingPreCursorStopsTheRun) {
    parse(block("SQ", "V") + block("C", "%rowno, %parm0", nosql + "pre_cursor SQ;\n"));
    curs* c = find("C");
    ASSERT_NE(c->pre_cursor, nullptr);
    c->pre_cursor->curs = find("SQ");
    EXPECT_EQ(pre_prep_l_fetch(c, stamp), 1);
    EXPECT_EQ(c->count, 0);
    EXPECT_STREQ(collector.status, "CNCT");
    EXPECT_EQ(database_info.status, down);
    EXPECT_EQ(std::string(find("SQ")->ssqlcode, 16), "               1");
    EXPECT_EQ(find("SQ")->sqlcode, 1);
}

TEST_F(CursorRun, AFailedConnectKeepsAReinitialisationAsked) {
    parse(block("SQ", "V"));
    database_info.status = reDoInit;
    EXPECT_EQ(run_cursor(find("SQ"), stamp), 1);
    EXPECT_EQ(database_info.status, reDoInit);
    EXPECT_EQ(std::strlen(collector.time), 14u);
}

TEST_F(CursorRun, APostCursorReadsTheRowThatQueuedIt) {
    parse(block("Q", "%rowno, %parm0", nosql) + block("P", "X", nosql));
    curs* q = find("Q");
    curs* p = find("P");
    ASSERT_EQ(run_cursor(q, stamp), 0);
    delete_all(q);
    rows(q, {"row1", "row2", "row3", "row4"});
    source(p, 1, q, 1);
    queue(q, p, 3);
    ASSERT_EQ(pre_prep_l_fetch(q, stamp), 0);
    ASSERT_EQ(p->count, 1);
    EXPECT_EQ(value(p->last_row, column(p, 1)), "row3            ");
    // Q ran first (a fifth row), and that is its current row again.
    EXPECT_EQ(q->count, 5);
    EXPECT_EQ(q->last_row->next, nullptr);
    EXPECT_EQ(q->curslist, nullptr);
}

TEST_F(CursorRun, AFailingPostCursorBreaksTheChain) {
    parse(block("Q", "%rowno, %parm0", nosql) + block("SQ", "V") +
          block("P", "%rowno, %parm0", nosql));
    curs* q = find("Q");
    {
        LogCapture log;
        queue(q, find("SQ"), 1);
        queue(q, find("P"), 1);
        EXPECT_EQ(pre_prep_l_fetch(q, stamp), 1);
        EXPECT_TRUE(log.has("PFE3200")) << log.text();
        EXPECT_EQ(find("P")->count, 0);
        EXPECT_EQ(q->curslist, nullptr);
    }
    LogCapture log;
    queue(q, find("SQ"), 1);
    EXPECT_EQ(pre_prep_l_fetch(q, stamp), 1);
    EXPECT_FALSE(log.has("PFE3200"));
}

TEST_F(CursorRun, ACursorQueuedOnItselfIsSkipped) {
    parse(block("Q", "%rowno, %parm0", nosql));
    curs* q = find("Q");
    queue(q, q, 1);
    LogCapture log;
    EXPECT_EQ(pre_prep_l_fetch(q, stamp), 0);
    EXPECT_EQ(q->count, 1);
    EXPECT_TRUE(log.has("PFE3205")) << log.text();
}

TEST_F(CursorRun, IteratingRunsOncePerSourceRowInOneSample) {
    parse(block("S", "%rowno, %parm0", nosql) + block("IT", "X", nosql + "iterate S;\n"));
    curs* s = find("S");
    curs* it = find("IT");
    ASSERT_EQ(run_cursor(s, stamp), 0);
    delete_all(s);
    rows(s, {"a", "b", "c"});
    row_data* s_last = s->last_row;
    it->iterate->curs = s;
    source(it, 1, s, 1);
    it->sampleno = 4;
    ASSERT_EQ(run_cursor(it, stamp), 0);
    ASSERT_EQ(it->count, 3);
    EXPECT_EQ(it->sampleno, 5);
    EXPECT_EQ(rowtest::row_samples(it), (std::vector<int32_t>{5, 5, 5}));
    std::vector<std::string> seen;
    std::vector<int32_t> numbers;
    for (row_data* r = it->first_row; r != nullptr; r = r->next) {
        seen.push_back(value(r, column(it, 1)).substr(0, 1));
        numbers.push_back(r->rowno);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(numbers, (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(s->last_row, s_last);
    EXPECT_NE(it->iterate, nullptr);
}

TEST_F(CursorRun, IteratingAnEmptySourceStillCountsASample) {
    parse(block("S", "%rowno, %parm0", nosql) +
          block("IT", "X", nosql + "iterate S;\nempty;\nconditional_dummy_last_row;\n"));
    curs* s = find("S");
    curs* it = find("IT");
    ASSERT_EQ(run_cursor(s, stamp), 0);
    it->iterate->curs = s;
    source(it, 1, s, 1);
    ASSERT_EQ(run_cursor(it, stamp), 0);
    ASSERT_EQ(it->count, 1);
    int32_t sample = it->sampleno;
    delete_all(s);
    ASSERT_EQ(run_cursor(it, stamp), 0);
    EXPECT_EQ(it->sampleno, sample + 1);
    // The run's only row is the dummy.
    ASSERT_EQ(it->count, 1);
    EXPECT_EQ(it->last_row->len, it->length);
    // A numeric source column shows '0'.
    EXPECT_EQ(value(it->last_row, column(it, 1)), std::string(15, ' ') + "0");
}

TEST_F(CursorRun, GetCursorDataMarksTheCollector) {
    parse(block("P", "%rowno, %parm0", nosql) + block("SQ", "V") + block("VI", "V", "virtual;\n"));
    int64_t now = relative_sec(stamp);
    EXPECT_EQ(get_cursor_data(static_cast<int>(now), find("P")), 0);
    EXPECT_STREQ(find("P")->last_time, stamp);
    EXPECT_STREQ(collector.status, "GOOD");
    find("SQ")->stale_time = 99;
    EXPECT_EQ(get_cursor_data(static_cast<int>(now), find("SQ")), 1);
    EXPECT_EQ(find("SQ")->stale_time, 0);
    EXPECT_STREQ(collector.status, "FAIL");
    curs* v = find("VI");
    v->changed = 0;
    EXPECT_EQ(get_cursor_data(static_cast<int>(now), v), 0);
    EXPECT_EQ(v->changed, 1);
    EXPECT_EQ(v->needs_history, 1);
    EXPECT_EQ(v->sampleno, 0);
}

TEST_F(CursorRun, DemandAnswers) {
    parse(block("D", "%rowno, %parm0", nosql + "demand;\n"));
    curs* d = find("D");
    struct skip_case {
        const char* name;
        void (*arrange)(curs*);
    };
    const skip_case skips[] = {
        {"held", [](curs* c) { c->held = 'Y'; }},
        {"not on demand", [](curs* c) { c->demand = 0; }},
        {"age-to target", [](curs* c) { c->aged_to = 1; }},
    };
    for (const skip_case& k : skips) {
        curs saved = *d;
        k.arrange(d);
        EXPECT_EQ(prep_demand(d), nullptr) << k.name;
        EXPECT_EQ(d->sampleno, 0) << k.name;
        EXPECT_EQ(d->stale_time, 0) << k.name;
        *d = saved;
    }
    // stale 0: every answer runs afresh and the rows go after it.
    d->stale = 0;
    prep_demand(d);
    EXPECT_EQ(d->sampleno, 1);
    EXPECT_EQ(d->count, 0);
    EXPECT_GT(d->stale_time, 0);
    prep_demand(d);
    EXPECT_EQ(d->sampleno, 2);
    // A freshness period keeps them.
    d->stale = 60;
    prep_demand(d);
    EXPECT_EQ(d->count, 1);
}

}  // namespace
