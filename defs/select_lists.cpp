#include "defs/select_lists.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/clause_words.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

void flush_messages() { std::fflush(stder != nullptr ? stder : stdout); }

struct prefix {
    const char* upper;
    const char* lower;
    int16_t value;
};

const prefix conversions[] = {
    {"INT!", "int!", CONV_INT},
    {"FLOAT!", "float!", CONV_FLOAT},
    {"TS!", "ts!", CONV_TS},
    {"NS!", "ns!", CONV_NOSEND},
};

const prefix functions[] = {
    {"MIN!", "min!", COLF_MIN},       {"MAX!", "max!", COLF_MAX},
    {"AVG!", "avg!", COLF_AVG},       {"WAVG!", "wavg!", COLF_WAVG},
    {"TREND!", "trend!", COLF_TREND}, {"SUM!", "sum!", COLF_SUM},
    {"HW!", "hw!", COLF_HIGH_WATER},  {"LW!", "lw!", COLF_LOW_WATER},
    {"COUNT!", "count!", COLF_COUNT},
};

// The prefix of the table that p begins with, written all in capitals or all in small
// letters; p moves past it. -1 when none.
template <size_t N>
int16_t take_prefix(const char*& p, const prefix (&table)[N]) {
    for (const prefix& x : table) {
        size_t n = std::strlen(x.upper);
        if (std::strncmp(p, x.upper, n) == 0 || std::strncmp(p, x.lower, n) == 0) {
            p += n;
            return x.value;
        }
    }
    return -1;
}

// A leading number sets the occurrence (0 counts as 1); its digits stay in the word.
void take_occurrence(const char* p, columns* col) {
    if (!std::isdigit(static_cast<unsigned char>(*p))) return;
    long v = std::strtol(p, nullptr, 10);
    if (v > 32767) v = 32767;
    col->occurance = static_cast<int16_t>(v == 0 ? 1 : v);
}

void take_conversion(const char*& p, columns* col) {
    int16_t v = take_prefix(p, conversions);
    if (v >= 0) col->convert = v;
}

// Percent variables whose values the collector supplies itself.
bool supplied_by_collector(const columns* col) {
    static const char* const names[] = {
        "%me",
        "%ME",
        "%rowno",
        "%ROWNO",
        "%machine",
        "%MACHINE",
        "%now_time",
        "%NOW_TIME",
        "%now_secs",
        "%NOW_SECS",
        "%sampleno",
        "%SAMPLENO",
        "%machine_me",
        "%MACHINE_ME",
        "%execution_time",
        "%EXECUTION_TIME",
        "%current_interval",
        "%CURRENT_INTERVAL",
    };
    const char* name = col->col_name;
    if (std::strncmp(name, "%sqlcode_", 9) == 0 || std::strncmp(name, "%SQLCODE_", 9) == 0)
        return true;
    for (const char* n : names)
        if (std::strcmp(name, n) == 0) return true;
    return false;
}

}  // namespace

int add_column(const char* word, curs* cursor) {
    columns* col = columns_new();
    if (std::strchr(word, '.') != nullptr) col->qualified = 1;

    const char* p = word;
    take_occurrence(p, col);
    take_conversion(p, col);
    take_occurrence(p, col);
    int16_t f = take_prefix(p, functions);
    if (f >= 0) {
        col->col_function = f;
        if (f != COLF_HIGH_WATER && f != COLF_LOW_WATER) cursor->has_col_funct = 1;
        if (f == COLF_MIN || f == COLF_MAX) cursor->has_min_max = 1;
    }
    take_conversion(p, col);
    take_occurrence(p, col);

    // The name ends at the first "^"; the number after the last "^" is the send length.
    size_t name_len = std::strcspn(p, "^");
    for (const char* caret = std::strchr(p, '^'); caret != nullptr;
         caret = std::strchr(caret + 1, '^')) {
        long v = std::strtol(caret + 1, nullptr, 10);
        if (v < 0) v = 0;
        if (v > 32767) v = 32767;
        col->caret_ll = static_cast<int16_t>(v);
    }
    if (name_len > 49) {
        name_len = 49;
        PRINT('w', "pcc0025", "Warning, truncating col_name %s\n", word);
    }
    col->col_name_ll = static_cast<int16_t>(name_len);
    std::memcpy(col->col_name, p, name_len);

    chain_append(&cursor->insert_columns, col);
    return 0;
}

int compact_insert(curs* cursor, int32_t length) {
    int ncols = 0;
    for (columns* col = cursor->insert_columns; col != nullptr; col = col->next) ++ncols;
    if (ncols == 0) {
        PRINT('w', "cev1820", "No host variables in INSERT\n");
        flush_messages();
        return 1;
    }
    const char* text = cursor->insert != nullptr ? cursor->insert : "";
    size_t len = std::strlen(text);
    if (length >= 0 && static_cast<size_t>(length) < len) len = static_cast<size_t>(length);

    // The VALUES list: the "(" that matches the last ")".
    long open = -1;
    int depth = 0;
    for (long i = static_cast<long>(len) - 1; i >= 0; --i) {
        if (text[i] == ')') {
            ++depth;
        } else if (text[i] == '(') {
            --depth;
            if (depth == 0) {
                open = i;
                break;
            }
        }
    }
    if (open <= 0) {
        PRINT('w', "cev1825", "Insert parentheses dont match-up\n");
        flush_messages();
        return 1;
    }
    // The result is built apart from the statement: one marker per column may need more
    // room than the VALUES list had.
    std::string result(text, static_cast<size_t>(open) + 1);
    for (int i = 0; i < ncols; ++i) result += "?,";
    result.back() = ')';

    // The column list: names up to ")" or the end, separated by blanks and commas. Without
    // a column list this is the VALUES list and its markers are read as names.
    size_t p = result.find('(');
    if (p == std::string::npos) return 1;
    ++p;
    host_cols** tail = &cursor->host_cols;
    while (*tail != nullptr) tail = &(*tail)->next;
    while (p < result.size() && result[p] != ')') {
        if (result[p] == ' ' || result[p] == ',') {
            ++p;
            continue;
        }
        size_t start = p;
        while (p < result.size() && result[p] != ' ' && result[p] != ',' && result[p] != ')') ++p;
        size_t n = p - start;
        if (n >= sizeof(host_cols::col_name)) {
            PRINT('e', "cev1830", "Column name too long in INSERT (at most %d): %.*s\n",
                  static_cast<int>(sizeof(host_cols::col_name) - 1), static_cast<int>(n),
                  result.c_str() + start);
            flush_messages();
            return 1;
        }
        auto* h = static_cast<host_cols*>(U_MALLOC(sizeof(host_cols)));
        std::memset(h, 0, sizeof(host_cols));
        std::memcpy(h->col_name, result.data() + start, n);
        *tail = h;
        tail = &h->next;
        ++cursor->num_cols;
    }

    auto* copy = static_cast<char*>(U_MALLOC(result.size() + 1));
    std::memcpy(copy, result.c_str(), result.size() + 1);
    U_FREE(cursor->insert);
    cursor->insert = copy;
    return 0;
}

sel* sel_new(const char* text, int32_t length) {
    if (length < 0) length = 0;
    long size = static_cast<long>(offsetof(sel, text)) + length + 2;
    auto* s = static_cast<sel*>(U_MALLOC(size));
    std::memset(s, 0, static_cast<size_t>(size));
    s->len = static_cast<int16_t>(length + 1);
    std::memcpy(s->text, text, static_cast<size_t>(length));
    return s;
}

int set_selects(curs* cursor) {
    std::string text;
    bool have_columns = true;
    if (cursor->raw_insert_select != nullptr) {
        text = cursor->raw_insert_select;
    } else {
        text = "SELECT ";
        int taken = 0;
        for (columns* col = cursor->insert_columns; col != nullptr; col = col->next) {
            if (supplied_by_collector(col)) continue;
            bool repeated = false;
            for (columns* e = cursor->insert_columns; e != col; e = e->next) {
                if (e->col_name_ll == col->col_name_ll &&
                    std::memcmp(e->col_name, col->col_name,
                                static_cast<size_t>(col->col_name_ll)) == 0 &&
                    !supplied_by_collector(e)) {
                    repeated = true;
                    break;
                }
            }
            if (repeated) continue;
            text.append(col->col_name, static_cast<size_t>(col->col_name_ll));
            text += ',';
            ++taken;
        }
        text.pop_back();  // the last "," (or the blank after SELECT when none was taken)
        text += " FROM ";
        if (cursor->table_name != nullptr) text += cursor->table_name;
        have_columns = taken > 0;
    }
    if (cursor->insert_where != nullptr) {
        text += " WHERE ";
        text += cursor->insert_where;
    }
    // The text must fit in the shared work area (and in the 16-bit length of sel).
    if (text.size() + 1 > static_cast<size_t>(sizeof_work_buff)) {
        PRINT('E', "PCC0021", "Error - SELECT text of cursor %s longer than %d bytes\n",
              cursor->cur_name, sizeof_work_buff - 1);
        flush_messages();
        return 1;
    }
    char* area = engine_alloc_work_buff();
    std::memcpy(area, text.c_str(), text.size() + 1);
    sel* s = sel_new(area, static_cast<int32_t>(text.size()));
    U_FREE(cursor->insert_select);
    cursor->insert_select = s;
    if (!have_columns) {
        PRINT('E', "PCC0020", "Error - No columns to fetch\n");
        flush_messages();
        return 1;
    }
    return 0;
}

int set_operate(operate** chain, int32_t start, int32_t end) {
    if (end < start) end += 86400;
    auto* o = static_cast<operate*>(U_MALLOC(sizeof(operate)));
    o->next = nullptr;
    o->start_time = start;
    o->end_time = end;
    // The shared whole-day record is never extended: a chain that still points at it
    // starts afresh.
    if (*chain == &full_day) *chain = nullptr;
    chain_append(chain, o);
    return 0;
}

int pad_blanks(char* text, int32_t width) {
    int32_t len = static_cast<int32_t>(std::strlen(text));
    if (len >= width) return 0;
    std::memset(text + len, ' ', static_cast<size_t>(width - len));
    return width - len;
}
