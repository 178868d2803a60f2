// Single values of the internal select: a column of a cursor's current row read into a work
// variable or a number, and host variables declared for conditions.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "expr/internal_select.h"
#include "expr/select_cursor.h"
#include "expr/term_value.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

bool owns_buffer(const TERM_TABLE* t) {
    return t->allocd_value != 0 && t->value != nullptr && t->value != t->name;
}

void drop_buffer(TERM_TABLE* t) {
    if (owns_buffer(t)) U_FREE(t->value);
    t->value = nullptr;
    t->allocd_value = 0;
}

// The leading integer of a text, as atoi reads it, saturated to 32 bits.
int32_t text_int(const char* text) {
    errno = 0;
    const long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

// The leading number of a text, as atof reads it.
double text_double(const char* text) { return std::strtod(text, nullptr); }

// A term held by the caller is used only when it is a valid term of the bracket's table.
bool usable_held_term(const TERM_TABLE* term) {
    if (verify_term(term) != 0) return false;
    for (const TERM_TABLE* t = get_active_term_tb_anchor(); t && t != term_tb_invalid();
         t = t->next)
        if (t == term) return true;
    return false;
}

}  // namespace

int select_column(const char* column, const char* cursor_name, void* target, int target_type,
                  const char* var_name, TERM_TABLE** holder) {
    verify_term_tb_anchor();
    curs* c = find_cursor(cursor_name);
    if (!c) {
        PRINT('e', "SEL0810", "Cursor %s not found\n", cursor_name ? cursor_name : "");
        return 1;
    }
    const char* col_text = column ? column : "";
    TERM_TABLE* term = nullptr;
    if (holder && *holder) {
        if (usable_held_term(*holder))
            term = *holder;
        else
            PRINT('w', "SEL0815", "Pointer to invalid term block is passed\n");
    }
    if (!term && var_name) {
        const size_t n = std::strlen(var_name);
        term = n <= TERM_NAME_MAX ? find_name_entry(var_name, static_cast<int16_t>(n)) : nullptr;
        if (!term) {
            PRINT('e', "SEL0820", "Variable %s allocation failed\n", var_name);
            return 1;
        }
    }
    if (term) {
        // The target's type decides the conversion on every call: a condition that named
        // the variable may have retyped it since.
        if (target_type < SEL_TARGET_CHAR || target_type > SEL_TARGET_FLOAT) {
            PRINT('e', "SEL0825", "Invalid data type passed for variable %s.\n", term->name);
            return 1;
        }
        // Looked up on every call: versions and column lists may have changed since.
        columns* col = select_lookup_column(c, col_text);
        if (!col || !col->from) {
            PRINT('e', "SEL0830", "Column %.50s not found for cursor %s\n", col_text, c->cur_name);
            return 1;
        }
        term->data_type = target_type;
        term->value_ref = &col->from;
        const int16_t width = col->len > 0 ? col->len : 0;
        if (!owns_buffer(term) || term->len < width) {
            drop_buffer(term);
            term->value = static_cast<char*>(U_MALLOC(static_cast<size_t>(width) + 1));
            term->allocd_value = 1;
        }
        term->len = width;
        const size_t n = strnlen(col->from, static_cast<size_t>(width));
        std::memcpy(term->value, col->from, n);
        term->value[n] = '\0';
        switch (target_type) {
            case SEL_TARGET_CHAR:
                *static_cast<char**>(target) = term->value;
                break;
            case SEL_TARGET_INT:
                term->num_type = 2;
                term->int_val = text_int(term->value);
                *static_cast<int32_t*>(target) = term->int_val;
                break;
            default:
                term->num_type = 3;
                term->dbl_val = text_double(term->value);
                *static_cast<float*>(target) = static_cast<float>(term->dbl_val);
                break;
        }
        if (holder) *holder = term;
        return 0;
    }
    columns* col = select_lookup_column(c, col_text);
    if (!col || !col->from) {
        PRINT('e', "SEL0850", "Column %.50s not found for cursor %s\n", col_text, c->cur_name);
        return 1;
    }
    const size_t width = col->len > 0 ? static_cast<size_t>(col->len) : 0;
    char local[128];
    char* text = width < sizeof local ? local : static_cast<char*>(U_MALLOC(width + 1));
    const size_t n = strnlen(col->from, width);
    std::memcpy(text, col->from, n);
    text[n] = '\0';
    int rc = 0;
    switch (target_type) {
        case SEL_TARGET_CHAR:
            PRINT('e', "SEL0860", "Char target type requires a declared term variable\n");
            rc = 1;
            break;
        case SEL_TARGET_INT:
            *static_cast<int32_t*>(target) = text_int(text);
            break;
        case SEL_TARGET_INT64:
            *static_cast<int64_t*>(target) = std::strtoll(text, nullptr, 10);
            break;
        case SEL_TARGET_FLOAT:
            *static_cast<float*>(target) = static_cast<float>(text_double(text));
            break;
        default:
            PRINT('e', "SEL0870", "Invalid target type\n");
            rc = 1;
            break;
    }
    if (text != local) U_FREE(text);
    return rc;
}

int declare_C_var(const char* name, int data_type, void* value) {
    verify_term_tb_anchor();
    const size_t n = name ? std::strlen(name) : 0;
    // A text variable needs a text: a null pointer would leave the variable without value.
    const bool has_value =
        value && (data_type != DT_CHAR || *static_cast<char**>(value) != nullptr);
    TERM_TABLE* term = name && n <= TERM_NAME_MAX && has_value
                           ? find_name_entry(name, static_cast<int16_t>(n))
                           : nullptr;
    if (!term) {
        PRINT('e', "TRM0100", "Variable %s declaration failed\n", name ? name : "");
        return 1;
    }
    if (data_type < DT_CHAR || data_type > DT_DOUBLE) {
        PRINT('s', "TRM0110", "Invalid data type for variable %s\n", name);
        return 1;
    }
    char number[64];
    drop_buffer(term);
    switch (data_type) {
        case DT_CHAR:
            term->value = *static_cast<char**>(value);
            term->num_type = 0;
            break;
        case DT_INT:
            term->num_type = 2;
            term->int_val = *static_cast<int32_t*>(value);
            std::snprintf(number, sizeof number, "%d", term->int_val);
            set_variable_text(term, number, std::strlen(number));
            break;
        default:
            term->num_type = 3;
            term->dbl_val = static_cast<double>(*static_cast<float*>(value));
            std::snprintf(number, sizeof number, "%g", term->dbl_val);
            set_variable_text(term, number, std::strlen(number));
            break;
    }
    if (data_type == DT_CHAR) term->allocd_value = 0;
    term->data_type = data_type;
    term->len = 0;
    // Bound for good: the interpreter takes it as a variable, never as a column.
    term->value_ref = term_value_ref_final();
    return 0;
}
