// Decodes: the edit pass that binds the rules, and their application to a row.
#include "collector/transforms/decode.h"

#include <cstring>

#include "collector/rows/column_lookup.h"
#include "collector/rows/row_store.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/decode_actions.h"
#include "collector/transforms/decode_eval.h"
#include "defs/clause_decode.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

// Bit of the first rule's set: the column was reported too wide to decode.
constexpr int16_t kTooWideSaid = 4;

columns* column_named(curs* c, const char* name) {
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        if (std::memcmp(col->col_name, name, sizeof col->col_name) == 0) return col;
    return nullptr;
}

// Binds one column reference; false when find_col does not know it.
bool bind_column(curs* c, char* name, columns** col, curs** cur) {
    columns* found = nullptr;
    curs* in = nullptr;
    if (find_col(c, name, &found, &in) != 0) {
        *col = nullptr;
        *cur = nullptr;
        return false;
    }
    *col = found;
    *cur = in;
    return true;
}

bool bind_rule(curs* c, decode_op* op) {
    bool ok = true;
    if (op->operand_type == DOK_COLUMN &&
        !bind_column(c, op->operand_column, &op->op_col, &op->op_curs)) {
        PRINT('e', "pde3880", "Operand column(%s) not in cursor %s\n", op->operand_column,
              c->cur_name);
        ok = false;
    }
    if (op->replacement_type == DRK_COLUMN &&
        !bind_column(c, op->replacement_column, &op->rep_col, &op->rep_curs)) {
        PRINT('e', "pde3885", "Replacement column(%s) not in cursor %s\n", op->replacement_column,
              c->cur_name);
        ok = false;
    }
    if (op->replacement_type == DRK_RUN) {
        curs* run = find_cursor(op->replacement_column);
        if (run == nullptr) {
            PRINT('e', "pde3890", "Cursor to run (%s) not found %s\n", op->replacement_column,
                  c->cur_name);
            ok = false;
        } else {
            // Rebinding after a version change reuses the rule's entry.
            if (op->curslist == nullptr) {
                op->curslist = static_cast<curslist*>(U_MALLOC(sizeof(curslist)));
                std::memset(op->curslist, 0, sizeof(curslist));
            }
            op->curslist->cur_to_run = run;
        }
    }
    for (and_part* a = op->and_; a != nullptr; a = a->next) {
        if (a->operand_type == DOK_COLUMN &&
            !bind_column(c, a->operand_column, &a->op_col, &a->op_curs)) {
            PRINT('e', "pde3895", "'And' column(%s) not in cursor %s\n", a->operand_column,
                  c->cur_name);
            ok = false;
        }
    }
    return ok;
}

// Writes the len characters of src into the width of dst: a numeric column keeps the
// source's right end, blank-filled on the left; any other its left end, blank-filled on
// the right. The two may overlap.
void place(char* dst, int dlen, const char* src, int slen, bool numeric) {
    if (slen < 0) slen = 0;
    if (slen >= dlen) {
        std::memmove(dst, numeric ? src + (slen - dlen) : src, static_cast<size_t>(dlen));
    } else if (numeric) {
        std::memmove(dst + (dlen - slen), src, static_cast<size_t>(slen));
        std::memset(dst, ' ', static_cast<size_t>(dlen - slen));
    } else {
        std::memmove(dst, src, static_cast<size_t>(slen));
        std::memset(dst + slen, ' ', static_cast<size_t>(dlen - slen));
    }
}

void schedule(curs* c, decode_op* d) {
    curslist* want = d->curslist;
    if (want == nullptr || want->cur_to_run == nullptr) return;
    if (c->traced) PRINT('t', "cde4410", "Scheduling cursor %s\n", want->cur_to_run->cur_name);
    // The rule's own entry only names the cursor; the row number goes into the queue.
    const int32_t rowno = c->rowno;
    curslist** tail = &c->curslist;
    for (; *tail != nullptr; tail = &(*tail)->next)
        if ((*tail)->cur_to_run == want->cur_to_run && (*tail)->rowno == rowno) return;
    auto* entry = static_cast<curslist*>(U_MALLOC(sizeof(curslist)));
    entry->next = nullptr;
    entry->cur_to_run = want->cur_to_run;
    entry->rowno = rowno;
    *tail = entry;
}

}  // namespace

int bind_decode_in_lists(decode_op* first) {
    int rc = 0;
    for (decode_op* op = first; op != nullptr; op = op->next) {
        if (op->operand_type != DOK_IN_LIST) continue;
        char name[sizeof op->operand_column + 1] = {};
        std::memcpy(name, op->operand_column, sizeof op->operand_column);
        op->in_list = find_in_list(name);
        if (op->in_list == nullptr) rc = 1;
    }
    return rc;
}

int bind_decodes() {
    bool failed = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->decode == nullptr || c->aged_to != 0) continue;
        for (decode* d = c->decode; d != nullptr; d = d->next) {
            columns* col = column_named(c, d->col_name);
            if (col == nullptr) {
                PRINT('e', "pde3900", "Decode Column (%s) not found in cursor %s\n", d->col_name,
                      c->cur_name);
                failed = true;
                continue;
            }
            col->decode_op = d->decode_op;
            for (decode_op* op = d->decode_op; op != nullptr; op = op->next)
                if (!bind_rule(c, op)) failed = true;
            if (bind_decode_in_lists(d->decode_op) != 0) failed = true;
        }
    }
    if (failed) {
        PRINT('e', "pde3905", "Decode edits failed\n");
        return 1;
    }
    PRINT('i', "pde3910", "Decode edits successful\n");
    return 0;
}

int do_decode(columns* col, char* value, char* row, int indicator, curs* c) {
    if (col == nullptr || col->decode_op == nullptr || value == nullptr || c == nullptr) return 0;
    const int len = col->len;
    if (len <= 0) return 0;
    if (len > decode_value_max) {
        decode_op* first = col->decode_op;
        if ((first->set & kTooWideSaid) == 0) {
            first->set = static_cast<int16_t>(first->set | kTooWideSaid);
            PRINT('w', "cde4425",
                  "Decode of column %s (width %d) in cursor %s not applied: wider than %d\n",
                  col->col_name, len, c->cur_name, decode_value_max);
        }
        return 0;
    }
    decode_op* d = eval_decode(col, value, row, indicator, c, col->decode_op);
    if (d == nullptr) {
        if (c->traced)
            PRINT('t', "cde4405", "Am not replacing '%.*s' for column %s\n", len, value,
                  col->col_name);
        return 0;
    }
    const bool numeric = col->orig_type == 2;
    switch (d->replacement_type) {
        case DRK_RUN:
            schedule(c, d);
            return 0;
        case DRK_COLUMN: {
            const columns* rc = d->rep_col;
            if (rc == nullptr) return 0;
            const char* src = nullptr;
            if (d->rep_curs == nullptr)
                src = row != nullptr ? row + rc->offset : nullptr;
            else if (c->base != nullptr)
                src = locate_base(d->rep_curs, c, rc->offset);
            else if (d->rep_curs->last_row != nullptr)
                src = d->rep_curs->last_row->text + rc->offset;
            if (src == nullptr) {
                if (d->rep_curs != nullptr && decode_warn_first(c, "cde4420"))
                    PRINT('w', "cde4420",
                          "In decode, referenced cursor %s has no rows - skipping decode\n",
                          d->rep_curs->cur_name);
                return d->rep_curs != nullptr ? 1 : 0;
            }
            if (c->traced) {
                char old[decode_value_max];
                std::memcpy(old, value, static_cast<size_t>(len));
                place(value, len, src, rc->len, numeric);
                PRINT('t', "cde4415", "Replacing '%.*s' with '%.*s'\n", len, old, len, value);
            } else {
                place(value, len, src, rc->len, numeric);
            }
            return 0;
        }
        case DRK_NUMBER:
        case DRK_STRING: {
            if (d->replacement == nullptr) return 0;
            // A number stands at the end of its image, a string at its start; either way
            // the value takes the column's width of it.
            const char* text = d->replacement_type == DRK_NUMBER
                                   ? d->replacement + (decode_value_max - len)
                                   : d->replacement;
            if (c->traced)
                PRINT('t', "cde4450", "Replacing '%.*s' with '%.*s'\n", len, value, len, text);
            if (special_decode(c, d->replacement, len) != 0) return 0;
            std::memmove(value, text, static_cast<size_t>(len));
            return 0;
        }
        default:
            return 0;
    }
}
