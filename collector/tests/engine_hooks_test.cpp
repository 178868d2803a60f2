// The engine's hook set-up leaves no upward call unset.
#include "collector/engine_hooks.h"

#include <gtest/gtest.h>

#include <cstring>

#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_free.h"
#include "defs/cursor_versions.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"

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

namespace {

// Freed cursors take their run-time records with them (the leak check of the test build
// finds what stays behind).
TEST(EngineHooks, FreedCursorsTakeDummyTextAndQueuedPostCursors) {
    install_engine_hooks();
    curs* saved = cur_anchor;
    int16_t level = my_trace_all[7];
    my_trace_all[7] = 1;
    curs* c = curs_new();
    std::strcpy(c->cur_name, "GONE");
    c->dummy_text = static_cast<char*>(U_MALLOC(8));
    auto* e = static_cast<curslist*>(U_MALLOC(sizeof(curslist)));
    *e = curslist{nullptr, c, 1};
    c->curslist = e;
    cur_anchor = c;
    LogCapture log;
    del_curs();
    my_trace_all[7] = level;
    EXPECT_EQ(cur_anchor, nullptr);
    EXPECT_TRUE(log.has("GONE"));
    cur_anchor = saved;
}

}  // namespace
