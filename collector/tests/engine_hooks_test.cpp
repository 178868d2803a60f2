// The engine's hook set-up leaves no upward call unset.
#include "collector/engine_hooks.h"

#include <gtest/gtest.h>

#include "defs/clause_exits.h"
#include "defs/clause_free.h"
#include "defs/cursor_versions.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"

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
    curs* c = curs_new();
    c->set_len = static_cast<set_len*>(U_MALLOC(sizeof(set_len)));
    *c->set_len = set_len{};
    del_curs_clauses_hook(c);
    EXPECT_EQ(c->set_len, nullptr);
    U_FREE(c);
    EXPECT_EQ(del_distributor_hook, &distrib_free_all);
    EXPECT_EQ(edit_decode(), 0);
    EXPECT_EQ(set_qualifieds(), 0);
}

}  // namespace
