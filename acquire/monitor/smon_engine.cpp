// Engine activity: ZEMENGD one line per engine (at most 100), ZEMENGS one line of totals.
#include <cstdio>
#include <cstring>
#include <string>

#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"
#include "runtime/msg.h"

namespace {

smon::HeldTerm engs_stoptime_term;
smon::HeldTerm engs_starttime_term;
smon::HeldTerm engs_engine_term;
smon::HeldTerm engd_stoptime_term;
smon::HeldTerm engd_starttime_term;
smon::HeldTerm engd_engine_term;

const char* const kEngineCounters[8] = {"engine_sleeps",
                                        "context_switches",
                                        "max_outstanding_AIOs_engine",
                                        "total_dpoll_completed_aios",
                                        "no_packets_received",
                                        "no_bytes_received",
                                        "no_packets_sent",
                                        "no_bytes_sent"};
// E ids of tot1..tot8 (W and S follow by 10 and 20; tot5 and tot6 share theirs).
const int kTotIds[8] = {160, 220, 250, 280, 300, 300, 330, 360};
// E ids of one engine's tmp1..tmp8 (tmp7's S and tmp8's E share 660).
const int kTmpIds[8] = {460, 490, 520, 550, 580, 610, 640, 660};

// busy = cpu * 100 / clock in integer arithmetic; clock not positive: 100 after the W message.
float busy_of(const char* cursor, const char* id, int64_t clock, int64_t cpu) {
    if (clock > 0) return static_cast<float>(cpu * 100 / clock);
    PRINT('w', id,
          "In cursor %s there is an attempt to divide by tck1=0: the quotient is assumed to be "
          "1.\n",
          cursor);
    return 100.0f;
}

}  // namespace

r_exec_chain* engs_proc() {
    smon::Lines out("ENGS");
    int64_t elapsed = 0;
    int64_t numeng = 0;
    int64_t xacts = 0;
    if (!smon::elapsed("ENGS", 100, 110, engs_stoptime_term.slot(), engs_starttime_term.slot(),
                       &elapsed) ||
        !smon::int_column("ENGS", 20, "NUMENG", "SYSCCONF", "engine", engs_engine_term.slot(),
                          &numeng) ||
        !smon::xacts("ENGS", 30, 40, 50, &xacts))
        return nullptr;
    int64_t tck1 = 0;
    int64_t tck2 = 0;
    const char* sum = "SUM(FLDVALUE)";
    if (!smon::counter("ENGS", sum, "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'clock_ticks'", "tck1",
                       400, &tck1) ||
        !smon::counter("ENGS", sum, "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'cpu_ticks'", "tck2",
                       430, &tck2))
        return nullptr;
    const float busy = busy_of("ZEMENGS", "ENGS0455", tck1, tck2);
    const float idle = 100.0f - busy;
    int64_t tot[8] = {};
    for (int i = 0; i < 8; ++i) {
        const std::string where =
            std::string("GROUPNAME LIKE 'engine_%' AND FLDNAME = '") + kEngineCounters[i] + "'";
        const std::string label = "tot" + std::to_string(i + 1);
        if (!smon::counter("ENGS", sum, where.c_str(), label.c_str(), kTotIds[i], &tot[i]))
            return nullptr;
    }
    if (!out.add("\t%2lld\t\t%7lld\t\t%7lld\t\t%7d\t\t%7d\t\t%7lld\t\t%7lld\t\t%7lld\t\t%7lld\t\t%"
                 "7lld\t\t%7lld\t\t%7lld\t\t%7lld\t",
                 smon::ll(numeng), smon::ll(elapsed), smon::ll(xacts), static_cast<int>(idle),
                 static_cast<int>(busy), smon::ll(tot[0]), smon::ll(tot[1]), smon::ll(tot[2]),
                 smon::ll(tot[3]), smon::ll(tot[4]), smon::ll(tot[5]), smon::ll(tot[6]),
                 smon::ll(tot[7])))
        return nullptr;
    cleanup_select();
    return out.take();
}

r_exec_chain* engd_proc() {
    smon::Lines out("ENGD");
    // The group of the engine being read: "engine_" and its number, at most two digits. The
    // work variable tmp_grp keeps pointing at it between calls, so it outlives the call.
    static char group[10];
    static char* group_text = group;
    std::memcpy(group, "engine_xx", sizeof group);
    constexpr int kNumberAt = 7;
    int64_t elapsed = 0;
    int64_t numeng = 0;
    int64_t xacts = 0;
    if (!smon::elapsed("ENGD", 100, 110, engd_stoptime_term.slot(), engd_starttime_term.slot(),
                       &elapsed) ||
        !smon::int_column("ENGD", 20, "NUMENG", "SYSCCONF", "engine", engd_engine_term.slot(),
                          &numeng))
        return nullptr;
    if (numeng == 0) {
        PRINT('e', "ENGD0025", "0 engines\n");
        return nullptr;
    }
    if (!smon::xacts("ENGD", 30, 40, 50, &xacts)) return nullptr;
    const char* sum = "SUM(FLDVALUE)";
    int64_t tot[8] = {};
    for (int i = 0; i < 8; ++i) {
        const std::string where =
            std::string("GROUPNAME LIKE 'engine_%' AND FLDNAME = '") + kEngineCounters[i] + "'";
        const std::string label = "tot" + std::to_string(i + 1);
        if (!smon::counter("ENGD", sum, where.c_str(), label.c_str(), kTotIds[i], &tot[i]))
            return nullptr;
    }
    for (int64_t& t : tot) t = smon::guard(t);
    if (declare_C_var("tmp_grp", SEL_TARGET_CHAR, &group_text) != 0) {
        PRINT('e', "ENGD0395", "tmp_grp declaration failed\n");
        return nullptr;
    }
    for (int64_t n = 0; n < numeng; ++n) {
        if (n > 99) {
            PRINT('t', "ENGD0390",
                  "Stopped selecting data for cursor ZEMENGD since number of engines > 100\n");
            break;
        }
        std::snprintf(group + kNumberAt, sizeof group - kNumberAt, "%i", static_cast<int>(n));
        int64_t tck1 = 0;
        int64_t tck2 = 0;
        if (!smon::counter("ENGD", "FLDVALUE", "GROUPNAME = tmp_grp AND FLDNAME = 'clock_ticks'",
                           "tck1", 400, &tck1) ||
            !smon::counter("ENGD", "FLDVALUE", "GROUPNAME = tmp_grp AND FLDNAME = 'cpu_ticks'",
                           "tck2", 430, &tck2))
            return nullptr;
        const float busy = busy_of("ZEMENGD", "ENGD0455", tck1, tck2);
        const float idle = 100.0f - busy;
        int64_t tmp[8] = {};
        for (int i = 0; i < 8; ++i) {
            const std::string where =
                std::string("GROUPNAME = tmp_grp AND FLDNAME = '") + kEngineCounters[i] + "'";
            const std::string label = "tmp" + std::to_string(i + 1);
            if (!smon::counter("ENGD", "FLDVALUE", where.c_str(), label.c_str(), kTmpIds[i],
                               &tmp[i]))
                return nullptr;
        }
        using smon::ll;
        using smon::percent;
        using smon::ratio;
        const int64_t e = elapsed;
        const int64_t x = xacts;
        if (!out.add("\t%s%i\t\t%7lld\t\t%7lld\t\t%7d\t\t%7d\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%"
                     "7.1f\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%7.1f\t\t%7lld\t\t%7lld\t\t%7.1f\t\t%"
                     "7.1f\t\t%7lld\t\t%7.1f\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%7.1f\t\t%7.1f\t\t%"
                     "7.1f\t\t%7lld\t\t%7.1f\t\t%7.1f\t\t%7.1f\t\t%7lld\t\t%7.1f\t",
                     "engine", static_cast<int>(n), ll(e), ll(x), static_cast<int>(idle),
                     static_cast<int>(busy), ratio(tmp[0], e), ratio(tmp[0], x), ll(tmp[0]),
                     percent(tmp[0], tot[0]), ratio(tmp[1], e), ratio(tmp[1], x), ll(tmp[1]),
                     percent(tmp[1], tot[1]), ll(tmp[2]), ll(tmp[3]), ratio(tmp[4], e),
                     ratio(tmp[4], x), ll(tmp[4]), percent(tmp[4], tot[4]), ratio(tmp[5], e),
                     ratio(tmp[5], x), ll(tmp[5]), percent(tmp[5], tot[5]), ratio(tmp[6], e),
                     ratio(tmp[6], x), ll(tmp[6]), percent(tmp[6], tot[6]), ratio(tmp[7], e),
                     ratio(tmp[7], x), ll(tmp[7]), percent(tmp[7], tot[7])))
            return nullptr;
    }
    cleanup_select();
    return out.take();
}
