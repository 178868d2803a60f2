#include "model/cursor.h"

#include <cstring>

#include "runtime/alloc.h"

operate full_day = {nullptr, 0, 86400};

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
