// The platform layer: the clock, sleeping and process exit.
//
// Everything in the system that reads the time, sleeps or ends the process goes through
// these functions, so that tests can fix the clock or observe an exit without ending the
// test process. The defaults call the operating system.
#pragma once

#include <ctime>

struct u_platform_ops {
    // Current wall-clock time with nanoseconds (CLOCK_REALTIME).
    void (*clock_now)(struct timespec* out);
    // Sleeps for the given number of milliseconds (may return early on a signal).
    void (*sleep_ms)(long ms);
    // Ends the process with the status; must not return.
    void (*exit_process)(int status);
};

// Replaces the operations; a null member keeps the default. Returns the previous set.
u_platform_ops u_platform_set(const u_platform_ops& ops);
// Restores the operating system's operations.
void u_platform_reset();

// Current time in whole seconds.
time_t u_time_now();
// Current time with nanoseconds.
void u_clock_now(struct timespec* out);
// Sleeps for ms milliseconds.
void u_sleep_ms(long ms);
// Ends the process with the status (streams are flushed by exit()).
[[noreturn]] void u_exit(int status);
