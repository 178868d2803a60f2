// The monitor cursors over input cursors built in code: each procedure's exact lines for a
// small fixture, one input changed per further case, and the ways a call fails.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"
#include "runtime/exec.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"

namespace {

struct Counter {
    std::string group;
    std::string name;
    std::string value;
};

// SYSMON, ZEMV and SYSCCONF of one sample; every test adds the counters it needs.
class Monitor : public ::testing::Test {
  protected:
    Monitor()
        : sysmon("SYSMON", cursortest::sysmon_columns()),
          zemv(std::make_unique<cursortest::cursor>(
              "ZEMV", std::vector<cursortest::col_spec>{{"STARTTIME", 8, 1}, {"STOPTIME", 8, 1}})),
          sysconf("SYSCCONF", {{"NUMENG", 4, 1}}) {
        reset_internal_select();
    }
    ~Monitor() override {
        reset_internal_select();
        free_perm_term_tb(lx_sql_handler);
        lx_sql_handler = nullptr;
    }

    void sample(const std::vector<Counter>& counters, const char* start = "3600",
                const char* stop = "3660", const char* numeng = "2") {
        for (const Counter& k : counters) sysmon.add({k.group, k.name, k.value});
        zemv->add({start, stop});
        sysconf.add({numeng});
        sysmon.point_at_fetch_area();
        zemv->point_at_fetch_area();
        sysconf.point_at_fetch_area();
    }

    // Two caches on buffers 0 and 1 in the cache map, sampled with 5 and 7 large grabs.
    void sample_two_caches(cursortest::cursor& map) {
        map.add({"default data cache", "buffer_0"});
        map.add({"tempdb cache", "buffer_1"});
        map.point_at_fetch_area();
        sample({{"access", "xacts", "30"},
                {"buffer_0", "bufgrab_16k", "5"},
                {"buffer_1", "bufgrab_16k", "7"}});
    }

    // The driver's lines for the name (empty when it gave none), freed here.
    std::vector<std::string> run(const char* name) {
        r_exec_chain* head = smon_curs_driver(name);
        std::vector<std::string> lines;
        for (r_exec_chain* e = head; e; e = e->next) lines.emplace_back(e->line);
        u_free_r_chain(head);
        return lines;
    }

    LogCapture log;
    cursortest::cursor sysmon;
    std::unique_ptr<cursortest::cursor> zemv;
    cursortest::cursor sysconf;
};

TEST_F(Monitor, UnknownAndLowerCaseNamesFindNoProcedure) {
    sample({{"access", "xacts", "30"}});
    for (const char* name : {"ZEMNONE", "zemengs", ""}) {
        EXPECT_TRUE(run(name).empty()) << name;
        EXPECT_TRUE(log.has(std::string("SMON010")) &&
                    log.has(std::string("Can't find a proc for cursor ") + name))
            << name << log.text();
    }
}

// Engine totals: sums over the engine groups, busy from the summed ticks, bytes beyond 2^31.
TEST_F(Monitor, EngineTotalsLine) {
    sample({{"access", "xacts", "30"},
            {"engine_0", "clock_ticks", "100"},
            {"engine_1", "clock_ticks", "100"},
            {"engine_0", "cpu_ticks", "25"},
            {"engine_1", "cpu_ticks", "35"},
            {"engine_0", "engine_sleeps", "5"},
            {"engine_1", "engine_sleeps", "7"},
            {"engine_0", "context_switches", "40"},
            {"engine_0", "max_outstanding_AIOs_engine", "3"},
            {"engine_0", "total_dpoll_completed_aios", "9"},
            {"engine_1", "no_packets_received", "11"},
            {"engine_0", "no_bytes_received", "2147483647"},
            {"engine_1", "no_bytes_received", "2147483647"},
            {"engine_2", "no_bytes_received", "2147483650"},
            {"engine_0", "no_packets_sent", "13"},
            {"engine_0", "no_bytes_sent", "1000"}});
    EXPECT_EQ(run("ZEMENGS"),
              (std::vector<std::string>{"\t 2\t\t     60\t\t     30\t\t     70\t\t     30\t\t"
                                        "     12\t\t     40\t\t      3\t\t      9\t\t     11\t\t"
                                        "6442450944\t\t     13\t\t   1000\t"}))
        << log.text();
}

TEST_F(Monitor, EngineTotalsWithoutTicksOrTransactions) {
    // Elapsed 86400 (stop equals start), no xacts row, clock_ticks 0.
    sample({{"engine_0", "clock_ticks", "0"}, {"engine_0", "cpu_ticks", "0"}}, "500", "500", "0");
    const auto lines = run("ZEMENGS");
    ASSERT_EQ(lines.size(), 1u) << log.text();
    EXPECT_EQ(lines[0].substr(0, 40), "\t 0\t\t  86400\t\t      1\t\t      0\t\t    100\t");
    EXPECT_TRUE(log.has("ENGS0040")) << log.text();
    EXPECT_TRUE(log.has("No rows in cursor SYSMON to get a FLDVALUE for xacts: assuming 1"));
    EXPECT_TRUE(log.has("ENGS0455")) << log.text();
    EXPECT_TRUE(log.has("ENGS0170")) << log.text();  // engine_sleeps absent
}

TEST_F(Monitor, SqlActivityLines) {
    sample({{"access", "xacts", "30"},
            {"access", "ncinsert", "6"},
            {"access", "cinsert", "4"},
            {"access", "deferred_update", "2"},
            {"access", "direct_inplace_update", "8"},
            {"access", "direct_notinplace_update", "0"},
            {"access", "direct_expensive_update", "0"},
            {"access", "delete", "10"},
            {"access", "delete_deferred", "3"}});
    EXPECT_EQ(run("ZEMSQLD"),
              (std::vector<std::string>{
                  "\tTotal SQL Activity\t\t    0.50\t\t    1.00\t\t      30\t\t     100\t",
                  "\tInserted Total\t\t    0.17\t\t    0.33\t\t      10\t\t   33.33\t",
                  "\tUpdated Total\t\t    0.17\t\t    0.33\t\t      10\t\t   33.33\t",
                  "\tDeleted Total\t\t    0.17\t\t    0.33\t\t      10\t\t   33.33\t",
                  "\tInserted Heap Table\t\t    0.10\t\t    0.20\t\t      6\t\t   60.00\t",
                  "\tInserted Clustered Table\t\t    0.07\t\t    0.13\t\t      4\t\t   40.00\t",
                  "\tUpdated Deferred\t\t    0.03\t\t    0.07\t\t      2\t\t   20.00\t",
                  "\tUpdated Direct In-place\t\t    0.13\t\t    0.27\t\t      8\t\t   80.00\t",
                  "\tUpdated Direct Cheap\t\t    0.00\t\t    0.00\t\t      0\t\t    0.00\t",
                  "\tDeleted Deferred\t\t    0.05\t\t    0.10\t\t      3\t\t   30.00\t",
                  "\tDeleted Direct\t\t    0.12\t\t    0.23\t\t      7\t\t   70.00\t"}))
        << log.text();
}

TEST_F(Monitor, SqlActivityWithoutActivity) {
    sample({{"access", "xacts", "30"},
            {"access", "ncinsert", "0"},
            {"access", "cinsert", "0"},
            {"access", "deferred_update", "0"},
            {"access", "direct_inplace_update", "0"},
            {"access", "direct_notinplace_update", "0"},
            {"access", "direct_expensive_update", "0"},
            {"access", "delete", "0"},
            {"access", "delete_deferred", "0"}});
    const auto lines = run("ZEMSQLD");
    ASSERT_EQ(lines.size(), 11u) << log.text();
    EXPECT_EQ(lines[0], "\tTotal SQL Activity\t\t    0.00\t\t    0.00\t\t       0\t\t     100\t");
    EXPECT_EQ(lines[3], "\tDeleted Total\t\t    0.00\t\t    0.00\t\t       0\t\t    0.00\t");
    EXPECT_EQ(lines[10], "\tDeleted Direct\t\t    0.02\t\t    0.03\t\t      1\t\t  100.00\t");
}

TEST_F(Monitor, NoZemvGivesTheProceduresOwnIdAndNoLine) {
    zemv.reset();
    sysmon.add({"access", "xacts", "30"});
    sysmon.point_at_fetch_area();
    sysconf.add({"2"});
    sysconf.point_at_fetch_area();
    EXPECT_TRUE(run("ZEMSQLD").empty());
    EXPECT_TRUE(log.has("SQLD0010")) << log.text();
    EXPECT_TRUE(run("ZEMENGS").empty());
    EXPECT_TRUE(log.has("ENGS0100")) << log.text();
}

// Cache totals over every buffer group.
TEST_F(Monitor, CacheSummaryLine) {
    sample({{"access", "xacts", "30"},
            {"buffer_0", "bufsearch_calls", "100"},
            {"buffer_1", "bufsearch_calls", "20"},
            {"buffer_0", "bufsearch_finds", "90"},
            {"buffer_0", "bufgrab_2k", "8"},
            {"buffer_0", "bufgrab_16k", "4"},
            {"buffer_0", "bufgrab_dirty_2k", "1"},
            {"buffer_0", "bufunkeep_lru", "30"},
            {"buffer_0", "bufunkeep_mru", "10"},
            {"buffer_0", "prefetch_req", "20"},
            {"buffer_0", "prefetch_as_requested", "12"},
            {"buffer_0", "prefetch_page_realigned", "3"},
            {"buffer_0", "bufgrab_ref_16K", "2"}});
    // read 120, hit 90, miss 30; unkeeps 40; tot4 20, hit5 15, denied 5; tot5: 16k grab (4)
    // and the ref and dirty grabs (1 + 2) = 7; hit6 2.
    EXPECT_EQ(run("ZEMCACS"),
              (std::vector<std::string>{
                  "\t  2.0\t\t  4.0\t\t    120\t\t  1.5\t\t  3.0\t\t     90\t\t 75.0\t\t"
                  "  0.5\t\t  1.0\t\t     30\t\t 25.0\t\t  0.5\t\t  1.0\t\t     30\t\t 75.0\t\t"
                  "  0.2\t\t  0.3\t\t     10\t\t 25.0\t\t  0.2\t\t  0.5\t\t     15\t\t 75.0\t\t"
                  "  0.1\t\t  0.2\t\t      5\t\t 25.0\t\t  0.1\t\t  0.2\t\t      7\t\t"
                  "  0.0\t\t  0.1\t\t      2\t\t 28.6\t"}))
        << log.text();
}

TEST_F(Monitor, CachesOfFiveAndSevenEachShowTheirOwnLargeGrabs) {
    cursortest::cursor map("CACHEMAP", {{"CACHENAME", 20, 1}, {"BUFFERNAME", 20, 1}});
    sample_two_caches(map);
    const auto lines = run("ZEMCACD");
    ASSERT_EQ(lines.size(), 2u) << log.text();
    auto column = [](const std::string& line, int n) {
        size_t at = 0;
        for (int i = 1; i < n; ++i) at = line.find("\t\t", at) + 2;
        if (n == 1) at = 1;
        return line.substr(at, line.find('\t', at) - at);
    };
    // The name comes as CACHEMAP holds it, blank-padded to its column.
    EXPECT_EQ(column(lines[0], 1), "default data cache  ");
    EXPECT_EQ(column(lines[0], 31), "      5");
    EXPECT_EQ(column(lines[1], 1), "tempdb cache        ");
    EXPECT_EQ(column(lines[1], 31), "      7");
    EXPECT_TRUE(map.rests_on_last_row());
}

// The terms a procedure holds between calls live in the driver's table: once that table is
// freed (and a new one made at the next call), they are taken afresh, never read freed.
TEST_F(Monitor, HeldTermsDoNotOutliveTheirTable) {
    cursortest::cursor map("CACHEMAP", {{"CACHENAME", 20, 1}, {"BUFFERNAME", 20, 1}});
    sample_two_caches(map);
    const auto first = run("ZEMCACD");
    ASSERT_EQ(first.size(), 2u) << log.text();
    free_perm_term_tb(lx_sql_handler);
    lx_sql_handler = nullptr;
    EXPECT_EQ(run("ZEMCACD"), first);
    EXPECT_EQ(run("ZEMCACS").size(), 1u);
    EXPECT_FALSE(log.has("SEL0815")) << log.text();
}

TEST_F(Monitor, EmptyCacheMapGivesNoLine) {
    cursortest::cursor map("CACHEMAP", {{"CACHENAME", 20, 1}, {"BUFFERNAME", 20, 1}});
    sample({{"access", "xacts", "30"}});
    EXPECT_TRUE(run("ZEMCACD").empty());
    EXPECT_FALSE(log.has("CACD")) << log.text();
}

TEST_F(Monitor, BadValueInTheThirdCacheReleasesEverything) {
    cursortest::cursor map("CACHEMAP", {{"CACHENAME", 20, 1}, {"BUFFERNAME", 20, 1}});
    map.add({"a", "buffer_0"});
    map.add({"b", "buffer_1"});
    map.add({"c", "buffer_2"});
    map.add({"d", "buffer_3"});
    map.point_at_fetch_area();
    sample({{"access", "xacts", "30"}, {"buffer_2", "bufsearch_calls", "12x"}});
    EXPECT_TRUE(run("ZEMCACD").empty());
    EXPECT_TRUE(log.has("CACD0160")) << log.text();
    EXPECT_TRUE(map.rests_on_last_row());
}

const std::vector<Counter> kLog = {{"access", "xacts", "30"},
                                   {"xls", "plc_flush_full", "6"},
                                   {"xls", "plc_flush_endxact", "3"},
                                   {"xls", "plc_flush_xdeschange", "0"},
                                   {"xls", "plc_flush_slr_xact", "1"},
                                   {"xls", "plc_flush_unpin", "0"},
                                   {"xls", "plc_flush_discard", "0"},
                                   {"xls", "plc_flush_pmscan", "0"},
                                   {"xls", "plc_lock_calls", "10"},
                                   {"xls", "plc_lock_waits", "4"},
                                   {"xls", "log_lock_granted", "15"},
                                   {"xls", "log_lock_waited", "5"},
                                   {"xls", "plc_maxused", "7"},
                                   {"buffer_0", "log_page_writes", "3"},
                                   {"buffer_1", "log_page_writes", "4"},
                                   {"xls", "plc_logrecs", "100"}};

TEST_F(Monitor, LogDetailLines) {
    sample(kLog);
    EXPECT_EQ(
        run("ZEMLOGD"),
        (std::vector<std::string>{
            "\tTotal PLC Flushes\t\t    0.17\t\t    0.33\t\t      10\t\t     100\t",
            "\tTotal PLC Semaphore Req\t\t    0.17\t\t    0.33\t\t      10\t\t     100\t",
            "\tTotal Log Semaphore Req\t\t    0.33\t\t    0.67\t\t      20\t\t     100\t",
            "\tFlushes by Full PLC\t\t    0.10\t\t    0.20\t\t      6\t\t   60.00\t",
            "\tFlushes by End Transaction\t\t    0.05\t\t    0.10\t\t      3\t\t   30.00\t",
            "\tFlushes by Change of Database\t\t    0.00\t\t    0.00\t\t      0\t\t    0.00\t",
            "\tFlushes by System Log Record\t\t    0.02\t\t    0.03\t\t      1\t\t   10.00\t",
            "\tFlushes by Other\t\t    0.00\t\t    0.00\t\t      0\t\t    0.00\t",
            "\tGranted PLC Semaphore Req\t\t    0.10\t\t    0.20\t\t      6\t\t   60.00\t",
            "\tWaited PLC Semaphore Req\t\t    0.07\t\t    0.13\t\t      4\t\t   40.00\t",
            "\tGranted Log Semaphore Req\t\t    0.25\t\t    0.50\t\t     15\t\t   75.00\t",
            "\tWaited Log Semaphore Req\t\t    0.08\t\t    0.17\t\t      5\t\t   25.00\t"}))
        << log.text();
}

TEST_F(Monitor, LogSummaryNeedsNoSampleTimes) {
    sample(kLog);
    zemv.reset();
    // log_page_allocations is absent: assumed 1.
    EXPECT_EQ(run("ZEMLOGS"),
              (std::vector<std::string>{"\t       7\t\t       7\t\t       1\t\t     100\t\t"
                                        "      10\t\t      10\t\t      20\t"}))
        << log.text();
    EXPECT_TRUE(log.has("LOGS0220")) << log.text();
    EXPECT_TRUE(run("ZEMLOGD").empty());
    EXPECT_TRUE(log.has("LOGD0100")) << log.text();
}

const std::vector<Counter> kLock = {
    {"access", "xacts", "30"},         {"lock", "granted_EX_TAB", "30"},
    {"lock", "waited_EX_TAB", "10"},   {"lock", "deadlock_EX_TAB", "2"},
    {"lock", "granted_SH_PAGE", "50"}, {"lock", "waited_SH_PAGE", "10"},
    {"lock", "deadlocks", "0"},        {"access", "locklastpage", "0"},
    {"access", "lklastpg_wait", "0"}};

TEST_F(Monitor, LockDetailLines) {
    sample(kLock);
    const auto lines = run("ZEMLCKD");
    ASSERT_EQ(lines.size(), 10u) << log.text();
    // A deadlock total of 0 divides as 1.
    EXPECT_EQ(lines[0],
              "\tEX-Table Requests\t\t    0.67\t\t    1.33\t\t      40\t\t   40.00\t\t    0.50\t\t"
              "    1.00\t\t     30\t\t   75.00\t\t    0.17\t\t    0.33\t\t     10\t\t   25.00\t\t"
              "    0.03\t\t    0.07\t\t      2\t\t  200.00\t");
    // No deadlock_SH_PAGE row: assumed 1.
    EXPECT_EQ(lines[6],
              "\tSH-Page Requests\t\t    1.00\t\t    2.00\t\t      60\t\t   60.00\t\t    0.83\t\t"
              "    1.67\t\t     50\t\t   83.33\t\t    0.17\t\t    0.33\t\t     10\t\t   16.67\t\t"
              "    0.02\t\t    0.03\t\t      1\t\t  100.00\t");
    EXPECT_TRUE(log.has("LCKD0880")) << log.text();
    EXPECT_EQ(
        lines[9],
        "\tLast Pg Locks Total\t\t    0.00\t\t    0.00\t\t       0\t\t    0.00\t\t    0.00\t\t"
        "    0.00\t\t      0\t\t    0.00\t\t    0.00\t\t    0.00\t\t      0\t\t    0.00\t\t"
        "    0.00\t\t    0.00\t\t      0\t\t    0.00\t");
}

TEST_F(Monitor, LockSummaryLine) {
    sample(kLock);
    // Neither promotion counter: each assumed 1, promotions 2; deadlocks shown as read (0).
    EXPECT_EQ(run("ZEMLCKS"),
              (std::vector<std::string>{
                  "\t    1.67\t\t    3.33\t\t     100\t\t    0.33\t\t    0.67\t\t     20\t\t"
                  "   20.00\t\t    0.00\t\t    0.00\t\t      0\t\t    0.00\t\t    0.03\t\t"
                  "    0.07\t\t       2\t\t    0.02\t\t    0.03\t\t      1\t\t   50.00\t\t"
                  "    0.02\t\t    0.03\t\t      1\t\t   50.00\t"}))
        << log.text();
    EXPECT_TRUE(log.has("LCKS0360") && log.has("LCKS0420")) << log.text();
}

const std::vector<Counter> kEngines = {{"access", "xacts", "30"},
                                       {"engine_0", "clock_ticks", "200"},
                                       {"engine_0", "cpu_ticks", "3"},
                                       {"engine_1", "clock_ticks", "0"},
                                       {"engine_0", "engine_sleeps", "5"},
                                       {"engine_1", "engine_sleeps", "15"},
                                       {"engine_0", "context_switches", "40"},
                                       {"engine_1", "context_switches", "60"},
                                       {"engine_0", "max_outstanding_AIOs_engine", "3"},
                                       {"engine_1", "max_outstanding_AIOs_engine", "4"},
                                       {"engine_0", "total_dpoll_completed_aios", "9"},
                                       {"engine_1", "total_dpoll_completed_aios", "1"},
                                       {"engine_0", "no_packets_received", "10"},
                                       {"engine_1", "no_packets_received", "30"},
                                       {"engine_0", "no_bytes_received", "1000"},
                                       {"engine_1", "no_bytes_received", "3000"},
                                       {"engine_0", "no_packets_sent", "5"},
                                       {"engine_1", "no_packets_sent", "15"},
                                       {"engine_0", "no_bytes_sent", "500"},
                                       {"engine_1", "no_bytes_sent", "1500"}};

TEST_F(Monitor, EngineDetailLines) {
    sample(kEngines);
    const auto lines = run("ZEMENGD");
    ASSERT_EQ(lines.size(), 2u) << log.text();
    // Busy 3 * 100 / 200 = 1 in integer arithmetic, idle 99.
    EXPECT_EQ(lines[0],
              "\tengine0\t\t     60\t\t     30\t\t     99\t\t      1\t\t    0.1\t\t    0.2\t\t"
              "      5\t\t   25.0\t\t    0.7\t\t    1.3\t\t     40\t\t   40.0\t\t      3\t\t"
              "      9\t\t    0.2\t\t    0.3\t\t     10\t\t   25.0\t\t   16.7\t\t   33.3\t\t"
              "   1000\t\t   25.0\t\t    0.1\t\t    0.2\t\t      5\t\t   25.0\t\t    8.3\t\t"
              "   16.7\t\t    500\t\t   25.0\t");
    // clock_ticks 0: busy 100 after the warning; no cpu_ticks row: assumed 1.
    EXPECT_EQ(lines[1].substr(0, 45), "\tengine1\t\t     60\t\t     30\t\t      0\t\t    100\t");
    EXPECT_TRUE(log.has("ENGD0455") && log.has("ENGD0440")) << log.text();
}

TEST_F(Monitor, EngineDetailEngineCounts) {
    sample({{"access", "xacts", "30"}}, "3600", "3660", "0");
    EXPECT_TRUE(run("ZEMENGD").empty());
    EXPECT_TRUE(log.has("ENGD0025") && log.has("0 engines")) << log.text();

    sysconf.clear_rows();
    sysconf.add({"101"});
    sysconf.point_at_fetch_area();
    const auto lines = run("ZEMENGD");
    ASSERT_EQ(lines.size(), 100u) << log.text();
    EXPECT_EQ(lines[12].substr(0, 10), "\tengine12\t");
    EXPECT_EQ(lines[99].substr(0, 10), "\tengine99\t");
}

struct TaskCase {
    const char* name;
    const char* total;
    const char* other;  // the "Other Causes" line
};

class TaskSwitches : public Monitor, public ::testing::WithParamInterface<TaskCase> {};

// Kernel yields 10, the thirteen other causes absent (each assumed 1): causes 23.
TEST_P(TaskSwitches, OtherCausesAreTheRest) {
    sample({{"access", "xacts", "30"},
            {"engine_0", "context_switches", GetParam().total},
            {"kernel", "yields", "10"}});
    const auto lines = run("ZEMTSKD");
    ASSERT_EQ(lines.size(), 16u) << log.text();
    EXPECT_EQ(lines[15], GetParam().other);
    EXPECT_TRUE(log.has("TSKD0320") && log.has("TSKD1520")) << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Monitor, TaskSwitches,
    ::testing::Values(TaskCase{"Total100", "100",
                               "\tOther Causes\t\t    1.28\t\t    2.57\t\t     77\t\t   77.00\t"},
                      TaskCase{"CausesAboveTheTotal", "5",
                               "\tOther Causes\t\t   -0.30\t\t   -0.60\t\t    -18\t\t -360.00\t"},
                      // A total of 0 is shown as 0; the percentages divide by 1.
                      TaskCase{"TotalZero", "0",
                               "\tOther Causes\t\t   -0.37\t\t   -0.73\t\t    -22\t\t-2200.00\t"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Monitor, TaskSwitchFirstLines) {
    sample({{"access", "xacts", "30"},
            {"engine_0", "context_switches", "60"},
            {"engine_1", "context_switches", "40"},
            {"kernel", "yields", "10"}});
    const auto lines = run("ZEMTSKD");
    ASSERT_EQ(lines.size(), 16u) << log.text();
    EXPECT_EQ(lines[0], "\tTotal Task Switches\t\t    1.67\t\t    3.33\t\t     100\t\t     100\t");
    EXPECT_EQ(lines[1], "\tVoluntary Yields\t\t    0.17\t\t    0.33\t\t     10\t\t   10.00\t");
}

TEST_F(Monitor, DeviceLines) {
    cursortest::cursor dev("SYSDEV", {{"DEVNAME", 6, 1}, {"OSNAME", 10, 1}, {"DISKMON", 8, 1}});
    dev.add({"master", "/dev/sda 1", "disk_0"});
    dev.add({"data", "/d/data", "disk_9"});
    dev.point_at_fetch_area();
    sample({{"access", "xacts", "30"},
            {"disk_0", "total_reads", "30"},
            {"disk_0", "total_writes", "10"},
            {"disk_0", "p_hits", "8"},
            {"disk_0", "p_misses", "2"}});
    EXPECT_EQ(run("ZEMSDEVD"),
              (std::vector<std::string>{
                  "\tmaster\t\t/dev/sda 1\t\t    0.50\t\t    1.00\t\t     30\t\t   75.00\t\t"
                  "    0.17\t\t    0.33\t\t     10\t\t   25.00\t\t    0.67\t\t    1.33\t\t"
                  "     40\t\t  100.00\t\t    0.13\t\t    0.27\t\t      8\t\t   80.00\t\t"
                  "    0.03\t\t    0.07\t\t      2\t\t   20.00\t",
                  // disk_9 names no group: four counters assumed 1, io and sem 2.
                  "\tdata  \t\t/d/data   \t\t    0.02\t\t    0.03\t\t      1\t\t   50.00\t\t"
                  "    0.02\t\t    0.03\t\t      1\t\t   50.00\t\t    0.03\t\t    0.07\t\t"
                  "      2\t\t    5.00\t\t    0.02\t\t    0.03\t\t      1\t\t   50.00\t\t"
                  "    0.02\t\t    0.03\t\t      1\t\t   50.00\t"}))
        << log.text();
    EXPECT_TRUE(dev.rests_on_last_row());
}

TEST_F(Monitor, NoSysdevCursor) {
    sample({{"access", "xacts", "30"}});
    EXPECT_TRUE(run("ZEMSDEVD").empty());
    EXPECT_TRUE(log.has("DEVD0120")) << log.text();
}

}  // namespace
