// The requester's side of the named-pipe transport: its reply pipe, the requests it
// writes into the collector pipe and the answers it reads back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comm/chain.h"
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

// A write descriptor the requester keeps on its own reply pipe, so reading never sees
// end of file.
int write_pipe_fd = -1;
// A requester that failed moves to a new reply pipe before its next request.
bool need_new_pipe = false;

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

// Room for a large answer at once in the reply pipe.
constexpr int kReplyPipeSize = 1 << 20;

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

}  // namespace

namespace comm_pipe {

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

void requester_close() {
    close_fd(&write_pipe_fd);
    reply_clear();
}

void requester_reset() { need_new_pipe = false; }

}  // namespace comm_pipe

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
