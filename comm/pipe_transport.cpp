// The named-pipe transport of the zovcomm words: what both sides share (names, waits,
// SIGPIPE handling) and the operations that serve both; the sides are in
// comm/pipe_requester.cpp and comm/pipe_collector.cpp.
#include "comm/pipe_transport.h"

#include <dirent.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "comm/chain.h"
#include "comm/comm_support.h"
#include "comm/pipe_sides.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/pipes.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace comm_pipe {

volatile sig_atomic_t pipe_error = 0;
volatile sig_atomic_t sigpipe_seen = 0;
bool signal_installed = false;

}  // namespace comm_pipe

using namespace comm_pipe;

namespace {

// SIGPIPE was ignored when the anchor was made (as in every program of the system): a
// write to a reader that went away fails with EPIPE, and no handler need come and go
// around every get and put.
bool sigpipe_ignored = false;

int pipe_count = 0;
bool prefix_built = false;
char agt_pipe_prefix[COMM_NAME_SIZE];

void handle_pipe_error(int) {
    pipe_error = 1;
    sigpipe_seen = 1;
}

// What pipe names begin with: the pipe directory and one slash; empty when no directory
// is configured (the pipes are then made in the current directory).
std::string pipe_dir_prefix() {
    std::string dir = env_vars.localtmpdir ? env_vars.localtmpdir : "";
    while (!dir.empty() && dir.back() == '/') dir.pop_back();
    if (env_vars.localtmpdir && *env_vars.localtmpdir) dir += '/';
    return dir;
}

// The pipe names come from the configuration; read it when nobody has yet.
void ensure_env() {
    if (!env_vars.localtmpdir) get_envs(&env_vars);
}

// Appends "<text>_" when text is set and not empty.
void append_part(char* out, size_t size, const char* text) {
    if (text && *text) {
        size_t n = strlen(out);
        snprintf(out + n, size > n ? size - n : 0, "%s_", text);
    }
}

// Builds agt_pipe_prefix once: 0, or 1 (logged) when the names would not fit.
int build_prefix() {
    if (prefix_built) return 0;
    ensure_env();
    char prefix[1024] = "";
    snprintf(prefix, sizeof prefix, "%s", pipe_dir_prefix().c_str());
    size_t n = strlen(prefix);
    snprintf(prefix + n, sizeof prefix - n, "prb_");
    append_part(prefix, sizeof prefix, env_vars.serverid);
    append_part(prefix, sizeof prefix, env_vars.db_type);
    append_part(prefix, sizeof prefix, env_vars.hostname);
    // Room for the time, the process id and the counter behind the prefix.
    if (strlen(prefix) + 40 >= static_cast<size_t>(COMM_NAME_SIZE)) {
        PRINT('e', "com0108", "Pipe name too long (at most %d characters): %s\n",
              COMM_NAME_SIZE - 1, prefix);
        return 1;
    }
    copy_checked(agt_pipe_prefix, sizeof agt_pipe_prefix, prefix);
    prefix_built = true;
    return 0;
}

// The process id inside a reply-pipe name of ours ("<DDHHMMSS>_<pid>_<NNNN>_pipe" behind
// the prefix), or 0 when the name is not of that form.
long reply_pipe_pid(const char* base, const char* prefix_base) {
    const size_t pn = strlen(prefix_base);
    if (strncmp(base, prefix_base, pn) != 0) return 0;
    const char* p = base + pn;
    for (int i = 0; i < 8; i++, p++)
        if (*p < '0' || *p > '9') return 0;
    if (*p++ != '_') return 0;
    long pid = 0;
    const char* digits = p;
    for (; *p >= '0' && *p <= '9'; p++) {
        if (pid > 100000000) return 0;
        pid = pid * 10 + (*p - '0');
    }
    if (p == digits || *p++ != '_') return 0;
    for (int i = 0; i < 4; i++, p++)
        if (*p < '0' || *p > '9') return 0;
    return strcmp(p, "_pipe") == 0 ? pid : 0;
}

// Gone requesters' reply pipes are looked for at most this often while serving.
constexpr int64_t kSweepEveryMs = 1000;
int64_t last_sweep_ms = 0;

}  // namespace

namespace comm_pipe {

void note_sigpipe_disposition() {
    struct sigaction current {};
    sigpipe_ignored = sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

void set_signal(comm_anchor* anchor, bool on) {
    if (sigpipe_ignored && !signal_installed) return;
    if (on && !signal_installed) {
        struct sigaction sa {};
        sa.sa_handler = handle_pipe_error;
        sigemptyset(&sa.sa_mask);
        sigaction(SIGPIPE, &sa, &anchor->prev_signal);
        signal_installed = true;
    } else if (signal_installed) {
        sigaction(SIGPIPE, &anchor->prev_signal, nullptr);
        signal_installed = false;
    }
}

// The handler only records the signal; it is reported here, outside the handler.
void report_sigpipe(int line) {
    if (sigpipe_seen) {
        sigpipe_seen = 0;
        PRINT('e', "com0150", "%s:%d handle_pipe_error sig_val=%d\n", __FILE__, line, SIGPIPE);
    }
}

void close_fd(int* fd) {
    if (*fd >= 0) ClosePipe(*fd);
    *fd = -1;
}

bool exists(const char* name) { return Access(name, 0) == 0; }

// Copies a text whose length the caller checked to be below size.
void copy_checked(char* out, size_t size, const char* in) {
    size_t n = strnlen(in, size - 1);
    memcpy(out, in, n);
    out[n] = '\0';
}

bool reply_in_pipe_dir(const char* reply) {
    const std::string prefix = pipe_dir_prefix();
    if (strncmp(reply, prefix.c_str(), prefix.size()) != 0) return false;
    const char* base = reply + prefix.size();
    return *base != '\0' && strchr(base, '/') == nullptr;
}

int poll_until(int fd, short events, int64_t deadline_ms, short* revents) {
    for (int interrupted = 0;;) {
        int64_t left = deadline_ms - comm_now_ms();
        if (left < 0) left = 0;
        struct pollfd pfd {
            fd, events, 0
        };
        const int r =
            poll(&pfd, 1, static_cast<int>(left > COMM_STOP_CHECK_MS ? COMM_STOP_CHECK_MS : left));
        if (r > 0) {
            *revents = pfd.revents;
            return 1;
        }
        if (r < 0 && (errno != EINTR || ++interrupted > 1000)) return -1;
        if (comm_stop_requested() || (r == 0 && left <= COMM_STOP_CHECK_MS)) return 0;
    }
}

void sweep_dead_reply_pipes() {
    last_sweep_ms = comm_now_ms();
    if (build_prefix() != 0) return;
    const std::string dir = pipe_dir_prefix();
    const char* prefix_base = agt_pipe_prefix + dir.size();
    DIR* d = opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return;
    const long self = static_cast<long>(getpid());
    while (struct dirent* e = readdir(d)) {
        const long pid = reply_pipe_pid(e->d_name, prefix_base);
        if (pid <= 0 || pid == self) continue;
        if (kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
        const std::string path = dir + e->d_name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISFIFO(st.st_mode)) continue;
        if (unlink(path.c_str()) == 0) {
            if (u_trace_on(5))
                PRINT('t', "com0208", "Removed pipe of gone process: %s\n", path.c_str());
            forget_stalled(path.c_str());
        }
    }
    closedir(d);
}

void sweep_when_due() {
    if (comm_now_ms() - last_sweep_ms >= kSweepEveryMs) sweep_dead_reply_pipes();
}

}  // namespace comm_pipe

void comm_pipe_reset_names() {
    prefix_built = false;
    agt_pipe_prefix[0] = '\0';
    col_pipe_name[0] = '\0';
    requester_reset();
}

int make_pipe_name(const char* kind, char* out) {
    ensure_env();
    const std::string dir = pipe_dir_prefix();
    if (strcmp(kind, "col") == 0) {
        if (col_pipe_name[0] == '\0') {
            char name[sizeof col_pipe_name] = "";
            snprintf(name, sizeof name, "%s", dir.c_str());
            size_t n = strlen(name);
            snprintf(name + n, sizeof name - n, "col_");
            append_part(name, sizeof name, env_vars.serverid);
            append_part(name, sizeof name, env_vars.db_type);
            n = strlen(name);
            snprintf(name + n, sizeof name - n, "pipe");
            memcpy(col_pipe_name, name, sizeof col_pipe_name);
        }
        if (strlen(col_pipe_name) >= static_cast<size_t>(COMM_NAME_SIZE)) {
            PRINT('e', "com0108", "Pipe name too long (at most %d characters): %s\n",
                  COMM_NAME_SIZE - 1, col_pipe_name);
            return 1;
        }
        copy_checked(out, COMM_NAME_SIZE, col_pipe_name);
        return 0;
    }
    if (build_prefix() != 0) return 1;
    time_t now = u_time_now();
    struct tm tm;
    localtime_r(&now, &tm);
    char pid_part[32];
    snprintf(pid_part, sizeof pid_part, "_%ld_", static_cast<long>(getpid()));
    for (int tries = 0; tries <= 10000; tries++) {
        pipe_count = pipe_count >= 9999 ? 0 : pipe_count + 1;
        char name[COMM_NAME_SIZE + 64];
        snprintf(name, sizeof name, "%s%02d%02d%02d%02d%s%04d%s", agt_pipe_prefix, tm.tm_mday,
                 tm.tm_hour, tm.tm_min, tm.tm_sec, pid_part, pipe_count, "_pipe");
        if (strlen(name) >= static_cast<size_t>(COMM_NAME_SIZE)) {
            PRINT('e', "com0108", "Pipe name too long (at most %d characters): %s\n",
                  COMM_NAME_SIZE - 1, name);
            return 1;
        }
        if (!exists(name)) {
            copy_checked(out, COMM_NAME_SIZE, name);
            return 0;
        }
    }
    PRINT('e', "com0109", "No free pipe name with prefix %s\n", agt_pipe_prefix);
    return 1;
}

int wait_for_read(comm_anchor* anchor, int fd, int64_t deadline_ms) {
    pipe_error = 0;
    short revents = 0;
    const int r = poll_until(fd, POLLIN, deadline_ms, &revents);
    if (r == 1 && (revents & POLLIN)) return WAIT_READY;
    pipe_error = 1;
    if (r == 0) return WAIT_TIMEOUT;
    if (r == 1) return WAIT_NOT_SET;
    int e = errno;
    PRINT('t', "com0155", "%s:%d select failed errno=%d-%s pipe_fd=%d\n", __FILE__, __LINE__, e,
          strerror(e), fd);
    PRINT('t', "com0156", "  Pipe name=%s.\n", anchor ? anchor->ulv_pipe : "");
    if (anchor && !exists(anchor->ulv_pipe)) {
        char when[64];
        time_t now = u_time_now();
        struct tm tm;
        localtime_r(&now, &tm);
        strftime(when, sizeof when, "%Y/%m/%d %H:%M:%S", &tm);
        PRINT('w', "com0165", "%s: Pipe is gone\n", when);
    }
    return WAIT_FAILED;
}

int wait_for_write(comm_anchor*, int fd, int64_t deadline_ms) {
    pipe_error = 0;
    short revents = 0;
    const int r = poll_until(fd, POLLOUT, deadline_ms, &revents);
    if (r == 1 && (revents & POLLOUT) && !(revents & POLLERR)) return WAIT_READY;
    pipe_error = 1;
    return r == 0 ? WAIT_TIMEOUT : WAIT_READY;
}

int comm_make_pipe(const comm_anchor* anchor, int which) {
    if (!anchor) {
        errno = EINVAL;
        return -1;
    }
    const char* field = which ? anchor->ulv_pipe : anchor->coll_pipe;
    // A name that fills its field has no terminator inside it.
    if (strnlen(field, COMM_NAME_SIZE) >= static_cast<size_t>(COMM_NAME_SIZE)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return MakeNamedPipe(field);
}

curs_list* get_request(comm_anchor* anchor, const char* names) {
    if (!anchor) return nullptr;
    set_signal(anchor, true);
    pipe_error = 0;
    curs_list* result = nullptr;
    if (anchor->type == 'P') {
        anchor->return_code = 0;
        anchor->return_msg[0] = '\0';
        result = get_cursor_data(anchor, names);
    } else if (anchor->type == 'C') {
        result = get_probe_reqs(anchor);
    } else {
        comm_set_error(anchor, 8, "Invalid IPC anchor for get request.");
    }
    report_sigpipe(__LINE__);
    set_signal(anchor, false);
    if (u_trace_on(5)) {
        PRINT('t', "com2010", "get_request() %.8s pipe=%s\n", anchor->prev_curs,
              anchor->type == 'P' ? anchor->ulv_pipe : anchor->coll_pipe);
    }
    return result;
}

int term_comm(comm_anchor* anchor) {
    if (!anchor || (anchor->type != 'P' && anchor->type != 'C')) return 0;
    close_fd(&anchor->ulv_pipe_fd);
    close_fd(&anchor->coll_pipe_fd);
    if (anchor->type == 'P') requester_close();
    if (anchor->type == 'C') {
        collector_close();
        // The collector ends (SHUTDOWN, or a signal): gone requesters' pipes go with it.
        sweep_dead_reply_pipes();
    }
    if (anchor->type == 'P' && anchor->ulv_pipe[0]) unlink(anchor->ulv_pipe);
    if (anchor->type == 'C' && anchor->coll_pipe[0]) unlink(anchor->coll_pipe);
    if (signal_installed) set_signal(anchor, false);
    comm_free_anchor(anchor);
    return 0;
}

namespace {
void pipe_shut() {}
int pipe_initsm() { return 0; }
}  // namespace

const comm_transport pipe_transport_ops = {
    init_probe, init_collector, get_request, put_request,
    term_comm,  pipe_shut,      pipe_initsm, collector_wait,
};
