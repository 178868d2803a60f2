#include "runtime/exec.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/child.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/tempnames.h"
#include "runtime/trace.h"

namespace {

// Commands run through the shell get SIGPIPE at its default, as any program expects; the
// parent itself ignores it. Held only around popen/system (one thread).
class DefaultSigpipe {
  public:
    DefaultSigpipe() {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        ok_ = sigaction(SIGPIPE, &dfl, &old_) == 0;
    }
    ~DefaultSigpipe() {
        if (ok_) sigaction(SIGPIPE, &old_, nullptr);
    }
    DefaultSigpipe(const DefaultSigpipe&) = delete;
    DefaultSigpipe& operator=(const DefaultSigpipe&) = delete;

  private:
    struct sigaction old_ {};
    bool ok_ = false;
};

void log_status(const char* cmd, int status) {
    if (status == -1 || status == 0) return;
    if (WIFEXITED(status)) {
        PRINT('w', "uex2080", "Command %.50s ended with exit status %d\n", cmd,
              WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        PRINT('w', "uex2080", "Command %.50s ended by signal %d\n", cmd, WTERMSIG(status));
    }
}

// Writes the whole text to a new exclusive temporary file; false on failure.
bool write_new_file(const char* name, const char* text) {
    int fd = u_createTempFile(name);
    if (fd < 0) return false;
    size_t len = std::strlen(text);
    size_t off = 0;
    while (off < len) {
        ssize_t n = write(fd, text + off, len - off);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            int err = errno;
            close(fd);
            errno = err;
            return false;
        }
        off += static_cast<size_t>(n);
    }
    return close(fd) == 0;
}

// Reads at most 10000 lines of a command's output into a chain (see u_exec).
r_exec_chain* read_exec_lines(FILE* in) {
    r_exec_chain* head = nullptr;
    r_exec_chain** tail = &head;
    char line[1024];
    int count = 0;
    int nullRun = 0;
    while (fgets(line, sizeof line, in)) {
        if (++count > 10000) {
            if (u_trace_on(0))
                PRINT('t', "uex2070", "Stopped reading returned data after %d rows\n", count - 1);
            break;
        }
        if (line[0] == '\0') {
            if (++nullRun >= 6) {
                if (u_trace_on(3))
                    PRINT('t', "uex2060",
                          "stopped reading returned data because of 5 null lines in a row.\n");
                break;
            }
            continue;
        }
        nullRun = 0;
        if (line[0] == '\n' && line[1] == '\0') continue;
        size_t len = std::strlen(line);
        if (len > 0 && line[len - 1] == '\n') line[--len] = '\0';
        *tail = u_new_r_chain(line, static_cast<int32_t>(len));
        tail = &(*tail)->next;
    }
    return head;
}

// A byte that no text holds: NUL and the other control bytes but TAB, newline, carriage
// return and the end mark, and DEL.
inline bool odd_byte(unsigned char u) {
    return (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != 0x1a) || u == 0x7f;
}

// The odd bytes among n bytes at p.
int32_t count_odd(const char* p, size_t n) {
    int32_t odd = 0;
    for (size_t i = 0; i < n; ++i) odd += odd_byte(static_cast<unsigned char>(p[i]));
    return odd;
}

inline void add_odd(readBuff* rb, int32_t odd) {
    rb->oddBytes = odd > INT32_MAX - rb->oddBytes ? INT32_MAX : rb->oddBytes + odd;
}

// Looks at the flagged bytes of a group (bit i of mask: p[i] is a control byte) in order.
// True at the first newline or NUL, left in *q; else counts the odd bytes into *n.
template <typename Mask>
inline bool flagged(char* p, Mask mask, char** q, int32_t* n) {
    while (mask != 0) {
        char* c = p + __builtin_ctzll(static_cast<unsigned long long>(mask));
        if (*c == '\n' || *c == '\0') {
            *q = c;
            return true;
        }
        *n += odd_byte(static_cast<unsigned char>(*c));
        mask &= mask - 1;
    }
    return false;
}

// The end of the line that starts at p: its newline or NUL, or end when there is none
// before it. *odd receives the odd bytes on the way. One pass does both: a group of bytes
// is tested at once for a control byte, and only the flagged ones (in text, the newline and
// the tabs) are looked at one by one.
char* line_end_sse2(char* p, char* end, int32_t* odd) {
    int32_t n = 0;
    char* q;
#if defined(__SSE2__)
    const __m128i c1f = _mm_set1_epi8(0x1f);
    const __m128i del = _mm_set1_epi8(0x7f);
    for (; end - p >= 16; p += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i ctl = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(v, c1f), v),  // v <= 0x1f
                                         _mm_cmpeq_epi8(v, del));
        if (flagged(p, static_cast<unsigned>(_mm_movemask_epi8(ctl)), &q, &n)) {
            *odd = n;
            return q;
        }
    }
#endif
    for (; p < end; ++p) {
        if (*p == '\n' || *p == '\0') break;
        n += odd_byte(static_cast<unsigned char>(*p));
    }
    *odd = n;
    return p;
}

#if defined(__x86_64__) && defined(__GNUC__)
#define U_LINE_END_AVX2 1
// The control bytes among the 32 at p, as a bit mask.
__attribute__((target("avx2"))) inline uint32_t ctl32(const char* at) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
    const __m256i le1f = _mm256_cmpeq_epi8(_mm256_min_epu8(v, _mm256_set1_epi8(0x1f)), v);
    const __m256i del = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(0x7f));
    return static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(le1f, del)));
}

// As line_end_sse2, 64 bytes at a time, on processors that have AVX2.
__attribute__((target("avx2"))) char* line_end_avx2(char* p, char* end, int32_t* odd) {
    int32_t n = 0;
    char* q;
    auto ctl = ctl32;
    for (; end - p >= 64; p += 64) {
        const uint64_t mask = ctl(p) | static_cast<uint64_t>(ctl(p + 32)) << 32;
        if (mask != 0 && flagged(p, mask, &q, &n)) {
            *odd = n;
            return q;
        }
    }
    for (; end - p >= 32; p += 32) {
        if (flagged(p, ctl(p), &q, &n)) {
            *odd = n;
            return q;
        }
    }
    int32_t rest = 0;
    q = line_end_sse2(p, end, &rest);
    *odd = n + rest;
    return q;
}
#endif

using line_end_fn = char* (*)(char* p, char* end, int32_t* odd);
line_end_fn pick_line_end() {
#ifdef U_LINE_END_AVX2
    __builtin_cpu_init();
    if (__builtin_cpu_supports("avx2")) return line_end_avx2;
#endif
    return line_end_sse2;
}
const line_end_fn line_end = pick_line_end();

// Scans rb's data from p for the next line. Returns the line, or null when the data ran
// out: then a partial line has been carried to the start of buff (prevBuff behind it) or
// nothing is left (prevBuff null). The odd bytes of what it passes over are counted once:
// those of a carried line when it is scanned again behind the next read.
char* scan_line(readBuff* rb, char* p) {
    char* end = rb->buffEnd;
    // A cut line whose end comes right behind the cut has ended: what follows is a new line.
    if (rb->cutOpen && p < end && (*p == '\n' || *p == '\0')) rb->cutOpen = 0;
    int32_t odd = 0;
    while (p < end && (*p == '\n' || *p == '\0')) odd += *p++ == '\0';
    if (odd) add_odd(rb, odd);
    if (p >= end) {
        rb->lastLine = nullptr;
        rb->prevBuff = nullptr;
        return nullptr;
    }
    char* q = line_end(p, end, &odd);
    int32_t len = static_cast<int32_t>(q - p);
    if (q < end || len >= rb->maxBuffSize - 1) {
        // A complete line, or one longer than a read: deliver it (cut in the second case;
        // buffEnd holds a NUL already).
        if (odd) add_odd(rb, odd);
        if (*q == '\0' && q < end) add_odd(rb, 1);
        *q = '\0';
        rb->lastLine = q;
        rb->curLineLen = len;
        rb->curLineCont = rb->cutOpen;
        rb->cutOpen = q >= end;
        return p;
    }
    std::memmove(rb->buff, p, static_cast<size_t>(len));
    rb->lastLine = nullptr;
    rb->prevBuff = rb->buff + len;
    return nullptr;
}

char* blockread(int fd, readBuff* rb, bool nonblocking, int32_t* state) {
    *state = u_br_line;
    char* p = nullptr;
    if (rb->lastLine && rb->lastLine + 1 < rb->buffEnd) p = rb->lastLine + 1;
    for (;;) {
        if (p) {
            if (char* line = scan_line(rb, p)) return line;
        }
        char* at = rb->prevBuff ? rb->prevBuff : rb->buff;
        if (nonblocking && rb->drained) {
            // The last read took less than it asked for: the pipe was empty then. The
            // caller polls before it calls again, so the read that would only fail with
            // EAGAIN is left out; the next call reads.
            rb->drained = 0;
            rb->prevBuff = at;
            rb->lastLine = nullptr;
            *state = u_br_wouldblock;
            return nullptr;
        }
        const size_t ask = static_cast<size_t>(rb->maxBuffSize - 1);
        ssize_t n;
        do {
            n = read(fd, at, ask);
        } while (n < 0 && errno == EINTR);
        if (n < 0 && nonblocking && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            rb->prevBuff = at;
            rb->lastLine = nullptr;
            *state = u_br_wouldblock;
            return nullptr;
        }
        if (n <= 0) {
            rb->drained = 0;
            if (n < 0 && u_trace_on(6))
                PRINT('t', "uex1025", "read() returned -1. errno=%d %s\n", errno, strerror(errno));
            if (at > rb->buff) {
                // The last line had no newline: it is still a line (its odd bytes were not
                // counted when it was carried).
                add_odd(rb, count_odd(rb->buff, static_cast<size_t>(at - rb->buff)));
                rb->buffEnd = at;
                *at = '\0';
                rb->lastLine = at;
                rb->curLineLen = static_cast<int32_t>(at - rb->buff);
                rb->curLineCont = rb->cutOpen;
                rb->cutOpen = 0;
                rb->prevBuff = nullptr;
                return rb->buff;
            }
            rb->prevBuff = nullptr;
            rb->lastLine = nullptr;
            rb->buffEnd = rb->buff;
            *state = u_br_eof;
            return nullptr;
        }
        rb->drained = nonblocking && static_cast<size_t>(n) < ask;
        rb->buffEnd = at + n;
        *rb->buffEnd = '\0';
        rb->prevBuff = nullptr;
        if (my_trace_all[9] > 2) {
            PRINT('t', "uex1026", " rs=%d, buff=%4.4X, prevBuff=%4.4x, buffEnd=%4.4x\n",
                  static_cast<int>(n), 0u, static_cast<unsigned>(at - rb->buff),
                  static_cast<unsigned>(rb->buffEnd - rb->buff));
            u_print_dumpx(nullptr, rb->buff, static_cast<int>(rb->buffEnd - rb->buff));
        }
        p = rb->buff;
    }
}

}  // namespace

r_exec_chain* u_new_r_chain(const char* text, int32_t len) {
    auto* e = static_cast<r_exec_chain*>(U_MALLOC(sizeof(r_exec_chain) + len + 1));
    e->next = nullptr;
    e->size = len;
    std::memcpy(e->line, text, static_cast<size_t>(len));
    e->line[len] = '\0';
    return e;
}

namespace {

// Line blocks: a header, then elements. live counts the elements not yet freed; open is set
// while a reader still carves from the block.
constexpr size_t kLineBlock = 64 * 1024;
struct line_block_head {
    int32_t live;
    int32_t open;
    int64_t pad;  // elements start 16 bytes in
};
// The blocks in use, by address, and the one found last (a chain is freed in the order its
// lines were carved, so most look-ups hit it).
std::vector<uintptr_t> line_blocks;
uintptr_t last_block = 0;

uintptr_t block_of(const void* p) {
    const auto a = reinterpret_cast<uintptr_t>(p);
    if (last_block != 0 && a >= last_block && a < last_block + kLineBlock) return last_block;
    auto it = std::upper_bound(line_blocks.begin(), line_blocks.end(), a);
    if (it == line_blocks.begin()) return 0;
    const uintptr_t b = *--it;
    if (a >= b + kLineBlock) return 0;
    last_block = b;
    return b;
}

// The block freed last, kept for the next reader: a run reads into a block and frees it
// each time, and handing 64 KB back to malloc makes it consolidate its free lists.
char* spare_block = nullptr;

void drop_block(uintptr_t b) {
    auto it = std::lower_bound(line_blocks.begin(), line_blocks.end(), b);
    if (it != line_blocks.end() && *it == b) line_blocks.erase(it);
    if (last_block == b) last_block = 0;
    if (!spare_block) {
        spare_block = reinterpret_cast<char*>(b);
    } else {
        U_FREE(reinterpret_cast<void*>(b));
    }
}

}  // namespace

r_exec_chain* u_arena_r_chain(u_line_arena* arena, const char* text, int32_t len) {
    const size_t need = (sizeof(r_exec_chain) + static_cast<size_t>(len) + 1 + 7) & ~size_t{7};
    if (need > kLineBlock / 8) return u_new_r_chain(text, len);
    if (!arena->block || arena->used + need > kLineBlock) {
        u_arena_close(arena);
        if (spare_block) {
            arena->block = spare_block;
            spare_block = nullptr;
        } else {
            arena->block = static_cast<char*>(U_MALLOC(kLineBlock));
        }
        auto* head = reinterpret_cast<line_block_head*>(arena->block);
        head->live = 0;
        head->open = 1;
        const auto b = reinterpret_cast<uintptr_t>(arena->block);
        line_blocks.insert(std::upper_bound(line_blocks.begin(), line_blocks.end(), b), b);
        arena->used = sizeof(line_block_head);
    }
    auto* e = reinterpret_cast<r_exec_chain*>(arena->block + arena->used);
    arena->used += need;
    ++reinterpret_cast<line_block_head*>(arena->block)->live;
    e->next = nullptr;
    e->size = len;
    std::memcpy(e->line, text, static_cast<size_t>(len));
    e->line[len] = '\0';
    return e;
}

void u_arena_close(u_line_arena* arena) {
    if (!arena->block) return;
    auto* head = reinterpret_cast<line_block_head*>(arena->block);
    head->open = 0;
    if (head->live == 0) drop_block(reinterpret_cast<uintptr_t>(arena->block));
    arena->block = nullptr;
    arena->used = 0;
}

void u_free_r_chain(r_exec_chain* chain) {
    while (chain) {
        // Lines carved from one block follow each other in memory: fetching a few ahead
        // turns the walk of a long chain from one cache miss per line into a stream.
        __builtin_prefetch(reinterpret_cast<const char*>(chain) + 2048);
        r_exec_chain* next = chain->next;
        const uintptr_t b = line_blocks.empty() ? 0 : block_of(chain);
        if (b != 0) {
            auto* head = reinterpret_cast<line_block_head*>(b);
            if (--head->live == 0 && !head->open) drop_block(b);
        } else {
            U_FREE(chain);
        }
        chain = next;
    }
}

char* u_blockread(int fd, readBuff* rb) {
    int32_t state;
    return blockread(fd, rb, false, &state);
}

char* u_blockread_nb(int fd, readBuff* rb, int32_t* state) {
    return blockread(fd, rb, true, state);
}

int u_ismessage(const char* line) {
    if (!line || std::strlen(line) <= 9) return 0;
    auto up = [&](int i) { return std::isupper(static_cast<unsigned char>(line[i])) != 0; };
    auto dig = [&](int i) { return std::isdigit(static_cast<unsigned char>(line[i])) != 0; };
    auto sev = [&](int i) { return line[i] != '\0' && std::strchr("EWIST", line[i]) != nullptr; };
    if (line[8] == ' ') {
        return up(0) && up(1) && up(2) && dig(3) && dig(4) && dig(5) && dig(6) && sev(7);
    }
    if (line[9] == ' ') {
        return up(0) && up(1) && up(2) && up(3) && dig(4) && dig(5) && dig(6) && dig(7) && sev(8);
    }
    return 0;
}

r_exec_chain* u_exec(const char* cmd, const char* parms) {
    if (!cmd) return nullptr;
    if (!parms) parms = "";
    const bool keep = u_trace_on(9);

    // Long parameters travel in a file that the programs of the system read with -filein.
    std::string words = parms;
    char parmsFile[1024] = "";
    if (std::strlen(parms) > 1024) {
        u_createTempFileName(parmsFile, "rexecp", ' ');
        if (!write_new_file(parmsFile, parms)) {
            int err = errno;
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex2038", "fopen error (%d %s), file=%s", err,
                  strerror(err), parmsFile);
            unlink(parmsFile);
            return nullptr;
        }
        words = std::string("-filein ") + parmsFile;
    }
    auto dropParmsFile = [&] {
        if (parmsFile[0] && !keep) unlink(parmsFile);
    };

    r_exec_chain* chain = nullptr;
    fflush(nullptr);
    if (env_vars.db_type && std::strcmp(env_vars.db_type, "zem") == 0) {
        // Through a file, so standard error is collected with standard output.
        char outName[1024];
        u_createTempFileName(outName, "rexec", ' ');
        int fd = u_createTempFile(outName);
        if (fd < 0) {
            int err = errno;
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex2045", "fopen error (%d %s), file=%s", err,
                  strerror(err), outName);
            dropParmsFile();
            return nullptr;
        }
        close(fd);
        std::string line = "( " + std::string(cmd) + " " + words + " ) 1>" + outName + " 2>&1";
        int status;
        {
            DefaultSigpipe sp;
            u_password_hidden hidden;
            status = system(line.c_str());
        }
        if (status == -1) {
            int err = errno;
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex2040",
                  "Command error (%d %s), cmd=%.50s...", err, strerror(err), line.c_str());
            if (!keep) unlink(outName);
            dropParmsFile();
            return nullptr;
        }
        log_status(cmd, status);
        FILE* in = fopen(outName, "re");
        if (!in) {
            int err = errno;
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex2045", "fopen error (%d %s), file=%s", err,
                  strerror(err), outName);
            if (!keep) unlink(outName);
            dropParmsFile();
            return nullptr;
        }
        chain = read_exec_lines(in);
        fclose(in);
        if (!keep) unlink(outName);
    } else {
        std::string line = std::string(cmd) + " " + words;
        FILE* in;
        {
            DefaultSigpipe sp;
            u_password_hidden hidden;
            in = popen(line.c_str(), "re");
        }
        if (!in) {
            int err = errno;
            u_msg(nullptr, __FILE__, __LINE__, "e", "uex2050", "popen error (%d %s), cmd=%.40s...",
                  err, strerror(err), line.c_str());
            dropParmsFile();
            return nullptr;
        }
        chain = read_exec_lines(in);
        int status = pclose(in);
        log_status(cmd, status);
    }
    dropParmsFile();
    return chain;
}

r_exec_chain* u_exec_timed(const char* cmd, const char* parms, int32_t timeLimit, execopt* opts) {
    if (!opts->callerSet) {
        opts->stdinp = 1;
        opts->iflargep = 1;
        opts->parmsaltin = 1;
    }
    opts->processRC = pRC_ok;
    if (!opts->asyncCont) {
        if (opts->ihandle) CreateChildProcessEnd(opts);
        createProcessComm* cpc = u_new_cpc();
        opts->ihandle = cpc;
        if (opts->maxWaitTime == 0 && timeLimit != 0) opts->maxWaitTime = timeLimit;
        if (CreateChildProcess(cmd, parms, opts, cpc) != 0) {
            opts->processRC = pRC_ierror;
            CreateChildProcessEnd(opts);
            return nullptr;
        }
        if (opts->async) return nullptr;
    }
    if (!opts->ihandle) {
        opts->processRC = pRC_ierror;
        return nullptr;
    }
    waitForChildProcess(opts, opts->ihandle);
    r_exec_chain* chain = ReadChildOutput(opts, opts->ihandle);
    CreateChildProcessEnd(opts);
    return chain;
}
