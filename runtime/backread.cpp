#include "runtime/backread.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

constexpr int32_t kMaxCarry = 1 << 20;  // longest line the reader will put together
constexpr int kForwardBytes = 1024;     // bytes a forward step reads past the block

unsigned addr(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p) & 0xffffffffu);
}

bool inside(const char* p, const char* lo, const char* hi) {
    auto v = reinterpret_cast<uintptr_t>(p);
    return p && lo && v >= reinterpret_cast<uintptr_t>(lo) && v < reinterpret_cast<uintptr_t>(hi);
}

// Reads up to n bytes at off; the count read, or -1.
ssize_t read_at(int fd, char* buf, size_t n, int64_t off) {
    size_t got = 0;
    while (got < n) {
        ssize_t r = pread(fd, buf + got, n - got, static_cast<off_t>(off + got));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return got ? static_cast<ssize_t>(got) : -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<ssize_t>(got);
}

// The forward step, one per process: the line a forward step gave last and the bytes
// read past the block.
struct Forward {
    char* retline = nullptr;
    char* lbuf = nullptr;  // kForwardBytes + 1, newlines turned into NULs
    int len = 0;           // bytes read into lbuf
    bool to_eof = false;   // lbuf reaches the end of the file
};
Forward fwd;

// The line after `from` inside the reader's block, or null at the block's end.
char* next_in_buffer(readBackBuff* rb, char* from) {
    char* q = from + std::strlen(from) + 1;
    return q < rb->end ? q : nullptr;
}

// The line at q in lbuf when it lies complete within it.
char* complete_in_lbuf(char* q) {
    char* lend = fwd.lbuf + fwd.len;
    if (q >= lend) return nullptr;
    if (!std::memchr(q, '\0', static_cast<size_t>(lend - q)) && !fwd.to_eof) return nullptr;
    return q;
}

// Reads the bytes that follow the block's last line and gives the first line there.
char* load_forward(readBackBuff* rb) {
    int64_t off = rb->dataEnd + 1;  // behind the newline that ends the block's last line
    if (off >= rb->fileSize || rb->fd < 0) return nullptr;
    if (!fwd.lbuf)
        fwd.lbuf = static_cast<char*>(u_malloc(kForwardBytes + 1, __FILE__, __LINE__, "lbuf_size"));
    ssize_t got = read_at(rb->fd, fwd.lbuf, kForwardBytes, off);
    if (got < 1) return nullptr;
    fwd.len = static_cast<int>(got);
    fwd.lbuf[fwd.len] = '\0';
    fwd.to_eof = off + got >= rb->fileSize;
    for (int i = 0; i < fwd.len; ++i)
        if (fwd.lbuf[i] == '\n') fwd.lbuf[i] = '\0';
    char* line = complete_in_lbuf(fwd.lbuf);
    if (line && u_trace_on(3)) PRINT('t', "urb0071", "read_back_prev line=%.40s.\n", line);
    return line;
}

// True when the line's last blank-separated word is a number above 1990 (a year).
bool has_year(const char* line) {
    const char* e = line + std::strlen(line);
    while (e > line && std::isspace(static_cast<unsigned char>(e[-1]))) --e;
    const char* w = e;
    while (w > line && !std::isspace(static_cast<unsigned char>(w[-1]))) --w;
    if (w == e || !std::isdigit(static_cast<unsigned char>(*w))) return false;
    return std::strtol(w, nullptr, 10) > 1990;
}

f_chain* add_result(f_chain* results, f_chain* after, const char* line, f_chain* pattern,
                    int lineno, const char* id) {
    if (trace_all) PRINT('t', id, "read_backwards, Found:%d. line=%s\n", lineno, line);
    f_chain* e = f_chainAdd(line, pattern->code, pattern->count, nullptr);
    pattern->count--;
    if (after)
        f_linkAfter(after, e);
    else
        f_linkLast(results, e);
    return e;
}

bool keyword_is(const f_chain* p, const char* word) {
    return p->line && std::strcmp(p->line, word) == 0;
}

// The first active search pattern found in the line, unless its `nots` text is there.
f_chain* find_hit(f_chain* patterns, const char* line, int* column) {
    size_t len = std::strlen(line);
    for (f_chain* p = f_getNext(patterns); p; p = f_getNext(p)) {
        if (p->code <= 0 || p->count <= 0 || !p->line) continue;
        size_t col = p->lstartcol > 0 ? static_cast<size_t>(p->lstartcol) : 0;
        size_t plen = std::strlen(p->line);
        if (col + plen > len) continue;
        const char* at = std::strstr(line + col, p->line);
        if (!at) continue;
        if (p->nots && std::strstr(line, static_cast<const char*>(p->nots))) return nullptr;
        *column = static_cast<int>(at - line);
        return p;
    }
    return nullptr;
}

bool any_search_left(f_chain* patterns) {
    for (f_chain* p = f_getNext(patterns); p; p = f_getNext(p))
        if (p->code > 0 && p->count > 0) return true;
    return false;
}

}  // namespace

readBackBuff::~readBackBuff() {
    if (fd >= 0) close(fd);
}

int read_back_init(readBackBuff* rb, const char* fileName, int32_t maxBytes) {
    if (rb->fd >= 0) close(rb->fd);
    rb->fd = -1;
    rb->blockSize = 8192;
    rb->fileName = fileName;
    rb->start = rb->end = rb->cur = rb->carry = nullptr;
    rb->carryLen = 0;
    rb->buffer.clear();
    rb->carryBuf.clear();
    rb->fd = fileName ? open(fileName, O_RDONLY | O_CLOEXEC) : -1;
    if (rb->fd < 0) {
        PRINT('e', "erb0120", "Could not open file: %s.\n", fileName ? fileName : "");
        return 0;
    }
    off_t size = lseek(rb->fd, 0, SEEK_END);
    rb->fileSize = size > 0 ? size : 0;
    int64_t limit = maxBytes > 0 ? maxBytes : 0;
    rb->toread = static_cast<int32_t>(std::min<int64_t>(limit, rb->fileSize));
    rb->cursp = rb->fileSize - std::min(rb->blockSize, rb->toread);
    rb->dataEnd = rb->fileSize;
    read_back_previous_buffer(rb);
    return 1;
}

int read_back_previous_buffer(readBackBuff* rb) {
    rb->cur = nullptr;
    if (rb->toread < 1 || rb->cursp < 0 || rb->fd < 0) {
        if (u_trace_on(1))
            PRINT('t', "urb0052", "read_back_previous_buffer, cursp=%lld, toread=%d.\n",
                  static_cast<long long>(rb->cursp), rb->toread);
        return 0;
    }
    // Exactly the searched tail is read: the block ends where the previous one began,
    // and the last block stops at the byte limit.
    int32_t want = std::min(rb->blockSize, rb->toread);
    int64_t off = rb->cursp;
    size_t carried = rb->carry ? static_cast<size_t>(rb->carryLen) : 0;
    std::vector<char> data(static_cast<size_t>(want) + carried + 2);
    ssize_t got = read_at(rb->fd, data.data(), static_cast<size_t>(want), off);
    if (u_trace_on(1))
        PRINT('t', "urb0053",
              "read_back_previous_buffer bytes read=%d wanted=%d, cursp=%lld, 2read=%d.\n",
              static_cast<int>(got), want, static_cast<long long>(off), rb->toread);
    if (got < 1) {
        PRINT('e', "urb0055", "read_back_previous_buffer read error: %d.\n", got < 0 ? errno : 0);
        return 0;
    }
    rb->toread -= want;
    rb->cursp = off - std::min(rb->blockSize, rb->toread);

    // The carried text is the rest of this block's last line: it continues the block
    // and always ends at a line end.
    size_t total = static_cast<size_t>(got);
    if (carried) std::memcpy(data.data() + total, rb->carryBuf.data(), carried);
    total += carried;
    rb->dataEnd = off + got + static_cast<int64_t>(carried);
    if (rb->carry || total == 0 || data[total - 1] != '\n') data[total++] = '\n';
    int lines = 0;
    for (size_t i = 0; i < total; ++i) {
        if (data[i] == '\n') data[i] = '\0';
        if (data[i] == '\0') ++lines;
    }
    rb->buffer = std::move(data);
    char* buf = rb->buffer.data();
    rb->end = buf + total;
    rb->start = buf;
    rb->carry = nullptr;
    rb->carryLen = 0;

    if (rb->toread > 0) {
        // The block does not begin at the start of the searched tail: its first line may
        // have begun in the block before, so it travels on with that block.
        size_t first = std::strlen(buf);
        if (first > static_cast<size_t>(kMaxCarry)) {
            PRINT('e', "urb060", "read_back_previous_buffer Errorlog record longer than buffer\n");
            rb->start = rb->end;
            rb->toread = 0;
            return 0;
        }
        rb->carryBuf.assign(buf, buf + first);
        rb->carryBuf.push_back('\0');
        rb->carry = rb->carryBuf.data();
        rb->carryLen = static_cast<int32_t>(first);
        rb->start = buf + first + 1;
    }
    rb->cur = rb->end;
    if (u_trace_on(1))
        PRINT('t', "urb0075", "read_back_previous_buffer lines:%d bb=%x start:%x end:%x cur:%x\n",
              lines, addr(rb), addr(rb->start), addr(rb->end), addr(rb->cur));
    if (u_trace_on(4)) u_print_record(rb->start, static_cast<int>(rb->end - rb->start));
    return 1;
}

char* read_back_next(readBackBuff* rb) {
    if (!rb->cur) return nullptr;
    // A block that is all one unfinished line leaves nothing to deliver: go on back.
    while (rb->cur <= rb->start)
        if (!read_back_previous_buffer(rb)) return nullptr;
    char* p = rb->cur - 1;  // the NUL that ends the line to deliver
    while (p > rb->start && p[-1] != '\0') --p;
    rb->cur = p;
    if (u_trace_on(3)) PRINT('t', "urb0070", "read_back_next line=%.40s.\n", p);
    return p;
}

char* read_back_prev(readBackBuff* rb, int mode) {
    if (mode == -1) {
        if (fwd.lbuf) u_free(fwd.lbuf, __FILE__, __LINE__, "lbuf");
        fwd = Forward{};
        return nullptr;
    }
    char* line = nullptr;
    char* bufLo = rb->buffer.data();
    if (mode == 1 || mode == 2) {
        if (!rb->cur || !inside(rb->cur, bufLo, rb->end)) return nullptr;
        line = next_in_buffer(rb, rb->cur);
        if (mode == 2) {
            if (line) rb->cur = line;
        } else if (!line) {
            line = load_forward(rb);
        }
    } else if (mode == -2) {
        char* from = fwd.retline;
        bool in_lbuf = fwd.lbuf && inside(from, fwd.lbuf, fwd.lbuf + fwd.len);
        if (!in_lbuf && !inside(from, bufLo, rb->end)) from = rb->cur;
        if (!from) return nullptr;
        if (in_lbuf) {
            line = complete_in_lbuf(from + std::strlen(from) + 1);
        } else if (inside(from, bufLo, rb->end)) {
            line = next_in_buffer(rb, from);
            if (!line) line = load_forward(rb);
        }
        if (!line) return nullptr;  // later steps keep answering null
    } else {
        return nullptr;
    }
    if (line) {
        fwd.retline = line;
        if (u_trace_on(3)) PRINT('t', "urb0070", "read_back_prev line=%.40s.\n", line);
    }
    return line;
}

int read_back_term(readBackBuff* rb) {
    read_back_prev(rb, -1);
    if (rb->fd >= 0) close(rb->fd);
    rb->fd = -1;
    return 1;
}

void readBackBuffCopy(readBackBuff* dst, const readBackBuff* src) {
    if (dst == src) return;
    if (dst->fd >= 0) close(dst->fd);
    dst->blockSize = src->blockSize;
    dst->fileSize = src->fileSize;
    dst->cursp = src->cursp;
    dst->toread = src->toread;
    dst->fileName = src->fileName;
    dst->fd = src->fd >= 0 ? fcntl(src->fd, F_DUPFD_CLOEXEC, 0) : -1;
    dst->buffer = src->buffer;
    dst->carryBuf = src->carryBuf;
    dst->carryLen = src->carryLen;
    dst->dataEnd = src->dataEnd;
    const char* from = src->buffer.data();
    char* to = dst->buffer.data();
    auto move = [&](char* p) { return p ? to + (p - from) : nullptr; };
    dst->start = move(src->start);
    dst->end = move(src->end);
    dst->cur = move(src->cur);
    dst->carry = src->carry ? dst->carryBuf.data() : nullptr;
}

int read_backwards(const char* fileName, int32_t maxBytes, f_chain* patterns, f_chain* results) {
    readBackBuff rb;
    if (!read_back_init(&rb, fileName, maxBytes)) {
        PRINT('e', "erb0020", "read backward initialization failure\n");
        return 0;
    }
    int added = 0;
    int lineno = 0;
    bool stop = false;
    char* line;
    while (!stop && (line = read_back_next(&rb)) != nullptr) {
        ++lineno;
        int column = 0;
        f_chain* hit = patterns ? find_hit(patterns, line, &column) : nullptr;
        f_chain* hitElem = nullptr;
        // Follow-ups look around the hit from a copy of the reader as it stood there,
        // whatever "%NEXT_LINE" does to the reader itself.
        readBackBuff at_hit;
        if (hit) {
            size_t plen = std::strlen(hit->line);
            hitElem = add_result(results, nullptr, line, hit, lineno, "erb0023");
            hitElem->lstartcol = static_cast<int16_t>(column);
            hitElem->nots = hitElem->line + column + plen;
            ++added;
            if (hit->code == 1) stop = true;
            readBackBuffCopy(&at_hit, &rb);
        }
        for (f_chain* p = patterns ? f_getNext(patterns) : nullptr; p; p = f_getNext(p)) {
            if (p->code >= 0 || p->count < 1) continue;
            if (keyword_is(p, "%LAST_LINE")) {
                if (lineno == 1) {
                    add_result(results, nullptr, line, p, lineno, "erb0050");
                    ++added;
                }
                continue;
            }
            if (!hit || p->code != -hit->code) continue;
            if (keyword_is(p, "%PREV_LINE")) {
                read_back_prev(&at_hit, -1);
                if (char* after = read_back_prev(&at_hit, 1)) {
                    add_result(results, hitElem, after, p, lineno, "erb0050");
                    ++added;
                }
            } else if (keyword_is(p, "%NEXT_LINE")) {
                char* before = read_back_next(&rb);
                if (!before) break;  // the start of the file: no more follow-ups
                ++lineno;
                add_result(results, nullptr, before, p, lineno, "erb0050");
                ++added;
            } else if (keyword_is(p, "%PREV_LINE_TIME")) {
                readBackBuff walk;
                readBackBuffCopy(&walk, &at_hit);
                read_back_prev(&walk, -1);
                char* l = read_back_prev(&walk, -2);
                while (l && !has_year(l)) l = read_back_prev(&walk, -2);
                if (l) {
                    add_result(results, hitElem, l, p, lineno, "erb0050");
                    ++added;
                } else {
                    PRINT('w', "erb0030", "Can't find timestamp\n");
                }
                read_back_prev(&walk, -1);
            } else if (keyword_is(p, "%GET_TIMESTAMP")) {
                readBackBuff walk;
                readBackBuffCopy(&walk, &at_hit);
                char* l = read_back_next(&walk);
                while (l && !has_year(l)) l = read_back_next(&walk);
                if (l) {
                    add_result(results, nullptr, l, p, lineno, "erb0050");
                    ++added;
                } else {
                    PRINT('w', "erb0035", "Can't find timestamp\n");
                }
            }
        }
        if (hit) {
            read_back_prev(&rb, -1);  // no forward step may point into a copy's buffer
            if (!any_search_left(patterns)) stop = true;
        }
    }
    read_back_term(&rb);
    return added;
}
