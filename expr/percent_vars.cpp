#include "expr/percent_vars.h"

#include <strings.h>

#include <cstring>

#include "model/cursor.h"
#include "model/engine_globals.h"

namespace {

constexpr char percent_cursor_name[] = "%CURSOR";

// The cursor list holds the percent cursor last; the last one of that name wins.
curs* find_percent_cursor() {
    curs* found = nullptr;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (strncasecmp(c->cur_name, percent_cursor_name, sizeof(c->cur_name)) == 0) found = c;
    }
    return found;
}

}  // namespace

const char* pcnt_db_type = nullptr;

columns* find_pcnt_col(const char* name) {
    if (name == nullptr) return nullptr;
    if (pcnt_db_type != nullptr && std::strcmp(name, "%machine_me") == 0 &&
        std::strncmp(pcnt_db_type, "ORA", 4) == 0)
        name = "%machine_me_ora";
    curs* pc = find_percent_cursor();
    if (pc == nullptr) return nullptr;
    for (columns* col = pc->insert_columns; col != nullptr; col = col->next) {
        if (strncasecmp(col->col_name, name, sizeof(col->col_name)) == 0) return col;
    }
    return nullptr;
}
