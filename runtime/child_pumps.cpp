// The pumps between parent and child: output lines into the result chain (bounded,
// ended by the end mark), parameters into the child's standard input, and the
// descriptors a kept-open run hands its caller.
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

int32_t max_lines(const execopt* opts) { return opts->maxRetLines > 0 ? opts->maxRetLines : 30000; }

void take_line(const execopt* opts, createProcessComm* cpc, char* line, int32_t len) {
    if (cpc->endMarkSeen) return;  // drained
    if (cpc->rb.curLineCont) {
        // More of a line longer than one read: the line keeps its first piece, cut (read
        // into pieces, it would become several lines that the program never printed).
        if (!cpc->inLongLine) ++cpc->longLines;
        cpc->inLongLine = 1;
        if (len > 0 && line[len - 1] == kEndMark) cpc->endMarkSeen = 1;
        return;
    }
    cpc->inLongLine = 0;
    if (cpc->linesRead >= max_lines(opts)) {
        ++cpc->linesDropped;
        return;
    }
    ++cpc->linesRead;
    if (len > 0 && line[len - 1] == kEndMark) {
        line[--len] = '\0';
        cpc->endMarkSeen = 1;
    }
    r_exec_chain* e = u_arena_r_chain(&cpc->arena, line, len);
    if (cpc->outTail) {
        cpc->outTail->next = e;
    } else {
        cpc->outHead = e;
    }
    cpc->outTail = e;
    if (u_trace_on(9)) PRINT('t', "uex6840", " Line %d (%d)=%s.\n", cpc->linesRead, len, line);
}

// The reader buffer of the run that ended last, kept for the next one: at 128 KB it is
// above malloc's mmap threshold, so allocating it afresh for every run would map it anew
// and fault in its pages on the first reads.
char* spare_reader = nullptr;

void init_reader(createProcessComm* cpc) {
    if (cpc->rb.buff) return;
    if (spare_reader) {
        cpc->rbBuff = spare_reader;
        spare_reader = nullptr;
    } else {
        cpc->rbBuff = static_cast<char*>(U_MALLOC(2 * u_child_read_size + 1));
    }
    cpc->rb.buff = cpc->rbBuff;
    cpc->rb.maxBuffSize = u_child_read_size + 1;
}

// Reads what the stdout pipe holds now (non-blocking) and marks its end; stops at the
}  // namespace

namespace child_detail {

void drain_stdout(const execopt* opts, createProcessComm* cpc, double deadline) {
    if (cpc->stdoutPipe[0] < 0 || cpc->stdoutEof) return;
    init_reader(cpc);
    for (unsigned n = 1;; ++n) {
        int32_t state;
        char* line = u_blockread_nb(cpc->stdoutPipe[0], &cpc->rb, &state);
        if (line) {
            take_line(opts, cpc, line, cpc->rb.curLineLen);
            if (n % 256 == 0 && now_mono() >= deadline) return;
            continue;
        }
        if (state == u_br_eof) cpc->stdoutEof = 1;
        return;
    }
}

// Writes more of the parameters to the child's standard input; closes it when done or
// when the child no longer reads.
void feed_stdin(const execopt* opts, createProcessComm* cpc) {
    int fd = cpc->stdinPipe[1];
    if (fd < 0 || cpc->parmsMode != 1 || cpc->stdinOff >= cpc->stdinLen) return;
    int n = WriteToPipe(fd, cpc->stdinText + cpc->stdinOff, cpc->stdinLen - cpc->stdinOff);
    if (n < 0) {
        u_msg(nullptr, __FILE__, __LINE__, "w", "uex6900", "Unable to write to un-named pipe");
        cpc->stdinOff = cpc->stdinLen;
    } else {
        cpc->stdinOff += n;
        if (cpc->stdinOff >= cpc->stdinLen && u_trace_on(8))
            PRINT('t', "uex4130", "Wrote parms to stdin pipe '%.100s'\n", cpc->stdinText);
    }
    if (cpc->stdinOff >= cpc->stdinLen && !opts->keepsip) closePipeHandle(&cpc->stdinPipe[1]);
}

void release_reader(createProcessComm* cpc) {
    if (!cpc->rbBuff) return;
    if (spare_reader) {
        U_FREE(cpc->rbBuff);
    } else {
        spare_reader = cpc->rbBuff;
    }
    cpc->rbBuff = nullptr;
    cpc->rb.buff = nullptr;
}

bool stdin_pending(const createProcessComm* cpc) {
    return cpc->stdinPipe[1] >= 0 && cpc->parmsMode == 1 && cpc->stdinOff < cpc->stdinLen;
}

// Writes text to a new temporary file named from "parms" into childStdinFn. 0, or 2 when
}  // namespace child_detail

int closePipeHandle(int* fdPtr) {
    if (fdPtr && *fdPtr >= 0) {
        close(*fdPtr);
        *fdPtr = -1;
    }
    return 0;
}

int WriteToPipe(int fd, const char* buf, int len) {
    ssize_t n;
    do {
        n = write(fd, buf, static_cast<size_t>(len));
    } while (n < 0 && errno == EINTR);
    if (n < 0) return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    return static_cast<int>(n);
}

r_exec_chain* ReadChildOutput(execopt* opts, createProcessComm* cpc) {
    opts->oddBytes = 0;
    opts->longLines = 0;
    if (opts->outpfile) {
        if (u_trace_on(7))
            PRINT('t', "uex6801", "Reading results from file %s\n", cpc->childStdoutFn);
        closePipeHandle(&cpc->outFileFd);
        int fd = -1;
        if (!cpc->childStdoutFn[0] || openPipedFile(cpc, cpc->childStdoutFn, &fd, "r") != 0) {
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex6810", "Can't open file %s",
                  cpc->childStdoutFn);
            return nullptr;
        }
        init_reader(cpc);
        while (!cpc->endMarkSeen && cpc->linesRead < max_lines(opts)) {
            char* line = u_blockread(fd, &cpc->rb);
            if (!line) break;
            take_line(opts, cpc, line, cpc->rb.curLineLen);
        }
        close(fd);
        if (!u_trace_on(9)) {
            unlink(cpc->childStdoutFn);
            cpc->childStdoutFn[0] = '\0';
        }
    } else {
        if (!(cpc->ownFlags & cpc_stdout_pipe)) {
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex6820", "No pipe created for child stdout");
            return nullptr;
        }
        drain_stdout(opts, cpc, now_mono() + kGraceMs / 1000.0);
        closePipeHandle(&cpc->stdoutPipe[0]);
    }
    if (trace_all)
        PRINT('i', "uex6830", "Read %d lines for Command %.50s\n", cpc->linesRead,
              cpc->p_cFullCmd ? cpc->p_cFullCmd : "");
    opts->oddBytes = cpc->rb.oddBytes;
    opts->longLines = cpc->longLines;
    u_arena_close(&cpc->arena);
    r_exec_chain* chain = cpc->outHead;
    cpc->outHead = cpc->outTail = nullptr;
    return chain;
}

int u_exec_get_fh(int* inFdOut, int* outFdOut, execopt* opts) {
    createProcessComm* cpc = opts ? opts->ihandle : nullptr;
    if (!cpc) return 4;
    int rc = 0;
    int in = cpc->stdinPipe[1];
    if (in < 0) {
        rc |= 1;
        in = 0;
    }
    int out;
    if (opts->outpfile) {
        out = cpc->childStdoutFn[0] && cpc->outFileFd >= 0 ? cpc->outFileFd : -1;
    } else {
        out = cpc->stdoutPipe[0];
    }
    if (out < 0) {
        rc |= 2;
        out = 0;
    }
    if (inFdOut) *inFdOut = in;
    if (outFdOut) *outFdOut = out;
    return rc;
}
