// A consumer's answer from a cursor: its stored rows, a fresh demand run, or the
// column-function row.
#include "collector/run/cursor_answer.h"

#include <cstdint>
#include <cstring>

#include "collector/rows/cluster.h"
#include "collector/rows/column_functions.h"
#include "collector/rows/row_store.h"
#include "collector/run/cursor_run.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/alloc.h"

cluster* open_cursor(curs* c) {
    if (c->held == 'Y') return nullptr;
    if (open_is_stored_rows(c)) return make_cluster(c);
    const int32_t now = static_cast<int32_t>(now_relative_sec());
    if (c->demand != 0 && now >= c->stale_time) {
        if (c->age_to == nullptr) delete_all(c);
        return prep_demand(c);
    }
    return do_column_func(c, now);
}

cluster* do_column_func(curs* c, int now) {
    if (c->has_col_funct == 0) return nullptr;
    if (c->column_data == nullptr || c->column_data->len != c->length) {
        if (c->first_row == nullptr) {
            if (get_cursor_data(now, c) != 0) return nullptr;
        }
        U_FREE(c->column_data);
        c->column_data = row_data_new(c->length);
        c->column_data->len = c->length;
        c->changed = 1;
        c->needs_history = 1;
    }
    if (c->changed == 0) return make_cluster_1(c);
    c->changed = 0;
    char* text = c->column_data->text;
    std::memset(text, ' ', static_cast<size_t>(c->length));
    // The row a MIN or MAX found may be gone since the last computation.
    c->min_max_row = nullptr;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        char* at = text + col->offset;
        if (col->col_function != COLF_NONE) {
            if (col_function(c, col, at) != 0) {
                c->changed = 1;  // computed again at the next request
                return nullptr;
            }
        } else if (c->last_row != nullptr) {  // an empty cursor leaves them blank
            std::memcpy(at, c->last_row->text + col->offset, static_cast<size_t>(col->len));
        }
    }
    if (c->has_min_max != 0 && c->min_max_row != nullptr) {
        for (columns* col = c->insert_columns; col != nullptr; col = col->next)
            if (col->col_function == COLF_NONE)
                std::memcpy(text + col->offset, c->min_max_row->text + col->offset,
                            static_cast<size_t>(col->len));
    }
    return make_cluster_1(c);
}
