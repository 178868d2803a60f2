// The entry point: re-entry guard, name checks and the choice of transport.
#include "comm/zovcomm.h"

#include <cstdarg>
#include <cstring>

#include "comm/pipe_transport.h"
#include "comm/shm_transport.h"
#include "runtime/env.h"
#include "runtime/msg.h"

int zovcomm_locked = 0;

namespace {

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
        result = comm_use_shm() ? zovcomm2(zovcomm_word_of(code), anchor, names)
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
