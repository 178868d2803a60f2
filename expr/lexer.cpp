#include "expr/lexer.h"

#include <cstring>

#include "expr/operation_table.h"
#include "expr/rpn.h"
#include "expr/term_table.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

bool alpha_pr(int c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
bool digit_pr(int c) { return c >= '0' && c <= '9'; }
bool blank_pr(int c) { return c >= 1 && c <= 32; }

constexpr int EXPR_TRACE_LEVEL = 8;

// ---- context helpers ----

char at(const LEX_CONTEXT& c, long pos) { return c.text[pos]; }
int class_at(const LEX_CONTEXT& c, long pos) { return find_char_type(c.text + pos, c.char_tb); }

bool is_name_char(int cls) { return cls == CC_ALPHA || cls == CC_DIGIT || cls == CC_UNDERSCORE; }

// Appends one lexeme; fails with `id` "Expression is too long" past MAX_LEXEMES.
int emit(LEX_CONTEXT& c, LEXEME lexeme, const char* id) {
    if (*c.count + 1 > MAX_LEXEMES) {
        PRINT('e', id, "Expression is too long\n");
        return -1;
    }
    ++*c.count;
    *c.out++ = lexeme;
    return 0;
}

// Appends the list of an inner run; fails with `id` past MAX_LEXEMES.
int append(LEX_CONTEXT& c, const LEXEME* list, int16_t n, const char* id) {
    if (*c.count + n > MAX_LEXEMES) {
        PRINT('e', id, "Expression is too long\n");
        return -1;
    }
    std::memcpy(c.out, list, sizeof(LEXEME) * static_cast<size_t>(n));
    c.out += n;
    *c.count = static_cast<int16_t>(*c.count + n);
    return 0;
}

// Runs an inner lexer from the current position; on success appends its lexemes and leaves
// the position one before where it stopped, so that the driver classifies that character.
int run_inner(LEX_CONTEXT& c, const LEX_ROUTINE* states, const int32_t (*mx)[CHAR_CLASSES],
              const char* fail_id, const char* fail_text, const char* long_id) {
    const char* p = c.text + c.pos;
    int16_t n = 0;
    LEXEME* list = lexer(LEXER_INPUT{c.char_tb, states, &p, &n}, mx);
    if (!list) {
        PRINT('e', fail_id, "%s\n", fail_text);
        return -1;
    }
    int rc = append(c, list, n, long_id);
    U_FREE(list);
    if (rc != 0) return -1;
    c.pos = (p - c.text) - 1;
    return 0;
}

// ---- expression and argument routines ----

int init_expr_rtn(LEX_CONTEXT& c) {
    if (c.cls == CC_BLANK || c.cls == CC_COMMA) return 0;
    if (c.cls == CC_END) return 1;
    --c.pos;  // classify the same character again through the start row
    return 0;
}

int open_paren_rtn(LEX_CONTEXT& c) {
    if (c.cls == CC_OPEN) {
        ++c.depth;
        return emit(c, to_lexeme(&OperationTable[OPER_OPEN_PAREN]), "LEX0040");
    }
    return c.cls == CC_BLANK ? 0 : -1;
}

int clse_paren_rtn(LEX_CONTEXT& c) {
    if (c.cls == CC_CLOSE) {
        if (--c.depth < 0) {
            PRINT('e', "LEX0045", "Unbalanced parentheses in expression\n");
            return -1;
        }
        return emit(c, to_lexeme(&OperationTable[OPER_CLOSE_PAREN]), "LEX0050");
    }
    return c.cls == CC_BLANK ? 0 : -1;
}

int clse_paren_s_rtn(LEX_CONTEXT& c) {
    if (c.cls == CC_CLOSE) {
        if (--c.depth < 0) {
            PRINT('e', "LEX0320", "Unbalanced parentheses in expression\n");
            return -1;
        }
        if (emit(c, to_lexeme(&OperationTable[OPER_CLOSE_PAREN]), "LEX0330") != 0) return -1;
        return c.depth == 0 ? 1 : 0;
    }
    return c.cls == CC_BLANK ? 0 : -1;
}

int term_rtn(LEX_CONTEXT& c) {
    switch (c.cls) {
        case CC_ALPHA:
        case CC_DIGIT:
        case CC_SPECIAL:
        case CC_QUOTE:
        case CC_PERIOD:
        case CC_UNDERSCORE:
            return run_inner(c, TermStateTable, term_switch_mx, "LEX0060", "Term syntax error",
                             "LEX0070");
        case CC_BLANK:
            return 0;
        default:
            return -1;
    }
}

// End (exclusive) of the run of characters of class `cls` from `pos`; -1 after "LEX0080"
// when the run stops on a character of class 0.
long word_end(const LEX_CONTEXT& c, long pos, bool (*same)(int)) {
    long i = pos;
    int k;
    while (same(k = class_at(c, i))) ++i;
    if (k == CC_NONE) {
        PRINT('e', "LEX0080", "Unknown character type in expression\n");
        return -1;
    }
    return i;
}

bool letters_only(int k) { return k == CC_ALPHA; }
bool symbols_only(int k) { return k == CC_OPER; }
bool underscores_only(int k) { return k == CC_UNDERSCORE; }
bool letters_or_underscores(int k) { return k == CC_ALPHA || k == CC_UNDERSCORE; }

int oper_rtn(LEX_CONTEXT& c) {
    long end;
    switch (c.cls) {
        case CC_ALPHA:
            end = word_end(c, c.pos, letters_only);
            break;
        case CC_OPER:
            end = word_end(c, c.pos, symbols_only);
            break;
        case CC_UNDERSCORE:
            end = word_end(c, c.pos, underscores_only);
            break;
        case CC_COMMA:
            end = c.pos + 1;
            break;
        case CC_BLANK:
            return 0;
        case CC_UNARY:
            --c.pos;
            return 0;
        default:
            return -1;
    }
    if (end < 0) return -1;
    const sOperationTable* row = find_oper_type(c.text + c.pos, static_cast<int>(end - c.pos));
    if (!row) {
        PRINT('e', "LEX0090", "Unknown operation %.10s in expression\n", c.text + c.pos);
        return -1;
    }
    if (emit(c, to_lexeme(row), "LEX0100") != 0) return -1;
    c.pos = end - 1;
    return 0;
}

// After "(": a unary operator (NOT, "-"), or the start of a term.
int spec_oper_rtn(LEX_CONTEXT& c) {
    long end;
    if (c.cls == CC_ALPHA || c.cls == CC_UNDERSCORE) {
        end = word_end(c, c.pos, letters_or_underscores);
        if (end < 0) return -1;
        char after = at(c, end);
        const sOperationTable* row =
            (after == '(' || after == '.')
                ? nullptr
                : find_spec_oper_type(c.text + c.pos, static_cast<int>(end - c.pos));
        if (!row) {
            --c.pos;  // a function name, a cursor qualifier or a plain term
            return 0;
        }
        if (emit(c, to_lexeme(row), "LEX0100") != 0) return -1;
    } else if (c.cls == CC_OPER) {
        end = word_end(c, c.pos, symbols_only);
        if (end < 0) return -1;
        const sOperationTable* row =
            find_spec_oper_type(c.text + c.pos, static_cast<int>(end - c.pos));
        if (!row) {
            PRINT('e', "LEX0090", "Unknown operation in expression\n");
            return -1;
        }
        if (emit(c, to_lexeme(row), "LEX0100") != 0) return -1;
    } else {
        return -1;
    }
    c.pos = end - 1;
    c.cls = CC_UNARY;
    return 2;
}

int end_expr_rtn(LEX_CONTEXT& c) {
    if (c.cls != CC_END) return -1;
    if (c.depth != 0) {
        PRINT('e', "LEX0110", "Unbalanced parentheses in expression\n");
        return -1;
    }
    return emit(c, nullptr, "LEX0120") == 0 ? 1 : -1;
}

int expr_error_rtn(LEX_CONTEXT&) {
    PRINT('e', "LEX0130", "Syntax error: invalid character sequence in expression\n");
    return -1;
}

// ---- term routines ----

int init_term_rtn(LEX_CONTEXT& c) { return init_expr_rtn(c); }

int too_long(const char* id, const char* what) {
    PRINT('e', id, "%s is longer than %d characters in expression\n", what, TERM_NAME_MAX);
    return -1;
}

int name_rtn(LEX_CONTEXT& c) {
    if (c.cls != CC_ALPHA && c.cls != CC_SPECIAL && c.cls != CC_UNDERSCORE) return -1;
    const long start = c.pos;
    long i = start + 1;
    int k;
    while (is_name_char(k = class_at(c, i))) ++i;
    if (k == CC_NONE) {
        PRINT('e', "LEX0150", "Unknown character type in expression\n");
        return -1;
    }
    const long name_end = i;
    long j = name_end;
    while (class_at(c, j) == CC_BLANK) ++j;
    const char stop = at(c, j);
    TERM_TABLE* term;
    if (stop == '(' || stop == '.') {
        // The text keeps one character more (the first blank, or the "(" or "."), so that
        // it cannot be shared with a plain name of the same spelling.
        long len = (j > name_end ? name_end : j) - start + 1;
        term = len <= TERM_NAME_MAX ? find_name_entry(c.text + start, static_cast<int16_t>(len))
                                    : nullptr;
        if (!term) return too_long("LEX0165", "Name");
        current_term = term;
        c.pos = j - 1;
        return 0;
    }
    long len = name_end - start;
    term =
        len <= TERM_NAME_MAX ? find_name_entry(c.text + start, static_cast<int16_t>(len)) : nullptr;
    if (!term) return too_long("LEX0165", "Name");
    current_term = term;
    if (emit(c, term, "LEX0160") != 0) return -1;
    c.pos = j - 1;
    return 0;
}

int qualif_name_rtn(LEX_CONTEXT& c) {
    TERM_TABLE* term = current_term;
    if (!term) return -1;
    size_t cursor_len = std::strlen(term->name);
    if (cursor_len > 0) --cursor_len;  // the "." or blank kept by name_rtn
    if (cursor_len > static_cast<size_t>(MAX_CURSOR_LEN)) {
        PRINT('e', "LEX0180", "Cursor name %.*s is longer than MAX_CURSOR_LEN\n",
              static_cast<int>(cursor_len), term->name);
        return -1;
    }
    if (c.cls != CC_PERIOD) return -1;
    char column[TERM_NAME_MAX + 1];
    size_t col_len = 0;
    long i = c.pos + 1;
    for (;; ++i) {
        int k = class_at(c, i);
        if (k == CC_NONE) {
            PRINT('e', "LEX0190", "Unknown character type in expression\n");
            return -1;
        }
        if (is_name_char(k) || (k == CC_PERIOD && col_len > 0)) {
            if (col_len == static_cast<size_t>(TERM_NAME_MAX))
                return too_long("LEX0205", "Column name");
            column[col_len++] = at(c, i);
        } else if ((k == CC_BLANK || k == CC_PERIOD) && col_len == 0) {
            continue;  // blanks and periods before the column name are passed over
        } else {
            break;
        }
    }
    if (col_len == 0) {
        PRINT('e', "LEX0197", "Column name missing after cursor name %.*s\n",
              static_cast<int>(cursor_len), term->name);
        return -1;
    }
    column[col_len] = '\0';
    std::memcpy(term->cursor_name, term->name, cursor_len);
    term->cursor_name[cursor_len] = '\0';
    std::memcpy(term->name, column, col_len + 1);
    term->term_type = TERM_COLUMN;
    TERM_TABLE* shared = find_column_term(term);
    if (!shared) {
        PRINT('e', "LEX0195", "Lexer error\n");
        return -1;
    }
    if (shared != term) {
        unchain_and_free_term(term);
        term = shared;
    }
    current_term = term;
    if (emit(c, term, "LEX0200") != 0) return -1;
    c.pos = i - 1;
    return 0;
}

int function_rtn(LEX_CONTEXT& c) {
    TERM_TABLE* term = current_term;
    if (!term) return -1;
    int len = static_cast<int>(std::strlen(term->name));
    if (len > 0) --len;  // the "(" or blank kept by name_rtn
    const sOperationTable* row = find_function(term->name, len);
    if (!row) {
        PRINT('e', "LEX0260", "Unknown function %.*s in expression\n", len, term->name);
        return -1;
    }
    if (emit(c, to_lexeme(row), "LEX0270") != 0) return -1;
    unchain_and_free_term(term);
    current_term = nullptr;
    if (c.cls != CC_OPEN) return -1;
    return run_inner(c, SubExprStateTable, express_switch_mx, "LEX0300",
                     "function argument expression syntax error", "LEX0310");
}

int number_rtn(LEX_CONTEXT& c) {
    if (c.cls != CC_DIGIT && c.cls != CC_PERIOD) return -1;
    const long start = c.pos;
    long i = start;
    bool period = false;
    for (;; ++i) {
        int k = class_at(c, i);
        if (k == CC_DIGIT) continue;
        if (k == CC_PERIOD) {
            if (period) {
                PRINT('e', "LEX0345", "Extra period in decimal number\n");
                return -1;
            }
            period = true;
            continue;
        }
        if (k == CC_NONE) {
            PRINT('e', "LEX0340", "Unknown character type in expression\n");
            return -1;
        }
        break;
    }
    long len = i - start;
    if (len == 1 && at(c, start) == '.') {
        PRINT('e', "LEX0350", "Syntax error, a number expected\n");
        return -1;
    }
    TERM_TABLE* term = len <= TERM_NAME_MAX
                           ? find_number_entry(c.text + start, static_cast<int16_t>(len))
                           : nullptr;
    if (!term) return too_long("LEX0355", "Number");
    if (emit(c, term, "LEX0360") != 0) return -1;
    c.pos = i - 1;
    return 0;
}

int string_rtn(LEX_CONTEXT& c) {
    if (c.cls != CC_QUOTE) return -1;
    const char quote = at(c, c.pos);
    long i = c.pos + 1;
    for (;; ++i) {
        int k = class_at(c, i);
        if (k == CC_NONE) {
            PRINT('e', "LEX0380", "Unknown character type in expression\n");
            return -1;
        }
        if (k == CC_END) {
            PRINT('e', "LEX0410", "Expression end encountered before string end\n");
            return -1;
        }
        if (k == CC_QUOTE && at(c, i) == quote) break;
    }
    const char* s = c.text + c.pos + 1;
    long len = i - c.pos - 1;
    if (len == 0) {
        PRINT('w', "LEX0390", "Empty string, a blank assumed\n");
        s = " ";
        len = 1;
    }
    TERM_TABLE* term =
        len <= TERM_NAME_MAX ? find_string_entry(s, static_cast<int16_t>(len)) : nullptr;
    if (!term) return too_long("LEX0405", "String");
    if (emit(c, term, "LEX0400") != 0) return -1;
    c.pos = i;
    return 0;
}

int end_term_rtn(LEX_CONTEXT& c) {
    if (c.depth != 0) {
        PRINT('e', "LEX0500", "Unbalanced parentheses in expression\n");
        return -1;
    }
    --c.pos;
    return 1;
}

}  // namespace

const CHAR_TYPE_ROW char_type_tb[CHAR_CLASSES] = {
    {"(", nullptr},  {")", nullptr},   {nullptr, alpha_pr}, {nullptr, digit_pr},
    {"!%", nullptr}, {"'\"", nullptr}, {nullptr, blank_pr}, {"+-*/><=:^", nullptr},
    {";", nullptr},  {",", nullptr},   {nullptr, nullptr},  {".", nullptr},
    {"_", nullptr},
};

const LEX_ROUTINE ExprStateTable[LEX_STATES] = {
    init_expr_rtn, open_paren_rtn, clse_paren_rtn, term_rtn,
    oper_rtn,      spec_oper_rtn,  end_expr_rtn,   expr_error_rtn,
};

const LEX_ROUTINE SubExprStateTable[LEX_STATES] = {
    init_expr_rtn, open_paren_rtn, clse_paren_s_rtn, term_rtn,
    oper_rtn,      spec_oper_rtn,  end_expr_rtn,     expr_error_rtn,
};

const LEX_ROUTINE TermStateTable[LEX_STATES] = {
    init_term_rtn, name_rtn,   qualif_name_rtn, function_rtn,
    number_rtn,    string_rtn, end_term_rtn,    expr_error_rtn,
};

// clang-format off
const int32_t express_switch_mx[LEX_STATES][CHAR_CLASSES] = {
    /* 1 start    */ {2, 8, 4, 4, 4, 4, 1, 8, 8, 8, 8, 4, 4},
    /* 2 "("      */ {2, 8, 6, 4, 4, 4, 2, 6, 8, 8, 8, 4, 6},
    /* 3 ")"      */ {8, 3, 5, 8, 8, 8, 3, 5, 7, 5, 8, 8, 5},
    /* 4 term     */ {8, 3, 5, 8, 8, 8, 4, 5, 7, 5, 8, 8, 5},
    /* 5 operator */ {2, 8, 4, 4, 4, 4, 5, 5, 8, 8, 8, 4, 4},
    /* 6 unary    */ {8, 8, 4, 8, 8, 8, 8, 8, 8, 8, 5, 8, 4},
    /* 7 end      */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* 8 error    */ {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7},
};

const int32_t term_switch_mx[LEX_STATES][CHAR_CLASSES] = {
    /* 1 start     */ {7, 7, 2, 5, 2, 6, 7, 7, 7, 7, 7, 5, 2},
    /* 2 name      */ {4, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 3, 7},
    /* 3 qualified */ {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7},
    /* 4 function  */ {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7},
    /* 5 number    */ {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7},
    /* 6 string    */ {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7},
    /* 7 end       */ {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1},
    /* 8 error     */ {7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7},
};
// clang-format on

int find_char_type(const char* c, const CHAR_TYPE_ROW* char_tb) {
    const int ch = static_cast<unsigned char>(*c);
    if (ch == 0) {
        if (u_trace_on(EXPR_TRACE_LEVEL))
            PRINT('w', "LEX0035", "Null-terminator assumed the expression end\n");
        return CC_END;
    }
    for (int row = 0; row < CHAR_CLASSES; ++row) {
        const CHAR_TYPE_ROW& r = char_tb[row];
        if (r.set ? std::strchr(r.set, ch) != nullptr : (r.predicate && r.predicate(ch)))
            return row + 1;
    }
    return CC_NONE;
}

char get_expr_end_sign() { return char_type_tb[CC_END - 1].set[0]; }

LEXEME* lexer(const LEXER_INPUT& input, const int32_t (*matrix)[CHAR_CLASSES]) {
    if (!input.text || !*input.text || !input.count) {
        PRINT('e', "LEX0015", "Syntax error in expression\n");
        return nullptr;
    }
    // Never null: u_malloc ends the process when memory runs out (no LEX0010).
    auto* buffer = static_cast<LEXEME*>(U_MALLOC(sizeof(LEXEME) * MAX_LEXEMES));
    std::memset(buffer, 0, sizeof(LEXEME) * MAX_LEXEMES);
    *input.count = 0;
    LEX_CONTEXT c{*input.text, 0, 0, 0, buffer, input.count, input.char_tb};
    int state = 1;
    bool ok = false;
    c.cls = class_at(c, 0);
    if (c.cls == CC_NONE) {
        PRINT('e', "LEX0015", "Syntax error in expression\n");
    } else {
        for (;;) {
            int rc = input.state_tb[state - 1](c);
            if (rc == 0) {
                ++c.pos;
                c.cls = class_at(c, c.pos);
                if (c.cls == CC_NONE) {
                    PRINT('e', "LEX0020", "Unknown character type in expression\n");
                    break;
                }
            } else if (rc == 2) {
                ++c.pos;
            } else if (rc == 1) {
                ++c.pos;
                ok = true;
                break;
            } else {
                if (rc != -1) PRINT('e', "LEX0025", "Lexer error\n");
                break;
            }
            state = matrix[state - 1][c.cls - 1] & 0xFFFF;
        }
    }
    *input.text = c.text + (c.pos > 0 ? c.pos : 0);
    if (ok && c.depth != 0) {
        PRINT('e', "LEX0030", "Unbalanced parentheses in expression\n");
        ok = false;
    }
    if (!ok) {
        U_FREE(buffer);
        return nullptr;
    }
    return buffer;
}

LEXEME* parse_expression(const char** text) {
    int16_t count = 0;
    LEXEME* list =
        lexer(LEXER_INPUT{char_type_tb, ExprStateTable, text, &count}, express_switch_mx);
    if (!list) {
        PRINT('e', "LEX0005", "If-condition parsing ended with error\n");
        return nullptr;
    }
    LEXEME* rpn = reverse_pol_notation(list);
    U_FREE(list);
    if (!rpn) PRINT('e', "LEX0007", "If-condition parsing ended with error\n");
    return rpn;
}
