// Results of the internal select: the first value of a result row stored into the caller's
// target, and the output lines of the monitor procedures.
#include <cmath>
#include <cstdint>
#include <cstring>

#include "expr/internal_select.h"
#include "expr/interpreter.h"
#include "expr/term_value.h"
#include "runtime/alloc.h"
#include "runtime/exec.h"
#include "runtime/msg.h"

namespace {

int32_t saturate_to_int(double v) {
    if (std::isnan(v)) return 0;
    const double t = std::trunc(v);
    if (t >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    if (t <= static_cast<double>(INT32_MIN)) return INT32_MIN;
    return static_cast<int32_t>(t);
}

// Reads the value text of a character element as a number. The field's padding blanks are
// no part of the number; anything else left over makes it no number.
int32_t element_number(const TERM_TABLE* e, int32_t* i, double* d) {
    const char* text = e->value;
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') --n;
    return text_to_number(text, n, i, d);
}

// A numeric element that holds no number (a numeric column whose field is no number) is
// read as its text, so that bad data fails instead of giving 0.
int32_t effective_type(const TERM_TABLE* e) {
    if (e->data_type == DT_INT && e->num_type != 2) return DT_CHAR;
    if (e->data_type == DT_DOUBLE && e->num_type != 2 && e->num_type != 3) return DT_CHAR;
    return e->data_type;
}

// The number an element holds, for a numeric target: 2 with *i set, 3 with *d set, or 0
// after reporting a text that is no number (`text_id`) or a type that holds none (`type_id`).
int32_t element_value(const TERM_TABLE* e, int32_t* i, double* d, const char* text_id,
                      const char* type_id) {
    switch (effective_type(e)) {
        case DT_CHAR: {
            const int32_t type = e->value ? element_number(e, i, d) : 0;
            if (type == 0)
                PRINT('e', text_id, "Value of %s can not be converted into number\n",
                      e->value ? e->value : "");
            return type;
        }
        case DT_INT:
            *i = e->int_val;
            return 2;
        case DT_DOUBLE:
            if (e->num_type == 2) {
                *i = e->int_val;
                return 2;
            }
            *d = e->dbl_val;
            return 3;
        default:
            PRINT('e', type_id, "Invalid data type\n");
            return 0;
    }
}

}  // namespace

int dispose_result(TERM_TABLE** holder, void* target, int target_type) {
    const TERM_TABLE* e = holder && *holder ? (*holder)->vector : nullptr;
    if (!e) {
        PRINT('e', "SEL0600", "Invalid SELECT result structure\n");
        return 1;
    }
    if (((target_type >= SEL_TARGET_CHAR && target_type <= SEL_TARGET_FLOAT) ||
         target_type == SEL_TARGET_INT64) &&
        e->vector)
        PRINT('w', "SEL0610",
              "Can not store a row into variable: taking just the first column of the row\n");
    int32_t i = 0;
    double d = 0.0;
    switch (target_type) {
        case SEL_TARGET_CHAR:
            if (!e->value) {
                PRINT('e', "SEL0620", "Invalid SELECT result structure\n");
                return 1;
            }
            *static_cast<char**>(target) = e->value;
            break;
        case SEL_TARGET_INT: {
            const int32_t type = element_value(e, &i, &d, "SEL0630", "SEL0640");
            if (type == 0) return 1;
            *static_cast<int32_t*>(target) = type == 2 ? i : saturate_to_int(d);
            break;
        }
        case SEL_TARGET_INT64: {
            const int32_t type = element_value(e, &i, &d, "SEL0630", "SEL0640");
            if (type == 0) return 1;
            if (type == 2) {
                *static_cast<int64_t*>(target) = i;
                break;
            }
            // A double holds every integer exactly up to 2^53; a sum beyond that is no
            // longer a count.
            const double t = std::trunc(d);
            if (std::isnan(t) || std::fabs(t) > 9007199254740992.0) {
                PRINT('e', "SEL0645", "Value %g out of the exact 64-bit integer range\n", d);
                return 1;
            }
            *static_cast<int64_t*>(target) = static_cast<int64_t>(t);
            break;
        }
        case SEL_TARGET_FLOAT: {
            const int32_t type = element_value(e, &i, &d, "SEL0650", "SEL0660");
            if (type == 0) return 1;
            *static_cast<float*>(target) =
                type == 2 ? static_cast<float>(i) : static_cast<float>(d);
            break;
        }
        case SEL_TARGET_CREATE:
        case SEL_TARGET_INSERT:
            break;
        default:
            PRINT('e', "SEL0670", "Invalid target type\n");
            return 1;
    }
    // The held term is ROW's work term: released for reuse, without the row it shows.
    free_work_chain(holder, nullptr, 1);
    *holder = nullptr;
    return 0;
}

int chain_internal_res(const char* line, r_exec_chain** head) {
    if (!line || !head) return 1;
    const size_t n = strnlen(line, SEL_LINE_MAX + 1);
    if (n > SEL_LINE_MAX) {
        PRINT('e', "SEL1005", "Output line longer than %zu characters: not chained\n",
              SEL_LINE_MAX);
        return 1;
    }
    auto* element = static_cast<r_exec_chain*>(U_MALLOC(sizeof(r_exec_chain) + n + 1));
    element->next = nullptr;
    element->size = static_cast<int32_t>(n + 1);
    std::memcpy(element->line, line, n);
    element->line[n] = '\0';
    r_exec_chain** tail = head;
    while (*tail) tail = &(*tail)->next;
    *tail = element;
    return 0;
}
