// Engine activity: ZEMENGS one line of totals over all engines.
#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"
#include "runtime/msg.h"

namespace {

TERM_TABLE* engs_stoptime_term = nullptr;
TERM_TABLE* engs_starttime_term = nullptr;
TERM_TABLE* engs_engine_term = nullptr;

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
    if (!smon::elapsed("ENGS", 100, 110, &engs_stoptime_term, &engs_starttime_term, &elapsed) ||
        !smon::int_column("ENGS", 20, "NUMENG", "SYSCCONF", "engine", &engs_engine_term, &numeng) ||
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
