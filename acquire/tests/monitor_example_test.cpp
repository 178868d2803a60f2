// The example set's monitor cursors end to end: its SYSMON, ZEMV, SYSCCONF and SYSDEV fetched
// from the scripted test server by the SQL cursor path, then ZEMENGS and ZEMSDEVD run through
// their internal fetch exit. The golden lines are worked out by hand from the scenario.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "acquire/fetch_exit.h"
#include "acquire/monitor/smon_driver.h"
#include "acquire/server_faults.h"
#include "acquire/sql_cursor.h"
#include "collector/rows/virtual_cursors.h"
#include "collector/run/cursor_run.h"
#include "collector/startup/engine_hooks.h"
#include "collector/startup/reference_passes.h"
#include "collector/transforms/column_exits.h"
#include "defs/clause_loads.h"
#include "defs/cursor_file.h"
#include "defs/cursor_versions.h"
#include "defs/dictionary.h"
#include "defs/dictionary_file.h"
#include "defs/distrib.h"
#include "defs/process_file.h"
#include "expr/internal_select.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/exec.h"
#include "testing/cursor_test_support.h"
#include "testing/example_set.h"
#include "testing/log_capture.h"
#include "tests/tds/tds_testenv.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kStamp = "20261211000040";

// One sample of a two-engine server with two devices, shortly after midnight (the sample
// began 20 seconds before it). Per engine: clock 600 ticks, cpu 150 and 90; the received
// bytes of the two engines pass 2^31 together.
const char* const kScenario = R"(
batch SELECT GROUPNAME = group_name, FLDNAME = field_name, FLDVALUE = value \
    FROM master..sysmonitors
  result GROUPNAME:varchar(25) FLDNAME:varchar(79) FLDVALUE:int
  row 'access' 'xacts' 120
  row 'engine_0' 'clock_ticks' 600
  row 'engine_1' 'clock_ticks' 600
  row 'engine_0' 'cpu_ticks' 150
  row 'engine_1' 'cpu_ticks' 90
  row 'engine_0' 'engine_sleeps' 40
  row 'engine_1' 'engine_sleeps' 20
  row 'engine_0' 'context_switches' 300
  row 'engine_1' 'context_switches' 200
  row 'engine_0' 'max_outstanding_AIOs_engine' 4
  row 'engine_1' 'max_outstanding_AIOs_engine' 2
  row 'engine_0' 'total_dpoll_completed_aios' 100
  row 'engine_1' 'total_dpoll_completed_aios' 50
  row 'engine_0' 'no_packets_received' 30
  row 'engine_1' 'no_packets_received' 10
  row 'engine_0' 'no_bytes_received' 2000000000
  row 'engine_1' 'no_bytes_received' 2000000000
  row 'engine_0' 'no_packets_sent' 25
  row 'engine_1' 'no_packets_sent' 20
  row 'engine_0' 'no_bytes_sent' 5000
  row 'engine_1' 'no_bytes_sent' 3000
  row 'disk_0' 'total_reads' 600
  row 'disk_0' 'total_writes' 200
  row 'disk_0' 'p_hits' 90
  row 'disk_0' 'p_misses' 10
  row 'disk_1' 'total_reads' 0
  row 'disk_1' 'total_writes' 100
  row 'disk_1' 'p_hits' 0
  row 'disk_1' 'p_misses' 0
batch SELECT STARTTIME = datediff(ss, convert(char(8), getdate(), 112), getdate()) - 60, \
    STOPTIME = datediff(ss, convert(char(8), getdate(), 112), getdate())
  result STARTTIME:int STOPTIME:int
  row -20 40
batch SELECT NUMENG = c.value FROM master..syscurconfigs c, master..sysconfigures f \
    WHERE c.config = f.config AND f.name = 'max online engines'
  result NUMENG:int
  row 2
batch SELECT DEVNAME = name, OSNAME = phyname, \
    DISKMON = 'disk_' + convert(varchar(10), vdevno) FROM master..sysdevices \
    WHERE status & 2 = 2
  result DEVNAME:varchar(30) OSNAME:varchar(127) DISKMON:varchar(15)
  row 'master' '/sybase/data/master.dat' 'disk_0'
  row 'datadev1' '/sybase/data/data1.dat' 'disk_1'
)";

// The rest of the set's statements, for a whole collection: the names of the results are
// the ones the server gives the aliased selects.
const char* const kOtherCursors = R"(
batch SELECT CPU_BUSY = @@cpu_busy, IO_BUSY = @@io_busy, IDLE = @@idle, \
    CONNS = @@connections, PCT_BUSY = 0
  result CPU_BUSY:int IO_BUSY:int IDLE:int CONNS:int PCT_BUSY:int
  row 300 100 600 12 0
batch SELECT SRVNAME = @@servername, MAXCONN = @@max_connections
  result SRVNAME:varchar(30) MAXCONN:int
  row 'ZOVTDS' 100
batch SELECT DBID = dbid, NAME = name, STATUS = status FROM master..sysdatabases
  result DBID:smallint NAME:varchar(30) STATUS:smallint
  row 1 'master' 0
  row 4 'pubs2' 0
match SELECT SPID = spid, STATUS = status, LOGIN = suser_name\(suid\), DBNAME = db_name\(dbid\),\
CPU = cpu, PIO = physical_io, CMD = cmd, BLOCKED = blocked FROM master\.\.sysprocesses.*
  result SPID:smallint STATUS:char(12) LOGIN:varchar(30) DBNAME:varchar(30) CPU:int \
    PIO:int CMD:char(16) BLOCKED:smallint
  row 11 'runnable' 'sa' 'master' 100 5 'SELECT' 0
  row 12 'sleeping' 'probe' 'pubs2' 2500 7 'AWAITING COMMAND' 0
batch SELECT SPID = spid, BLOCKER = blocked, WAITSEC = time_blocked \
    FROM master..sysprocesses WHERE blocked > 0
  result SPID:smallint BLOCKER:smallint WAITSEC:int
match SELECT DBNAME = db_name\(dbid\), ALLOC_PAGES = sum\(size\) FROM master\.\.sysusages .*
  result DBNAME:varchar(30) ALLOC_PAGES:int
  row 'master' 30720
  row 'pubs2' 10240
)";

// A stored row: each column's field, its NUL and what follows cut, joined by '|'.
std::vector<std::string> rows_of(const curs* c) {
    std::vector<std::string> out;
    for (const row_data* r = c->first_row; r != nullptr; r = r->next) {
        std::string row;
        for (const columns* k = c->insert_columns; k != nullptr; k = k->next) {
            std::string v(r->text + k->offset, static_cast<size_t>(k->len));
            if (k != c->insert_columns) row += '|';
            row += v.substr(0, v.find('\0'));
        }
        out.push_back(row);
    }
    return out;
}

// A dictionary number as a row holds it: right-aligned in its 16 places.
std::string num(const std::string& v) { return std::string(16 - v.size(), ' ') + v; }
// A text entry: left-aligned, blank-filled to its width.
std::string text(const std::string& v, size_t width) {
    return v + std::string(width - v.size(), ' ');
}

std::vector<std::string> driver_lines(const char* name) {
    r_exec_chain* head = smon_curs_driver(name);
    std::vector<std::string> lines;
    for (r_exec_chain* e = head; e != nullptr; e = e->next) lines.emplace_back(e->line);
    u_free_r_chain(head);
    return lines;
}

// The process list and the dictionary a parse of the example set builds, released.
void release_definitions() {
    distrib_free_all();
    dict_free_all();
}

class MonitorExample : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env.start(kScenario, error)) << error;
        curstest::set_aside();
        release_definitions();
        ASSERT_EQ(exampleset::read_example(parse_distributor_file, "proc"), 0) << log.text();
        ASSERT_EQ(exampleset::read_example(parse_dict_file, "dict"), 0) << log.text();
        ASSERT_EQ(exampleset::read_example_cursors(), 0) << log.text();
        ASSERT_NE(collector_at, nullptr);
        // The example's collector, pointed at the test server.
        std::strcpy(collector_at->logon_id, "sa");
        std::strcpy(collector_at->password, "secret");
        std::memcpy(collector_at->server_id, "ZOVTDS  ", 8);
        engine_alloc_work_buff();
        database_info.connected = 0;
        database_info.status = down;
        reset_internal_select();
        // A gate closed or a back-off left by an earlier test would skip the runs here.
        server_faults_reset();
    }
    void TearDown() override {
        for (const char* name : {"ZEMENGS", "ZEMSDEVD"})
            if (curs* c = curstest::find(name)) fetch_exit_release(c);
        commit_collect(1);
        reset_internal_select();
        free_perm_term_tb(lx_sql_handler);
        lx_sql_handler = nullptr;
        curstest::set_aside();
        release_definitions();
    }

    // The inputs in file order, fetched as the collector fetches an SQL cursor.
    void fetch_inputs() {
        ASSERT_EQ(connect_to_DB(collector_at), 0) << log.text();
        database_info.connected = 1;
        for (const char* name : {"SYSMON", "ZEMV", "SYSCCONF", "SYSDEV"}) {
            curs* c = curstest::find(name);
            ASSERT_NE(c, nullptr) << name;
            int rows = 0;
            ASSERT_EQ(prep_l_fetch(c, kStamp, &rows), 0) << name << "\n" << log.text();
            ASSERT_GT(rows, 0) << name;
            EXPECT_EQ(c->held, 0) << name;
        }
    }

    zovtds::TestEnv env;
    LogCapture log;
};

// Engines: 2; elapsed 40 - (-20) = 60; xacts 120; ticks 1200, cpu 240, busy 240 * 100 /
// 1200 = 20, idle 80; sums 60, 500, 6, 150, 40, 4000000000, 45, 8000.
TEST_F(MonitorExample, EngineTotalsFromTheFetchedInputs) {
    fetch_inputs();
    ASSERT_EQ(curstest::find("SYSMON")->count, 29);
    EXPECT_EQ(driver_lines("ZEMENGS"),
              (std::vector<std::string>{"\t 2\t\t     60\t\t    120\t\t     80\t\t     20\t\t"
                                        "     60\t\t    500\t\t      6\t\t    150\t\t     40\t\t"
                                        "4000000000\t\t     45\t\t   8000\t"}))
        << log.text();

    curs* engs = curstest::find("ZEMENGS");
    ASSERT_EQ(run_cursor_fetch_exit(engs, kStamp), 0) << log.text();
    std::string row;
    for (const char* v :
         {"2", "60", "120", "80", "20", "60", "500", "6", "150", "40", "4000000000", "45", "8000"})
        row += (row.empty() ? "" : "|") + num(v);
    EXPECT_EQ(rows_of(engs), std::vector<std::string>{row}) << log.text();
    EXPECT_FALSE(log.has("ENGS0")) << log.text();
}

// Devices: elapsed 60, xacts 120, all I/O 600 + 200 + 0 + 100 = 900. master: reads 600,
// writes 200, I/O 800 (88.89 % of 900), hits 90 and misses 10 of 100. datadev1: writes
// 100 only (11.11 % of all), no semaphore requests (guarded to 1: 0.00 %).
TEST_F(MonitorExample, DeviceLinesFromTheFetchedInputs) {
    fetch_inputs();
    // The names come as the rows hold them, blank-filled to the fetched widths (varchar(30)
    // and varchar(127)).
    const std::vector<std::string> lines = {
        "\t" + text("master", 30) + "\t\t" + text("/sybase/data/master.dat", 127) +
            "\t\t   10.00\t\t    5.00\t\t    600\t\t   75.00\t\t"
            "    3.33\t\t    1.67\t\t    200\t\t   25.00\t\t   13.33\t\t    6.67\t\t    800\t\t"
            "   88.89\t\t    1.50\t\t    0.75\t\t     90\t\t   90.00\t\t    0.17\t\t    0.08\t\t"
            "     10\t\t   10.00\t",
        "\t" + text("datadev1", 30) + "\t\t" + text("/sybase/data/data1.dat", 127) +
            "\t\t    0.00\t\t    0.00\t\t      0\t\t    0.00\t\t"
            "    1.67\t\t    0.83\t\t    100\t\t  100.00\t\t    1.67\t\t    0.83\t\t    100\t\t"
            "   11.11\t\t    0.00\t\t    0.00\t\t      0\t\t    0.00\t\t    0.00\t\t    0.00\t\t"
            "      0\t\t    0.00\t"};
    EXPECT_EQ(driver_lines("ZEMSDEVD"), lines) << log.text();

    curs* devd = curstest::find("ZEMSDEVD");
    ASSERT_EQ(run_cursor_fetch_exit(devd, kStamp), 0) << log.text();
    auto row = [](const char* name, const char* path, const std::vector<const char*>& values) {
        std::string r = text(name, 30) + "|" + text(path, 127);
        for (const char* v : values) r += "|" + num(v);
        return r;
    };
    EXPECT_EQ(rows_of(devd), (std::vector<std::string>{
                                 row("master", "/sybase/data/master.dat",
                                     {"10.00", "5.00",  "600",  "75.00", "3.33",  "1.67", "200",
                                      "25.00", "13.33", "6.67", "800",   "88.89", "1.50", "0.75",
                                      "90",    "90.00", "0.17", "0.08",  "10",    "10.00"}),
                                 row("datadev1", "/sybase/data/data1.dat",
                                     {"0.00",   "0.00", "0",    "0.00", "1.67",  "0.83", "100",
                                      "100.00", "1.67", "0.83", "100",  "11.11", "0.00", "0.00",
                                      "0",      "0.00", "0.00", "0.00", "0",     "0.00"})}))
        << log.text();
    EXPECT_FALSE(log.has("DEVD0")) << log.text();
}

// One collection of the whole set in file order, as the collector runs each cursor when
// its time comes (pre-cursors first): every cursor but the demand and script ones runs
// without a failure or a hold, and each monitor cursor holds its procedure's lines.
TEST_F(MonitorExample, TheWholeSetCollectsOnce) {
    std::string error;
    ASSERT_TRUE(env.set_scenario(std::string(kScenario) + kOtherCursors, error)) << error;
    install_engine_hooks();
    ASSERT_TRUE(exampleset::run_start_up_passes()) << log.text();
    ASSERT_EQ(connect_to_DB(collector_at), 0) << log.text();
    database_info.connected = 1;
    database_info.status = up;

    const int now = static_cast<int>(relative_sec(kStamp));
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->cvirtual != 0 || c->demand != 0 || std::strcmp(c->cur_name, "DISKFREE") == 0)
            continue;
        EXPECT_EQ(get_cursor_data(now, c), 0) << c->cur_name << "\n" << log.text();
        EXPECT_EQ(c->held, 0) << c->cur_name;
    }
    const std::pair<const char*, int> counts[] = {
        {"SRVSTAT", 1},  {"SRVINFO", 1},  {"DBLIST", 2},   {"PROCS", 2},    {"DBSPACE", 2},
        {"SYSMON", 29},  {"ZEMV", 1},     {"SYSCCONF", 1}, {"SYSDEV", 2},   {"ZEMENGS", 1},
        {"ZEMSDEVD", 2}, {"ZEMLOGD", 12}, {"ZEMSQLD", 11}, {"ZEMTSKD", 16},
    };
    for (const auto& [name, n] : counts) EXPECT_EQ(curstest::find(name)->count, n) << name;
    const std::vector<std::string> engs = rows_of(curstest::find("ZEMENGS"));
    const std::vector<std::string> sqld = rows_of(curstest::find("ZEMSQLD"));
    ASSERT_FALSE(engs.empty());
    ASSERT_FALSE(sqld.empty());
    EXPECT_EQ(engs[0].substr(0, 33), num("2") + "|" + num("60"));
    EXPECT_EQ(sqld[0].substr(0, 32), text("Total SQL Activity", 32));
    EXPECT_FALSE(log.has("CAT1590")) << log.text();
}

}  // namespace
