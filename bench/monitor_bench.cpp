// One pass of all eleven monitor cursors as the collector runs it (smon_curs_driver, its own
// term table, buffer_name and diskmon bound by select_column to CACHEMAP and SYSDEV) over a
// synthetic SYSMON (64 engines in SYSCCONF, 16 caches in CACHEMAP, 256 devices in SYSDEV,
// filler groups up to the row count), against hand-written C++ that computes the same output
// lines from the same row texts.
//
// DriverVsHandLoop/<rows> runs, alternately in one run, the driver and two hand versions:
// "hand": every counter read by a loop over all rows (the driver's own shape, written
// directly); "grouped": the rows grouped by GROUPNAME once per pass, each counter read from
// its groups. Both hand versions give their values to one hand-written copy of the eleven
// procedures' line formats. Every pass checks that the three give the same lines. Counters:
// "ratio" (driver over hand), "grouped_ratio" (driver over grouped), the milliseconds of each
// per pass, and, at 100,000 rows, "scale_vs_10k" (the driver's pass over its pass at 10,000
// rows, measured in the same run).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "bench/sysmon_pass.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "testing/cursor_builder.h"

namespace {

const char* const kMonitorCursors[] = {"ZEMCACD", "ZEMCACS", "ZEMSDEVD", "ZEMENGD",
                                       "ZEMENGS", "ZEMLCKD", "ZEMLCKS",  "ZEMLOGD",
                                       "ZEMLOGS", "ZEMSQLD", "ZEMTSKD"};

struct Inputs {
    cursortest::cursor zemv{"ZEMV", {{"STARTTIME", 8, 1}, {"STOPTIME", 8, 1}}};
    cursortest::cursor sysconf{"SYSCCONF", {{"NUMENG", 4, 1}}};
    cursortest::cursor cachemap{"CACHEMAP", {{"CACHENAME", 30, 1}, {"BUFFERNAME", 20, 1}}};
    cursortest::cursor sysdev{"SYSDEV",
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

// ---- The driver ----

// The lines of one pass of the eleven cursors; empty when a cursor gave none.
std::vector<std::string> driver_pass() {
    std::vector<std::string> lines;
    for (const char* name : kMonitorCursors) {
        r_exec_chain* head = smon_curs_driver(name);
        if (head == nullptr) return {};
        for (r_exec_chain* e = head; e; e = e->next) lines.emplace_back(e->line);
        u_free_r_chain(head);
    }
    return lines;
}

// ---- The hand side ----

// A field as select_column hands it over: up to its NUL, blanks kept.
std::string raw_field(const char* text, const columns* col) {
    return std::string(text + col->offset,
                       strnlen(text + col->offset, static_cast<size_t>(col->len)));
}

// The first row's field of a cursor's n-th column, as text.
std::string first_field(const cursortest::cursor& c, int n) {
    const columns* col = c.get()->insert_columns;
    for (int i = 0; i < n; ++i) col = col->next;
    return std::string(field(c.get()->first_row->text, col));
}

// Every counter of the pass, each by a loop over all rows; 1 where no row matches.
void hand_values(Fixture& f, std::vector<int64_t>& out) {
    for (size_t i = 0; i < pass.size(); ++i) {
        const Step& s = pass[i];
        const Query& q = *s.q;
        int64_t value = 1;
        bool taken = false;
        for (const row_data* r = f.sysmon.get()->first_row; r; r = r->next) {
            if (!q.group.test(field(r->text, f.group_col), s.var_text)) continue;
            if (!fld_matches(q, field(r->text, f.name_col), s.var_text)) continue;
            const int64_t v = std::strtoll(r->text + f.value_col->offset, nullptr, 10);
            value = q.sum && taken ? value + v : v;
            taken = true;
        }
        out[i] = value;
    }
}

// The eleven procedures' lines, written out by hand from the counters in pass order.
class HandLines {
  public:
    HandLines(const std::vector<int64_t>& v, std::vector<std::string>& out) : v_(v), out_(out) {}

    __attribute__((format(printf, 2, 3))) void add(const char* format, ...) {
        char line[2048];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        out_.emplace_back(line);
    }
    int64_t next() { return v_[at_++]; }
    bool used_all() const { return at_ == v_.size(); }

  private:
    const std::vector<int64_t>& v_;
    std::vector<std::string>& out_;
    size_t at_ = 0;
};

using smon::guard;
using smon::ll;
using smon::percent;
using smon::ratio;

struct Cache {
    int64_t read, hit, miss, tot2, hit2, hit3, hit4, unkeeps, tot4, hit5, denied, tot5, hit6;
};

Cache read_cache(HandLines& h) {
    Cache k{};
    k.read = h.next();
    k.hit = h.next();
    k.miss = k.read - k.hit;
    k.read = guard(k.read);
    k.tot2 = h.next();
    k.hit2 = h.next();
    k.hit3 = h.next();
    k.hit4 = h.next();
    k.tot4 = h.next();
    k.hit5 = h.next();
    k.tot5 = h.next();
    k.hit6 = h.next();
    k.tot2 = guard(k.tot2);
    k.unkeeps = guard(k.hit3 + k.hit4);
    k.tot4 = guard(k.tot4);
    k.denied = k.tot4 - k.hit5;
    k.tot5 = guard(k.tot5);
    return k;
}

#define HAND_CACHE_FORMAT                                                                        \
    "\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld"   \
    "\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f" \
    "\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld" \
    "\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t"
#define HAND_CACHE_VALUES(k, e, x)                                                               \
    ratio(k.read, e), ratio(k.read, x), ll(k.read), ratio(k.hit, e), ratio(k.hit, x), ll(k.hit), \
        percent(k.hit, k.read), ratio(k.miss, e), ratio(k.miss, x), ll(k.miss),                  \
        percent(k.miss, k.read), ratio(k.hit3, e), ratio(k.hit3, x), ll(k.hit3),                 \
        percent(k.hit3, k.unkeeps), ratio(k.hit4, e), ratio(k.hit4, x), ll(k.hit4),              \
        percent(k.hit4, k.unkeeps), ratio(k.hit5, e), ratio(k.hit5, x), ll(k.hit5),              \
        percent(k.hit5, k.tot4), ratio(k.denied, e), ratio(k.denied, x), ll(k.denied),           \
        percent(k.denied, k.tot4), ratio(k.tot5, e), ratio(k.tot5, x), ll(k.tot5),               \
        ratio(k.hit6, e), ratio(k.hit6, x), ll(k.hit6), percent(k.hit6, k.tot5)

float busy(int64_t clock, int64_t cpu) {
    return clock > 0 ? static_cast<float>(cpu * 100 / clock) : 100.0f;
}

void hand_lines(const std::vector<int64_t>& values, std::vector<std::string>& out) {
    out.clear();
    HandLines h(values, out);
    Inputs& in = inputs();
    int32_t ed = static_cast<int32_t>(std::stol(first_field(in.zemv, 1)) -
                                      std::stol(first_field(in.zemv, 0)));
    if (ed <= 0) ed += 86400;
    const int64_t e = ed;
    const int64_t numeng = std::stol(first_field(in.sysconf, 0));

    // ZEMCACD, ZEMCACS
    int64_t x = guard(h.next());
    for (const row_data* r = in.cachemap.get()->first_row; r; r = r->next) {
        const std::string name = raw_field(r->text, in.cachemap.get()->insert_columns);
        const Cache k = read_cache(h);
        h.add("\t%s\t" HAND_CACHE_FORMAT, name.c_str(), HAND_CACHE_VALUES(k, e, x));
    }
    x = guard(h.next());
    {
        const Cache k = read_cache(h);
        h.add(HAND_CACHE_FORMAT, HAND_CACHE_VALUES(k, e, x));
    }

    // ZEMSDEVD
    x = guard(h.next());
    const int64_t all = guard(h.next());
    const columns* devname = in.sysdev.get()->insert_columns;
    const columns* osname = devname->next;
    for (const row_data* r = in.sysdev.get()->first_row; r; r = r->next) {
        const int64_t reads = h.next();
        const int64_t writes = h.next();
        const int64_t io = guard(reads + writes);
        const int64_t hits = h.next();
        const int64_t misses = h.next();
        const int64_t sem = guard(hits + misses);
        h.add(
            "\t%s\t\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%"
            "8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%"
            "8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t",
            raw_field(r->text, devname).c_str(), raw_field(r->text, osname).c_str(),
            ratio(reads, e), ratio(reads, x), ll(reads), percent(reads, io), ratio(writes, e),
            ratio(writes, x), ll(writes), percent(writes, io), ratio(io, e), ratio(io, x), ll(io),
            percent(io, all), ratio(hits, e), ratio(hits, x), ll(hits), percent(hits, sem),
            ratio(misses, e), ratio(misses, x), ll(misses), percent(misses, sem));
    }

    // ZEMENGD
    x = guard(h.next());
    int64_t tot[8];
    for (int64_t& t : tot) t = guard(h.next());
    for (int64_t n = 0; n < numeng && n <= 99; ++n) {
        const int64_t tck1 = h.next();
        const int64_t tck2 = h.next();
        const float b = busy(tck1, tck2);
        const float idle = 100.0f - b;
        int64_t tmp[8];
        for (int64_t& t : tmp) t = h.next();
        h.add(
            "\t%s%i\t\t%7lld\t\t%7lld\t\t%7d\t\t%7d\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%"
            "7.1f\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%7.1f\t\t%7lld\t\t%7lld\t\t%7.1f\t\t%"
            "7.1f\t\t%7lld\t\t%7.1f\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%7.1f\t\t%7.1f\t\t%"
            "7.1f\t\t%7lld\t\t%7.1f\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%7.1f\t",
            "engine", static_cast<int>(n), ll(e), ll(x), static_cast<int>(idle),
            static_cast<int>(b), ratio(tmp[0], e), ratio(tmp[0], x), ll(tmp[0]),
            percent(tmp[0], tot[0]), ratio(tmp[1], e), ratio(tmp[1], x), ll(tmp[1]),
            percent(tmp[1], tot[1]), ll(tmp[2]), ll(tmp[3]), ratio(tmp[4], e), ratio(tmp[4], x),
            ll(tmp[4]), percent(tmp[4], tot[4]), ratio(tmp[5], e), ratio(tmp[5], x), ll(tmp[5]),
            percent(tmp[5], tot[5]), ratio(tmp[6], e), ratio(tmp[6], x), ll(tmp[6]),
            percent(tmp[6], tot[6]), ratio(tmp[7], e), ratio(tmp[7], x), ll(tmp[7]),
            percent(tmp[7], tot[7]));
    }

    // ZEMENGS
    x = guard(h.next());
    {
        const int64_t tck1 = h.next();
        const int64_t tck2 = h.next();
        const float b = busy(tck1, tck2);
        int64_t t[8];
        for (int64_t& v : t) v = h.next();
        h.add(
            "\t%2lld\t\t%7lld\t\t%7lld\t\t%7d\t\t%7d\t\t%7lld\t\t%7lld\t\t%7lld\t\t%7lld\t\t%"
            "7lld\t\t%7lld\t\t%7lld\t\t%7lld\t",
            ll(numeng), ll(e), ll(x), static_cast<int>(100.0f - b), static_cast<int>(b), ll(t[0]),
            ll(t[1]), ll(t[2]), ll(t[3]), ll(t[4]), ll(t[5]), ll(t[6]), ll(t[7]));
    }

    // ZEMLCKD
    x = guard(h.next());
    {
        const int64_t lock = guard(h.next());
        const int64_t deadlocks = guard(h.next());
        const char* const labels[] = {"EX-Table Requests",   "SH-Table Requests",
                                      "EX-Intent Requests",  "SH-Intent Requests",
                                      "EX-Page Requests",    "UP-Page Requests",
                                      "SH-Page Requests",    "EX-Address Requests",
                                      "SH-Address Requests", "Last Pg Locks Total"};
        for (int k = 0; k < 10; ++k) {
            const int64_t granted = h.next();
            const int64_t waited = h.next();
            const int64_t deadlock = k < 9 ? h.next() : 0;
            const int64_t requests = granted + waited;
            const int64_t of = guard(requests);
            h.add(
                "\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%"
                "8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t",
                labels[k], ratio(requests, e), ratio(requests, x), ll(requests),
                percent(requests, lock), ratio(granted, e), ratio(granted, x), ll(granted),
                percent(granted, of), ratio(waited, e), ratio(waited, x), ll(waited),
                percent(waited, of), ratio(deadlock, e), ratio(deadlock, x), ll(deadlock),
                percent(deadlock, deadlocks));
        }
    }

    // ZEMLCKS
    x = guard(h.next());
    {
        const int64_t lock = guard(h.next());
        const int64_t wait = h.next();
        const int64_t deadlock = h.next();
        const int64_t ex = h.next();
        const int64_t sh = h.next();
        const int64_t promotions = guard(ex + sh);
        h.add(
            "\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%"
            "7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%"
            "8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t",
            ratio(lock, e), ratio(lock, x), ll(lock), ratio(wait, e), ratio(wait, x), ll(wait),
            percent(wait, lock), ratio(deadlock, e), ratio(deadlock, x), ll(deadlock),
            percent(deadlock, lock), ratio(promotions, e), ratio(promotions, x), ll(promotions),
            ratio(ex, e), ratio(ex, x), ll(ex), percent(ex, promotions), ratio(sh, e), ratio(sh, x),
            ll(sh), percent(sh, promotions));
    }

    // ZEMLOGD
    x = guard(h.next());
    {
        const char* total = "\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8d\t";
        const char* part = "\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t";
        auto line_total = [&](const char* title, int64_t v) {
            h.add(total, title, ratio(v, e), ratio(v, x), ll(v), 100);
        };
        auto line_part = [&](const char* title, int64_t v, int64_t of) {
            h.add(part, title, ratio(v, e), ratio(v, x), ll(v), percent(v, of));
        };
        int64_t tot = h.next();
        line_total("Total PLC Flushes", tot);
        int64_t tot2 = h.next();
        line_total("Total PLC Semaphore Req", tot2);
        int64_t tot3 = h.next();
        line_total("Total Log Semaphore Req", tot3);
        tot = guard(tot);
        for (const char* title :
             {"Flushes by Full PLC", "Flushes by End Transaction", "Flushes by Change of Database",
              "Flushes by System Log Record", "Flushes by Other"})
            line_part(title, h.next(), tot);
        tot2 = guard(tot2);
        const int64_t waits = h.next();
        line_part("Granted PLC Semaphore Req", tot2 - waits, tot2);
        line_part("Waited PLC Semaphore Req", waits, tot2);
        tot3 = guard(tot3);
        line_part("Granted Log Semaphore Req", h.next(), tot3);
        line_part("Waited Log Semaphore Req", h.next(), tot3);
    }

    // ZEMLOGS
    {
        int64_t v[7];
        for (int64_t& k : v) k = h.next();
        h.add("\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t", ll(v[0]), ll(v[1]),
              ll(v[2]), ll(v[3]), ll(v[4]), ll(v[5]), ll(v[6]));
    }

    // ZEMSQLD
    x = guard(h.next());
    {
        const char* tot_format = "\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t";
        const char* kind_format = "\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t";
        auto line = [&](const char* format, const char* label, int64_t v, int64_t of) {
            h.add(format, label, ratio(v, e), ratio(v, x), ll(v), percent(v, of));
        };
        int64_t sql = h.next();
        h.add("\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8d\t", "Total SQL Activity", ratio(sql, e),
              ratio(sql, x), ll(sql), 100);
        sql = guard(sql);
        int64_t tot1 = h.next();
        line(tot_format, "Inserted Total", tot1, sql);
        int64_t tot2 = h.next();
        line(tot_format, "Updated Total", tot2, sql);
        int64_t tot3 = h.next();
        line(tot_format, "Deleted Total", tot3, sql);
        tot1 = guard(tot1);
        tot2 = guard(tot2);
        tot3 = guard(tot3);
        const struct {
            const char* label;
            int64_t of;
        } kinds[] = {{"Inserted Heap Table", tot1},  {"Inserted Clustered Table", tot1},
                     {"Updated Deferred", tot2},     {"Updated Direct In-place", tot2},
                     {"Updated Direct Cheap", tot2}, {"Deleted Deferred", tot3}};
        int64_t deferred = 0;
        for (const auto& k : kinds) {
            const int64_t v = h.next();
            line(kind_format, k.label, v, k.of);
            deferred = v;
        }
        line(kind_format, "Deleted Direct", tot3 - deferred, tot3);
    }

    // ZEMTSKD
    x = guard(h.next());
    {
        const char* cause_format = "\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t";
        int64_t total = h.next();
        h.add("\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8d\t", "Total Task Switches", ratio(total, e),
              ratio(total, x), ll(total), 100);
        total = guard(total);
        const char* const labels[] = {"Voluntary Yields",         "Cache Search Misses",
                                      "System Disk Writes",       "I/O Pacing",
                                      "Logical Lock Contention",  "Address Lock Contention",
                                      "Log Semaphore Contention", "Group Commit Sleeps",
                                      "Last Log Page Writes",     "Modify Conflicts",
                                      "I/O Device Contention",    "Network Packet Received",
                                      "Network Packet Sent",      "SYSINDEXES Lookup"};
        int64_t causes = 0;
        for (const char* label : labels) {
            const int64_t v = h.next();
            h.add(cause_format, label, ratio(v, e), ratio(v, x), ll(v), percent(v, total));
            causes += v;
        }
        const int64_t other = total - causes;
        h.add(cause_format, "Other Causes", ratio(other, e), ratio(other, x), ll(other),
              percent(other, total));
    }
    if (!h.used_all()) out.clear();
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

// The driver's pass at 10,000 rows, for the scale of the larger passes.
double driver_ms_at_10k = 0;

void DriverVsHandLoop(benchmark::State& state) {
    Quiet quiet;
    Fixture& f = fixture();
    inputs();
    const auto rows = static_cast<size_t>(state.range(0));
    f.load(rows);
    std::vector<int64_t> values(pass.size());
    std::vector<std::string> by_hand, by_groups;
    Grouped groups;
    // A first pass lexes every text; the timed passes are the steady state.
    if (driver_pass().empty()) {
        state.SkipWithError("a monitor cursor gave no line");
        return;
    }
    double driver_s = 0, hand_s = 0, grouped_s = 0;
    long passes = 0;
    size_t lines = 0;
    for (auto _ : state) {
        // Each pass reads a new sample, as the collector's fetch of SYSMON gives one: the
        // driver indexes the rows again, as the grouped loop groups them again.
        ++f.sysmon.get()->sampleno;
        auto t0 = std::chrono::steady_clock::now();
        const std::vector<std::string> by_driver = driver_pass();
        driver_s += seconds_since(t0);
        t0 = std::chrono::steady_clock::now();
        hand_values(f, values);
        hand_lines(values, by_hand);
        hand_s += seconds_since(t0);
        t0 = std::chrono::steady_clock::now();
        grouped_values(f, groups, values);
        hand_lines(values, by_groups);
        grouped_s += seconds_since(t0);
        ++passes;
        lines = by_driver.size();
        if (by_driver.empty() || by_driver != by_hand || by_driver != by_groups) {
            size_t i = 0;
            while (i < by_driver.size() && i < by_hand.size() && by_driver[i] == by_hand[i] &&
                   i < by_groups.size() && by_driver[i] == by_groups[i])
                ++i;
            std::fprintf(stderr, "line %zu differs:\ndriver : %s\nhand   : %s\ngrouped: %s\n", i,
                         i < by_driver.size() ? by_driver[i].c_str() : "(none)",
                         i < by_hand.size() ? by_hand[i].c_str() : "(none)",
                         i < by_groups.size() ? by_groups[i].c_str() : "(none)");
            state.SkipWithError("the driver and the hand loops give different lines");
            break;
        }
    }
    f.load(kRows);
    if (passes == 0) return;
    const double driver_ms = 1000.0 * driver_s / passes;
    state.counters["ratio"] = driver_s / hand_s;
    state.counters["grouped_ratio"] = driver_s / grouped_s;
    state.counters["driver_ms"] = driver_ms;
    state.counters["hand_ms"] = 1000.0 * hand_s / passes;
    state.counters["grouped_ms"] = 1000.0 * grouped_s / passes;
    state.counters["lines"] = static_cast<double>(lines);
    if (rows == 10000) driver_ms_at_10k = driver_ms;
    if (rows != 10000 && driver_ms_at_10k > 0)
        state.counters["scale_vs_10k"] = driver_ms / driver_ms_at_10k;
}
BENCHMARK(DriverVsHandLoop)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
