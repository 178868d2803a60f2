// The two writers (u_msg and PRINT), the log file with its backups and wrap, and the
// formatting aids of dumps.
#include "runtime/msg.h"

#include <fcntl.h>
#include <stdio_ext.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "runtime/alloc.h"
#include "runtime/dates.h"
#include "runtime/env.h"
#include "runtime/files.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

FILE* stder = nullptr;
char stder_filename[1024] = "";
FILE* my_stdout = nullptr;
char* msgPrefix = nullptr;
int NumberOfCollectors = 0;
int PRINTopenerr = 0;  // failed log openings

namespace {

constexpr size_t kMsgHeader = 88;
constexpr size_t kMsgBody = 7000;
constexpr size_t kPrintHeader = 50;
constexpr size_t kPrintBody = 4000;
constexpr char kFormatError[] = " *** vsprintf error **** ";

int u_msg_count = 0;     // lines u_msg wrote to the current log
int print_count = 0;     // lines PRINT wrote to the current log
int LINE_LIMIT = -1;     // messages per log file; -1 until read
int noWrapBackups = -1;  // backups kept when the log is opened; -1 until read

inline int uc(char c) { return static_cast<unsigned char>(c); }

// Appends formatted text to a bounded buffer; the text is cut at the buffer's end.
void append(char* buf, size_t cap, size_t* len, const char* fmt, ...)
    __attribute__((format(printf, 4, 5)));
void append(char* buf, size_t cap, size_t* len, const char* fmt, ...) {
    if (*len + 1 >= cap) return;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf + *len, cap - *len, fmt, ap);
    va_end(ap);
    if (n > 0) *len = std::min(cap - 1, *len + static_cast<size_t>(n));
}

// Formats the body into buf. A result below 1 becomes the error text; a line that did not
// fit is marked with "...\n" at its end. Returns vsnprintf's count.
int format_body(char* buf, size_t cap, const char* format, va_list ap) {
    int n = format ? vsnprintf(buf, cap, format, ap) : -1;
    if (n < 1) {
        std::snprintf(buf, cap, "%s", kFormatError);
    } else if (static_cast<size_t>(n) >= cap) {
        std::memcpy(buf + cap - 5, "...\n", 5);
    }
    return n;
}

// Reads a decimal number from the environment; an unset or empty variable gives fallback.
long env_number(const char* name, long fallback) {
    const char* v = std::getenv(name);
    if (!v || !*v) return fallback;
    return std::strtol(v, nullptr, 10);
}

void set_prefix(const char* id) {
    if (msgPrefix) U_FREE(msgPrefix);
    msgPrefix = nullptr;
    if (id && *id) msgPrefix = alloc_str(id);
}

// Header of a u_msg line (without the collector name).
// What a message type letter (already upper-case) does to the line, the same for u_msg and
// PRINT: the letter shown in the header, a time stamp, a flush, an echo to the terminal.
// '@' and '-' are handled by each caller.
struct TypeEffect {
    char letter;
    bool time = false;
    bool flush = false;
    bool echo = false;
};

TypeEffect type_effect(char type) {
    TypeEffect e{type};
    switch (type) {
        case 'H':
            e.letter = 'T';
            e.time = true;
            e.flush = true;
            break;
        case 'T':
            e.time = true;
            e.flush = true;
            break;
        case 'I':
        case 'W':
            break;
        case 'E':
        case 'S':
            e.flush = true;
            e.echo = true;
            break;
        case 'A':
            e.echo = true;
            e.letter = 'I';
            break;
        default:
            e.echo = true;
            break;
    }
    return e;
}

struct MsgHeader {
    bool on = true;
    bool time = false;
    bool position = true;
    bool upper = true;
    const char* id = "";
    const char* ready = nullptr;  // type X: the first nine characters of the ready text
    char letter = 'T';
};

size_t build_msg_header(char* out, size_t cap, const MsgHeader& h, const char* source_file,
                        int line) {
    size_t len = 0;
    out[0] = '\0';
    if (!h.on) return 0;
    append(out, cap, &len, "%s", h.id);
    if (h.ready)
        append(out, cap, &len, "%.9s", h.ready);
    else
        append(out, cap, &len, "%c ", h.letter);
    if (h.time) {
        char hhmmss[8];
        append(out, cap, &len, "(%s) ", u_local_time(hhmmss));
    }
    if (h.position && source_file) {
        char base[1023];
        if (!u_pfilen(source_file, nullptr, nullptr, base, nullptr, nullptr)) base[0] = '\0';
        append(out, cap, &len, "%s(%d) ", base, line);
    }
    if (h.upper) u_strupper(out);
    return len;
}

// Writes one finished line: to the log, or without a log to standard output (echo off)
// or standard error (echo on). Returns the count the write reported.
bool channel_lines = false;
// Lines that no log takes go to standard error (u_msg_on_stderr).
bool lines_on_stderr = false;

// A message as one record of the parent-child channel on standard output: prefix, header
// and body on one line, control characters (an embedded newline too) as blanks, cut to a
// record of 3000 characters ending in "...".
int write_channel_line(const char* header, const char* body) {
    constexpr size_t kRecord = 3000;
    char line[kRecord + 1];
    int n = std::snprintf(line, sizeof line, "%s%s%s", msgPrefix ? msgPrefix : "", header, body);
    size_t len = n < 0 ? 0 : std::min(static_cast<size_t>(n), kRecord);
    while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) --len;
    if (n > 0 && static_cast<size_t>(n) > kRecord && len == kRecord)
        std::memcpy(line + kRecord - 3, "...", 3);
    line[len] = '\0';
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (c < 0x20 || c == 0x7f) line[i] = ' ';
    }
    int count = std::fprintf(stdout, "%s\n", line);
    std::fflush(stdout);
    return count;
}

// ---- the log file: whole lines, written at once, on a file that still has its name ----

FILE* own_log = nullptr;  // the stream u_openPRINTfile opened (not one a caller set)
dev_t own_dev = 0;        // and the file it opened, so that another stream that happens to
ino_t own_ino = 0;        // take its address later is never taken for it

void remember_own(FILE* f) {
    own_log = f;
    struct stat st {};
    if (f && fstat(fileno(f), &st) == 0) {
        own_dev = st.st_dev;
        own_ino = st.st_ino;
    } else {
        own_log = nullptr;
    }
}
// Lines the log could not take since the last one it took, and the stream and file that
// could not take them. The file tells a stream apart from a later one that reuses the
// address of a closed stream: those lines were not lost on the later one.
long lost_lines = 0;
FILE* lost_on = nullptr;
dev_t lost_dev = 0;
ino_t lost_ino = 0;

// True when f is the stream, on the same file, that the lost lines were counted on.
bool lost_on_stream(FILE* f) {
    struct stat st {};
    return f != nullptr && f == lost_on && fstat(fileno(f), &st) == 0 && st.st_dev == lost_dev &&
           st.st_ino == lost_ino;
}

// The lost lines are counted on f from now on.
void lost_move_to(FILE* f) {
    struct stat st {};
    lost_on = f;
    if (f != nullptr && fstat(fileno(f), &st) == 0) {
        lost_dev = st.st_dev;
        lost_ino = st.st_ino;
    } else {
        lost_on = nullptr;
    }
}

// One more line that f could not take.
void lost_one_on(FILE* f) {
    if (!lost_on_stream(f)) lost_lines = 0;  // another stream: nothing lost on it yet
    ++lost_lines;
    lost_move_to(f);
}
double next_name_check = 0;

double mono_seconds() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Writes all of text to fd, or nothing: a write cut short (a full device, a file size
// limit) is taken back, so a later line never joins a cut one. True when all went out.
bool write_whole(int fd, const char* text, size_t len) {
    size_t done = 0;
    while (done < len) {
        ssize_t n = write(fd, text + done, len - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    if (done == len) return true;
    if (done > 0) {
        const off_t at = lseek(fd, 0, SEEK_CUR);
        if (at >= static_cast<off_t>(done)) {
            const off_t start = at - static_cast<off_t>(done);
            if (ftruncate(fd, start) == 0) lseek(fd, start, SEEK_SET);
        }
    }
    return false;
}

// Opens the log's name again when its directory entry is gone or names another file (the
// directory removed and made again, the file moved away): lines written to a file without
// a name reach nobody. Looked at once a second, on the log u_openPRINTfile opened.
void reopen_if_gone() {
    if (!stder || stder != own_log || !stder_filename[0]) return;
    const double now = mono_seconds();
    if (now < next_name_check) return;
    next_name_check = now + 1.0;
    struct stat open_file {};
    struct stat named {};
    if (fstat(fileno(stder), &open_file) != 0) return;
    if (open_file.st_dev != own_dev || open_file.st_ino != own_ino) return;
    if (stat(stder_filename, &named) == 0 && named.st_dev == open_file.st_dev &&
        named.st_ino == open_file.st_ino)
        return;
    int fd = open(stder_filename, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0) return;  // not possible yet: the old file keeps the lines meanwhile
    FILE* fresh = fdopen(fd, "a");
    if (!fresh) {
        close(fd);
        return;
    }
    const bool carry = lost_on_stream(stder);
    std::fflush(stder);
    std::fclose(stder);
    stder = fresh;
    if (carry) lost_move_to(fresh);  // the count goes on in the new file
    remember_own(fresh);
    char header[kMsgHeader + 1];
    MsgHeader h;
    h.id = "cgn5010";
    h.letter = 'I';
    build_msg_header(header, sizeof header, h, __FILE__, __LINE__);
    char line[kMsgHeader + 1100];
    int n = std::snprintf(line, sizeof line, "%sLog file %s was gone: opened anew\n", header,
                          stder_filename);
    if (n > 0) write_whole(fd, line, std::min(static_cast<size_t>(n), sizeof line - 1));
}

// One line to the log with one write, flushed at once: a line of any severity reaches the
// file whole or not at all. Returns the characters written, 0 when the log did not take it.
int write_log_line(const char* header, const char* body) {
    reopen_if_gone();
    if (__fpending(stder) > 0) std::fflush(stder);  // what went into the stream directly
    const int fd = fileno(stder);
    if (fd < 0) return 0;
    if (!lost_on_stream(stder)) lost_lines = 0;  // another stream: nothing lost on it yet
    if (lost_lines > 0) {
        char note[160];
        MsgHeader h;
        h.id = "cgn5020";
        h.letter = 'W';
        char head[kMsgHeader + 1];
        build_msg_header(head, sizeof head, h, __FILE__, __LINE__);
        int n = std::snprintf(note, sizeof note, "%s%ld lines could not be written to the log\n",
                              head, lost_lines);
        if (n <= 0 || !write_whole(fd, note, std::min(static_cast<size_t>(n), sizeof note - 1))) {
            ++lost_lines;
            return 0;
        }
        lost_lines = 0;
    }
    char line[kMsgHeader + 128 + kMsgBody + 8];
    int n = std::snprintf(line, sizeof line, "%s%s", header, body);
    if (n <= 0) return 0;
    size_t len = std::min(static_cast<size_t>(n), sizeof line - 1);
    if (len > 0 && static_cast<size_t>(n) > len) line[len - 1] = '\n';
    if (!write_whole(fd, line, len)) {
        lost_one_on(stder);
        return 0;
    }
    return static_cast<int>(len);
}

int write_line(const char* header, const char* body, bool flush, bool echo) {
    int count;
    if (!stder && channel_lines) return write_channel_line(header, body);
    if (!stder && lines_on_stderr) {
        count = std::fprintf(stderr, "%s%s", header, body);
        std::fflush(stderr);
        return count;
    }
    if (stder) {
        count = write_log_line(header, body);
        flush = false;  // written already
    } else if (!echo) {
        count = std::fprintf(stdout, "%s%s%s", msgPrefix ? msgPrefix : "", header, body);
        flush = false;
    } else {
        count = 1;  // nothing written yet: the echo below is the line's only copy
        flush = false;
    }
    if (count > 0) {
        if (flush && stder) std::fflush(stder);
        if (echo) {
            int echoed = std::fprintf(stderr, "%s%s", header, body);
            std::fflush(stderr);
            if (!stder) count = echoed;
        }
    } else {
        std::fprintf(stderr, "+ %s%s", header, body);
    }
    return count;
}

// Name of backup k of the log: the log name with its last character replaced by k.
void backup_name(char* out, size_t cap, int k) {
    size_t n = std::strlen(stder_filename);
    std::snprintf(out, cap, "%.*s%d", static_cast<int>(n ? n - 1 : 0), stder_filename, k);
}

void rotate_backups(int n) {
    char from[1100];
    char to[1100];
    backup_name(to, sizeof to, n);
    std::remove(to);
    for (int k = n - 1; k >= 1; --k) {
        backup_name(from, sizeof from, k);
        backup_name(to, sizeof to, k + 1);
        std::rename(from, to);
    }
    backup_name(to, sizeof to, 1);
    std::rename(stder_filename, to);
}

int read_backup_count() {
    long n = env_number("COLL_NUMOUTBAK", u_trace_on(4) ? 5 : 1);
    if (n < -9)
        n = -n;
    else if (n < 0)
        n = 0;
    else if (n > 9)
        n = 9;
    return static_cast<int>(std::min(n, 9999L));
}

}  // namespace

namespace {
bool muted = false;

// True when a muted writer drops a message of this type letter.
bool muted_out(char type) {
    const char t = static_cast<char>(std::toupper(static_cast<unsigned char>(type)));
    return muted && t != 'S' && t != 'A' && t != '@';
}
}  // namespace

bool u_msg_channel(bool on) {
    const bool old = channel_lines;
    channel_lines = on;
    return old;
}

bool u_msg_on_stderr(bool on) {
    const bool old = lines_on_stderr;
    lines_on_stderr = on;
    return old;
}

bool u_msg_mute(bool on) {
    const bool old = muted;
    muted = on;
    return old;
}

namespace {

// A trace message ("h" and a level) whose level is off.
bool trace_level_off(const char* options) {
    if (!options || (options[0] != 'h' && options[0] != 'H')) return false;
    int level = 0;
    for (const char* d = options + 1; *d >= '0' && *d <= '9' && level < 100; ++d)
        level = level * 10 + (*d - '0');
    return level > 9 || my_trace_all[level] == 0;
}

// How one u_msg line is written: its header, a flush, an echo to the terminal.
struct MsgStyle {
    MsgHeader h;
    bool flush = false;
    bool echo = false;
};

// Type X: a ready text whose first nine characters stand in the header (its eighth the
// type letter, into *type) when there is a header; the body follows them. The body.
const char* take_ready_text(MsgHeader& h, const char* format, char* type) {
    const char* ready = format ? format : "";
    if (!h.on || std::strlen(ready) < 9) return ready;
    h.ready = ready;
    *type = static_cast<char>(std::toupper(uc(ready[7])));
    return ready + 9;
}

// The type letter's effect on the line ('@' is handled by the caller).
void apply_type(char type, MsgStyle& s) {
    s.h.letter = type;
    if (type == '-') {
        s.h.on = false;
        return;
    }
    TypeEffect e = type_effect(type);
    s.h.letter = e.letter;
    s.h.time = e.time;
    s.flush = e.flush;
    s.echo = e.echo;
}

// The option letters after the type, each turning one thing on or off. False when one
// ('-') drops the line; '*' aborts the process.
bool apply_option_letters(const char* rest, MsgStyle& s) {
    for (const char* o = rest; *o; ++o) {
        switch (*o) {
            case 'h':
                s.h.on = true;
                break;
            case 'H':
                s.h.on = false;
                break;
            case 't':
                s.h.time = true;
                break;
            case 'T':
                s.h.time = false;
                break;
            case 'p':
                s.h.position = true;
                break;
            case 'P':
                s.h.position = false;
                break;
            case 'l':
                s.echo = true;
                break;
            case 'L':
                s.echo = false;
                break;
            case 'f':
                s.flush = true;
                break;
            case 'F':
                s.flush = false;
                break;
            case 'u':
                s.h.upper = false;
                break;
            case '-':
                return false;
            case '*':
                std::abort();
            default:
                break;
        }
    }
    return true;
}

// The line's body: the ready text, or the format filled from ap; it ends in a newline.
// The count u_msg returns.
int message_body(char (&body)[kMsgBody], const char* ready_body, const char* format, va_list ap) {
    int result;
    if (ready_body) {
        std::snprintf(body, sizeof body, "%s", ready_body);
        result = static_cast<int>(std::strlen(body));
        if (result < 1) std::snprintf(body, sizeof body, "%s", kFormatError);
    } else {
        result = format_body(body, sizeof body, format, ap);
        if (result < 1) result = static_cast<int>(std::strlen(body));
    }
    size_t blen = std::strlen(body);
    if (body[blen - 1] != '\n') {
        if (blen + 1 >= sizeof body) --blen;
        body[blen] = '\n';
        body[blen + 1] = '\0';
    }
    return result;
}

}  // namespace

int u_msg(const char* coll_name, const char* source_file, int line, const char* options,
          const char* id, const char* format, ...) {
    if (muted_out(options && *options ? options[0] : 'T')) return 1;
    // A trace message whose level is off returns before anything else is looked at.
    if (trace_level_off(options)) return 1;
    MsgStyle s;
    if (!id || !*id || *id == ' ')
        s.h.on = false;
    else
        s.h.id = (*id == '.') ? id + 1 : id;

    char type = 'T';
    const char* rest = "";
    if (options && *options) {
        type = static_cast<char>(std::toupper(uc(options[0])));
        rest = options + 1;
    }
    const char* ready_body = type == 'X' ? take_ready_text(s.h, format, &type) : nullptr;
    if (type == '@') {
        set_prefix(id);
        return 0;
    }
    // Its trace level was tested on entry, unless the type came from a ready text.
    if (type == 'H' && ready_body && !u_trace_on(std::isdigit(uc(*rest)) ? std::atoi(rest) : 0))
        return 1;
    apply_type(type, s);
    if (!apply_option_letters(rest, s)) return 0;

    char body[kMsgBody];
    va_list ap;
    va_start(ap, format);
    int result = message_body(body, ready_body, format, ap);
    va_end(ap);

    if (stder) check_limit(&stder, nullptr, &u_msg_count);

    char header[kMsgHeader + 1 + 128];
    size_t hlen = build_msg_header(header, kMsgHeader + 1, s.h, source_file, line);
    if (s.h.on && coll_name && (NumberOfCollectors >= 2 || u_trace_on(6)))
        append(header, sizeof header, &hlen, "%s ", coll_name);

    write_line(header, body, s.flush, s.echo);
    return result;
}

int PRINT(char type, const char* tag, const char* format, ...) {
    // A trace line whose level is off returns before anything else is looked at.
    if ((type == 'h' || type == 'H') && my_trace_all[0] == 0) return 1;
    if (muted_out(type)) return 1;
    char t = static_cast<char>(std::toupper(uc(type)));
    bool header_on = tag && *tag && *tag != ' ';
    bool flush = false;
    bool echo = false;
    char letter = t;
    switch (t) {
        case '@':
            set_prefix(tag);
            return 0;
        case '-':
            header_on = false;
            break;
        default: {  // 'H': its trace level was tested on entry
            TypeEffect e = type_effect(t);
            letter = e.letter;
            flush = e.flush;
            echo = e.echo;
            break;
        }
    }

    char body[kPrintBody];
    va_list ap;
    va_start(ap, format);
    format_body(body, sizeof body, format, ap);
    va_end(ap);

    if (stder) check_limit(&stder, nullptr, &print_count);

    char header[kPrintHeader + 1];
    size_t hlen = 0;
    header[0] = '\0';
    if (header_on) {
        if (*tag == '.') {
            append(header, sizeof header, &hlen, "%s", tag + 1);
        } else {
            char hhmmss[8];
            append(header, sizeof header, &hlen, "%s%c (%s) ", tag, letter, u_local_time(hhmmss));
            u_strupper(header);
        }
    }
    return write_line(header, body, flush, echo);
}

char* u_createOutputFileName(char* buffer, const char* base) {
    static char shared[1024];
    char* out = buffer ? buffer : shared;
    size_t len = 0;
    out[0] = '\0';
    auto set = [](const char* s) { return s && *s; };
    if (set(env_vars.coll_out)) append(out, 1024, &len, "%s/", env_vars.coll_out);
    if (set(env_vars.hostname)) append(out, 1024, &len, "%s_", env_vars.hostname);
    if (set(env_vars.db_type)) append(out, 1024, &len, "%s_", env_vars.db_type + 1);
    if (set(env_vars.serverid)) append(out, 1024, &len, "%s_", env_vars.serverid);
    append(out, 1024, &len, "%s", base ? base : "");
    return out;
}

FILE* u_openPRINTfile(const char* base) {
    if (noWrapBackups < 0) noWrapBackups = read_backup_count();
    if (!base) base = "col.out";
    if (!stder_filename[0]) u_createOutputFileName(stder_filename, base);
    if (stder) {
        // Opening again replaces the open log; the old stream would otherwise be lost.
        std::fclose(stder);
        stder = nullptr;
    }
    if (noWrapBackups > 0) rotate_backups(noWrapBackups);

    stder = std::fopen(stder_filename, "we");
    remember_own(stder);
    next_name_check = 0;
    if (stder) return stder;

    if (PRINTopenerr == 0)
        std::printf("CAT1995E - Can't open message ouput file: %s\n", stder_filename);
    ++PRINTopenerr;
    stder_filename[0] = '\0';
    if (PRINTopenerr < 2) return u_openPRINTfile("colx.out");
    return nullptr;
}

int check_limit(FILE** stream, const char* base, int* counter) {
    if (!stream || !*stream || !counter) return 0;
    if (LINE_LIMIT < 0) {
        long limit = env_number("COLL_WRAPLINES", 30000);
        LINE_LIMIT = limit < 0 ? 0 : static_cast<int>(std::min(limit, 2147483647L));
    }
    int before = (*counter)++;
    if (LINE_LIMIT == 0 || before < LINE_LIMIT) return 0;

    *counter = 0;
    const bool carry = lost_on_stream(*stream);
    std::fclose(*stream);
    if (stream == &stder) stder = nullptr;
    FILE* fresh = u_openPRINTfile(base);
    *stream = fresh;
    if (carry) lost_move_to(fresh);  // the count goes on in the new file
    if (fresh) {
        // Straight to the file, outside every count: counted, it could wrap and rotate again.
        MsgHeader h;
        h.id = "cgn5000";
        h.letter = 'I';
        char header[kMsgHeader + 1];
        build_msg_header(header, sizeof header, h, __FILE__, __LINE__);
        char when[49];
        char text[kMsgHeader + 100];
        int n = std::snprintf(text, sizeof text, "%s       File wrapped -- %s\n", header,
                              u_get_time(when, 2));
        if (n > 0 &&
            !write_whole(fileno(fresh), text, std::min(static_cast<size_t>(n), sizeof text - 1)))
            lost_one_on(fresh);
    }
    return 0;
}

int u_openSTDOUTfile(int /*flag*/) {
    char name[1024];
    u_createOutputFileName(name, "col.log");
    // Opened beside standard output first, so that a failure leaves standard output alone.
    int fd = open(name, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return 1;
    std::fflush(stdout);
    int rc = dup2(fd, STDOUT_FILENO);
    close(fd);
    if (rc < 0) return 1;
    my_stdout = stdout;
    return 0;
}

char* u_local_time(char* buffer) {
    static char shared[8];
    char* out = buffer ? buffer : shared;
    struct tm rec;
    u_localtime(nullptr, &rec);
    if (std::snprintf(out, 8, "%02d%02d%02d", rec.tm_hour, rec.tm_min, rec.tm_sec) < 0)
        out[0] = '\0';
    return out;
}

char* u_printable(char* out, const void* in, int length, const char* mode) {
    if (!in || !out) return nullptr;
    const unsigned char* bytes = static_cast<const unsigned char*>(in);
    bool compact = mode && std::tolower(uc(mode[0])) == 'c';
    constexpr int kMaxTaken = 151;
    int examined = 0;
    int taken = 0;
    int run = 0;
    int longest_run = 0;
    bool in_substituted = false;
    size_t o = 0;
    while (examined < length && taken < kMaxTaken && o < kMaxTaken) {
        unsigned char c = bytes[examined++];
        bool copied = std::isalnum(c) || (c != '\0' && std::strchr("\\/,()\"'=-$#", c));
        if (copied) {
            out[o++] = static_cast<char>(c);
            ++taken;
            longest_run = std::max(longest_run, ++run);
            in_substituted = false;
            continue;
        }
        run = 0;
        bool white = std::isspace(c);
        if (white) ++taken;
        if (compact && in_substituted) continue;
        out[o++] = white ? ' ' : '.';
        in_substituted = true;
    }
    out[o] = '\0';
    if (compact && longest_run < 4 && taken * 2 <= examined)
        u_hex_format(out, in, std::min(length, 32));
    return out;
}

char* u_hex_format(char* out, const void* in, int length) {
    if (!in || !out) return nullptr;
    static const char kDigits[] = "0123456789ABCDEF";
    const unsigned char* bytes = static_cast<const unsigned char*>(in);
    size_t o = 0;
    for (int i = 0; i < length; ++i) {
        if (i > 0 && i % 4 == 0) out[o++] = ' ';
        out[o++] = kDigits[bytes[i] >> 4];
        out[o++] = kDigits[bytes[i] & 0x0f];
    }
    out[o] = '\0';
    return out;
}

uint32_t u_hex2long(const char* text, const char* /*other*/) {
    if (!text) return 0;
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '"') ++p;
    uint32_t value = 0;
    for (; std::isxdigit(uc(*p)); ++p) {
        int c = uc(*p);
        uint32_t digit = std::isdigit(c) ? static_cast<uint32_t>(c - '0')
                                         : static_cast<uint32_t>(std::tolower(c) - 'a' + 10);
        value = value * 16u + digit;
    }
    return value;
}

void u_print_dumpx(const char* label, const void* buffer, int length) {
    if (!buffer) return;
    if (!label) label = "upx0100";
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    for (int offset = 0; offset < length; offset += 16) {
        int n = std::min(16, length - offset);
        char hex[40];
        char readable[160];
        u_hex_format(hex, bytes + offset, n);
        u_printable(readable, bytes + offset, n, "x");
        u_msg(nullptr, __FILE__, __LINE__, "tTP", label, "%03x: %-*s *%s*\n", offset, 35, hex,
              readable);
    }
}

int u_print_record(const void* buffer, int length) {
    if (!buffer) return 0;
    const unsigned char* bytes = static_cast<const unsigned char*>(buffer);
    constexpr size_t kWidth = 78;
    char line[kWidth + 2];
    size_t n = 0;
    int shown = 0;
    bool in_run = false;
    auto flush_line = [&] {
        line[n] = '|';
        line[n + 1] = '\0';
        std::puts(line);
        n = 0;
    };
    for (int i = 0; i < length; ++i) {
        unsigned char c = bytes[i];
        char show;
        if (std::isalnum(c) || std::ispunct(c)) {
            show = static_cast<char>(c);
            in_run = false;
        } else {
            if (in_run) continue;
            in_run = true;
            show = c == '\n' ? '\\' : c == '\0' ? '~' : std::isspace(c) ? ' ' : '.';
        }
        if (n == kWidth) flush_line();
        line[n++] = show;
        ++shown;
    }
    if (n > 0) flush_line();
    return shown;
}

void u_init_lock() {}

void u_dump_tracem() {}
