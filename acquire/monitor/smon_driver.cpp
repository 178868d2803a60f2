#include "acquire/monitor/smon_driver.h"

#include <cstring>

#include "acquire/monitor/smon_counter.h"
#include "expr/internal_select.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

TERM_TABLE* lx_sql_handler = nullptr;

namespace {

// The table the procedures' held terms were taken from (after the last call).
TERM_TABLE* held_terms_table = nullptr;

struct cur_func {
    const char* name;
    r_exec_chain* (*proc)();
};

const cur_func cur_func_tb[] = {
    {"ZEMCACD", cacd_proc}, {"ZEMCACS", cacs_proc}, {"ZEMSDEVD", devd_proc}, {"ZEMENGD", engd_proc},
    {"ZEMENGS", engs_proc}, {"ZEMLCKD", lckd_proc}, {"ZEMLCKS", lcks_proc},  {"ZEMLOGD", logd_proc},
    {"ZEMLOGS", logs_proc}, {"ZEMSQLD", sqld_proc}, {"ZEMTSKD", tskd_proc},
};

}  // namespace

r_exec_chain* smon_curs_driver(const char* name) {
    if (name == nullptr) name = "";
    if (my_trace_all[8])
        PRINT('t', "QWBB010", "cursor %s, len %d\n", name, static_cast<int>(std::strlen(name)));
    for (const cur_func& f : cur_func_tb) {
        if (std::strcmp(f.name, name) != 0) continue;
        // A table freed (and perhaps made again at the same address) since the last call
        // holds none of the held terms: they would name freed or other variables.
        if (lx_sql_handler == nullptr || lx_sql_handler != held_terms_table)
            smon::HeldTerm::forget_all();
        start_exec_sql(lx_sql_handler);
        r_exec_chain* lines = f.proc();
        end_exec_sql(&lx_sql_handler);
        held_terms_table = lx_sql_handler;
        return lines;
    }
    PRINT('e', "SMON010", "Can't find a proc for cursor %s\n", name);
    return nullptr;
}
