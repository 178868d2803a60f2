// Least forms of functions the decodes call (see least_forms_decode.h).
#include "collector/least_forms_decode.h"

#include <cstring>

#include "defs/clause_loads.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

// The first cursor of the list whose 9-byte name field equals name padded with NULs.
curs* cursor_named(const char* name, size_t n) {
    char image[9] = {};
    if (n >= sizeof image) return nullptr;
    std::memcpy(image, name, n);
    for (curs* x = cur_anchor; x != nullptr; x = x->next)
        if (std::memcmp(x->cur_name, image, sizeof image) == 0) return x;
    return nullptr;
}

}  // namespace

int find_col(curs* c, char* text, columns** col, curs** cur) {
    if (c == nullptr || text == nullptr) return 1;
    columns* found = nullptr;
    curs* in = nullptr;
    if (const char* dot = std::strchr(text, '.')) {
        curs* other = cursor_named(text, static_cast<size_t>(dot - text));
        if (other == nullptr || search_curs_vers_insert(other, dot + 1, &found, &in) != 0) return 1;
        *col = found;
        *cur = other;
        return 0;
    }
    if (search_curs_vers_insert(c, text, &found, &in) != 0) return 1;
    *col = found;
    return 0;
}

in_list* find_in_list(char* reference) {
    const char* dot = std::strchr(reference, '.');
    if (dot == nullptr || dot - reference > 20) {
        PRINT('e', "pin4500", "In_list reference in decode is invalid : %s\n", reference);
        return nullptr;
    }
    curs* c = cursor_named(reference, static_cast<size_t>(dot - reference));
    if (c == nullptr) {
        PRINT('e', "pin4505", "In_list reference in decode is to non-existent cursor : %s\n",
              reference);
        return nullptr;
    }
    char name[50] = {};
    std::strncpy(name, dot + 1, sizeof name - 1);
    for (in_list* l = c->in_list; l != nullptr; l = l->next)
        if (std::memcmp(l->name, name, sizeof name) == 0) return l;
    PRINT('e', "pin4510", "In_list reference in decode is to non-existent in_list : %s\n",
          reference);
    return nullptr;
}

char* locate_base(curs* src, curs* /*c*/, int offset) {
    if (src == nullptr || src->last_row == nullptr) return nullptr;
    return src->last_row->text + offset;
}

int delete_all(curs* c) {
    for (row_data* r = c->first_row; r != nullptr;) {
        row_data* next = r->next;
        U_FREE(r);
        r = next;
    }
    c->first_row = c->last_row = nullptr;
    c->count = 0;
    return 0;
}
