// How the parameters reach the child: on its command line, on its standard input or in
// a private temporary file; and the pipes and files its output goes to.
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

// Keeps a descriptor out of 0..2, so that redirecting the child's standard descriptors can
// never overwrite one of its sources. Returns the descriptor to use (close-on-exec).
int lift_fd(int fd) {
    if (fd < 0 || fd > 2) return fd;
    int r = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (r < 0) return fd;
    close(fd);
    return r;
}

// Writes text to a new temporary file named from "parms" into childStdinFn. 0, or 2 when
// it cannot be written ("uex5040").
int write_parms_file(createProcessComm* cpc, const char* text) {
    u_createTempFileName(cpc->childStdinFn, "parms", ' ');
    int fd = u_createTempFile(cpc->childStdinFn);
    bool ok = fd >= 0;
    if (ok) {
        size_t len = std::strlen(text), off = 0;
        while (ok && off < len) {
            ssize_t n = write(fd, text + off, len - off);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0)
                ok = false;
            else
                off += static_cast<size_t>(n);
        }
        if (close(fd) != 0) ok = false;
    }
    if (!ok) {
        PRINT('w', "uex5040", "Can't open file %s for write\n", cpc->childStdinFn);
        if (fd >= 0) unlink(cpc->childStdinFn);
        cpc->childStdinFn[0] = '\0';
        return 2;
    }
    return 0;
}
}  // namespace

int openPipedFile(createProcessComm*, const char* name, int* fdOut, const char* mode) {
    int flags = O_RDONLY;
    if (std::strcmp(mode, "rw") == 0) {
        flags = O_RDWR | O_CREAT | O_EXCL;
    } else if (std::strcmp(mode, "w") == 0) {
        flags = O_WRONLY | O_CREAT | O_EXCL;
    }
    int fd = open(name, flags | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        int err = errno;
        u_msg(nullptr, __FILE__, __LINE__, "w", "uex6100", "open file error (%d %s) %s.", err,
              strerror(err), name);
        return 1;
    }
    *fdOut = lift_fd(fd);
    return 0;
}

int openUNpipes(createProcessComm* cpc, int* readOut, int* writeOut) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        int err = errno;
        u_msg(nullptr, __FILE__, __LINE__, "w", "uex6200",
              "Pipe open failure. errno=%d %s, cmd=%.100s", err, strerror(err),
              cpc && cpc->p_cmd ? cpc->p_cmd : "");
        return 1;
    }
    *readOut = lift_fd(fds[0]);
    *writeOut = lift_fd(fds[1]);
    if (u_trace_on(5)) PRINT('t', "uex6210", "Created pipes %d, %d.\n", fds[0], fds[1]);
    return 0;
}

int createPipedFile(createProcessComm* cpc) {
    u_createTempFileName(cpc->childStdoutFn, "out", ' ');
    if (openPipedFile(cpc, cpc->childStdoutFn, &cpc->outFileFd, "rw") != 0) {
        cpc->childStdoutFn[0] = '\0';
        return 1;
    }
    cpc->ownFlags |= cpc_out_file;
    return 0;
}

int parmsPassing(execopt* opts, createProcessComm* cpc) {
    // 1. Where the output goes.
    if (opts->outpfile) {
        if (createPipedFile(cpc) != 0) {
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex5010",
                  "Create file for piping stdout failed.");
            return 1;
        }
    } else {
        if (openUNpipes(cpc, &cpc->stdoutPipe[0], &cpc->stdoutPipe[1]) != 0) {
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex5020", "Create pipe for stdout failed.");
            return 2;
        }
        cpc->ownFlags |= cpc_stdout_pipe;
    }
    const std::string cmd = cpc->p_cmd;
    cpc->cmdLen = static_cast<int32_t>(cmd.size() + 1);
    auto set_full = [&](const std::string& s) {
        if (cpc->p_cFullCmd) U_FREE(cpc->p_cFullCmd);
        cpc->p_cFullCmd = dup_text(s);
        cpc->ownFlags |= cpc_own_fullcmd;
    };
    auto open_stdin = [&] {
        if (openUNpipes(cpc, &cpc->stdinPipe[0], &cpc->stdinPipe[1]) == 0)
            cpc->ownFlags |= cpc_stdin_pipe;
    };

    // 2.-4. How the parameters travel.
    cpc->parmsMode = opts->stdinp ? 1 : (opts->infile ? 2 : 0);
    const char* parms = cpc->p_parms;
    if (cpc->shellCmd) {
        // sh gets its command as one word ("sh -c word"), so quotes in it survive; a long one
        // is a script that sh reads from its standard input ("sh --") or from a file
        // ("sh file"; the shell must be told that file's name).
        cpc->parmsLen = static_cast<int32_t>(std::strlen(parms) + 1);
        if (opts->iflargep && cpc->cmdLen + cpc->parmsLen <= 1023) cpc->parmsMode = 0;
        if (cpc->parmsMode == 0) {
            cpc->parmsMode = -1;
            set_full(cmd + " " + parms);
        } else {
            cpc->scriptText = dup_text(std::string(cpc->shellCmd) + "\n");
            cpc->stdinText = cpc->scriptText;
            cpc->stdinLen = static_cast<int32_t>(std::strlen(cpc->scriptText));
        }
        if (cpc->parmsMode == 1 || opts->keepsip) open_stdin();
        if (cpc->parmsMode == 1) set_full(opts->parmsaltin ? cmd + " --" : cmd);
        if (cpc->parmsMode == 2) {
            if (write_parms_file(cpc, cpc->scriptText) != 0) return 2;
            set_full(cmd + " " + cpc->childStdinFn);
        }
        return 0;
    }
    if (parms) {
        cpc->stdinText = parms;
        cpc->stdinLen = static_cast<int32_t>(std::strlen(parms) + 1);
    }
    if (!parms || !*parms) {
        cpc->parmsLen = 0;
        cpc->parmsMode = 0;
    } else {
        cpc->parmsLen = static_cast<int32_t>(std::strlen(parms) + 1);
        if (opts->iflargep) {
            if (cpc->cmdLen + cpc->parmsLen <= 1023) {
                cpc->parmsMode = 0;
            } else if (!std::strchr(parms, ')') && cpc->parmsLen < 600) {
                char compact[1024];
                u_spaces(compact, 1023, parms, 1, '\'', ' ');
                if (std::strlen(compact) < 1024) {
                    set_full(cmd + " " + compact);
                    cpc->parmsMode = -1;
                }
            }
        }
    }
    if (cpc->parmsMode == 0) {
        set_full(cmd + " " + (parms ? parms : ""));
        cpc->parmsMode = -1;
    }
    // 5. Standard input.
    if (cpc->parmsMode == 1 || opts->keepsip) {
        open_stdin();
        // " --" tells the child that its parameters are on standard input; parameters
        // already on the command line are kept there.
        if (opts->parmsaltin && cpc->parmsMode == 1) set_full(cmd + " --");
    }
    // 6. A parameter file.
    if (cpc->parmsMode == 2) {
        if (write_parms_file(cpc, parms) != 0) return 2;
        if (opts->parmsaltin) set_full(cmd + " @" + cpc->childStdinFn);
    }
    // 7.
    if (!cpc->p_cFullCmd) set_full(cmd);
    return 0;
}
