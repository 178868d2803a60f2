// Cursors with stored rows, built in code, for the internal select's tests and benchmark:
// columns laid out as the collector merges them (each value blank-padded to its length and
// followed by a NUL), rows chained from first_row to last_row.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"

namespace select_test {

struct Col {
    const char* name;
    int16_t len;
    int16_t orig_type;  // 2 numeric
};

// A cursor on cur_anchor (appended), freed with its rows and columns at the end.
class RowCursor {
  public:
    RowCursor(const char* name, std::vector<Col> cols) {
        c_ = curs_new();
        std::strncpy(c_->cur_name, name, sizeof c_->cur_name - 1);
        int32_t offset = 0;
        columns** tail = &c_->insert_columns;
        for (const Col& s : cols) {
            columns* col = columns_new();
            std::strncpy(col->col_name, s.name, sizeof col->col_name - 1);
            col->col_name_ll = static_cast<int16_t>(std::strlen(col->col_name));
            col->len = s.len;
            col->orig_type = s.orig_type;
            col->data_type = 1;
            col->offset = offset;
            offset += s.len + 1;
            *tail = col;
            tail = &col->next;
            ++c_->num_cols;
        }
        width_ = offset;
        // The columns start out on a fetch area of their own, as after a merge.
        fetch_area_.assign(static_cast<size_t>(width_) + 1, '\0');
        point_at_fetch_area();
        curs** at = &cur_anchor;
        while (*at) at = &(*at)->next;
        *at = c_;
    }
    ~RowCursor() {
        for (curs** at = &cur_anchor; *at; at = &(*at)->next) {
            if (*at == c_) {
                *at = c_->next;
                break;
            }
        }
        clear_rows();
        U_FREE(c_->insert_select);
        for (columns* col = c_->insert_columns; col;) {
            columns* next = col->next;
            U_FREE(col);
            col = next;
        }
        U_FREE(c_);
    }
    RowCursor(const RowCursor&) = delete;
    RowCursor& operator=(const RowCursor&) = delete;

    curs* get() const { return c_; }

    // Appends a row of the values, in column order (a missing value is blank).
    void add(const std::vector<std::string>& values) {
        row_data* r = row_data_new(width_);
        size_t i = 0;
        for (columns* col = c_->insert_columns; col; col = col->next, ++i) {
            char* field = r->text + col->offset;
            std::memset(field, ' ', static_cast<size_t>(col->len));
            if (i < values.size())
                std::memcpy(field, values[i].data(),
                            std::min(values[i].size(), static_cast<size_t>(col->len)));
            field[col->len] = '\0';
        }
        if (c_->last_row)
            c_->last_row->next = r;
        else
            c_->first_row = r;
        c_->last_row = r;
        ++c_->count;
    }
    void clear_rows() {
        for (row_data* r = c_->first_row; r;) {
            row_data* next = r->next;
            U_FREE(r);
            r = next;
        }
        c_->first_row = c_->last_row = nullptr;
        c_->count = 0;
    }
    // As after a merge of fetched rows: columns on the fetch area, which holds the last
    // row's values, cols_set 1.
    void point_at_fetch_area() {
        if (c_->last_row)
            std::memcpy(fetch_area_.data(), c_->last_row->text, static_cast<size_t>(width_));
        for (columns* col = c_->insert_columns; col; col = col->next)
            col->from = fetch_area_.data() + col->offset;
        c_->cols_set = 1;
    }
    // Columns unresolved (cols_set 0, no source), as after definition: the first fetch lays
    // them out.
    void unresolve() {
        c_->cols_set = 0;
        for (columns* col = c_->insert_columns; col; col = col->next) col->from = nullptr;
    }
    // Replaces the cursor's statement; it is freed with the cursor.
    void set_sql(const std::string& sql) {
        U_FREE(c_->insert_select);
        auto* s = static_cast<sel*>(U_MALLOC(sizeof(sel) + sql.size() + 1));
        s->len = static_cast<int16_t>(sql.size() + 1);
        std::memcpy(s->text, sql.c_str(), sql.size() + 1);
        c_->insert_select = s;
    }
    // The stored rows: each column's value up to its NUL (its trailing blanks cut when
    // asked), the values joined by '|'.
    std::vector<std::string> stored_rows(bool cut_blanks = false) const {
        std::vector<std::string> out;
        for (row_data* r = c_->first_row; r; r = r->next) {
            std::string row;
            for (columns* col = c_->insert_columns; col; col = col->next) {
                std::string v(r->text + col->offset, static_cast<size_t>(col->len));
                v = v.substr(0, v.find('\0'));
                if (cut_blanks)
                    while (!v.empty() && v.back() == ' ') v.pop_back();
                if (col != c_->insert_columns) row += '|';
                row += v;
            }
            out.push_back(row);
        }
        return out;
    }
    // True when every column addresses the last row's text and cols_set is 0.
    bool rests_on_last_row() const {
        if (c_->cols_set != 0 || !c_->last_row) return false;
        for (columns* col = c_->insert_columns; col; col = col->next)
            if (col->from != c_->last_row->text + col->offset) return false;
        return true;
    }

  private:
    curs* c_ = nullptr;
    int32_t width_ = 0;
    std::string fetch_area_;
};

// The monitor counters cursor: GROUPNAME, FLDNAME, FLDVALUE (character columns).
inline std::vector<Col> sysmon_columns(int16_t value_type = 1) {
    return {{"GROUPNAME", 30, 1}, {"FLDNAME", 40, 1}, {"FLDVALUE", 12, value_type}};
}

}  // namespace select_test
