// The schedule loop: one pass after another, each running what is due (the collector
// distributor's interval collection, then the other distributors in list order), until a
// stop is requested; a re-initialisation request restarts the program.
#pragma once

#include <cstdint>

struct distrib;

// The communication anchor of the request server; null until it first runs.
extern void* ipc_ptr;

// One pass of the loop, then the wait until something is due (at most sleep_time
// seconds; a signal ends it). A stop request ends the process; a restart replaces it.
void schedule_pass();

// The loop; does not return.
[[noreturn]] void schedule();

// One interval collection over all cursors: the number of failed cursor runs (0 all
// good), or 1 when a stop request interrupted it.
int collect(distrib* collector);

// The request server's serving turns between two collections (distributor "ulv"); now_str
// is the stamp taken when it was dispatched.
void serve_requests(distrib* d, const char* now_str);

// The orderly stop of a SHUTDOWN request: final commit, "term", "cgn1524", quitting(0).
[[noreturn]] void stop_collector();

// The restart after a re-initialisation request ("cgn1522"); returns, after a 5 second
// pause, only when the program file is not usable.
void restart_collector();

// Marks every open descriptor above 2 close-on-exec.
void close_on_exec_all();

// Seams: the program replacement of the restart (execv), and the sleep of a serving turn
// (u_sleep; the request server makes it its channel's wait). Either may be replaced by tests.
extern int (*restart_exec)(const char* path, char* const argv[]);
extern void (*serving_sleep)(int32_t seconds);

// The process's argument count and vector, kept by the start-up for the restart.
extern int g_argc;
extern char** g_argv;
