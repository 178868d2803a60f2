// Data cache activity: ZEMCACD one line per named cache (CACHEMAP), ZEMCACS one line over
// every buffer group.
#include <string>

#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"
#include "expr/select_cursor.h"
#include "model/cursor.h"
#include "runtime/msg.h"

namespace {

smon::HeldTerm cacd_stoptime_term;
smon::HeldTerm cacd_starttime_term;
smon::HeldTerm cachename_term;
smon::HeldTerm buffername_term;
smon::HeldTerm cacs_stoptime_term;
smon::HeldTerm cacs_starttime_term;

struct cache_counters {
    int64_t read, hit, miss, tot2, hit2, hit3, hit4, unkeeps, tot4, hit5, denied, tot5, hit6;
};

// The counters of one group condition, with the derived values and their guards.
bool read_cache(const char* prefix, const std::string& group, cache_counters* k) {
    auto w = [&](const char* cond) { return group + " AND " + cond; };
    const char* sum = "SUM(FLDVALUE)";
    if (!smon::counter(prefix, sum, w("FLDNAME = 'bufsearch_calls'").c_str(), "read", 160,
                       &k->read) ||
        !smon::counter(prefix, sum, w("FLDNAME = 'bufsearch_finds'").c_str(), "hit", 190, &k->hit))
        return false;
    k->miss = k->read - k->hit;
    k->read = smon::guard(k->read);
    if (!smon::counter(prefix, sum, w("FLDNAME LIKE 'bufgrab_%k'").c_str(), "tot2", 220,
                       &k->tot2) ||
        !smon::counter(prefix, sum, w("FLDNAME LIKE 'bufgrab_dirty_%'").c_str(), "hit2", 250,
                       &k->hit2) ||
        !smon::counter(prefix, sum, w("FLDNAME = 'bufunkeep_lru'").c_str(), "hit3", 280,
                       &k->hit3) ||
        !smon::counter(prefix, sum, w("FLDNAME = 'bufunkeep_mru'").c_str(), "hit4", 310,
                       &k->hit4) ||
        !smon::counter(prefix, sum, w("FLDNAME = 'prefetch_req'").c_str(), "tot4", 340, &k->tot4) ||
        !smon::counter(
            prefix, sum,
            w("( FLDNAME = 'prefetch_as_requested' OR FLDNAME = 'prefetch_page_realigned')")
                .c_str(),
            "hit5", 370, &k->hit5) ||
        !smon::counter(prefix, sum,
                       w("FLDNAME LIKE 'bufgrab_%' AND FLDNAME ^= 'bufgrab_2k'").c_str(), "tot5",
                       400, &k->tot5) ||
        !smon::counter(prefix, sum,
                       w("FLDNAME LIKE 'bufgrab_ref_%K' AND FLDNAME ^= 'bufgrab_ref_2K'").c_str(),
                       "hit6", 430, &k->hit6))
        return false;
    k->tot2 = smon::guard(k->tot2);
    k->unkeeps = smon::guard(k->hit3 + k->hit4);
    k->tot4 = smon::guard(k->tot4);
    k->denied = k->tot4 - k->hit5;
    k->tot5 = smon::guard(k->tot5);
    return true;
}

// The 34 values after the cache name.
#define CACHE_FORMAT                                                                             \
    "\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld"   \
    "\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f" \
    "\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t\t%5.1f\t\t%5.1f\t\t%7lld" \
    "\t\t%5.1f\t\t%5.1f\t\t%7lld\t\t%5.1f\t"

#define CACHE_VALUES(k, e, x)                                                                     \
    smon::ratio(k.read, e), smon::ratio(k.read, x), smon::ll(k.read), smon::ratio(k.hit, e),      \
        smon::ratio(k.hit, x), smon::ll(k.hit), smon::percent(k.hit, k.read),                     \
        smon::ratio(k.miss, e), smon::ratio(k.miss, x), smon::ll(k.miss),                         \
        smon::percent(k.miss, k.read), smon::ratio(k.hit3, e), smon::ratio(k.hit3, x),            \
        smon::ll(k.hit3), smon::percent(k.hit3, k.unkeeps), smon::ratio(k.hit4, e),               \
        smon::ratio(k.hit4, x), smon::ll(k.hit4), smon::percent(k.hit4, k.unkeeps),               \
        smon::ratio(k.hit5, e), smon::ratio(k.hit5, x), smon::ll(k.hit5),                         \
        smon::percent(k.hit5, k.tot4), smon::ratio(k.denied, e), smon::ratio(k.denied, x),        \
        smon::ll(k.denied), smon::percent(k.denied, k.tot4), smon::ratio(k.tot5, e),              \
        smon::ratio(k.tot5, x), smon::ll(k.tot5), smon::ratio(k.hit6, e), smon::ratio(k.hit6, x), \
        smon::ll(k.hit6), smon::percent(k.hit6, k.tot5)

}  // namespace

r_exec_chain* cacs_proc() {
    smon::Lines out("CACS");
    int64_t xacts = 0;
    int64_t elapsed = 0;
    cache_counters k{};
    if (!smon::xacts("CACS", 30, 40, 50, &xacts) ||
        !smon::elapsed("CACS", 100, 110, cacs_stoptime_term.slot(), cacs_starttime_term.slot(),
                       &elapsed) ||
        !read_cache("CACS", "GROUPNAME LIKE 'buffer_%'", &k))
        return nullptr;
    if (!out.add(CACHE_FORMAT, CACHE_VALUES(k, elapsed, xacts))) return nullptr;
    cleanup_select();
    return out.take();
}

r_exec_chain* cacd_proc() {
    smon::Lines out("CACD");
    int64_t xacts = 0;
    int64_t elapsed = 0;
    if (!smon::xacts("CACD", 30, 40, 50, &xacts) ||
        !smon::elapsed("CACD", 100, 110, cacd_stoptime_term.slot(), cacd_starttime_term.slot(),
                       &elapsed))
        return nullptr;
    curs* map = find_cursor("CACHEMAP");
    if (map == nullptr) {
        PRINT('e', "CACD0120", "Cursor CACHEMAP not found \n");
        return nullptr;
    }
    row_data* rc = nullptr;
    select_cursor_guard keep(map, &rc);
    if (open_select_cursor(map, &rc) != 0) return nullptr;
    for (;;) {
        const int more = fetch_next_row(map, &rc);
        if (more == 100) break;
        if (more == -1) return nullptr;
        if (more != 0) {
            PRINT('s', "CACD0130", "Process for cursor %s corrupted\n", map->cur_name);
            return nullptr;
        }
        char* cache_name = nullptr;
        char* buffer_name = nullptr;
        if (select_column("CACHENAME", "CACHEMAP", &cache_name, SEL_TARGET_CHAR, "cache_name",
                          cachename_term.slot()) != 0) {
            PRINT('e', "CACD0135", "Can't get column CACHEMAP.CACHENAME\n");
            return nullptr;
        }
        // The name is copied: the engine may reuse its text during the selects.
        const std::string name = cache_name ? cache_name : "";
        if (select_column("BUFFERNAME", "CACHEMAP", &buffer_name, SEL_TARGET_CHAR, "buffer_name",
                          buffername_term.slot()) != 0) {
            PRINT('e', "CACD0140", "Can't get column CACHEMAP.BUFFERNAME\n");
            return nullptr;
        }
        cache_counters k{};
        // Own large grabs, no running total: later caches would show the earlier ones' grabs.
        if (!read_cache("CACD", "GROUPNAME = buffer_name", &k)) return nullptr;
        if (!out.add("\t%s\t" CACHE_FORMAT, name.c_str(), CACHE_VALUES(k, elapsed, xacts)))
            return nullptr;
    }
    if (keep.close() != 0) return nullptr;
    cleanup_select();
    return out.take();
}
