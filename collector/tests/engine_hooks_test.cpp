// The engine's hook set-up leaves no upward call unset.
#include "collector/engine_hooks.h"

#include <gtest/gtest.h>

#include "collector/age_to.h"
#include "collector/bases.h"
#include "collector/math.h"
#include "defs/clause_free.h"
#include "defs/cursor_versions.h"
#include "defs/distrib.h"
#include "model/engine_globals.h"

namespace {

TEST(EngineHooks, NoHookIsNullAfterTheSetUp) {
    quitting_hook = nullptr;
    del_curs_clauses_hook = nullptr;
    del_distributor_hook = nullptr;
    free_sel_piece_hook = nullptr;
    edit_passes = engine_edit_passes{};
    EXPECT_FALSE(engine_hooks_complete());
    install_engine_hooks();
    EXPECT_TRUE(engine_hooks_complete());
    // The clause records of a freed cursor go with it, and so do the distributors.
    EXPECT_EQ(del_curs_clauses_hook, &del_clauses);
    EXPECT_EQ(del_distributor_hook, &distrib_free_all);
    // The clauses the engine binds have their passes; age_to's runs first at start-up.
    EXPECT_EQ(edit_passes.edit_bases, &edit_bases_pass);
    EXPECT_EQ(edit_passes.edit_math, &edit_math_pass);
    EXPECT_EQ(edit_passes.edit_age_to, &edit_age_to_pass);
    EXPECT_EQ(edit_decode(), 0);
    EXPECT_EQ(set_qualifieds(), 0);
}

}  // namespace
