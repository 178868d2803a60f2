#include "runtime/platform.h"

#include <cerrno>
#include <cstdlib>

namespace {

void os_clock_now(struct timespec* out) { clock_gettime(CLOCK_REALTIME, out); }

void os_sleep_ms(long ms) {
    if (ms <= 0) return;
    struct timespec ts {
        ms / 1000, (ms % 1000) * 1000000L
    };
    nanosleep(&ts, nullptr);
}

void os_exit(int status) { std::exit(status); }

const u_platform_ops kDefaults{os_clock_now, os_sleep_ms, os_exit};
u_platform_ops g_ops = kDefaults;

}  // namespace

u_platform_ops u_platform_set(const u_platform_ops& ops) {
    u_platform_ops old = g_ops;
    g_ops.clock_now = ops.clock_now ? ops.clock_now : kDefaults.clock_now;
    g_ops.sleep_ms = ops.sleep_ms ? ops.sleep_ms : kDefaults.sleep_ms;
    g_ops.exit_process = ops.exit_process ? ops.exit_process : kDefaults.exit_process;
    return old;
}

void u_platform_reset() { g_ops = kDefaults; }

time_t u_time_now() {
    struct timespec ts;
    g_ops.clock_now(&ts);
    return ts.tv_sec;
}

void u_clock_now(struct timespec* out) { g_ops.clock_now(out); }

void u_sleep_ms(long ms) { g_ops.sleep_ms(ms); }

void u_exit(int status) {
    g_ops.exit_process(status);
    // A replacement that returns must not let the caller run on as if nothing happened.
    std::_Exit(status);
}
