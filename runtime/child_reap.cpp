// The child's end: waiting with a deadline, ending its process group, reaping, and the
// clean-up of a run.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/child.h"
#include "runtime/child_internal.h"
#include "runtime/env.h"
#include "runtime/files.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/tempnames.h"
#include "runtime/trace.h"

using namespace child_detail;

namespace {

// Records that the child has ended, without reaping it (its pid stays reserved, so its
// process group can still be signalled safely). True when it has ended.
bool check_exited(createProcessComm* cpc) {
    if (cpc->exited) return true;
    siginfo_t info{};
    int r;
    do {
        r = waitid(P_PID, static_cast<id_t>(cpc->pid), &info, WEXITED | WNOHANG | WNOWAIT);
    } while (r < 0 && errno == EINTR);
    if (r < 0) {
        // Not our child any more (reaped elsewhere, or SIGCHLD ignored): nothing to wait for.
        cpc->exited = cpc->reaped = 1;
        cpc->exitStatus = -1;
        return true;
    }
    if (info.si_pid != 0) cpc->exited = 1;
    return cpc->exited != 0;
}

// Waits up to ms for the child to end (not reaping it). True when it has ended.
bool wait_exited(createProcessComm* cpc, int ms) {
    double deadline = now_mono() + ms / 1000.0;
    while (!check_exited(cpc)) {
        int left = ms_until(deadline);
        if (left <= 0) return false;
        if (cpc->pidfd >= 0) {
            struct pollfd p {
                cpc->pidfd, POLLIN, 0
            };
            poll(&p, 1, left);
        } else {
            poll(nullptr, 0, left < kTickMs ? left : kTickMs);
        }
    }
    return true;
}

void reap(createProcessComm* cpc) {
    if (cpc->reaped || cpc->pid <= 0) return;
    int status = 0;
    pid_t r;
    do {
        r = waitpid(cpc->pid, &status, 0);
    } while (r < 0 && errno == EINTR);
    if (u_trace_on(6))
        PRINT('t', "uex8060", "waitpid() ended=%d (%d %s)\n", static_cast<int>(r),
              r < 0 ? errno : 0, r < 0 ? strerror(errno) : "");
    cpc->reaped = cpc->exited = 1;
    cpc->exitStatus = r == cpc->pid ? status : -1;
    if (cpc->pidfd >= 0) {
        close(cpc->pidfd);
        cpc->pidfd = -1;
    }
}

void signal_group(createProcessComm* cpc, int sig) {
    if (cpc->reaped || cpc->pid <= 0) return;
    if (kill(-cpc->pid, sig) != 0 && errno == ESRCH) kill(cpc->pid, sig);
}

// Ends the child and whatever it started in its process group: SIGTERM, a short grace,
// SIGKILL; then reaps it.
void end_group(createProcessComm* cpc) {
    if (cpc->reaped || cpc->pid <= 0) return;
    signal_group(cpc, SIGTERM);
    wait_exited(cpc, kGraceMs);
    signal_group(cpc, SIGKILL);
    reap(cpc);
}

void log_exit_status(createProcessComm* cpc) {
    int st = cpc->exitStatus;
    if (st == -1 || st == 0) return;
    const char* cmd = cpc->p_cFullCmd ? cpc->p_cFullCmd : (cpc->p_cmd ? cpc->p_cmd : "");
    if (WIFEXITED(st)) {
        PRINT('w', "uex8095", "Command %.50s ended with exit status %d\n", cmd, WEXITSTATUS(st));
    } else if (WIFSIGNALED(st)) {
        PRINT('w', "uex8095", "Command %.50s ended by signal %d\n", cmd, WTERMSIG(st));
    }
}

}  // namespace

int waitForChildProcess(execopt* opts, createProcessComm* cpc) {
    if (opts->maxWaitTime < 1) opts->maxWaitTime = 600;
    const int limit = opts->maxWaitTime;
    const double start = now_mono();
    const double deadline = start + limit;
    int rc = 0;
    bool timedOut = false;
    if (cpc->pid <= 0) return 0;

    // Whether the child may have ended since the last look: with a pidfd its end shows in
    // the poll, so a wake-up for output alone needs no waitid.
    bool lookAgain = true;
    for (;;) {
        bool outOpen = cpc->stdoutPipe[0] >= 0 && !cpc->stdoutEof;
        if ((lookAgain ? check_exited(cpc) : cpc->exited != 0) && !outOpen) break;
        lookAgain = true;
        int left = ms_until(deadline);
        if (left <= 0) {
            timedOut = true;
            break;
        }
        if (cpc->exited) {
            // The child has ended, yet its output is still open: something it started (in a
            // session of its own, out of reach of its process group) holds the pipe. Its
            // output is read while it comes; once it stays quiet for a short grace, the run
            // is over rather than waiting out the whole limit.
            const int quiet = left < kQuietMs ? left : kQuietMs;
            struct pollfd p {
                cpc->stdoutPipe[0], POLLIN, 0
            };
            int r = poll(&p, 1, quiet);
            if (r < 0 && errno == EINTR) continue;
            if (r > 0) {
                drain_stdout(opts, cpc, deadline);
                continue;
            }
            if (r < 0 || quiet == kQuietMs) {
                if (u_trace_on(5))
                    PRINT('t', "uex8075", "Child %d ended; its output stayed open and quiet\n",
                          static_cast<int>(cpc->pid));
                break;
            }
            continue;  // the deadline has come
        }
        struct pollfd fds[3];
        int n = 0, iOut = -1, iIn = -1, iPid = -1;
        if (outOpen) {
            iOut = n;
            fds[n++] = {cpc->stdoutPipe[0], POLLIN, 0};
        }
        if (stdin_pending(cpc)) {
            iIn = n;
            fds[n++] = {cpc->stdinPipe[1], POLLOUT, 0};
        }
        if (!cpc->exited && cpc->pidfd >= 0) {
            iPid = n;
            fds[n++] = {cpc->pidfd, POLLIN, 0};
        }
        if (!cpc->exited && cpc->pidfd < 0 && left > kTickMs) left = kTickMs;
        if (u_trace_on(6))
            PRINT('t', "uex8050", "Wait loop. pid=%d, rc=%d.\n", static_cast<int>(cpc->pid), rc);
        int r = poll(fds, static_cast<nfds_t>(n), left);
        if (r < 0) {
            if (errno == EINTR) continue;
            int err = errno;
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex8015", "poll() error: %d %s", err,
                  strerror(err));
            rc = 7;
            timedOut = true;
            break;
        }
        if (iIn >= 0 && fds[iIn].revents) feed_stdin(opts, cpc);
        if (iOut >= 0 && fds[iOut].revents) drain_stdout(opts, cpc, deadline);
        lookAgain = r == 0 || iPid < 0 || fds[iPid].revents != 0;
    }

    if (timedOut) {
        if (rc == 0)
            // The whole command line, not its first 20 characters: a cut path, or "sh"
            // alone, does not tell which program overran.
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex8080",
                  "Child process %s did not finish in %d seconds.",
                  cpc->p_cFullCmd ? cpc->p_cFullCmd : (cpc->p_cmd ? cpc->p_cmd : ""), limit);
        end_group(cpc);
        opts->processRC = pRC_timedout;
        drain_stdout(opts, cpc, now_mono() + kGraceMs / 1000.0);  // what the pipe still holds
    } else {
        reap(cpc);
        log_exit_status(cpc);
        opts->maxWaitTime = static_cast<int32_t>(now_mono() - start);
        if (u_trace_on(5)) PRINT('t', "uex8070", "finished in %d seconds\n", opts->maxWaitTime);
    }
    if (u_trace_on(6))
        PRINT('t', "uex8090", "Info: rc=%d, errno=%d, tpid=%d\n", rc, 0,
              static_cast<int>(cpc->pid));
    return rc;
}

int CreateChildProcessEnd(execopt* opts) {
    createProcessComm* cpc = opts ? opts->ihandle : nullptr;
    if (!cpc) return 0;
    closePipeHandle(&cpc->stdinPipe[0]);
    closePipeHandle(&cpc->stdinPipe[1]);
    closePipeHandle(&cpc->stdoutPipe[0]);
    closePipeHandle(&cpc->stdoutPipe[1]);
    closePipeHandle(&cpc->outFileFd);
    if (cpc->pid > 0 && !cpc->reaped) {
        // Its input is closed now: a child reading it ends by itself; give it a moment.
        if (!cpc->exited) wait_exited(cpc, kEndOwnMs);
        end_group(cpc);
    }
    // The record goes now: the status stays where the caller can read it.
    opts->exitStatus = cpc->pid > 0 && cpc->reaped ? cpc->exitStatus : -1;
    closePipeHandle(&cpc->pidfd);
    if (!u_trace_on(9)) {
        if (cpc->childStdinFn[0]) unlink(cpc->childStdinFn);
        if (cpc->childStdoutFn[0]) unlink(cpc->childStdoutFn);
    }
    u_free_r_chain(cpc->outHead);
    u_arena_close(&cpc->arena);
    if (cpc->outStream) U_FREE(cpc->outStream);
    release_reader(cpc);
    if (cpc->argv) U_FREE(cpc->argv);
    if (cpc->argText) U_FREE(cpc->argText);
    if (cpc->shellCmd) U_FREE(cpc->shellCmd);
    if (cpc->scriptText) U_FREE(cpc->scriptText);
    if ((cpc->ownFlags & cpc_own_fullcmd) && cpc->p_cFullCmd) U_FREE(cpc->p_cFullCmd);
    if ((cpc->ownFlags & cpc_own_cmd) && cpc->p_cmd) U_FREE(cpc->p_cmd);
    if ((cpc->ownFlags & cpc_own_parms) && cpc->p_parms) U_FREE(cpc->p_parms);
    U_FREE(cpc);
    opts->ihandle = nullptr;
    return 0;
}

int u_exec_term(execopt* opts) {
    CreateChildProcessEnd(opts);
    return 0;
}
