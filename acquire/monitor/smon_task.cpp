// Task switches: ZEMTSKD, the total context switches, fourteen causes and the rest.
#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"

namespace {

smon::HeldTerm tskd_stoptime_term;
smon::HeldTerm tskd_starttime_term;

struct cause {
    const char* label;
    const char* list;
    const char* where;
    int id;
};

const cause kCauses[] = {
    {"Voluntary Yields", "FLDVALUE", "GROUPNAME = 'kernel' AND FLDNAME = 'yields'", 210},
    {"Cache Search Misses", "SUM(FLDVALUE)",
     "GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'bufread_read_waits'", 310},
    {"System Disk Writes", "SUM(FLDVALUE)",
     "GROUPNAME LIKE 'buffer_%' AND ( FLDNAME = 'write_waits'       OR FLDNAME = "
     "'hk_write_waits' OR FLDNAME = 'restart_io_waits'      )",
     410},
    {"I/O Pacing", "SUM(FLDVALUE)",
     "GROUPNAME LIKE 'buffer_%' AND ( FLDNAME = 'my_start_waits_log'        OR FLDNAME = "
     "'my_start_waits_non-log' OR FLDNAME = 'my_other_waits_non-log'       )",
     510},
    {"Logical Lock Contention", "SUM(FLDVALUE)",
     "GROUPNAME = 'lock'         AND FLDNAME LIKE 'waited_%'             AND (NOT FLDNAME LIKE "
     "'waited_%_ADDR')       ",
     610},
    {"Address Lock Contention", "SUM(FLDVALUE)",
     "GROUPNAME = 'lock'         AND FLDNAME LIKE 'waited_%_ADDR'", 710},
    {"Log Semaphore Contention", "FLDVALUE",
     "GROUPNAME = 'xls'         AND FLDNAME = 'log_lock_waited'", 810},
    {"Group Commit Sleeps", "SUM(FLDVALUE)",
     "GROUPNAME LIKE 'buffer_%'         AND ( FLDNAME = 'my_other_waits_log'              OR "
     "FLDNAME = 'log_lastpage_pending_io_sleeps'     )",
     910},
    {"Last Log Page Writes", "SUM(FLDVALUE)",
     "GROUPNAME LIKE 'buffer_%'         AND FLDNAME = 'last_log_page_writes'", 1010},
    {"Modify Conflicts", "SUM(FLDVALUE)",
     "GROUPNAME LIKE 'buffer_%'         AND ( FLDNAME = 'changing_state_waits'            OR "
     "FLDNAME = 'bufwrite_changing_waits'         OR FLDNAME = 'bufpredirty_write_waits'         "
     "OR FLDNAME = 'bufpredirty_changing_waits'      OR FLDNAME = 'bufnewpage_changing_waits'     "
     "  OR FLDNAME = 'ind_bufguess_changing_waits'     OR FLDNAME = 'ind_bufguess_writing_waits' "
     "        )",
     1110},
    {"I/O Device Contention", "SUM(FLDVALUE)",
     "GROUPNAME LIKE 'disk_%'     AND FLDNAME = 'p_misses'", 1210},
    {"Network Packet Received", "SUM(FLDVALUE)",
     "GROUPNAME = 'network'     AND FLDNAME = 'total_packets_received'", 1310},
    {"Network Packet Sent", "SUM(FLDVALUE)",
     "GROUPNAME = 'network'     AND FLDNAME = 'total_packets_sent'", 1410},
    {"SYSINDEXES Lookup", "SUM(FLDVALUE)",
     "GROUPNAME = 'sysind'     AND FLDNAME LIKE 'ind_bufguess%'", 1510},
};

constexpr const char* kCauseFormat = "\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t";

}  // namespace

r_exec_chain* tskd_proc() {
    smon::Lines out("TSKD");
    int64_t e = 0;
    int64_t x = 0;
    int64_t total = 0;
    if (!smon::elapsed("TSKD", 10, 20, tskd_stoptime_term.slot(), tskd_starttime_term.slot(), &e) ||
        !smon::xacts("TSKD", 40, 50, 60, &x, "GROUPNAME = \"access\" AND FLDNAME = \"xacts\" ") ||
        !smon::counter("TSKD", "SUM(FLDVALUE)",
                       "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'context_switches'", "tot", 160,
                       &total) ||
        !out.add("\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8d\t", "Total Task Switches",
                 smon::ratio(total, e), smon::ratio(total, x), smon::ll(total), 100))
        return nullptr;
    total = smon::guard(total);
    int64_t causes = 0;
    for (const cause& k : kCauses) {
        int64_t v = 0;
        if (!smon::counter("TSKD", k.list, k.where, "tmp", k.id, &v) ||
            !out.add(kCauseFormat, k.label, smon::ratio(v, e), smon::ratio(v, x), smon::ll(v),
                     smon::percent(v, total)))
            return nullptr;
        causes += v;
    }
    const int64_t other = total - causes;
    if (!out.add(kCauseFormat, "Other Causes", smon::ratio(other, e), smon::ratio(other, x),
                 smon::ll(other), smon::percent(other, total)))
        return nullptr;
    cleanup_select();
    return out.take();
}
