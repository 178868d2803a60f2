// The run table: what the schedule loop and the clean-up run, owned by the row store, the
// SQL cursors and the consumers above the loop. The start-up fills it
// (collector/startup/engine_hooks.h); the loop only calls through it.
#pragma once

#include <cstdint>

struct curs;
struct distrib;

// Until install_engine_hooks sets them each does nothing and returns 0: a seam the loop's
// tests fill with recorders. Never null.
struct engine_run_table {
    int (*get_cursor_data)(int32_t now, curs* c);           // one interval run of a cursor
    int (*commit_collect)(int release);                     // commit; -1 also closes the connection
    int (*freeDBcurMem)(curs* c);                           // a SQL cursor's fetch memory
    int (*do_history)(const char* now);                     // distributor "historian"
    int (*do_nulv)(struct distrib* d, const char* now);     // distributor "nulv"
    int (*distribute)(struct distrib* d, const char* now);  // any other distributor
    int (*do_evaluator)(const char* now, struct distrib* d);  // distributor "evaluator"
    int (*do_ulv)();                                          // one request-serving turn
};
extern engine_run_table engine_runs;
