// Device I/O: ZEMSDEVD one line per device of SYSDEV.
#include <string>

#include "acquire/monitor/smon_counter.h"
#include "acquire/monitor/smon_driver.h"
#include "expr/internal_select.h"
#include "expr/select_cursor.h"
#include "model/cursor.h"
#include "runtime/msg.h"

namespace {

smon::HeldTerm devd_stoptime_term;
smon::HeldTerm devd_starttime_term;
smon::HeldTerm devname_term;
smon::HeldTerm osname_term;
smon::HeldTerm diskmon_term;

// A text column of the current SYSDEV row, copied (the engine reuses its text).
bool text_column(const char* column, int id, const char* var, TERM_TABLE** slot,
                 std::string* value) {
    char* text = nullptr;
    if (select_column(column, "SYSDEV", &text, SEL_TARGET_CHAR, var, slot) != 0) {
        PRINT('e', smon::msg_id("DEVD", id).c_str(), "Can't get column SYSDEV.%s\n", column);
        return false;
    }
    value->assign(text ? text : "");
    return true;
}

}  // namespace

r_exec_chain* devd_proc() {
    smon::Lines out("DEVD");
    int64_t e = 0;
    int64_t x = 0;
    int64_t all = 0;
    if (!smon::elapsed("DEVD", 100, 110, devd_stoptime_term.slot(), devd_starttime_term.slot(),
                       &e) ||
        !smon::xacts("DEVD", 30, 40, 50, &x) ||
        !smon::counter("DEVD", "SUM(FLDVALUE)",
                       "GROUPNAME LIKE 'disk_%' AND ( FLDNAME = 'total_reads' OR FLDNAME = "
                       "'total_writes')",
                       "tot1", 370, &all))
        return nullptr;
    all = smon::guard(all);
    curs* dev = find_cursor("SYSDEV");
    if (dev == nullptr) {
        PRINT('e', "DEVD0120", "Cursor SYSDEV not found \n");
        return nullptr;
    }
    row_data* rc = nullptr;
    select_cursor_guard keep(dev, &rc);
    if (open_select_cursor(dev, &rc) != 0) return nullptr;
    for (;;) {
        const int more = fetch_next_row(dev, &rc);
        if (more == 100) break;
        if (more == -1) return nullptr;
        if (more != 0) {
            PRINT('s', "DEVD0130", "Process for cursor %s corrupted\n", dev->cur_name);
            return nullptr;
        }
        std::string devname;
        std::string osname;
        std::string diskmon;
        if (!text_column("DEVNAME", 135, "devname", devname_term.slot(), &devname) ||
            !text_column("OSNAME", 140, "osname", osname_term.slot(), &osname) ||
            !text_column("DISKMON", 140, "diskmon", diskmon_term.slot(), &diskmon))
            return nullptr;
        int64_t reads = 0;
        int64_t writes = 0;
        int64_t hits = 0;
        int64_t misses = 0;
        if (!smon::counter("DEVD", "FLDVALUE", "GROUPNAME = diskmon AND FLDNAME = 'total_reads'",
                           "tmp1", 160, &reads) ||
            !smon::counter("DEVD", "FLDVALUE", "GROUPNAME = diskmon AND FLDNAME = 'total_writes'",
                           "tmp2", 160, &writes))
            return nullptr;
        const int64_t io = smon::guard(reads + writes);
        if (!smon::counter("DEVD", "FLDVALUE", "GROUPNAME = diskmon AND FLDNAME = 'p_hits'", "tmp3",
                           190, &hits) ||
            !smon::counter("DEVD", "FLDVALUE", "GROUPNAME = diskmon AND FLDNAME = 'p_misses'",
                           "tmp4", 220, &misses))
            return nullptr;
        const int64_t sem = smon::guard(hits + misses);
        using smon::ll;
        using smon::percent;
        using smon::ratio;
        if (!out.add(
                "\t%s\t\t%s\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%"
                "8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t\t%"
                "8.2f\t\t%8.2f\t\t%7lld\t\t%8.2f\t",
                devname.c_str(), osname.c_str(), ratio(reads, e), ratio(reads, x), ll(reads),
                percent(reads, io), ratio(writes, e), ratio(writes, x), ll(writes),
                percent(writes, io), ratio(io, e), ratio(io, x), ll(io), percent(io, all),
                ratio(hits, e), ratio(hits, x), ll(hits), percent(hits, sem), ratio(misses, e),
                ratio(misses, x), ll(misses), percent(misses, sem)))
            return nullptr;
    }
    if (keep.close() != 0) return nullptr;
    cleanup_select();
    return out.take();
}
