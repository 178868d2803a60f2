// Two per-row costs of the collector engine, each against a bare baseline in the same run:
//
// BM_MaxOccuranceVsMap: get_max_occurance over a cursor of 10,000 rows with distinct
// values, against a bare std::unordered_map count of the same values. "ratio" is ours over
// the bare count (target: at most 3).
//
// BM_RowWithExitsVsWithout: a 20-column row built column by column as the row store builds
// it (each value copied from its fetch place into its field, blank-padded, a NUL behind
// it), with L_JUSTIFY and SUBSTR run by the exit driver on two of the columns, against the
// same build without exits. "ratio" is
// with over without (target: at most 1.5). When the row builder's merge_text is in, this case
// belongs in its row benchmark.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "collector/transforms/column_exits.h"
#include "collector/transforms/loads.h"
#include "defs/clause_exits.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"

namespace {

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void BM_MaxOccuranceVsMap(benchmark::State& state) {
    cursortest::cursor cur("OCC", {{"NAME", 8, 1}, {"VALUE", 12, 1}});
    for (int i = 0; i < 10000; ++i) cur.add({"n", "v" + std::to_string(i * 7919)});
    curs* c = cur.get();
    columns* col = c->insert_columns->next;
    double ours = 0, bare = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        row_data* best = get_max_occurance(c, col);
        ours += seconds_since(t0);
        benchmark::DoNotOptimize(best);

        t0 = std::chrono::steady_clock::now();
        std::unordered_map<std::string_view, int> counts;
        for (row_data* r = c->first_row; r != nullptr; r = r->next)
            ++counts[std::string_view(r->text + col->offset, static_cast<size_t>(col->len))];
        bare += seconds_since(t0);
        benchmark::DoNotOptimize(counts.size());
    }
    state.counters["ratio"] = bare > 0 ? ours / bare : 0;
}
BENCHMARK(BM_MaxOccuranceVsMap)->Unit(benchmark::kMicrosecond);

constexpr int kColumns = 20;
constexpr int16_t kLen = 16;

// Builds one row as the row store does, column by column: the value copied from the
// column's fetch place into its field, blank-padded, a NUL behind it; with exits, a
// column's exits run once its value is in place.
template <bool with_exits>
void build_row(curs* c, std::vector<columns>& cols, char* row) {
    for (columns& k : cols) {
        const size_t n = std::min(std::strlen(k.from), static_cast<size_t>(k.len));
        std::memcpy(row + k.offset, k.from, n);
        std::memset(row + k.offset + n, ' ', static_cast<size_t>(k.len) - n);
        row[k.offset + k.len] = '\0';
        if (with_exits && k.cxl_ptr != nullptr) column_exit_driver(c, &k, row, k.cxl_ptr);
    }
}

void BM_RowWithExitsVsWithout(benchmark::State& state) {
    install_column_exits();
    curs* c = curs_new();
    std::vector<columns> cols(kColumns);
    for (int i = 0; i < kColumns; ++i) {
        std::memset(&cols[i], 0, sizeof(columns));
        cols[i].len = kLen;
        cols[i].offset = i * (kLen + 1);
        cols[i].orig_type = 1;
    }
    col_ex_list left = {}, sub = {};
    left.c_exit = colex_routines.colex_l;
    sub.c_exit = colex_routines.colex_s;
    sub.int1 = 3;
    sub.int2 = 8;
    cols[4].cxl_ptr = &left;
    cols[11].cxl_ptr = &sub;
    std::vector<std::string> values;
    for (int i = 0; i < kColumns; ++i) values.push_back("   value" + std::to_string(i));
    for (int i = 0; i < kColumns; ++i) cols[i].from = values[i].data();
    std::vector<char> row(kColumns * (kLen + 1) + 1);
    constexpr int kRows = 1000;
    double with = 0, without = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        for (int n = 0; n < kRows; ++n) {
            build_row<false>(c, cols, row.data());
            benchmark::DoNotOptimize(row.data());
        }
        without += seconds_since(t0);

        t0 = std::chrono::steady_clock::now();
        for (int n = 0; n < kRows; ++n) {
            build_row<true>(c, cols, row.data());
            benchmark::DoNotOptimize(row.data());
        }
        with += seconds_since(t0);
    }
    state.counters["ratio"] = without > 0 ? with / without : 0;
    U_FREE(c);
}
BENCHMARK(BM_RowWithExitsVsWithout)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
