// Row building with the transforms against the same rows built without them: 10,000 rows of
// ORDERS (CUST_ID, AMT, QTY and the math columns M1 and M2), ORDERS based on a 1,000-row
// CUST by CUST_ID -> ID, M1 = AMT * 2 + QTY and M2 = CUST.RATE * AMT / 100 (read from the
// base row). Both sides copy the fetched values into the row text, store the row and free
// the rows after the pass; the transformed side also chooses the base row (set_bases) and
// computes the two math columns (do_math).
//
// BM_TransformsVsPlainRows runs both sides alternately and reports "ratio" (transformed
// time over plain time) and "base_share" (the share of set_bases in the transformed time).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "collector/bases.h"
#include "collector/row_store.h"
#include "collector/math.h"
#include "defs/clause_loads.h"
#include "defs/clause_math.h"
#include "defs/select_lists.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/msg.h"

namespace {

constexpr int kRows = 10000;
constexpr int kBaseRows = 1000;
constexpr int kWidth = 10;

curs* make_cursor(const char* name, std::initializer_list<const char*> cols) {
    curs* c = curs_new();
    std::snprintf(c->cur_name, sizeof(c->cur_name), "%s", name);
    for (const char* w : cols) add_column(w, c);
    return c;
}

void lay_out(curs* c) {
    int32_t off = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        if (col->len == 0) col->len = kWidth;
        col->offset = off;
        c->length = off + col->len;
        off = c->length + 1;
    }
}

void append(curs* c, const char* text) {
    row_data* r = row_data_new(c->length);
    std::memcpy(r->text, text, static_cast<size_t>(c->length));
    if (c->last_row == nullptr)
        c->first_row = r;
    else
        c->last_row->next = r;
    c->last_row = r;
    ++c->count;
}

int parse(int (*parser)(curs*, char*), curs* c, const char* text) {
    std::string buf = std::string(text) + "    ";
    buf.resize(buf.size() + 64, '\0');
    return parser(c, buf.data());
}

struct setup {
    curs* cust;
    curs* orders;
    std::vector<columns*> fetched;  // CUST_ID, AMT, QTY
    std::vector<columns*> maths;
    xSQLDA* d;
    std::vector<std::string> values;  // per row: CUST_ID, AMT, QTY (each kWidth)
    std::vector<char> buffer;

    setup() {
        u_msg_mute(true);
        cust = make_cursor("CUST", {"ID", "RATE"});
        orders = make_cursor("ORDERS", {"CUST_ID", "AMT", "QTY", "M1", "M2"});
        cust->next = orders;
        cur_anchor = cust;
        parse(parse_base, orders, "CUST on CUST_ID -> ID");
        parse(parse_math, orders, "M1 AMT * 2 + QTY");
        parse(parse_math, orders, "M2 CUST.RATE * AMT / 100");
        if (edit_bases_pass() != 0 || edit_math_pass() != 0) std::abort();
        lay_out(cust);
        lay_out(orders);
        std::string row(static_cast<size_t>(cust->length) + 1, ' ');
        for (int i = 0; i < kBaseRows; ++i) {
            char f[32];
            std::snprintf(f, sizeof(f), "%-*d", kWidth, i);
            row.replace(0, kWidth, f, kWidth);
            std::snprintf(f, sizeof(f), "%*d", kWidth, i % 7 + 1);
            row.replace(kWidth + 1, kWidth, f, kWidth);
            append(cust, row.data());
        }
        for (columns* col = orders->insert_columns; col != nullptr; col = col->next)
            (col->m_anch != nullptr ? maths : fetched).push_back(col);
        d = zovldal(3, 16, 16);
        d->F = 3;
        static int16_t present = 0;
        static const char* names[] = {"CUST_ID", "AMT", "QTY"};
        for (int i = 0; i < 3; ++i) {
            d->S[i] = const_cast<char*>(names[i]);
            d->C[i] = static_cast<int16_t>(std::strlen(names[i]));
            d->L[i] = kWidth;
            d->I[i] = &present;
        }
        for (int r = 0; r < kRows; ++r) {
            char f[3][32];
            std::snprintf(f[0], sizeof(f[0]), "%-*d", kWidth, (r * 7919) % kBaseRows);
            std::snprintf(f[1], sizeof(f[1]), "%*d", kWidth, r % 500 + 1);
            std::snprintf(f[2], sizeof(f[2]), "%*d", kWidth, r % 13);
            values.push_back(std::string(f[0], kWidth) + std::string(f[1], kWidth) +
                             std::string(f[2], kWidth));
        }
        buffer.assign(static_cast<size_t>(orders->length) + 1, '\0');
    }

    // Builds every row; with transforms, also bases and math. Returns the time spent in
    // set_bases.
    double build(bool transforms) {
        double base_seconds = 0.0;
        for (int r = 0; r < kRows; ++r) {
            const char* v = values[static_cast<size_t>(r)].data();
            for (int i = 0; i < 3; ++i) d->V[i] = const_cast<char*>(v + i * kWidth);
            if (transforms) {
                auto t0 = std::chrono::steady_clock::now();
                set_bases(orders, d);
                base_seconds +=
                    std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
            }
            char* row = buffer.data();
            for (size_t i = 0; i < fetched.size(); ++i) {
                std::memcpy(row + fetched[i]->offset, d->V[i], static_cast<size_t>(kWidth));
                row[fetched[i]->offset + kWidth] = '\0';
            }
            if (transforms)
                for (columns* m : maths) do_math(orders, m, row);
            append(orders, row);
            if (transforms) end_bases(orders);
        }
        delete_all(orders);
        return base_seconds;
    }
};

void BM_TransformsVsPlainRows(benchmark::State& state) {
    static setup s;
    double plain = 0.0;
    double with = 0.0;
    double base = 0.0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        s.build(false);
        auto t1 = std::chrono::steady_clock::now();
        base += s.build(true);
        auto t2 = std::chrono::steady_clock::now();
        plain += std::chrono::duration<double>(t1 - t0).count();
        with += std::chrono::duration<double>(t2 - t1).count();
    }
    state.counters["ratio"] = with / plain;
    state.counters["base_share"] = base / with;
    state.counters["plain_ns_per_row"] =
        plain * 1e9 / (kRows * static_cast<double>(state.iterations()));
    state.counters["transformed_ns_per_row"] =
        with * 1e9 / (kRows * static_cast<double>(state.iterations()));
}
BENCHMARK(BM_TransformsVsPlainRows)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
