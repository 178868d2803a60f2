// Merge of fetched rows into cursor rows.
#include "acquire/fetch_merge.h"

#include "acquire/result_sets.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/row_builder.h"
#include "defs/clause_loads.h"
#include "model/cursor.h"

namespace {

// The row being merged, as the base-row search reads it.
struct result_row {
    _anchorDBdata* d;
    _rowData* row;
};

bool result_value(const void* p, const base* b, const char** text, int32_t* len, bool* is_null) {
    const auto* rr = static_cast<const result_row*>(p);
    const int i = rr->d != nullptr
                      ? result_column_by_name(rr->d->Acoldata, rr->d->ncols, b->this_col,
                                              static_cast<size_t>(b->this_col_ll))
                      : -1;
    if (i < 0 || rr->row == nullptr || i >= rr->row->ncols) return false;
    const _rowColumn& rc = rr->row->col[i];
    *text = rc.value != nullptr ? rc.value : rr->row->buffer + rc.offset;
    *len = rc.length;
    *is_null = rr->d->Acoldata[i].indicator < 0;
    return true;
}

}  // namespace

int ccmr_set_bases(curs* c, _anchorDBdata* d, _rowData* row) {
    const result_row rr{d, row};
    return choose_base_rows(c, base_rows_from::result_set, result_value, &rr);
}

char* ccmr_locate_base(curs* base_cursor, curs* c, int offset) {
    return locate_base(base_cursor, c, offset);
}

namespace {

// ccmr_mergeResults's messages.
const row_messages result_set_messages = {{
    /* base_without_source */ {'e', "cmr1535", "Cannot use BASE in non_sql cursor %s\n",
                               row_args::cursor, true},
    /* unknown_percent */
    {'e', "cmr1560", "Un-identified percent variable %s\n", row_args::column, true},
    /* base_cursor_held */
    {'w', "cmr1565", "Base cursor held, holding %s\n", row_args::cursor, true},
    /* base_without_last_row */
    {'w', "cmr1570", "Base cursor has no last row, holding %s\n", row_args::cursor, true},
    /* name_without_source */
    {'e', "cmr1585", "Name (%s) not resolved in non_sql cursor %s\n", row_args::column_cursor,
     true},
    // A column no result column names was never bound to a value: reading its place in
    // the row would show another column's bytes, so it fails even with a length set.
    /* name_not_found */
    {'e', "cmr1590", "No database column found for %s.%s\n", row_args::cursor_column, false},
    /* position_without_source */
    {'e', "cmr1575", "Cannot use n! addressing in NO_SQL cursor %s\n", row_args::cursor, true},
    /* position_too_high */
    {'e', "cmr1580", "Occurance (%d) exceeds number of select columns (%d)\n",
     row_args::position_limit_cursor, false},
    // A result column longer than a column length can hold would overrun the row.
    /* negative_length */
    {'e', "cmr1603", "Column %s of cursor %s has a negative length, holding\n",
     row_args::column_cursor, true},
    /* row_too_long */
    {'e', "cmr1605", "Row of cursor %s needs %d bytes, more than %d; holding it\n",
     row_args::cursor_need_size, true},
    /* copy_without_last_row */
    {'w', "cmr1595", "No last row for cur %s as used by %s\n", row_args::source_cursor, false},
    /* no_value */
    {'e', "cmr1600", "Could not match %s - holding cursor %s\n", row_args::column_cursor, true},
    // Rows of the old layout cannot be read with a new one, as for fetched rows.
    /* layout_moved */
    {'w', "cmr1604", "Column layout of cursor %s changed, dropping its %d rows\n",
     row_args::cursor_count, false},
}};

// ccmr_setup_dummy's messages.
const row_messages result_set_dummy_messages = dummy_row_messages(
    {'e', "cdu4530", "Name (%s) not resolved no coldata for cursor %s\n", row_args::column_cursor,
     true},
    {'e', "cdu4535", "No database description found for %s\n", row_args::column, false},
    {'e', "cdu4525", "Occurance (%d) exceeds column limit (%d)\n", row_args::position_limit_cursor,
     false});

}  // namespace

int ccmr_mergeResults(char* buffer, curs* c, _anchorDBdata* d, _rowData* row,
                      const char* time_stamp) {
    return build_row(buffer, ccmr_buffer_size, c, row_source::of_result_set(d, row),
                     result_set_messages, time_stamp);
}

int ccmr_setup_dummy(curs* c, _columnData* cols, int ncols) {
    // The columns get running offsets, as for a dummy row from a descriptor: a dummy row
    // shows every column at its own place, also before any row was merged.
    return lay_out_dummy(c, row_source::of_columns(cols, ncols), result_set_dummy_messages);
}
