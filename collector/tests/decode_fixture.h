// Test aid for the decodes: cursors with rows on the cursor list (the shared builder), rules
// read by the definition reader, in-lists with a given text; the clause records and the
// queue of cursors to run freed at the end as well.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "collector/transforms/decode.h"
#include "collector/transforms/decode_actions.h"
#include "defs/clause_decode.h"
#include "defs/clause_free.h"
#include "defs/clause_loads.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "testing/clause_fixture.h"
#include "testing/cursor_builder.h"

namespace decode_test {

// A cursor on the cursor list that also frees its clauses and its queue of cursors to run.
class world_cursor {
  public:
    world_cursor(const char* name, std::vector<cursortest::col_spec> cols)
        : rc_(name, std::move(cols)) {}
    ~world_cursor() {
        curs* c = rc_.get();
        del_clauses(c);
        for (curslist* q = c->curslist; q != nullptr;) {
            curslist* n = q->next;
            U_FREE(q);
            q = n;
        }
        c->curslist = nullptr;
    }
    world_cursor(const world_cursor&) = delete;
    world_cursor& operator=(const world_cursor&) = delete;

    curs* get() const { return rc_.get(); }
    cursortest::cursor& rows() { return rc_; }
    columns* col(const char* name) const { return rc_.col(name); }
    // Reads one decode rule ("COLUMN operator operand ..."); false when it is refused.
    bool rule(const std::string& text) {
        clause_text t(text);
        return parse_decode(rc_.get(), t) == 0;
    }
    // Adds an in-list of the given name whose current text is text.
    void in_list_text(const char* name, const char* text) {
        auto* l = static_cast<in_list*>(U_MALLOC(sizeof(in_list)));
        std::memset(l, 0, sizeof(in_list));
        std::strncpy(l->name, name, sizeof l->name - 1);
        size_t n = std::strlen(text);
        l->text = static_cast<char*>(U_MALLOC(n + 1));
        std::memcpy(l->text, text, n + 1);
        l->len = static_cast<int32_t>(n);
        l->next = rc_.get()->in_list;
        rc_.get()->in_list = l;
    }

  private:
    cursortest::cursor rc_;
};

}  // namespace decode_test
