// Cursors from definition text, read by the real cursor-file parser (the other door of the
// shared builder, testing/cursor_builder.h, whose functions read and fill these cursors as
// well), and the cursor versions. The cursors of earlier parses stay reachable (versions
// are never freed, so a test that parses again sets the previous list aside instead of
// losing it).
#pragma once

#include <string>
#include <vector>

#include "defs/cursor_file.h"
#include "defs/cursor_versions.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/trace.h"
#include "testing/cursor_builder.h"
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

// Parses cursor blocks as a whole cursor file (its closing "end;" added) on a fresh list.
inline int parse_blocks(const std::string& blocks) { return parse(blocks + "end;\n"); }

// Parses the blocks as parse_blocks does; the cursor named name, null when the parse fails.
inline curs* parse_one(const std::string& blocks, const char* name) {
    if (parse_blocks(blocks) != 0) return nullptr;
    return find(name);
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
