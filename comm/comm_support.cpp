// What both transports take from the layer above them: codes, wait time, stop flag,
// clock, choice of transport, the anchor's error.
#include "comm/comm_support.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "runtime/alloc.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/platform.h"

int wait_timeout = 0;
char col_pipe_name[1024] = "";

namespace {

volatile sig_atomic_t* stop_flag = nullptr;

const char* const kWords[] = {"init", "initc", "get", "put", "term", "shut", "initsm", nullptr};

}  // namespace

int zovcomm_code_of(const char* word) {
    if (!word || !*word) return 0;
    return u_test_word(word, kWords, 7, 0);
}

const char* zovcomm_word_of(int code) {
    return code >= ZOVCOMM_INIT && code <= ZOVCOMM_INITSM ? kWords[code - 1] : nullptr;
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
