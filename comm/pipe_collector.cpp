// The collector's side of the named-pipe transport: the collector pipe it reads
// requests from, the reply pipes it answers on and its wait between serving turns.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "comm/chain.h"
#include "comm/collector_claim.h"
#include "comm/comm_support.h"
#include "comm/pipe_sides.h"
#include "comm/pipe_transport.h"
#include "comm/request.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/pipes.h"
#include "runtime/trace.h"

using namespace comm_pipe;

namespace {

// A write descriptor the collector keeps on the collector pipe, so reading never sees
// end of file (without it poll reports POLLHUP at once after a requester closed its end).
int collector_write_fd = -1;

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

// ---- reply pipes that stopped reading ----

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

// ---- the collector pipe ----

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

}  // namespace

namespace comm_pipe {

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
        sweep_when_due();
        auto* kept = static_cast<data_request*>(U_MALLOC(sizeof(data_request)));
        memcpy(kept, &req, sizeof req);
        memset(anchor->ulv_pipe, 0, sizeof anchor->ulv_pipe);
        snprintf(anchor->ulv_pipe, sizeof anchor->ulv_pipe, "%s", reply);
        return comm_file_request(anchor, kept);
    }
}

}  // namespace comm_pipe

namespace {

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

namespace comm_pipe {

void collector_close() {
    close_fd(&collector_write_fd);
    drop_answer_pipe();
    input_clear();
}

void forget_stalled(const char* path) {
    for (size_t i = 0; i < stalled.size(); i++) {
        if (stalled[i] == path) {
            stalled.erase(stalled.begin() + static_cast<long>(i));
            return;
        }
    }
}

int collector_wait(comm_anchor* anchor, int timeout_ms) {
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

}  // namespace comm_pipe
