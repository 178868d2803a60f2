// The entry point: word table, re-entry guard, wait time and the choice of transport.
#include "comm/zovcomm.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "comm/pipe_transport.h"
#include "comm/shm_transport.h"
#include "runtime/alloc.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/platform.h"

int zovcomm_locked = 0;
int wait_timeout = 0;
char col_pipe_name[1024] = "";

namespace {

volatile sig_atomic_t* stop_flag = nullptr;

const char* const kWords[] = {"init", "initc", "get", "put", "term", "shut", "initsm", nullptr};

// Waits (at most 30 seconds) while another call holds the guard, then takes it. The
// guard is a plain integer: the only other caller is a signal path or the final clean-up.
void take_guard(int code) {
    if (zovcomm_locked != 0) {
        PRINT('t', "com0010", "zovcomm locked... entering wait (%d,%d)\n", zovcomm_locked, code);
        for (int i = 0; i < 30; i++) {
            if (!comm_pause_ms(1000) || zovcomm_locked == 0) break;
            PRINT('t', "com0012", "zovcomm locked... still waiting (%d)\n", i);
        }
    }
    zovcomm_locked = code;
}

// A requester's name text must fit prev_curs and every name must fit a cursor field.
// A longer name is refused, not cut into 8-character blocks that would name other cursors.
bool names_acceptable(comm_anchor* anchor, const char* names) {
    char why[96];
    if (!comm_names_text_fits(names, why, sizeof why)) {
        PRINT('e', "com0101", "%s\n", why);
        comm_set_error(anchor, 4, "%s", why);
        return false;
    }
    const char* p = names;
    while (*p) {
        while (*p == ' ' || *p == ',') p++;
        size_t n = strcspn(p, " ,");
        if (n > static_cast<size_t>(COMM_CURSOR_MAX)) {
            PRINT('e', "com0102", "Cursor name too long: %.*s (at most %d characters)\n",
                  static_cast<int>(n), p, COMM_CURSOR_MAX);
            comm_set_error(anchor, 4, "Cursor name too long: %.*s (at most %d characters)",
                           static_cast<int>(n), p, COMM_CURSOR_MAX);
            return false;
        }
        p += n;
    }
    return true;
}

}  // namespace

bool comm_names_text_fits(const char* names, char* why, size_t cap) {
    const size_t n = strlen(names);
    if (n <= static_cast<size_t>(COMM_NAMES_MAX)) return true;
    snprintf(why, cap, "Cursor name text too long (%zu characters, at most %d)", n, COMM_NAMES_MAX);
    return false;
}

void* comm_run_operation(const comm_transport& t, int code, comm_anchor* anchor,
                         const char* names) {
    switch (code) {
        case ZOVCOMM_INIT:
            return t.init();
        case ZOVCOMM_INITC:
            return t.initc();
        case ZOVCOMM_GET:
            return t.get(anchor, names);
        case ZOVCOMM_PUT:
            return t.put(anchor);
        case ZOVCOMM_TERM:
            t.term(anchor);
            return nullptr;
        case ZOVCOMM_SHUT:
            t.shut();
            return nullptr;
        case ZOVCOMM_INITSM:
            return reinterpret_cast<void*>(static_cast<intptr_t>(t.initsm()));
        default:
            return nullptr;
    }
}

void zovcomm_set_stop_flag(volatile sig_atomic_t* flag) { stop_flag = flag; }

bool comm_stop_requested() { return stop_flag != nullptr && *stop_flag != 0; }

int64_t comm_now_ms() {
    // Deadlines of waits: a clock nobody sets, so a test's fixed time never stalls them.
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

bool comm_pause_ms(long ms) {
    // The signal that sets the flag also ends the sleep.
    if (comm_stop_requested()) return false;
    u_sleep_ms(ms);
    return !comm_stop_requested();
}

int zovcomm_wait(comm_anchor* anchor, int timeout_ms) {
    if (!anchor || anchor->type != 'C') {
        comm_set_error(anchor, 8, "Invalid IPC anchor for get request.");
        return -1;
    }
    if (!env_vars.coll_home) get_envs(&env_vars);
    take_guard(ZOVCOMM_GET);
    int result = -1;
    try {
        const comm_transport& t = comm_use_shm() ? shm_transport_ops : pipe_transport_ops;
        result = t.wait(anchor, timeout_ms < 0 ? 0 : timeout_ms);
    } catch (...) {
        no_mem(anchor);
    }
    zovcomm_locked = 0;
    return result;
}

int zovcomm_code_of(const char* word) {
    if (!word || !*word) return 0;
    return u_test_word(word, kWords, 7, 0);
}

int get_timeout_value(const char* name, int dflt) {
    char* value = u_getenv(name, 0, nullptr);
    if (!value) return dflt;
    errno = 0;
    char* end = nullptr;
    long v = strtol(value, &end, 10);
    const bool usable = end != value && errno != ERANGE && v > 0 && v <= INT_MAX / 1000;
    U_FREE(value);
    return usable ? static_cast<int>(v) : dflt;
}

void comm_set_wait_timeout(const char* name, int dflt) {
    if (wait_timeout == 0) wait_timeout = get_timeout_value(name, dflt);
}

bool comm_use_shm() { return !env_vars.useshm || env_vars.useshm[0] == '1'; }

void comm_set_error(comm_anchor* anchor, int code, const char* format, ...) {
    if (!anchor) return;
    anchor->return_code = code;
    va_list ap;
    va_start(ap, format);
    vsnprintf(anchor->return_msg, sizeof anchor->return_msg, format, ap);
    va_end(ap);
}

void no_mem(comm_anchor* anchor) { comm_set_error(anchor, 8, "No memory available"); }

// The typed dispatcher behind the C entry point.
static void* zovcomm_call(int code, comm_anchor* anchor, const char* names) {
    // A caller that never read the configuration (an agent framework calling from C)
    // still gets the transport and pipe names that the environment asks for.
    if (!env_vars.coll_home) get_envs(&env_vars);
    if (code != ZOVCOMM_SHUT) take_guard(code);
    void* result = nullptr;
    bool refused = false;
    if (code == ZOVCOMM_GET && anchor && anchor->type == 'P') {
        if (!names) names = "";
        refused = !names_acceptable(anchor, names);
    }
    if (!refused) {
        result = comm_use_shm() ? zovcomm2(kWords[code - 1], anchor, names)
                                : comm_run_operation(pipe_transport_ops, code, anchor, names);
    }
    zovcomm_locked = 0;
    return result;
}

extern "C" void* zovcomm(const char* word, ...) {
    int code = zovcomm_code_of(word);
    if (code == 0) {
        PRINT('e', "com0100", "Invalid function code to ZOVCOMM: %s\n", word ? word : "(null)");
        return nullptr;
    }
    comm_anchor* anchor = nullptr;
    const char* names = nullptr;
    va_list ap;
    va_start(ap, word);
    if (code == ZOVCOMM_GET || code == ZOVCOMM_PUT || code == ZOVCOMM_TERM ||
        code == ZOVCOMM_SHUT) {
        anchor = va_arg(ap, comm_anchor*);
    }
    // Only a requester passes the name text; the collector's second argument is unused.
    if (code == ZOVCOMM_GET && anchor && anchor->type == 'P') names = va_arg(ap, const char*);
    va_end(ap);
    // Nothing may unwind into a C caller.
    try {
        return zovcomm_call(code, anchor, names);
    } catch (...) {
        zovcomm_locked = 0;
        PRINT('s', "com0190", "zovcomm %s failed: out of memory\n", word);
        return nullptr;
    }
}
