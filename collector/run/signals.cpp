// The collector's signals: a handler that records, and the deferred report and stop.
#include "collector/run/signals.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "collector/run/run_table.h"
#include "collector/run/schedule.h"
#include "comm/zovcomm.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "runtime/child.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/sleep.h"

volatile sig_atomic_t go_home = 0;

namespace {

// What the handler saw, one slot for a reporting signal and one for a stopping signal.
struct recorded {
    volatile sig_atomic_t sig;
    volatile sig_atomic_t has_sender;
    volatile sig_atomic_t pid;
    volatile sig_atomic_t uid;
    volatile sig_atomic_t code;
};
recorded reported = {};
recorded stopping = {};

struct slot {
    int sig;
    bool handled;   // do_interrupt; otherwise ignored
    int min_level;  // installed while nosignals is below this
};
// Installation order; SIGUSR1 reports and returns, the other handled signals stop.
const slot slots[] = {
    {SIGINT, true, 4},  {SIGTERM, true, 4},  {SIGHUP, false, 3},
    {SIGQUIT, true, 3}, {SIGTTOU, false, 3}, {SIGABRT, true, 3},
    {SIGUSR1, true, 3}, {SIGUSR2, true, 3},  {SIGPIPE, false, 3},
};
constexpr int slot_count = sizeof slots / sizeof slots[0];
struct sigaction saved[slot_count];
bool installed = false;

int level() { return env_vars.nosignals; }

void report(const recorded& r) {
    PRINT('a', "cir5002", "Signal captured type: %d\n", static_cast<int>(r.sig));
    if (r.has_sender == 0) return;
    PRINT('a', "cir5003", "   Process id: %d Uid: %d Code: %d\n", static_cast<int>(r.pid),
          static_cast<int>(r.uid), static_cast<int>(r.code));
    // Who sent it, on the collector's standard output; a process signalling itself needs
    // no look-up.
    if (r.pid != getpid() && r.pid > 0) {
        char command[64];
        std::snprintf(command, sizeof command, "ps -ef | grep %d", static_cast<int>(r.pid));
        std::fflush(stdout);
        u_password_hidden hidden;
        if (std::system(command) == -1) {
        }
    }
}

}  // namespace

void do_interrupt(int sig, siginfo_t* info, void* /*context*/) {
    recorded& r = sig == SIGUSR1 ? reported : stopping;
    r.has_sender = info != nullptr ? 1 : 0;
    if (info != nullptr) {
        r.pid = info->si_pid;
        r.uid = static_cast<sig_atomic_t>(info->si_uid);
        r.code = info->si_code;
    }
    r.sig = sig;
    if (sig != SIGUSR1) go_home = go_home + 1;
}

void set_signal(int on) {
    const int lv = level();
    if (lv >= 4) return;
    if (on != 0 && !installed) {
        for (int i = 0; i < slot_count; ++i) {
            if (lv >= slots[i].min_level) continue;
            struct sigaction sa = {};
            sigemptyset(&sa.sa_mask);
            if (slots[i].handled) {
                sa.sa_sigaction = do_interrupt;
                // No SA_RESTART: a signal ends the loop's sleep at once.
                sa.sa_flags = SA_SIGINFO;
            } else {
                sa.sa_handler = SIG_IGN;
            }
            sigaction(slots[i].sig, &sa, &saved[i]);
        }
        installed = true;
    } else if (on == 0 && installed) {
        for (int i = 0; i < slot_count; ++i)
            if (lv < slots[i].min_level) sigaction(slots[i].sig, &saved[i], nullptr);
        installed = false;
    }
}

bool test_go_home() {
    if (reported.sig != 0) {
        recorded r = {reported.sig, reported.has_sender, reported.pid, reported.uid, reported.code};
        reported.sig = 0;
        report(r);
        PRINT('a', "cir5004", "Received interupt (%d). Returning\n", static_cast<int>(r.sig));
    }
    if (stopping.sig != 0) {
        recorded r = {stopping.sig, stopping.has_sender, stopping.pid, stopping.uid, stopping.code};
        stopping.sig = 0;
        report(r);
        PRINT('a', "cir5005", "Received interupt (%d). Quitting.\n", static_cast<int>(r.sig));
        u_sleep(10);
        if (ipc_ptr != nullptr) {
            ipc_ptr = zovcomm("term", ipc_ptr, "term");
            if (ipc_ptr != nullptr)
                PRINT('e', "cir5008", "Error terminating ULV IPC environment\n");
        }
        if (database_info.connected != 0) engine_runs.commit_collect(-1);
        u_sleep(10);
        quitting(0);
    }
    return go_home != 0;
}
