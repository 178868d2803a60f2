// Starting child programs: the search path, posix_spawn with the process group and signal
// set-up, the kept-open runs and the detached start of u_AsynProcess.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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

extern char** environ;

volatile sig_atomic_t u_exec_last_signal = 0;

using namespace child_detail;

namespace {

char* ourpath = nullptr;  // search path for commands, built once

// The parent ignores SIGPIPE so that writing to a child that has gone is an error result.
// A handler the program installed itself is left alone.
void ensure_sigpipe_ignored() {
    static bool done = false;
    if (done) return;
    done = true;
    struct sigaction old {};
    if (sigaction(SIGPIPE, nullptr, &old) != 0) return;
    if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL) {
        struct sigaction ign {};
        ign.sa_handler = SIG_IGN;
        sigemptyset(&ign.sa_mask);
        sigaction(SIGPIPE, &ign, nullptr);
    }
}

// bin_home, ":" and PATH; or PATH alone. Built on the first start of the process.
const char* search_path() {
    if (ourpath) return ourpath;
    const char* path = std::getenv("PATH");
    std::string p;
    if (env_vars.bin_home && *env_vars.bin_home) p = std::string(env_vars.bin_home) + ":";
    p += path ? path : "";
    ourpath = dup_text(p);
    return ourpath;
}

// ---- async-signal-safe reporting for the child between fork and exec ----------------

size_t put_str(char* buf, size_t n, size_t cap, const char* s) {
    while (*s && n + 1 < cap) buf[n++] = *s++;
    return n;
}

size_t put_int(char* buf, size_t n, size_t cap, long v) {
    char digits[24];
    int k = 0;
    bool neg = v < 0;
    unsigned long u =
        neg ? static_cast<unsigned long>(-(v + 1)) + 1 : static_cast<unsigned long>(v);
    do {
        digits[k++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u && k < 22);
    if (neg && n + 1 < cap) buf[n++] = '-';
    while (k > 0 && n + 1 < cap) buf[n++] = digits[--k];
    return n;
}

// Writes "<id> <text><a>, errno=<err>\n" to standard error with write() only.
void child_report(const char* id, const char* text, long a, int err) {
    char buf[160];
    size_t n = 0;
    n = put_str(buf, n, sizeof buf, id);
    n = put_str(buf, n, sizeof buf, " ");
    n = put_str(buf, n, sizeof buf, text);
    if (a >= 0) n = put_int(buf, n, sizeof buf, a);
    n = put_str(buf, n, sizeof buf, ", errno=");
    n = put_int(buf, n, sizeof buf, err);
    n = put_str(buf, n, sizeof buf, "\n");
    ssize_t w = write(2, buf, n);
    (void)w;
}

// Starts the program with posix_spawn: the child shares the parent's memory until it execs
// (no copy-on-write of a large heap on every start) and runs only async-signal-safe code.
// It becomes the leader of its own process group, gets the saved signal mask back, SIGPIPE
// at its default and SIGINT/SIGQUIT as the parent had them. Returns 0 or an errno value.
int spawn_child(const execopt* opts, const createProcessComm* cpc, const char* path,
                char* const* argv, pid_t* pid) {
    posix_spawnattr_t attr;
    posix_spawn_file_actions_t fa;
    if (int e = posix_spawnattr_init(&attr)) return e;
    if (int e = posix_spawn_file_actions_init(&fa)) {
        posix_spawnattr_destroy(&attr);
        return e;
    }
    sigset_t dflt;
    sigemptyset(&dflt);
    sigaddset(&dflt, SIGPIPE);
    if (cpc->oldIntAction.sa_handler != SIG_IGN) sigaddset(&dflt, SIGINT);
    if (cpc->oldQuitAction.sa_handler != SIG_IGN) sigaddset(&dflt, SIGQUIT);
    int e = posix_spawnattr_setflags(
        &attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (!e) e = posix_spawnattr_setpgroup(&attr, 0);
    if (!e) e = posix_spawnattr_setsigmask(&attr, &cpc->oldSigMask);
    if (!e) e = posix_spawnattr_setsigdefault(&attr, &dflt);
    int in = cpc->stdinPipe[0];
    int out = opts->outpfile ? cpc->outFileFd : cpc->stdoutPipe[1];
    if (!e && in >= 0) e = posix_spawn_file_actions_adddup2(&fa, in, 0);
    if (!e && out >= 0) e = posix_spawn_file_actions_adddup2(&fa, out, 1);
    if (!e && out >= 0 && opts->retstderr) e = posix_spawn_file_actions_adddup2(&fa, out, 2);
    u_child_env scrubbed;
    char** envp = opts->envchain ? opts->envchain : opts->keeppw ? environ : scrubbed.get();
    if (!e) e = posix_spawn(pid, path, &fa, &attr, argv, envp);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return e;
}

void set_nonblocking(int fd) {
    if (fd < 0) return;
    int fl = fcntl(fd, F_GETFL);
    if (fl >= 0) fcntl(fd, F_SETFL, fl | O_NONBLOCK);
}

// Splits the command line into the child's words before fork.
void build_argv(createProcessComm* cpc) {
    if (cpc->shellCmd && cpc->parmsMode == -1) {
        cpc->argv = static_cast<char**>(U_MALLOC(4 * sizeof(char*)));
        cpc->argv[0] = const_cast<char*>("sh");
        cpc->argv[1] = const_cast<char*>("-c");
        cpc->argv[2] = cpc->shellCmd;
        cpc->argv[3] = nullptr;
        return;
    }
    // The command itself is one word even when its path holds blanks; the rest of the
    // command line is split as the programs of the system split words.
    size_t cmdLen = std::strlen(cpc->p_cmd);
    const char* rest = cpc->p_cFullCmd;
    if (std::strncmp(rest, cpc->p_cmd, cmdLen) == 0) rest += cmdLen;
    cpc->argText = dup_text(rest);
    size_t entries = std::strlen(rest) + 3;
    cpc->argv = static_cast<char**>(U_MALLOC(entries * sizeof(char*)));
    cpc->argv[0] = cpc->p_cmd;
    int n = u_tokenset(cpc->argv + 1, cpc->argText, nullptr);
    cpc->argv[n + 1] = nullptr;
}

// The paths execvp would try for name, in order: the name itself when it holds a '/',
// else each directory of PATH ("." for an empty entry). Made before fork, since the child
// may only call async-signal-safe functions.
std::vector<std::string> exec_candidates(const char* name) {
    std::vector<std::string> candidates;
    if (std::strchr(name, '/')) {
        candidates.emplace_back(name);
        return candidates;
    }
    const char* path = std::getenv("PATH");
    std::string p = path ? path : "/usr/bin:/bin";
    size_t pos = 0;
    for (;;) {
        size_t colon = p.find(':', pos);
        std::string dir =
            p.substr(pos, colon == std::string::npos ? std::string::npos : colon - pos);
        candidates.push_back((dir.empty() ? std::string(".") : dir) + "/" + name);
        if (colon == std::string::npos) break;
        pos = colon + 1;
    }
    return candidates;
}

// A kept-open child's options, unless the caller set its own: asynchronous, its standard
// input kept for the caller, no time limit.
void perm_defaults(execopt* opts) {
    if (opts->callerSet) return;
    opts->async = 1;
    opts->nosignalh = 1;
    opts->keepsip = 1;
    opts->asyncCont = 0;
    opts->stdinp = 0;
    opts->infile = 0;
    opts->iflargep = 0;
    opts->parmsaltin = 0;
    opts->retstderr = 0;
    opts->maxWaitTime = -1;
}

// Reaps the short-lived child that forks the program of an asynchronous start (it exits
// 4 when that fork failed). 4 after the failure's message, else 0.
int reap_starter(pid_t pid) {
    int status = 0;
    pid_t w;
    do {
        w = waitpid(pid, &status, 0);
    } while (w < 0 && errno == EINTR);
    if (w == pid && WIFEXITED(status) && WEXITSTATUS(status) == 4) {
        u_msg(nullptr, __FILE__, __LINE__, "s", "uex9020", "Fork failure. errno=%d %s", EAGAIN,
              strerror(EAGAIN));
        return 4;
    }
    return 0;
}

}  // namespace

u_child_env::u_child_env() {
    static const char kName[] = "COLL_PASSWORD=";
    for (char** e = environ; e && *e; ++e)
        if (std::strncmp(*e, kName, sizeof kName - 1) != 0) entries_.push_back(*e);
    entries_.push_back(nullptr);
}

int u_is_db_access_program(const char* path) {
    if (!path) return 0;
    const char* slash = std::strrchr(path, '/');
    const char* base = slash ? slash + 1 : path;
    if (std::strcmp(base, "zem2sql") == 0) return 1;
    return std::strlen(base) == 6 && std::strcmp(base + 3, "sql") == 0 && u_is_db_type_code(base, 3)
               ? 1
               : 0;
}

u_password_hidden::u_password_hidden() {
    if (const char* v = std::getenv("COLL_PASSWORD")) {
        saved_ = v;
        had_ = true;
        unsetenv("COLL_PASSWORD");
    }
}

u_password_hidden::~u_password_hidden() {
    if (!had_) return;
    setenv("COLL_PASSWORD", saved_.c_str(), 1);
    std::fill(saved_.begin(), saved_.end(), '\0');
}

createProcessComm* u_new_cpc() {
    auto* cpc = static_cast<createProcessComm*>(U_MALLOC(sizeof(createProcessComm)));
    std::memset(static_cast<void*>(cpc), 0, sizeof(createProcessComm));
    cpc->outFileFd = -1;
    cpc->pidfd = -1;
    cpc->stdinPipe[0] = cpc->stdinPipe[1] = -1;
    cpc->stdoutPipe[0] = cpc->stdoutPipe[1] = -1;
    return cpc;
}

void u_exec_timed_sigh(int sig) { u_exec_last_signal = sig; }

void u_reset_et_sigs(createProcessComm* cpc) {
    sigaction(SIGINT, &cpc->oldIntAction, nullptr);
    sigaction(SIGQUIT, &cpc->oldQuitAction, nullptr);
    sigprocmask(SIG_SETMASK, &cpc->oldSigMask, nullptr);
}

static int launch_child(execopt* opts, createProcessComm* cpc, const char* path);

int CreateChildProcess(const char* cmd, const char* parms, execopt* opts, createProcessComm* cpc) {
    ensure_sigpipe_ignored();
    if (!cmd) cmd = "";
    if (parms && std::strpbrk(parms, ";|<>&")) {
        std::string word = std::string("( ") + cmd + " " + parms + " )";
        cpc->shellCmd = dup_text(word);
        cpc->p_cmd = dup_text("sh");
        cpc->p_parms = dup_text("-c '" + word + "'");
        cpc->ownFlags |= cpc_own_cmd | cpc_own_parms;
    } else {
        char found[1024] = "";
        if (!*cmd || uf_where(cmd, found, nullptr, search_path()) != 0) {
            PRINT('s', "uex4100", "Command not found: %s.\n", cmd);
            return 30;
        }
        cpc->p_cmd = dup_text(found);
        cpc->ownFlags |= cpc_own_cmd;
        cpc->p_parms = const_cast<char*>(parms);
    }
    if (u_trace_on(5))
        PRINT('t', "uex4010", "Time limit=%d, cmd=%.20s. parms=%.100s\n", opts->maxWaitTime,
              cpc->p_cmd, cpc->p_parms ? cpc->p_parms : "");
    if (parmsPassing(opts, cpc) != 0) return 2;
    build_argv(cpc);
    if (u_trace_on(7)) {
        for (int i = 0; cpc->argv[i]; ++i)
            PRINT('t', "uex4071", "Parm %d %.200s\n", i, cpc->argv[i]);
    }
    return launch_child(opts, cpc, cpc->shellCmd ? "/bin/sh" : cpc->p_cmd);
}

// Starts the prepared child (cpc->argv, pipes) from path: SIGINT and SIGQUIT ignored and
// SIGCHLD blocked around the start, output pipes set non-blocking, stdin fed what fits.
static int launch_child(execopt* opts, createProcessComm* cpc, const char* path) {
    struct sigaction ign {};
    ign.sa_handler = SIG_IGN;
    sigemptyset(&ign.sa_mask);
    if (sigaction(SIGINT, &ign, &cpc->oldIntAction) != 0) {
        int err = errno;
        u_msg(nullptr, __FILE__, __LINE__, "e", "uex4020", "sigaction() interupt error: %d %s", err,
              strerror(err));
        return 3;
    }
    if (sigaction(SIGQUIT, &ign, &cpc->oldQuitAction) != 0) {
        int err = errno;
        sigaction(SIGINT, &cpc->oldIntAction, nullptr);
        u_msg(nullptr, __FILE__, __LINE__, "e", "uex4030", "sigaction() quit error: %d %s", err,
              strerror(err));
        return 4;
    }
    sigset_t chld;
    sigemptyset(&chld);
    sigaddset(&chld, SIGCHLD);
    if (sigprocmask(SIG_BLOCK, &chld, &cpc->oldSigMask) != 0) {
        int err = errno;
        sigaction(SIGINT, &cpc->oldIntAction, nullptr);
        sigaction(SIGQUIT, &cpc->oldQuitAction, nullptr);
        u_msg(nullptr, __FILE__, __LINE__, "e", "uex4040", "sigprocmask() block error: %d %s", err,
              strerror(err));
        return 5;
    }
    fflush(nullptr);
    pid_t pid = -1;
    int err = spawn_child(opts, cpc, path, cpc->argv, &pid);
    if (err == ENOEXEC && !cpc->shellCmd) {
        // A script without "#!": run it with the shell, as execvp would.
        std::vector<char*> shArgv{const_cast<char*>("sh"), cpc->p_cmd};
        for (int i = 1; cpc->argv[i]; ++i) shArgv.push_back(cpc->argv[i]);
        shArgv.push_back(nullptr);
        err = spawn_child(opts, cpc, "/bin/sh", shArgv.data(), &pid);
    }
    u_reset_et_sigs(cpc);
    if (err != 0) {
        if (err == EAGAIN || err == ENOMEM) {
            u_msg(nullptr, __FILE__, __LINE__, "s", "uex4050", "Fork failure. errno=%d %s", err,
                  strerror(err));
        } else {
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex4080", "exec() error, errno=%d %s", err,
                  strerror(err));
        }
        return 6;
    }
    cpc->pid = pid;
    long pfd = syscall(SYS_pidfd_open, pid, 0);
    cpc->pidfd = pfd >= 0 ? static_cast<int>(pfd) : -1;
    if (u_trace_on(5)) PRINT('t', "uex4090", "Child pid= %d.\n", static_cast<int>(pid));
    closePipeHandle(&cpc->stdoutPipe[1]);
    closePipeHandle(&cpc->stdinPipe[0]);
    set_nonblocking(cpc->stdoutPipe[0]);
    set_nonblocking(cpc->stdinPipe[1]);
    // What fits in the pipe is written now; the rest while waiting.
    feed_stdin(opts, cpc);
    return 0;
}

int u_exec_perm(const char* cmd, const char* parms, execopt* opts) {
    perm_defaults(opts);
    opts->processRC = pRC_ok;
    if (opts->ihandle) CreateChildProcessEnd(opts);
    opts->ihandle = u_new_cpc();
    if (CreateChildProcess(cmd, parms, opts, opts->ihandle) != 0) {
        opts->processRC = pRC_ierror;
        CreateChildProcessEnd(opts);
        return 1;
    }
    return 0;
}

int u_exec_perm_argv(char* const* argv, execopt* opts) {
    perm_defaults(opts);
    opts->processRC = pRC_ok;
    if (opts->ihandle) CreateChildProcessEnd(opts);
    createProcessComm* cpc = u_new_cpc();
    opts->ihandle = cpc;
    auto fail = [&] {
        opts->processRC = pRC_ierror;
        CreateChildProcessEnd(opts);
        return 1;
    };
    ensure_sigpipe_ignored();
    char found[1024] = "";
    if (!argv || !argv[0] || !*argv[0] || uf_where(argv[0], found, nullptr, search_path()) != 0) {
        PRINT('s', "uex4100", "Command not found: %s.\n", argv && argv[0] ? argv[0] : "");
        return fail();
    }
    cpc->p_cmd = dup_text(found);
    cpc->ownFlags |= cpc_own_cmd;
    if (parmsPassing(opts, cpc) != 0) return fail();
    size_t n = 1;
    while (argv[n]) ++n;
    cpc->argv = static_cast<char**>(U_MALLOC((n + 1) * sizeof(char*)));
    cpc->argv[0] = cpc->p_cmd;
    for (size_t i = 1; i < n; ++i) cpc->argv[i] = argv[i];
    cpc->argv[n] = nullptr;
    if (launch_child(opts, cpc, cpc->p_cmd) != 0) return fail();
    return 0;
}

int u_AsynProcess(const char* cmd, const char* parms) {
    ensure_sigpipe_ignored();
    std::string text = std::string(cmd ? cmd : "") + " " + (parms ? parms : "");
    std::vector<char> words(text.begin(), text.end());
    words.push_back('\0');
    std::vector<char*> argv(text.size() + 2, nullptr);
    int n = u_tokenset(argv.data(), words.data(), nullptr);
    if (n < 1) return 4;
    argv[static_cast<size_t>(n)] = nullptr;
    // The candidates execvp would try, made before fork.
    const std::vector<std::string> candidates = exec_candidates(argv[0]);
    std::vector<const char*> paths;
    for (auto& c : candidates) paths.push_back(c.c_str());
    if (u_trace_on(5)) PRINT('t', "uex9030", "Child process. cmd=%.20s\n", argv[0]);
    u_child_env env;  // made before fork

    int pfds[2];
    if (pipe2(pfds, O_CLOEXEC) != 0) pfds[0] = pfds[1] = -1;
    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        closePipeHandle(&pfds[0]);
        closePipeHandle(&pfds[1]);
        u_msg(nullptr, __FILE__, __LINE__, "s", "uex9020", "Fork failure. errno=%d %s", err,
              strerror(err));
        return 4;
    }
    if (pid == 0) {
        // A short-lived middle process: the program runs in its child, which the system
        // adopts, so the caller is never left with a zombie to reap.
        pid_t grandchild = fork();
        if (grandchild == 0) {
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            sigemptyset(&dfl.sa_mask);
            sigaction(SIGPIPE, &dfl, nullptr);
            int err = ENOENT;
            for (const char* p : paths) {
                execve(p, argv.data(), env.get());
                if (errno != ENOENT && errno != ENOTDIR) err = errno;
            }
            child_report("UEX9040E", "execvp() error", -1, err);
            _exit(127);
        }
        if (pfds[1] >= 0) {
            ssize_t w = write(pfds[1], &grandchild, sizeof grandchild);
            (void)w;
        }
        _exit(grandchild < 0 ? 4 : 0);
    }
    closePipeHandle(&pfds[1]);
    pid_t started = -1;
    if (pfds[0] >= 0) {
        ssize_t r;
        do {
            r = read(pfds[0], &started, sizeof started);
        } while (r < 0 && errno == EINTR);
        if (r != static_cast<ssize_t>(sizeof started)) started = -1;
        closePipeHandle(&pfds[0]);
    }
    if (reap_starter(pid) != 0) return 4;
    if (u_trace_on(5)) PRINT('t', "uex9050", "Child pid= %d.\n", static_cast<int>(started));
    return 0;
}

r_exec_chain* u_exec_argv(char* const* argv, const char* stdinText, int32_t timeLimit,
                          execopt* opts, int32_t* linesDropped) {
    return u_exec_argv_status(argv, stdinText, timeLimit, opts, linesDropped, nullptr);
}

r_exec_chain* u_exec_argv_status(char* const* argv, const char* stdinText, int32_t timeLimit,
                                 execopt* opts, int32_t* linesDropped, int32_t* waitStatus) {
    if (linesDropped) *linesDropped = 0;
    if (waitStatus) *waitStatus = -1;
    opts->processRC = pRC_ok;
    if (opts->ihandle) CreateChildProcessEnd(opts);
    if (!argv || !argv[0] || !*argv[0]) {
        opts->processRC = pRC_ierror;
        return nullptr;
    }
    ensure_sigpipe_ignored();
    createProcessComm* cpc = u_new_cpc();
    opts->ihandle = cpc;
    if (opts->maxWaitTime == 0 && timeLimit != 0) opts->maxWaitTime = timeLimit;
    auto fail = [&]() -> r_exec_chain* {
        opts->processRC = pRC_ierror;
        CreateChildProcessEnd(opts);
        return nullptr;
    };
    char found[1024] = "";
    if (uf_where(argv[0], found, nullptr, search_path()) != 0) {
        PRINT('s', "uex4100", "Command not found: %s.\n", argv[0]);
        return fail();
    }
    cpc->p_cmd = dup_text(found);
    cpc->ownFlags |= cpc_own_cmd;
    cpc->cmdLen = static_cast<int32_t>(std::strlen(found) + 1);
    if (openUNpipes(cpc, &cpc->stdoutPipe[0], &cpc->stdoutPipe[1]) != 0) {
        u_msg(nullptr, __FILE__, __LINE__, "e", "uex5020", "Create pipe for stdout failed.");
        return fail();
    }
    cpc->ownFlags |= cpc_stdout_pipe;
    size_t n = 1;
    std::string full = found;
    for (; argv[n]; ++n) full += std::string(" ") + argv[n];
    cpc->p_cFullCmd = dup_text(full);
    cpc->ownFlags |= cpc_own_fullcmd;
    cpc->parmsMode = -1;
    if (stdinText) {
        if (openUNpipes(cpc, &cpc->stdinPipe[0], &cpc->stdinPipe[1]) != 0) return fail();
        cpc->ownFlags |= cpc_stdin_pipe;
        cpc->parmsMode = 1;
        cpc->stdinText = stdinText;
        cpc->stdinLen = static_cast<int32_t>(std::strlen(stdinText) + 1);
    }
    cpc->argv = static_cast<char**>(U_MALLOC((n + 1) * sizeof(char*)));
    cpc->argv[0] = cpc->p_cmd;
    for (size_t i = 1; i < n; ++i) cpc->argv[i] = argv[i];
    cpc->argv[n] = nullptr;
    if (u_trace_on(7)) {
        for (size_t i = 0; cpc->argv[i]; ++i)
            PRINT('t', "uex4071", "Parm %d %.200s\n", static_cast<int>(i), cpc->argv[i]);
    }
    if (launch_child(opts, cpc, cpc->p_cmd) != 0) return fail();
    waitForChildProcess(opts, cpc);
    r_exec_chain* chain = ReadChildOutput(opts, cpc);
    if (linesDropped) *linesDropped = cpc->linesDropped;
    if (waitStatus && cpc->reaped) *waitStatus = cpc->exitStatus;
    CreateChildProcessEnd(opts);
    return chain;
}

namespace {

// Monotonic milliseconds, safe between fork and exec.
long mono_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

void close_from(int first) {
#ifdef SYS_close_range
    if (syscall(SYS_close_range, first, ~0U, 0) == 0) return;
#endif
    long max = sysconf(_SC_OPEN_MAX);
    if (max < 0 || max > 65536) max = 65536;
    for (int fd = first; fd < max; ++fd) close(fd);
}

void pause_ms(long ms) {
    struct timespec ts {
        ms / 1000, (ms % 1000) * 1000000L
    };
    while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
}

}  // namespace

int u_AsynProcessArgv(char* const* argv, int32_t timeLimit, int keeppw) {
    if (!argv || !argv[0] || !*argv[0]) return 4;
    ensure_sigpipe_ignored();
    // The candidates execvp would try, made before fork.
    const std::vector<std::string> candidates = exec_candidates(argv[0]);
    std::vector<const char*> paths;
    for (auto& c : candidates) paths.push_back(c.c_str());
    const long limitMs = (timeLimit > 0 ? timeLimit : 600) * 1000L;
    if (u_trace_on(5)) PRINT('t', "uex9030", "Child process. cmd=%.20s\n", argv[0]);
    u_child_env scrubbed;  // made before fork
    char** envp = keeppw ? environ : scrubbed.get();

    fflush(nullptr);
    pid_t pid = fork();
    if (pid < 0) {
        int err = errno;
        u_msg(nullptr, __FILE__, __LINE__, "s", "uex9020", "Fork failure. errno=%d %s", err,
              strerror(err));
        return 4;
    }
    if (pid == 0) {
        // The first child only starts the watcher and ends, so the caller reaps it at once
        // and the watcher, adopted by the system, never becomes the caller's zombie.
        setsid();
        pid_t watcher = fork();
        if (watcher != 0) _exit(watcher < 0 ? 4 : 0);
        // The watcher outlives the caller's descriptors' use: it keeps none of them open
        // (a pipe or socket held here would hide the caller's end from its peer).
        close_from(3);
        pid_t cmd = fork();
        if (cmd < 0) _exit(4);
        if (cmd == 0) {
            setpgid(0, 0);
            struct sigaction dfl {};
            dfl.sa_handler = SIG_DFL;
            sigemptyset(&dfl.sa_mask);
            sigaction(SIGPIPE, &dfl, nullptr);
            int err = ENOENT;
            for (const char* p : paths) {
                execve(p, argv, envp);
                if (errno != ENOENT && errno != ENOTDIR) err = errno;
            }
            child_report("UEX9040E", "execvp() error", -1, err);
            _exit(127);
        }
        setpgid(cmd, cmd);
        // The watcher ends the command's whole group at the deadline.
        const long deadline = mono_ms() + limitMs;
        int status;
        for (;;) {
            pid_t r = waitpid(cmd, &status, WNOHANG);
            if (r == cmd || (r < 0 && errno != EINTR)) _exit(0);
            if (mono_ms() >= deadline) break;
            pause_ms(20);
        }
        kill(-cmd, SIGTERM);
        for (int i = 0; i < kGraceMs / 20; ++i) {
            if (waitpid(cmd, &status, WNOHANG) == cmd) {
                kill(-cmd, SIGKILL);
                _exit(0);
            }
            pause_ms(20);
        }
        kill(-cmd, SIGKILL);
        while (waitpid(cmd, &status, 0) < 0 && errno == EINTR) {
        }
        _exit(0);
    }
    return reap_starter(pid);
}
