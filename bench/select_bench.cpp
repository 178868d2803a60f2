// One pass of the monitor cursors' internal selects over a synthetic SYSMON of 10,000 rows
// (64 engines, 16 caches, 256 devices, the access, lock, xls, kernel, network and sysind
// groups, and filler groups), against a hand-written C++ loop that does the same filtering
// and sums on the same row texts.
//
// A pass runs every select list and where-text of the eleven monitor procedures once, the
// per-engine, per-cache and per-device texts once for each engine, cache and device (the work
// variables set before each as the monitor procedures set them: tmp_grp declared over a text,
// buffer_name and diskmon bound by select_column to a column of another cursor's row), about
// 1,950 selects over 10,000 rows each. BM_SelectPass and BM_HandLoopPass time one side each;
// BM_SelectVsHandLoop runs the internal select and two hand-written passes alternately:
// "hand", every select a loop over all rows, and "grouped", the rows grouped by GROUPNAME once
// per pass and each select reading its groups. The fair counter is "grouped_ratio" (internal
// select time over the grouped pass's): the internal select narrows its rows with a row
// index, as the grouped pass does, while the full-scan "ratio" (over the "hand" pass) credits
// it with work a careful hand-written pass would not do. Also reported: "row_evals_per_s" of
// the internal select, and the heap bytes it kept per timed pass
// ("heap_bytes_grown_per_pass"; 0 in steady state: nothing is allocated per row).
// Every pass starts on a new sample (SYSMON's sample number moved, as each fetch moves it), so
// the internal select's row index is built once per pass, as the grouped pass groups once.
// All sides must agree on every value, else the benchmark reports an error.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bench/sysmon_pass.h"
#include "expr/internal_select.h"
#include "testing/cursor_builder.h"

namespace {

// The same pass, hand-written: fields read from the row texts, tested, values summed.
void hand_pass(Fixture& f, std::vector<int32_t>& out) {
    for (size_t i = 0; i < pass.size(); ++i) {
        const Step& s = pass[i];
        const Query& q = *s.q;
        int32_t value = 1;
        bool taken = false;
        for (const row_data* r = f.sysmon.get()->first_row; r; r = r->next) {
            const std::string_view g = field(r->text, f.group_col);
            if (!q.group.test(g, s.var_text)) continue;
            const std::string_view n = field(r->text, f.name_col);
            bool ok = false;
            for (const Match& m : q.any_of) ok = ok || m.test(n, s.var_text);
            for (const Match& m : q.none_of) ok = ok && !m.test(n, s.var_text);
            if (!ok) continue;
            const int32_t v =
                static_cast<int32_t>(std::strtol(r->text + f.value_col->offset, nullptr, 10));
            value = q.sum && taken ? value + v : v;
            taken = true;
        }
        out[i] = value;
    }
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long heap_blocks() {
    const struct mallinfo2 m = mallinfo2();
    return static_cast<long>(m.uordblks);
}

void BM_SelectPass(benchmark::State& state) {
    Fixture& f = fixture();
    std::vector<int32_t> out(pass.size());
    for (auto _ : state) {
        if (select_pass(f, out) != 0) state.SkipWithError("a select failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["selects"] = static_cast<double>(pass.size());
}
BENCHMARK(BM_SelectPass)->Unit(benchmark::kMillisecond);

void BM_HandLoopPass(benchmark::State& state) {
    Fixture& f = fixture();
    std::vector<int32_t> out(pass.size());
    for (auto _ : state) {
        hand_pass(f, out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_HandLoopPass)->Unit(benchmark::kMillisecond);

void BM_SelectVsHandLoop(benchmark::State& state) {
    Fixture& f = fixture();
    std::vector<int32_t> by_select(pass.size()), by_hand(pass.size()), by_groups(pass.size());
    Grouped groups;
    // A first pass lexes every text; the timed passes are the steady state.
    select_pass(f, by_select);
    double select_s = 0, hand_s = 0, grouped_s = 0;
    long passes = 0, heap_growth = 0;
    for (auto _ : state) {
        ++f.sysmon.get()->sampleno;  // a new sample, as the collector's fetch gives
        const long before = heap_blocks();
        auto t0 = std::chrono::steady_clock::now();
        const long failures = select_pass(f, by_select);
        select_s += seconds_since(t0);
        heap_growth += heap_blocks() - before;
        t0 = std::chrono::steady_clock::now();
        hand_pass(f, by_hand);
        hand_s += seconds_since(t0);
        t0 = std::chrono::steady_clock::now();
        grouped_values(f, groups, by_groups);
        grouped_s += seconds_since(t0);
        ++passes;
        if (failures != 0) state.SkipWithError("a select failed");
        if (by_select != by_hand || by_select != by_groups) {
            size_t i = 0;
            while (by_select[i] == by_hand[i] && by_select[i] == by_groups[i]) ++i;
            state.SkipWithError(
                ("results differ at " + pass[i].q->where + " (" + pass[i].var_text + ")").c_str());
            break;
        }
    }
    const double evals = static_cast<double>(pass.size()) * kRows * static_cast<double>(passes);
    state.counters["grouped_ratio"] = grouped_s > 0 ? select_s / grouped_s : 0;  // the fair one
    state.counters["ratio"] = hand_s > 0 ? select_s / hand_s : 0;
    state.counters["select_ms_per_pass"] = passes ? 1000.0 * select_s / passes : 0;
    state.counters["hand_ms_per_pass"] = passes ? 1000.0 * hand_s / passes : 0;
    state.counters["grouped_ms_per_pass"] = passes ? 1000.0 * grouped_s / passes : 0;
    state.counters["row_evals_per_s"] = select_s > 0 ? evals / select_s : 0;
    state.counters["heap_bytes_grown_per_pass"] =
        passes ? static_cast<double>(heap_growth) / static_cast<double>(passes) : 0;
}
BENCHMARK(BM_SelectVsHandLoop)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
