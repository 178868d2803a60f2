#include "expr/select_cursor.h"

#include <cstring>

#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/msg.h"

columns* select_lookup_column(curs* c, const char* column_name) {
    if (!c || !column_name) return nullptr;
    char name[51] = {};
    std::strncpy(name, column_name, 50);
    columns* col = nullptr;
    curs* owner = nullptr;
    if (search_curs_vers_insert(c, name, &col, &owner) != 0) return nullptr;
    return col;
}

columns* cursor_column(const char* cursor_name, const char* column_name) {
    curs* c = find_cursor(cursor_name);
    if (!c) {
        PRINT('e', "SEL0700", "Cursor %s not found\n", cursor_name ? cursor_name : "");
        return nullptr;
    }
    columns* col = select_lookup_column(c, column_name);
    if (!col)
        PRINT('e', "SEL0710", "Column %s not found for cursor %s\n", column_name ? column_name : "",
              c->cur_name);
    return col;
}

void point_columns(curs* c, const row_data* row) {
    char* text = const_cast<char*>(row->text);
    for (columns* col = c->insert_columns; col; col = col->next) col->from = text + col->offset;
}

int open_select_cursor(curs* c, row_data** rc) {
    if (!c->first_row) {
        PRINT('w', "SEL0010", "Cursor %s has no data\n", c->cur_name);
        return 100;
    }
    // Also for a cursor of one row: its columns may still address the fetch area.
    point_columns(c, c->first_row);
    *rc = select_before_first();
    return 0;
}

int fetch_next_row(curs* c, row_data** rc) {
    if (*rc == nullptr) {
        PRINT('e', "SEL0030", "Cursor %s is not open for select\n", c->cur_name);
        return -1;
    }
    row_data* next = *rc == select_before_first() ? c->first_row : (*rc)->next;
    if (!next) return 100;
    point_columns(c, next);
    *rc = next;
    return 0;
}

int close_select_cursor(curs* c, row_data** rc) {
    c->cols_set = 0;
    if (*rc == nullptr) {
        PRINT('e', "SEL0015", "Cursor %s is not open for select\n", c->cur_name);
        return 1;
    }
    *rc = nullptr;
    if (!c->last_row) {
        PRINT('w', "SEL0020", "Cursor %s has no last row\n", c->cur_name);
        return 1;
    }
    point_columns(c, c->last_row);
    return 0;
}

int select_cursor_guard::close() {
    if (done_) return 0;
    done_ = true;
    if (*rc_ != nullptr) return close_select_cursor(c_, rc_);
    c_->cols_set = 0;
    if (c_->last_row) point_columns(c_, c_->last_row);
    return 0;
}
