// Test aids for the cursor file and the cursor versions: parsing a cursor file text, and
// keeping the cursors of earlier parses reachable (versions are never freed, so a test that
// parses again sets the previous list aside instead of losing it).
#pragma once

#include <string>
#include <vector>

#include "defs/cursor_file.h"
#include "defs/cursor_versions.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/trace.h"
#include "testing/def_file_support.h"
#include "testing/log_capture.h"

namespace curstest {

// Sets the list of the last parse aside (still reachable) and empties cur_anchor.
inline void set_aside() {
    static std::vector<curs*>* kept = new std::vector<curs*>;
    if (cur_anchor != nullptr) kept->push_back(cur_anchor);
    cur_anchor = nullptr;
    trace_all = 0;
    trace_something = 0;
}

// Parses the text as a cursor file on a fresh list; the result of parse_curs_file.
inline int parse(const std::string& text) {
    set_aside();
    return deftest::parse_text(parse_curs_file, text);
}

inline curs* find(const char* name) {
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        if (std::string(c->cur_name) == name) return c;
    return nullptr;
}

// The versions of a slot in ring order, starting at the version the slot holds.
inline std::vector<curs*> versions(curs* slot) {
    std::vector<curs*> out;
    curs* start = slot->if_tree_place;
    curs* v = start;
    do {
        out.push_back(v);
        v = v->cur_version_list;
    } while (v != start && out.size() < 1000);
    return out;
}

// A minimal valid block body: an insert with two host variables.
inline const char* body() { return "INSERT INTO T1 (A, B) VALUES (:A, :B);\n"; }

}  // namespace curstest
