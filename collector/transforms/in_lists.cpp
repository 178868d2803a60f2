#include "collector/transforms/in_lists.h"

#include <cstring>
#include <string>
#include <vector>

#include "collector/transforms/in_list_entry.h"
#include "defs/clause_loads.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

// The column name an in-list names, without a qualifier that is its own cursor's name.
std::string own_column(const curs* c, const in_list* l) {
    std::string col(l->column, static_cast<size_t>(l->column_ll));
    const size_t dot = col.find('.');
    if (dot == std::string::npos) return col;
    const std::string qualifier = col.substr(0, dot);
    const size_t name_len = strnlen(c->cur_name, sizeof(c->cur_name));
    if (qualifier.size() == name_len && std::strncmp(qualifier.c_str(), c->cur_name, name_len) == 0)
        return col.substr(dot + 1);
    return std::string();  // another cursor's column: lists are of their own cursor's rows
}

void reset_to_default(in_list* l) {
    if (l->text != nullptr && l->text != default_in_list) U_FREE(l->text);
    l->text = default_in_list;
    l->len = static_cast<int32_t>(std::strlen(default_in_list));
}

}  // namespace

int edit_in_lists_pass() {
    bool failed = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        for (in_list* l = c->in_list; l != nullptr; l = l->next) {
            const std::string col = own_column(c, l);
            l->col_ptr = nullptr;
            for (columns* k = c->insert_columns; k != nullptr && !col.empty(); k = k->next) {
                if (static_cast<size_t>(k->col_name_ll) == col.size() &&
                    std::memcmp(k->col_name, col.data(), col.size()) == 0) {
                    l->col_ptr = k;
                    break;
                }
            }
            if (l->col_ptr == nullptr) {
                PRINT('e', "pin3260",
                      "Referenced column(%.*s) not found for in_list %.50s, Cursor %.9s\n",
                      static_cast<int>(l->column_ll), l->column, l->name, c->cur_name);
                failed = true;
            }
        }
    }
    if (failed) {
        PRINT('e', "pin3270", "In_list editing failed\n");
        return 1;
    }
    PRINT('i', "pin3265", "In_list editing successful\n");
    return 0;
}

int build_in_list(curs* c) {
    for (in_list* l = c->in_list; l != nullptr; l = l->next) {
        reset_to_default(l);
        const columns* col = l->col_ptr;
        if (c->count == 0 || col == nullptr) continue;
        std::string text = "( ";
        std::vector<char> entry;
        bool any = false;
        for (row_data* r = c->first_row; r != nullptr; r = r->next) {
            if (c->samples && r->sampleno != static_cast<decltype(r->sampleno)>(c->sampleno))
                continue;
            if (any) text += " , ";
            any = true;
            char* value = r->text + col->offset;
            const bool numeric = col->orig_type == 2;
            if (!numeric) {
                // A value the source left short ends in NULs: they become blanks in the
                // stored row too, so every reader sees one value.
                for (int i = col->len; i > 0 && (value[i - 1] == ' ' || value[i - 1] == '\0'); --i)
                    value[i - 1] = ' ';
            }
            entry.resize(static_cast<size_t>(in_list_entry_size(col->len)));
            const int n = in_list_entry(entry.data(), value, col->len, numeric);
            text.append(entry.data(), static_cast<size_t>(n));
        }
        // Rows, but none of the current sample: the default stays, as for no rows ("(  )"
        // would not parse in a statement).
        if (!any) continue;
        text += " )";
        l->text = static_cast<char*>(U_MALLOC(text.size() + 1));
        std::memcpy(l->text, text.c_str(), text.size() + 1);
        l->len = static_cast<int32_t>(text.size());
        if (c->trace)
            PRINT('t', "cin3280", "In_list(%.50s(%d)) for %.9s = %.100s\n", l->name, l->len,
                  c->cur_name, l->text);
    }
    return 0;
}
