// Column exits, iterate_where, set_len and the script-exit descriptor.
#include "defs/clause_exits.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/clause_decode.h"
#include "defs/clause_words.h"
#include "defs/dictionary.h"
#include "defs/tokenizer.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

col_exit_routines colex_routines = {};

namespace {

int call_routine(col_exit_fn fn, const char* name, curs* c, columns* col, char* row) {
    if (fn == nullptr) {
        PRINT('e', "ccc4010", "Column exit routine %s not installed\n", name);
        return 1;
    }
    return fn(c, col, row);
}

int row_r(curs* c, columns* col, char* row) {
    return call_routine(colex_routines.colex_r, "R_JUSTIFY", c, col, row);
}
int row_l(curs* c, columns* col, char* row) {
    return call_routine(colex_routines.colex_l, "L_JUSTIFY", c, col, row);
}
int row_m(curs* c, columns* col, char* row) {
    return call_routine(colex_routines.colex_m, "MINUTES", c, col, row);
}
int row_s(curs* c, columns* col, char* row) {
    return call_routine(colex_routines.colex_s, "SUBSTR", c, col, row);
}
int row_c(curs* c, columns* col, char* row) {
    return call_routine(colex_routines.colex_c, "CONCAT", c, col, row);
}
int row_m2(curs* c, columns* col, char* row) {
    return call_routine(colex_routines.colex_m2, "MINUTES2", c, col, row);
}
int row_t(curs* c, columns* col, char* row) {
    return call_routine(colex_routines.colex_t, "TIMESTAMP", c, col, row);
}

// The table, chained through prior in search order.
const col_ex row_timestamp = {nullptr, 0, "TIMESTAMP", "timestamp", row_t};
const col_ex row_minutes2 = {&row_timestamp, 0, "MINUTES2", "minutes2", row_m2};
const col_ex row_concat = {&row_minutes2, 3, "CONCAT", "concat", row_c};
const col_ex row_substr = {&row_concat, 1, "SUBSTR", "substr", row_s};
const col_ex row_minutes = {&row_substr, 0, "MINUTES", "minutes", row_m};
const col_ex row_l_justify = {&row_minutes, 0, "L_JUSTIFY", "l_justify", row_l};
const col_ex row_r_justify = {&row_l_justify, 0, "R_JUSTIFY", "r_justify", row_r};

bool is_paren(int32_t n, char which) {
    return n == 1 && (parse_word.flags & PW_PAREN) != 0 && parse_word.text[0] == which;
}
bool is_number_word() { return (parse_word.num_flags & PN_NUMBER) != 0; }

// The two numbers of SUBSTR ( start , length ). False after one message.
bool read_substr(char** pos, char* end, col_ex_list* e) {
    if (!is_paren(clause_next_word(pos, end), '(')) {
        PRINT('e', "pcl4120", "Missing parenthesis\n");
        return false;
    }
    if (clause_next_word(pos, end) == 0) {
        PRINT('e', "pcl4125", "Missing numeric operand\n");
        return false;
    }
    if (!is_number_word()) {
        PRINT('e', "pcl4130", "Found non-numeric where number required\n");
        return false;
    }
    int32_t start = word_integer(parse_word.text, parse_word.len);
    if (start > col_field_max) {
        PRINT('e', "pcl4135", "Numeric is excessive %d > %d\n", start, col_field_max);
        return false;
    }
    if (start < 1) {
        PRINT('e', "pcl4137", "Numeric is less than 1 %d\n", start);
        return false;
    }
    int32_t n = clause_next_word(pos, end);
    if (n == 0) {
        PRINT('e', "pcl4140", "Missing required comma\n");
        return false;
    }
    if (!(n == 1 && (parse_word.flags & PW_COMMA) != 0)) {
        PRINT('e', "pcl4145", "Missing required comma\n");
        return false;
    }
    if (clause_next_word(pos, end) == 0) {
        PRINT('e', "pcl4150", "Missing second numeric operand\n");
        return false;
    }
    if (!is_number_word()) {
        PRINT('e', "pcl4155", "Found non-numeric where number required\n");
        return false;
    }
    int32_t length = word_integer(parse_word.text, parse_word.len);
    if (length > col_field_max) {
        PRINT('e', "pcl4160", "Numeric is excessive %d > %d\n", length, col_field_max);
        return false;
    }
    if (length < 1) {
        PRINT('e', "pcl4165", "Numeric is less than 1 %d\n", length);
        return false;
    }
    if (start + length > col_field_max)
        PRINT('w', "pcl4170", "Numeric sum excessive %d\n", start + length);
    if (!is_paren(clause_next_word(pos, end), ')')) {
        PRINT('e', "pcl4175", "Missing ending parenthesis\n");
        return false;
    }
    e->int1 = static_cast<int16_t>(start);
    e->int2 = static_cast<int16_t>(length);
    return true;
}

}  // namespace

const col_ex* const col_exits = &row_r_justify;

int parse_col_ex(curs* cursor, char* text) {
    char* end = clause_end(text);
    char* pos = text;

    int32_t n = clause_next_word(&pos, end);
    if (n == 0) {
        PRINT('e', "pde4085", "Bad decode syntax : %s\n", text);
        return 1;
    }
    if (n > 49) {
        PRINT('e', "pcc4090", "Column name too long (%d) in %s\n", n, text);
        return 1;
    }
    std::string column = clause_word_text();

    n = clause_next_word(&pos, end);
    if (n == 0) {
        PRINT('e', "pde4095", "Bad decode syntax : %s\n", text);
        return 1;
    }
    if (n > 19) {
        PRINT('e', "pcf4100", "Function name too long (%d) in %s\n", n, text);
        return 1;
    }
    const col_ex* row = col_exits;
    while (row != nullptr && !word_is(parse_word.text, n, row->name_lower, row->name_upper))
        row = row->prior;
    if (row == nullptr) {
        PRINT('e', "pcf4105", "Column exit routine name not known\n");
        return 1;
    }

    auto* e = clause_new<col_ex_list>();
    copy_field(e->col_name, sizeof(e->col_name), column.data(), column.size());
    e->c_exit = row->c_exit;
    bool ok = true;
    switch (row->type) {
        case 0:
            break;
        case 1:
            ok = read_substr(&pos, end, e);
            break;
        case 3: {
            char* word_start = pos;
            n = clause_next_word(&pos, end);
            if (n == 0) {
                PRINT('e', "pcl4110", "Missing column name in concat\n");
                ok = false;
            } else if (n > 49) {
                PRINT('e', "ccl4115", "Excessive length on %s\n",
                      this_start >= word_start ? this_start : word_start);
                ok = false;
            } else {
                copy_field(e->col_name_concat, sizeof(e->col_name_concat), parse_word.text,
                           static_cast<size_t>(n));
            }
            break;
        }
        default:
            PRINT('e', "pcl4180", "Improper type in exit definition - %d\n", row->type);
            ok = false;
            break;
    }
    if (!ok) {
        U_FREE(e);
        return 1;
    }

    col_ex_list* entry = cursor->cxl_ptr;
    while (entry != nullptr && std::memcmp(entry->col_name, e->col_name, 50) != 0)
        entry = entry->next;
    if (entry != nullptr) {
        col_ex_list** tail = &entry->next_function;
        while (*tail != nullptr) tail = &(*tail)->next_function;
        *tail = e;
    } else {
        chain_append(&cursor->cxl_ptr, e);
    }
    return 0;
}

int parse_iterate_where(curs* cursor, char* text) {
    if (cursor->iterate_where != nullptr) {
        PRINT('e', "pit4475", "Only one ITERATE_WHERE allowed per cursor\n");
        return 1;
    }
    std::string rule = std::string(text) + LOAD_TEXT_TAIL;
    decode* own = cursor->decode;
    cursor->decode = nullptr;
    int rc = parse_decode(cursor, rule.data());
    decode* condition = cursor->decode;
    cursor->decode = own;
    if (rc != 0) {
        free_decode_chain(condition);
        return 1;
    }
    auto* w = clause_new<it_where>();
    w->decode = condition;
    cursor->iterate_where = w;
    return 0;
}

int parse_set_len(curs* cursor, char* text) {
    char* end = clause_end(text);
    char* pos = text;
    int32_t n = clause_next_word(&pos, end);
    if (n == 0) {
        PRINT('e', "pcl4540", "Invalid set_len syntax\n");
        return 1;
    }
    if (n > 49) {
        PRINT('e', "pcl4545", "Excessive text in set_len : %s\n", text);
        return 1;
    }
    std::string column = clause_word_text();
    if (column.find('.') != std::string::npos) {
        PRINT('e', "pcl4550", "Can't use qualified name in set_len (%s)\n", text);
        return 1;
    }
    if (clause_next_word(&pos, end) == 0) {
        PRINT('e', "pcl4555", "Missing numeric length value in set_len (%s)\n", text);
        return 1;
    }
    // The leading integer of the word; a word without one gives 0.
    std::string word = clause_word_text();
    long len = 0;
    if (!word.empty() &&
        (std::isdigit(static_cast<unsigned char>(word[0])) || word[0] == '-' || word[0] == '+'))
        len = std::strtol(word.c_str(), nullptr, 10);
    if (len > col_field_max) {
        PRINT('e', "pcl4565", "Cannot set length greator than %d in %s\n", col_field_max, text);
        return 1;
    }
    if (len < 1) {
        PRINT('e', "pcl4560", "Length must be at least 1 in set_len (%s)\n", text);
        return 1;
    }
    auto* s = clause_new<set_len>();
    copy_field(s->col_name, sizeof(s->col_name), column.data(), column.size());
    s->len = static_cast<int16_t>(len);
    chain_append(&cursor->set_len, s);
    return 0;
}

namespace {

bool starts_with(const char* p, const char* prefix) {
    return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}

const dictionary* dictionary_entry(const char* name, size_t n) {
    if (n >= sizeof(dictionary::name)) return nullptr;
    char key[sizeof(dictionary::name)] = {};
    std::memcpy(key, name, n);
    for (const dictionary* d = dict_anchor; d != nullptr; d = d->next)
        if (std::memcmp(d->name, key, sizeof(key)) == 0) return d;
    return nullptr;
}

}  // namespace

int parse_script_exit(curs* cursor) {
    char* p = cursor->raw_insert_select;
    if (p == nullptr) {
        PRINT('e', "pcc3990", "Invalid insert_select\n");
        return 1;
    }
    while (*p == ' ') ++p;
    if (!starts_with(p, "SELECT ") && !starts_with(p, "select ")) {
        PRINT('e', "pcc3990", "Invalid insert_select\n");
        return 1;
    }
    p += 7;
    while (*p == ' ') ++p;
    if (*p == '(') ++p;
    char* list = p;

    // Count the items up to FROM; parentheses become blanks.
    int n = 1;
    char* q = list;
    while (*q != '\0' && !starts_with(q, "FROM ") && !starts_with(q, "from ")) {
        if (*q == '(' || *q == ')')
            *q = ' ';
        else if (*q == ',')
            ++n;
        ++q;
    }
    if (*q != 'F' && *q != 'f') {
        PRINT('e', "pcc4000", "Bad insert_select text\n");
        return 1;
    }
    *q = '\0';

    xSQLDA* d = xsqlda_with_indicators(n);
    int32_t total = 0;
    p = list;
    for (int k = 0; k < n; ++k) {
        char* name = p;
        size_t len = std::strcspn(name, "( ,");
        p = name + len;
        if (*p != '\0') *p++ = '\0';
        d->S[k] = name;
        d->M[k] = static_cast<int16_t>(len);
        d->C[k] = static_cast<int16_t>(len);
        const dictionary* e = dictionary_entry(name, len);
        if (e == nullptr) {
            PRINT('e', "pcc4005", "No dictionary entry found for %s\n", name);
            PRINT('e', "pcc4010", "Script parsing failed\n");
            zovldau(&d);
            return 1;
        }
        d->L[k] = e->len;
        total += e->len;
        d->T[k] = (e->orig_type == 2 || e->orig_type == 4) ? 2 : 1;
        while (*p == ' ') ++p;
        if (*p == ',') ++p;
        while (*p == ' ') ++p;
    }

    char* values = static_cast<char*>(U_MALLOC(total > 0 ? total : 1));
    std::memset(values, 0, static_cast<size_t>(total > 0 ? total : 1));
    int32_t at = 0;
    for (int k = 0; k < n; ++k) {
        d->V[k] = values + at;
        at += d->L[k];
    }
    U_FREE(cursor->buffer);
    cursor->buffer = values;
    if (cursor->xlda != nullptr) {
        auto* old = static_cast<xSQLDA*>(cursor->xlda);
        zovldau(&old);
    }
    cursor->xlda = d;
    return 0;
}

void free_col_exits(col_ex_list* l) {
    while (l != nullptr) {
        col_ex_list* next = l->next;
        for (col_ex_list* f = l->next_function; f != nullptr;) {
            col_ex_list* nf = f->next_function;
            U_FREE(f);
            f = nf;
        }
        U_FREE(l);
        l = next;
    }
}

void free_set_lens(set_len* s) {
    while (s != nullptr) {
        set_len* next = s->next;
        U_FREE(s);
        s = next;
    }
}

void free_it_where(it_where* w) {
    if (w == nullptr) return;
    free_decode_chain(w->decode);
    U_FREE(w);
}
