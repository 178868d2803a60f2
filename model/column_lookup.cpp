#include "model/column_lookup.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "model/cursor.h"
#include "runtime/msg.h"

int set_col_ordinals(curs* cursor) {
    int16_t n = 0;
    for (columns* col = cursor->insert_columns; col != nullptr; col = col->next) col->col_no = ++n;
    return 0;
}

namespace {

// The name as the 50-byte, NUL-filled image that col_name holds.
struct name_image {
    char bytes[50];
    bool ordinal;
    int position;
};

name_image make_image(const char* name) {
    name_image img{};
    img.ordinal = std::isdigit(static_cast<unsigned char>(name[0])) != 0;
    if (img.ordinal) {
        img.position = std::atoi(name);
        if (img.position < 1) img.position = 1;
    } else {
        // The image is a fixed 50-byte field, not a C string: copy at most its width.
        std::memcpy(img.bytes, name, strnlen(name, sizeof(img.bytes)));
    }
    return img;
}

columns* find_in(curs* c, const name_image& img) {
    int k = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        ++k;
        if (img.ordinal ? k == img.position
                        : std::memcmp(col->col_name, img.bytes, sizeof(img.bytes)) == 0)
            return col;
    }
    return nullptr;
}

// The version ring is built by the version code; a bound keeps a broken ring from
// looping here.
constexpr int max_versions = 4096;

}  // namespace

int search_curs_vers_insert(curs* c, const char* name, columns** col, curs** cur) {
    *col = nullptr;
    *cur = nullptr;
    if (c == nullptr || name == nullptr) return 1;
    name_image img = make_image(name);
    if (columns* found = find_in(c, img)) {
        *col = found;
        *cur = c;
        return 0;
    }
    curs* v = c->cur_version_list;
    if (v == nullptr || v == c) return 1;

    if (c->activation_time[0] != '\0')
        PRINT('w', "pde5000",
              "Column %s not found in the active version of the cursor %s:going through "
              "inactive versions\n",
              name, c->cur_name);
    columns* best_col = nullptr;
    curs* best_cur = nullptr;
    for (int n = 0; v != nullptr && v != c && v != c->if_tree_place && n < max_versions;
         v = v->cur_version_list, ++n) {
        columns* found = find_in(v, img);
        if (found == nullptr) continue;
        if (best_cur == nullptr || std::strncmp(v->activation_time, best_cur->activation_time,
                                                sizeof(v->activation_time)) > 0) {
            best_col = found;
            best_cur = v;
        }
    }
    if (best_col == nullptr) return 1;
    PRINT('w', "pde5010",
          "Column %s found in alternative version of the cursor %s: incorrect data or abend "
          "possible.\n",
          name, c->cur_name);
    *col = best_col;
    *cur = best_cur;
    return 0;
}
