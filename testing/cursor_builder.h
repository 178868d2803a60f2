// The one way tests build a cursor with rows in code: a name, columns of given lengths and
// types laid out as the collector merges them (each value blank-padded to its length and
// followed by a NUL), rows stored as the row builder stores them (the cursor's sample
// number, the next row number), and the reading of columns and rows back.
// A cursor from definition text comes from the real parser: testing/cursor_test_support.h
// (curstest::parse, parse_one), whose cursors these functions read and fill the same way.
// Clause-level set-up (columns from host-variable words, clause records) is added by the
// definition tests' fixture, testing/clause_fixture.h, on top of this one.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"

namespace cursortest {

// A column made in code.
struct col_spec {
    const char* name;
    int16_t len;
    int16_t orig_type = 1;  // 2 numeric
};

// --- Any cursor: built here or parsed -------------------------------------------------

// Lays the columns out as the collector merges them: a column without a length gets
// `width` bytes, each value is followed by one NUL; the cursor's length ends at the last
// value. The row width (length and the last NUL) is returned.
inline int32_t lay_out(curs* c, int width = 0) {
    int32_t off = 0;
    int32_t end = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        if (col->len == 0) col->len = static_cast<int16_t>(width);
        col->offset = off;
        end = off + col->len;
        off = end + 1;
    }
    c->length = end;
    return off;
}

inline columns* column(const curs* c, const char* name) {
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        if (std::strcmp(col->col_name, name) == 0) return col;
    return nullptr;
}

// The column at index (0 the first); null past the last.
inline columns* column_at(const curs* c, int index) {
    columns* col = c->insert_columns;
    while (col != nullptr && index-- > 0) col = col->next;
    return col;
}

// A row text of the cursor's layout (length bytes and a NUL): each value left-aligned,
// blank-padded and cut to its column, a missing value blank.
inline std::string row_text(const curs* c, const std::vector<std::string>& values) {
    std::string text(static_cast<size_t>(c->length) + 1, '\0');
    size_t i = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next, ++i) {
        std::string field = i < values.size() ? values[i] : "";
        field.resize(static_cast<size_t>(col->len), ' ');
        text.replace(static_cast<size_t>(col->offset), field.size(), field);
    }
    return text;
}

// Appends a row of the values, as the row builder stores it: the cursor's sample number,
// the next row number, the count up by one.
inline row_data* append_row(curs* c, const std::vector<std::string>& values) {
    const std::string text = row_text(c, values);
    row_data* r = row_data_new(c->length);
    std::memcpy(r->text, text.data(), static_cast<size_t>(c->length));
    r->sampleno = c->sampleno;
    r->rowno = ++c->rowno;
    if (c->last_row == nullptr)
        c->first_row = r;
    else
        c->last_row->next = r;
    c->last_row = r;
    ++c->count;
    return r;
}

// Frees the cursor's rows; no row, count 0.
inline void free_rows(curs* c) {
    for (row_data* r = c->first_row; r != nullptr;) {
        row_data* next = r->next;
        U_FREE(r);
        r = next;
    }
    c->first_row = c->last_row = nullptr;
    c->count = 0;
}

// The value of a column in a row text: its len bytes.
inline std::string value(const char* text, const columns* col) {
    return std::string(text + col->offset, static_cast<size_t>(col->len));
}
inline std::string value(const row_data* r, const columns* col) { return value(r->text, col); }

// A stored row's text: the cursor's length bytes.
inline std::string stored_text(const curs* c, const row_data* r) {
    return std::string(r->text, static_cast<size_t>(c->length));
}

// The stored rows: each value up to its NUL (its trailing blanks cut when asked), the
// values joined by '|'.
inline std::vector<std::string> stored_rows(const curs* c, bool cut_blanks = false) {
    std::vector<std::string> out;
    for (row_data* r = c->first_row; r != nullptr; r = r->next) {
        std::string row;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
            std::string v = value(r, col);
            v = v.substr(0, v.find('\0'));
            if (cut_blanks)
                while (!v.empty() && v.back() == ' ') v.pop_back();
            if (col != c->insert_columns) row += '|';
            row += v;
        }
        out.push_back(row);
    }
    return out;
}

// The sample number of each stored row, oldest first.
inline std::vector<int32_t> row_samples(const curs* c) {
    std::vector<int32_t> out;
    for (row_data* r = c->first_row; r != nullptr; r = r->next) out.push_back(r->sampleno);
    return out;
}

// Appends the cursor to cur_anchor; takes it off again.
inline void link_to_list(curs* c) {
    curs** at = &cur_anchor;
    while (*at != nullptr) at = &(*at)->next;
    *at = c;
}
inline void unlink_from_list(curs* c) {
    for (curs** at = &cur_anchor; *at != nullptr; at = &(*at)->next) {
        if (*at == c) {
            *at = c->next;
            return;
        }
    }
}

// --- A cursor made in code -----------------------------------------------------------

// Owns a cursor made here: on cur_anchor (appended) unless made apart, freed with its rows,
// columns and statement at the end. What a test hangs on it beyond that, the test frees.
class cursor {
  public:
    enum placement { on_list, apart };

    // Columns of the given lengths and types (character data), laid out, standing on a
    // fetch area of their own as after a merge (cols_set 1).
    cursor(const char* name, const std::vector<col_spec>& cols, placement where = on_list)
        : on_list_(where == on_list) {
        c_ = curs_new();
        set_name(name);
        for (const col_spec& s : cols) add_column(s.name, s.len, s.orig_type);
        lay_out_columns();
        if (on_list_) link_to_list(c_);
    }
    // A bare record with a name only, as the definition reader starts one: columns come
    // later (add_column, or the host-variable words of a clause fixture), cols_set 0.
    cursor(const char* name, placement where) : on_list_(where == on_list) {
        c_ = curs_new();
        set_name(name);
        if (on_list_) link_to_list(c_);
    }
    ~cursor() {
        if (on_list_) unlink_from_list(c_);
        free_rows(c_);
        U_FREE(c_->insert_select);
        for (columns* col = c_->insert_columns; col != nullptr;) {
            columns* next = col->next;
            U_FREE(col);
            col = next;
        }
        U_FREE(c_);
    }
    cursor(const cursor&) = delete;
    cursor& operator=(const cursor&) = delete;

    curs* get() const { return c_; }
    columns* col(const char* name) const { return column(c_, name); }

    // Appends a column (its offset is set by lay_out_columns).
    columns* add_column(const char* name, int16_t len, int16_t orig_type = 1) {
        columns* col = columns_new();
        std::strncpy(col->col_name, name, sizeof col->col_name - 1);
        col->col_name_ll = static_cast<int16_t>(std::strlen(col->col_name));
        col->len = len;
        col->orig_type = orig_type;
        col->data_type = 1;
        columns** tail = &c_->insert_columns;
        while (*tail != nullptr) tail = &(*tail)->next;
        *tail = col;
        ++c_->num_cols;
        return col;
    }
    // Lays the columns out (those without a length get width bytes) and puts them on a
    // fresh fetch area.
    void lay_out_columns(int width = 0) {
        width_ = lay_out(c_, width);
        fetch_area_.assign(static_cast<size_t>(width_) + 1, '\0');
        point_at_fetch_area();
    }

    // Appends a row of the values, in column order (a missing value is blank).
    row_data* add(const std::vector<std::string>& values) { return append_row(c_, values); }
    void clear_rows() { free_rows(c_); }

    // As after a merge of fetched rows: columns on the fetch area, which holds the last
    // row's values, cols_set 1.
    void point_at_fetch_area() {
        if (c_->last_row != nullptr)
            std::memcpy(fetch_area_.data(), c_->last_row->text, static_cast<size_t>(width_));
        for (columns* col = c_->insert_columns; col != nullptr; col = col->next)
            col->from = fetch_area_.data() + col->offset;
        c_->cols_set = 1;
    }
    // Columns unresolved (cols_set 0, no source), as after definition: the first fetch lays
    // them out.
    void unresolve() {
        c_->cols_set = 0;
        for (columns* col = c_->insert_columns; col != nullptr; col = col->next)
            col->from = nullptr;
    }
    // Replaces the cursor's statement; it is freed with the cursor.
    void set_sql(const std::string& sql) {
        U_FREE(c_->insert_select);
        auto* s = static_cast<sel*>(U_MALLOC(sizeof(sel) + sql.size() + 1));
        s->len = static_cast<int16_t>(sql.size() + 1);
        std::memcpy(s->text, sql.c_str(), sql.size() + 1);
        c_->insert_select = s;
    }
    std::vector<std::string> stored_rows(bool cut_blanks = false) const {
        return cursortest::stored_rows(c_, cut_blanks);
    }
    // True when every column addresses the last row's text and cols_set is 0.
    bool rests_on_last_row() const {
        if (c_->cols_set != 0 || c_->last_row == nullptr) return false;
        for (columns* col = c_->insert_columns; col != nullptr; col = col->next)
            if (col->from != c_->last_row->text + col->offset) return false;
        return true;
    }

  private:
    void set_name(const char* name) { std::strncpy(c_->cur_name, name, sizeof c_->cur_name - 1); }

    curs* c_ = nullptr;
    bool on_list_ = true;
    int32_t width_ = 0;
    std::string fetch_area_;
};

// The monitor counters cursor: GROUPNAME, FLDNAME, FLDVALUE (character columns).
inline std::vector<col_spec> sysmon_columns(int16_t value_type = 1) {
    return {{"GROUPNAME", 30, 1}, {"FLDNAME", 40, 1}, {"FLDVALUE", 12, value_type}};
}

}  // namespace cursortest
