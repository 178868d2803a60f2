// Least forms of the collector functions the fetch paths build on (collector/least_forms_fetch.h).
// Each keeps its documented contract for what the fetch exits need; the row store, the
// lookups and the dummy rows replace them one by one.
#include "collector/least_forms_fetch.h"

#include <cctype>
#include <cstring>

#include "defs/clause_loads.h"
#include "defs/xsqlda.h"
#include "expr/percent_vars.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

int16_t indicator1 = 1;

namespace {

curs* cursor_named(const char* name, size_t len) {
    if (len == 0 || len >= sizeof(curs::cur_name)) return nullptr;
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        if (std::strncmp(c->cur_name, name, len) == 0 && c->cur_name[len] == '\0') return c;
    return nullptr;
}

void hold(curs* c) { c->held = 'Y'; }

}  // namespace

int find_col(curs* c, char* text, columns** col, curs** cur) {
    if (text == nullptr || *text == '\0') return 1;
    if (text[0] == '%') {
        columns* p = find_pcnt_col(text);
        if (p == nullptr) return 1;
        *col = p;
        *cur = cursor_named("%CURSOR", 7);
        return 0;
    }
    if (const char* dot = std::strchr(text, '.')) {
        curs* other = cursor_named(text, static_cast<size_t>(dot - text));
        if (other == nullptr) return 1;
        columns* found = nullptr;
        curs* owner = nullptr;
        if (search_curs_vers_insert(other, dot + 1, &found, &owner) != 0) return 1;
        *col = found;
        *cur = owner;
        return 0;
    }
    columns* found = nullptr;
    curs* owner = nullptr;
    if (search_curs_vers_insert(c, text, &found, &owner) != 0) return 1;
    *col = found;
    return 0;
}

in_list* find_in_list(char* reference) {
    const char* dot = reference != nullptr ? std::strchr(reference, '.') : nullptr;
    if (dot == nullptr) {
        PRINT('e', "pin4500", "In_list reference in decode is invalid : %s\n",
              reference != nullptr ? reference : "");
        return nullptr;
    }
    size_t clen = static_cast<size_t>(dot - reference);
    if (clen > 20) clen = 20;
    curs* c = cursor_named(reference, clen);
    if (c == nullptr) {
        PRINT('e', "pin4505", "In_list reference in decode is to non-existent cursor : %s\n",
              reference);
        return nullptr;
    }
    char name[50] = {};
    std::strncpy(name, dot + 1, 49);
    for (in_list* l = c->in_list; l != nullptr; l = l->next)
        if (std::memcmp(l->name, name, sizeof name) == 0) return l;
    PRINT('e', "pin4510", "In_list reference in decode is to non-existent in_list : %s\n",
          reference);
    return nullptr;
}

int row_copy_value(columns* col, char* buffer, const char* src, int16_t indicator) {
    char* dst = buffer + col->offset;
    const size_t len = col->len > 0 ? static_cast<size_t>(col->len) : 0;
    if (indicator >= 0) {
        std::memcpy(dst, src, len);
        dst[len] = '\0';
        return 0;
    }
    std::memset(dst, ' ', len);
    dst[len] = '\0';
    if (len == 0) return 0;
    if (col->orig_type == 2)
        dst[len - 1] = '0';
    else
        std::memcpy(dst, "NULL", len < 4 ? len : 4);
    return 0;
}

int row_append(curs* c, const char* text, int32_t len) {
    if (len < 0) return 1;
    row_data* r = row_data_new(len);
    std::memcpy(r->text, text, static_cast<size_t>(len));
    r->sampleno = static_cast<int16_t>(c->sampleno);
    r->rowno = static_cast<int16_t>(c->rowno);
    if (c->last_row != nullptr)
        c->last_row->next = r;
    else
        c->first_row = r;
    c->last_row = r;
    ++c->count;
    c->changed = 1;
    c->needs_history = 1;
    if (c->limit != 0 && c->count > c->limit && c->first_row != nullptr) {
        row_data* old = c->first_row;
        c->first_row = old->next;
        if (c->first_row == nullptr) c->last_row = nullptr;
        U_FREE(old);
        --c->count;
    }
    return 0;
}

void pcnt_set_work(curs* /*c*/, const char* /*time_stamp*/) {}

int merge_text(char* buffer, xSQLDA* sqlda, curs* cursor, int32_t* types, const char* time_stamp) {
    pcnt_set_work(cursor, time_stamp);
    if (cursor->cols_set == 0) {
        int32_t at = 0;
        for (columns* col = cursor->insert_columns; col != nullptr; col = col->next) {
            if (sqlda == nullptr) {
                PRINT('e', "cat1585", "Name (%s) not resolved in non_sql cursor %s\n",
                      col->col_name, cursor->cur_name);
                hold(cursor);
                return 0;
            }
            int i = -1;
            if (col->occurance > 0) {
                if (col->occurance > sqlda->F) {
                    PRINT('e', "cat1580", "Occurance (%d) exceeds sqlda limit (%d), %s\n",
                          col->occurance, sqlda->F, cursor->cur_name);
                    return 0;
                }
                i = col->occurance - 1;
            } else {
                for (int k = 0; k < sqlda->F; ++k)
                    if (sqlda->C[k] == col->col_name_ll &&
                        std::memcmp(sqlda->S[k], col->col_name,
                                    static_cast<size_t>(col->col_name_ll)) == 0) {
                        i = k;
                        break;
                    }
            }
            if (i < 0 || static_cast<int16_t>(sqlda->L[i]) == 0) {
                PRINT('e', "cat1590", "No sqlda entry found for %s.%s\n", cursor->cur_name,
                      col->col_name);
                return 0;
            }
            col->from = sqlda->V[i];
            col->data_type = 1;
            col->len = col->oracle_len = static_cast<int16_t>(sqlda->L[i]);
            col->indicator = sqlda->I[i];
            col->orig_type = static_cast<int16_t>(types[i]);
            col->offset = at;
            at += col->len + 1;
        }
    }
    int32_t end = 0;
    for (columns* col = cursor->insert_columns; col != nullptr; col = col->next) {
        if (col->from == nullptr) {
            PRINT('e', "cat1600", "Could not match %s - holding cursor %s\n", col->col_name,
                  cursor->cur_name);
            hold(cursor);
            return 0;
        }
        int16_t ind = col->indicator != nullptr ? *col->indicator : 0;
        if (row_copy_value(col, buffer, col->from, ind) != 0) return -1;
        end = col->offset + col->len;
    }
    buffer[end] = '\0';
    if (row_append(cursor, buffer, end) != 0) return 0;
    cursor->length = end;
    cursor->cols_set = 1;
    return end;
}

int setup_dummy(curs* cursor, xSQLDA* sqlda, int32_t* types) {
    int32_t at = 0;
    columns* last = nullptr;
    for (columns* col = cursor->insert_columns; col != nullptr; col = col->next) {
        if (col->col_name[0] == '%') {
            columns* p = find_pcnt_col(col->col_name);
            if (p == nullptr) {
                PRINT('e', "pdu4520", "Un-identified percent variable %s\n", col->col_name);
                hold(cursor);
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
            if (sqlda == nullptr || col->occurance > sqlda->F) {
                PRINT('e', "cdu4525", "Occurance (%d) exceeds sqlda limit (%d)\n", col->occurance,
                      sqlda != nullptr ? sqlda->F : 0);
                return 0;
            }
            col->data_type = 1;
            col->len = static_cast<int16_t>(sqlda->L[col->occurance - 1]);
            col->orig_type = static_cast<int16_t>(types[col->occurance - 1]);
        } else {
            if (sqlda == nullptr) {
                PRINT('e', "cdu4530", "Name (%s) not resolved in non_sql cursor %s\n",
                      col->col_name, cursor->cur_name);
                hold(cursor);
                return 0;
            }
            int i = -1;
            for (int k = 0; k < sqlda->F; ++k)
                if (sqlda->C[k] == col->col_name_ll &&
                    std::memcmp(sqlda->S[k], col->col_name,
                                static_cast<size_t>(col->col_name_ll)) == 0) {
                    i = k;
                    break;
                }
            if ((i >= 0 && static_cast<int16_t>(sqlda->L[i]) == 0) || (i < 0 && col->len == 0)) {
                PRINT('e', "cdu4535", "No sqlda entry found for %s.%s (%d)\n", cursor->cur_name,
                      col->col_name, col->col_name_ll);
                return 0;
            }
            if (i >= 0) {
                col->data_type = 1;
                col->len = col->oracle_len = static_cast<int16_t>(sqlda->L[i]);
                col->orig_type = static_cast<int16_t>(types[i]);
            }
        }
        col->offset = at;
        at += col->len + 1;
        last = col;
    }
    if (last != nullptr) cursor->length = last->offset + last->len + 1;
    return 0;
}

int proded(int row_number, const char* data, int length) {
    if (data == nullptr) return 0;
    int n = length > 0 ? length : static_cast<int>(std::strlen(data));
    if (row_number > 4 && my_trace_all[5] == 0) {
        char shown[200];
        int k = n < 199 ? n : 199;
        for (int i = 0; i < k; ++i)
            shown[i] = std::isprint(static_cast<unsigned char>(data[i])) ? data[i] : '.';
        shown[k] = '\0';
        PRINT('i', "cat1609", "Abbrv dump of row %d. %.80s\n", row_number, shown);
        return 0;
    }
    PRINT('i', "cat1610", "Dump of row %d\n", row_number);
    u_print_dumpx("", data, n);
    return 0;
}

int do_math(curs* /*c*/, columns* /*col*/, char* /*row*/) { return 0; }
int do_decode(columns* /*col*/, char* /*value*/, char* /*row*/, int /*indicator*/, curs* /*c*/) {
    return 0;
}
int column_exit_driver(curs* /*cursor*/, columns* /*column*/, char* /*row_text*/,
                       col_ex_list* /*list*/) {
    return 0;
}
int sho_cur(curs* /*cursor*/) { return 0; }
