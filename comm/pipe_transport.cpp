// The named-pipe transport of the zovcomm words.
#include "comm/pipe_transport.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "comm/collector_claim.h"
#include "comm/request.h"
#include "comm/zovcomm.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/pipes.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace {

// Set by a failed wait, read or write and by the SIGPIPE handler.
volatile sig_atomic_t pipe_error = 0;
volatile sig_atomic_t sigpipe_seen = 0;
// A write descriptor this process keeps on its own pipe, so reading never sees EOF: the
// requester's on its reply pipe, the collector's on the collector pipe (without it poll
// reports POLLHUP at once after a requester closed its end).
int write_pipe_fd = -1;
int collector_write_fd = -1;
bool signal_installed = false;
// SIGPIPE was ignored when the anchor was made (as in every program of the system): a
// write to a reader that went away fails with EPIPE, and no handler need come and go
// around every get and put.
bool sigpipe_ignored = false;
// A requester that failed moves to a new reply pipe before its next request.
bool need_new_pipe = false;

int pipe_count = 0;
bool prefix_built = false;
char agt_pipe_prefix[COMM_NAME_SIZE];
int build_prefix();

void handle_pipe_error(int) {
    pipe_error = 1;
    sigpipe_seen = 1;
}

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

// Opens the collector pipe for writing (a requester). The collector may be another user
// of the group, so any FIFO will do; anything else (a file, a link) is refused (EINVAL).
int open_collector_pipe(const char* name) {
    int fd = open(name, O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return -1;
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISFIFO(st.st_mode)) {
        ClosePipe(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

// Our own FIFOs and the reply pipes: opened non-blocking, only when they are FIFOs we own.
constexpr int kOpenRead = 4;
constexpr int kReplyPipeSize = 1 << 20;
constexpr int kOpenWrite = 2 | 4;

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

// True when the reply name lies directly in our pipe directory.
bool reply_in_pipe_dir(const char* reply) {
    const std::string prefix = pipe_dir_prefix();
    if (strncmp(reply, prefix.c_str(), prefix.size()) != 0) return false;
    const char* base = reply + prefix.size();
    return *base != '\0' && strchr(base, '/') == nullptr;
}

// ---- the collector's input ----

// What was read from the collector pipe and not taken yet: one read takes what waits, up
// to the room left, and each get takes one record from here. Requesters write each record
// with one write of at most PIPE_BUF bytes, so a record is cut at the end of what was read
// only when the read filled its room (the rest still waits in the pipe); a record cut
// short with nothing more to read is malformed.
unsigned char in_buf[1 << 16];
size_t in_pos = 0;
size_t in_len = 0;
bool in_read_filled = false;  // the last read filled all its room: the pipe may hold more

void input_clear() {
    in_pos = in_len = 0;
    in_read_filled = false;
}

// Reads what waits into the buffer. 1 something was read, 0 nothing waits, -1 failed.
int input_fill(int fd) {
    if (in_pos > 0) {
        memmove(in_buf, in_buf + in_pos, in_len - in_pos);
        in_len -= in_pos;
        in_pos = 0;
    }
    in_read_filled = false;
    if (in_len == sizeof in_buf) return 0;
    const size_t room = sizeof in_buf - in_len;
    const int n = ReadPipe(fd, in_buf + in_len, static_cast<int>(room));
    if (n > 0) {
        in_len += static_cast<size_t>(n);
        in_read_filled = static_cast<size_t>(n) == room;
        return 1;
    }
    return n < 0 && errno != EAGAIN && errno != EINTR ? -1 : 0;
}

enum record_state { RECORD_OK, RECORD_SHORT, RECORD_BAD };

// Whether a whole, well-formed request starts at `p` (with `avail` bytes behind it); on
// RECORD_OK `req` holds it. `why` and `length_field` say what was wrong.
record_state record_at(const unsigned char* p, size_t avail, data_request* req, const char** why,
                       bool* length_field) {
    *length_field = false;
    if (avail < 4) return RECORD_SHORT;
    int16_t len;
    int16_t offset;
    comm_request_header_from_bytes(p, &len, &offset);
    if (comm_request_check_header(len, offset, why) != 0) {
        *length_field = true;
        return RECORD_BAD;
    }
    if (avail < static_cast<size_t>(len)) {
        *why = "short record";
        return RECORD_SHORT;
    }
    memset(req, 0, sizeof *req);
    req->len = len;
    req->offset = offset;
    memcpy(req->data, p + 4, static_cast<size_t>(len) - 4);
    if (comm_request_check(req, why) != 0) return RECORD_BAD;
    if (!reply_in_pipe_dir(comm_request_reply(req))) {
        *why = "reply pipe outside the pipe directory";
        return RECORD_BAD;
    }
    return RECORD_OK;
}

// After a malformed record: skips to the next place where a whole well-formed record
// starts, so that the requests behind the bad bytes are still served; with none, every
// byte read so far goes.
void input_resync() {
    data_request probe;
    const char* why = "";
    bool length_field = false;
    for (size_t p = in_pos + 1; p + 4 <= in_len; p++) {
        if (record_at(in_buf + p, in_len - p, &probe, &why, &length_field) == RECORD_OK) {
            in_pos = p;
            return;
        }
    }
    input_clear();
}

// ---- reply pipes that stopped reading, and those of gone processes ----

// Reply pipes whose reader let one answer wait past a whole write time-out: their
// requests still queued are dropped at once, so one requester that never reads holds
// nobody else back. Its stream is broken, so a pipe stays here until its file goes.
std::vector<std::string> stalled;
constexpr size_t kStalledMax = 64;

bool is_stalled(const char* name) {
    for (const std::string& s : stalled)
        if (s == name) return true;
    return false;
}

void mark_stalled(const char* name) {
    if (is_stalled(name)) return;
    if (stalled.size() == kStalledMax) stalled.erase(stalled.begin());
    stalled.emplace_back(name);
    PRINT('w', "com0206", "Reply pipe %s is not read: its queued requests are dropped\n", name);
}

// ---- requester ----

// Creates and opens (read and write) the reply pipe named in anchor->ulv_pipe. Returns
// 0, 2 when it could not be created (the name is not ours), 1 when it could not be opened.
int open_reply_pipe(comm_anchor* anchor) {
    if (comm_make_pipe(anchor, 1) != 0) {
        int e = errno;
        PRINT('e', "com0110", "Create Pipe error %d. Pipe=%s\n", e, anchor->ulv_pipe);
        comm_set_error(anchor, 3, "Create Pipe error %d. Pipe=%s", e, anchor->ulv_pipe);
        return 2;
    }
    if (u_trace_on(5)) PRINT('t', "com2005", "init_probe() Created pipe=%s\n", anchor->ulv_pipe);
    anchor->ulv_pipe_fd = ClientOpenPipe(anchor->ulv_pipe, kOpenRead);
    if (anchor->ulv_pipe_fd >= 0) {
        // Room for a large answer at once, so the collector need not wait for each 64 KB
        // to be read; where the system refuses, the pipe keeps its size.
        fcntl(anchor->ulv_pipe_fd, F_SETPIPE_SZ, kReplyPipeSize);
        write_pipe_fd = ClientOpenPipe(anchor->ulv_pipe, kOpenWrite);
    }
    if (anchor->ulv_pipe_fd < 0 || write_pipe_fd < 0) {
        int e = errno;
        PRINT('e', "com0115", "Open Pipe error %d-%s. Pipe=%s\n", e, strerror(e), anchor->ulv_pipe);
        comm_set_error(anchor, 3, "Open Pipe error %d. Pipe=%s", e, anchor->ulv_pipe);
        return 1;
    }
    return 0;
}

// Bytes read from the reply pipe beyond the answer part asked for: one read takes an
// answer's header with its rows (and what follows), where a read of the header alone
// would need a second call for the rows. They belong to the pipe they came from.
char reply_buf[1 << 16];
size_t reply_pos = 0;
size_t reply_len = 0;

void reply_clear() { reply_pos = reply_len = 0; }

void close_reply_pipe(comm_anchor* anchor, bool remove) {
    reply_clear();
    close_fd(&anchor->ulv_pipe_fd);
    close_fd(&write_pipe_fd);
    if (remove && anchor->ulv_pipe[0]) unlink(anchor->ulv_pipe);
}

// Moves to a fresh reply pipe and rewrites the reply name inside every request block.
int new_reply_pipe(comm_anchor* anchor) {
    close_reply_pipe(anchor, true);
    anchor->ulv_pipe[0] = '\0';
    if (make_pipe_name("prb", anchor->ulv_pipe) != 0) {
        comm_set_error(anchor, 3, "Open Pipe error %d. Pipe=%s", ENAMETOOLONG, "(reply)");
        return 1;
    }
    if (open_reply_pipe(anchor) != 0) {
        if (anchor->ulv_pipe_fd < 0 && write_pipe_fd < 0) anchor->ulv_pipe[0] = '\0';
        return 1;
    }
    for (curs_list* b = anchor->curs; b; b = b->next) {
        data_request old = *b->pipe_buf;
        const char* parms[COMM_PARMS];
        comm_request_parms(&old, parms);
        const char* why = "";
        if (comm_request_encode(old.data, old.offset, anchor->ulv_pipe, parms, b->pipe_buf, &why) !=
            0) {
            comm_set_error(anchor, 4, "Request record error (%s). Cursor=%s", why, b->cursor);
            return 1;
        }
    }
    need_new_pipe = false;
    return 0;
}

// The collector pipe a requester keeps open between requests. It is checked when it is
// opened, not before every request: a collector that ended leaves its FIFO without a
// reader, the write fails with EPIPE, and the name is opened and checked afresh (a
// collector that starts anew makes a new FIFO under it).
bool kept_pipe_current(comm_anchor* anchor) { return anchor->coll_pipe_fd >= 0; }

// Opens the collector pipe: ten attempts a second apart. 0, or error 3 set.
int open_for_request(comm_anchor* anchor) {
    int fd = -1;
    int open_errno = 0;
    for (int attempt = 1; attempt <= 10; attempt++) {
        fd = open_collector_pipe(anchor->coll_pipe);
        if (fd >= 0) break;
        open_errno = errno;
        if (attempt < 10 && !comm_pause_ms(1000)) break;
    }
    if (fd < 0) {
        comm_set_error(anchor, 3, "Open Pipe error %d. Pipe=%s", open_errno, anchor->coll_pipe);
        return anchor->return_code;
    }
    anchor->coll_pipe_fd = fd;
    return 0;
}

int send_a_request(comm_anchor* anchor, curs_list* block) {
    anchor->return_code = 0;
    const bool kept = kept_pipe_current(anchor);
    if (!kept && open_for_request(anchor) != 0) return anchor->return_code;
    const int fd = anchor->coll_pipe_fd;
    unsigned char bytes[COMM_REQUEST_MAX];
    comm_request_to_bytes(block->pipe_buf, bytes);
    // A record is shorter than PIPE_BUF: a write takes all of it or nothing.
    const int total = block->pipe_buf->len;
    int write_errno = 0;
    const int64_t deadline = comm_now_ms() + int64_t{wait_timeout} * 1000;
    for (;;) {
        const int n = WritePipe(fd, bytes, total);
        if (n == total) break;
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            write_errno = errno;
            if (kept && write_errno == EPIPE) {
                // Its collector is gone: the name may hold a new one's FIFO by now.
                pipe_error = 0;
                sigpipe_seen = 0;
                close_fd(&anchor->coll_pipe_fd);
                return send_a_request(anchor, block);
            }
            pipe_error = 1;
            break;
        }
        int w = wait_for_write(anchor, fd, deadline);
        if (w == WAIT_TIMEOUT) {
            comm_set_error(anchor, 1, "Data Collector Wait Timeout. Is collector still there?");
            close_fd(&anchor->coll_pipe_fd);
            return 1;
        }
        if (w != WAIT_READY || pipe_error) {
            if (u_trace_on(0)) {
                PRINT('t', "com0145", "%s:%d pipe error in wait_for_write\n", __FILE__, __LINE__);
            }
            comm_set_error(anchor, 1, "Data Collector Wait error.");
            close_fd(&anchor->coll_pipe_fd);
            return 1;
        }
    }
    report_sigpipe(__LINE__);
    if (pipe_error) {
        close_fd(&anchor->coll_pipe_fd);
        comm_set_error(anchor, 3, "Write Pipe error %d. Pipe=%s", write_errno ? write_errno : EPIPE,
                       anchor->coll_pipe);
    }
    return anchor->return_code;
}

// Reads n bytes of an answer from the reply pipe. Each wait lasts at most wait_timeout
// seconds from the last progress. Returns 0, or 1 with the error in the anchor.
int read_answer(comm_anchor* anchor, char* buf, int64_t n, bool header, bool wait_first) {
    const int fd = anchor->ulv_pipe_fd;
    int64_t got = 0;
    if (reply_len > reply_pos) {
        const size_t take = std::min<size_t>(reply_len - reply_pos, static_cast<size_t>(n));
        memcpy(buf, reply_buf + reply_pos, take);
        got = static_cast<int64_t>(take);
        reply_pos += take;
        if (reply_pos == reply_len) reply_clear();
    }
    int64_t deadline = comm_now_ms() + int64_t{wait_timeout} * 1000;
    // The first header of a get cannot be there yet: wait before reading, rather than
    // read to learn that nothing is there. Later reads take what is there first.
    bool wait_now = wait_first && got == 0;
    while (got < n && !pipe_error) {
        if (!wait_now) {
            // What is short of the buffer goes through it (with whatever follows), the
            // rest of a large answer straight into its place.
            const bool small = n - got < static_cast<int64_t>(sizeof reply_buf);
            const int64_t want = small                 ? static_cast<int64_t>(sizeof reply_buf)
                                 : n - got > (1 << 30) ? (1 << 30)
                                                       : n - got;
            const int r = ReadPipe(fd, small ? reply_buf : buf + got, static_cast<int>(want));
            if (r > 0) {
                if (small) {
                    const size_t take =
                        std::min<size_t>(static_cast<size_t>(r), static_cast<size_t>(n - got));
                    memcpy(buf + got, reply_buf, take);
                    if (take < static_cast<size_t>(r)) {
                        reply_pos = take;
                        reply_len = static_cast<size_t>(r);
                    }
                    got += static_cast<int64_t>(take);
                } else {
                    got += r;
                }
                deadline = comm_now_ms() + int64_t{wait_timeout} * 1000;
                continue;
            }
            if (r < 0 && errno != EAGAIN && errno != EINTR) {
                pipe_error = 1;
                break;
            }
        }
        wait_now = false;
        int w = wait_for_read(anchor, fd, deadline);
        if (w == WAIT_TIMEOUT) {
            if (header) {
                comm_set_error(anchor, 1, "Data Collector Wait Timeout. Wait Time=%d",
                               wait_timeout);
            } else {
                comm_set_error(anchor, 1, "Data Collector Wait Timeout. Is collector still there?");
            }
            return 1;
        }
        if (w != WAIT_READY) {
            if (header) {
                PRINT('t', "com0120", "%s:%d Pipe error in wait_for_read:ret=%d\n", __FILE__,
                      __LINE__, w);
            } else if (u_trace_on(0)) {
                PRINT('t', "com0125",
                      "%s:%d get_curs_data() Pipe error in wait_for_read: ret=%d  \n", __FILE__,
                      __LINE__, w);
            }
            comm_set_error(anchor, 1, "Data Collector Wait error.");
            return 1;
        }
    }
    if (got < n) {
        comm_set_error(anchor, 4, "Pipe read error. Pipe=%s", anchor->ulv_pipe);
        return 1;
    }
    return 0;
}

curs_list* get_cursor_data(comm_anchor* anchor, const char* names) {
    if (!comm_requester_blocks(anchor, names)) return nullptr;
    if (need_new_pipe || anchor->ulv_pipe_fd < 0) {
        if (new_reply_pipe(anchor) != 0) return nullptr;
    } else if (!exists(anchor->ulv_pipe)) {
        // Someone removed our pipe: make it again under its name.
        close_reply_pipe(anchor, false);
        if (open_reply_pipe(anchor) != 0) {
            need_new_pipe = true;
            return nullptr;
        }
    }
    for (curs_list* b = anchor->curs; b; b = b->next) {
        if (send_a_request(anchor, b) != 0) {
            need_new_pipe = true;  // answers to the requests already sent would follow
            return nullptr;
        }
    }
    for (curs_list* b = anchor->curs; b; b = b->next) {
        U_FREE(b->data);
        b->data = nullptr;
        b->rows = 0;
        b->len = 0;
        unsigned char hb[COMM_HEADER_BYTES];
        if (read_answer(anchor, reinterpret_cast<char*>(hb), sizeof hb, true, b == anchor->curs) !=
            0) {
            need_new_pipe = true;
            return nullptr;
        }
        stream_header h;
        int64_t bytes = 0;
        if (comm_header_decode(hb, &h, &bytes) != 0) {
            PRINT('e', "com0121", "Answer header error rows=%d, len=%d. Pipe=%s\n", h.rows, h.len,
                  anchor->ulv_pipe);
            comm_set_error(anchor, 4, "Pipe read error. Pipe=%s", anchor->ulv_pipe);
            need_new_pipe = true;
            return nullptr;
        }
        b->rows = h.rows;
        b->len = h.len;
        if (h.rows > 0 && bytes > 0) {
            b->data = static_cast<char*>(U_MALLOC(bytes));
            if (read_answer(anchor, b->data, bytes, false, false) != 0) {
                need_new_pipe = true;
                return nullptr;
            }
        }
    }
    return anchor->curs;
}

// ---- collector ----

// Re-creates a collector pipe that someone removed.
int reopen_collector_pipe(comm_anchor* anchor) {
    close_fd(&anchor->coll_pipe_fd);
    close_fd(&collector_write_fd);
    if (comm_make_pipe(anchor, 0) != 0) {
        comm_set_error(anchor, 4, "Create Pipe error %d. Pipe=%s", errno, anchor->coll_pipe);
        return 1;
    }
    input_clear();
    anchor->coll_pipe_fd = ClientOpenPipe(anchor->coll_pipe, kOpenRead);
    if (anchor->coll_pipe_fd >= 0) {
        comm_mark_collector_pipe(anchor->coll_pipe_fd);  // a second collector finds it
        collector_write_fd = ClientOpenPipe(anchor->coll_pipe, kOpenWrite);
    }
    if (anchor->coll_pipe_fd < 0 || collector_write_fd < 0) {
        comm_set_error(anchor, 4, "Open Pipe error %d. Pipe=%s", errno, anchor->coll_pipe);
        return 1;
    }
    return 0;
}

// Refuses the malformed record at the front of the input: message, error 4; the input
// goes on at the next whole record behind it.
curs_list* refuse_record(comm_anchor* anchor, const char* why, int size, bool length_field) {
    if (length_field && (size > COMM_REQUEST_MAX || size < 4)) {
        PRINT('e', "com0203", "request length error, size=%d\n", size);
    }
    PRINT('e', "com0204", "request record refused (%s), size=%d. Pipe=%s\n", why, size,
          anchor->coll_pipe);
    if (length_field) {
        comm_set_error(anchor, 4, "Pipe cursor length error. Pipe=%s", anchor->coll_pipe);
    } else {
        comm_set_error(anchor, 4, "Pipe read error. Pipe=%s", anchor->coll_pipe);
    }
    input_resync();
    return nullptr;
}

// Gone requesters' reply pipes are looked for at most this often while serving.
constexpr int64_t kSweepEveryMs = 1000;
int64_t last_sweep_ms = 0;
void sweep_dead_reply_pipes();

curs_list* get_probe_reqs(comm_anchor* anchor) {
    anchor->return_code = 0;
    anchor->return_msg[0] = '\0';
    comm_drop_requests(anchor);
    // The pipe's name is checked when nothing waits, not before every request.
    if (anchor->coll_pipe_fd < 0) {
        if (reopen_collector_pipe(anchor) != 0) return nullptr;
    }
    const int fd = anchor->coll_pipe_fd;
    for (bool read_once = false;;) {
        data_request req;
        const char* why = "";
        bool length_field = false;
        const record_state state =
            record_at(in_buf + in_pos, in_len - in_pos, &req, &why, &length_field);
        if (state == RECORD_SHORT) {
            // Read once more when the last read filled its room: the record's rest (and
            // the records behind it) still wait in the pipe, even after requests for
            // stalled pipes were passed over since.
            if (!read_once || in_read_filled) {
                read_once = true;
                const int r = input_fill(fd);
                if (r < 0) {
                    comm_set_error(anchor, 4, "Pipe read error. Pipe=%s", anchor->coll_pipe);
                    return nullptr;
                }
                if (r > 0) continue;
            }
            if (in_len == in_pos) {
                // Nothing waits: the time to see whether someone removed the pipe's name.
                if (!exists(anchor->coll_pipe)) reopen_collector_pipe(anchor);
                return nullptr;
            }
            // Part of a record and nothing behind it: no writer sends less than a whole one.
            int16_t len = static_cast<int16_t>(in_len - in_pos);
            if (in_len - in_pos >= 4) memcpy(&len, in_buf + in_pos, 2);
            return refuse_record(anchor, in_len - in_pos < 4 ? "short header" : why, len, false);
        }
        if (state == RECORD_BAD) {
            int16_t len = 0;
            memcpy(&len, in_buf + in_pos, 2);
            return refuse_record(anchor, why, len, length_field);
        }
        in_pos += static_cast<size_t>(req.len);
        if (in_pos == in_len) input_clear();
        if (u_trace_on(7)) {
            PRINT('t', "com0202", "pipe buffer:\n");
            unsigned char bytes[COMM_REQUEST_MAX];
            comm_request_to_bytes(&req, bytes);
            u_print_dumpx(nullptr, bytes, req.len);
        }
        const char* reply = comm_request_reply(&req);
        if (is_stalled(reply)) {
            if (u_trace_on(5))
                PRINT('t', "com0207", "Request for stalled pipe %s dropped\n", reply);
            continue;
        }
        if (comm_now_ms() - last_sweep_ms >= kSweepEveryMs) sweep_dead_reply_pipes();
        auto* kept = static_cast<data_request*>(U_MALLOC(sizeof(data_request)));
        memcpy(kept, &req, sizeof req);
        memset(anchor->ulv_pipe, 0, sizeof anchor->ulv_pipe);
        snprintf(anchor->ulv_pipe, sizeof anchor->ulv_pipe, "%s", reply);
        return comm_file_request(anchor, kept);
    }
}

// Whether user `uid` belongs to the collector's group (its effective group, as primary or
// listed member): the reply pipes are made for owner and group, so a requester of another
// member of the group is answered. Looked up once per user and group.
bool member_of_my_group(uid_t uid) {
    struct known {
        uid_t uid;
        gid_t gid;
        bool member;
    };
    static std::vector<known> cache;
    const gid_t gid = getegid();
    for (const known& k : cache)
        if (k.uid == uid && k.gid == gid) return k.member;
    bool member = false;
    struct passwd pw {};
    struct passwd* pw_found = nullptr;
    std::vector<char> buf(16384);
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &pw_found) == 0 && pw_found) {
        member = pw.pw_gid == gid;
        const std::string user = pw.pw_name;
        struct group gr {};
        struct group* gr_found = nullptr;
        std::vector<char> gbuf(65536);
        if (!member && getgrgid_r(gid, &gr, gbuf.data(), gbuf.size(), &gr_found) == 0 && gr_found) {
            for (char** m = gr.gr_mem; m && *m && !member; m++) member = user == *m;
        }
    }
    if (cache.size() < 64) cache.push_back({uid, gid, member});
    return member;
}

bool reply_owner_allowed(const struct stat& st) {
    return S_ISFIFO(st.st_mode) && (st.st_uid == geteuid() || member_of_my_group(st.st_uid));
}

// Opens a requester's reply pipe for writing, non-blocking: only a FIFO (no link) of our
// own or of a member of our group; anything else fails with EPERM.
int open_reply_fifo(const char* name) { return OpenCheckedPipe(name, 2 | 4, reply_owner_allowed); }

// The reply pipe of the last answer, kept open by the collector: a requester asks again
// and again through the same pipe. It is checked when it is opened, not before every
// answer: a requester that made its pipe anew closed the old one, so a write to the kept
// descriptor fails with EPIPE and the name is opened and checked afresh.
int answer_fd = -1;
char answer_name[COMM_NAME_SIZE] = "";

void drop_answer_pipe() {
    close_fd(&answer_fd);
    answer_name[0] = '\0';
}

int open_reply_for_answer(const char* name, bool* reused) {
    *reused = answer_fd >= 0 && strcmp(name, answer_name) == 0;
    if (*reused) return answer_fd;
    drop_answer_pipe();
    const int fd = open_reply_fifo(name);
    if (fd < 0) return -1;
    answer_fd = fd;
    copy_checked(answer_name, sizeof answer_name, name);
    return fd;
}

// Writes the answer header and its rows to the reply pipe, in one write where the pipe
// takes them; waits only when the pipe is full. 0; 2 when the pipe stayed full past the
// wait time, 1 when a wait failed (error set, caller stops); a write error only sets the
// pipe error. *written: the bytes that went out.
int write_answer(comm_anchor* anchor, const char* head, int64_t head_n, const char* rows,
                 int64_t rows_n, int64_t* written) {
    const int fd = anchor->ulv_pipe_fd;
    const int64_t n = head_n + rows_n;
    int64_t& done = *written;
    done = 0;
    int64_t deadline = comm_now_ms() + int64_t{wait_timeout} * 1000;
    while (done < n && !pipe_error) {
        struct iovec iov[2];
        int count = 0;
        if (done < head_n) {
            iov[count++] = {const_cast<char*>(head + done), static_cast<size_t>(head_n - done)};
        }
        const int64_t from = done > head_n ? done - head_n : 0;
        if (rows_n - from > 0) {
            const int64_t chunk = rows_n - from > (1 << 30) ? (1 << 30) : rows_n - from;
            iov[count++] = {const_cast<char*>(rows + from), static_cast<size_t>(chunk)};
        }
        const ssize_t r = writev(fd, iov, count);
        if (r > 0) {
            done += r;
            deadline = comm_now_ms() + int64_t{wait_timeout} * 1000;
            continue;
        }
        if (r < 0 && errno != EAGAIN && errno != EINTR) {
            pipe_error = 1;
            break;
        }
        const bool header = done < head_n;
        int w = wait_for_write(anchor, fd, deadline);
        if (w == WAIT_TIMEOUT) {
            comm_set_error(anchor, 1,
                           header ? "Data Collector Wait Timeout.  Is collector still there?"
                                  : "Data Collector Wait Timeout. Is collector still there?");
            return 2;
        }
        if (w != WAIT_READY || pipe_error) {
            if (u_trace_on(0)) {
                PRINT('t', header ? "com0130" : "com0140", "%s:%d Pipe error in wait_for_write \n",
                      __FILE__, __LINE__);
            }
            comm_set_error(anchor, 1, "Data Collector Wait error.");
            return 1;
        }
    }
    return 0;
}

}  // namespace

namespace {

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

// Removes the reply FIFOs (of this server, type and host) whose process is gone: a
// requester that was killed never removes its own.
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
            for (size_t i = 0; i < stalled.size(); i++) {
                if (stalled[i] == path) {
                    stalled.erase(stalled.begin() + static_cast<long>(i));
                    break;
                }
            }
        }
    }
    closedir(d);
}

}  // namespace

void comm_pipe_reset_names() {
    prefix_built = false;
    agt_pipe_prefix[0] = '\0';
    col_pipe_name[0] = '\0';
    need_new_pipe = false;
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

namespace {

// One step of a bounded poll: waits for `events` on fd until the deadline, in steps of at
// most COMM_STOP_CHECK_MS so that the stop flag is seen. 1 ready (revents set), 0 the
// deadline passed or the stop flag is set, -1 poll failed (errno kept).
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

}  // namespace

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

comm_anchor* init_probe() {
    comm_set_wait_timeout("WAIT_TIMEOUT", 45);
    comm_anchor* anchor = comm_new_anchor('P');
    need_new_pipe = false;
    note_sigpipe_disposition();
    // The pipes that killed requesters left behind go before this one makes its own.
    sweep_dead_reply_pipes();
    if (make_pipe_name("col", anchor->coll_pipe) != 0 ||
        make_pipe_name("prb", anchor->ulv_pipe) != 0) {
        anchor->ulv_pipe[0] = '\0';
        term_comm(anchor);
        return nullptr;
    }
    if (int rc = open_reply_pipe(anchor); rc != 0) {
        if (rc == 2) anchor->ulv_pipe[0] = '\0';  // remove the pipe only when we made it
        term_comm(anchor);
        return nullptr;
    }
    return anchor;
}

comm_anchor* init_collector() {
    comm_set_wait_timeout("COLL_WAIT_TIMEOUT", 5);
    comm_anchor* anchor = comm_new_anchor('C');
    note_sigpipe_disposition();
    input_clear();
    if (make_pipe_name("col", anchor->coll_pipe) != 0) {
        anchor->coll_pipe[0] = '\0';
        term_comm(anchor);
        return nullptr;
    }
    unlink(anchor->coll_pipe);
    if (comm_make_pipe(anchor, 0) != 0) {
        int e = errno;
        comm_set_error(anchor, 4, "Create Pipe error %d. Pipe=%s", e, anchor->coll_pipe);
        PRINT('e', "com0110", "%s\n", anchor->return_msg);
        anchor->coll_pipe[0] = '\0';
        term_comm(anchor);
        return nullptr;
    }
    anchor->coll_pipe_fd = ClientOpenPipe(anchor->coll_pipe, kOpenRead);
    if (anchor->coll_pipe_fd >= 0) {
        comm_mark_collector_pipe(anchor->coll_pipe_fd);  // a second collector finds it
        collector_write_fd = ClientOpenPipe(anchor->coll_pipe, kOpenWrite);
    }
    if (anchor->coll_pipe_fd < 0 || collector_write_fd < 0) {
        int e = errno;
        comm_set_error(anchor, 4, "Open Pipe error %d. Pipe=%s", e, anchor->coll_pipe);
        PRINT('e', "com0115", "%s\n", anchor->return_msg);
        term_comm(anchor);
        return nullptr;
    }
    return anchor;
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

curs_list* put_request(comm_anchor* anchor) {
    pipe_error = 0;
    if (!anchor) return nullptr;
    if (!comm_put_allowed(anchor)) return anchor->curs;
    anchor->return_code = 0;
    anchor->return_msg[0] = '\0';
    set_signal(anchor, true);
    int failed_errno = 0;
    char failed_pipe[COMM_NAME_SIZE] = "";
    for (curs_list* b = anchor->curs; b; b = b->next) {
        for (pipe_list* p = b->pipe; p; p = p->next) {
            snprintf(anchor->ulv_pipe, sizeof anchor->ulv_pipe, "%s", p->pipe);
            const bool ours = reply_in_pipe_dir(p->pipe);
            bool reused = false;
            int fd = ours ? open_reply_for_answer(p->pipe, &reused) : -1;
            if (fd < 0) {
                int e = ours ? errno : EPERM;
                report_sigpipe(__LINE__);
                set_signal(anchor, false);
                comm_set_error(anchor, 3, "Open Probe pipe error %d. Pipe=%s", e, p->pipe);
                return anchor->curs;
            }
            anchor->ulv_pipe_fd = fd;
            int rows = b->rows > 0 ? b->rows : 0;
            if (rows > 0 && b->len > 0 && !b->data) rows = 0;  // nothing to send
            if (u_trace_on(6)) {
                PRINT('t', "com0111", "collector open ulv pipe to write(success):%d\n", fd);
                PRINT('t', "com0112", "header rows=%d, len=%d\n", rows, b->len);
            }
            if (!pipe_error) {
                stream_header h{rows, b->len};
                unsigned char hb[COMM_HEADER_BYTES];
                comm_header_encode(h, hb);
                const int64_t bytes = rows > 0 ? int64_t{rows} * (b->len > 0 ? b->len : 0) : 0;
                int64_t written = 0;
                int stop = write_answer(anchor, reinterpret_cast<char*>(hb), sizeof hb, b->data,
                                        bytes, &written);
                if (!stop && pipe_error && reused && written == 0) {
                    // The kept descriptor's reader is gone (its pipe was made anew): open
                    // the name afresh, once.
                    pipe_error = 0;
                    sigpipe_seen = 0;
                    drop_answer_pipe();
                    fd = open_reply_for_answer(p->pipe, &reused);
                    if (fd < 0) {
                        const int e = errno;
                        set_signal(anchor, false);
                        comm_set_error(anchor, 3, "Open Probe pipe error %d. Pipe=%s", e, p->pipe);
                        return anchor->curs;
                    }
                    anchor->ulv_pipe_fd = fd;
                    stop = write_answer(anchor, reinterpret_cast<char*>(hb), sizeof hb, b->data,
                                        bytes, &written);
                }
                if (stop) {
                    // Full past a whole write time-out: this requester does not read. Its
                    // queued requests are dropped; the other requesters are served on.
                    if (stop == 2) mark_stalled(p->pipe);
                    report_sigpipe(__LINE__);
                    set_signal(anchor, false);
                    drop_answer_pipe();
                    anchor->ulv_pipe_fd = -1;
                    return nullptr;
                }
                if (pipe_error && failed_errno == 0) {
                    failed_errno = EPIPE;
                    snprintf(failed_pipe, sizeof failed_pipe, "%s", p->pipe);
                }
            }
            if (pipe_error) drop_answer_pipe();
            anchor->ulv_pipe_fd = -1;  // kept open for the next answer to the same pipe
        }
    }
    report_sigpipe(__LINE__);
    set_signal(anchor, false);
    comm_drop_requests(anchor);
    if (failed_errno) {
        comm_set_error(anchor, 3, "Write Pipe error %d. Pipe=%s", failed_errno, failed_pipe);
    }
    if (u_trace_on(5)) {
        PRINT('t', "com2010", "put_request() %8.8s pipe=%s\n", anchor->prev_curs, anchor->ulv_pipe);
    }
    return nullptr;
}

int term_comm(comm_anchor* anchor) {
    if (!anchor || (anchor->type != 'P' && anchor->type != 'C')) return 0;
    close_fd(&anchor->ulv_pipe_fd);
    close_fd(&anchor->coll_pipe_fd);
    if (anchor->type == 'P') {
        close_fd(&write_pipe_fd);
        reply_clear();
    }
    if (anchor->type == 'C') {
        close_fd(&collector_write_fd);
        drop_answer_pipe();
        input_clear();
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

int pipe_wait(comm_anchor* anchor, int timeout_ms) {
    anchor->return_code = 0;
    anchor->return_msg[0] = '\0';
    // A pipe someone removed is made again before a wait; a look without waiting leaves
    // that to the "get" that follows. The name is looked at once a second at most: a
    // collector that serves many requests waits after each.
    static int64_t name_checked_ms = -1;
    bool name_gone = false;
    if (timeout_ms > 0) {
        const int64_t now = comm_now_ms();
        if (name_checked_ms < 0 || now - name_checked_ms >= 1000 || now < name_checked_ms) {
            name_checked_ms = now;
            name_gone = !exists(anchor->coll_pipe);
        }
    }
    if (name_gone || anchor->coll_pipe_fd < 0 || collector_write_fd < 0) {
        if (reopen_collector_pipe(anchor) != 0) return -1;
    }
    // Records read before and not taken yet wait already; a look without waiting reads
    // at once (what it reads is what the next get takes), so no poll comes before it.
    if (in_len > in_pos) return 1;
    if (timeout_ms == 0) {
        const int got = input_fill(anchor->coll_pipe_fd);
        if (got >= 0) return got;
        comm_set_error(anchor, 4, "Pipe read error. Pipe=%s", anchor->coll_pipe);
        return -1;
    }
    short revents = 0;
    const int r = poll_until(anchor->coll_pipe_fd, POLLIN, comm_now_ms() + timeout_ms, &revents);
    if (r == 0) return 0;
    if (r == 1 && (revents & POLLIN)) return 1;
    comm_set_error(anchor, 4, "Pipe read error. Pipe=%s", anchor->coll_pipe);
    return -1;
}

void pipe_shut() {}
int pipe_initsm() { return 0; }
}  // namespace

const comm_transport pipe_transport_ops = {
    init_probe, init_collector, get_request, put_request,
    term_comm,  pipe_shut,      pipe_initsm, pipe_wait,
};
