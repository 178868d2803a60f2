// Column and in-list references.
#include "collector/rows/column_lookup.h"

#include <cstring>

#include "collector/rows/percent_cursor.h"
#include "defs/clause_loads.h"
#include "expr/percent_vars.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

// text as a NUL-padded field of width bytes, cut at width.
template <size_t N>
void padded(char (&field)[N], const char* text, size_t n) {
    std::memset(field, 0, N);
    std::memcpy(field, text, n < N ? n : N);
}

bool activated_before_update(const curs* c) {
    return c->activation_time[0] != '\0' &&
           std::strncmp(c->activation_time, last_version_update_time, sizeof c->activation_time) <
               0;
}

}  // namespace

int find_col(curs* c, const char* text, columns** col, curs** cur) {
    char name[50];
    padded(name, text, strnlen(text, sizeof name));
    for (columns* k = c->insert_columns; k != nullptr; k = k->next) {
        if (std::memcmp(k->col_name, name, sizeof name) == 0) {
            *col = k;
            return 0;
        }
    }
    if (text[0] == '%') {
        columns* p = find_pcnt_col(text);
        if (p == nullptr) {
            PRINT('e', "pde3950", "Column %s not found\n", text);
            return 1;
        }
        *col = p;
        *cur = pcnt_cursor();
        return 0;
    }
    const char* dot = std::strchr(text, '.');
    if (dot == nullptr) {
        PRINT('e', "pde3955", "Column %s not found\n", text);
        return 1;
    }
    size_t part = static_cast<size_t>(dot - text);
    if (part > 19) {
        PRINT('e', "pde3960", "Cursor name too long in %s\n", text);
        return 1;
    }
    char cursor_part[20];
    padded(cursor_part, text, part);
    char field9[9];
    padded(field9, cursor_part, part);
    curs* named = part < sizeof field9 ? find_cursor(field9) : nullptr;
    if (named == nullptr) {
        PRINT('e', "pde3965", "Cursor %s not found in text %s\n", cursor_part, text);
        *col = nullptr;
        *cur = nullptr;
        return 1;
    }
    if (activated_before_update(c) && activated_before_update(named) && *col != nullptr &&
        *cur != nullptr)
        return 0;
    if (search_curs_vers_insert(named, dot + 1, col, cur) != 0) {
        if (u_trace_on(0))
            PRINT('t', "pde3970", "Column (%s) not found in text '%s'\n", dot + 1, text);
        return 1;
    }
    return 0;
}

in_list* find_in_list(const char* reference) {
    const char* dot = std::strchr(reference, '.');
    size_t part = dot != nullptr ? static_cast<size_t>(dot - reference) : 0;
    if (dot == nullptr || part > 20) {
        PRINT('e', "pin4500", "In_list reference in decode is invalid : %s\n", reference);
        return nullptr;
    }
    char field9[9];
    padded(field9, reference, part);
    curs* c = part < sizeof field9 ? find_cursor(field9) : nullptr;
    if (c == nullptr) {
        PRINT('e', "pin4505", "In_list reference in decode is to non-existent cursor : %s\n",
              reference);
        return nullptr;
    }
    char list_name[50];
    padded(list_name, dot + 1, strnlen(dot + 1, 79));
    if (strnlen(dot + 1, 80) < sizeof list_name) {
        for (in_list* l = c->in_list; l != nullptr; l = l->next)
            if (std::memcmp(l->name, list_name, sizeof list_name) == 0) return l;
    }
    PRINT('e', "pin4510", "In_list reference in decode is to non-existent in_list : %s\n",
          reference);
    return nullptr;
}
