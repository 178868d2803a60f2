// SQL activity: ZEMSQLD, eleven lines of inserted, updated and deleted rows.
#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"

namespace {

smon::HeldTerm sqld_stoptime_term;
smon::HeldTerm sqld_starttime_term;
smon::HeldTerm sqld_engine_term;

constexpr const char* kTotalFormat = "\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8d\t";
constexpr const char* kTotFormat = "\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t";
constexpr const char* kKindFormat = "\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t";

}  // namespace

r_exec_chain* sqld_proc() {
    smon::Lines out("SQLD");
    int64_t e = 0;
    int64_t numeng = 0;
    int64_t x = 0;
    if (!smon::elapsed("SQLD", 10, 20, sqld_stoptime_term.slot(), sqld_starttime_term.slot(), &e) ||
        !smon::int_column("SQLD", 30, "NUMENG", "SYSCCONF", "engine", sqld_engine_term.slot(),
                          &numeng) ||
        !smon::xacts("SQLD", 40, 50, 60, &x))
        return nullptr;
    const char* sum = "SUM(FLDVALUE)";
    auto line = [&](const char* format, const char* label, int64_t v, int64_t of) {
        return out.add(format, label, smon::ratio(v, e), smon::ratio(v, x), smon::ll(v),
                       smon::percent(v, of));
    };
    int64_t sql = 0;
    if (!smon::counter(
            "SQLD", sum,
            "GROUPNAME = 'access' AND ( FLDNAME = 'ncinsert'                    OR FLDNAME = "
            "'cinsert'                     OR FLDNAME = 'deferred_update'             OR FLDNAME "
            "= 'direct_inplace_update'       OR FLDNAME = 'direct_notinplace_update' OR FLDNAME = "
            "'direct_expensive_update'     OR FLDNAME = 'delete'                         )",
            "sql", 100, &sql) ||
        !out.add(kTotalFormat, "Total SQL Activity", smon::ratio(sql, e), smon::ratio(sql, x),
                 smon::ll(sql), 100))
        return nullptr;
    sql = smon::guard(sql);
    int64_t tot1 = 0;
    int64_t tot2 = 0;
    int64_t tot3 = 0;
    if (!smon::counter("SQLD", sum,
                       "GROUPNAME = 'access' AND ( FLDNAME = 'ncinsert'     OR FLDNAME = "
                       "'cinsert'         )",
                       "tot1", 160, &tot1) ||
        !line(kTotFormat, "Inserted Total", tot1, sql) ||
        !smon::counter("SQLD", sum,
                       "GROUPNAME = 'access' AND ( FLDNAME = 'deferred_update'             OR "
                       "FLDNAME = 'direct_inplace_update'       OR FLDNAME = "
                       "'direct_notinplace_update' OR FLDNAME = 'direct_expensive_update'       )",
                       "tot2", 210, &tot2) ||
        !line(kTotFormat, "Updated Total", tot2, sql) ||
        !smon::counter("SQLD", "FLDVALUE", "GROUPNAME = 'access' AND FLDNAME = 'delete'", "tot3",
                       310, &tot3) ||
        !line(kTotFormat, "Deleted Total", tot3, sql))
        return nullptr;
    struct kind {
        const char* label;
        const char* where;
        int id;
        int group;  // 1 inserts, 2 updates, 3 deletes
    };
    static const kind kinds[] = {
        {"Inserted Heap Table", "GROUPNAME = 'access' AND FLDNAME = 'ncinsert'", 410, 1},
        {"Inserted Clustered Table", "GROUPNAME = 'access' AND FLDNAME = 'cinsert'", 510, 1},
        {"Updated Deferred", "GROUPNAME = 'access' AND FLDNAME = 'deferred_update'", 610, 2},
        {"Updated Direct In-place", "GROUPNAME = 'access' AND FLDNAME = 'direct_inplace_update'",
         710, 2},
        {"Updated Direct Cheap", "GROUPNAME = 'access' AND FLDNAME = 'direct_notinplace_update'",
         810, 2},
        {"Deleted Deferred", "GROUPNAME = 'access' AND FLDNAME = 'delete_deferred'", 910, 3},
    };
    tot1 = smon::guard(tot1);
    tot2 = smon::guard(tot2);
    tot3 = smon::guard(tot3);
    int64_t deferred_deletes = 0;
    for (const kind& k : kinds) {
        int64_t v = 0;
        const int64_t of = k.group == 1 ? tot1 : k.group == 2 ? tot2 : tot3;
        if (!smon::counter("SQLD", "FLDVALUE", k.where, "tmp", k.id, &v) ||
            !line(kKindFormat, k.label, v, of))
            return nullptr;
        if (k.group == 3) deferred_deletes = v;
    }
    if (!line(kKindFormat, "Deleted Direct", tot3 - deferred_deletes, tot3)) return nullptr;
    cleanup_select();
    return out.take();
}
