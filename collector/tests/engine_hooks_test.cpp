// The engine's hook set-up leaves no upward call unset.
#include "collector/engine_hooks.h"

#include <gtest/gtest.h>

#include "acquire/result_sets.h"
#include "defs/clause_free.h"
#include "defs/clause_loads.h"
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
    // (and the anchor and result set of a fetch exit: ASan reports what would be left)
    curs c{};
    c.fetch_exit = static_cast<fetch_ex*>(U_MALLOC(sizeof(fetch_ex)));
    *c.fetch_exit = fetch_ex{};
    auto* anchor = DBX_init(nullptr, nullptr, nullptr);
    c.cur_memory = anchor;
    c.db_data = DB_DATA_init(anchor, nullptr, 1);
    ROW_DATA_init(static_cast<_anchorDBdata*>(c.db_data));
    c.iterate = static_cast<iterate*>(U_MALLOC(sizeof(iterate)));
    del_curs_clauses_hook(&c);
    EXPECT_EQ(c.cur_memory, nullptr);
    EXPECT_EQ(c.db_data, nullptr);
    EXPECT_EQ(c.iterate, nullptr);
    U_FREE(c.fetch_exit);
    EXPECT_EQ(del_distributor_hook, &distrib_free_all);
    EXPECT_EQ(edit_decode(), 0);
    EXPECT_EQ(set_qualifieds(), 0);
}

}  // namespace
