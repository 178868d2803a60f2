// Cursor reference passes.
#include "collector/startup/reference_passes.h"

#include <cstring>

#include "defs/clause_loads.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/msg.h"

namespace {

// The cursor named by the first n characters of name; a name of more than 8 characters
// names none.
curs* cursor_named(const char* name, size_t n) {
    if (n > sizeof(curs::cur_name) - 1) return nullptr;
    char key[sizeof(curs::cur_name)] = {};
    std::memcpy(key, name, n);
    return find_cursor(key);
}

}  // namespace

int edit_pre_cursors_pass() {
    int rc = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        for (pre_cursor* p = c->pre_cursor; p != nullptr; p = p->next) {
            p->curs = find_cursor(p->cur_name);
            if (p->curs == c) {
                PRINT('e', "ppr3115", "Can't pre_cursor yourself in cursor %s\n", c->cur_name);
                rc = 1;
            } else if (p->curs == nullptr) {
                PRINT('e', "ppr3120", "Pre_cursor %s not found for cursor %s\n", p->cur_name,
                      c->cur_name);
                rc = 1;
            }
        }
    }
    return rc;
}

int edit_iterates_pass() {
    int rc = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        iterate* it = c->iterate;
        if (it == nullptr) continue;
        it->curs = find_cursor(it->cur_name);
        if (it->curs == c) {
            PRINT('e', "pit3130", "Can't iterate yourself in cursor %s\n", c->cur_name);
            rc = 1;
        } else if (it->curs == nullptr) {
            PRINT('e', "pit3135", "Iterator %s not found for cursor %s\n", it->cur_name,
                  c->cur_name);
            rc = 1;
        }
    }
    return rc;
}

int set_qualifieds_pass() {
    bool failed = false;
    int resolved = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        for (columns* k = c->insert_columns; k != nullptr; k = k->next) {
            if (k->qualified == 0) continue;
            const size_t ll = strnlen(k->col_name, sizeof(k->col_name) - 1);
            const size_t n = k->col_name_ll > 0 && static_cast<size_t>(k->col_name_ll) < ll
                                 ? static_cast<size_t>(k->col_name_ll)
                                 : ll;
            const char* dot = static_cast<const char*>(std::memchr(k->col_name, '.', n));
            if (dot == nullptr) {
                PRINT('e', "pmg3160", "Qualified name (%s) is invalid\n", k->col_name);
                failed = true;
                continue;
            }
            const size_t cursor_len = static_cast<size_t>(dot - k->col_name);
            curs* s = cursor_named(k->col_name, cursor_len);
            if (s == nullptr) {
                PRINT('e', "pmg3165", "Source cursor (%.*s) not found for %s\n",
                      static_cast<int>(cursor_len), k->col_name, k->col_name);
                failed = true;
                continue;
            }
            if (s == c) {
                PRINT('e', "pmg3170", "Cant reference to the same cursor for %s\n", k->col_name);
                failed = true;
                continue;
            }
            if (c->age_to != nullptr && s == c->age_to) {
                PRINT('e', "pmg3175", "Column reference (%s) to own aged data not allowed\n",
                      k->col_name);
                failed = true;
            }
            char column_part[sizeof(k->col_name)] = {};
            std::memcpy(column_part, dot + 1, ll - cursor_len - 1);
            columns* found = nullptr;
            curs* owner = nullptr;
            if (search_curs_vers_insert(s, column_part, &found, &owner) == 0) {
                k->base_column = found;
                k->base_cursor = owner;
                ++resolved;
            } else {
                PRINT('e', "pmg3180", "Source column (%s) not found for %s\n", column_part,
                      k->col_name);
                failed = true;
            }
        }
    }
    if (failed) {
        PRINT('e', "pmg3185", "Qualified name resolution failed\n");
        return 1;
    }
    PRINT('i', "pmg3190", "Qualified name resolution successful, %d resolved\n", resolved);
    return 0;
}
