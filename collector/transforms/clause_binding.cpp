// Load predicates and ITERATE_WHERE filters bound to columns.
#include "collector/transforms/clause_binding.h"

#include <cstring>

#include "collector/rows/column_lookup.h"
#include "collector/transforms/decode.h"
#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/msg.h"

namespace {

// The column of c whose 50-byte name equals name (NUL-padded).
columns* column_named(curs* c, const char* name, size_t n) {
    char field[50] = {};
    std::memcpy(field, name, n < sizeof field ? n : sizeof field);
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        if (std::memcmp(col->col_name, field, sizeof field) == 0) return col;
    return nullptr;
}

// Binds the column operands of a chain of AND parts; false after "id" for the first miss.
bool bind_and_parts(curs* c, and_part* a, const char* id) {
    bool ok = true;
    for (; a != nullptr; a = a->next) {
        if (a->operand_type != DOK_COLUMN) continue;
        if (find_col(c, a->operand_column, &a->op_col, &a->op_curs) != 0) {
            PRINT('e', id, "'And' column(%s) not in cursor %s\n", a->operand_column, c->cur_name);
            ok = false;
        }
    }
    return ok;
}

}  // namespace

int bind_load_predicates() {
    bool ok = true;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        for (load_process* l = c->loadp; l != nullptr; l = l->next) {
            for (decode* d = l->decode_ptr; d != nullptr; d = d->next) {
                columns* col = column_named(c, d->col_name, strnlen(d->col_name, 50));
                if (col == nullptr) {
                    PRINT('e', "pde4215", "Load Column (%.50s) not found in cursor %s\n",
                          d->col_name, c->cur_name);
                    ok = false;
                    continue;
                }
                l->test_column = col;
                if (bind_decode_in_lists(d->decode_op) != 0) ok = false;
                for (decode_op* op = d->decode_op; op != nullptr; op = op->next) {
                    if (op->operand_type == DOK_COLUMN &&
                        find_col(c, op->operand_column, &op->op_col, &op->op_curs) != 0) {
                        PRINT('e', "pde4205", "Operand column(%s) not in cursor %s\n",
                              op->operand_column, c->cur_name);
                        ok = false;
                    }
                    if (!bind_and_parts(c, op->and_, "pde4210")) ok = false;
                }
            }
        }
    }
    if (ok) {
        PRINT('i', "pde4225", "Load predicate editing successful\n");
        return 0;
    }
    PRINT('e', "pde4220", "Load predicate editing failed\n");
    return 1;
}

int bind_iterate_where() {
    bool ok = true;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        it_where* w = c->iterate_where;
        if (w == nullptr || c->aged_to != 0) continue;
        curs* src = c->iterate != nullptr ? c->iterate->curs : nullptr;
        for (decode* d = w->decode; d != nullptr; d = d->next) {
            const char* name = d->col_name;
            size_t n = strnlen(d->col_name, 50);
            const char* dot = static_cast<const char*>(std::memchr(name, '.', n));
            if (dot != nullptr && src != nullptr) {
                size_t prefix = static_cast<size_t>(dot - name);
                if (prefix <= 20 && prefix < sizeof src->cur_name &&
                    std::strncmp(name, src->cur_name, prefix) == 0 &&
                    src->cur_name[prefix] == '\0') {
                    n -= prefix + 1;
                    name = dot + 1;
                }
            }
            columns* col = src != nullptr ? column_named(src, name, n) : nullptr;
            if (col == nullptr) {
                PRINT('e', "pit4485", "ITERATE_WHERE Column (%.50s) not found in cursor %s\n",
                      d->col_name,
                      src != nullptr ? src->cur_name
                                     : (c->iterate != nullptr ? c->iterate->cur_name : "?"));
                ok = false;
                continue;
            }
            w->col_ptr = col;
            if (bind_decode_in_lists(d->decode_op) != 0) ok = false;
            if (d->decode_op != nullptr && !bind_and_parts(c, d->decode_op->and_, "pit4480"))
                ok = false;
        }
    }
    if (ok) {
        PRINT('i', "pit4495", "ITERATE_WHERE edits successful\n");
        return 0;
    }
    PRINT('e', "pit4490", "ITERATE_WHERE edits failed\n");
    return 1;
}
