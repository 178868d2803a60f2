// Dummy rows.
#include "collector/dummy_rows.h"

#include <cstring>
#include <vector>

#include "collector/least_forms_rows.h"
#include "collector/row_store.h"
#include "defs/xsqlda.h"
#include "expr/percent_vars.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

int16_t low16(int32_t v) { return static_cast<int16_t>(v & 0xffff); }

struct layout_entry {
    int32_t offset;
    int16_t len;
};

// False after the message: the layout stops at this column.
bool lay_out(curs* c, columns* col, xSQLDA* d, const int32_t* types) {
    if (col->col_name[0] == '%') {
        columns* p = find_pcnt_col(col->col_name);
        if (p == nullptr) {
            PRINT('e', "pdu4520", "Un-identified percent variable %s\n", col->col_name);
            hold(c);
            return false;
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
        int limit = d != nullptr ? (d->F < d->N ? d->F : d->N) : 0;
        if (col->occurance > limit) {
            PRINT('e', "cdu4525", "Occurance (%d) exceeds sqlda limit (%d)\n", col->occurance,
                  d != nullptr ? d->F : 0);
            return false;
        }
        col->data_type = 1;
        col->len = low16(d->L[col->occurance - 1]);
        col->orig_type = types != nullptr ? low16(types[col->occurance - 1]) : 1;
    } else {
        if (d == nullptr) {
            PRINT('e', "cdu4530", "Name (%s) not resolved in non_sql cursor %s\n", col->col_name,
                  c->cur_name);
            hold(c);
            return false;
        }
        int found = -1;
        for (int i = 0; i < d->F && i < d->N; ++i) {
            if (d->C[i] == col->col_name_ll && d->S[i] != nullptr &&
                std::memcmp(d->S[i], col->col_name, static_cast<size_t>(col->col_name_ll)) == 0) {
                found = i;
                break;
            }
        }
        if ((found >= 0 && low16(d->L[found]) == 0) || (found < 0 && col->len <= 0)) {
            PRINT('e', "cdu4535", "No sqlda entry found for %s.%s (%d)\n", c->cur_name,
                  col->col_name, col->col_name_ll);
            return false;
        }
        if (found >= 0) {
            col->data_type = 1;
            col->len = col->oracle_len = low16(d->L[found]);
            col->orig_type = types != nullptr ? low16(types[found]) : 1;
        }
    }
    if (col->len < 0) {
        PRINT('e', "cdu4540", "Column %s of cursor %s has a negative length, holding\n",
              col->col_name, c->cur_name);
        hold(c);
        return false;
    }
    return true;
}

}  // namespace

int setup_dummy(curs* c, xSQLDA* d, const int32_t* types) {
    std::vector<layout_entry> before;
    for (const columns* col = c->insert_columns; col != nullptr; col = col->next)
        before.push_back({col->offset, col->len});
    c->row_size = 0;
    int32_t running = 0;
    const columns* last = nullptr;
    bool moved = false;
    size_t i = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next, ++i) {
        if (!lay_out(c, col, d, types)) {
            moved = moved || col->len != before[i].len;
            break;
        }
        col->offset = running;
        running += col->len + 1;
        moved = moved || col->offset != before[i].offset || col->len != before[i].len;
        last = col;
    }
    if (last != nullptr) c->length = last->offset + last->len + 1;
    if (moved && c->first_row != nullptr) {
        PRINT('w', "cdu4545", "Column layout of cursor %s changed, dropping its %d rows\n",
              c->cur_name, c->count);
        delete_all(c);
    }
    return 0;
}

int build_dummy_last_row(curs* c) {
    if (c->length <= 0) return 0;
    size_t n = static_cast<size_t>(c->length);
    if (c->dummy_text == nullptr || std::strlen(c->dummy_text) != n) {
        U_FREE(c->dummy_text);
        c->dummy_text = static_cast<char*>(U_MALLOC(n + 1));
        std::memset(c->dummy_text, ' ', n);
        c->dummy_text[n] = '\0';
        for (const columns* col = c->insert_columns; col != nullptr; col = col->next) {
            if (col->len <= 0 || col->offset < 0 || col->offset + col->len > c->length) continue;
            char* at = c->dummy_text + col->offset;
            if (col->orig_type == 2)
                at[col->len - 1] = '0';
            else
                std::memcpy(at, "N/A", col->len < 3 ? static_cast<size_t>(col->len) : 3);
        }
    }
    ++c->rowno;
    row_data* r = row_append(c, c->dummy_text, c->length);
    r->len = c->length;
    if (c->trace != 0) {
        PRINT('t', "cdu4515", "Added dummy last row\n");
        proded(c->count, r->text, c->length);
    }
    return 0;
}
