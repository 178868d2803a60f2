// Transaction log activity: ZEMLOGD twelve labelled lines, ZEMLOGS seven raw counts.
#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"

namespace {

smon::HeldTerm logd_stoptime_term;
smon::HeldTerm logd_starttime_term;

constexpr const char* kLogLockWhere =
    "GROUPNAME = 'xls' AND ( FLDNAME = 'log_lock_granted' OR FLDNAME = 'log_lock_waited'          "
    ")";
constexpr const char* kFlushWhere = "GROUPNAME = 'xls' AND FLDNAME LIKE 'plc_flush_%'";
constexpr const char* kTotalFormat = "\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8d\t";
constexpr const char* kPartFormat = "\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t";

}  // namespace

r_exec_chain* logd_proc() {
    smon::Lines out("LOGD");
    int64_t e = 0;
    int64_t x = 0;
    if (!smon::elapsed("LOGD", 100, 110, logd_stoptime_term.slot(), logd_starttime_term.slot(),
                       &e) ||
        !smon::xacts("LOGD", 30, 40, 50, &x))
        return nullptr;
    auto total = [&](const char* list, const char* where, const char* label, int id,
                     const char* title, int64_t* v) {
        return smon::counter("LOGD", list, where, label, id, v) &&
               out.add(kTotalFormat, title, smon::ratio(*v, e), smon::ratio(*v, x), smon::ll(*v),
                       100);
    };
    auto part = [&](const char* title, int64_t v, int64_t of) {
        return out.add(kPartFormat, title, smon::ratio(v, e), smon::ratio(v, x), smon::ll(v),
                       smon::percent(v, of));
    };
    auto counted = [&](const char* list, const char* where, const char* label, int id,
                       const char* title, int64_t of, int64_t* v) {
        return smon::counter("LOGD", list, where, label, id, v) && part(title, *v, of);
    };
    int64_t tot = 0;
    int64_t tot2 = 0;
    int64_t tot3 = 0;
    if (!total("SUM(FLDVALUE)", kFlushWhere, "tot", 160, "Total PLC Flushes", &tot) ||
        !total("FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_lock_calls'", "tot2", 210,
               "Total PLC Semaphore Req", &tot2) ||
        !total("SUM(FLDVALUE)", kLogLockWhere, "tot3", 310, "Total Log Semaphore Req", &tot3))
        return nullptr;
    tot = smon::guard(tot);
    int64_t v = 0;
    if (!counted("FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_flush_full'", "tmp", 410,
                 "Flushes by Full PLC", tot, &v) ||
        !counted("FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_flush_endxact'", "tmp", 510,
                 "Flushes by End Transaction", tot, &v) ||
        !counted("FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_flush_xdeschange'", "tmp", 610,
                 "Flushes by Change of Database", tot, &v) ||
        !counted("FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_flush_slr_xact'", "tmp", 710,
                 "Flushes by System Log Record", tot, &v) ||
        !counted("SUM(FLDVALUE)",
                 "GROUPNAME = 'xls' AND ( FLDNAME = 'plc_flush_unpin'      OR FLDNAME = "
                 "'plc_flush_discard' OR FLDNAME = 'plc_flush_pmscan'        )",
                 "tmp", 810, "Flushes by Other", tot, &v))
        return nullptr;
    tot2 = smon::guard(tot2);
    int64_t waits = 0;
    if (!smon::counter("LOGD", "FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_lock_waits'",
                       "tmp2", 910, &waits) ||
        !part("Granted PLC Semaphore Req", tot2 - waits, tot2) ||
        !part("Waited PLC Semaphore Req", waits, tot2))
        return nullptr;
    tot3 = smon::guard(tot3);
    if (!counted("FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'log_lock_granted'", "tmp", 1010,
                 "Granted Log Semaphore Req", tot3, &v) ||
        !counted("FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'log_lock_waited'", "tmp", 1110,
                 "Waited Log Semaphore Req", tot3, &v))
        return nullptr;
    cleanup_select();
    return out.take();
}

r_exec_chain* logs_proc() {
    smon::Lines out("LOGS");
    struct value {
        const char* list;
        const char* where;
        const char* label;
        int id;
    };
    static const value values[7] = {
        {"FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_maxused'", "tmp1", 10},
        {"SUM(FLDVALUE)", "GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'log_page_writes'", "tmp2", 110},
        {"FLDVALUE", "GROUPNAME = 'access' AND FLDNAME = 'log_page_allocations'", "tmp3", 210},
        {"FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_logrecs'", "tmp4", 310},
        {"SUM(FLDVALUE)", kFlushWhere, "tmp5", 410},
        {"FLDVALUE", "GROUPNAME = 'xls' AND FLDNAME = 'plc_lock_calls'", "tmp6", 510},
        {"SUM(FLDVALUE)", kLogLockWhere, "tmp7", 610},
    };
    int64_t v[7] = {};
    for (int i = 0; i < 7; ++i)
        if (!smon::counter("LOGS", values[i].list, values[i].where, values[i].label, values[i].id,
                           &v[i]))
            return nullptr;
    if (!out.add("\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t\t%8lld\t", smon::ll(v[0]),
                 smon::ll(v[1]), smon::ll(v[2]), smon::ll(v[3]), smon::ll(v[4]), smon::ll(v[5]),
                 smon::ll(v[6])))
        return nullptr;
    cleanup_select();
    return out.take();
}
