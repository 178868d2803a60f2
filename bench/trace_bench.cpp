// The cost of a trace call whose level is off, beside a log line that is written.
//
// A disabled trace must cost under 1% of a written line. Both run in one process, one
// after the other, and the run ends with the ratio of their times per call.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

FILE* open_bench_log() {
    if (!stder) stder = std::tmpfile();
    return stder;
}

// The same two trace calls, once with their level off and once with it on (then they
// write a timed, flushed line to a log file), and an information line for reference.
constexpr int kMsgLevel = 3;

void BM_PrintTraceOff(benchmark::State& state) {
    my_trace_all[0] = 0;
    int i = 0;
    for (auto _ : state) {
        int rc = PRINT('h', "bch0001", "row %d of cursor %s at %p\n", ++i, "MONITOR", &i);
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_PrintTraceOff);

void BM_PrintTraceOn(benchmark::State& state) {
    if (!open_bench_log()) {
        state.SkipWithError("no log file");
        return;
    }
    my_trace_all[0] = 1;
    int i = 0;
    for (auto _ : state) {
        int rc = PRINT('h', "bch0001", "row %d of cursor %s at %p\n", ++i, "MONITOR", &i);
        benchmark::DoNotOptimize(rc);
    }
    my_trace_all[0] = 0;
}
BENCHMARK(BM_PrintTraceOn);

void BM_PrintInfoLine(benchmark::State& state) {
    if (!open_bench_log()) {
        state.SkipWithError("no log file");
        return;
    }
    int i = 0;
    for (auto _ : state) {
        int rc = PRINT('i', "bch0003", "row %d of cursor %s at %p\n", ++i, "MONITOR", &i);
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_PrintInfoLine);

void BM_MsgTraceOff(benchmark::State& state) {
    my_trace_all[kMsgLevel] = 0;
    int i = 0;
    for (auto _ : state) {
        int rc = u_msg(nullptr, __FILE__, __LINE__, "h3", "bch0002", "row %d of cursor %s at %p\n",
                       ++i, "MONITOR", &i);
        benchmark::DoNotOptimize(rc);
    }
}
BENCHMARK(BM_MsgTraceOff);

void BM_MsgTraceOn(benchmark::State& state) {
    if (!open_bench_log()) {
        state.SkipWithError("no log file");
        return;
    }
    my_trace_all[kMsgLevel] = 1;
    int i = 0;
    for (auto _ : state) {
        int rc = u_msg(nullptr, __FILE__, __LINE__, "h3", "bch0002", "row %d of cursor %s at %p\n",
                       ++i, "MONITOR", &i);
        benchmark::DoNotOptimize(rc);
    }
    my_trace_all[kMsgLevel] = 0;
}
BENCHMARK(BM_MsgTraceOn);

// Keeps each benchmark's time per iteration beside the usual console output.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                ns_per_call[r.benchmark_name()] = r.GetAdjustedRealTime();
    }
    std::map<std::string, double> ns_per_call;
};

}  // namespace

int main(int argc, char** argv) {
    // The benchmark writes many lines into a temporary log: no wrap, no backups.
    setenv("COLL_WRAPLINES", "0", 1);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    auto ratio = [&](const char* off, const char* line) {
        auto a = reporter.ns_per_call.find(off);
        auto b = reporter.ns_per_call.find(line);
        if (a == reporter.ns_per_call.end() || b == reporter.ns_per_call.end() || b->second <= 0)
            return;
        double percent = 100.0 * a->second / b->second;
        std::printf("%s / %s = %.3f%% (%s)\n", off, line, percent,
                    percent < 1.0 ? "under 1%" : "NOT under 1%");
    };
    ratio("BM_PrintTraceOff", "BM_PrintTraceOn");
    ratio("BM_MsgTraceOff", "BM_MsgTraceOn");
    ratio("BM_PrintTraceOff", "BM_PrintInfoLine");
    if (stder) std::fclose(stder);
    return 0;
}
