// Test aids of the collector engine: a dictionary read from a small definition text by the
// real reader; cursor lists and row access come from the shared builder.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "defs/cursor_file.h"
#include "defs/dictionary.h"
#include "defs/dictionary_file.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "testing/cursor_builder.h"
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
inline int read_cursors(const std::string& blocks) { return curstest::parse_blocks(blocks); }

inline curs* cursor(const char* name) { return curstest::find(name); }

using cursortest::column;
// The column's len bytes in the row.
using cursortest::value;

}  // namespace enginetest
