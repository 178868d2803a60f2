// Merge of fetched rows into cursor rows.
#include "acquire/fetch_merge.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "acquire/result_sets.h"
#include "collector/bases.h"
#include "collector/column_exits.h"
#include "collector/column_lookup.h"
#include "collector/decode.h"
#include "collector/dummy_rows.h"
#include "collector/least_forms_rows.h"
#include "collector/math.h"
#include "collector/percent_cursor.h"
#include "collector/row_store.h"
#include "collector/trace_control.h"
#include "defs/clause_loads.h"
#include "expr/percent_vars.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

// The 0-based result column named name (ignoring case), or -1.
int column_by_name(const _anchorDBdata* d, const char* name, size_t n) {
    for (int i = 0; i < d->ncols; ++i) {
        const char* rn = d->Acoldata[i].name;
        if (n < sizeof(_columnData::name) && strncasecmp(rn, name, n) == 0 && rn[n] == '\0')
            return i;
    }
    return -1;
}

// Binds column col to result column i (0-based). False after cmr1590 (a column of length 0).
bool bind_result_column(curs* c, columns* col, _anchorDBdata* d, int i) {
    _columnData& rc = d->Acoldata[i];
    if (rc.length == 0) {
        PRINT('e', "cmr1590", "No database column found for %s.%s\n", c->cur_name, col->col_name);
        return false;
    }
    col->data_type = 1;
    col->fromOffset = rc.offset;
    col->len = static_cast<int16_t>(rc.length);
    col->indicator = &rc.indicator;
    col->orig_type = static_cast<int16_t>(rc.type);
    col->occurance = static_cast<int16_t>(i + 1);
    return true;
}

// Step of column resolution; false when the row fails (after its message).
bool resolve_column(curs* c, columns* col, _anchorDBdata* d) {
    if (col->m_anch != nullptr) return true;
    if (col->col_name[0] == '%') {
        col->indicator = &indicator1;
        columns* p = find_pcnt_col(col->col_name);
        if (p == nullptr) {
            PRINT('e', "cmr1560", "Un-identified percent variable %s\n", col->col_name);
            hold(c);
            return false;
        }
        col->from = p->from;
        col->data_type = p->data_type;
        col->orig_type = p->orig_type;
        col->len = p->len;
        col->fromOffset = p->fromOffset;
        col->occurance = -1;
        return true;
    }
    if (col->base_column != nullptr) {
        curs* bc = col->base_cursor;
        if (bc != nullptr && bc->held == 'Y') {
            PRINT('w', "cmr1565", "Base cursor held, holding %s\n", c->cur_name);
            hold(c);
            return false;
        }
        if (bc == nullptr || bc->last_row == nullptr) {
            PRINT('w', "cmr1570", "Base cursor has no last row, holding %s\n", c->cur_name);
            hold(c);
            return false;
        }
        const columns* b = col->base_column;
        col->from = b->from;
        col->data_type = b->data_type;
        col->orig_type = b->orig_type;
        col->len = b->len;
        col->oracle_len = b->oracle_len;
        col->indicator = b->indicator;
        col->occurance = -2;
        return true;
    }
    if (col->occurance == 0) {
        if (d == nullptr) {
            PRINT('e', "cmr1585", "Name (%s) not resolved in non_sql cursor %s\n", col->col_name,
                  c->cur_name);
            hold(c);
            return false;
        }
        int i = column_by_name(d, col->col_name, std::strlen(col->col_name));
        if (i < 0) {
            // Never bound to a value: reading its place in the row would show another
            // column's bytes.
            PRINT('e', "cmr1590", "No database column found for %s.%s\n", c->cur_name,
                  col->col_name);
            return false;
        }
        return bind_result_column(c, col, d, i);
    }
    if (col->occurance > 0) {
        if (d == nullptr) {
            PRINT('e', "cmr1575", "Cannot use n! addressing in NO_SQL cursor %s\n", c->cur_name);
            hold(c);
            return false;
        }
        if (col->occurance > d->ncols) {
            PRINT('e', "cmr1580", "Occurance (%d) exceeds number of select columns (%d)\n",
                  col->occurance, d->ncols);
            return false;
        }
        return bind_result_column(c, col, d, col->occurance - 1);
    }
    return true;
}

}  // namespace

namespace {

// The row being merged, as the base-row search reads it.
struct result_row {
    _anchorDBdata* d;
    _rowData* row;
};

bool result_value(const void* p, const base* b, const char** text, int32_t* len, bool* is_null) {
    const auto* rr = static_cast<const result_row*>(p);
    const int i = rr->d != nullptr
                      ? column_by_name(rr->d, b->this_col, static_cast<size_t>(b->this_col_ll))
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

int merge_result_row(char* buffer, curs* c, _anchorDBdata* d, _rowData* row,
                     const char* time_stamp) {
    if (c->base != nullptr) {
        if (d == nullptr) {
            PRINT('e', "cmr1535", "Cannot use BASE in non_sql cursor %s\n", c->cur_name);
            hold(c);
            return 0;
        }
        if (ccmr_set_bases(c, d, row) != 0) return 0;
    }
    if (c->trace && c->show_cursor && d != nullptr) {
        PRINT('t', "cmr1540", "Database column information follows:\n");
        for (int i = 0; i < d->ncols; ++i) {
            const _columnData& rc = d->Acoldata[i];
            PRINT('t', "cmr1545", "Col #%2d= %32.32s, datatype= %d(%d) datalen= %d(%d)\n", i + 1,
                  rc.name, rc.conv_type, rc.source_type, rc.width, rc.length);
        }
    }
    pcnt_set_work(c, time_stamp);

    if (c->cols_set == 0) {
        int32_t at = 0;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
            if (!resolve_column(c, col, d)) return 0;
            if (col->caret_ll == col->len) col->caret_ll = 0;
            col->offset = at;
            at += col->len + 1;
        }
        if (at > ccmr_buffer_size) {
            PRINT('e', "cmr1605", "Row of cursor %s needs %d bytes, more than %d; holding it\n",
                  c->cur_name, at, ccmr_buffer_size);
            hold(c);
            return 0;
        }
    }

    int32_t end = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        end = col->offset + col->len;
        if (col->m_anch != nullptr) continue;
        if (col->occurance > 0) {
            const int n = col->occurance - 1;
            if (row != nullptr && n < row->ncols) {
                const _rowColumn& rc = row->col[n];
                col->from = rc.value != nullptr ? rc.value : row->buffer + rc.offset;
                col->oracle_len = static_cast<int16_t>(rc.length);
            } else {
                col->from = nullptr;
            }
        }
        const char* src;
        int16_t ind = 0;
        if (col->base_column != nullptr) {
            curs* bc = col->base_cursor;
            if (bc == nullptr || bc->last_row == nullptr) {
                PRINT('w', "cmr1595", "No last row for cur %s as used by %s\n",
                      bc != nullptr ? bc->cur_name : "", c->cur_name);
                return 0;
            }
            src = c->base != nullptr ? ccmr_locate_base(bc, c, col->base_column->offset)
                                     : bc->last_row->text + col->base_column->offset;
        } else {
            src = col->from;
            ind = col->indicator != nullptr ? *col->indicator : 0;
        }
        if (src == nullptr) {
            PRINT('e', "cmr1600", "Could not match %.*s - holding cursor %s\n",
                  static_cast<int>(col->col_name_ll), col->col_name, c->cur_name);
            hold(c);
            return 0;
        }
        if (row_copy_value(col, buffer, src, ind) != 0) return -1;
    }
    buffer[end] = '\0';
    c->length = end;

    row_transform(c, buffer);
    row_append(c, buffer, end);
    if (c->show_cursor) sho_cur(c);
    c->cols_set = 1;
    return c->length;
}

}  // namespace

int ccmr_mergeResults(char* buffer, curs* c, _anchorDBdata* d, _rowData* row,
                      const char* time_stamp) {
    const int rc = merge_result_row(buffer, c, d, row, time_stamp);
    // The base rows chosen for this row are not read after it.
    if (c->base != nullptr && d != nullptr) end_bases(c);
    return rc;
}

int ccmr_setup_dummy(curs* c, _columnData* cols, int ncols) {
    int32_t at = 0;
    columns* last = nullptr;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        if (col->col_name[0] == '%') {
            columns* p = find_pcnt_col(col->col_name);
            if (p == nullptr) {
                PRINT('e', "pdu4520", "Un-identified percent variable %s\n", col->col_name);
                hold(c);
                return 0;
            }
            col->data_type = p->data_type;
            col->orig_type = p->orig_type;
            col->len = p->len;
        } else if (col->base_column != nullptr) {
            col->data_type = col->base_column->data_type;
            col->orig_type = col->base_column->orig_type;
            col->len = col->base_column->len;
        } else if (col->m_anch != nullptr) {
            col->data_type = 1;
            col->orig_type = 2;
            col->len = 16;
        } else if (col->occurance > 0) {
            if (cols == nullptr || col->occurance > ncols) {
                PRINT('e', "cdu4525", "Occurance (%d) exceeds column limit (%d)\n", col->occurance,
                      ncols);
                return 0;
            }
            const _columnData& rc = cols[col->occurance - 1];
            col->data_type = 1;
            col->len = static_cast<int16_t>(rc.length);
            col->orig_type = static_cast<int16_t>(rc.source_type != 0 ? rc.source_type : rc.type);
        } else {
            if (cols == nullptr) {
                PRINT('e', "cdu4530", "Name (%s) not resolved no coldata for cursor %s\n",
                      col->col_name, c->cur_name);
                hold(c);
                return 0;
            }
            int found = -1;
            const size_t n = std::strlen(col->col_name);
            for (int i = 0; i < ncols && n < sizeof(_columnData::name); ++i)
                if (strncasecmp(cols[i].name, col->col_name, n) == 0 && cols[i].name[n] == '\0') {
                    found = i;
                    break;
                }
            if ((found >= 0 && cols[found].length == 0) || (found < 0 && col->len == 0)) {
                PRINT('e', "cdu4535", "No database description found for %s\n", col->col_name);
                return 0;
            }
            if (found >= 0) {
                const _columnData& rc = cols[found];
                col->data_type = 1;
                col->len = static_cast<int16_t>(rc.length);
                col->oracle_len = col->len;
                col->orig_type =
                    static_cast<int16_t>(rc.source_type != 0 ? rc.source_type : rc.type);
                col->occurance = static_cast<int16_t>(found + 1);
            }
        }
        col->offset = at;
        at += col->len + 1;
        last = col;
    }
    if (last != nullptr) c->length = last->offset + last->len + 1;
    return 0;
}
