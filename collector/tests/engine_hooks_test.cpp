// The engine's hook set-up leaves no upward call unset.
#include "collector/startup/engine_hooks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "acquire/result_sets.h"
#include "collector/startup/cleanup.h"
#include "collector/transforms/age_to.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/math.h"
#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_free.h"
#include "defs/clause_loads.h"
#include "defs/cursor_file.h"
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
    del_curs_hook = nullptr;
    del_distributor_hook = nullptr;
    free_sel_piece_hook = nullptr;
    edit_passes = engine_edit_passes{};
    engine_runs = engine_run_table{};
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
    // (and the anchor and result set of a fetch exit: ASan reports what would be left)
    curs fx{};
    fx.fetch_exit = static_cast<fetch_ex*>(U_MALLOC(sizeof(fetch_ex)));
    *fx.fetch_exit = fetch_ex{};
    auto* anchor = DBX_init(nullptr, nullptr, nullptr);
    fx.cur_memory = anchor;
    fx.db_data = DB_DATA_init(anchor, nullptr, 1);
    ROW_DATA_init(static_cast<_anchorDBdata*>(fx.db_data));
    fx.iterate = static_cast<iterate*>(U_MALLOC(sizeof(iterate)));
    del_curs_clauses_hook(&fx);
    EXPECT_EQ(fx.cur_memory, nullptr);
    EXPECT_EQ(fx.db_data, nullptr);
    EXPECT_EQ(fx.iterate, nullptr);
    U_FREE(fx.fetch_exit);
    EXPECT_EQ(del_distributor_hook, &distrib_free_all);
    // The clauses the engine binds have their passes; age_to's runs first at start-up.
    EXPECT_EQ(edit_passes.edit_bases, &edit_bases_pass);
    EXPECT_EQ(edit_passes.edit_math, &edit_math_pass);
    EXPECT_EQ(edit_passes.edit_age_to, &edit_age_to_pass);
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

namespace {

// Freeing the cursors takes every IF node with them (the leak check of the test build finds
// what stays behind): those of a block the file ends inside, never edited, which hang from
// the record alone, and those of an IF without ELSE, whose tree root is also a version.
TEST(EngineHooks, FreedCursorsTakeTheirIfNodes) {
    install_engine_hooks();
    curs* saved = cur_anchor;
    cur_anchor = nullptr;
    for (const char* text :
         {"cursor C1;\nif;\n", "cursor C1;\nif A > 1;\nelse;\n",
          "cursor C1;\nif A > 1;\nif B > 2;\nlimit 5;\n", "cursor T;\nif A > 1;\nendif;\nend;\n",
          "cursor T;\nINSERT INTO T1 (A) VALUES (:A);\nif A > 1;\nlimit 5;\nendif;\nend;\n",
          "cursor T;\nINSERT INTO T1 (A) VALUES (:A);\nif A > 1;\nif A > 2;\nlimit 5;\nendif;\n"
          "else;\nlimit 6;\nendif;\nend;\n",
          // sibling IFs: the copies of the first share the chain of the others
          "cursor T;\nINSERT INTO T1 (A) VALUES (:A);\nif A > 1;\nendif;\nif A > 2;\nendif;\n"
          "if A > 3;\nlimit 7;\nendif;\nend;\n",
          "cursor T;\nif A > 1;\nendif;\nif A > 2;\nif A > 3;\nendif;\nif A > 4;\nendif;\n"
          "endif;\nend;\n"}) {
        LogCapture log;
        FILE* f = fmemopen(const_cast<char*>(text), std::strlen(text), "r");
        ASSERT_NE(f, nullptr);
        parse_curs_file(f);
        std::fclose(f);
        ASSERT_NE(cur_anchor, nullptr) << text;
        free_all_cursors();
        EXPECT_EQ(cur_anchor, nullptr) << text;
    }
    // IFs nested deeper than an edited tree may be, in a block the file ends inside.
    std::string deep = "cursor T;\n";
    for (int i = 0; i < 3 * if_stack_size; ++i) deep += "if A > 1;\n";
    LogCapture log;
    FILE* f = fmemopen(deep.data(), deep.size(), "r");
    ASSERT_NE(f, nullptr);
    parse_curs_file(f);
    std::fclose(f);
    ASSERT_NE(cur_anchor, nullptr);
    free_all_cursors();
    EXPECT_EQ(cur_anchor, nullptr);
    cur_anchor = saved;
}

}  // namespace
