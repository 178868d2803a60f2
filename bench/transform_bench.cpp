// Rows built with a base and math columns against plain rows, both through merge_text, the
// row builder the collector runs for every fetched row. ORDS and ORDL (CUST_ID, AMT, QTY and
// the math columns M1, M2) are based on CUSTS (100 rows) and CUSTL (10,000 rows) by
// CUST_ID -> ID, with M1 = AMT * 2 + QTY and M2 = <base cursor>.RATE * AMT / 100 (read from
// the base row); PLAIN (CUST_ID, AMT, QTY) has no clause. All three are fed the same 10,000
// descriptor rows. Before every pass the base cursor is collected anew (its rows freed and
// built again by merge_text with a new sample number), so the pass pays for finding the base
// rows over fresh rows, as the collector does once per collection.
//
// BM_TransformsVsPlainRows runs the three passes alternately and reports "ratio_100" and
// "ratio_10000" (a transformed row's time over a plain row's; target: 25 at most) and
// "scale" (a transformed row at 10,000 base rows over one at 100; target: 1.5 at most).
// Before timing, every row of every side is checked: the fetched values are the plain row's,
// M1 and M2 are what integer arithmetic gives, and M2 read RATE from the base row whose ID
// is the row's CUST_ID.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_store.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/math.h"
#include "collector/transforms/row_builder.h"
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
constexpr int kSmallBase = 100;
constexpr int kLargeBase = 10000;
constexpr int kWidth = 10;
constexpr const char* kStamp = "20261211093000";

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

curs* make_cursor(const char* name, std::initializer_list<const char*> cols) {
    curs* c = curs_new();
    std::snprintf(c->cur_name, sizeof(c->cur_name), "%s", name);
    c->limit = 0;  // every row of a pass is kept, to be checked
    for (const char* w : cols) add_column(w, c);
    curs** tail = &cur_anchor;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = c;
    return c;
}

int parse(int (*parser)(curs*, char*), curs* c, const std::string& text) {
    std::string buf = text + "    ";
    buf.resize(buf.size() + 64, '\0');
    return parser(c, buf.data());
}

std::string left(int v) {
    char f[32];
    std::snprintf(f, sizeof(f), "%-*d", kWidth, v);
    return f;
}
std::string right(int v) {
    char f[32];
    std::snprintf(f, sizeof(f), "%*d", kWidth, v);
    return f;
}

// A fetch descriptor of named entries of kWidth bytes, whose values a pass rewrites.
struct descriptor {
    xSQLDA* d;
    std::vector<std::string> names;
    std::vector<std::string> values;
    std::vector<int16_t> nulls;
    std::vector<int32_t> types;
    explicit descriptor(std::initializer_list<const char*> cols) : nulls(cols.size(), 0) {
        const int n = static_cast<int>(cols.size());
        d = zovldal(n, 16, 16);
        d->F = n;
        for (const char* name : cols) names.emplace_back(name);
        values.assign(cols.size(), std::string(kWidth, ' '));
        types.assign(cols.size(), 1);
        for (int i = 0; i < n; ++i) {
            d->S[i] = names[static_cast<size_t>(i)].data();
            d->C[i] = static_cast<int16_t>(names[static_cast<size_t>(i)].size());
            d->V[i] = values[static_cast<size_t>(i)].data();
            d->L[i] = kWidth;
            d->I[i] = &nulls[static_cast<size_t>(i)];
        }
    }
    void set(int i, const std::string& v) {
        std::memcpy(values[static_cast<size_t>(i)].data(), v.data(), kWidth);
    }
    int merge(curs* c) { return merge_text(work_buff, d, c, types.data(), kStamp); }
};

// A base cursor of n rows: ID i, RATE i % 7 + 1.
struct base_cursor {
    curs* c;
    int rows;
    descriptor d{"ID", "RATE"};
    base_cursor(const char* name, int n) : c(make_cursor(name, {"ID", "RATE"})), rows(n) {}
    // A collection: the rows of the last one go, the new ones are built, one sample later.
    bool collect() {
        delete_all(c);
        ++c->sampleno;
        c->rowno = 0;
        for (int i = 0; i < rows; ++i) {
            d.set(0, left(i));
            d.set(1, right(i % 7 + 1));
            ++c->rowno;
            if (d.merge(c) <= 0) return false;
        }
        return true;
    }
};

struct setup {
    base_cursor small{"CUSTS", kSmallBase};
    base_cursor large{"CUSTL", kLargeBase};
    curs* ords = make_cursor("ORDS", {"CUST_ID", "AMT", "QTY", "M1", "M2"});
    curs* ordl = make_cursor("ORDL", {"CUST_ID", "AMT", "QTY", "M1", "M2"});
    curs* plain = make_cursor("PLAIN", {"CUST_ID", "AMT", "QTY"});
    descriptor d{"CUST_ID", "AMT", "QTY"};
    std::string error;
    std::string values_small;
    std::string values_large;

    setup() : values_small(values_of(kSmallBase)), values_large(values_of(kLargeBase)) {
        u_msg_mute(true);
        engine_alloc_work_buff();
        for (auto [c, b] : {std::pair{ords, &small}, std::pair{ordl, &large}}) {
            const std::string name = b->c->cur_name;
            if (parse(parse_base, c, name + " on CUST_ID -> ID") != 0 ||
                parse(parse_math, c, "M1 AMT * 2 + QTY") != 0 ||
                parse(parse_math, c, "M2 " + name + ".RATE * AMT / 100") != 0)
                error = "the clauses were refused";
        }
        if (build_percent_cursor() != 0 || edit_bases_pass() != 0 || edit_math_pass() != 0)
            error = "the editing passes failed";
        if (!small.collect() || !large.collect()) error = "a base cursor was not collected";
        // One pass of each side, every row checked.
        if (error.empty()) pass(plain);
        if (error.empty()) check(plain, nullptr);
        if (error.empty()) pass(ords);
        if (error.empty()) check(ords, &small);
        if (error.empty()) pass(ordl);
        if (error.empty()) check(ordl, &large);
    }

    // The values of fetched row r: CUST_ID, AMT, QTY.
    static int cust_id(int r, int base_rows) { return (r * 7919) % base_rows; }
    static int amt(int r) { return r % 500 + 1; }
    static int qty(int r) { return r % 13; }

    // The fetched values of every row, CUST_ID, AMT and QTY back to back, for a base of
    // kSmallBase and of kLargeBase rows; a fetch writes them into the descriptor's buffers.
    static std::string values_of(int base_rows) {
        std::string out;
        for (int r = 0; r < kRows; ++r)
            out += left(cust_id(r, base_rows)) + right(amt(r)) + right(qty(r));
        return out;
    }

    // Builds the rows of one pass; the seconds the row builds took.
    double pass(curs* c) {
        const char* v = (c == ordl ? values_large : values_small).data();
        auto t0 = std::chrono::steady_clock::now();
        for (int r = 0; r < kRows; ++r, v += 3 * kWidth) {
            for (int i = 0; i < 3; ++i) std::memcpy(d.d->V[i], v + i * kWidth, kWidth);
            if (d.merge(c) <= 0 && error.empty()) {
                error = std::string("a row of ") + c->cur_name + " was not built";
                return 0.0;
            }
        }
        return seconds_since(t0);
    }
    // Builds the rows of one pass over a base cursor collected anew.
    double transformed_pass(curs* c, base_cursor& b) {
        delete_all(c);
        if (!b.collect() && error.empty()) error = "a base cursor was not collected";
        return pass(c);
    }
    double plain_pass() {
        delete_all(plain);
        return pass(plain);
    }

    static std::string field(const row_data* r, const curs* c, const char* name) {
        for (const columns* col = c->insert_columns; col != nullptr; col = col->next)
            if (std::strcmp(col->col_name, name) == 0)
                return std::string(r->text + col->offset, static_cast<size_t>(col->len));
        return "?";
    }
    // A number with two decimals right-aligned in 16, from hundredths.
    static std::string hundredths(long v) {
        char f[40];
        std::snprintf(f, sizeof(f), "%ld.%02ld", v / 100, v % 100);
        return std::string(16 - std::strlen(f), ' ') + f;
    }
    void check(curs* c, const base_cursor* b) {
        const int base_rows = b == nullptr ? kSmallBase : b->rows;
        const row_data* row = c->first_row;
        for (int r = 0; r < kRows; ++r, row = row->next) {
            if (row == nullptr) {
                error = std::string(c->cur_name) + " lacks rows";
                return;
            }
            bool ok = field(row, c, "CUST_ID") == left(cust_id(r, base_rows)) &&
                      field(row, c, "AMT") == right(amt(r)) &&
                      field(row, c, "QTY") == right(qty(r));
            if (b != nullptr) {
                const long rate = cust_id(r, base_rows) % 7 + 1;
                ok = ok && field(row, c, "M1") == hundredths(100L * (amt(r) * 2 + qty(r))) &&
                     field(row, c, "M2") == hundredths(rate * amt(r));
            }
            if (!ok) {
                std::string text(row->text, static_cast<size_t>(c->length));
                for (char& ch : text)
                    if (ch == '\0') ch = '|';
                error = std::string("row ") + std::to_string(r) + " of " + c->cur_name +
                        " is wrong: " + text;
                return;
            }
        }
    }
};

void BM_TransformsVsPlainRows(benchmark::State& state) {
    static setup s;
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    double plain = 0.0;
    double small = 0.0;
    double large = 0.0;
    for (auto _ : state) {
        plain += s.plain_pass();
        small += s.transformed_pass(s.ords, s.small);
        large += s.transformed_pass(s.ordl, s.large);
    }
    if (!s.error.empty()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    const double rows = kRows * static_cast<double>(state.iterations());
    state.counters["plain_ns_per_row"] = plain * 1e9 / rows;
    state.counters["transformed_100_ns_per_row"] = small * 1e9 / rows;
    state.counters["transformed_10000_ns_per_row"] = large * 1e9 / rows;
    state.counters["ratio_100"] = small / plain;
    state.counters["ratio_10000"] = large / plain;
    state.counters["scale"] = large / small;
}
BENCHMARK(BM_TransformsVsPlainRows)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
