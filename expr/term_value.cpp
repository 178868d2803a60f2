#include "expr/term_value.h"

#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

bool owns_buffer(const TERM_TABLE* t) {
    return t->allocd_value == 1 && t->value != nullptr && t->value != t->name;
}

}  // namespace

size_t less_blanks_len(const char* text, size_t n) {
    if (text == nullptr || n == 0) return 0;
    size_t len = n;
    // Fields are padded with blanks to their width: skip them eight at a time.
    constexpr uint64_t blanks = 0x2020202020202020ULL;
    while (len >= 8) {
        uint64_t word;
        std::memcpy(&word, text + len - 8, sizeof word);
        if (word != blanks) break;
        len -= 8;
    }
    while (len > 0 && text[len - 1] == ' ') --len;
    return len == 0 ? 1 : len;
}

size_t term_text_len(const TERM_TABLE* term) {
    return term->value == nullptr ? 0 : std::strlen(term->value);
}

int32_t text_to_number(const char* text, size_t n, int32_t* i, double* d) {
    if (n == 0) {
        *i = 0;
        return 2;
    }
    // The text need not be terminated at n: read from a terminated copy (on the stack for
    // the texts numbers are written in).
    char local[128];
    std::string heap;
    const char* start = local;
    if (n < sizeof(local)) {
        std::memcpy(local, text, n);
        local[n] = '\0';
    } else {
        heap.assign(text, n);
        start = heap.c_str();
    }
    const char* end = start + n;
    char* stop = nullptr;
    errno = 0;
    long l = std::strtol(start, &stop, 10);
    if (stop == end && stop != start && errno == 0 && l >= INT32_MIN && l <= INT32_MAX) {
        *i = static_cast<int32_t>(l);
        return 2;
    }
    errno = 0;
    double v = std::strtod(start, &stop);
    if (stop == end && stop != start && errno != ERANGE && std::isfinite(v)) {
        *d = v;
        return 3;
    }
    return 0;
}

int32_t term_str2num(TERM_TABLE* term) {
    int32_t i = 0;
    double d = 0.0;
    const char* text = term->value ? term->value : "";
    int32_t type = text_to_number(text, std::strlen(text), &i, &d);
    term->num_type = type;
    if (type == 2)
        term->int_val = i;
    else
        term->dbl_val = type == 3 ? d : 0.0;
    return type;
}

double term_double(const TERM_TABLE* term) {
    return term->num_type == 2 ? static_cast<double>(term->int_val) : term->dbl_val;
}

void term_result_buffer(TERM_TABLE* term) {
    if (owns_buffer(term)) return;
    term->value = static_cast<char*>(U_MALLOC(WORK_TEXT_SIZE));
    term->value[0] = '\0';
    term->allocd_value = 1;
}

void set_logical_result(TERM_TABLE* term, bool value) {
    term_result_buffer(term);
    term->data_type = DT_INT;
    term->num_type = 2;
    term->int_val = value ? 1 : 0;
    term->value[0] = value ? '1' : '0';
    term->value[1] = '\0';
}

int16_t set_number_result(TERM_TABLE* term, int32_t num_type, double value) {
    term_result_buffer(term);
    if (num_type == 2) {
        double t = std::trunc(value);
        if (!(t >= INT32_MIN && t <= INT32_MAX)) {
            PRINT('e', "Int0345", "Arithmetic result %g is out of range\n", value);
            return 1;
        }
        term->data_type = DT_INT;
        term->num_type = 2;
        term->int_val = static_cast<int32_t>(t);
        // As "%li" would write it (no locale touches an integer).
        char* end = std::to_chars(term->value, term->value + WORK_TEXT_SIZE - 1, term->int_val).ptr;
        *end = '\0';
        return 0;
    }
    if (!std::isfinite(value)) {
        PRINT('e', "Int0345", "Arithmetic result %g is out of range\n", value);
        return 1;
    }
    term->data_type = DT_DOUBLE;
    term->num_type = 3;
    term->dbl_val = value;
    std::snprintf(term->value, WORK_TEXT_SIZE, "%lf", value);
    return 0;
}

void set_variable_text(TERM_TABLE* var, const char* text, size_t n) {
    if (owns_buffer(var)) {
        size_t room = std::strlen(var->value);
        if (var->len > 0 && static_cast<size_t>(var->len) > room)
            room = static_cast<size_t>(var->len);
        if (n <= room) {
            std::memmove(var->value, text, n);
            var->value[n] = '\0';
            return;
        }
    }
    // A new buffer first: the text may live in the one it replaces.
    auto* buffer = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(buffer, text, n);
    buffer[n] = '\0';
    if (owns_buffer(var)) U_FREE(var->value);
    var->value = buffer;
    var->allocd_value = 1;
}
