// Virtual cursors: the one dictionary-shaped row of each virtual cursor.
#include "collector/rows/virtual_cursors.h"

#include <algorithm>
#include <cstring>

#include "collector/rows/row_store.h"
#include "defs/dictionary.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

char* servstatus = nullptr;
int servstatus_len = 0;

dictionary* dict_entry_of(const columns* col) {
    const int ll = col->col_name_ll;
    // A name that fills the whole 32-byte entry name (or more) cannot be followed there by
    // a blank or a NUL: it matches nothing.
    if (ll <= 0 || ll >= static_cast<int>(sizeof(dictionary::name))) return nullptr;
    for (dictionary* d = dict_anchor; d != nullptr; d = d->next) {
        if (std::memcmp(d->name, col->col_name, static_cast<size_t>(ll)) != 0) continue;
        if (d->name[ll] == ' ' || d->name[ll] == '\0') return d;
    }
    return nullptr;
}

namespace {

bool named(const char* name, const char* upper, const char* lower) {
    return std::strcmp(name, upper) == 0 || std::strcmp(name, lower) == 0;
}

void free_rows(curs* c) {
    for (row_data* r = c->first_row; r != nullptr;) {
        row_data* next = r->next;
        U_FREE(r);
        r = next;
    }
    c->first_row = c->last_row = nullptr;
}

// Blanks, then the initial value cut to the field: right-aligned for numbers.
void fill_initial(char* value, const dictionary* d) {
    const size_t len = static_cast<size_t>(std::max<int16_t>(d->len, 0));
    std::memset(value, ' ', len);
    value[len] = '\0';
    if (d->initial == nullptr) return;
    const size_t n = std::min(std::strlen(d->initial), len);
    std::memcpy(d->orig_type == 2 ? value + (len - n) : value, d->initial, n);
}

int build_one(curs* c) {
    const bool is_servstat = named(c->cur_name, "SERVSTAT", "servstat");
    c->demand = 1;
    c->interval = 0;

    long text_len = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        const dictionary* d = dict_entry_of(col);
        if (d == nullptr) {
            PRINT('e', "pvt2185", "Host var not matched: %s.%s (%d)\n", c->cur_name, col->col_name,
                  col->col_name_ll);
            return 1;
        }
        text_len += std::max<int16_t>(d->len, 0) + 1;
    }

    free_rows(c);
    row_data* r = row_data_new(text_len + 1);
    r->next = nullptr;
    r->len = static_cast<int32_t>(text_len);
    r->sampleno = 1;
    r->rowno = 1;
    c->first_row = c->last_row = r;
    // The row's text is the cursor's buffer: freeing the row releases both.
    c->buffer = r->text;
    c->length = static_cast<int32_t>(text_len);
    c->count = 1;
    c->sampleno = 1;
    c->rowno = 1;
    c->needs_history = 1;
    c->changed = 1;

    int32_t offset = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        const dictionary* d = dict_entry_of(col);
        char* value = r->text + offset;
        col->offset = offset;
        col->from = value;
        col->indicator = &indicator1;
        col->len = col->oracle_len = d->len;
        offset += std::max<int16_t>(d->len, 0) + 1;
        if (is_servstat && named(col->col_name, "SQLRC", "sqlrc")) {
            if (col->len > 5) {
                servstatus = value;
                servstatus_len = col->len;
            } else {
                PRINT('w', "pvt2190", "SQLRC in SERVSTAT is too short at %d (at least 6)\n",
                      col->len);
            }
        }
        if (d->type == 1) {
            fill_initial(value, d);
            // Numeric elements (orig_type 2) stay numeric: typed 1 they compare and sum as text.
            col->orig_type = d->orig_type == 2 ? 2 : 1;
            col->data_type = 1;
            if (trace_all)
                PRINT('t', "pvt2195", " Init %s.%s = '%s'\n", c->cur_name, col->col_name, value);
        }
    }
    return 0;
}

}  // namespace

int init_virtuals_pass() {
    servstatus = nullptr;
    servstatus_len = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->cvirtual == 0) continue;
        if (build_one(c) != 0) return 1;
    }
    return 0;
}
