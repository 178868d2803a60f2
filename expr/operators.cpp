#include "expr/operators.h"

#include <cstring>

#include "expr/interpreter.h"
#include "expr/term_value.h"
#include "runtime/msg.h"

namespace {

bool has_number(const TERM_TABLE* t) { return t->num_type == 2 || t->num_type == 3; }

bool truth(const TERM_TABLE* t) { return t->num_type == 2 ? t->int_val != 0 : t->dbl_val != 0.0; }

// A difference truncated toward zero into 64 bits; beyond the range it saturates.
int64_t truncated(double d) {
    if (d >= 0x1p63) return INT64_MAX;
    if (d <= -0x1p63) return INT64_MIN;
    return static_cast<int64_t>(d);
}

int64_t text_order(const TERM_TABLE* a, size_t la, const TERM_TABLE* b, size_t lb) {
    la = less_blanks_len(a->value, la);
    lb = less_blanks_len(b->value, lb);
    if (la != lb) return static_cast<int64_t>(la) - static_cast<int64_t>(lb);
    return la == 0 ? 0 : std::memcmp(a->value, b->value, la);
}

bool is_numeric_type(int32_t data_type) { return data_type == DT_INT || data_type == DT_DOUBLE; }

// A work variable of the expression: a name that was bound for good as a text of its own
// (never assigned: its name; assigned: a buffer it owns). Columns, percent variables and
// variables declared by a caller (a caller's text or a number) are not.
bool is_work_variable(const TERM_TABLE* t) {
    if (t->term_type != TERM_NAME || t->work_flag != 0) return false;
    if (t->value_ref != term_value_ref_final() || t->data_type != DT_CHAR) return false;
    if (t->value == t->name) return true;
    return t->allocd_value == 1 && t->value != nullptr;
}

using COMPARE_TEST = bool (*)(int64_t r);

int16_t compare_prc(TERM_TABLE** args, TERM_TABLE* result, COMPARE_TEST test) {
    int64_t r = 0;
    if (compare_subr(args[0], args[1], &r) != 0) return 1;
    set_logical_result(result, test(r));
    return 0;
}

int16_t read_operand(TERM_TABLE* t, double* value, int32_t* num_type) {
    switch (t->data_type) {
        case 1:
        case 4:
        case 6:
            if (!has_number(t) && term_str2num(t) == 0) {
                PRINT('e', "Int0315",
                      "Can't convert argument %s to numeric for an arithmetic operation\n",
                      t->name);
                return 1;
            }
            break;
        case 2:
        case 3:
        case 5:
            if (!has_number(t)) {
                PRINT('e', "Int0310", "Invalid argument type: %s\n", t->name);
                return 1;
            }
            break;
        default:
            PRINT('e', "Int0320", "Invalid argument type: %s\n", t->name);
            return 1;
    }
    *value = term_double(t);
    *num_type = t->num_type;
    return 0;
}

}  // namespace

int16_t compare_subr(TERM_TABLE* a, TERM_TABLE* b, int64_t* r) {
    if (a->data_type == DT_CHAR) {
        const size_t la = term_text_len(a);
        if (la == 0)
            PRINT('w', "Int0180", "Value for %s %s is an empty string\n", term_kind_word(a),
                  a->name);
        if (b->data_type == DT_CHAR) {
            const size_t lb = term_text_len(b);
            if (lb == 0)
                PRINT('w', "Int0185", "Value for %s %s is an empty string\n", term_kind_word(b),
                      b->name);
            *r = text_order(a, la, b, lb);
            return 0;
        }
        if (!is_numeric_type(b->data_type)) {
            PRINT('e', "Int0200", "Invalid argument type\n");
            return 1;
        }
        if ((!has_number(a) && term_str2num(a) == 0) || !has_number(b)) {
            PRINT('e', "Int0190", "Arguments for COMPARE operation are incomparable\n");
            return 1;
        }
    } else if (is_numeric_type(a->data_type)) {
        if (b->data_type == DT_CHAR) {
            if (!has_number(b) && term_str2num(b) == 0) {
                PRINT('e', "Int0210", "Arguments for COMPARE operation are incomparable\n");
                return 1;
            }
        } else if (!is_numeric_type(b->data_type)) {
            PRINT('e', "Int0220", "Invalid argument type\n");
            return 1;
        }
        if (!has_number(a) || !has_number(b)) {
            PRINT('e', "Int0210", "Arguments for COMPARE operation are incomparable\n");
            return 1;
        }
    } else {
        PRINT('e', "Int0230", "Invalid argument type\n");
        return 1;
    }
    *r = truncated(term_double(a) - term_double(b));
    return 0;
}

int16_t or_prc(TERM_TABLE** args, TERM_TABLE* result) {
    if (!has_number(args[0]) || !has_number(args[1])) {
        PRINT('e', "Int0150", "Arguments for OR operation must be I_NUMERIC\n");
        return 1;
    }
    set_logical_result(result, truth(args[0]) || truth(args[1]));
    return 0;
}

int16_t and_prc(TERM_TABLE** args, TERM_TABLE* result) {
    if (!has_number(args[0]) || !has_number(args[1])) {
        PRINT('e', "Int0160", "Arguments for AND operation must be I_NUMERIC\n");
        return 1;
    }
    set_logical_result(result, truth(args[0]) && truth(args[1]));
    return 0;
}

int16_t not_prc(TERM_TABLE** args, TERM_TABLE* result) {
    if (!has_number(args[0])) {
        PRINT('e', "Int0170", "Argument for NOT operation must be numeric\n");
        return 1;
    }
    set_logical_result(result, !truth(args[0]));
    return 0;
}

int16_t equ_prc(TERM_TABLE** args, TERM_TABLE* result) {
    return compare_prc(args, result, [](int64_t r) { return r == 0; });
}
int16_t nequ_prc(TERM_TABLE** args, TERM_TABLE* result) {
    return compare_prc(args, result, [](int64_t r) { return r != 0; });
}
int16_t less_prc(TERM_TABLE** args, TERM_TABLE* result) {
    return compare_prc(args, result, [](int64_t r) { return r < 0; });
}
int16_t nless_prc(TERM_TABLE** args, TERM_TABLE* result) {
    return compare_prc(args, result, [](int64_t r) { return r >= 0; });
}
int16_t grt_prc(TERM_TABLE** args, TERM_TABLE* result) {
    return compare_prc(args, result, [](int64_t r) { return r > 0; });
}
int16_t ngrt_prc(TERM_TABLE** args, TERM_TABLE* result) {
    return compare_prc(args, result, [](int64_t r) { return r <= 0; });
}

int16_t asgnt_prc(TERM_TABLE** args, TERM_TABLE* result) {
    TERM_TABLE* target = args[0];
    const TERM_TABLE* source = args[1];
    if (source->data_type == DT_UNDEFINED) {
        PRINT('e', "Int0250", "Assignment operation source argument is not properly defined\n");
        return 1;
    }
    if (source->data_type != DT_CHAR && !has_number(source)) {
        PRINT('e', "Int0260", "Assignment operation source argument is not properly defined\n");
        return 1;
    }
    if (source->value == nullptr) {
        PRINT('e', "Int0265", "No value for assignment operation source argument\n");
        return 1;
    }
    if (!is_work_variable(target)) {
        PRINT('e', "Int0290", "Assignment target %s is not a working variable\n", target->name);
        return 1;
    }
    const size_t n = std::strlen(source->value);
    set_variable_text(target, source->value, n);
    target->num_type = 0;
    set_logical_result(result, n > 0);
    return 0;
}

int16_t arithm_subr(TERM_TABLE** args, int n, double* values, int32_t* num_type) {
    for (int i = 0; i < n; ++i) {
        if (read_operand(args[i], &values[i], num_type) != 0) return 1;
    }
    return 0;
}

int16_t plus_prc(TERM_TABLE** args, TERM_TABLE* result) {
    double v[2];
    int32_t type = 0;
    if (arithm_subr(args, 2, v, &type) != 0) return 1;
    return set_number_result(result, type, v[0] + v[1]);
}

int16_t minus_prc(TERM_TABLE** args, TERM_TABLE* result) {
    double v[2];
    int32_t type = 0;
    if (arithm_subr(args, 2, v, &type) != 0) return 1;
    return set_number_result(result, type, v[0] - v[1]);
}

int16_t mltpl_prc(TERM_TABLE** args, TERM_TABLE* result) {
    double v[2];
    int32_t type = 0;
    if (arithm_subr(args, 2, v, &type) != 0) return 1;
    return set_number_result(result, type, v[0] * v[1]);
}

int16_t div_prc(TERM_TABLE** args, TERM_TABLE* result) {
    double v[2];
    int32_t type = 0;
    if (arithm_subr(args, 2, v, &type) != 0) return 1;
    if (v[1] == 0.0) {
        PRINT('e', "Int0340", "Can not divide by 0\n");
        return 1;
    }
    return set_number_result(result, 3, v[0] / v[1]);
}

int16_t neg_prc(TERM_TABLE** args, TERM_TABLE* result) {
    double v[1];
    int32_t type = 0;
    if (arithm_subr(args, 1, v, &type) != 0) return 1;
    return set_number_result(result, type, v[0] * -1.0);
}
