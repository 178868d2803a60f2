// Test aid for the clause parsers: a cursor that frees everything the parsers hang from
// it, clause texts framed as the statement reader frames them, and the message log.
#pragma once

#include <cstring>
#include <initializer_list>
#include <string>
#include <vector>

#include "defs/clause_free.h"
#include "defs/select_lists.h"
#include "defs/tokenizer.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"

// A clause text as a clause parser receives it: the text, four blanks and a zero, in a
// writable buffer with room behind it.
class clause_text {
  public:
    explicit clause_text(const std::string& text) : buf_(text.begin(), text.end()) {
        for (int i = 0; i < 4; ++i) buf_.push_back(' ');
        buf_.resize(buf_.size() + 64, '\0');
        parens = 0;  // a new statement
    }
    char* get() { return buf_.data(); }
    operator char*() { return buf_.data(); }

  private:
    std::vector<char> buf_;
};

// A cursor with a name and columns read from host-variable words, as the statement
// reader adds them; made by the shared builder (off the cursor list), it also frees what
// the clause parsers and the statement's readers hang from it: clause records, load
// texts, the insert's host columns and owned texts.
struct test_cursor {
    explicit test_cursor(const char* name = "CUR", std::initializer_list<const char*> cols = {})
        : built_(name, cursortest::cursor::apart), c(built_.get()) {
        for (const char* w : cols) add(w);
    }
    ~test_cursor() {
        del_clauses(c);
        for (load_text* l = c->loadt; l != nullptr;) {
            load_text* n = l->next;
            U_FREE(l->text);
            U_FREE(l);
            l = n;
        }
        for (host_cols* h = c->host_cols; h != nullptr;) {
            host_cols* n = h->next;
            U_FREE(h);
            h = n;
        }
        U_FREE(c->insert);
        U_FREE(c->insert_where);
        U_FREE(c->raw_insert_select);
        U_FREE(c->table_name);
        U_FREE(c->host_table);
        U_FREE(c->uuidbase);
        U_FREE(c->uuidpavc);
        U_FREE(c->uuidpcvc);
    }
    test_cursor(const test_cursor&) = delete;
    test_cursor& operator=(const test_cursor&) = delete;

  private:
    cursortest::cursor built_;  // the columns, rows and the record itself

  public:
    curs* c;

    void add(const char* word) { add_column(word, c); }
    int column_count() const {
        int n = 0;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) ++n;
        return n;
    }
    columns* column(int index) const { return cursortest::column_at(c, index); }
    void add_load(const char* text) {
        auto* l = static_cast<load_text*>(U_MALLOC(sizeof(load_text)));
        l->next = nullptr;
        size_t n = std::strlen(text);
        l->text = static_cast<char*>(U_MALLOC(n + 5));
        std::memcpy(l->text, text, n);
        std::memcpy(l->text + n, "    ", 5);
        load_text** tail = &c->loadt;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = l;
    }
};
