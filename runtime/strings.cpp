#include "runtime/strings.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace {

// Classification and case mapping always see the byte as unsigned char.
inline int uc(char c) { return static_cast<unsigned char>(c); }
inline int lower(char c) { return std::tolower(uc(c)); }
inline int upper(char c) { return std::toupper(uc(c)); }
// Differences of characters are those of signed 8-bit values.
inline int s8(int c) { return static_cast<signed char>(static_cast<unsigned char>(c)); }

// Copies at most cap - 1 characters of text into buf and terminates it.
void copy_set(char* buf, size_t cap, const char* text) {
    size_t n = text ? strnlen(text, cap - 1) : 0;
    if (n) std::memcpy(buf, text, n);
    buf[n] = '\0';
}

bool in_set(const char* set, char c) { return c != '\0' && std::strchr(set, c) != nullptr; }

// Does a from-set entry match the character?
bool translate_matches(char entry, char c) {
    int u = uc(c);
    switch (entry) {
        case '#':
            return std::isdigit(u);
        case '.':
            return !std::isalnum(u) && !std::ispunct(u) && c != ' ';
        case '<':
            return std::islower(u);
        case '>':
            return std::isupper(u);
        case '@':
            return std::isalpha(u);
        case '^':
            return std::isspace(u);
        case '=':
            return true;
        default:
            return entry == c;
    }
}

// Applies one to-set action to a character: the new character, or -1 to delete it.
int u_translate_x(char c, char action) {
    switch (action) {
        case '<':
            return lower(c);
        case '>':
            return upper(c);
        case '=':
            return uc(c);
        case '-':
        case '\0':
            return -1;
        default:
            return uc(action);
    }
}

}  // namespace

// ---- Case and comparison ----------------------------------------------------------

char* u_strupper(char* text) {
    if (text)
        for (char* p = text; *p; ++p) *p = static_cast<char>(upper(*p));
    return text;
}

char* u_strlower(char* text) {
    if (text)
        for (char* p = text; *p; ++p) *p = static_cast<char>(lower(*p));
    return text;
}

int u_stricmp(const char* a, const char* b) {
    if (!a || !b) return (a || b) ? 1 : 0;
    size_t i = 0;
    while (a[i] && b[i] && lower(a[i]) == lower(b[i])) ++i;
    return s8(lower(a[i])) - s8(lower(b[i]));
}

int u_strnicmp(const char* a, const char* b, int n) {
    if (!a || !b) return (a || b) ? 1 : 0;
    for (int i = 0; i < n; ++i) {
        if (!a[i] || !b[i] || lower(a[i]) != lower(b[i])) return s8(lower(a[i])) - s8(lower(b[i]));
    }
    return 0;
}

int u_strxcmp(const char* a, const char* b) {
    if (!a) return b ? 1 : 0;
    if (!b) return 1;
    size_t i = 0;
    while (a[i] && b[i] && a[i] == b[i]) ++i;
    if (!b[i]) return 0;
    return s8(uc(a[i])) - s8(uc(b[i]));
}

int u_strxicmp(const char* a, const char* b) {
    if (!a || !b) return (a || b) ? 1 : 0;
    size_t i = 0;
    while (a[i] && b[i] && lower(a[i]) == lower(b[i])) ++i;
    if (!b[i]) return 0;
    return s8(lower(a[i])) - s8(lower(b[i]));
}

char* u_translate(char* text, const char* to_set, const char* from_set) {
    if (!text) return text;
    char from[50];
    char to[50];
    copy_set(from, sizeof from, from_set);
    copy_set(to, sizeof to, to_set);
    if (!from[0] && !to[0]) {
        std::strcpy(from, "<");
        std::strcpy(to, ">");
    }
    size_t to_len = std::strlen(to);
    char* out = text;
    for (char* p = text; *p; ++p) {
        int result = uc(*p);
        for (size_t i = 0; from[i]; ++i) {
            if (translate_matches(from[i], *p)) {
                result = u_translate_x(*p, i < to_len ? to[i] : '\0');
                break;
            }
        }
        if (result >= 0) *out++ = static_cast<char>(result);
    }
    *out = '\0';
    return text;
}

// ---- Copies, pieces and searches --------------------------------------------------

char* alloc_str(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    char* copy = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(copy, text, n + 1);
    return copy;
}

char* u_substring(const char* text, int start, int length) {
    if (!text || start < 0 || length < 0) return nullptr;
    long remaining = static_cast<long>(std::strlen(text)) - start;
    if (remaining < 1) return nullptr;
    long n = length < remaining ? length : remaining;
    char* piece = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(piece, text + start, static_cast<size_t>(n));
    piece[n] = '\0';
    return piece;
}

char* u_reverse(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text);
    char* copy = static_cast<char*>(U_MALLOC(n + 1));
    for (size_t i = 0; i < n; ++i) copy[i] = text[n - 1 - i];
    copy[n] = '\0';
    return copy;
}

char* space(int n) {
    if (n < 0) return nullptr;
    char* blanks = static_cast<char*>(U_MALLOC(n + 1));
    std::memset(blanks, ' ', static_cast<size_t>(n));
    blanks[n] = '\0';
    return blanks;
}

const char* u_str_index(const char* text, const char* set) {
    if (!text || !set) return nullptr;
    for (const char* p = text; *p; ++p)
        if (in_set(set, *p)) return p;
    return nullptr;
}

const char* u_strr_index(const char* text, const char* set) {
    if (!text || !set) return nullptr;
    for (const char* p = text + std::strlen(text); p > text; --p)
        if (in_set(set, p[-1])) return p - 1;
    return nullptr;
}

char* u_strset(char* text, int c) {
    if (text)
        for (char* p = text; *p; ++p) *p = static_cast<char>(c);
    return text;
}

char* u_itoa(int n) {
    static char buffer[16];
    if (n <= 0) return nullptr;
    std::snprintf(buffer, sizeof buffer, "%d", n);
    return buffer;
}

int getremainder(int a, int b) {
    // Division by 0 and the one overflowing quotient are answered with 0, not a trap.
    if (b == 0 || b == -1) return 0;
    return a - b * (a / b);
}

int u_strlen(const char* text, int max) {
    if (!text) return 0;
    int n = 0;
    while (n < max && text[n]) ++n;
    if (n == max && max >= 0 && u_trace_on(3))
        PRINT('t', "usl0305", "Exceeded max length on strlen:%.10s, %d\n", text + max, max);
    return n;
}

void call_exit(const char* message, int code) {
    PRINT('e', "ust0000", "%s\n", message ? message : "");
    if (code >= 1) PRINT('e', "ust0000", "... Aborting execution!\n");
    u_exit(1);
}

// ---- Strip family -----------------------------------------------------------------

char* u_strip(char* text) {
    if (!text || !*text) return text;
    size_t n = std::strlen(text);
    while (n > 0 && std::isspace(uc(text[n - 1]))) --n;
    text[n] = '\0';
    return text;
}

char* u_stripx(char* text, char mode, const char* set) {
    if (!text || !*text) return text;
    char chars[20];
    copy_set(chars, sizeof chars, set);
    if (!chars[0]) std::strcpy(chars, " ");
    int m = mode == '\0' ? 't' : lower(mode);
    bool leading = m == 'l' || m == 'b';
    bool trailing = m == 't' || m == 'b';
    char* start = text;
    if (leading)
        while (in_set(chars, *start)) ++start;
    if (trailing) {
        size_t n = std::strlen(start);
        while (n > 0 && in_set(chars, start[n - 1])) --n;
        start[n] = '\0';
    }
    return start;
}

char* u_stripc(char* text, char mode, const char* set) {
    char* start = u_stripx(text, mode, set);
    if (start != text) std::memmove(text, start, std::strlen(start) + 1);
    return text;
}

// ---- Fixed-width fields -----------------------------------------------------------

char* u_str2chr(char* field, const char* text, int n) {
    if (!field || n <= 0) return field;
    size_t width = static_cast<size_t>(n);
    size_t len = text ? strnlen(text, width) : 0;
    if (text && text != field && len) std::memcpy(field, text, len);
    std::memset(field + len, ' ', width - len);
    return field;
}

char* u_chr2str(char* target, const char* field, int n) {
    if (!target) return target;
    if (!field || n <= 0) {
        target[0] = '\0';
        return target;
    }
    size_t width = static_cast<size_t>(n);
    if (target != field) {
        size_t len = strnlen(field, width);
        std::memcpy(target, field, len);
        while (len > 0 && target[len - 1] == ' ') --len;
        target[len] = '\0';
        return target;
    }
    // In place: the first character always stays, so an all-blank field keeps one blank.
    target[width] = '\0';
    for (size_t i = width - 1; i >= 1 && target[i] == ' '; --i) target[i] = '\0';
    return target;
}

int just_right(char* field, int n) {
    if (!field || n <= 0) return 0;
    int last = n - 1;
    while (last >= 0 && (field[last] == ' ' || field[last] == '\0')) --last;
    if (last == n - 1) return 0;
    int shift = n - 1 - last;
    if (last >= 0) std::memmove(field + shift, field, static_cast<size_t>(last + 1));
    std::memset(field, ' ', static_cast<size_t>(shift));
    return shift - 1;
}

// ---- Tokens and words -------------------------------------------------------------

int u_chktoken(const char* word, const char* keyword, int max, int min) {
    if (!keyword) return 300;
    if (!word) word = "";
    if (max < 1) max = static_cast<int>(std::strlen(keyword));
    if (min == 0) min = max;
    if (max > 31) return 300;
    char w[32];
    size_t len = strnlen(word, static_cast<size_t>(max));
    std::memcpy(w, word, len);
    w[len] = '\0';
    int length = static_cast<int>(len);
    if (min < 0) min = length;
    if (length < min) return 301;
    u_strlower(w);
    return std::strncmp(w, keyword, len);
}

int u_tokenset(char** array, char* line, const char* spec) {
    if (!line) return 0;
    if (!spec) spec = " \n\t\"'";
    static const char kOpen[] = "\"'({[<";
    static const char kClose[] = "\"')}]>";
    char closing[256] = {};  // closing character of each switched-on opening one
    char separators[256];
    size_t nsep = 0;
    for (const char* s = spec; *s && nsep < sizeof separators - 1; ++s) {
        const char* o = std::strchr(kOpen, *s);
        if (o)
            closing[uc(*s)] = kClose[o - kOpen];
        else
            separators[nsep++] = *s;
    }
    separators[nsep] = '\0';

    int count = 0;
    char* p = line;
    for (;;) {
        while (std::isspace(uc(*p))) ++p;
        if (!*p) break;
        char* start;
        char* end;
        if (closing[uc(*p)]) {
            char close = closing[uc(*p)];
            start = p + 1;
            end = std::strchr(start, close);
        } else {
            if (in_set(separators, *p)) ++p;
            start = p;
            end = start;
            while (*end && !in_set(separators, *end)) ++end;
            if (!*end) end = nullptr;
        }
        array[count++] = start;
        if (end) {
            *end = '\0';
            p = end + 1;
        } else {
            p = start + std::strlen(start);
        }
    }
    array[count] = nullptr;
    return count;
}

int u_tokenize(char** buffers, char* text, const char* delimiters, int max) {
    int count = 0;
    if (!buffers) return 0;
    if (text && delimiters) {
        for (char* tok = std::strtok(text, delimiters); tok && count < max;
             tok = std::strtok(nullptr, delimiters)) {
            if (buffers[count]) std::strcpy(buffers[count], tok);
            ++count;
        }
    }
    for (int i = count; i < max; ++i)
        if (buffers[i]) buffers[i] = nullptr;
    return count;
}

char* u_spaces(char* out, int max, const char* in, int pads, char quote, char pad) {
    if (!out) return out;
    size_t limit = max > 0 ? static_cast<size_t>(max) : 0;
    size_t o = 0;
    size_t last_end = 0;
    const char* p = in ? in : "";
    while (o < limit) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        const char* end;
        if (quote && *p == quote) {
            end = std::strchr(p + 1, quote);
            end = end ? end + 1 : p + std::strlen(p);
        } else {
            end = p;
            while (*end && *end != ' ' && *end != '\t') ++end;
        }
        while (p < end && o < limit) out[o++] = *p++;
        last_end = o;
        if (p < end) break;  // the word was cut at the limit
        for (int i = 0; i < pads && o < limit; ++i) out[o++] = pad;
    }
    out[last_end] = '\0';
    return out;
}
