// eval_decode over 100,000 values of a 12-character column with a chain of 10 rules
// (strings, numbers, SEARCH, IN, AND parts, a DEFAULT), against a hand-written evaluation
// of the same rules on the same values.
//
// BM_DecodeVsHandLoop runs both alternately and reports "ratio" (eval_decode time over the
// hand loop's), "values_per_s" of eval_decode and "heap_bytes_grown_per_pass" (0: nothing is
// allocated per call). Both sides must pick the same rule for every value, else the
// benchmark reports an error.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "collector/transforms/decode.h"
#include "collector/transforms/decode_eval.h"
#include "defs/clause_decode.h"
#include "defs/clause_free.h"
#include "defs/clause_loads.h"
#include "runtime/alloc.h"
#include "testing/clause_fixture.h"
#include "testing/cursor_builder.h"

namespace {

constexpr int kValues = 100000;
constexpr int kWidth = 12;

const char* const kRules[] = {
    "VAL = 'DB1' , 'r1'",       "VAL SEARCH 'ERR' , 'r2'",
    "VAL IN L.DBS , 'r3'",      "VAL > 900 and < 950 , 'r4'",
    "VAL = 'OK' , 'r5'",        "VAL SEARCH 'WARN' , 'r6'",
    "VAL = 42 , 'r7'",          "VAL ~= 'X' and SEARCH 'ZZ' , 'r8'",
    "VAL <= 5 and >= 3 , 'r9'", "VAL DEFAULT 'none'",
};
const char* const kListText = "( 'DB2' , 'DB3' , 'PROD' )";
const char* const kSamples[] = {"DB1",  "DB3",   "NO ERRORS", "WARNING",  "913",   "42",
                                "4",    "ZZTOP", "other",     "PROD",     "  951", "OK",
                                "DB10", "7",     "X",         "WARN ERR", "1000",  "abc ZZ"};

struct Fixture {
    cursortest::cursor t{"T", {{"VAL", kWidth, 1}}};
    cursortest::cursor l{"L", {{"X", 4, 1}}};
    std::vector<std::string> values;
    std::vector<decode_op*> rules;

    Fixture() {
        auto* list = static_cast<in_list*>(U_MALLOC(sizeof(in_list)));
        std::memset(list, 0, sizeof(in_list));
        std::strcpy(list->name, "DBS");
        list->text = static_cast<char*>(U_MALLOC(std::strlen(kListText) + 1));
        std::strcpy(list->text, kListText);
        list->len = static_cast<int32_t>(std::strlen(kListText));
        l.get()->in_list = list;
        for (const char* r : kRules) {
            clause_text text(r);
            if (parse_decode(t.get(), text) != 0) std::abort();
        }
        if (bind_decodes() != 0) std::abort();
        for (decode_op* d = t.get()->insert_columns->decode_op; d != nullptr; d = d->next)
            rules.push_back(d);
        const size_t n = sizeof kSamples / sizeof kSamples[0];
        for (int i = 0; i < kValues; ++i) {
            std::string v = kSamples[static_cast<size_t>(i) % n];
            v.resize(kWidth, ' ');
            values.push_back(v);
        }
    }
    ~Fixture() {
        del_clauses(t.get());
        del_clauses(l.get());
    }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

// ---- The same rules, written by hand ----

std::string_view trimmed(std::string_view v) {
    while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
    return v;
}

bool as_number(std::string_view v, double& out) {
    char buf[kWidth + 1];
    std::memcpy(buf, v.data(), v.size());
    buf[v.size()] = '\0';
    const char* p = buf;
    while (*p == ' ') ++p;
    char* end = nullptr;
    out = std::strtod(p, &end);
    if (end == p) return false;
    while (*end == ' ') ++end;
    return *end == '\0';
}

int hand_rule(std::string_view v) {
    std::string_view t = trimmed(v);
    double n = 0;
    const bool numeric = as_number(v, n);
    if (t == "DB1") return 0;
    if (v.find("ERR") != std::string_view::npos) return 1;
    char key[kWidth + 3];
    key[0] = '\'';
    std::memcpy(key + 1, t.data(), t.size());
    size_t k = t.size() + 1;
    if (key[k - 1] == '\'') key[k++] = ' ';
    key[k++] = '\'';
    if (std::string_view(kListText).find(std::string_view(key, k)) != std::string_view::npos)
        return 2;
    if (numeric && n > 900 && n < 950) return 3;
    if (t == "OK") return 4;
    if (v.find("WARN") != std::string_view::npos) return 5;
    if (numeric && n == 42) return 6;
    if (t != "X" && v.find("ZZ") != std::string_view::npos) return 7;
    if (numeric && n <= 5 && n >= 3) return 8;
    return 9;
}

long heap_bytes() {
    struct mallinfo2 m = mallinfo2();
    return static_cast<long>(m.uordblks);
}

double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void decode_pass(Fixture& f, std::vector<int>& out) {
    columns* col = f.t.get()->insert_columns;
    for (size_t i = 0; i < f.values.size(); ++i) {
        char* v = f.values[i].data();
        decode_op* d = eval_decode(col, v, v, 0, f.t.get(), col->decode_op);
        int k = 0;
        while (k < static_cast<int>(f.rules.size()) && f.rules[static_cast<size_t>(k)] != d) ++k;
        out[i] = k;
    }
}

void hand_pass(Fixture& f, std::vector<int>& out) {
    for (size_t i = 0; i < f.values.size(); ++i) out[i] = hand_rule(f.values[i]);
}

void BM_DecodeVsHandLoop(benchmark::State& state) {
    Fixture& f = fixture();
    std::vector<int> by_decode(f.values.size()), by_hand(f.values.size());
    decode_pass(f, by_decode);
    double decode_s = 0, hand_s = 0;
    long passes = 0, growth = 0;
    for (auto _ : state) {
        const long before = heap_bytes();
        auto t0 = std::chrono::steady_clock::now();
        decode_pass(f, by_decode);
        decode_s += seconds_since(t0);
        growth += heap_bytes() - before;
        t0 = std::chrono::steady_clock::now();
        hand_pass(f, by_hand);
        hand_s += seconds_since(t0);
        ++passes;
        if (by_decode != by_hand) {
            size_t i = 0;
            while (by_decode[i] == by_hand[i]) ++i;
            state.SkipWithError(("rules differ for '" + f.values[i] +
                                 "': " + std::to_string(by_decode[i]) + " against " +
                                 std::to_string(by_hand[i]))
                                    .c_str());
            break;
        }
    }
    state.counters["ratio"] = hand_s > 0 ? decode_s / hand_s : 0;
    state.counters["values_per_s"] =
        decode_s > 0 ? static_cast<double>(kValues) * static_cast<double>(passes) / decode_s : 0;
    state.counters["heap_bytes_grown_per_pass"] =
        passes > 0 ? static_cast<double>(growth) / static_cast<double>(passes) : 0;
}
BENCHMARK(BM_DecodeVsHandLoop)->Unit(benchmark::kMillisecond)->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
