#include "defs/def_keywords.h"

#include <cstring>
#include <iterator>

namespace {

struct kw {
    const char* lower;
    const char* upper;
    int code;
};

// Exact compare over length bytes against each spelling of each keyword of that length.
int lookup(const kw* table, size_t n, const char* word, int32_t length) {
    if (word == nullptr || length <= 0) return 0;
    for (size_t i = 0; i < n; ++i) {
        if (std::strlen(table[i].lower) != static_cast<size_t>(length)) continue;
        if (std::memcmp(word, table[i].lower, static_cast<size_t>(length)) == 0 ||
            std::memcmp(word, table[i].upper, static_cast<size_t>(length)) == 0)
            return table[i].code;
    }
    return 0;
}

const kw dict_words[] = {
    {"name", "NAME", 1},     {"type", "TYPE", 2}, {"initial", "INITIAL", 3},
    {"number", "NUMBER", 4}, {"end", "END", 5},
};
const kw eval_words[] = {
    {"eval", "EVAL", 1},     {"value", "VALUE", 2},       {"cursor", "CURSOR", 3},
    {"column", "COLUMN", 4}, {"operator", "OPERATOR", 5}, {"name", "NAME", 6},
    {"end", "END", 7},
};
const kw trace_words[] = {
    {"trace", "TRACE", 1},
    {"tracem", "TRACEM", 2},
    {"traced", "TRACED", 3},
    {"traceall", "TRACEALL", 4},
    {"trace_all", "TRACE_ALL", 4},
    {"show_row", "SHOW_ROW", 5},
    {"show_cursor", "SHOW_CURSOR", 6},
    {"end", "END", 7},
};

}  // namespace

int test_dict_word(const char* word, int32_t length) {
    return lookup(dict_words, std::size(dict_words), word, length);
}

int eval_key_word(const char* word, int32_t length) {
    if (length < 3 || length > 8) return 0;
    return lookup(eval_words, std::size(eval_words), word, length);
}

int test_trace_word(const char* word, int32_t length) {
    if (length < 3 || length > 11) return 0;
    return lookup(trace_words, std::size(trace_words), word, length);
}
