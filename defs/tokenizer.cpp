// The tokenizer reads the statement text and never writes into it: the original upper-cased
// an "e" of an exponent in place, which changed stored SQL and fetched rows.
#include "defs/tokenizer.h"

#include <cctype>
#include <cstring>
#include <initializer_list>

#include "runtime/msg.h"
#include "runtime/strings.h"

char buffer[sizeof_buffer] = {};
char* base_add = buffer;
char* this_start = buffer;
int32_t this_len = 0;
int32_t parens = 0;
int32_t european = 0;
char local_hv = ':';
char not_sign = '~';
int32_t term_set = 0;
char terminators[256] = {};
char math_ops[256] = {};
char logical_ops[256] = {};
char text_in_parens[sizeof_text_in_parens] = {};
parse_word_rec parse_word = {};

// Stored in this order: by falling word length, ties as the keywords were listed.
const keyword_entry keyword_table[num_keywords] = {
    {"conditional_dummy_last_row", 51},
    {"saturday_start", 6},
    {"dummy_last_row", 50},
    {"insert_select", 5},
    {"mon_fri_start", 10},
    {"iterate_where", 49},
    {"insert_where", 2},
    {"saturday_end", 7},
    {"sunday_start", 8},
    {"mon_fri_end", 11},
    {"show_cursor", 21},
    {"rpc_version", 28},
    {"start_after", 46},
    {"column_exit", 44},
    {"sunday_end", 9},
    {"table_name", 20},
    {"pre_cursor", 34},
    {"fetch_exit", 42},
    {"stop_after", 47},
    {"trace_all", 56},
    {"interval", 12},
    {"show_row", 41},
    {"uuidbase", 24},
    {"uuidpavc", 25},
    {"uuidpcvc", 27},
    {"history", 1},
    {"go_home", 19},
    {"virtual", 30},
    {"samples", 31},
    {"iterate", 35},
    {"in_list", 36},
    {"set_len", 52},
    {"insert", 3},
    {"cursor", 4},
    {"demand", 16},
    {"age_to", 39},
    {"decode", 40},
    {"script", 43},
    {"no_sql", 48},
    {"traced", 54},
    {"tracem", 55},
    {"limit", 14},
    {"stale", 18},
    {"class", 17},
    {"objid", 22},
    {"empty", 33},
    {"trace", 53},
    {"endif", 59},
    {"hold", 13},
    {"time", 15},
    {"load", 32},
    {"base", 37},
    {"math", 38},
    {"once", 45},
    {"else", 58},
    {"end", 29},
    {"set", 23},
    {"if", 57},
};

namespace {

inline unsigned char uc(char c) { return static_cast<unsigned char>(c); }
inline bool is_digit(char c) { return std::isdigit(uc(c)) != 0; }
inline bool is_term(char c) { return terminators[uc(c)] != 0; }
inline bool is_math(char c) { return math_ops[uc(c)] != 0; }
inline bool is_logical(char c) { return logical_ops[uc(c)] != 0; }
inline char decimal_sep() { return european ? ',' : '.'; }

constexpr char shift_out = 0x0E;
constexpr char shift_in = 0x0F;
constexpr long max_quoted = 15998;

int32_t finish(char* text, int32_t len) {
    parse_word.text = text;
    parse_word.len = static_cast<int16_t>(len);
    this_len = len;
    return len;
}

int16_t position_of(const char* p) { return static_cast<int16_t>(p - base_add); }

// A number from p (its first character already known to start one).
int32_t scan_number(char* start, char* end) {
    char* p = start + 1;
    bool seen_sep = false;
    while (p < end) {
        char c = *p;
        if (c == '.' || (european && c == ',')) {
            if (seen_sep) break;
            seen_sep = true;
            parse_word.num_flags |= PN_DECIMAL;
            ++p;
            continue;
        }
        if (c == ' ' || c == 'E' || c == ')' || c == '|' || is_term(c)) break;
        ++p;
    }
    char* word_end = p;
    char* q = p;
    while (q < end && *q == ' ') ++q;
    // The exponent letter may be written in either case; the text stays as written.
    if (end - q >= 2 && (*q == 'e' || *q == 'E') &&
        (q[1] == '+' || q[1] == '-' || is_digit(q[1]))) {
        parse_word.num_flags |= PN_EXPONENT;
        ++q;
        bool negative = false;
        long value = 0;
        while (q < end && (!is_term(*q) || *q == '+' || *q == '-')) {
            char c = *q;
            if (c == '-') {
                negative = true;
            } else if (c != '+') {
                parse_word.num_flags |= PN_EXPONENT;
                if (is_digit(c) && value < 100000) value = value * 10 + (c - '0');
            }
            ++q;
        }
        if (value > 32767) value = 32767;
        if (value != 0) parse_word.exponent = static_cast<int16_t>(negative ? -value : value);
        word_end = q;
    }
    parse_word.flags |= PW_LITERAL;
    parse_word.num_flags |= PN_NUMBER;
    return finish(start, static_cast<int32_t>(word_end - start));
}

// A plain word from p; host says whether it began with ':'.
int32_t scan_plain(char* start, char* end, bool host) {
    char* p = start;
    int32_t count = 0;
    int depth = 0;
    char closer = 0;
    while (p < end) {
        char c = *p;
        if (closer != 0) {
            if (count > max_quoted) {
                return errmsg(closer == shift_in ? "Excessive length in a DBCS string"
                                                 : "Excessive length in a string with a \" or '",
                              start, count, parse_word.position);
            }
            if (c == closer) closer = 0;
            ++count;
            ++p;
            continue;
        }
        if (c == '\'' || c == '"' || c == shift_out) {
            closer = c == shift_out ? shift_in : c;
            parse_word.flags |= PW_LITERAL;
            if (c == '\'') parse_word.num_flags |= PN_APOS;
            if (c == '"') parse_word.num_flags |= PN_DQUOTE;
            ++count;
            ++p;
            continue;
        }
        if (c == '(') {
            if (!host) break;
            ++depth;
        } else if (c == ')') {
            if (depth == 0) break;
            --depth;
        } else if (c == ' ') {
            break;
        } else if (count > 0 &&
                   (c == ',' || c == '~' || c == ';' || is_logical(c) || c == '|' || c == ':')) {
            break;
        } else if (count > 0 && !host && (c == '+' || c == '-' || c == '*' || c == '/')) {
            break;
        }
        if (c == '.') parse_word.flags |= PW_QUALIFIED;
        if (c == '*' && p > start && p[-1] == '.') parse_word.flags |= PW_DOTSTAR;
        ++count;
        ++p;
    }
    if (closer != 0) {
        return errmsg(closer == shift_in ? "Missing an ending SHIFT_IN within max word length"
                                         : "Missing an ending \" or ' within max word length",
                      start, count, parse_word.position);
    }
    return finish(start, count);
}

}  // namespace

int setup_parse() {
    std::memset(terminators, 0, sizeof(terminators));
    std::memset(math_ops, 0, sizeof(math_ops));
    std::memset(logical_ops, 0, sizeof(logical_ops));
    for (char c : {' ', ',', '(', ')', ':', '?', '+', '/', '*', '-', '=', '<', '>', '~'})
        terminators[uc(c)] = c;
    for (char c : {'+', '-', '*', '/'}) math_ops[uc(c)] = c;
    for (char c : {'~', '<', '|', '>', '='}) logical_ops[uc(c)] = c;
    term_set = 1;
    return 0;
}

int32_t get_word(char* start, char* end) {
    if (term_set == 0) setup_parse();
    parse_word = {};
    this_len = 0;
    if (start == nullptr || start >= end) return 0;
    char* p = start;
    while (p < end && *p == ' ') ++p;
    if (p < end && *p == '(') {
        ++parens;
        this_start = p;
        parse_word.flags |= PW_PAREN;
        parse_word.position = position_of(p);
        return finish(p, 1);
    }
    if (p < end && *p == ')') {
        --parens;
        this_start = p;
        parse_word.position = position_of(p);
        if (parens >= 0) {
            parse_word.flags |= PW_PAREN;
            return finish(p, 1);
        }
        this_len = -1;
        return errmsg("Right parenthesis without preceeding Left parenthesis", p, 1,
                      parse_word.position);
    }
    if (p >= end) return 0;
    this_start = p;
    parse_word.text = p;
    parse_word.position = position_of(p);

    char c = *p;
    bool number = is_digit(c);
    if (!number && p + 1 < end) {
        char n = p[1];
        if ((c == '.' && !european && is_digit(n)) || (c == ',' && european && is_digit(n)))
            number = true;
        else if ((c == '+' || c == '-') && (is_digit(n) || n == decimal_sep()))
            number = true;
    }
    if (number) return scan_number(p, end);

    if (is_math(c)) {
        parse_word.flags |= PW_MATH;
        return finish(p, 1);
    }
    if (c == ',') {
        parse_word.flags |= PW_COMMA;
        return finish(p, 1);
    }
    bool host = false;
    if (c == local_hv) {
        host = true;
        parse_word.flags |= PW_HOSTVAR;
        ++p;
        while (p < end && *p == ' ') ++p;
        if (p >= end) {
            parse_word.text = p;
            return 0;
        }
        this_start = p;
        parse_word.text = p;
        c = *p;
    }
    if (c == '|' && p + 1 < end && p[1] == '|') {
        parse_word.flags |= PW_CONCAT;
        return finish(p, 2);
    }
    if (is_logical(c)) {
        if (c != '|') parse_word.flags |= PW_LOGICAL;
        int32_t len = (c != '|' && p + 1 < end && is_logical(p[1])) ? 2 : 1;
        return finish(p, len);
    }
    int32_t r = scan_plain(p, end, host);
    if (r < 0) this_len = -1;
    return r;
}

int32_t simple_get_word(char* start, char* end) {
    if (start == nullptr || start >= end || *start == '\0') return 0;
    char* p = start;
    while (p < end && *p == ' ') ++p;
    if (p < end && *p == ',') {
        ++p;
        while (p < end && *p == ' ') ++p;
    }
    parse_word.text = p;
    parse_word.flags = 0;
    if (p >= end) return 0;
    char c = *p;
    if (c == '\'' || c == '"' || c == '\t') {
        parse_word.flags = PW_COMMA;
        char* q = p + 1;
        while (q < end && *q != '\0' && *q != c) ++q;
        if (q < end && *q == c) ++q;  // the closing character belongs to the value
        int32_t len = static_cast<int32_t>(q - p);
        return len < 2 ? 0 : len;
    }
    char* q = p;
    while (q < end && *q != '\0' && *q != ' ' && *q != ',') ++q;
    return static_cast<int32_t>(q - p);
}

int16_t test_word(const char* word, int32_t length) {
    if (word == nullptr || length <= 0 || length > 59) return 0;
    char area[60] = {};
    std::memcpy(area, word, static_cast<size_t>(length));
    u_strlower(area);
    for (int i = 0; i < num_keywords; ++i) {
        const char* k = keyword_table[i].word;
        if (std::strlen(k) == static_cast<size_t>(length) &&
            std::memcmp(k, area, static_cast<size_t>(length)) == 0)
            return keyword_table[i].code;
    }
    return 0;
}

int w_o_parens(const char* text) {
    const char* open = nullptr;
    for (int i = 0; i < sizeof_text_in_parens && text[i] != '\0'; ++i) {
        if (text[i] == '(') {
            open = text + i;
            break;
        }
    }
    if (open == nullptr) {
        PRINT('e', "cat1925", "No opening parenthesis\n");
        return 0;
    }
    const char* p = open + 1;
    int n = 0;
    while (n < sizeof_text_in_parens - 1 && p[n] != '\0' && p[n] != ')') ++n;
    if (p[n] != ')') {
        PRINT('e', "cat1930", "No ending parenthesis\n");
        text_in_parens[0] = '\0';
        return 0;
    }
    std::memcpy(text_in_parens, p, static_cast<size_t>(n));
    text_in_parens[n] = '\0';
    return n;
}
