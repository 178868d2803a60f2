// Building rows: merge_text of 10,000 fetched rows of 20 text columns of 16 bytes into a
// cursor, then make_row of each stored row into a cluster's binary rows, against a bare
// memcpy of the same bytes into preallocated row-text and binary-row buffers, in one run.
//
// The cursor keeps 10,000 rows (its limit), as a busy cursor does: after a first pass every
// new row replaces the oldest one. BM_RowsVsMemcpy reports "ratio" (our time over the bare
// copy's), "ratio_vs_inlined_copy" (against the same copy done with the inlined small-value
// moves of collector/rows/small_copy.h, the fastest copy of a layout known only at run time) and
// "heap_bytes_grown_per_row" (0: the heap holds the rows and nothing more).
// BM_NumericRowsVsMemcpy does the same with 4 of the 20 columns converted by INT! and FLOAT!. Both
// sides must produce the same binary rows, else the benchmark reports an error.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "collector/rows/row_format.h"
#include "collector/rows/row_store.h"
#include "collector/rows/small_copy.h"
#include "collector/transforms/row_builder.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"

namespace {

constexpr int kRows = 10000;
constexpr int kCols = 20;
constexpr int kWidth = 16;
constexpr const char* kStamp = "20261211093000";

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

long heap_bytes() { return static_cast<long>(mallinfo2().uordblks); }

void plain_copy(char* dst, const char* src, size_t n) { std::memcpy(dst, src, n); }

// An SQL cursor of kCols columns fetched through a descriptor of kCols entries.
struct Fixture {
    curs* c = nullptr;
    xSQLDA* d = nullptr;
    std::vector<std::string> names, values;
    std::vector<int16_t> nulls;
    std::vector<int32_t> types;
    int row_size = 0;
    std::vector<char> ours, bare_text, bare_rows;

    explicit Fixture(int numeric) {
        engine_alloc_work_buff();
        c = curs_new();
        std::strcpy(c->cur_name, "BENCH");
        d = zovldal(kCols, 30, 30);
        d->F = kCols;
        names.resize(kCols);
        values.resize(kCols);
        nulls.assign(kCols, 0);
        types.assign(kCols, 1);
        columns** tail = &c->insert_columns;
        for (int i = 0; i < kCols; ++i) {
            names[i] = "COL" + std::to_string(i);
            bool number = i < numeric;
            values[i] = number ? std::string(kWidth - 6, ' ') + "123456"
                               : std::string(kWidth, static_cast<char>('a' + i));
            columns* col = columns_new();
            std::strcpy(col->col_name, names[i].c_str());
            col->col_name_ll = static_cast<int16_t>(names[i].size());
            if (number) {
                col->convert = i % 2 == 0 ? CONV_INT : CONV_FLOAT;
                types[i] = 2;
            }
            *tail = col;
            tail = &col->next;
            d->V[i] = values[i].data();
            d->L[i] = kWidth;
            d->S[i] = names[i].data();
            d->C[i] = static_cast<int16_t>(names[i].size());
            d->I[i] = &nulls[i];
        }
        // Resolve the layout once, as the first fetch does.
        merge_text(work_buff, d, c, types.data(), kStamp);
        delete_all(c);
        row_size = get_row_size(c);
        ours.assign(static_cast<size_t>(row_size) * kRows, 0);
        bare_text.assign(static_cast<size_t>(kCols * (kWidth + 1)) * kRows, 0);
        bare_rows.assign(static_cast<size_t>(row_size) * kRows, 0);
    }
    ~Fixture() {
        delete_all(c);
        for (columns* col = c->insert_columns; col != nullptr;) {
            columns* next = col->next;
            U_FREE(col);
            col = next;
        }
        U_FREE(c);
        zovldau(&d);
    }

    // The row's changing value: the last characters of the first text column.
    void vary(int row) {
        char* v = values.back().data();
        v[kWidth - 1] = static_cast<char>('0' + row % 10);
        v[kWidth - 2] = static_cast<char>('0' + row / 10 % 10);
    }

    double merge_s = 0;
    int our_pass() {
        auto t0 = std::chrono::steady_clock::now();
        for (int r = 0; r < kRows; ++r) {
            vary(r);
            if (merge_text(work_buff, d, c, types.data(), kStamp) <= 0) return 1;
        }
        merge_s += seconds_since(t0);
        char* out = ours.data();
        for (row_data* r = c->first_row; r != nullptr; r = r->next, out += row_size)
            make_row(c, out, r->text);
        return 0;
    }

    // The same bytes by hand: values into the row text, then into the binary row.
    // copy: memcpy, or the inlined small-value copy the row store itself uses.
    template <void (*copy)(char*, const char*, size_t)>
    void bare_pass() {
        char* text = bare_text.data();
        char* out = bare_rows.data();
        for (int r = 0; r < kRows; ++r) {
            vary(r);
            // The layout is data (the widths the descriptor gives), as it is for the cursor.
            char* t = text;
            for (int i = 0; i < kCols; ++i) {
                size_t n = static_cast<size_t>(d->L[i]);
                copy(t, values[i].data(), n);
                t[n] = '\0';
                t += n + 1;
            }
            t = text;
            for (const columns* col = c->insert_columns; col != nullptr; col = col->next) {
                if (col->convert == CONV_INT) {
                    int32_t v = 123456;
                    std::memcpy(out + col->row_offset, &v, 4);
                } else if (col->convert == CONV_FLOAT) {
                    double v = 123456;
                    std::memcpy(out + col->row_offset, &v, 8);
                } else {
                    copy(out + col->row_offset, t + col->offset, static_cast<size_t>(col->len));
                }
            }
            text += kCols * (kWidth + 1);
            out += row_size;
        }
    }
};

void run(benchmark::State& state, int numeric) {
    Fixture f(numeric);
    f.c->limit = kRows;
    // The first pass fills the cursor; the timed ones replace its rows.
    f.our_pass();
    double ours_s = 0, bare_s = 0, inlined_s = 0;
    long passes = 0, growth = 0;
    for (auto _ : state) {
        const long before = heap_bytes();
        auto t0 = std::chrono::steady_clock::now();
        if (f.our_pass() != 0) {
            state.SkipWithError("a row was refused");
            break;
        }
        ours_s += seconds_since(t0);
        growth += heap_bytes() - before;
        t0 = std::chrono::steady_clock::now();
        f.bare_pass<plain_copy>();
        bare_s += seconds_since(t0);
        t0 = std::chrono::steady_clock::now();
        f.bare_pass<copy_value>();
        inlined_s += seconds_since(t0);
        ++passes;
        if (f.c->count != kRows || f.ours != f.bare_rows) {
            state.SkipWithError("binary rows differ");
            break;
        }
    }
    state.counters["ratio"] = bare_s > 0 ? ours_s / bare_s : 0;
    state.counters["ratio_vs_inlined_copy"] = inlined_s > 0 ? ours_s / inlined_s : 0;
    state.counters["merge_ms_per_pass"] = passes ? 1000.0 * f.merge_s / (passes + 1) : 0;
    state.counters["ours_ms_per_pass"] = passes ? 1000.0 * ours_s / passes : 0;
    state.counters["bare_ms_per_pass"] = passes ? 1000.0 * bare_s / passes : 0;
    state.counters["heap_bytes_grown_per_row"] =
        passes ? static_cast<double>(growth) / passes / kRows : 0;
}

void BM_RowsVsMemcpy(benchmark::State& state) { run(state, 0); }
void BM_NumericRowsVsMemcpy(benchmark::State& state) { run(state, 4); }

BENCHMARK(BM_RowsVsMemcpy)->Unit(benchmark::kMillisecond)->Iterations(200);
BENCHMARK(BM_NumericRowsVsMemcpy)->Unit(benchmark::kMillisecond)->Iterations(200);

}  // namespace

BENCHMARK_MAIN();
