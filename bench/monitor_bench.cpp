// One pass of all eleven monitor cursors through smon_curs_driver over the synthetic SYSMON
// of select_bench (64 engines in SYSCCONF, 16 caches in CACHEMAP, 256 devices in SYSDEV),
// against the select pass of select_bench in the same run: the driver adds only formatting
// and chaining to the selects it issues. BM_DriverVsSelects runs both alternately and
// reports "driver_ms", "selects_ms" and "ratio" (driver over selects).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "acquire/monitor/smon_driver.h"
#include "bench/sysmon_pass.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "testing/row_cursor.h"

namespace {

const char* const kMonitorCursors[] = {"ZEMCACD", "ZEMCACS", "ZEMSDEVD", "ZEMENGD",
                                       "ZEMENGS", "ZEMLCKD", "ZEMLCKS",  "ZEMLOGD",
                                       "ZEMLOGS", "ZEMSQLD", "ZEMTSKD"};

struct Inputs {
    select_test::RowCursor zemv{"ZEMV", {{"STARTTIME", 8, 1}, {"STOPTIME", 8, 1}}};
    select_test::RowCursor sysconf{"SYSCCONF", {{"NUMENG", 4, 1}}};
    select_test::RowCursor cachemap{"CACHEMAP", {{"CACHENAME", 30, 1}, {"BUFFERNAME", 20, 1}}};
    select_test::RowCursor sysdev{"SYSDEV",
                                  {{"DEVNAME", 30, 1}, {"OSNAME", 60, 1}, {"DISKMON", 20, 1}}};
    Inputs() {
        zemv.add({"3600", "3660"});
        sysconf.add({std::to_string(kEngines)});
        for (int b = 0; b < kCaches; ++b)
            cachemap.add({"cache " + std::to_string(b), "buffer_" + std::to_string(b)});
        for (int d = 0; d < kDevices; ++d)
            sysdev.add({"dev" + std::to_string(d), "/dev/disk/by-id/dev" + std::to_string(d),
                        "disk_" + std::to_string(d)});
        zemv.point_at_fetch_area();
        sysconf.point_at_fetch_area();
        cachemap.point_at_fetch_area();
        sysdev.point_at_fetch_area();
    }
};

Inputs& inputs() {
    static Inputs* in = [] {
        fixture();  // SYSMON first, as the collector holds it
        return new Inputs();
    }();
    return *in;
}

// The lines of one pass of the eleven cursors; 0 when a cursor gave none.
long driver_pass() {
    long lines = 0;
    for (const char* name : kMonitorCursors) {
        r_exec_chain* head = smon_curs_driver(name);
        if (head == nullptr) return 0;
        for (r_exec_chain* e = head; e; e = e->next) ++lines;
        u_free_r_chain(head);
    }
    return lines;
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// The warnings of absent counters go nowhere while timing.
struct Quiet {
    FILE* saved = stder;
    FILE* null = std::fopen("/dev/null", "w");
    Quiet() {
        if (null) stder = null;
    }
    ~Quiet() {
        stder = saved;
        if (null) std::fclose(null);
    }
};

void BM_DriverPass(benchmark::State& state) {
    Quiet quiet;
    fixture();
    inputs();
    for (auto _ : state) benchmark::DoNotOptimize(driver_pass());
}
BENCHMARK(BM_DriverPass)->Unit(benchmark::kMillisecond);

void BM_DriverVsSelects(benchmark::State& state) {
    Quiet quiet;
    Fixture& f = fixture();
    inputs();
    std::vector<int32_t> out(pass.size());
    // Warm both: the expressions are parsed once.
    if (driver_pass() == 0 || select_pass(f, out) != 0) {
        state.SkipWithError("a monitor cursor or a select failed");
        return;
    }
    double driver_s = 0;
    double selects_s = 0;
    long lines = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        lines = driver_pass();
        driver_s += seconds_since(t0);
        t0 = std::chrono::steady_clock::now();
        select_pass(f, out);
        selects_s += seconds_since(t0);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["driver_ms"] = driver_s / n * 1000.0;
    state.counters["selects_ms"] = selects_s / n * 1000.0;
    state.counters["ratio"] = driver_s / selects_s;
    state.counters["lines"] = static_cast<double>(lines);
}
BENCHMARK(BM_DriverVsSelects)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
