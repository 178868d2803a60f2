// Signal handling of the collector. The handler only records what arrived; the messages,
// and for a stopping signal the orderly stop, run on the collector's thread at the next
// place where the schedule loop or collect tests go_home (test_go_home).
#pragma once

#include <csignal>

// Stop counter: each stopping signal (and a SHUTDOWN request) adds 1.
extern volatile sig_atomic_t go_home;

// on != 0 and not installed: installs do_interrupt for the stopping and reporting signals
// and ignores SIGHUP, SIGTTOU and SIGPIPE, as COLL_NOSIGNALS (env_vars.nosignals) allows:
// below 3 all of them, 3 only SIGINT and SIGTERM, 4 and above none. on == 0 and installed:
// puts the previous dispositions back. Anything else does nothing.
void set_signal(int on);

// The handler: records the signal and its sender; a stopping signal raises go_home.
void do_interrupt(int sig, siginfo_t* info, void* context);

// Writes what the handler recorded ("cir5002" to "cir5004"); after a stopping signal runs
// the stop ("cir5005", a pause, "term" of the communication, the final commit, a pause,
// quitting(0)), which does not return. Then: true when go_home is set.
bool test_go_home();
