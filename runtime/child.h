// Child processes: start other programs and talk to them over unnamed pipes.
//
// Three kinds of run rest on this layer:
//  - a timed run (u_exec_timed, runtime/exec.h): start, pass the parameters, wait under a
//    time limit while reading the child's output, collect the output as lines;
//  - a permanent child (u_exec_perm, u_exec_get_fh, u_exec_term): pipes to its standard
//    input and from its standard output kept open for the line protocol of runtime/pcc.h;
//  - a detached start (u_AsynProcess): no pipes, no waiting.
//
// Time limits are deadlines watched with poll; the parent reads the child's output while it
// waits, so a child that prints more than a pipe holds never blocks the wait. A child that
// overruns its limit is ended with its whole process group (SIGTERM, a short grace, then
// SIGKILL) and every child is reaped. Descriptors are close-on-exec; SIGPIPE is ignored by
// the parent (set on the first start when it is still at its default), so a write to a
// child that has gone is an error result, not the parent's death. Only one thread uses the
// layer.
#pragma once

#include <sys/types.h>

#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "runtime/exec.h"

// How a run ended.
enum processRC_e : int32_t { pRC_ok = 0, pRC_timedout = 1, pRC_ierror = 2 };

struct createProcessComm;
struct pcc_stream;  // the channel's line buffer (runtime/pcc.cpp)

// Options and results of one run; owned by the caller, zero it before use.
// The eleven flags fill the first 32-bit word from its most significant bit down
// (callerSet is bit 31); the compiler allocates bit-fields from the low end, hence the
// reversed declaration order behind the 21 unused low bits.
struct execopt {
    uint32_t : 20;
    // Beyond the eleven historical flags: the child is one of the suite's own database
    // access programs and keeps COLL_PASSWORD in its environment. Every other child started
    // with the caller's environment gets it without that variable.
    uint32_t keeppw : 1;
    uint32_t keepsip : 1;     // keep a stdin pipe (write end for the caller) in any case
    uint32_t nosignalh : 1;   // historical: no SIGALRM handler (the wait uses no signals)
    uint32_t asyncCont : 1;   // second call of an async run: wait and read, do not start
    uint32_t async : 1;       // return as soon as the child runs; the record stays in ihandle
    uint32_t outpfile : 1;    // child's standard output goes to a temporary file
    uint32_t retstderr : 1;   // child's standard error goes where its standard output goes
    uint32_t parmsaltin : 1;  // append " --" (stdin) or " @file" to the command
    uint32_t iflargep : 1;    // short parameters (command + parameters <= 1023) on the command line
    uint32_t infile : 1;      // parameters through a temporary file (when stdinp is clear)
    uint32_t stdinp : 1;      // parameters through the child's standard input, NUL-terminated
    uint32_t callerSet : 1;   // the caller set the flags; else the runners put in defaults
    r_exec_chain* resutlsAnchor;  // for the caller; the layer does not touch it
    processRC_e processRC;
    int32_t maxRetLines;         // most output lines collected; <= 0 means 30000
    int32_t maxWaitTime;         // limit in seconds (< 1 means 600); afterwards the seconds taken
    char** envchain;             // the child's environment when set, exactly as given (else
                                 // the caller's, without COLL_PASSWORD unless keeppw)
    createProcessComm* ihandle;  // the run's record
    int32_t exitStatus;          // wait status of the run's child once it ended; -1 unknown
    int32_t oddBytes;            // NUL and control bytes in its output (0 for text output)
    // Beyond the historical record: output lines longer than one read (64 KB), each kept as
    // one line cut to its first read rather than split into several lines.
    int32_t longLines;
};

// The caller's environment without COLL_PASSWORD, as a null-terminated array pointing into
// environ (valid until the environment changes). What a child gets unless it is one of the
// suite's database access programs.
struct u_child_env {
    u_child_env();
    char** get() { return entries_.data(); }

  private:
    std::vector<char*> entries_;
};

// 1 when path names one of the suite's database access programs by its base name: a
// database type code followed by "sql" (zemsql, the channel child of every type) or
// zem2sql. Their parents set keeppw: these programs read the password from COLL_PASSWORD.
int u_is_db_access_program(const char* path);

// While it lives, COLL_PASSWORD is out of the process's environment (put back as it was
// afterwards): for the children a shell starts (popen, system), which take the environment
// as it stands. One thread only.
class u_password_hidden {
  public:
    u_password_hidden();
    ~u_password_hidden();
    u_password_hidden(const u_password_hidden&) = delete;
    u_password_hidden& operator=(const u_password_hidden&) = delete;

  private:
    std::string saved_;
    bool had_ = false;
};

// ownFlags bits of createProcessComm.
enum : uint32_t {
    cpc_own_cmd = 1u,       // p_cmd allocated here
    cpc_own_parms = 2u,     // p_parms allocated here
    cpc_own_fullcmd = 4u,   // p_cFullCmd allocated here
    cpc_stdin_pipe = 8u,    // a stdin pipe was created
    cpc_stdout_pipe = 16u,  // a stdout pipe was created
    cpc_out_file = 32u      // the temporary output file was created
};

// One run, allocated and zeroed by the layer (descriptors start at -1), freed by
// CreateChildProcessEnd. Holds no jump buffer: waits poll a deadline instead.
struct createProcessComm {
    pid_t pid;
    struct sigaction oldIntAction;   // SIGINT action saved while the child is started
    struct sigaction oldQuitAction;  // SIGQUIT action saved while the child is started
    sigset_t oldSigMask;             // signal mask saved while the child is started
    int outFileFd;                   // temporary output file (outpfile)
    int stdinPipe[2];                // read end (child's stdin), write end (parent's)
    int stdoutPipe[2];               // read end (parent's), write end (child's stdout)
    char childStdoutFn[1024];        // name of the temporary output file
    char childStdinFn[1024];         // name of the temporary parameter file
    pcc_stream* outStream;           // line buffer of pcc_receive_sql on the stdout read end
    int32_t cmdLen;                  // strlen(p_cmd) + 1
    int32_t parmsLen;                // strlen(p_parms) + 1, 0 without parameters
    char* p_cmd;                     // the command as resolved on the path (or "sh")
    char* p_parms;                   // the parameter text
    char* p_cFullCmd;                // the command line split into the child's words
    int32_t parmsMode;               // -1 command line, 0 undecided, 1 stdin pipe, 2 file
    uint32_t ownFlags;
    // Beyond the historical record: the state of the poll-based wait.
    char* shellCmd;         // "( cmd parms )", the one word that sh -c runs (shell runs)
    char* scriptText;       // shell runs with long parameters: "( cmd parms )" and a newline,
                            // which sh reads from its standard input or a file
    const char* stdinText;  // what travels on standard input (parmsMode 1) or in the file (2)
    int32_t stdinLen;       // its length (the parameters' NUL included on standard input)
    char** argv;            // the child's words, built before fork (one u_malloc block)
    char* argText;          // the text the words point into
    int pidfd;              // readable when the child has ended (-1 when unavailable)
    int32_t exited;         // the child has ended (not necessarily reaped)
    int32_t reaped;         // waitpid collected it; its pid is never signalled again
    int32_t exitStatus;     // status from waitpid once reaped
    int32_t stdinOff;       // bytes of the stdin parameters written so far
    int32_t stdoutEof;      // the stdout pipe reached its end
    int32_t linesRead;      // output lines collected
    int32_t linesDropped;   // output lines read beyond maxRetLines and dropped
    int32_t endMarkSeen;    // a line ended with the end mark 0x1A
    int32_t longLines;      // lines longer than one read, each kept as its first piece
    int32_t inLongLine;     // the pieces now read continue such a line
    r_exec_chain* outHead;  // output lines collected while waiting
    r_exec_chain* outTail;
    u_line_arena arena;  // where the output lines are carved
    readBuff rb;         // line reader over the output (pipe or file)
    char* rbBuff;        // its buffer, 2 * u_child_read_size + 1 bytes (u_malloc)
};

// Bytes asked for in one read of a child's output. Reads as large as a pipe holds keep the
// reader close to a bare read loop; a line longer than one read is kept as one line, cut to
// what the reader held of it (execopt::longLines counts such lines).
constexpr int32_t u_child_read_size = 65536;

// A new record: zeroed, descriptors -1 (u_malloc; freed by CreateChildProcessEnd).
createProcessComm* u_new_cpc();

// Starts cmd with parms as described by opts into cpc (zeroed by the caller, descriptors
// -1). 0 started; 30 command not found; 2 preparation failed; 3, 4 ignoring SIGINT or
// SIGQUIT failed; 5 blocking SIGCHLD failed; 6 fork failed.
int CreateChildProcess(const char* cmd, const char* parms, execopt* opts, createProcessComm* cpc);
// Prepares output, parameter passing and the child's command line. 0, or 1 (output file)
// or 2 (stdout pipe or parameter file) on failure.
int parmsPassing(execopt* opts, createProcessComm* cpc);
// Creates the temporary output file for outpfile runs. 0 success, 1 failure.
int createPipedFile(createProcessComm* cpc);
// Opens name with mode "rw" (create exclusively, read-write), "w" (create exclusively,
// write-only) or anything else (read-only); never follows a symbolic link; close-on-exec.
// New files get mode 0600. 0 success (descriptor in *fdOut), 1 failure.
int openPipedFile(createProcessComm* cpc, const char* name, int* fdOut, const char* mode);
// Creates a close-on-exec pipe. 0 success, 1 failure (logged).
int openUNpipes(createProcessComm* cpc, int* readOut, int* writeOut);
// Restores SIGINT, SIGQUIT and the signal mask saved in cpc.
void u_reset_et_sigs(createProcessComm* cpc);
// Records a signal in u_exec_last_signal; nothing else (the wait does not rely on it).
void u_exec_timed_sigh(int sig);
extern volatile sig_atomic_t u_exec_last_signal;
// Waits for the child under opts->maxWaitTime while writing its pending parameters and
// reading its output; on time-out ends its process group and sets pRC_timedout. Sets
// maxWaitTime to the seconds taken. Returns 0 (7 when poll failed; the child is then ended).
int waitForChildProcess(execopt* opts, createProcessComm* cpc);
// Returns the non-empty output lines of the run (at most maxRetLines, 30000 when <= 0), up
// to a line ending with the end mark 0x1A (removed); null when there were none.
r_exec_chain* ReadChildOutput(execopt* opts, createProcessComm* cpc);
// Closes what is open, removes the temporary files (kept at trace level 9), ends and reaps
// a child still running, frees the record and clears opts->ihandle. 0.
int CreateChildProcessEnd(execopt* opts);
// Closes *fdPtr when open and sets it to -1. 0.
int closePipeHandle(int* fdPtr);
// Writes what fits now of buf to fd without blocking; bytes written, -1 on an error.
int WriteToPipe(int fd, const char* buf, int len);

// Starts "cmd parms" detached (no pipes, not waited for); the child is not left a zombie.
// 0 started, 4 fork failed.
int u_AsynProcess(const char* cmd, const char* parms);
// Starts a permanent child: parameters on its command line, a stdin pipe whose write end
// the parent keeps and a stdout pipe whose read end it keeps. 0 started, 1 failed
// (processRC = pRC_ierror).
int u_exec_perm(const char* cmd, const char* parms, execopt* opts);
// As u_exec_perm for argv[0] (found on the path) with argv[1], argv[2] ... as its
// arguments, without a shell: no word is ever read as shell syntax.
int u_exec_perm_argv(char* const* argv, execopt* opts);
// Descriptors of a permanent child: stdin write end into *inFdOut, stdout read end (or the
// output file) into *outFdOut; either may be null. 0 both found; +1 no stdin pipe; +2 no
// output descriptor (0 stored for a missing one); 4 no record.
int u_exec_get_fh(int* inFdOut, int* outFdOut, execopt* opts);
// Ends a permanent child: closes its pipes (it sees end of input), gives it a moment to
// end (two seconds), then ends its process group (SIGTERM, grace, SIGKILL) and reaps it. 0.
int u_exec_term(execopt* opts);
