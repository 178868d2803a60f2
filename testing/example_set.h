// The bundled example definitions as tests read them: the files from the source tree's
// examples/ and the start-up passes the collector runs over them, in its order.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "collector/rows/virtual_cursors.h"
#include "collector/startup/reference_passes.h"
#include "defs/clause_loads.h"
#include "defs/cursor_file.h"
#include "defs/cursor_versions.h"
#include "model/engine_globals.h"

namespace exampleset {

inline std::filesystem::path examples_dir() {
    return std::filesystem::path(ZOV_SOURCE_DIR) / "examples";
}

// Reads one definition file of the set ("proc", "dict", "coll", ...) with its reader.
inline int read_example(int (*reader)(FILE*), const char* tag) {
    const std::filesystem::path path = examples_dir() / (std::string("zem") + tag + ".ctl");
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    const int rc = reader(f);
    std::fclose(f);
    return rc;
}

// The cursor file, read from examples/ as the current directory: DBSPACE's data set
// file is found there.
inline int read_example_cursors() {
    const std::filesystem::path saved = std::filesystem::current_path();
    std::filesystem::current_path(examples_dir());
    const int rc = read_example(parse_curs_file, "coll");
    std::filesystem::current_path(saved);
    return rc;
}

// The passes that follow the cursor file at start-up, in the collector's order; the
// first that fails is named.
inline ::testing::AssertionResult run_start_up_passes() {
    if (init_virtuals_pass() != 0) return ::testing::AssertionFailure() << "init_virtuals";
    define_vers_chain();
    const std::pair<const char*, int (*)()> passes[] = {
        {"edit_decode", edit_decode},
        {"edit_pre_cursors", edit_pre_cursors_pass},
        {"edit_in_lists", edit_in_lists},
        {"edit_bases", edit_bases},
        {"edit_math", edit_math},
        {"edit_col_exits", edit_col_exits},
        {"edit_iterates", edit_iterates_pass},
        {"edit_iterate_where", edit_iterate_where},
        {"parse_loads", parse_loads},
        {"edit_loads", edit_loads},
        {"set_qualifieds", set_qualifieds},
    };
    for (const auto& [name, pass] : passes)
        if (pass() != 0) return ::testing::AssertionFailure() << name;
    return ::testing::AssertionSuccess();
}

}  // namespace exampleset
