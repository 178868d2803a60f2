#include "runtime/pcc.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

int grwtSec = 0;

// The parent's line buffer over a child's stdout pipe, kept in the child's record from the
// first receive on. Room for one whole line (3000 characters and a newline) plus a read.
struct pcc_stream {
    char data[4096];
    int32_t start;       // first unread byte
    int32_t end;         // end of the buffered bytes
    int32_t eof;         // the pipe reached its end
    int32_t discarding;  // skipping the rest of an overlong line up to its newline
};

namespace {

char upper(int c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

// Copies at most width characters of text (null: none) and pads with blanks to width.
void put_padded(char* dst, const char* text, int width) {
    int n = 0;
    if (text) {
        while (n < width && text[n] != '\0') {
            dst[n] = text[n];
            ++n;
        }
    }
    if (n < width) std::memset(dst + n, ' ', static_cast<size_t>(width - n));
}

// Copies text from buf[pos] up to the line limit and terminates it; warns when it is cut.
void put_tail(char* buf, int pos, const char* text) {
    if (!text) text = "";
    size_t room = static_cast<size_t>(pcc_line_max - pos);
    size_t len = std::strlen(text);
    if (len > room) {
        PRINT('w', "uex4910", "Record text cut at %d characters.\n", pcc_line_max);
        len = room;
    }
    std::memcpy(buf + pos, text, len);
    buf[pos + len] = '\0';
}

double now_mono() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Waits up to ms milliseconds for fd to be ready for events; retries after a signal.
// 1 ready, 0 timed out, -1 error.
int poll_one(int fd, short events, int ms) {
    double deadline = now_mono() + ms / 1000.0;
    for (;;) {
        struct pollfd p {
            fd, events, 0
        };
        int left = static_cast<int>((deadline - now_mono()) * 1000.0 + 0.999);
        if (left < 0) left = 0;
        int r = poll(&p, 1, left);
        if (r > 0) return 1;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

enum class line_result { line, eof, timeout, error, skipped, stopped };

// The child's stop on a signal (pcc_receive_collector_stop): the flag its handler sets and
// the signal mask its waits run under.
volatile sig_atomic_t* stop_flag = nullptr;
sigset_t stop_wait_mask;

// As poll_one for the child's standard input, under the stop's mask: the held signals are
// let in only here, so one that came earlier is delivered now. -2 when the flag is set.
int poll_stoppable(int fd, int ms) {
    double deadline = now_mono() + ms / 1000.0;
    for (;;) {
        if (*stop_flag) return -2;
        struct pollfd p {
            fd, POLLIN, 0
        };
        double left = std::max(0.0, deadline - now_mono());
        struct timespec ts;
        ts.tv_sec = static_cast<time_t>(left);
        ts.tv_nsec = static_cast<long>((left - static_cast<double>(ts.tv_sec)) * 1e9);
        int r = ppoll(&p, 1, &ts, &stop_wait_mask);
        if (r > 0) return 1;
        if (r == 0) return 0;
        if (errno != EINTR) return -1;
    }
}

// Takes the next complete line out of the stream buffer into buf (without its newline).
// Returns took_line when a line was delivered, took_none when none is complete yet, and
// took_skipped after skipping an overlong line (or starting to skip one).
enum take_result { took_none, took_line, took_skipped };
take_result take_line(pcc_stream* s, char* buf) {
    for (;;) {
        char* from = s->data + s->start;
        int avail = s->end - s->start;
        char* nl = static_cast<char*>(std::memchr(from, '\n', static_cast<size_t>(avail)));
        if (s->discarding) {
            if (!nl) {
                s->start = s->end;
                return took_none;
            }
            s->discarding = 0;
            s->start += static_cast<int32_t>(nl - from) + 1;
            continue;
        }
        if (nl) {
            int len = static_cast<int>(nl - from);
            if (len > pcc_line_max) {
                PRINT('w', "uex5915", "Line of %d characters skipped (longer than a record).\n",
                      len);
                s->start += len + 1;
                return took_skipped;
            }
            std::memcpy(buf, from, static_cast<size_t>(len));
            buf[len] = '\0';
            s->start += len + 1;
            return took_line;
        }
        if (avail > pcc_line_max) {
            PRINT('w', "uex5915",
                  "Line of more than %d characters skipped (longer than a record).\n",
                  pcc_line_max);
            s->discarding = 1;
            s->start = s->end;
            return took_skipped;
        }
        return took_none;
    }
}

// Reads the next line of fd through s into buf, waiting until deadline (monotonic seconds).
// With report_skips an overlong line is reported (skipped) instead of passed over; with
// stoppable (the child's standard input) the wait ends on the stop flag, when one is set.
line_result read_line(pcc_stream* s, int fd, char* buf, double deadline, bool report_skips = false,
                      bool stoppable = false) {
    for (;;) {
        take_result t = take_line(s, buf);
        if (t == took_line) return line_result::line;
        if (t == took_skipped) {
            if (report_skips) return line_result::skipped;
            continue;
        }
        if (s->eof) {
            int avail = s->end - s->start;
            if (avail > 0 && !s->discarding) {
                // A last line without a newline is still a line.
                std::memcpy(buf, s->data + s->start, static_cast<size_t>(avail));
                buf[avail] = '\0';
                s->start = s->end;
                return line_result::line;
            }
            return line_result::eof;
        }
        if (s->start > 0) {
            std::memmove(s->data, s->data + s->start, static_cast<size_t>(s->end - s->start));
            s->end -= s->start;
            s->start = 0;
        }
        double left = deadline - now_mono();
        if (left <= 0) return line_result::timeout;
        // A far deadline (no limit) is waited for a day at a time.
        const int ms = static_cast<int>(std::min(left, 86400.0) * 1000.0 + 0.999);
        int r = stoppable && stop_flag ? poll_stoppable(fd, ms) : poll_one(fd, POLLIN, ms);
        if (r == 0) continue;  // the deadline test above decides
        if (r == -2) return line_result::stopped;
        if (r < 0) return line_result::error;
        ssize_t n = read(fd, s->data + s->end, sizeof s->data - static_cast<size_t>(s->end));
        if (n > 0) {
            s->end += static_cast<int32_t>(n);
        } else if (n == 0) {
            s->eof = 1;
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            if (u_trace_on(5))
                PRINT('t', "uex5990", "read() returned -1. errno=%d %s\n", errno, strerror(errno));
            return line_result::error;
        }
    }
}

}  // namespace

int pcc_format_1num(char* dst, int value, int width) {
    if (width <= 0) return 0;
    char digits[16];
    int n = snprintf(digits, sizeof digits, "%d", value);
    if (n > width) {
        PRINT('e', "uex4900", "Truncated digits in conversion. was=%d\n", value);
        std::memcpy(dst, digits, static_cast<size_t>(width));
        return 0;
    }
    std::memset(dst, '0', static_cast<size_t>(width - n));
    std::memcpy(dst + (width - n), digits, static_cast<size_t>(n));
    return 0;
}

namespace {

// The bodies of pcc_format, one a record letter; each takes its arguments from ap.

// !C: the column's name, type letter and width.
void format_column(char* buf, va_list ap) {
    const char* name = va_arg(ap, const char*);
    int type = va_arg(ap, int);
    int length = va_arg(ap, int);
    put_padded(buf + 3, name, 32);
    buf[35] = ' ';
    buf[36] = upper(type);
    buf[37] = ' ';
    pcc_format_1num(buf + 38, length, 4);
    buf[42] = '\0';
}

// !I S: the statement's return code, supplied id, server error, cursor and connected flag.
void format_info_status(char* buf, va_list ap) {
    int rc = va_arg(ap, int);
    int supplied = va_arg(ap, int);
    int dberr = va_arg(ap, int);
    const char* cursor = va_arg(ap, const char*);
    int connected = va_arg(ap, int);
    pcc_format_1num(buf + 5, rc, 4);
    buf[9] = ' ';
    pcc_format_1num(buf + 10, supplied, 4);
    buf[14] = ' ';
    pcc_format_1num(buf + 15, dberr, 8);
    buf[23] = ' ';
    put_padded(buf + 24, cursor, 8);
    buf[32] = ' ';
    buf[33] = upper(connected);
    buf[34] = '\0';
}

// !I and its sub-letter: the result's shape (I), an option (P) or the status (S).
void format_info(char* buf, va_list ap) {
    int sub = va_arg(ap, int);
    buf[3] = static_cast<char>(sub);
    if (sub == 'I') {
        int cols = va_arg(ap, int);
        int size = va_arg(ap, int);
        pcc_format_1num(buf + 5, cols, 4);
        buf[9] = ' ';
        pcc_format_1num(buf + 10, size, 4);
        buf[14] = '\0';
    } else if (sub == 'P') {
        buf[5] = upper(va_arg(ap, int));
        buf[6] = '\0';
    } else if (sub == 'S') {
        format_info_status(buf, ap);
    } else {
        buf[35] = '\0';
    }
}

// !M: message id and severity, then the text the format makes of the remaining arguments.
void format_message(char* buf, va_list ap) {
    int severity = va_arg(ap, int);
    const char* msgid = va_arg(ap, const char*);
    const char* format = va_arg(ap, const char*);
    int pos = 3;
    for (const char* p = msgid ? msgid : ""; *p && pos < pcc_line_max - 2; ++p)
        buf[pos++] = upper(*p);
    buf[pos++] = upper(severity);
    buf[pos++] = ' ';
    int room = pcc_line_max - pos + 1;  // vsnprintf counts the NUL
    int n = format ? vsnprintf(buf + pos, static_cast<size_t>(room), format, ap) : 0;
    if (n < 0) n = 0;
    if (n >= room) PRINT('w', "uex4910", "Record text cut at %d characters.\n", pcc_line_max);
    if (!format) buf[pos] = '\0';
}

// !S and its sub-letter: a 16-character name (D, P with the rest of the text) or a text.
void format_sql(char* buf, va_list ap) {
    int sub = va_arg(ap, int);
    const char* text = va_arg(ap, const char*);
    buf[3] = static_cast<char>(sub);
    if (sub == 'D' || sub == 'P') {
        put_padded(buf + 5, text, 16);
        buf[21] = '\0';
        if (sub == 'P') {
            const char* rest = va_arg(ap, const char*);
            if (rest && *rest) {
                buf[21] = ' ';
                put_tail(buf, 22, rest);
            }
        }
    } else if (text) {
        put_tail(buf, 5, text);
    } else {
        buf[5] = '\0';
    }
}

// !X and its sub-letter: a number (I, R), nothing (X) or a 50-character text.
void format_exit(char* buf, va_list ap) {
    int sub = va_arg(ap, int);
    buf[3] = static_cast<char>(sub);
    std::memset(buf + 5, ' ', 50);
    if (sub == 'I' || sub == 'R') {
        pcc_format_1num(buf + 5, va_arg(ap, int), 4);
    } else if (sub != 'X') {
        put_padded(buf + 5, va_arg(ap, const char*), 50);
    }
    buf[55] = '\0';
}

}  // namespace

int pcc_format(char* buf, int id, ...) {
    buf[0] = '!';
    buf[1] = static_cast<char>(id);
    buf[2] = ' ';
    std::memset(buf + 3, ' ', 10);
    if (!std::isupper(static_cast<unsigned char>(id))) return 0;

    va_list ap;
    va_start(ap, id);
    switch (id) {
        case 'A':
        case 'Z':
            buf[2] = '\0';
            break;
        case 'D':
        case 'O':
            put_tail(buf, 3, va_arg(ap, const char*));
            break;
        case 'C':
            format_column(buf, ap);
            break;
        case 'I':
            format_info(buf, ap);
            break;
        case 'M':
            format_message(buf, ap);
            break;
        case 'S':
            format_sql(buf, ap);
            break;
        case 'X':
            format_exit(buf, ap);
            break;
        default:
            // Letters without a known body: the caller completes and terminates the line.
            break;
    }
    va_end(ap);
    return 0;
}

namespace {

// The positions the formatter writes are those of the record structure.
static_assert(offsetof(parentChildComm, u.col.type) == 36);
static_assert(offsetof(parentChildComm, u.col.length) == 38);
static_assert(offsetof(parentChildComm, u.info.u.s.supplied_id) == 10);
static_assert(offsetof(parentChildComm, u.info.u.s.cursor) == 24);
static_assert(offsetof(parentChildComm, u.info.u.s.connected) == 33);
static_assert(offsetof(parentChildComm, u.sql.u.p.rest) == 22);
static_assert(offsetof(parentChildComm, u.cmd.u.parms) == 5);

// The text from byte pos; "" when the line ends before it.
const char* from_byte(const char* line, size_t len, size_t pos) {
    return len > pos ? line + pos : "";
}

// The number field of width characters at pos (see the header for what reads).
bool read_number(const char* line, size_t len, int pos, int width, int* value) {
    if (len < static_cast<size_t>(pos + width)) return false;
    long v = 0;
    bool negative = false;
    for (int i = 0; i < width; ++i) {
        char ch = line[pos + i];
        if (ch == '-' && !negative && v == 0) {
            negative = true;
        } else if (ch >= '0' && ch <= '9') {
            v = v * 10 + (ch - '0');
        } else if (ch != ' ') {
            return false;
        }
    }
    *value = static_cast<int>(negative ? -v : v);
    return true;
}

// Copies the field of width characters at pos (what the line holds of it) without its
// trailing blanks; dst has room for width characters and a terminator.
void read_name(char* dst, const char* line, size_t len, size_t pos, size_t width) {
    size_t n = len > pos ? std::min(width, len - pos) : 0;
    while (n > 0 && line[pos + n - 1] == ' ') --n;
    if (n > 0) std::memcpy(dst, line + pos, n);
    dst[n] = '\0';
}

// The header when line is a record of letter id (and, unless 0, sub-type type).
bool is_record(const char* line, char id, char type = 0) {
    pcc_header h;
    return pcc_parse_header(line, &h) == 0 && h.id == id && (type == 0 || h.type == type);
}

}  // namespace

int pcc_parse_header(const char* line, pcc_header* out) {
    *out = pcc_header{};
    if (line == nullptr || line[0] != '!') return 1;
    out->id = line[1];
    if ((out->id == 'I' || out->id == 'S' || out->id == 'X') && std::strlen(line) > 3)
        out->type = line[3];
    return 0;
}

const char* pcc_parse_text(const char* line) { return from_byte(line, std::strlen(line), 3); }

char* pcc_parse_data(char* line) {
    if (std::strlen(line) < 3) line[3] = '\0';
    return line + 3;
}

int pcc_parse_message(const char* line, pcc_message* out) {
    *out = pcc_message{0, ""};
    if (!is_record(line, 'M')) return 1;
    const size_t len = std::strlen(line);
    if (len > 10) out->type = line[10];
    out->text = from_byte(line, len, 3);
    return 0;
}

int pcc_parse_status(const char* line, pcc_status* out) {
    *out = pcc_status{};
    out->connected = ' ';
    if (!is_record(line, 'I', 'S')) return 1;
    const size_t len = std::strlen(line);
    int v = 0;
    if (read_number(line, len, 5, 4, &v)) out->return_code = v;
    if (read_number(line, len, 10, 4, &v)) out->supplied_id = v;
    if (read_number(line, len, 15, 8, &v)) out->db_error_code = v;
    read_name(out->cursor, line, len, 24, 8);
    if (len > 33) out->connected = line[33];
    return 0;
}

int pcc_parse_sizes(const char* line, pcc_sizes* out) {
    *out = pcc_sizes{};
    if (!is_record(line, 'I', 'I')) return 1;
    const size_t len = std::strlen(line);
    return read_number(line, len, 5, 4, &out->num_cols) &&
                   read_number(line, len, 10, 4, &out->row_size)
               ? 0
               : 1;
}

int pcc_parse_column(const char* line, pcc_column* out) {
    *out = pcc_column{};
    if (!is_record(line, 'C')) return 1;
    const size_t len = std::strlen(line);
    if (len < 42 || !read_number(line, len, 38, 4, &out->length)) return 1;
    read_name(out->name, line, len, 3, 32);
    out->type = line[36];
    return 0;
}

int pcc_parse_sql(const char* line, pcc_sql* out) {
    *out = pcc_sql{0, "", ""};
    pcc_header h;
    if (pcc_parse_header(line, &h) != 0 || h.id != 'S') return 1;
    const size_t len = std::strlen(line);
    out->type = h.type;
    out->text = from_byte(line, len, 5);
    out->rest = from_byte(line, len, 22);
    return 0;
}

int pcc_parse_command(const char* line, pcc_command* out) {
    *out = pcc_command{0, "", ""};
    pcc_header h;
    if (pcc_parse_header(line, &h) != 0 || h.id != 'X') return 1;
    out->type = h.type;
    out->parms = from_byte(line, std::strlen(line), 5);
    std::snprintf(out->name, sizeof out->name, "%.9s", out->parms);
    return 0;
}

int getReadWaitTime() {
    if (grwtSec > 0) return grwtSec;
    int sec = 0;
    if (const char* v = std::getenv("COLL_WAIT_TIMEOUT")) sec = std::atoi(v);
    if (sec < 1 || sec > 120) sec = u_trace_on(7) ? 20 : 5;
    grwtSec = sec;
    return grwtSec;
}

int pcc_send_sql(char* line, execopt* opts) {
    int fd = -1;
    if (u_exec_get_fh(&fd, nullptr, opts) & 5) {
        u_msg(nullptr, __FILE__, __LINE__, "w", "uex4920", "No pipe handle for child stdin.");
        return 10;
    }
    if (u_trace_on(5)) PRINT('t', "uex4922", "Sending '%.100s'\n", line);
    size_t len = std::strlen(line);
    line[len] = '\n';
    line[len + 1] = '\0';
    size_t want = len + 1;
    // The write end is non-blocking: a full pipe is waited for one second at a time, at
    // most eight attempts in all; a child that has gone gives EPIPE (SIGPIPE is ignored).
    for (int attempt = 1;; ++attempt) {
        ssize_t n = write(fd, line, want);
        if (n >= 0) {
            if (static_cast<size_t>(n) < want) {
                u_msg(nullptr, __FILE__, __LINE__, "w", "uex4960",
                      "Only %d bytes of %d were written", static_cast<int>(n),
                      static_cast<int>(want));
                return 2;
            }
            return 0;
        }
        int err = errno;
        if (err == EINTR) {
            --attempt;
            continue;
        }
        if (u_trace_on(5))
            PRINT('t', "uex4940", "write() returned -1. errno=%d %s\n", err, strerror(err));
        if (err != EAGAIN && err != EWOULDBLOCK) return 104;
        if (attempt >= 8) return 104;
        poll_one(fd, POLLOUT, 1000);
    }
}

int pcc_receive_sql(char* buf, execopt* opts) {
    std::memset(buf, ' ', 13);
    createProcessComm* cpc = opts ? opts->ihandle : nullptr;
    int fd = -1;
    if (!cpc || (u_exec_get_fh(nullptr, &fd, opts) & 2)) {
        u_msg(nullptr, __FILE__, __LINE__, "w", "uex5900", "Could not get fd");
        buf[1] = '\0';
        return 0;
    }
    if (!cpc->outStream) {
        cpc->outStream = static_cast<pcc_stream*>(U_MALLOC(sizeof(pcc_stream)));
        std::memset(cpc->outStream, 0, sizeof(pcc_stream));
    }
    double deadline = now_mono() + getReadWaitTime();
    switch (read_line(cpc->outStream, fd, buf, deadline)) {
        case line_result::line:
            opts->processRC = pRC_ok;
            break;
        case line_result::timeout:
            // Reads as the end of the answer, as it always did; processRC tells the caller
            // that the answer may be incomplete.
            opts->processRC = pRC_timedout;
            buf[1] = 'Z';
            buf[2] = '\0';
            break;
        case line_result::eof:
        case line_result::error:
        case line_result::skipped:
        case line_result::stopped:
            buf[0] = '\0';
            buf[1] = '\0';
            break;
    }
    return static_cast<unsigned char>(buf[1]);
}

int pcc_send_collector(const char* line, FILE* stream) {
    if (u_trace_on(7)) PRINT('t', "uex5987", "sending to collector: %.70s\n", line);
    if (fprintf(stream, "%s\n", line) < 0 || fflush(stream) != 0) {
        int err = errno;
        if (trace_all)
            PRINT('e', "uex5988", "fprint to collector failed, errno %d %s\n", err, strerror(err));
        return 4;
    }
    return 0;
}

int pcc_receive_collector(char* buf) {
    for (;;) {
        errno = 0;
        if (!fgets(buf, pcc_line_max + 2, stdin)) {
            if (ferror(stdin)) {
                int err = errno;
                if (err == EINTR) {
                    clearerr(stdin);
                    continue;
                }
                u_msg(nullptr, __FILE__, __LINE__, "e", "uex5993",
                      "Error reading from stdin pipe.  errno=%d %s", err, strerror(err));
                u_exit(2);
            }
            buf[0] = '\0';
            buf[1] = '\0';
            return 0;
        }
        size_t len = std::strlen(buf);
        if (len > static_cast<size_t>(pcc_line_max) && buf[len - 1] != '\n') {
            // More than a record: skip the rest of the line, never read it as a record.
            int c;
            while ((c = fgetc(stdin)) != EOF && c != '\n') {
            }
            PRINT('w', "uex5915",
                  "Line of more than %d characters skipped (longer than a record).\n",
                  pcc_line_max);
            continue;
        }
        if (len >= 2 && buf[len - 1] == '\n') buf[len - 1] = '\0';
        if (u_trace_on(7)) PRINT('t', "uex5995", "read from stdin pipe. '%.70s'\n", buf);
        return static_cast<unsigned char>(buf[1]);
    }
}

namespace {
// The child's own line buffer over its standard input; nothing else reads stdin.
pcc_stream child_in;
}  // namespace

void pcc_receive_collector_restart() { child_in = pcc_stream{}; }

void pcc_receive_collector_stop(volatile sig_atomic_t* flag, const sigset_t* wait_mask) {
    stop_flag = flag && wait_mask ? flag : nullptr;
    if (stop_flag) stop_wait_mask = *wait_mask;
}

int pcc_receive_collector_wait(char* buf, int wait_seconds) {
    pcc_stream& in = child_in;
    double deadline = now_mono() + (wait_seconds > 0 ? wait_seconds : 1e12);
    buf[0] = '\0';
    switch (read_line(&in, 0, buf, deadline, true, true)) {
        case line_result::line:
            if (u_trace_on(7)) PRINT('t', "uex5995", "read from stdin pipe. '%.70s'\n", buf);
            return pcc_read_line;
        case line_result::skipped:
            return pcc_read_toolong;
        case line_result::timeout:
            return pcc_read_timeout;
        case line_result::eof:
            return pcc_read_eof;
        case line_result::stopped:
            return pcc_read_stopped;
        case line_result::error:
            break;
    }
    int err = errno;
    u_msg(nullptr, __FILE__, __LINE__, "e", "uex5993",
          "Error reading from stdin pipe.  errno=%d %s", err, strerror(err));
    return pcc_read_error;
}

int pcc_receive_sql_1(char* buf, int* lenInOut, int fd) {
    ssize_t n;
    do {
        n = read(fd, buf, static_cast<size_t>(*lenInOut > 0 ? *lenInOut : 0));
    } while (n < 0 && errno == EINTR);
    if (n < 0 && u_trace_on(5))
        PRINT('t', "uex5990", "read() returned -1. errno=%d %s\n", errno, strerror(errno));
    *lenInOut = static_cast<int>(n);
    return 0;
}

void terminate() {
    u_msg(nullptr, __FILE__, __LINE__, "w", "utx0900", "entered terminate -- why?");
}
