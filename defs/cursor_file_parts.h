// What the parts of the cursor-file reader share: the keyword codes, the state of one
// parse, and small helpers. Not for use outside defs/cursor_*.cpp.
#pragma once

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/cursor_versions.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/chains.h"
#include "runtime/trace.h"

namespace cursor_file_detail {

// Keyword codes of the cursor file (test_word).
enum : int {
    K_HISTORY = 1,
    K_INSERT_WHERE = 2,
    K_INSERT = 3,
    K_CURSOR = 4,
    K_INSERT_SELECT = 5,
    K_SATURDAY_START = 6,
    K_SATURDAY_END = 7,
    K_SUNDAY_START = 8,
    K_SUNDAY_END = 9,
    K_MON_FRI_START = 10,
    K_MON_FRI_END = 11,
    K_INTERVAL = 12,
    K_HOLD = 13,
    K_LIMIT = 14,
    K_TIME = 15,
    K_DEMAND = 16,
    K_CLASS = 17,
    K_STALE = 18,
    K_GO_HOME = 19,
    K_TABLE_NAME = 20,
    K_SHOW_CURSOR = 21,
    K_OBJID = 22,
    K_SET = 23,
    K_UUIDBASE = 24,
    K_UUIDPAVC = 25,
    K_UUIDPCVC = 27,
    K_RPC_VERSION = 28,
    K_END = 29,
    K_VIRTUAL = 30,
    K_SAMPLES = 31,
    K_LOAD = 32,
    K_EMPTY = 33,
    K_PRE_CURSOR = 34,
    K_ITERATE = 35,
    K_IN_LIST = 36,
    K_BASE = 37,
    K_MATH = 38,
    K_AGE_TO = 39,
    K_DECODE = 40,
    K_SHOW_ROW = 41,
    K_FETCH_EXIT = 42,
    K_SCRIPT = 43,
    K_COLUMN_EXIT = 44,
    K_ONCE = 45,
    K_START_AFTER = 46,
    K_STOP_AFTER = 47,
    K_NO_SQL = 48,
    K_ITERATE_WHERE = 49,
    K_DUMMY = 50,
    K_CONDITIONAL_DUMMY = 51,
    K_SET_LEN = 52,
    K_TRACE = 53,
    K_TRACED = 54,
    K_TRACEM = 55,
    K_TRACE_ALL = 56,
    K_IF = 57,
    K_ELSE = 58,
    K_ENDIF = 59,
};

inline bool tracing() { return u_trace_on(8); }

// The state of one parse.
struct parse_state {
    curs* cur = nullptr;  // the record the statements fill (a branch inside if/else)
    curs* top = nullptr;  // the record opened by the cursor statement
    bool open = false;
    bool error = false;
    int last_keyword = 0;
    int32_t pending[3] = {};  // pending Saturday, Sunday and Monday-to-Friday starts
};

// The decimal value of the leading digits of a word (0 when none), within int32.
inline int32_t number_of(const char* word, int32_t len) {
    char text[32] = {};
    std::memcpy(text, word, static_cast<size_t>(std::min<int32_t>(len, 31)));
    errno = 0;
    long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    return static_cast<int32_t>(v);
}

// Seconds after midnight of a four-character hhmm word.
inline int32_t hhmm_seconds(const char* word) {
    return number_of(word, 2) * 3600 + number_of(word + 2, 2) * 60;
}

inline char* dup_text(const char* text, size_t n) {
    char* c = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(c, text, n);
    c[n] = '\0';
    return c;
}

inline void append_cursor(curs* c) {
    c->next = nullptr;
    chain_append(&cur_anchor, c);
}

// Calls fn on every version of the ring that starts at c's cur_version_list.
template <typename F>
void each_version(curs* c, F fn) {
    curs* start = c->cur_version_list != nullptr ? c->cur_version_list : c;
    curs* v = start;
    int guard = 0;
    do {
        fn(v);
        v = v->cur_version_list;
    } while (v != nullptr && v != start && ++guard <= max_cursor_versions);
}

// Offers one word to the keyword's value handling (cursor_values.cpp). False after an error
// message (the rest of the statement is then skipped).
bool value_word(parse_state& ps, int code, int word_no, char* word, int32_t len, uint16_t flags,
                char* end);

// The keywords acting on the whole statement, once its words are read
// (cursor_statements.cpp). False after an error message.
bool statement_end(parse_state& ps, int code, const std::string& rest, char* end);

}  // namespace cursor_file_detail
