// The request server end to end: zemcoll collects two interval cursors from the scripted
// test server once (K1: one row of 1024 bytes, M1: 1024 such rows) and serves them; this
// process asks for one of them through zovcomm as zovprobe does (init, get, no printing).
// Each iteration runs one such request and one bare exchange of the same bytes
// (bench/bare_exchange.h, as BM_BareSemaphore and BM_BarePipe of comm_bench): over
// shared memory against the semaphore ping-pong, over named pipes against the pipe pair.
// The counters are the mean microseconds of each and "ratio", the request's time over
// the bare exchange's; the targets are at most 1.5 over shared memory and 2 over pipes.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench/bare_exchange.h"
#include "comm/zovcomm.h"
#include "runtime/env.h"
#include "testing/zemcoll_tds.h"

namespace {

// Four char(255) columns and one char(4): 1024 bytes a row.
const char* const kScenario = R"(
batch select a, b, c, d, e from k1
  result A:char(255) B:char(255) C:char(255) D:char(255) E:char(4)
  row 'a' 'b' 'c' 'd' 'e'
batch select a, b, c, d, e from m1
  result A:char(255) B:char(255) C:char(255) D:char(255) E:char(4)
  repeat 1024
  row 'a{i}' 'b' 'c' 'd' 'e'
)";

std::string cursor(const char* name, const char* table, int limit) {
    return std::string("cursor ") + name + ";\n  INSERT INTO " + name +
           " (A, B, C, D, E) VALUES (:A, :B, :C, :D, :E);\n  insert_select select a, b, c, d, e "
           "from " +
           table + ";\n  interval 3600;\n  limit " + std::to_string(limit) + ";\n  class 1;\n";
}

// One collector per transport, started on first use and kept for the run; the requester
// is this process.
struct Serving {
    zemcoll_tds::Collector coll;
    comm_anchor* anchor = nullptr;
    std::string error;
};

Serving* serving(bool shm) {
    static std::unique_ptr<Serving> made[2];
    std::unique_ptr<Serving>& s = made[shm ? 1 : 0];
    if (s) return s.get();
    s = std::make_unique<Serving>();
    if (!s->coll.start(kScenario, cursor("K1", "k1", 10) + cursor("M1", "m1", 2000) + "end;\n", shm,
                       10, s->error))
        return s.get();
    // The requester reads the same configuration from its environment.
    for (const std::string& e : s->coll.environment()) {
        const size_t eq = e.find('=');
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    env_vars = ENV_VARS{};
    get_envs(&env_vars);
    wait_timeout = 0;
    if (shm) zovcomm("initsm");
    s->anchor = static_cast<comm_anchor*>(zovcomm("init"));
    if (!s->anchor) s->error = "zovcomm init failed";
    // The collection runs at start: wait until M1 has its rows.
    for (int i = 0; i < 100 && s->anchor; ++i) {
        auto* chain = static_cast<curs_list*>(zovcomm("get", s->anchor, "M1"));
        if (chain && chain->rows == 1024) return s.get();
        usleep(100000);
    }
    if (s->error.empty()) s->error = "M1 never had its rows";
    return s.get();
}

double seconds_of(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void BM_UlvVsBare(benchmark::State& state, bool shm) {
    Serving* s = serving(shm);
    if (!s->error.empty()) {
        state.SkipWithError(s->error.c_str());
        return;
    }
    static char useshm[2];
    useshm[0] = shm ? '1' : '0';
    env_vars.useshm = useshm;
    const char* name = state.range(0) == 1 ? "K1" : "M1";
    auto* chain = static_cast<curs_list*>(zovcomm("get", s->anchor, name));
    if (!chain || chain->rows != state.range(0)) {
        state.SkipWithError(chain ? "wrong row count" : s->anchor->return_msg);
        return;
    }
    const long bytes = static_cast<long>(chain->rows) * chain->len;
    bare::Semaphore* sem = shm ? new bare::Semaphore : nullptr;
    bare::Pipe* pipe = shm ? nullptr : new bare::Pipe;
    std::string out;
    double ulv = 0, bare_time = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        chain = static_cast<curs_list*>(zovcomm("get", s->anchor, name));
        auto t1 = std::chrono::steady_clock::now();
        if (!chain || static_cast<long>(chain->rows) * chain->len != bytes) {
            state.SkipWithError(s->anchor->return_msg);
            break;
        }
        if (shm)
            sem->round_trip(bytes, out);
        else
            pipe->round_trip(bytes, out);
        auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(out.data());
        ulv += seconds_of(t1 - t0);
        bare_time += seconds_of(t2 - t1);
    }
    delete sem;
    delete pipe;
    const double n = static_cast<double>(state.iterations());
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["ulv_us"] = ulv / n * 1e6;
    state.counters["bare_us"] = bare_time / n * 1e6;
    state.counters["ratio"] = bare_time > 0 ? ulv / bare_time : 0;
}

void BM_UlvShm(benchmark::State& state) { BM_UlvVsBare(state, true); }
void BM_UlvPipe(benchmark::State& state) { BM_UlvVsBare(state, false); }

}  // namespace

// The argument is the row count: 1 (1 KB) or 1024 (1 MB).
BENCHMARK(BM_UlvShm)->Arg(1)->Arg(1024)->UseRealTime();
BENCHMARK(BM_UlvPipe)->Arg(1)->Arg(1024)->UseRealTime();

int main(int argc, char** argv) {
    // As in comm_bench: large buffers from the heap, not fresh mappings each time.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
