#include "defs/clause_words.h"

#include <cctype>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "defs/tokenizer.h"
#include "runtime/alloc.h"

char* clause_end(char* text) { return text + std::strlen(text); }

int32_t clause_next_word(char** pos, char* end) {
    int32_t n = get_word(*pos, end);
    if (n <= 0) {
        if (n < 0) parse_word.len = 0;
        return 0;
    }
    *pos = this_start + n;
    return n;
}

std::string clause_word_text() {
    if (parse_word.text == nullptr || parse_word.len <= 0) return {};
    return std::string(parse_word.text, static_cast<size_t>(parse_word.len));
}

bool word_is(const char* text, int32_t len, const char* lower, const char* upper) {
    auto same = [&](const char* w) {
        return std::strlen(w) == static_cast<size_t>(len) &&
               std::memcmp(text, w, static_cast<size_t>(len)) == 0;
    };
    return len > 0 && (same(lower) || same(upper));
}

double word_number(const char* text, int32_t len) {
    std::string clean;
    const char sep = european ? ',' : '.';
    for (int32_t i = 0; i < len; ++i) {
        char c = text[i];
        if (c == ' ') continue;  // "2 e5" is one number word
        if (std::isdigit(static_cast<unsigned char>(c)) || c == '+' || c == '-' || c == 'e' ||
            c == 'E') {
            clean += c;
        } else if (c == sep) {
            clean += '.';
        } else {
            break;
        }
    }
    if (clean.empty()) return 0.0;
    double v = std::strtod(clean.c_str(), nullptr);
    return std::isfinite(v) ? v : 0.0;
}

int32_t word_integer(const char* text, int32_t len) {
    double v = std::trunc(word_number(text, len));
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int32_t>(v);
}

void copy_field(char* field, size_t width, const char* text, size_t n) {
    std::memset(field, 0, width);
    if (n >= width) n = width - 1;
    std::memcpy(field, text, n);
}

void* clause_alloc(size_t size) {
    void* p = U_MALLOC(size);
    std::memset(p, 0, size);
    return p;
}
