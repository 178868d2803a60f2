// Test aids of the expression engine: the captured log, a fresh term table per test, and
// renderings of lexeme lists and reverse Polish arrays.
#pragma once

#include <cstdio>
#include <string>

#include "expr/lexeme.h"
#include "expr/lexer.h"
#include "expr/operation_table.h"
#include "expr/term_table.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "testing/log_capture.h"

namespace expr_test {

// The one log capture of every test.
using ::LogCapture;

// One lexeme as text: rows by name (the unary minus as "u-"), names as written, numbers with
// "#", strings in single quotes, column references as CURSOR.COLUMN.
inline std::string render_one(LEXEME lexeme) {
    if (lexeme_type_of(lexeme) == LEX_OPERATION) {
        const sOperationTable* row = as_operation(lexeme);
        if (row->arg_count == 1 && std::string(row->op_name) == "-") return "u-";
        return row->op_name;
    }
    const TERM_TABLE* t = as_term(lexeme);
    switch (t->term_type) {
        case TERM_STRING:
            return "'" + std::string(t->name) + "'";
        case TERM_NUMBER:
            return "#" + std::string(t->name);
        case TERM_COLUMN:
            return std::string(t->cursor_name) + "." + t->name;
        default:
            return t->name;
    }
}

// The entries of a list up to its null end, separated by blanks.
inline std::string render(const LEXEME* list) {
    std::string out;
    for (int i = 0; list && list[i]; ++i) {
        if (!out.empty()) out += ' ';
        out += render_one(list[i]);
    }
    return out;
}

// A term table of its own for each test, released at the end.
class TermTableScope {
  public:
    TermTableScope() { open_lexer(nullptr); }
    ~TermTableScope() {
        close_lexer(&anchor_);
        free_perm_term_tb(anchor_);
    }
    TermTableScope(const TermTableScope&) = delete;
    TermTableScope& operator=(const TermTableScope&) = delete;

    // Terms of the table, in order.
    int size() const {
        int n = 0;
        for (TERM_TABLE* t = get_lex_term_tb_anchor(); t; t = t->next) ++n;
        return n;
    }

  private:
    TERM_TABLE* anchor_ = nullptr;
};

// Runs the expression lexer over text; the list (or null) and its count.
struct LexResult {
    LEXEME* list = nullptr;
    int16_t count = -1;
    const char* rest = nullptr;
    ~LexResult() {
        if (list) U_FREE(list);
    }
};

inline void lex(const char* text, LexResult& r) {
    r.rest = text;
    r.list = lexer(LEXER_INPUT{char_type_tb, ExprStateTable, &r.rest, &r.count}, express_switch_mx);
}

}  // namespace expr_test
