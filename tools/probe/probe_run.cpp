// zovprobe: the run - configuration, the listing and the sampling loop.
#include <signal.h>

#include <cstdio>
#include <cstring>

#include "comm/zovcomm.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "tools/probe/probe.h"

namespace {

// The anchor, kept where the end of the run finds it.
comm_anchor* probe_anchor = nullptr;
// Set by SIGINT or SIGTERM; the loop ends the communication and the process.
volatile sig_atomic_t interrupted = 0;

void do_interrupt(int) { interrupted = 1; }

// Ends the communication (no reply pipe is left behind) and returns the status.
int finish(int status) {
    probe_anchor = static_cast<comm_anchor*>(zovcomm("term", probe_anchor));
    // Over shared memory: detach, so that the last process attached removes the objects.
    if (comm_use_shm()) zovcomm("shut", static_cast<comm_anchor*>(nullptr));
    fflush(stdout);
    return status;
}

int stop_interrupted() {
    finish(0);
    printf("Process interrupted\n");
    fflush(stdout);
    return 0;
}

// The handlers go in at the start of the run, before the shared objects are set up (not
// only when the communication starts): a signal during the set-up must not end the probe
// before it can detach.
void install_handlers() {
    struct sigaction sa {};
    sa.sa_handler = do_interrupt;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    // SIGTERM (what a stopping service sends) ends it the same way: over shared memory the
    // detach in finish() is what removes the segments and semaphore sets of the last user.
    sigaction(SIGTERM, &sa, nullptr);
    // An interrupt ends a wait for the collector as a time-out, within a fraction of a
    // second; the loop then sees the flag.
    zovcomm_set_stop_flag(&interrupted);
}

bool initComm() {
    probe_anchor = static_cast<comm_anchor*>(zovcomm("init"));
    if (!probe_anchor) {
        printf("Unable to initialize communications environment\n");
        fflush(stdout);
        return false;
    }
    return true;
}

// The communication's error text, ending its line (the texts are kept without a newline).
void print_return_msg() {
    const char* msg = probe_anchor->return_msg;
    const size_t n = strlen(msg);
    printf(n > 0 && msg[n - 1] == '\n' ? "%s" : "%s\n", msg);
}

int listing(const probe_options& opt) {
    if (!initComm()) return 1;
    auto* chain = static_cast<curs_list*>(zovcomm("get", probe_anchor, "C-STATUS"));
    if (interrupted) return stop_interrupted();
    if (!chain) {
        print_return_msg();
        return finish(1);
    }
    for (curs_list* e = chain; e; e = e->next) {
        if (e->rows <= 0) continue;
        std::string names = return_cursor_name(e, opt.have_prefix, opt.cursor_prefix);
        printf("\ncursors: %s\n", names.c_str());
    }
    return finish(0);
}

int sampling(const probe_options& opt) {
    if (!initComm()) return 1;
    std::string text = opt.names;
    u_strupper(text.data());
    static char parm1[] = "parm1           ";
    static char parm2[] = "parm2           ";
    int16_t sample = 0;
    bool failed = false;  // a failed sample makes the run a failure, after all samples
    for (int i = 0; i < opt.samples; i++) {
        if (interrupted) return stop_interrupted();
        sample++;
        printf("\n--------------------- Sample #%d -------------------------\n", sample);
        const bool odd = (sample % 2) != 0;
        probe_anchor->parm[0] = odd ? parm1 : nullptr;
        probe_anchor->parm[1] = odd ? parm2 : nullptr;
        auto* chain = static_cast<curs_list*>(zovcomm("get", probe_anchor, text.c_str()));
        if (interrupted) return stop_interrupted();
        if (!chain) {
            print_return_msg();
            failed = true;
        }
        for (curs_list* e = chain; e; e = e->next) {
            printf("*********Cursor:%s, Rows:%d\n", e->cursor, e->rows);
            if (e->rows == 0) printf("<<No rows returned>>\n\n");
            for (int r = 0; r < e->rows && e->data; r++) {
                probe_print_row(e->data + static_cast<long>(r) * e->len, e->len, opt.print_mode);
            }
        }
        fflush(stdout);
        u_sleep_ms(2000);
    }
    if (interrupted) return stop_interrupted();
    return finish(failed ? 1 : 0);
}

}  // namespace

int probe_main(int argc, char** argv) {
    // A reader that went away is seen as EPIPE where it matters, never as a signal.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, nullptr);
    // Standard output is the answer: the communication layer's information lines and the
    // traces go to standard error, so that none lands inside a printed answer.
    u_msg_on_stderr(true);
    if (argc < 2) {
        printf("Must specifiy one or more cursor names.\n");
        probe_help();
        return 1;
    }
    probe_options opt;
    if (probe_parse(argc, argv, &opt) != 0) {
        probe_help();
        return 1;
    }
    probe_apply(opt);
    get_envs(&env_vars);
    if (opt.show_header) return 0;  // nothing fills the header list
    if (!opt.show_cursors && opt.names.empty()) {
        printf("Must specifiy one or more CURSOR names for request.\n");
        probe_help();
        return 1;
    }
    install_handlers();
    // Without the shared objects the requests below fail with their own error.
    if (comm_use_shm()) zovcomm("initsm");
    return opt.show_cursors ? listing(opt) : sampling(opt);
}
