// The schedule loop on a fixed clock with a recording run table.
#include "collector/run/schedule.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "acquire/server_faults.h"
#include "acquire/sql_cursor.h"
#include "collector/run/signals.h"
#include "collector/startup/engine_hooks.h"
#include "collector/startup/startup.h"
#include "collector/tests/engine_test_support.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/msg.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"
#include "tests/tds/tds_testenv.h"

namespace {

using colltest::fake_time;
using colltest::FakeClock;
using colltest::quit_called;
using colltest::QuitTrap;

// 2026-12-10 14:30:00 UTC, a Thursday.
constexpr time_t kStart = 1796913000;

struct run_log {
    static inline std::vector<std::string> calls;
    static inline std::vector<std::string> stamps;  // time handed to distribute
    static inline int fail_cursor = 0;              // cursor whose run fails (index + 1)
    static inline int redo_after = 0;               // cursor after whose run reDoInit is set
    static inline int history_rc = 0;
    static inline int ulv_turns = 0;
};

int record_cursor(int32_t /*now*/, curs* c) {
    run_log::calls.push_back(std::string("run:") + c->cur_name);
    const int index = c->cur_name[1] - '0';
    if (run_log::redo_after == index) database_info.status = reDoInit;
    return run_log::fail_cursor == index ? 1 : 0;
}
int record_commit(int release) {
    run_log::calls.push_back("commit:" + std::to_string(release));
    return 0;
}
int record_history(const char*) {
    run_log::calls.push_back("history");
    return run_log::history_rc;
}
int record_nulv(distrib*, const char*) {
    run_log::calls.push_back("nulv");
    return 0;
}
int record_distribute(distrib* d, const char* now) {
    run_log::calls.push_back(std::string("distribute:") + d->distrib_name);
    run_log::stamps.emplace_back(now);
    return 0;
}
int record_evaluator(const char*, distrib*) {
    run_log::calls.push_back("evaluator");
    return 0;
}
int record_ulv() {
    run_log::calls.push_back("ulv");
    ++run_log::ulv_turns;
    return 0;
}
int record_memory(curs*) { return 0; }

// A log file that quitting may close: the test reads it through its own descriptor.
class ClosableLog {
  public:
    ClosableLog() : saved_(stder), file_(std::tmpfile()) {
        stder = fdopen(dup(fileno(file_)), "w");
    }
    ~ClosableLog() {
        if (stder != nullptr) std::fclose(stder);
        stder = saved_;
        std::fclose(file_);
    }
    std::string text() {
        if (stder != nullptr) std::fflush(stder);
        std::string out;
        std::rewind(file_);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, file_)) > 0) out.append(buf, n);
        return out;
    }
    bool has(const std::string& s) { return text().find(s) != std::string::npos; }

  private:
    FILE* saved_;
    FILE* file_;
};

class Schedule : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_runs_ = engine_runs;
        engine_runs =
            engine_run_table{record_cursor, record_commit,     record_memory,    record_history,
                             record_nulv,   record_distribute, record_evaluator, record_ulv};
        run_log::calls.clear();
        run_log::stamps.clear();
        run_log::fail_cursor = run_log::redo_after = run_log::history_rc = 0;
        run_log::ulv_turns = 0;
        database_info.status = up;
        database_info.connected = 1;
        saved_sleep_ = sleep_time;
        sleep_time = 10;
        go_home = 0;
        // Cursors other tests left on the list stay out of this one's passes.
        saved_cursors_ = cur_anchor;
        cur_anchor = nullptr;
    }
    void TearDown() override {
        engine_runs = saved_runs_;
        sleep_time = saved_sleep_;
        go_home = 0;
        database_info.status = down;
        database_info.connected = 0;
        distrib_free_all();
        for (curs* c = cur_anchor; c != nullptr;) {
            curs* next = c->next;
            U_FREE(c);
            c = next;
        }
        cur_anchor = saved_cursors_;
    }

    distrib* add_distrib(const char* name, int32_t interval) {
        distrib* d = distrib_new();
        std::strncpy(d->distrib_name, name, sizeof d->distrib_name - 1);
        d->interval = interval;
        d->saturday_start = d->sunday_start = d->mon_fri_start = &full_day;
        distrib** tail = &distrib_anchor;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = d;
        if (std::strcmp(name, "collector") == 0) collector_at = d;
        return d;
    }
    curs* add_cursor(const char* name, int32_t interval, int32_t klass) {
        curs* c = curs_new();
        std::strncpy(c->cur_name, name, sizeof c->cur_name - 1);
        c->interval = interval;
        c->klass = klass;
        c->saturday_start = c->sunday_start = c->mon_fri_start = &full_day;
        curs** tail = &cur_anchor;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = c;
        return c;
    }
    static int64_t now() {
        char stamp[15];
        get_time(stamp);
        return relative_sec(stamp);
    }

    FakeClock clock_{kStart};
    engine_run_table saved_runs_;
    int32_t saved_sleep_ = 10;
    curs* saved_cursors_ = nullptr;
};

TEST_F(Schedule, CollectRunsOnlyTheCursorsThatPassEveryTest) {
    LogCapture log;
    distrib* coll = add_distrib("collector", 60);
    coll->classes[1] = 1;
    add_cursor("C1", 60, 0);
    curs* held = add_cursor("C2", 60, 0);
    held->held = 'Y';  // no hold reason left: runs again from the next pass
    curs* kept = add_cursor("C3", 60, 0);
    kept->held = 'Y';
    kept->held_stat[H_CUR] = 1;
    add_cursor("C4", 60, 2)->demand = 0;  // class 2 is off
    add_cursor("C5", 60, 0)->demand = 1;
    add_cursor("C6", 60, 50);  // no such class
    curs* later = add_cursor("C7", 60, 1);
    later->next_time = static_cast<int32_t>(now() + 5);

    EXPECT_EQ(collect(coll), 0);
    EXPECT_EQ(run_log::calls, (std::vector<std::string>{"run:C1", "commit:0"}));
    EXPECT_EQ(held->held, 'N');
    EXPECT_EQ(kept->held, 'Y');
    EXPECT_STREQ(coll->status, "GOOD");
    EXPECT_EQ(cur_anchor->next_time, now() + 60);
    char stamp[15];
    get_time(stamp);
    EXPECT_STREQ(coll->time, stamp);
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        EXPECT_STREQ(c->last_time, stamp) << c->cur_name;
        EXPECT_EQ(c->bypass, 0);
    }
}

TEST_F(Schedule, AFailedCursorMarksTheCollectionFailed) {
    LogCapture log;
    distrib* coll = add_distrib("collector", 60);
    add_cursor("C1", 60, 0);
    add_cursor("C2", 60, 0);
    run_log::fail_cursor = 1;
    EXPECT_EQ(collect(coll), 1);
    EXPECT_EQ(run_log::calls, (std::vector<std::string>{"run:C1", "run:C2", "commit:0"}));
    EXPECT_STREQ(coll->status, "FAIL");
    EXPECT_TRUE(log.has("CGN1521E")) << log.text();
    EXPECT_STREQ(cur_anchor->next->last_time, cur_anchor->last_time);
}

TEST_F(Schedule, APassRunsWhatIsDueByNameAndSchedulesTheNextRun) {
    LogCapture log;
    distrib* coll = add_distrib("collector", 60);
    coll->held = 'Y';  // ignored for the collector
    distrib* held = add_distrib("nulv", 30);
    held->held = 'Y';
    std::memcpy(held->status, "GOOD", 5);
    distrib* hist = add_distrib("historian", 300);
    distrib* gen = add_distrib("general", 120);
    gen->time_offset = 3600;
    distrib* off = add_distrib("evaluator", 60);
    off->state = 0;  // not running
    hist->state |= 2;
    add_cursor("C1", 60, 0);
    run_log::history_rc = 3;

    const int64_t t0 = now();
    schedule_pass();
    EXPECT_EQ(run_log::calls,
              (std::vector<std::string>{"run:C1", "commit:0", "history", "distribute:general"}));
    EXPECT_STREQ(held->status, "GOOD");
    EXPECT_STREQ(hist->status, "FAIL");
    EXPECT_EQ(coll->next_time, t0 + 60);
    EXPECT_EQ(hist->next_time, t0 + 300);
    EXPECT_EQ(gen->next_time, t0 + 120);
    char ahead[15];
    ASSERT_EQ(run_log::stamps.size(), 1u);
    EXPECT_EQ(run_log::stamps[0], secs_to_date(ahead, t0 + 3600));
    EXPECT_EQ(hist->state, 1 | 4);
    // Nothing more is due for 60 s: the pass waits sleep_time, not a busy loop.
    EXPECT_EQ(fake_time::sleeps, (std::vector<long>{10}));

    // A late pass: next times count from that pass, not from the earlier due times.
    run_log::calls.clear();
    fake_time::now = kStart + 400;
    const int64_t late = now();
    schedule_pass();
    EXPECT_EQ(coll->next_time, late + 60);
    EXPECT_EQ(hist->next_time, late + 300);
    EXPECT_STREQ(hist->status, "FAIL");
}

TEST_F(Schedule, APassWaitsOnlyUntilTheEarliestDueTime) {
    distrib* coll = add_distrib("collector", 60);
    coll->next_time = static_cast<int32_t>(now() + 3);
    distrib* hist = add_distrib("historian", 60);
    hist->next_time = static_cast<int32_t>(now() + 30);
    schedule_pass();
    EXPECT_TRUE(run_log::calls.empty());
    EXPECT_EQ(fake_time::sleeps, (std::vector<long>{3}));
    EXPECT_STREQ(coll->status, "");
    schedule_pass();
    EXPECT_STREQ(coll->status, "GOOD");  // nothing to commit without cursors
    EXPECT_TRUE(run_log::calls.empty());
}

TEST_F(Schedule, TheRequestServerSleepsInTurnsUntilTheCollectionIsDue) {
    distrib* coll = add_distrib("collector", 60);
    distrib* ulv = add_distrib("ulv", 60);
    coll->next_time = static_cast<int32_t>(now() + 25);
    char stamp[15];
    get_time(stamp);
    serve_requests(ulv, stamp);
    EXPECT_EQ(fake_time::sleeps, (std::vector<long>{10, 10, 5}));
    EXPECT_EQ(run_log::ulv_turns, 3);
    EXPECT_STREQ(ulv->status, "GOOD");
}

TEST_F(Schedule, ALongSleepTimeStaysPositive) {
    distrib* coll = add_distrib("collector", 60);
    distrib* ulv = add_distrib("ulv", 60);
    sleep_time = 40000;
    coll->next_time = static_cast<int32_t>(now() + 39000);
    char stamp[15];
    get_time(stamp);
    serve_requests(ulv, stamp);
    EXPECT_EQ(fake_time::sleeps, (std::vector<long>{39000}));
}

struct restarted {
    std::string path;
};

TEST_F(Schedule, AReinitialisationEndsTheCollectionAndTheNextPassRestarts) {
    QuitTrap trap;
    distrib* coll = add_distrib("collector", 60);
    add_distrib("historian", 60);
    add_cursor("C1", 60, 0);
    add_cursor("C2", 60, 0);
    run_log::redo_after = 1;
    {
        LogCapture log;
        schedule_pass();
        // C2 is not run; the pass still records GOOD and the historian still runs.
        EXPECT_EQ(run_log::calls, (std::vector<std::string>{"run:C1", "commit:0", "history"}));
        EXPECT_STREQ(coll->status, "GOOD");
    }

    char a0[] = "zemcoll";
    char* argv[] = {a0, nullptr};
    g_argv = argv;
    auto saved_exec = restart_exec;
    restart_exec = [](const char* path, char* const*) -> int { throw restarted{path}; };
    // quitting(-1) takes the cursors down; in the memory-tracing mode they are freed.
    const int16_t level7 = my_trace_all[7];
    my_trace_all[7] = 1;
    run_log::calls.clear();
    ClosableLog log;
    try {
        schedule_pass();
        ADD_FAILURE() << "no restart";
    } catch (const restarted& r) {
        EXPECT_EQ(r.path, "/proc/self/exe");
    }
    restart_exec = saved_exec;
    g_argv = nullptr;
    my_trace_all[7] = level7;
    EXPECT_EQ(cur_anchor, nullptr);
    EXPECT_EQ(run_log::calls, (std::vector<std::string>{"commit:-1"}));
    EXPECT_EQ(database_info.status, down);
    EXPECT_EQ(stder, nullptr);  // quitting(-1) closed the log
    const std::string text = log.text();
    EXPECT_NE(text.find("CGN1522S"), std::string::npos) << text;
    EXPECT_NE(text.find("GGN1505S"), std::string::npos) << text;
}

// A resetdb raised during a run asks for a restart while the collector's connection is
// open: the restart commits on that connection before it closes it. The real commit runs
// against the test server.
TEST_F(Schedule, TheRestartCommitsTheOpenConnectionFirst) {
    zovtds::TestEnv env;
    std::string error;
    ASSERT_TRUE(env.start("batch commit transaction\n", error)) << error;
    QuitTrap trap;
    distrib* coll = add_distrib("collector", 60);
    std::strcpy(coll->logon_id, "sa");
    std::strcpy(coll->password, "secret");
    std::memcpy(coll->server_id, "ZOVTDS  ", 8);
    {
        LogCapture log;
        ASSERT_EQ(connect_to_DB(coll), 0) << log.text();
    }
    database_info.connected = 1;
    engine_runs.commit_collect = commit_collect;
    database_info.status = reDoInit;  // what a resetdb decode leaves
    // A gate closed or a back-off left by an earlier test would skip the runs here.
    server_faults_reset();

    char a0[] = "zemcoll";
    char* argv[] = {a0, nullptr};
    g_argv = argv;
    auto saved_exec = restart_exec;
    restart_exec = [](const char* path, char* const*) -> int { throw restarted{path}; };
    ClosableLog log;
    try {
        schedule_pass();
        ADD_FAILURE() << "no restart";
    } catch (const restarted&) {
    }
    restart_exec = saved_exec;
    g_argv = nullptr;
    int commits = 0;
    for (const auto& e : env.server.log())
        commits += e.kind == zovtds::LogEntry::Batch && e.text == "commit transaction ";
    EXPECT_EQ(commits, 1) << log.text();
    EXPECT_EQ(database_info.connected, 0);
    EXPECT_EQ(database_info.status, down);
}

TEST_F(Schedule, AStopRequestWithoutASignalCommitsAndQuitsWithZero) {
    QuitTrap trap;
    add_distrib("collector", 60);
    go_home = 1;
    LogCapture log;
    try {
        schedule_pass();
        ADD_FAILURE() << "no stop";
    } catch (const quit_called& q) {
        EXPECT_EQ(q.code, 0);
    }
    EXPECT_EQ(run_log::calls, (std::vector<std::string>{"commit:-1"}));
    EXPECT_TRUE(log.has("CGN1524I")) << log.text();
    EXPECT_FALSE(log.has("CIR5005")) << log.text();
}

TEST_F(Schedule, AStopDuringCollectLeavesTheStatusAlone) {
    distrib* coll = add_distrib("collector", 60);
    add_cursor("C1", 60, 0);
    go_home = 1;
    EXPECT_EQ(collect(coll), 1);
    EXPECT_TRUE(run_log::calls.empty());
    EXPECT_STREQ(coll->status, "");
}

}  // namespace
