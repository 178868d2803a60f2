// Test aids of the interpreter: cursors of the shared builder (columns over one row text that
// a test rewrites between evaluations), a parsed expression that can be evaluated again and again
// on its own term table, and a result holder.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expr/interpreter.h"
#include "expr/lexer.h"
#include "expr/operation_table.h"
#include "expr/term_table.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/cursor_builder.h"

namespace interp_test {

struct ColumnSpec {
    const char* name;
    int16_t orig_type;  // 2 numeric, 1 character
    int16_t len;
};

// A cursor of the shared builder on cur_anchor (appended last, as the collector appends its
// own cursors) whose columns read one row text, blank at the start, that a test rewrites
// between evaluations; removed and freed at the end.
class TestCursor {
  public:
    TestCursor(const char* name, const std::vector<ColumnSpec>& specs)
        : built_(name, cursortest::cursor::on_list) {
        for (const ColumnSpec& s : specs) built_.add_column(s.name, s.len, s.orig_type);
        built_.lay_out_columns();
        for (const ColumnSpec& s : specs) set(s.name, "");
    }
    TestCursor(const TestCursor&) = delete;
    TestCursor& operator=(const TestCursor&) = delete;

    curs* get() const { return built_.get(); }
    columns* column(const char* name) const { return built_.col(name); }
    // Writes the value blank-padded into the column's field (cut to the field).
    void set(const char* name, const std::string& value) {
        columns* col = column(name);
        ASSERT_NE(col, nullptr) << name;
        ASSERT_NE(col->from, nullptr) << name;
        std::memset(col->from, ' ', static_cast<size_t>(col->len));
        std::memcpy(col->from, value.data(), std::min(value.size(), static_cast<size_t>(col->len)));
    }

  private:
    cursortest::cursor built_;
};

// Installs a current cursor for the scope.
class CurrentCursor {
  public:
    explicit CurrentCursor(curs* c) { set_current_cursor(c); }
    ~CurrentCursor() { set_current_cursor(nullptr); }
};

// A result term, released as a caller of the interpreter releases it.
class Result {
  public:
    explicit Result(TERM_TABLE* t = nullptr) : term_(t) {}
    ~Result() { reset(); }
    Result(Result&& o) noexcept : term_(o.term_) { o.term_ = nullptr; }
    Result& operator=(Result&& o) noexcept {
        if (this != &o) {
            reset();
            term_ = o.term_;
            o.term_ = nullptr;
        }
        return *this;
    }
    void reset() {
        if (term_) free_work_chain(&term_, nullptr, 0);
        term_ = nullptr;
    }
    TERM_TABLE* get() const { return term_; }
    // Gives the term up without releasing it.
    TERM_TABLE* release() {
        TERM_TABLE* t = term_;
        term_ = nullptr;
        return t;
    }
    TERM_TABLE* operator->() const { return term_; }
    explicit operator bool() const { return term_ != nullptr; }
    std::string text() const { return term_ && term_->value ? term_->value : "<none>"; }

  private:
    TERM_TABLE* term_;
};

// An expression parsed on a term table of its own; run() evaluates a fresh copy of its
// array, as every caller of the interpreter does.
class Expr {
  public:
    explicit Expr(const char* text, bool with_row = false) {
        open_lexer(nullptr);
        const char* p = text;
        rpn_ = parse_expression(&p);
        close_lexer(&anchor_);
        if (rpn_ && with_row) append_row();
    }
    ~Expr() {
        if (rpn_) U_FREE(rpn_);
        free_perm_term_tb(anchor_);
    }
    Expr(const Expr&) = delete;
    Expr& operator=(const Expr&) = delete;

    bool parsed() const { return rpn_ != nullptr; }
    Result run() {
        std::vector<LEXEME> copy(rpn_, rpn_ + RPN_ENTRIES);
        open_lexer(anchor_);
        TERM_TABLE* r = interpreter(copy.data());
        close_lexer(&anchor_);
        return Result(r);
    }
    // The term of the table with this name (as lexed), or null.
    TERM_TABLE* term(const char* name) const {
        for (TERM_TABLE* t = anchor_; t; t = t->next)
            if (std::strcmp(t->name, name) == 0) return t;
        return nullptr;
    }
    TERM_TABLE* anchor() const { return anchor_; }

  private:
    // As the internal select does with a select list: ROW goes before the end.
    void append_row() {
        int n = 0;
        while (rpn_[n]) ++n;
        ASSERT_LT(n + 1, RPN_ENTRIES);
        rpn_[n] = to_lexeme(get_row_func_entry());
        rpn_[n + 1] = nullptr;
    }

    LEXEME* rpn_ = nullptr;
    TERM_TABLE* anchor_ = nullptr;
};

// Evaluates the text once; the result text, or nullopt when the evaluation gave none.
inline std::optional<std::string> eval(const char* text) {
    Expr e(text);
    if (!e.parsed()) return std::nullopt;
    Result r = e.run();
    if (!r) return std::nullopt;
    return r.text();
}

// Sets the trace levels for the scope (all off again at the end).
class TraceLevel {
  public:
    explicit TraceLevel(int level) {
        for (int16_t& l : my_trace_all) l = 0;
        if (level >= 0 && level <= 9) my_trace_all[level] = 23;
    }
    ~TraceLevel() {
        for (int16_t& l : my_trace_all) l = 0;
    }
};

}  // namespace interp_test
