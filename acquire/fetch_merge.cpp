// Merge of fetched rows into cursor rows.
#include "acquire/fetch_merge.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "acquire/result_sets.h"
#include "collector/column_exits.h"
#include "collector/column_lookup.h"
#include "collector/decode.h"
#include "collector/dummy_rows.h"
#include "collector/least_forms_rows.h"
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

void hold(curs* c) { c->held = 'Y'; }

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

// A base value (len bytes at v) equals a base row's field (flen bytes at f) when they agree
// over the shorter length and the rest of either is blank. An empty value equals nothing.
bool base_value_matches(const char* v, int len, const char* f, int flen) {
    int vl = len;
    while (vl > 0 && v[vl - 1] == ' ') --vl;
    if (vl == 0) return false;
    int k = vl < flen ? vl : flen;
    if (std::memcmp(v, f, static_cast<size_t>(k)) != 0) return false;
    for (int i = k; i < vl; ++i)
        if (v[i] != ' ') return false;
    for (int i = k; i < flen; ++i)
        if (f[i] != ' ' && f[i] != '\0') return false;
    return true;
}

}  // namespace

int ccmr_set_bases(curs* c, _anchorDBdata* d, _rowData* row) {
    for (base* b = c->base; b != nullptr; b = b->next) {
        b->base_row = nullptr;  // a row matched in an earlier run may be gone
        curs* bc = b->curs;
        if (bc == nullptr) continue;
        const int flen = b->b_col != nullptr ? b->b_col->len : 0;
        const int foff = b->b_col != nullptr ? b->b_col->offset : 0;
        int i =
            d != nullptr ? column_by_name(d, b->this_col, static_cast<size_t>(b->this_col_ll)) : -1;
        if (i < 0 || row == nullptr || i >= row->ncols) {
            b->base_row = bc->last_row;
            PRINT('e', "cmr3330", "Failed to find database column %s using 'last_row'\n",
                  b->this_col);
            continue;
        }
        const _rowColumn& rc = row->col[i];
        const char* value = rc.value != nullptr ? rc.value : row->buffer + rc.offset;
        const bool is_null = d->Acoldata[i].indicator < 0;
        const int vlen = rc.length;
        if (c->trace) PRINT('t', "cmr3355", "Looking for \"%.*s\"\n", vlen, value);
        for (row_data* r = bc->first_row; r != nullptr && !is_null; r = r->next) {
            if (bc->samples != 0 && r->sampleno != static_cast<int16_t>(bc->sampleno)) continue;
            const char* field = r->text + foff;
            if (my_trace_all[7])
                PRINT('t', "cmr3331", "Base Compare s_ptr=%.*s t_ptr=%.*s\n", vlen, value, flen,
                      field);
            if (c->trace) PRINT('t', "cmr3360", "  -->  Found \"%.*s\"\n", flen, field);
            if (base_value_matches(value, vlen, field, flen)) {
                b->base_row = r;
                break;
            }
        }
        if (b->base_row != nullptr) continue;
        if (bc->count == 0 && c->age_to == bc) {
            b->base_row = bc->last_row;
        } else if (bc->dummy == 0 && bc->conditional_dummy == 0) {
            b->base_row = bc->last_row;
            PRINT('w', "cmr3350", "Failed to find matching source row %s using 'last_row'\n",
                  b->this_col);
        } else {
            b->base_row = bc->last_row;
            if (c->trace)
                PRINT('t', "cmr3345", "Using dummy last row in %s to match %s\n", bc->cur_name,
                      b->this_col);
        }
    }
    for (base* b = c->base; b != nullptr; b = b->next) {
        if (b->base_row == nullptr && b->curs != c->age_to) {
            PRINT('e', "cmr3365", "Have no base row in cursor %s\n",
                  b->curs != nullptr ? b->curs->cur_name : b->cur_name);
            return 1;
        }
    }
    return 0;
}

char* ccmr_locate_base(curs* base_cursor, curs* c, int offset) {
    for (base* b = c->base; b != nullptr; b = b->next) {
        if (b->curs != base_cursor) continue;
        if (b->base_row != nullptr) return b->base_row->text + offset;
        break;
    }
    return base_cursor->last_row != nullptr ? base_cursor->last_row->text + offset : nullptr;
}

int ccmr_mergeResults(char* buffer, curs* c, _anchorDBdata* d, _rowData* row,
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

    if (c->m_anch != nullptr) {
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
            if (col->m_anch == nullptr) continue;
            col->orig_type = 2;
            do_math(c, col, buffer);
            buffer[col->offset + col->len] = '\0';
        }
    }
    if (c->decode != nullptr) {
        for (columns* col = c->insert_columns; col != nullptr; col = col->next)
            if (col->decode_op != nullptr)
                do_decode(col, buffer + col->offset, buffer,
                          col->indicator != nullptr ? *col->indicator : 0, c);
    }
    if (c->cxl_ptr != nullptr) {
        for (columns* col = c->insert_columns; col != nullptr; col = col->next)
            if (col->cxl_ptr != nullptr) column_exit_driver(c, col, buffer, col->cxl_ptr);
    }
    row_append(c, buffer, end);
    if (c->show_cursor) sho_cur(c);
    c->cols_set = 1;
    return c->length;
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
