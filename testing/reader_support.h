// Test aids of the collector engine: a dictionary and a cursor list read from small
// definition texts by the real readers, and row access by column name.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "defs/cursor_file.h"
#include "defs/dictionary.h"
#include "defs/dictionary_file.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "testing/cursor_test_support.h"
#include "testing/def_file_support.h"

namespace enginetest {

// Reads a dictionary text, one statement per line ("; " ends a line), onto a fresh
// dict_anchor (earlier lists stay reachable).
inline int read_dict(const std::string& text) {
    static std::vector<dictionary*>* kept = new std::vector<dictionary*>;
    if (dict_anchor != nullptr) kept->push_back(dict_anchor);
    dict_anchor = nullptr;
    return deftest::parse_lines(parse_dict_file, text);
}

// Reads cursor blocks (the file's closing "end;" is added) onto a fresh cur_anchor.
inline int read_cursors(const std::string& blocks) { return curstest::parse(blocks + "end;\n"); }

inline curs* cursor(const char* name) { return curstest::find(name); }

inline columns* column(curs* c, const char* name) {
    for (columns* k = c->insert_columns; k != nullptr; k = k->next)
        if (std::string(k->col_name) == name) return k;
    return nullptr;
}

// The column's len bytes in the row.
inline std::string value(const row_data* r, const columns* k) {
    return std::string(r->text + k->offset, static_cast<size_t>(k->len));
}

}  // namespace enginetest
