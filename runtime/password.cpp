#include "runtime/password.h"

#include <unistd.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <random>

#include "runtime/env.h"
#include "runtime/platform.h"

namespace {

// The older scheme's key text.
constexpr char kKeyText[] = "quorin";

// The 96 codes the newer scheme can carry: code 0 first, then TAB and the printable
// characters except the blank, in a fixed scrambled order.
constexpr unsigned char kSequence[96] = {
    0,   112, 65,  33,  115, 105, 46, 62,  84,  82,  44,  96,  123, 63, 94,  66,  49,  70,  39,  80,
    55,  54,  86,  75,  47,  114, 99, 93,  40,  103, 117, 125, 72,  56, 98,  59,  37,  97,  35,  42,
    118, 87,  83,  106, 60,  90,  64, 67,  41,  45,  102, 121, 51,  61, 36,  100, 50,  53,  108, 48,
    9,   71,  58,  113, 95,  43,  77, 52,  74,  124, 85,  34,  73,  68, 81,  122, 120, 111, 76,  79,
    119, 110, 101, 69,  92,  107, 38, 109, 116, 126, 91,  57,  78,  89, 104, 88};

// A fixed permutation of the byte values and its inverse.
constexpr unsigned char x_table1[256] = {
    91,  198, 189, 106, 37,  196, 71,  2,   112, 158, 180, 250, 150, 149, 126, 236, 227, 88,  224,
    222, 233, 87,  166, 90,  219, 45,  29,  159, 229, 75,  210, 140, 212, 81,  62,  6,   27,  231,
    24,  190, 246, 247, 162, 133, 113, 170, 44,  74,  193, 93,  157, 42,  48,  17,  177, 217, 213,
    40,  23,  192, 92,  116, 205, 58,  76,  80,  101, 69,  34,  200, 83,  9,   172, 154, 130, 125,
    50,  11,  28,  182, 191, 13,  59,  67,  136, 99,  3,   167, 122, 102, 30,  243, 216, 49,  163,
    19,  252, 214, 218, 41,  94,  215, 253, 47,  32,  78,  26,  202, 185, 33,  232, 168, 146, 57,
    22,  169, 209, 89,  1,   82,  51,  111, 147, 31,  161, 188, 10,  96,  108, 137, 65,  230, 156,
    36,  64,  79,  100, 38,  20,  143, 129, 98,  241, 43,  207, 179, 153, 145, 223, 178, 97,  148,
    211, 144, 139, 245, 251, 15,  240, 54,  18,  84,  132, 95,  239, 173, 103, 8,   228, 55,  39,
    187, 0,   73,  53,  226, 181, 52,  114, 176, 138, 242, 201, 121, 60,  110, 128, 72,  220, 186,
    107, 61,  124, 141, 203, 109, 175, 70,  135, 151, 244, 206, 237, 235, 16,  35,  255, 208, 165,
    86,  171, 119, 238, 63,  174, 134, 142, 199, 5,   85,  105, 127, 183, 123, 194, 152, 155, 117,
    12,  7,   160, 195, 131, 77,  184, 248, 14,  254, 115, 104, 234, 46,  225, 21,  204, 25,  164,
    120, 4,   66,  68,  197, 118, 221, 56,  249};
// The inverse permutation, derived so the two can never disagree.
constexpr std::array<unsigned char, 256> x_table2 = [] {
    std::array<unsigned char, 256> inv{};
    for (int i = 0; i < 256; ++i) inv[x_table1[i]] = static_cast<unsigned char>(i);
    return inv;
}();
static_assert([] {
    for (int i = 0; i < 256; ++i)
        if (x_table1[x_table2[i]] != i) return false;
    return true;
}());
static_assert(x_table2[0] == 172 && x_table2[255] == 206);

// Filler characters of the newer scheme for the values 1 to 254 (all carriable, no TAB).
constexpr unsigned char x_table5[256] = {
    0,  38, 64,  38,  111, 107, 64,  101, 126, 126, 78,  102, 115, 115, 119, 63,  45,  101, 42,
    53, 48, 104, 80,  123, 115, 39,  33,  34,  102, 79,  42,  60,  44,  77,  123, 39,  69,  76,
    70, 59, 122, 107, 43,  123, 86,  40,  34,  53,  66,  120, 71,  118, 59,  35,  94,  54,  90,
    75, 84, 56,  74,  89,  113, 94,  125, 56,  101, 41,  94,  45,  62,  33,  62,  82,  105, 37,
    63, 70, 43,  82,  37,  106, 47,  91,  87,  79,  42,  102, 88,  37,  117, 51,  37,  96,  99,
    43, 68, 70,  59,  84,  50,  116, 116, 89,  33,  99,  47,  99,  95,  70,  111, 69,  122, 103,
    94, 89, 102, 87,  78,  98,  115, 126, 95,  95,  117, 54,  73,  116, 59,  110, 55,  47,  77,
    46, 72, 100, 66,  54,  61,  76,  122, 62,  86,  82,  41,  68,  38,  81,  117, 107, 50,  72,
    95, 70, 73,  103, 122, 74,  74,  84,  41,  101, 54,  39,  53,  38,  66,  99,  68,  66,  58,
    35, 72, 37,  78,  111, 112, 119, 55,  80,  43,  57,  36,  111, 66,  101, 74,  68,  69,  60,
    59, 86, 79,  116, 59,  93,  124, 71,  115, 119, 118, 75,  99,  49,  92,  80,  60,  71,  58,
    81, 92, 42,  84,  126, 59,  96,  54,  75,  89,  55,  109, 81,  118, 66,  42,  79,  53,  37,
    46, 97, 58,  110, 116, 108, 121, 111, 73,  122, 66,  79,  87,  96,  93,  40,  123, 123, 66,
    58, 61, 106, 80,  83,  97,  104, 61,  0};

// Tables built from kSequence on the first conversion.
unsigned char x_table3[256];  // code -> position
unsigned char x_table4[256];  // position -> code
bool tables_built = false;

// Results: one buffer per front end, overwritten by the next call.
char old_result[65];     // older scheme and its plain path
char plain_result[100];  // plain path of the newer front ends
char new_result[102];    // newer scheme

char working_key[13];  // the older scheme's key, built per call and cleared after

constexpr int kLine = 50;         // positions of the newer scheme's line
constexpr int kMaxPassword = 49;  // the TAB behind the password must stay in the line
constexpr int kMaxKey = 255;

void wipe(void* p, size_t n) {
    volatile unsigned char* v = static_cast<volatile unsigned char*>(p);
    while (n--) *v++ = 0;
}

// Copies text into a result buffer; a text that does not fit is refused.
char* set_result(char* out, size_t cap, const char* text) {
    size_t n = std::strlen(text);
    if (n >= cap) {
        std::snprintf(out, cap, "%s", "Error password too long");
        return out;
    }
    std::memcpy(out, text, n + 1);
    return out;
}

char* set_error(char* out, size_t cap, const char* text) {
    std::snprintf(out, cap, "%s", text);
    return out;
}

bool is_mark(char c) { return c != '\0' && std::strchr("*#!-=", c) != nullptr; }

bool all_upper_hex(const char* s) {
    for (; *s; ++s)
        if (!((*s >= '0' && *s <= '9') || (*s >= 'A' && *s <= 'F'))) return false;
    return true;
}

// The plain-text path: the mark is dropped, "NONE" means no password.
char* plain_text(const char* stored, char* out, size_t cap) {
    const char* p = is_mark(stored[0]) ? stored + 1 : stored;
    if (std::strcmp(p, "NONE") == 0) return nullptr;
    return set_result(out, cap, p);
}

// Characters a password of the newer scheme may hold: carried by the sequence, and not
// the TAB that separates the fields of the line.
bool carriable(unsigned char c) { return c != '\t' && c != 0 && n_ConvertChar(c, 1) != 0; }

// --- older scheme ---

int32_t GetSeedData(const char* text) {
    size_t n = std::strlen(text);
    if (n < 4) return -1;
    int32_t s = 1;
    for (size_t i = 0; i < n; ++i) s += static_cast<int8_t>(text[i]) + static_cast<int32_t>(i);
    if (s <= 0) return s;  // doubling would never pass the bound
    while (s <= 9999999) s *= 2;
    return s;
}

void DoEnc(unsigned char* buffer, const char* key, int n) {
    int32_t seed = ((GetSeedData(key) / 997) - 1) % 254 + 1;
    auto k = static_cast<unsigned char>(key[0]);
    for (int i = 0; i < n; ++i) {
        seed = ((i - n + seed - 1) % 254) + 1;
        auto x = static_cast<unsigned char>(buffer[i] ^ (seed & 0xff) ^ k);
        if (x != 0) buffer[i] = x;
    }
    buffer[n] = 0;
}

void n_DoEncOld(unsigned char* buffer, const char* key, int n) { DoEnc(buffer, key, n); }

void oen() {
    unsigned char scratch[sizeof kKeyText];
    int n = static_cast<int>(std::strlen(kKeyText));
    std::memcpy(scratch, kKeyText, sizeof kKeyText);
    DoEnc(scratch, kKeyText, n);
    for (int i = 0; i < n; ++i) std::snprintf(working_key + 2 * i, 3, "%.2X", scratch[i]);
    wipe(scratch, sizeof scratch);
}

void put_hex(char* out, const unsigned char* bytes, int n) {
    for (int i = 0; i < n; ++i) std::snprintf(out + 2 * i, 3, "%.2X", bytes[i]);
}

void get_hex(unsigned char* bytes, const char* text, int n) {
    for (int i = 0; i < n; ++i)
        bytes[i] = static_cast<unsigned char>(n_ConvertChar(text[2 * i], 0) * 16 +
                                              n_ConvertChar(text[2 * i + 1], 0));
}

// 64 hexadecimal characters of a password of at most 32 characters, padded with the
// time of day behind TABs.
void Encrypt(const char* plain, const char* key, char* out) {
    unsigned char buf[33] = {};
    size_t n = std::strlen(plain);
    if (n > 32) n = 32;
    std::memcpy(buf, plain, n);
    time_t now = u_time_now();
    struct tm tmv {};
    localtime_r(&now, &tmv);
    char stamp[32];
    size_t sn = std::strftime(stamp, sizeof stamp, "\t%H.%M.%S.", &tmv);
    if (sn == 0) {
        stamp[0] = '\t';
        stamp[1] = '\0';
        sn = 1;
    }
    while (n < 32) {
        size_t take = sn < 32 - n ? sn : 32 - n;
        std::memcpy(buf + n, stamp, take);
        n += take;
    }
    DoEnc(buf, key, 32);
    put_hex(out, buf, 32);
    out[64] = '\0';
    wipe(buf, sizeof buf);
}

void n_DescryptOld(const char* stored, const char* key, char* out) {
    if (!*stored) {
        out[0] = '\0';
        return;
    }
    unsigned char buf[33] = {};
    get_hex(buf, stored, 32);
    n_DoEncOld(buf, key, 32);
    char* tab = std::strchr(reinterpret_cast<char*>(buf), '\t');
    if (tab) *tab = '\0';
    std::memcpy(out, buf, std::strlen(reinterpret_cast<char*>(buf)) + 1);
    wipe(buf, sizeof buf);
}

// --- newer scheme ---

uint32_t n_GetNextSeed(uint32_t seed, unsigned b) {
    return ((((seed & 255u) + (b * 462607u) / 33u) % 253u) + 1u) & 255u;
}

void n_Byte2Bits(unsigned char byte, unsigned char* bits) {
    for (int i = 0; i < 8; ++i) bits[i] = (byte >> (7 - i)) & 1u;
}

unsigned char n_Bits2Byte(const unsigned char* bits) {
    unsigned v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 1) | (bits[i] & 1u);
    return static_cast<unsigned char>(v);
}

// The filler's generator, seeded once per process so that two forms made within one
// second still differ.
std::mt19937& filler() {
    static std::mt19937 rng = [] {
        std::random_device rd;
        std::seed_seq seq{static_cast<unsigned>(u_time_now()), static_cast<unsigned>(getpid()),
                          rd(), rd()};
        return std::mt19937(seq);
    }();
    return rng;
}

void n_Encrypt(const char* plain, const char* key, char* out) {
    unsigned char line[kLine] = {};
    int pos = kLine - 1;
    for (const char* p = plain; *p && pos >= 0; ++p) line[pos--] = static_cast<unsigned char>(*p);
    if (pos >= 0) line[pos--] = '\t';
    for (const char* k = key; *k && pos >= 0; ++k) line[pos--] = static_cast<unsigned char>(*k);
    if (pos >= 0) {
        line[pos--] = '\t';
        while (pos >= 0)
            line[pos--] = static_cast<unsigned char>(
                n_ConvertChar(static_cast<int>(filler()() % 254u) + 1, 5));
    }
    for (int i = 0; i < kLine && line[i]; ++i)
        line[i] = static_cast<unsigned char>(n_ConvertChar(line[i], 1));

    unsigned char area[49] = {};
    for (int g = 0; g < 7; ++g) {
        int start = 8 * g;
        if (line[start] == 0) break;
        unsigned char eight[8];
        for (int j = 0; j < 8; ++j) eight[j] = start + j < kLine ? line[start + j] : 0;
        n_transC2N(eight, area + 7 * g, 'c');
        wipe(eight, sizeof eight);
    }
    n_DoEnc(area, key, 44);
    put_hex(out, area, 44);
    out[88] = '\0';
    wipe(line, sizeof line);
    wipe(area, sizeof area);
}

// Splits text at TABs into at most `max` fields (pointers into text, which is cut).
int split_tabs(char* text, char** fields, int max) {
    int n = 0;
    char* p = text;
    while (n < max) {
        fields[n++] = p;
        char* tab = std::strchr(p, '\t');
        if (!tab) break;
        *tab = '\0';
        p = tab + 1;
    }
    return n;
}

// True when the 50 characters of a decoded line could come from n_Encrypt: every position
// holds a code of the sequence (password, key, TABs and filler leave none empty), and a
// password of 1 to 49 characters is followed by a TAB.
bool line_possible(const char* text) {
    for (int j = 0; j < kLine; ++j)
        if (n_ConvertChar(static_cast<unsigned char>(text[j]), 1) == 0) return false;
    const char* tab = static_cast<const char*>(std::memchr(text, '\t', kLine));
    return tab != nullptr && tab != text;
}

void n_Descrypt(const char* stored, const char* key, char* out, size_t cap) {
    size_t len = std::strlen(stored);
    if (len == 0) {
        set_error(out, cap, "Error Null password");
        return;
    }
    if (len != 88) {
        set_error(out, cap, "Error incorrect password length");
        return;
    }
    unsigned char bytes[49] = {};
    get_hex(bytes, stored, 44);
    n_DoDec(bytes, key, 44);
    unsigned char unpacked[56];
    for (int g = 0; g < 7; ++g) n_transC2N(unpacked + 8 * g, bytes + 7 * g, 'e');
    char text[kLine + 1];
    for (int j = 0; j < kLine; ++j) text[j] = static_cast<char>(n_ConvertChar(unpacked[49 - j], 2));
    text[kLine] = '\0';

    const bool possible = line_possible(text);  // before the split cuts the line at its TABs
    char* fields[kLine + 1];
    int nf = split_tabs(text, fields, kLine + 1);
    char expected[kMaxKey + 1];
    std::snprintf(expected, sizeof expected, "%s", key);
    char* parts[kMaxKey + 1];
    int np = split_tabs(expected, parts, kMaxKey + 1);

    const char* error = nullptr;
    int f = 1;
    int p = 0;
    do {
        const char* got = f < nf ? fields[f] : "";
        if (*got == '\0') break;
        const char* want = p < np ? parts[p] : "";
        if (*want == '\0') {
            error = "Error invalid password 2";
            break;
        }
        size_t gl = std::strlen(got), wl = std::strlen(want);
        if (std::memcmp(got, want, gl < wl ? gl : wl) != 0) {
            error = "Error invalid password 3";
            break;
        }
        ++f;
        ++p;
    } while (p < np);
    // A wrong key decodes to a line no stored form holds: refused, not read as a short password.
    if (error == nullptr && !possible) error = "Error invalid password";

    if (error)
        set_error(out, cap, error);
    else
        set_result(out, cap, fields[0]);
    wipe(bytes, sizeof bytes);
    wipe(unpacked, sizeof unpacked);
    wipe(text, sizeof text);
    wipe(expected, sizeof expected);
}

// Joins up to 10 key parts (ended by a null) with TABs into key; with no non-empty
// part, the configured logon id and server id. False when the key would pass 255
// characters.
bool build_key(char* key, va_list ap) {
    size_t n = 0;
    key[0] = '\0';
    bool any = false;
    auto append = [&](const char* part) {
        size_t len = std::strlen(part);
        if (n + len > static_cast<size_t>(kMaxKey)) return false;
        std::memcpy(key + n, part, len);
        n += len;
        key[n] = '\0';
        return true;
    };
    for (int i = 0; i < 10; ++i) {
        const char* part = va_arg(ap, const char*);
        if (!part) break;
        if (!*part) continue;
        if (any && !append("\t")) return false;
        if (!append(part)) return false;
        any = true;
    }
    if (!any) {
        const char* logon = env_vars.logonid ? env_vars.logonid : "";
        const char* server = env_vars.serverid ? env_vars.serverid : "";
        if (!append(logon) || !append("\t") || !append(server)) return false;
    }
    return true;
}

char* fo1_v(const char* stored, va_list ap) {
    if (!stored || !*stored) return nullptr;
    if (!all_upper_hex(stored)) return plain_text(stored, plain_result, sizeof plain_result);
    char key[kMaxKey + 1];
    if (!build_key(key, ap)) return set_error(new_result, sizeof new_result, "Error key too long");
    n_Descrypt(stored, key, new_result, sizeof new_result);
    wipe(key, sizeof key);
    if (std::strcmp(new_result, "NONE") == 0) {
        wipe(new_result, sizeof new_result);
        return nullptr;
    }
    return new_result;
}

char* fo2_v(const char* plain, va_list ap) {
    if (!plain || !*plain) return nullptr;
    if (is_mark(plain[0])) return set_result(plain_result, sizeof plain_result, plain + 1);
    if (std::strlen(plain) > static_cast<size_t>(kMaxPassword))
        return set_error(new_result, sizeof new_result, "Error password too long");
    for (const char* p = plain; *p; ++p)
        if (!carriable(static_cast<unsigned char>(*p)))
            return set_error(new_result, sizeof new_result, "Error invalid character in password");
    char key[kMaxKey + 1];
    if (!build_key(key, ap)) return set_error(new_result, sizeof new_result, "Error key too long");
    for (const char* k = key; *k; ++k) {
        if (*k != '\t' && !carriable(static_cast<unsigned char>(*k))) {
            wipe(key, sizeof key);
            return set_error(new_result, sizeof new_result, "Error invalid character in key");
        }
    }
    n_Encrypt(plain, key, new_result);
    wipe(key, sizeof key);
    return new_result;
}

}  // namespace

int n_ConvertChar(int c, int mode) {
    if (!tables_built) {
        // Positions outside the sequence read back as DEL, a code no line holds: a form
        // unscrambled with the wrong key then cannot end its text early and slip
        // through the key check as a short "password".
        for (int i = 96; i < 256; ++i) x_table4[i] = 0x7f;
        for (int i = 0; i < 96; ++i) {
            x_table4[i] = kSequence[i];
            x_table3[kSequence[i]] = static_cast<unsigned char>(i);
        }
        tables_built = true;
    }
    auto u = static_cast<unsigned char>(c);
    switch (mode) {
        case 0:
            if (u >= '0' && u <= '9') return u - '0';
            if (u >= 'A' && u <= 'F') return u - 'A' + 10;
            if (u >= 'a' && u <= 'f') return u - 'a' + 10;
            return 0;
        case 1:
            return x_table3[u];
        case 2:
            return x_table4[u];
        case 3:
            return x_table1[u];
        case 4:
            return x_table2[u];
        case 5:
            return x_table5[u];
        default:
            return 0;
    }
}

uint32_t n_GetSeedData(const char* key) {
    uint32_t p = 1;
    for (uint32_t i = 0; key[i]; ++i) {
        uint32_t m = static_cast<uint32_t>(n_ConvertChar(key[i], 1)) + i;
        if (m < 3) m = 3;
        p *= m;
        if (p == 0) p = 1;  // a product that wrapped to 0 could never grow again
        if (p > 25443422u) break;
    }
    while (p <= 25443422u) p *= 31u;
    return ((((4u * p - 1u) % 253u) + 1u) | 18u) & 255u;
}

void n_transC2N(unsigned char* eight, unsigned char* seven, char mode) {
    unsigned char bits[64];
    if (mode == 'c') {
        for (int i = 0; i < 8; ++i) {
            unsigned char b[8];
            n_Byte2Bits(eight[i], b);
            std::memcpy(bits + 7 * i, b + 1, 7);  // the low 7 bits
        }
        for (int i = 0; i < 7; ++i) seven[i] = n_Bits2Byte(bits + 8 * i);
    } else if (mode == 'e') {
        for (int i = 0; i < 7; ++i) n_Byte2Bits(seven[i], bits + 8 * i);
        for (int i = 0; i < 8; ++i) {
            unsigned char b[8] = {0};
            std::memcpy(b + 1, bits + 7 * i, 7);
            eight[i] = n_Bits2Byte(b);
        }
    }
    wipe(bits, sizeof bits);
}

void n_DoEnc(unsigned char* buffer, const char* key, int n) {
    uint32_t seed = n_GetSeedData(key);
    size_t klen = std::strlen(key);
    size_t kp = 0;
    for (int i = 0; i < n; ++i) {
        unsigned k = klen ? static_cast<unsigned char>(key[kp]) : 0u;
        buffer[i] = static_cast<unsigned char>(buffer[i] ^ (seed & 255u) ^ k);
        seed = n_GetNextSeed(seed, buffer[i]);
        if (klen && ++kp == klen) kp = 0;
    }
}

void n_DoDec(unsigned char* buffer, const char* key, int n) {
    uint32_t seed = n_GetSeedData(key);
    size_t klen = std::strlen(key);
    size_t kp = 0;
    for (int i = 0; i < n; ++i) {
        unsigned k = klen ? static_cast<unsigned char>(key[kp]) : 0u;
        unsigned char before = buffer[i];
        buffer[i] = static_cast<unsigned char>(buffer[i] ^ (seed & 255u) ^ k);
        seed = n_GetNextSeed(seed, before);
        if (klen && ++kp == klen) kp = 0;
    }
}

char* fo1(const char* stored, ...) {
    va_list ap;
    va_start(ap, stored);
    char* r = fo1_v(stored, ap);
    va_end(ap);
    return r;
}

char* fo2(const char* plain, ...) {
    va_list ap;
    va_start(ap, plain);
    char* r = fo2_v(plain, ap);
    va_end(ap);
    return r;
}

char* fok(const char* stored) {
    if (!stored) return nullptr;
    if (std::strlen(stored) == 64) return ofok(stored);
    return fo1(stored, env_vars.logonid, env_vars.serverid, static_cast<const char*>(nullptr));
}

char* fod(const char* plain) {
    return fo2(plain, env_vars.logonid, env_vars.serverid, static_cast<const char*>(nullptr));
}

char* ofok(const char* stored) {
    if (!stored || !*stored) return nullptr;
    if (!all_upper_hex(stored)) return plain_text(stored, old_result, sizeof old_result);
    if (std::strlen(stored) != 64)
        return set_error(old_result, sizeof old_result, "Error incorrect password length");
    oen();
    n_DescryptOld(stored, working_key, old_result);
    wipe(working_key, sizeof working_key);
    if (std::strcmp(old_result, "NONE") == 0) {
        wipe(old_result, sizeof old_result);
        return nullptr;
    }
    return old_result;
}

char* ofod(const char* plain) {
    if (!plain || !*plain) return nullptr;
    if (is_mark(plain[0])) return set_result(old_result, sizeof old_result, plain + 1);
    if (std::strlen(plain) > 32)
        return set_error(old_result, sizeof old_result, "Error password too long");
    if (std::strchr(plain, '\t'))
        return set_error(old_result, sizeof old_result, "Error invalid character in password");
    oen();
    Encrypt(plain, working_key, old_result);
    wipe(working_key, sizeof working_key);
    return old_result;
}
