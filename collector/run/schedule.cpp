// The schedule loop, the interval collection, the request-serving turns, the stop and the
// restart.
#include "collector/run/schedule.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "acquire/server_faults.h"
#include "collector/rows/trace_control.h"
#include "collector/run/run_table.h"
#include "collector/run/signals.h"
#include "comm/zovcomm.h"
#include "defs/cursor_versions.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/dates.h"
#include "runtime/files.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/sleep.h"
#include "runtime/trace.h"

void* ipc_ptr = nullptr;
int g_argc = 0;
char** g_argv = nullptr;

namespace {

int exec_program(const char* path, char* const argv[]) { return execv(path, argv); }
void sleep_seconds(int32_t seconds) {
    if (seconds > 0) u_sleep(static_cast<unsigned>(seconds));
}

int64_t now_of(char* stamp) {
    get_time(stamp);
    return relative_sec(stamp);
}

void set_run_status(distrib* d, const char* stamp, bool failed) {
    std::memcpy(d->time, stamp, sizeof d->time);
    d->time[sizeof d->time - 1] = '\0';
    std::memcpy(d->status, failed ? "FAIL" : "GOOD", 5);
}

int commit(int release) { return engine_runs.commit_collect(release); }

void term_communication(const char* id) {
    if (ipc_ptr == nullptr) return;
    ipc_ptr = zovcomm("term", ipc_ptr, "term");
    if (ipc_ptr != nullptr) PRINT('e', id, "Error terminating ULV IPC environment\n");
}

bool named(const distrib* d, const char* name) {
    return std::strncmp(d->distrib_name, name, sizeof d->distrib_name) == 0;
}

// Runs one due distributor other than the collector by its name.
void dispatch(distrib* d) {
    char stamp[15];
    get_time(stamp);
    int rc = 0;
    if (named(d, "historian")) {
        rc = engine_runs.do_history(stamp);
        set_run_status(d, stamp, rc != 0);
    } else if (named(d, "evaluator")) {
        rc = engine_runs.do_evaluator(stamp, d);
        set_run_status(d, stamp, rc != 0);
    } else if (named(d, "nulv")) {
        rc = engine_runs.do_nulv(d, stamp);
        set_run_status(d, stamp, rc != 0);
    } else if (named(d, "ulv")) {
        serve_requests(d, stamp);
    } else {
        char shifted[15];
        const char* when = stamp;
        if (d->time_offset != 0) when = secs_to_date(shifted, relative_sec(stamp) + d->time_offset);
        engine_runs.distribute(d, when);
    }
}

bool due(const distrib* d, int64_t now, bool is_collector) {
    return d->window_start <= now && d->next_time <= now && (d->state & 1) != 0 &&
           (is_collector || d->held != 'Y');
}

void age_state(distrib* d) {
    if ((d->state & 2) != 0) {
        d->state = static_cast<uint16_t>((d->state & ~2u) | 4u);
    }
}

// Seconds from now until the earliest distributor can be due, at most sleep_time.
int64_t idle_seconds(int64_t now) {
    int64_t limit = sleep_time > 0 ? sleep_time : 1;
    int64_t wait = limit;
    for (distrib* d = distrib_anchor; d != nullptr; d = d->next) {
        if ((d->state & 1) == 0 || (d != collector_at && d->held == 'Y')) continue;
        int64_t at = d->next_time > d->window_start ? d->next_time : d->window_start;
        if (at - now < wait) wait = at - now;
    }
    return wait < 0 ? 0 : wait;
}

}  // namespace

int (*restart_exec)(const char* path, char* const argv[]) = exec_program;
void (*serving_sleep)(int32_t seconds) = sleep_seconds;

int collect(distrib* collector) {
    int failures = 0;
    int collected = 0;
    char pass_str[15];
    const int64_t pass_now = now_of(pass_str);
    server_pass_begin();
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (test_go_home()) break;
        if (database_info.status == reDoInit) {
            if (u_trace_on(5))
                PRINT('t', "cgn1514", "Exiting collection loop because of reDoInit\n");
            break;
        }
        const bool tr = u_trace_on(5) && c->trace != 0;
        c->bypass = 1;
        const char* why = nullptr;
        if (c->held == 'Y') {
            why = "held";
            if (c->held_stat[0] == 0 && c->held_stat[1] == 0 && c->held_stat[2] == 0) c->held = 'N';
        } else if (c->demand != 0) {
            why = "demand";
        } else if (c->klass < 0 || c->klass >= distrib_max_classes ||
                   collector->classes[c->klass] == 0) {
            why = "class";
        } else {
            if (c->window_end <= pass_now) set_window_c(c, pass_now);
            if (c->window_start > pass_now)
                why = "window";
            else if (pass_now < c->next_time)
                why = "interval time";
        }
        if (why != nullptr) {
            if (tr) {
                const char* id = why[0] == 'h'   ? "cgn1515"
                                 : why[0] == 'd' ? "cgn1516"
                                 : why[0] == 'c' ? "cgn1517"
                                 : why[0] == 'w' ? "cgn1518"
                                                 : "cgn1519";
                PRINT('t', id, "Bypassing cursor %s, why = %s\n", c->cur_name, why);
            }
            c->bypass = 0;
            continue;
        }
        c->next_time = static_cast<int32_t>(pass_now + c->interval);
        if (c->trace != 0) {
            char when[64];
            PRINT('t', "cgn1520", "Interval collection at %s for %s\n", u_get_time(when, 2),
                  c->cur_name);
        }
        std::memcpy(c->last_time, pass_str, sizeof c->last_time);
        const int skipped = server_skipped();
        int rc = engine_runs.get_cursor_data(static_cast<int32_t>(pass_now), c);
        if (rc != 0) {
            // A cursor skipped after the server failed is told once for the whole pass.
            if (server_skipped() == skipped)
                PRINT('e', "cgn1521", "Interval collection failed for cursor %s\n", c->cur_name);
            ++failures;  // a count: negative codes must not cancel positive ones
        }
        ++collected;
        c->bypass = 0;
    }
    server_pass_end();
    if (test_go_home()) return 1;
    char end_str[15];
    get_time(end_str);
    if (failures != 0) {
        commit(0);
        set_run_status(collector, end_str, true);
        return failures;
    }
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        std::memcpy(c->last_time, pass_str, sizeof c->last_time);
    if (collected != 0) commit(0);
    set_run_status(collector, end_str, false);
    return 0;
}

void serve_requests(distrib* d, const char* now_str) {
    distrib* c = collector_at;
    char stamp[15];
    std::memcpy(stamp, now_str, sizeof stamp);
    for (;;) {
        int rc = engine_runs.do_ulv();
        if (test_go_home()) break;
        set_run_status(d, stamp, rc < 0);
        const int64_t t = now_of(stamp);
        const int32_t next = c != nullptr ? c->next_time : 0;
        if (t >= next) {
            if (u_trace_on(4))
                PRINT('t', "BWQ0003", "Go to collect at %d, collection time: %d\n",
                      static_cast<int>(t), next);
            break;
        }
        int64_t s = next - t;
        if (s > sleep_time) s = sleep_time;
        if (s < 1) s = 1;
        if (u_trace_on(4))
            PRINT('t', "BWQ0001",
                  "Go to sleep for %d sec at %d; %d sec remain(s) until next collection\n",
                  static_cast<int>(s), static_cast<int>(t), static_cast<int>(next - t));
        serving_sleep(static_cast<int32_t>(s));
        // The pause ends early when a request waits: the turn then serves it.
        const int64_t woke = now_of(stamp);
        if (u_trace_on(4))
            PRINT('t', "BWQ0002", "Get up time: %d, next collection time: %d\n",
                  static_cast<int>(woke), next);
        if (woke >= next) {
            if (u_trace_on(4))
                PRINT('t', "BWQ0004", "Go to collect at %d, collection time: %d\n",
                      static_cast<int>(woke), next);
            break;
        }
    }
}

void stop_collector() {
    if (database_info.connected != 0) commit(-1);
    term_communication("cgn1523");
    char now[64];
    PRINT('a', "cgn1524", "Quit request received. %s\n", u_get_time(now, 2));
    quitting(0);
    u_exit(0);
}

void close_on_exec_all() {
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return;
    const int own = dirfd(dir);
    while (dirent* e = readdir(dir)) {
        const int fd = std::atoi(e->d_name);
        if (fd <= 2 || fd == own) continue;
        const int flags = fcntl(fd, F_GETFD);
        if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
    closedir(dir);
}

void restart_collector() {
    char now[64];
    PRINT('s', "cgn1522", "Restarting collector %s\n", u_get_time(now, 2));
    // The run that asked for the restart (a resetdb decode) is committed before the status
    // says down: a commit on a connection marked down does nothing, and its work would go.
    if (database_info.connected != 0) commit(-1);
    database_info.status = down;
    // The running image, wherever argv[0] was found.
    const char* self = "/proc/self/exe";
    if (file_exists(self, FE_VERBOSE | FE_EXEC) != 0) {
        u_sleep(5);
        return;
    }
    term_communication("cgn1523");
    quitting(-1);
    close_on_exec_all();
    restart_exec(self, g_argv);
    std::fprintf(stderr, "zemcoll: restart failed: %s\n", std::strerror(errno));
    std::abort();
}

void schedule_pass() {
    char now_str[15];
    const int64_t now = now_of(now_str);
    if (test_go_home()) stop_collector();
    if (database_info.status == reDoInit) {
        restart_collector();
        return;
    }
    bool ran = false;
    if (distrib* c = collector_at; c != nullptr) {
        if (c->window_end <= now) set_window(c, now);
        if (due(c, now, true)) {
            std::memcpy(last_version_update_time, now_str, sizeof last_version_update_time);
            tune_up_cursor_versions(now_str);
            if (collect(c) != 0) PRINT('e', "cgn1525", "One or more interval cursors failed\n");
            c->next_time = static_cast<int32_t>(now + c->interval);
            ran = true;
        }
    }
    for (distrib* d = distrib_anchor; d != nullptr; d = d->next) {
        if (test_go_home()) return;
        if (d == collector_at) continue;
        if (d->window_end <= now) set_window(d, now);
        if (!due(d, now, false)) continue;
        dispatch(d);
        d->next_time = static_cast<int32_t>(now + d->interval);
        ran = true;
    }
    if (test_go_home()) return;
    if (reset_trace != 0) reset_tracing();
    if (collector_at != nullptr) age_state(collector_at);
    for (distrib* d = distrib_anchor; d != nullptr; d = d->next)
        if (d != collector_at) age_state(d);
    // Wait for the next due time instead of spinning; a signal ends the wait.
    char later[15];
    int64_t wait = idle_seconds(now_of(later));
    if (wait == 0 && !ran) wait = 1;
    if (wait > 0 && !test_go_home()) u_sleep(static_cast<unsigned>(wait));
}

void schedule() {
    for (;;) schedule_pass();
}
