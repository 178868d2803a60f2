// Test aid for the row transforms: cursors built in code and chained as the cursor list,
// their column layout, and rows of fixed-width fields.
#pragma once

#include <cstring>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "collector/row_store.h"
#include "collector/run_notes.h"
#include "testing/clause_fixture.h"
#include "testing/cursor_test_support.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"

namespace xform {

// Cursors chained into cur_anchor in creation order while the list lives; they free their
// columns, clauses and rows.
class cursor_list {
  public:
    cursor_list() {
        curstest::set_aside();  // a parsed list stays reachable
        run_notes_reset();
    }
    ~cursor_list() {
        for (auto& t : all_) delete_all(t->c);
        cur_anchor = nullptr;
        run_notes_reset();
    }
    curs* add(const char* name, std::initializer_list<const char*> cols = {}) {
        all_.push_back(std::make_unique<test_cursor>(name, cols));
        curs* c = all_.back()->c;
        c->cur_version_list = c;
        c->if_tree_place = c;
        curs** tail = &cur_anchor;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = c;
        return c;
    }

  private:
    std::vector<std::unique_ptr<test_cursor>> all_;
};

// Gives every column without a length `width` bytes, lays the columns out as the row
// builder does (each followed by one NUL) and sets the cursor's text length.
inline void layout(curs* c, int width) {
    int32_t off = 0;
    int32_t end = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        if (col->len == 0) col->len = static_cast<int16_t>(width);
        col->offset = off;
        end = off + col->len;
        off = end + 1;
    }
    c->length = end;
}

inline columns* column(curs* c, const char* name) {
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        if (std::strcmp(col->col_name, name) == 0) return col;
    return nullptr;
}

// A row text with each value left-aligned and blank-padded in its column.
inline std::string row_text(curs* c, std::initializer_list<const char*> values) {
    std::string text(static_cast<size_t>(c->length) + 1, '\0');
    auto v = values.begin();
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        std::string field = v != values.end() ? *v++ : "";
        field.resize(static_cast<size_t>(col->len), ' ');
        text.replace(static_cast<size_t>(col->offset), field.size(), field);
    }
    return text;
}

// Appends a row of the values to the cursor, as the row builder stores it.
inline row_data* append_row(curs* c, std::initializer_list<const char*> values) {
    std::string text = row_text(c, values);
    row_data* r = row_data_new(c->length);
    std::memcpy(r->text, text.data(), static_cast<size_t>(c->length));
    r->sampleno = static_cast<int16_t>(c->sampleno);
    r->rowno = static_cast<int16_t>(++c->rowno);
    if (c->last_row == nullptr)
        c->first_row = r;
    else
        c->last_row->next = r;
    c->last_row = r;
    ++c->count;
    return r;
}

// The text of one column of a row.
inline std::string field(const char* row, const columns* col) {
    return std::string(row + col->offset, static_cast<size_t>(col->len));
}

}  // namespace xform
