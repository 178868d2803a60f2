#include "expr/group_functions.h"

#include <cstdint>
#include <cstring>

#include "expr/operators.h"
#include "expr/select_mode.h"
#include "expr/term_value.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"

namespace {

// Values ROW takes before its holder.
constexpr int MAX_ROW_VALUES = 99;

// The running sums, chained through `next` in the order of the SUMs within one run of the
// interpreter; next_sum is the link that holds the next SUM's.
TERM_TABLE* running_sums = nullptr;
TERM_TABLE** next_sum = &running_sums;

bool owns_buffer(const TERM_TABLE* t) {
    return t->allocd_value == 1 && t->value != nullptr && t->value != t->name;
}

[[noreturn]] void corrupted_mode(const char* id, const char* text) {
    PRINT('s', id, "%s", text);
    quitting(-1);
    u_exit(1);
}

// The number SUM adds: a number the argument holds, else its text without trailing
// blanks read as a number.
int16_t sum_operand(const TERM_TABLE* arg, double* value, int32_t* num_type) {
    if (arg->num_type == 2 || arg->num_type == 3) {
        *value = term_double(arg);
        *num_type = arg->num_type;
        return 0;
    }
    if (arg->data_type == 1 || arg->data_type == 4 || arg->data_type == 6) {
        const size_t n = less_blanks_len(arg->value, term_text_len(arg));
        int32_t i = 0;
        double d = 0.0;
        const int32_t type = n == 0 ? 0 : text_to_number(arg->value, n, &i, &d);
        if (type != 0) {
            *value = type == 2 ? static_cast<double>(i) : d;
            *num_type = type;
            return 0;
        }
        // The select fails, the process goes on: one non-number must not stop a collector.
        PRINT('e', "Int0315", "Can't convert argument %s to numeric for an arithmetic operation\n",
              arg->name);
        return 1;
    }
    PRINT('e', "Int0310", "Invalid argument type: %s\n", arg->name);
    return 1;
}

// The running sum of this SUM, created at its first use.
TERM_TABLE* alloc_sum_term(const TERM_TABLE* arg, bool* fresh) {
    *fresh = *next_sum == nullptr;
    if (*fresh) {
        TERM_TABLE* sum = alloc_term(TERM_NAME, arg->data_type);
        term_result_buffer(sum);
        sum->value_ref = term_value_ref_final();
        *next_sum = sum;
    }
    TERM_TABLE* sum = *next_sum;
    next_sum = &sum->next;
    return sum;
}

// The running sum restarts from the argument's value.
int16_t zero_term(TERM_TABLE* sum, const TERM_TABLE* arg) {
    double v = 0.0;
    int32_t type = 0;
    if (sum_operand(arg, &v, &type) != 0) return 1;
    return set_number_result(sum, type, v);
}

// The argument is added to the running sum, whose number type decides the sum's.
int16_t exec_sum(TERM_TABLE* sum, const TERM_TABLE* arg) {
    double v = 0.0;
    int32_t type = 0;
    if (sum_operand(arg, &v, &type) != 0) return 1;
    if (sum->num_type != 2 && sum->num_type != 3) {
        PRINT('s', "SEL0150", "A TERM_TABLE struct corrupted\n");
        return 1;
    }
    // Counters are 32-bit but their sums over engines or devices are not: an integer sum
    // that leaves the 32-bit range goes on in double, exact to 2^53.
    const double total = v + term_double(sum);
    int32_t num_type = sum->num_type;
    if (num_type == 2 && !(total >= INT32_MIN && total <= INT32_MAX)) num_type = 3;
    return set_number_result(sum, num_type, total);
}

// An element of a row vector takes the value's text; its place in the chain stays. Its
// len keeps the longest text its buffer took, so that a buffer once grown serves every
// later row of every select (a running sum's text grows row by row).
int refresh_element(TERM_TABLE* element, const TERM_TABLE* value) {
    TERM_TABLE* following = element->vector;
    const int16_t room = owns_buffer(element) ? element->len : 0;
    const int rc = copy_term(element, value);
    element->vector = following;
    if (rc == 0 && room > element->len) element->len = room;
    return rc;
}

// Makes the holder's chain exactly n elements long, keeping the elements it has.
void shape_vector(TERM_TABLE* holder, int n) {
    TERM_TABLE** link = &holder->vector;
    for (int i = 0; i < n; ++i) {
        if (*link == nullptr) *link = alloc_term(TERM_NAME, DT_UNDEFINED);
        link = &(*link)->vector;
    }
    if (*link != nullptr) {
        free_term(*link, 0);
        *link = nullptr;
    }
}

int vector_length(const TERM_TABLE* holder) {
    int n = 0;
    for (const TERM_TABLE* e = holder->vector; e != nullptr && n <= MAX_ROW_VALUES; e = e->vector)
        ++n;
    return n;
}

bool is_sum_result(const TERM_TABLE* value) { return value->sum_term != nullptr; }
// A value computed by an operation is a new term at every run: it is copied at the first
// row only, and is no part of the group key.
bool is_computed(const TERM_TABLE* value) { return value->work_flag == 1 && !is_sum_result(value); }

int alloc_vector(TERM_TABLE** values, int n, TERM_TABLE* holder) {
    shape_vector(holder, n);
    TERM_TABLE* e = holder->vector;
    for (int i = 0; i < n; ++i, e = e->vector) {
        const TERM_TABLE* source = is_sum_result(values[i]) ? values[i]->sum_term : values[i];
        if (refresh_element(e, source) != 0) return 1;
    }
    holder->term_type = TERM_VECTOR;
    holder->data_type = DT_UNDEFINED;
    return 0;
}

int reset_vector(TERM_TABLE** values, int n, TERM_TABLE* holder) {
    TERM_TABLE* e = holder->vector;
    for (int i = 0; i < n; ++i, e = e->vector) {
        if (is_sum_result(values[i])) {
            if (refresh_element(e, values[i]->sum_term) != 0) return 1;
        } else if (!is_computed(values[i])) {
            if (refresh_element(e, values[i]) != 0) return 1;
        }
    }
    return 0;
}

// 0 with *changed when a key value differs from its copy; 1 when a comparison failed.
int produce_vector(TERM_TABLE** values, int n, TERM_TABLE* holder, bool* changed) {
    *changed = false;
    TERM_TABLE* e = holder->vector;
    for (int i = 0; i < n; ++i, e = e->vector) {
        if (is_sum_result(values[i])) {
            if (refresh_element(e, values[i]->sum_term) != 0) return 1;
        } else if (!*changed && !is_computed(values[i])) {
            int64_t r = 0;
            if (compare_subr(values[i], e, &r) != 0) return 1;
            *changed = r != 0;
        }
    }
    return 0;
}

}  // namespace

void start_group_evaluation() { next_sum = &running_sums; }

void free_group_sums() {
    while (running_sums != nullptr) {
        TERM_TABLE* sum = running_sums;
        running_sums = sum->next;
        free_term(sum, 0);
    }
    next_sum = &running_sums;
}

int16_t sum_func(TERM_TABLE** args, TERM_TABLE* result) {
    const TERM_TABLE* arg = args[0];
    const int mode = get_proc_mode();
    if (mode != PROC_FIRST_ROW && mode != PROC_NEW_GROUP && mode != PROC_SAME_GROUP)
        corrupted_mode("SEL0140", "Corrupted: quitting\n");
    bool fresh = false;
    TERM_TABLE* sum = alloc_sum_term(arg, &fresh);
    const int16_t rc = mode == PROC_SAME_GROUP && !fresh ? exec_sum(sum, arg) : zero_term(sum, arg);
    if (rc != 0) return 1;
    if (set_number_result(result, sum->num_type, term_double(sum)) != 0) return 1;
    result->sum_term = sum;
    return 0;
}

int16_t row_func(TERM_TABLE** args, TERM_TABLE* result) {
    int count = 0;
    while (args[count] != nullptr) ++count;
    if (count == 0) {
        PRINT('e', "Int0430", "Invalid term type\n");
        return 1;
    }
    TERM_TABLE* holder = args[count - 1];
    if (holder->work_flag != 0 ||
        (holder->term_type != TERM_NAME && holder->term_type != TERM_VECTOR)) {
        PRINT('e', "Int0430", "Invalid term type\n");
        return 1;
    }
    TERM_TABLE** values = args;
    int n = count - 1;
    if (n > MAX_ROW_VALUES) {
        values += n - MAX_ROW_VALUES;
        n = MAX_ROW_VALUES;
    }
    const int mode = get_proc_mode();
    if (mode == PROC_NEW_GROUP || mode == PROC_SAME_GROUP) {
        if (holder->term_type != TERM_VECTOR || vector_length(holder) != n) {
            PRINT('s', "SEL0150", "A TERM_TABLE struct corrupted\n");
            return 1;
        }
    }
    switch (mode) {
        case PROC_FIRST_ROW:
            if (alloc_vector(values, n, holder) != 0) return 1;
            set_row_status(ROW_CONTINUES);
            break;
        case PROC_NEW_GROUP:
            if (reset_vector(values, n, holder) != 0) return 1;
            set_row_status(ROW_CONTINUES);
            break;
        case PROC_SAME_GROUP: {
            bool changed = false;
            if (produce_vector(values, n, holder, &changed) != 0) return 1;
            set_row_status(changed ? ROW_NEW_GROUP : ROW_CONTINUES);
            break;
        }
        default:
            PRINT('s', "SEL0300", "Invalid proc_mode value\n");
            return 1;
    }
    result->term_type = TERM_VECTOR;
    result->data_type = DT_UNDEFINED;
    result->num_type = 0;
    result->vector = holder->vector;
    return 0;
}

int copy_term(TERM_TABLE* target, const TERM_TABLE* source) {
    if (target == source) return 0;
    if (source->allocd_value != 0 && (source->value == nullptr || source->value == source->name)) {
        PRINT('e', "TRM0020", "Invalid TERM_TABLE structure\n");
        return 1;
    }
    const char* text = source->value != nullptr ? source->value : "";
    const size_t n =
        source->len > 0 ? strnlen(text, static_cast<size_t>(source->len)) : std::strlen(text);
    if (n > INT16_MAX) {
        PRINT('e', "TRM0020", "Invalid TERM_TABLE structure\n");
        return 1;
    }
    char* old = nullptr;
    if (target->allocd_value != 0) {
        if (owns_buffer(target))
            old = target->value;
        else
            PRINT('w', "TRM0023", "Invalid TERM_TABLE structure, trying to correct\n");
    }
    char* buffer = nullptr;
    if (old != nullptr) {
        size_t room = std::strlen(old);
        if (target->len > 0 && static_cast<size_t>(target->len) > room)
            room = static_cast<size_t>(target->len);
        if (room >= n) buffer = old;
    }
    if (buffer == nullptr) buffer = static_cast<char*>(U_MALLOC(n + 1));
    std::memmove(buffer, text, n);
    buffer[n] = '\0';
    if (old != nullptr && old != buffer) U_FREE(old);
    std::memcpy(static_cast<void*>(target), static_cast<const void*>(source), sizeof(TERM_TABLE));
    target->value = buffer;
    target->allocd_value = 1;
    target->len = static_cast<int16_t>(n);
    target->work_flag = 0;
    target->value_ref = term_value_ref_final();
    target->sum_term = nullptr;
    target->copy_link = nullptr;
    target->vector = nullptr;
    target->next = nullptr;
    return 0;
}
