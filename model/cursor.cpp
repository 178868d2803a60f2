#include "model/cursor.h"

#include <cstring>

#include "runtime/alloc.h"

operate full_day = {nullptr, 0, 86400};

void free_operates(operate* o) {
    while (o != nullptr && o != &full_day) {
        operate* next = o->next;
        U_FREE(o);
        o = next;
    }
}

curs* curs_new() {
    auto* c = static_cast<curs*>(U_MALLOC(sizeof(curs)));
    std::memset(c, 0, sizeof(curs));
    std::memcpy(c->last_time, base_time, sizeof(base_time));
    c->cur_version_list = c;
    c->if_tree_place = c;
    return c;
}

columns* columns_new() {
    auto* col = static_cast<columns*>(U_MALLOC(sizeof(columns)));
    std::memset(col, 0, sizeof(columns));
    return col;
}
