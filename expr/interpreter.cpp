#include "expr/interpreter.h"

#include <cstddef>
#include <cstring>

#include "expr/group_functions.h"
#include "expr/percent_vars.h"
#include "expr/term_value.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

constexpr int EXPR_TRACE_LEVEL = 8;
// Arguments gathered for a variable argument count.
constexpr int VARIABLE_ARGS = 100;

bool bound_to_column(const TERM_TABLE* t) {
    return t->value_ref != nullptr && t->value_ref != term_value_ref_final();
}

bool owns_buffer(const TERM_TABLE* t) {
    return t->allocd_value == 1 && t->value != nullptr && t->value != t->name;
}

void drop_own_buffer(TERM_TABLE* t) {
    if (owns_buffer(t)) U_FREE(t->value);
    t->value = nullptr;
    t->allocd_value = 0;
}

// A numeric column's field: blanks around the number are padding; a blank field reads as 0.
void read_numeric_field(TERM_TABLE* t) {
    const char* text = t->value;
    size_t n = std::strlen(text);
    while (n > 0 && text[0] == ' ') {
        ++text;
        --n;
    }
    while (n > 0 && text[n - 1] == ' ') --n;
    t->data_type = DT_DOUBLE;
    int32_t i = 0;
    double d = 0.0;
    switch (n == 0 ? 3 : text_to_number(text, n, &i, &d)) {
        case 2:
            t->num_type = 3;
            t->dbl_val = static_cast<double>(i);
            break;
        case 3:
            t->num_type = 3;
            t->dbl_val = d;
            break;
        default:
            t->num_type = 0;
            t->dbl_val = 0.0;
            break;
    }
}

// Copies the column's current value into the term's own buffer and sets the term's types
// from the column: numeric columns give a double, all others a text. A column without a
// value leaves the term without one.
void load_column_value(TERM_TABLE* t, const columns* col) {
    if (col->from == nullptr) {
        drop_own_buffer(t);
        t->num_type = 0;
        return;
    }
    const size_t width = col->len > 0 ? static_cast<size_t>(col->len) : 0;
    if (!owns_buffer(t) || t->len < col->len) {
        drop_own_buffer(t);
        t->value = static_cast<char*>(U_MALLOC(width + 1));
        t->allocd_value = 1;
    }
    t->len = static_cast<int16_t>(width);
    const size_t n = strnlen(col->from, width);
    std::memcpy(t->value, col->from, n);
    t->value[n] = '\0';
    if (col->orig_type == 2) {
        read_numeric_field(t);
    } else {
        t->data_type = DT_CHAR;
        t->num_type = 0;
    }
}

void bind_to_column(TERM_TABLE* t, columns* col) {
    t->value_ref = &col->from;
    load_column_value(t, col);
}

void set_cursor_name(TERM_TABLE* t, const curs* c) {
    std::strncpy(t->cursor_name, c->cur_name, sizeof(t->cursor_name) - 1);
    t->cursor_name[sizeof(t->cursor_name) - 1] = '\0';
}

int bind_number(TERM_TABLE* t) {
    if (t->value_ref != nullptr) return 0;
    t->value = t->name;
    int32_t i = 0;
    double d = 0.0;
    const int32_t type = text_to_number(t->name, std::strlen(t->name), &i, &d);
    if (t->data_type == DT_DOUBLE && (type == 2 || type == 3)) {
        t->num_type = 3;
        t->dbl_val = type == 2 ? static_cast<double>(i) : d;
    } else if (t->data_type == DT_INT && type == 2) {
        t->num_type = 2;
        t->int_val = i;
    } else {
        PRINT('e', "Int0435", "Number %s is out of range\n", t->name);
        return 1;
    }
    t->value_ref = term_value_ref_final();
    return 0;
}

int bind_name(TERM_TABLE* t, const char* var_trace_id) {
    if (bound_to_column(t)) {
        load_column_value(t, bound_column(t));
        return 0;
    }
    if (t->value_ref != nullptr) return 0;
    if (t->name[0] == '%') return define_percent_var(t);
    if (current_cursor != nullptr && this_curs_column(t, current_cursor) == 0) {
        t->term_type = TERM_COLUMN;
        set_cursor_name(t, current_cursor);
        return 0;
    }
    if (u_trace_on(EXPR_TRACE_LEVEL))
        PRINT('t', var_trace_id, "%s in cursor %s assumed a working variable name\n", t->name,
              current_cursor ? current_cursor->cur_name : "");
    if (t->data_type == DT_UNDEFINED) t->data_type = DT_CHAR;
    if (t->value == nullptr) t->value = t->name;
    t->value_ref = term_value_ref_final();
    return 0;
}

int bind_term(TERM_TABLE* t, const char* var_trace_id, const char* invalid_id) {
    switch (t->term_type) {
        case TERM_STRING:
        case TERM_VECTOR:
            if (t->value_ref == nullptr) {
                t->value = t->name;
                t->value_ref = term_value_ref_final();
            }
            return 0;
        case TERM_NUMBER:
            return bind_number(t);
        case TERM_COLUMN:
            if (bound_to_column(t)) {
                load_column_value(t, bound_column(t));
                return 0;
            }
            if (t->cursor_name[0] != '\0') return define_column(t);
            if (current_cursor == nullptr || this_curs_column(t, current_cursor) != 0) return 1;
            set_cursor_name(t, current_cursor);
            return 0;
        case TERM_NAME:
            return bind_name(t, var_trace_id);
        default:
            PRINT('e', invalid_id, "Invalid term type\n");
            return 1;
    }
}

const char* oper_word(const sOperationTable* row) {
    return row->op_class == OP_OPERATOR ? "operation" : "function";
}

// Puts a released work term on the reuse list with its result buffer, so that a steady
// stream of evaluations allocates nothing. It is cleared when it is handed out again.
void keep_for_reuse(TERM_TABLE* t) {
    t->vector = nullptr;
    t->sum_term = nullptr;
    t->next = reuse_term_store;
    reuse_term_store = t;
}

// A cleared work term with the given result buffer (null: none yet). Field by field: a
// memset of the whole record costs more than the rest of a small operation.
void reset_work_term(TERM_TABLE* t, char* buffer) {
    t->lexeme_type = LEX_TERM;
    t->term_type = TERM_NAME;
    t->work_flag = 1;
    std::memset(t->name, 0, sizeof t->name);
    t->value = buffer;
    t->allocd_value = buffer != nullptr ? 1 : 0;
    t->data_type = DT_UNDEFINED;
    t->dbl_val = 0.0;
    t->num_type = 0;
    std::memset(t->cursor_name, 0, sizeof t->cursor_name);
    t->value_ref = nullptr;
    t->len = 0;
    t->sum_term = nullptr;
    t->copy_link = nullptr;
    t->vector = nullptr;
    t->next = nullptr;
}

void release_work_term(TERM_TABLE* t, int mode) {
    // ROW's result shows the row held by its holder; the vector is not the result's.
    if (t->term_type == TERM_VECTOR) t->vector = nullptr;
    if (mode == 1 && t->work_flag == 1 && owns_buffer(t) && verify_term(t) == 0) {
        keep_for_reuse(t);
        return;
    }
    free_term(t, mode);
}

}  // namespace

columns* bound_column(const TERM_TABLE* term) {
    // value_ref holds the address of a columns record's `from`.
    auto* from = reinterpret_cast<char*>(term->value_ref);
    return reinterpret_cast<columns*>(from - offsetof(columns, from));
}

const char* term_kind_word(const TERM_TABLE* term) {
    return term->term_type == TERM_COLUMN ? "column" : "variable";
}

void set_current_cursor(curs* cursor) { current_cursor = cursor; }

void free_work_chain(TERM_TABLE** head, TERM_TABLE* keep, int mode) {
    if (head == nullptr) return;
    if (keep != nullptr && *head == nullptr) {
        PRINT('w', "Int0070", "Attempt to free an empty chain\n");
        return;
    }
    TERM_TABLE* t = *head;
    while (t != nullptr) {
        TERM_TABLE* following = t->next;
        if (t != keep) release_work_term(t, mode);
        t = following;
    }
    if (keep != nullptr) keep->next = nullptr;
    *head = nullptr;
}

int edit_term_table(TERM_TABLE* first) {
    for (TERM_TABLE* t = first; t != nullptr; t = t->next) {
        if (bind_term(t, "Int0370", "Int0400") != 0) return 1;
    }
    return 0;
}

int edit_arg_term(TERM_TABLE* term) { return bind_term(term, "Int0420", "Int0430"); }

int define_column(TERM_TABLE* term) {
    curs* c = find_cursor(term->cursor_name);
    if (c == nullptr) {
        PRINT('e', "Int0500", "Cursor %s not found for column %s\n", term->cursor_name, term->name);
        return 1;
    }
    columns* col = nullptr;
    curs* owner = nullptr;
    if (search_curs_vers_insert(c, term->name, &col, &owner) != 0) {
        PRINT('h', "Int0510", "Column %s not found for cursor %s\n", term->name, term->cursor_name);
        return 1;
    }
    bind_to_column(term, col);
    return 0;
}

int this_curs_column(TERM_TABLE* term, curs* cursor) {
    columns* col = nullptr;
    curs* owner = nullptr;
    if (search_curs_vers_insert(cursor, term->name, &col, &owner) != 0) return 1;
    bind_to_column(term, col);
    return 0;
}

int define_percent_var(TERM_TABLE* term) {
    columns* col = find_pcnt_col(term->name);
    if (col == nullptr) {
        PRINT('e', "Int0520", "Variable %s not found\n", term->name);
        return 1;
    }
    bind_to_column(term, col);
    return 0;
}

int verify_arg(const sOperationTable* row, const TERM_TABLE* term) {
    if (!u_trace_on(EXPR_TRACE_LEVEL)) return 0;
    if (term->value == nullptr) {
        PRINT('e', "Int0090", "NULL value pointer for %s %s\n", term_kind_word(term), term->name);
        return 1;
    }
    if (row->result_kind == RES_TARGET) return 0;
    // An empty text is reported here but evaluated like any other (comparisons warn about
    // it), so that no result depends on the trace level.
    if (term->value[0] == '\0')
        PRINT('e', "Int0100", "No value for %s %s\n", term_kind_word(term), term->name);
    else
        PRINT('t', "QWBIF100", "%s %s value is %.16s\n", term_kind_word(term), term->name,
              term->value);
    return 0;
}

int get_args(LEXEME* rpn, int slot, const sOperationTable* row, TERM_TABLE** list,
             TERM_TABLE*** first) {
    const bool variable = row->arg_count == ARGS_VARIABLE;
    const int n = variable ? VARIABLE_ARGS : (row->arg_count > 0 ? row->arg_count : 0);
    int pos = n;
    for (int k = slot - 1; k >= 0 && pos > 0; --k) {
        if (rpn[k] == nullptr) continue;
        if (lexeme_type_of(rpn[k]) != LEX_TERM) {
            PRINT('e', "Int0040", "Invalid lexeme type\n");
            return 1;
        }
        TERM_TABLE* t = as_term(rpn[k]);
        rpn[k] = nullptr;
        list[--pos] = t;
        if (verify_term(t) != 0) {
            PRINT('e', "Int0050", "Term block is invalid\n");
            return 1;
        }
        if (t->work_flag == 0 && edit_arg_term(t) != 0) {
            PRINT('e', "Int0052", "Term edit failed\n");
            return 1;
        }
        if (verify_arg(row, t) != 0) {
            PRINT('e', "Int0054", "Invalid argument\n");
            return 1;
        }
        // A term without a value cannot be evaluated, whatever the trace level.
        if (t->value == nullptr) return 1;
    }
    if (pos > 0 && !variable) {
        PRINT('e', "Int0056", "%s %s should have %i arguments\n", oper_word(row), row->op_name, n);
        return 1;
    }
    list[n] = nullptr;
    *first = list + pos;
    return 0;
}

TERM_TABLE* alloc_work_var(TERM_TABLE** chain) {
    TERM_TABLE* t = reuse_term_store;
    if (t != nullptr) {
        reuse_term_store = t->next;
    } else {
        t = static_cast<TERM_TABLE*>(U_MALLOC(sizeof(TERM_TABLE)));
        std::memset(static_cast<void*>(t), 0, sizeof(TERM_TABLE));
    }
    // Work terms kept for reuse by free_work_chain bring their result buffer along; terms
    // released by free_term have none.
    reset_work_term(t, t->work_flag == 1 && owns_buffer(t) ? t->value : nullptr);
    term_result_buffer(t);
    t->value[0] = '\0';
    t->value_ref = term_value_ref_final();
    t->next = *chain;
    *chain = t;
    return t;
}

int16_t perform_oper(const sOperationTable* row, TERM_TABLE** args, TERM_TABLE* work) {
    if (row->routine == nullptr) {
        PRINT('e', "Int0125", "Procedure to perform %s %s not defined\n", oper_word(row),
              row->op_name);
        return 1;
    }
    return row->routine(args, work);
}

TERM_TABLE* interpreter(LEXEME* rpn) {
    if (rpn == nullptr) return nullptr;
    start_group_evaluation();
    TERM_TABLE* chain = nullptr;
    TERM_TABLE* last = nullptr;
    TERM_TABLE* list[VARIABLE_ARGS + 1];
    for (int i = 0; rpn[i] != nullptr; ++i) {
        const int32_t type = lexeme_type_of(rpn[i]);
        if (type == LEX_TERM) continue;
        if (type != LEX_OPERATION) {
            PRINT('e', "Int0040", "Invalid lexeme type\n");
            free_work_chain(&chain, nullptr, 1);
            return nullptr;
        }
        const sOperationTable* row = as_operation(rpn[i]);
        TERM_TABLE** args = nullptr;
        if (get_args(rpn, i, row, list, &args) != 0) {
            free_work_chain(&chain, nullptr, 1);
            return nullptr;
        }
        TERM_TABLE* work = alloc_work_var(&chain);
        if (perform_oper(row, args, work) != 0) {
            PRINT('e', "Int0030", "Operation %s failed\n", row->op_name);
            free_work_chain(&chain, nullptr, 1);
            return nullptr;
        }
        rpn[i] = work;
        last = work;
    }
    if (last == nullptr) return nullptr;
    free_work_chain(&chain, last, 1);
    return last;
}
