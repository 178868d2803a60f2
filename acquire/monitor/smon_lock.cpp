// Lock activity: ZEMLCKD one line per lock kind, ZEMLCKS one summary line.
#include <string>

#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"

namespace {

smon::HeldTerm lckd_stoptime_term;
smon::HeldTerm lckd_starttime_term;
smon::HeldTerm lcks_stoptime_term;
smon::HeldTerm lcks_starttime_term;

constexpr const char* kLockWhere =
    "GROUPNAME = 'lock' AND ( FLDNAME LIKE 'granted%' OR FLDNAME LIKE 'waited%'        )";

struct lock_kind {
    const char* label;
    const char* suffix;  // null: the last-page locks of group access
    int granted_id;
    int waited_id;
    int deadlock_id;
};

const lock_kind kKinds[] = {
    {"EX-Table Requests", "EX_TAB", 220, 250, 280},
    {"SH-Table Requests", "SH_TAB", 310, 340, 370},
    {"EX-Intent Requests", "EX_INT", 410, 440, 470},
    {"SH-Intent Requests", "SH_INT", 510, 540, 570},
    {"EX-Page Requests", "EX_PAGE", 610, 640, 670},
    {"UP-Page Requests", "UP_PAGE", 710, 740, 770},
    {"SH-Page Requests", "SH_PAGE", 810, 840, 870},
    {"EX-Address Requests", "EX_ADDR", 910, 940, 970},
    {"SH-Address Requests", "SH_ADDR", 1010, 1040, 1070},
    {"Last Pg Locks Total", nullptr, 1110, 1140, 0},
};

std::string lock_where(const char* kind, const char* suffix) {
    return std::string("GROUPNAME = 'lock' AND FLDNAME = '") + kind + "_" + suffix + "'";
}

}  // namespace

r_exec_chain* lckd_proc() {
    smon::Lines out("LCKD");
    int64_t e = 0;
    int64_t x = 0;
    int64_t lock = 0;
    int64_t deadlocks = 0;
    if (!smon::elapsed("LCKD", 100, 110, lckd_stoptime_term.slot(), lckd_starttime_term.slot(),
                       &e) ||
        !smon::xacts("LCKD", 30, 40, 50, &x) ||
        !smon::counter("LCKD", "SUM(FLDVALUE)", kLockWhere, "lock", 160, &lock))
        return nullptr;
    lock = smon::guard(lock);
    if (!smon::counter("LCKD", "SUM(FLDVALUE)", "GROUPNAME = 'lock' AND FLDNAME = 'deadlocks'",
                       "deadlock", 190, &deadlocks))
        return nullptr;
    deadlocks = smon::guard(deadlocks);
    for (const lock_kind& k : kKinds) {
        int64_t granted = 0;
        int64_t waited = 0;
        int64_t deadlock = 0;
        const std::string g = k.suffix ? lock_where("granted", k.suffix)
                                       : "GROUPNAME = 'access' AND FLDNAME = 'locklastpage'";
        const std::string w = k.suffix ? lock_where("waited", k.suffix)
                                       : "GROUPNAME = 'access' AND FLDNAME = 'lklastpg_wait'";
        if (!smon::counter("LCKD", "FLDVALUE", g.c_str(), "tmp1", k.granted_id, &granted) ||
            !smon::counter("LCKD", "FLDVALUE", w.c_str(), "tmp2", k.waited_id, &waited))
            return nullptr;
        if (k.suffix && !smon::counter("LCKD", "FLDVALUE", lock_where("deadlock", k.suffix).c_str(),
                                       "tmp3", k.deadlock_id, &deadlock))
            return nullptr;
        const int64_t requests = granted + waited;
        const int64_t of = smon::guard(requests);
        using smon::ll;
        using smon::percent;
        using smon::ratio;
        if (!out.add(
                "\t%s\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%"
                "8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t",
                k.label, ratio(requests, e), ratio(requests, x), ll(requests),
                percent(requests, lock), ratio(granted, e), ratio(granted, x), ll(granted),
                percent(granted, of), ratio(waited, e), ratio(waited, x), ll(waited),
                percent(waited, of), ratio(deadlock, e), ratio(deadlock, x), ll(deadlock),
                percent(deadlock, deadlocks)))
            return nullptr;
    }
    cleanup_select();
    return out.take();
}

r_exec_chain* lcks_proc() {
    smon::Lines out("LCKS");
    int64_t e = 0;
    int64_t x = 0;
    int64_t lock = 0;
    int64_t wait = 0;
    int64_t deadlock = 0;
    int64_t ex = 0;
    int64_t sh = 0;
    if (!smon::elapsed("LCKS", 100, 110, lcks_stoptime_term.slot(), lcks_starttime_term.slot(),
                       &e) ||
        !smon::xacts("LCKS", 30, 40, 50, &x) ||
        !smon::counter("LCKS", "SUM(FLDVALUE)", kLockWhere, "lock", 160, &lock))
        return nullptr;
    lock = smon::guard(lock);
    if (!smon::counter("LCKS", "SUM(FLDVALUE)", "GROUPNAME = 'lock' AND FLDNAME LIKE 'waited%'",
                       "wait", 210, &wait) ||
        !smon::counter("LCKS", "SUM(FLDVALUE)", "GROUPNAME = 'lock' AND FLDNAME = 'deadlocks'",
                       "deadlock", 310, &deadlock) ||
        !smon::counter("LCKS", "FLDVALUE", "GROUPNAME = 'lock' AND FLDNAME = 'promoted_EX_TAB'",
                       "tmp2", 350, &ex) ||
        !smon::counter("LCKS", "FLDVALUE", "GROUPNAME = 'lock' AND FLDNAME = 'promoted_SH_TAB'",
                       "tmp3", 410, &sh))
        return nullptr;
    const int64_t promotions = smon::guard(ex + sh);
    using smon::ll;
    using smon::percent;
    using smon::ratio;
    if (!out.add(
            "\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%"
            "7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%8lld\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%"
            "8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t",
            ratio(lock, e), ratio(lock, x), ll(lock), ratio(wait, e), ratio(wait, x), ll(wait),
            percent(wait, lock), ratio(deadlock, e), ratio(deadlock, x), ll(deadlock),
            percent(deadlock, lock), ratio(promotions, e), ratio(promotions, x), ll(promotions),
            ratio(ex, e), ratio(ex, x), ll(ex), percent(ex, promotions), ratio(sh, e), ratio(sh, x),
            ll(sh), percent(sh, promotions)))
        return nullptr;
    cleanup_select();
    return out.take();
}
