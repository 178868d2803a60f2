// The synthetic SYSMON of the internal-select benchmarks (64 engines, 16 caches, 256 devices
// and filler groups, 10,000 rows) and the pass of the monitor procedures' selects over it.
// Each benchmark is a program of its own, so everything here stays local to it.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "expr/internal_select.h"
#include "expr/select_cursor.h"
#include "testing/cursor_builder.h"

namespace {

// ---- The synthetic SYSMON ----

const char* const kEngineCounters[] = {"clock_ticks",
                                       "cpu_ticks",
                                       "engine_sleeps",
                                       "context_switches",
                                       "max_outstanding_AIOs_engine",
                                       "total_dpoll_completed_aios",
                                       "no_packets_received",
                                       "no_bytes_received",
                                       "no_packets_sent",
                                       "no_bytes_sent"};
const char* const kBufferCounters[] = {"bufsearch_calls",
                                       "bufsearch_finds",
                                       "bufgrab_2k",
                                       "bufgrab_16k",
                                       "bufgrab_dirty_2k",
                                       "bufgrab_dirty_16k",
                                       "bufunkeep_lru",
                                       "bufunkeep_mru",
                                       "prefetch_req",
                                       "prefetch_as_requested",
                                       "prefetch_page_realigned",
                                       "bufgrab_ref_2K",
                                       "bufgrab_ref_16K",
                                       "bufread_read_waits",
                                       "write_waits",
                                       "hk_write_waits",
                                       "restart_io_waits",
                                       "my_start_waits_log",
                                       "my_start_waits_non-log",
                                       "my_other_waits_non-log",
                                       "my_other_waits_log",
                                       "log_lastpage_pending_io_sleeps",
                                       "last_log_page_writes",
                                       "changing_state_waits",
                                       "bufwrite_changing_waits",
                                       "log_page_writes"};
const char* const kDiskCounters[] = {"total_reads", "total_writes", "p_hits", "p_misses"};
const char* const kAccessCounters[] = {"xacts",
                                       "ncinsert",
                                       "cinsert",
                                       "deferred_update",
                                       "direct_inplace_update",
                                       "direct_notinplace_update",
                                       "direct_expensive_update",
                                       "delete",
                                       "delete_deferred",
                                       "locklastpage",
                                       "lklastpg_wait",
                                       "log_page_allocations"};
const char* const kLockKinds[] = {"EX_TAB",  "SH_TAB",  "EX_INT",  "SH_INT", "EX_PAGE",
                                  "UP_PAGE", "SH_PAGE", "EX_ADDR", "SH_ADDR"};
const char* const kXlsCounters[] = {
    "plc_flush_full",   "plc_flush_endxact", "plc_flush_xdeschange", "plc_flush_slr_xact",
    "plc_flush_unpin",  "plc_flush_discard", "plc_flush_pmscan",     "plc_lock_calls",
    "log_lock_granted", "log_lock_waited",   "plc_lock_waits",       "plc_maxused",
    "plc_logrecs"};
constexpr int kEngines = 64;
constexpr int kCaches = 16;
constexpr int kDevices = 256;
constexpr int kRows = 10000;

struct Row {
    std::string group, name;
    int value;
};

// The rows of SYSMON: the named groups, then filler groups up to `count` rows.
std::vector<Row> sysmon_rows(size_t count = kRows) {
    std::vector<Row> rows;
    int v = 1;
    auto add = [&](std::string g, std::string n) { rows.push_back({g, n, (v++ * 37) % 1000}); };
    for (int e = 0; e < kEngines; ++e)
        for (const char* c : kEngineCounters) add("engine_" + std::to_string(e), c);
    for (int b = 0; b < kCaches; ++b)
        for (const char* c : kBufferCounters) add("buffer_" + std::to_string(b), c);
    for (int d = 0; d < kDevices; ++d)
        for (const char* c : kDiskCounters) add("disk_" + std::to_string(d), c);
    for (const char* c : kAccessCounters) add("access", c);
    for (const char* k : kLockKinds)
        for (const char* p : {"granted_", "waited_", "deadlock_"}) add("lock", std::string(p) + k);
    for (const char* c : {"deadlocks", "promoted_EX_TAB", "promoted_SH_TAB"}) add("lock", c);
    for (const char* c : kXlsCounters) add("xls", c);
    add("kernel", "yields");
    add("network", "total_packets_received");
    add("network", "total_packets_sent");
    add("sysind", "ind_bufguess_hits");
    add("sysind", "ind_bufguess_misses");
    for (int f = 0; rows.size() < count; ++f)
        add("filler_" + std::to_string(f / 40), "counter_" + std::to_string(f % 40));
    return rows;
}

// ---- The selects of one pass, with the hand loop's reading of each where-text ----

// A hand-written test of one text field.
struct Match {
    enum Kind { ANY, EQ, PREFIX, PREFIX_SUFFIX, VAR } kind = ANY;
    std::string a, b;  // EQ: a; PREFIX: a; PREFIX_SUFFIX: a ... b; VAR: the variable's text
    bool test(std::string_view s, std::string_view var) const {
        switch (kind) {
            case ANY:
                return true;
            case EQ:
                return s == a;
            case PREFIX:
                return s.substr(0, a.size()) == a;
            case PREFIX_SUFFIX:
                return s.size() >= a.size() + b.size() && s.substr(0, a.size()) == a &&
                       s.substr(s.size() - b.size()) == b;
            case VAR:
                return s == var;
        }
        return false;
    }
};

struct Query {
    bool sum;
    std::string where;
    Match group;
    std::vector<Match> any_of;   // FLDNAME: one of these
    std::vector<Match> none_of;  // FLDNAME: none of these
    int var = -1;                // the work variable the where-text names (index), or -1
};

Match eq(const std::string& s) { return {Match::EQ, s, ""}; }
Match prefix(const std::string& s) { return {Match::PREFIX, s, ""}; }
Match ps(const std::string& p, const std::string& s) { return {Match::PREFIX_SUFFIX, p, s}; }

// The variables of the pass: tmp_grp, buffer_name, diskmon.
enum { VAR_ENGINE = 0, VAR_BUFFER = 1, VAR_DISK = 2 };
const char* const kVarNames[] = {"tmp_grp", "buffer_name", "diskmon"};

// One select of the pass: the query and the value of its variable.
struct Step {
    const Query* q;
    std::string var_text;
};

std::vector<Query> queries;
std::vector<Step> pass;

void build_pass() {
    queries.reserve(400);
    auto q = [&](bool sum, std::string where, Match g, std::vector<Match> any,
                 std::vector<Match> none = {}, int var = -1) {
        queries.push_back(
            {sum, std::move(where), std::move(g), std::move(any), std::move(none), var});
        return &queries.back();
    };
    auto once = [&](const Query* query) { pass.push_back({query, ""}); };
    const Query* xacts =
        q(false, "GROUPNAME = \"access\" and FLDNAME = \"xacts\" ", eq("access"), {eq("xacts")});
    const Query* xacts_tskd =
        q(false, "GROUPNAME = \"access\" AND FLDNAME = \"xacts\" ", eq("access"), {eq("xacts")});

    // Caches: the same conditions over all buffer groups (ZEMCACS) and per cache (ZEMCACD).
    struct CacheCond {
        std::string text;
        std::vector<Match> any, none;
    };
    const CacheCond cache_conds[] = {
        {"FLDNAME = 'bufsearch_calls'", {eq("bufsearch_calls")}, {}},
        {"FLDNAME = 'bufsearch_finds'", {eq("bufsearch_finds")}, {}},
        {"FLDNAME LIKE 'bufgrab_%k'", {ps("bufgrab_", "k")}, {}},
        {"FLDNAME LIKE 'bufgrab_dirty_%'", {prefix("bufgrab_dirty_")}, {}},
        {"FLDNAME = 'bufunkeep_lru'", {eq("bufunkeep_lru")}, {}},
        {"FLDNAME = 'bufunkeep_mru'", {eq("bufunkeep_mru")}, {}},
        {"FLDNAME = 'prefetch_req'", {eq("prefetch_req")}, {}},
        {"( FLDNAME = 'prefetch_as_requested' OR FLDNAME = 'prefetch_page_realigned')",
         {eq("prefetch_as_requested"), eq("prefetch_page_realigned")},
         {}},
        {"FLDNAME LIKE 'bufgrab_%' AND FLDNAME ^= 'bufgrab_2k'",
         {prefix("bufgrab_")},
         {eq("bufgrab_2k")}},
        {"FLDNAME LIKE 'bufgrab_ref_%K' AND FLDNAME ^= 'bufgrab_ref_2K'",
         {ps("bufgrab_ref_", "K")},
         {eq("bufgrab_ref_2K")}},
    };
    std::vector<const Query*> per_cache;
    for (const CacheCond& c : cache_conds)
        per_cache.push_back(q(true, "GROUPNAME = buffer_name AND " + c.text, {Match::VAR, "", ""},
                              c.any, c.none, VAR_BUFFER));
    once(xacts);
    for (int b = 0; b < kCaches; ++b)
        for (const Query* query : per_cache) pass.push_back({query, "buffer_" + std::to_string(b)});
    once(xacts);
    for (const CacheCond& c : cache_conds)
        once(q(true, "GROUPNAME LIKE 'buffer_%' AND " + c.text, prefix("buffer_"), c.any, c.none));

    // Devices.
    once(xacts);
    once(q(true,
           "GROUPNAME LIKE 'disk_%' AND ( FLDNAME = 'total_reads' OR FLDNAME = 'total_writes')",
           prefix("disk_"), {eq("total_reads"), eq("total_writes")}));
    std::vector<const Query*> per_disk;
    for (const char* c : kDiskCounters)
        per_disk.push_back(q(false, std::string("GROUPNAME = diskmon AND FLDNAME = '") + c + "'",
                             {Match::VAR, "", ""}, {eq(c)}, {}, VAR_DISK));
    for (int d = 0; d < kDevices; ++d)
        for (const Query* query : per_disk) pass.push_back({query, "disk_" + std::to_string(d)});

    // Engines: totals (ZEMENGD without the tick totals, ZEMENGS with them) and per engine.
    std::vector<const Query*> totals, per_engine;
    for (const char* c : kEngineCounters) {
        totals.push_back(q(true, std::string("GROUPNAME LIKE 'engine_%' AND FLDNAME = '") + c + "'",
                           prefix("engine_"), {eq(c)}));
        per_engine.push_back(q(false, std::string("GROUPNAME = tmp_grp AND FLDNAME = '") + c + "'",
                               {Match::VAR, "", ""}, {eq(c)}, {}, VAR_ENGINE));
    }
    once(xacts);
    for (size_t i = 2; i < totals.size(); ++i) once(totals[i]);
    for (int e = 0; e < kEngines; ++e)
        for (const Query* query : per_engine)
            pass.push_back({query, "engine_" + std::to_string(e)});
    once(xacts);
    for (const Query* query : totals) once(query);

    // Locks.
    once(xacts);
    const Query* lock_all = q(true,
                              "GROUPNAME = 'lock' AND ( FLDNAME LIKE 'granted%' OR FLDNAME LIKE "
                              "'waited%'        )",
                              eq("lock"), {prefix("granted"), prefix("waited")});
    const Query* deadlocks =
        q(true, "GROUPNAME = 'lock' AND FLDNAME = 'deadlocks'", eq("lock"), {eq("deadlocks")});
    once(lock_all);
    once(deadlocks);
    for (const char* k : kLockKinds)
        for (const char* p : {"granted_", "waited_", "deadlock_"})
            once(q(false, std::string("GROUPNAME = 'lock' AND FLDNAME = '") + p + k + "'",
                   eq("lock"), {eq(std::string(p) + k)}));
    once(q(false, "GROUPNAME = 'access' AND FLDNAME = 'locklastpage'", eq("access"),
           {eq("locklastpage")}));
    once(q(false, "GROUPNAME = 'access' AND FLDNAME = 'lklastpg_wait'", eq("access"),
           {eq("lklastpg_wait")}));
    once(xacts);
    once(lock_all);
    once(q(true, "GROUPNAME = 'lock' AND FLDNAME LIKE 'waited%'", eq("lock"), {prefix("waited")}));
    once(deadlocks);
    once(q(false, "GROUPNAME = 'lock' AND FLDNAME = 'promoted_EX_TAB'", eq("lock"),
           {eq("promoted_EX_TAB")}));
    once(q(false, "GROUPNAME = 'lock' AND FLDNAME = 'promoted_SH_TAB'", eq("lock"),
           {eq("promoted_SH_TAB")}));

    // Transaction log.
    auto xls = [&](bool sum, const std::string& cond, std::vector<Match> any) {
        return q(sum, "GROUPNAME = 'xls' AND " + cond, eq("xls"), std::move(any));
    };
    const Query* flushes = xls(true, "FLDNAME LIKE 'plc_flush_%'", {prefix("plc_flush_")});
    const Query* lock_calls = xls(false, "FLDNAME = 'plc_lock_calls'", {eq("plc_lock_calls")});
    const Query* log_sem = xls(true,
                               "( FLDNAME = 'log_lock_granted' OR FLDNAME = 'log_lock_waited'     "
                               "     )",
                               {eq("log_lock_granted"), eq("log_lock_waited")});
    once(xacts);
    once(flushes);
    once(lock_calls);
    once(log_sem);
    for (const char* c :
         {"plc_flush_full", "plc_flush_endxact", "plc_flush_xdeschange", "plc_flush_slr_xact"})
        once(xls(false, std::string("FLDNAME = '") + c + "'", {eq(c)}));
    once(xls(true,
             "( FLDNAME = 'plc_flush_unpin'      OR FLDNAME = 'plc_flush_discard' OR FLDNAME = "
             "'plc_flush_pmscan'        )",
             {eq("plc_flush_unpin"), eq("plc_flush_discard"), eq("plc_flush_pmscan")}));
    for (const char* c : {"plc_lock_waits", "log_lock_granted", "log_lock_waited"})
        once(xls(false, std::string("FLDNAME = '") + c + "'", {eq(c)}));
    once(xls(false, "FLDNAME = 'plc_maxused'", {eq("plc_maxused")}));
    once(q(true, "GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'log_page_writes'", prefix("buffer_"),
           {eq("log_page_writes")}));
    once(q(false, "GROUPNAME = 'access' AND FLDNAME = 'log_page_allocations'", eq("access"),
           {eq("log_page_allocations")}));
    once(xls(false, "FLDNAME = 'plc_logrecs'", {eq("plc_logrecs")}));
    once(flushes);
    once(lock_calls);
    once(log_sem);

    // SQL activity.
    auto access = [&](bool sum, const std::string& cond, std::vector<Match> any) {
        return q(sum, "GROUPNAME = 'access' AND " + cond, eq("access"), std::move(any));
    };
    once(xacts);
    once(access(true,
                "( FLDNAME = 'ncinsert'                    OR FLDNAME = 'cinsert'                "
                "     OR FLDNAME = 'deferred_update'             OR FLDNAME = "
                "'direct_inplace_update'       OR FLDNAME = 'direct_notinplace_update' OR FLDNAME "
                "= 'direct_expensive_update'     OR FLDNAME = 'delete'                         )",
                {eq("ncinsert"), eq("cinsert"), eq("deferred_update"), eq("direct_inplace_update"),
                 eq("direct_notinplace_update"), eq("direct_expensive_update"), eq("delete")}));
    once(access(true, "( FLDNAME = 'ncinsert'     OR FLDNAME = 'cinsert'         )",
                {eq("ncinsert"), eq("cinsert")}));
    once(access(true,
                "( FLDNAME = 'deferred_update'             OR FLDNAME = 'direct_inplace_update'  "
                "     OR FLDNAME = 'direct_notinplace_update' OR FLDNAME = "
                "'direct_expensive_update'       )",
                {eq("deferred_update"), eq("direct_inplace_update"), eq("direct_notinplace_update"),
                 eq("direct_expensive_update")}));
    for (const char* c : {"delete", "ncinsert", "cinsert", "deferred_update",
                          "direct_inplace_update", "direct_notinplace_update", "delete_deferred"})
        once(access(false, std::string("FLDNAME = '") + c + "'", {eq(c)}));

    // Task switches.
    once(xacts_tskd);
    once(q(true, "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'context_switches'", prefix("engine_"),
           {eq("context_switches")}));
    once(q(false, "GROUPNAME = 'kernel' AND FLDNAME = 'yields'", eq("kernel"), {eq("yields")}));
    auto buf = [&](const std::string& cond, std::vector<Match> any) {
        return q(true, "GROUPNAME LIKE 'buffer_%' " + cond, prefix("buffer_"), std::move(any));
    };
    once(buf("AND FLDNAME = 'bufread_read_waits'", {eq("bufread_read_waits")}));
    once(
        buf("AND ( FLDNAME = 'write_waits'       OR FLDNAME = 'hk_write_waits' OR FLDNAME = "
            "'restart_io_waits'      )",
            {eq("write_waits"), eq("hk_write_waits"), eq("restart_io_waits")}));
    once(buf(
        "AND ( FLDNAME = 'my_start_waits_log'        OR FLDNAME = 'my_start_waits_non-log' "
        "OR FLDNAME = 'my_other_waits_non-log'       )",
        {eq("my_start_waits_log"), eq("my_start_waits_non-log"), eq("my_other_waits_non-log")}));
    once(q(true,
           "GROUPNAME = 'lock'         AND FLDNAME LIKE 'waited_%'             AND (NOT FLDNAME "
           "LIKE 'waited_%_ADDR')       ",
           eq("lock"), {prefix("waited_")}, {ps("waited_", "_ADDR")}));
    once(q(true, "GROUPNAME = 'lock'         AND FLDNAME LIKE 'waited_%_ADDR'", eq("lock"),
           {ps("waited_", "_ADDR")}));
    once(q(false, "GROUPNAME = 'xls'         AND FLDNAME = 'log_lock_waited'", eq("xls"),
           {eq("log_lock_waited")}));
    once(
        buf("        AND ( FLDNAME = 'my_other_waits_log'              OR FLDNAME = "
            "'log_lastpage_pending_io_sleeps'     )",
            {eq("my_other_waits_log"), eq("log_lastpage_pending_io_sleeps")}));
    once(buf("        AND FLDNAME = 'last_log_page_writes'", {eq("last_log_page_writes")}));
    once(buf(
        "        AND ( FLDNAME = 'changing_state_waits'            OR FLDNAME = "
        "'bufwrite_changing_waits'         OR FLDNAME = 'bufpredirty_write_waits'         "
        "OR FLDNAME = 'bufpredirty_changing_waits'      OR FLDNAME = "
        "'bufnewpage_changing_waits'       OR FLDNAME = 'ind_bufguess_changing_waits'     OR "
        "FLDNAME = 'ind_bufguess_writing_waits'         )",
        {eq("changing_state_waits"), eq("bufwrite_changing_waits"), eq("bufpredirty_write_waits"),
         eq("bufpredirty_changing_waits"), eq("bufnewpage_changing_waits"),
         eq("ind_bufguess_changing_waits"), eq("ind_bufguess_writing_waits")}));
    once(q(true, "GROUPNAME LIKE 'disk_%'     AND FLDNAME = 'p_misses'", prefix("disk_"),
           {eq("p_misses")}));
    once(q(true, "GROUPNAME = 'network'     AND FLDNAME = 'total_packets_received'", eq("network"),
           {eq("total_packets_received")}));
    once(q(true, "GROUPNAME = 'network'     AND FLDNAME = 'total_packets_sent'", eq("network"),
           {eq("total_packets_sent")}));
    once(q(true, "GROUPNAME = 'sysind'     AND FLDNAME LIKE 'ind_bufguess%'", eq("sysind"),
           {prefix("ind_bufguess")}));
}

// ---- The two sides ----

struct Fixture {
    cursortest::cursor sysmon{"SYSMON", cursortest::sysmon_columns(2)};
    // One row whose column buffer_name and diskmon are bound to by select_column, as the
    // monitor procedures bind them to CACHEMAP's and SYSDEV's current rows.
    cursortest::cursor bound{"SELVARS", {{"VALUE", 20, 1}}};
    TERM_TABLE* anchor = nullptr;
    char var_text[3][32] = {};
    char* var_ptr[3] = {var_text[0], var_text[1], var_text[2]};
    const columns* group_col = nullptr;
    const columns* name_col = nullptr;
    const columns* value_col = nullptr;

    Fixture() {
        load(kRows);
        group_col = sysmon.get()->insert_columns;
        name_col = group_col->next;
        value_col = name_col->next;
        bound.add({""});
        point_columns(bound.get(), bound.get()->first_row);
        start_exec_sql(nullptr);
        for (int v = 0; v < 3; ++v) declare_C_var(kVarNames[v], 1, &var_ptr[v]);
        end_exec_sql(&anchor);
    }
    // SYSMON holds the rows of sysmon_rows(count) from now on.
    void load(size_t count) {
        sysmon.clear_rows();
        for (const Row& r : sysmon_rows(count))
            sysmon.add({r.group, r.name, std::to_string(r.value)});
        sysmon.point_at_fetch_area();
    }
};

Fixture& fixture() {
    static Fixture* f = [] {
        build_pass();
        return new Fixture();
    }();
    return *f;
}

// Runs the pass through the internal select; the values go to out. The number of failed
// selects (not 0 or 100) is returned.
[[maybe_unused]] long select_pass(Fixture& f, std::vector<int32_t>& out) {
    long failures = 0;
    start_exec_sql(f.anchor);
    for (size_t i = 0; i < pass.size(); ++i) {
        const Step& s = pass[i];
        if (s.q->var == VAR_ENGINE) {
            // tmp_grp: a declared variable over the caller's text.
            std::memcpy(f.var_text[s.q->var], s.var_text.c_str(), s.var_text.size() + 1);
        } else if (s.q->var >= 0) {
            // buffer_name, diskmon: bound to the column of another cursor's row.
            const columns* col = f.bound.get()->insert_columns;
            char* field = f.bound.get()->first_row->text + col->offset;
            std::memset(field, ' ', static_cast<size_t>(col->len));
            std::memcpy(field, s.var_text.data(), s.var_text.size());
            char* text = nullptr;
            if (select_column("VALUE", "SELVARS", &text, SEL_TARGET_CHAR, kVarNames[s.q->var],
                              nullptr) != 0)
                ++failures;
        }
        int32_t value = 1;
        const int rc = perform_select(s.q->sum ? "SUM(FLDVALUE)" : "FLDVALUE", "SYSMON", &value,
                                      s.q->where.c_str(), SEL_TARGET_INT);
        if (rc != 0 && rc != 100) ++failures;
        out[i] = value;
    }
    end_exec_sql(&f.anchor);
    return failures;
}

// ---- The hand-written baselines' shared parts ----

// A field of a row text as a comparison reads it: up to its NUL, trailing blanks dropped.
[[maybe_unused]] std::string_view field(const char* text, const columns* col) {
    size_t n = strnlen(text + col->offset, static_cast<size_t>(col->len));
    while (n > 0 && text[col->offset + n - 1] == ' ') --n;
    return {text + col->offset, n};
}

[[maybe_unused]] bool fld_matches(const Query& q, std::string_view name, std::string_view var) {
    bool ok = false;
    for (const Match& m : q.any_of) ok = ok || m.test(name, var);
    for (const Match& m : q.none_of) ok = ok && !m.test(name, var);
    return ok;
}

// The counters of the pass from the rows grouped by GROUPNAME once per call (the grouping
// included): how a careful hand-written pass reads them; 1 where no row matches.
struct Entry {
    std::string_view name;
    int64_t value;
};
struct Grouped {
    std::unordered_map<std::string_view, std::vector<Entry>> by_group;
    std::vector<std::string_view> order;  // groups in the order they first appear
};

template <class Value>
void grouped_values(Fixture& f, Grouped& g, std::vector<Value>& out) {
    g.by_group.clear();
    g.order.clear();
    for (const row_data* r = f.sysmon.get()->first_row; r; r = r->next) {
        const std::string_view group = field(r->text, f.group_col);
        auto [at, fresh] = g.by_group.try_emplace(group);
        if (fresh) g.order.push_back(group);
        at->second.push_back(
            {field(r->text, f.name_col), std::strtoll(r->text + f.value_col->offset, nullptr, 10)});
    }
    for (size_t i = 0; i < pass.size(); ++i) {
        const Step& s = pass[i];
        const Query& q = *s.q;
        Value value = 1;
        bool taken = false;
        auto read = [&](const std::vector<Entry>& entries) {
            for (const Entry& e : entries) {
                if (!fld_matches(q, e.name, s.var_text)) continue;
                value = q.sum && taken ? static_cast<Value>(value + e.value)
                                       : static_cast<Value>(e.value);
                taken = true;
            }
        };
        if (q.group.kind == Match::EQ || q.group.kind == Match::VAR) {
            const auto at = g.by_group.find(q.group.kind == Match::EQ ? std::string_view(q.group.a)
                                                                      : s.var_text);
            if (at != g.by_group.end()) read(at->second);
        } else {
            for (std::string_view group : g.order)
                if (q.group.test(group, s.var_text)) read(g.by_group[group]);
        }
        out[i] = value;
    }
}

}  // namespace
