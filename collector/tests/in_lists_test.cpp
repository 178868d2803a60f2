// In-lists: the column binding at start-up and the list text built from a cursor's rows.
#include "collector/transforms/in_lists.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "defs/clause_loads.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"

namespace {

// An in-list on `owner` named `name`, the column as written in the definition.
in_list* add_list(curs* owner, const char* name, const char* column) {
    auto* l = static_cast<in_list*>(U_MALLOC(sizeof(in_list)));
    std::memset(static_cast<void*>(l), 0, sizeof(in_list));
    std::strncpy(l->name, name, sizeof l->name - 1);
    std::strncpy(l->column, column, sizeof l->column - 1);
    l->column_ll = static_cast<int16_t>(std::strlen(column));
    l->text = default_in_list;
    l->len = 9;
    in_list** at = &owner->in_list;
    while (*at) at = &(*at)->next;
    *at = l;
    return l;
}

void free_lists(curs* c) {
    for (in_list* l = c->in_list; l;) {
        in_list* next = l->next;
        if (l->text != default_in_list) U_FREE(l->text);
        U_FREE(l);
        l = next;
    }
    c->in_list = nullptr;
}

struct ListFixture : ::testing::Test {
    curs* saved = cur_anchor;  // other tests' cursors stay out of this one's passes
    bool cleared = (cur_anchor = nullptr, true);
    cursortest::cursor db{"DBLIST", {{"DBID", 4, 2}, {"NAME", 8, 1}}};
    ~ListFixture() override {
        free_lists(db.get());
        cur_anchor = saved;
    }
    std::string text(const in_list* l) { return std::string(l->text, static_cast<size_t>(l->len)); }
};

TEST_F(ListFixture, BindsABareOrSelfQualifiedColumnAndRefusesOthers) {
    in_list* bare = add_list(db.get(), "IDS", "DBID");
    in_list* qualified = add_list(db.get(), "NAMES", "DBLIST.NAME");
    EXPECT_EQ(edit_in_lists_pass(), 0);
    EXPECT_STREQ(bare->col_ptr->col_name, "DBID");
    EXPECT_STREQ(qualified->col_ptr->col_name, "NAME");

    // Another cursor's column, or no such column: start-up stops.
    for (const char* column : {"PROCS.NAME", "NOSUCH"}) {
        in_list* l = add_list(db.get(), "BAD", column);
        LogCapture log;
        EXPECT_EQ(edit_in_lists_pass(), 1) << column;
        EXPECT_TRUE(log.has("PIN3260")) << log.text();
        EXPECT_TRUE(log.has("PIN3270")) << log.text();
        EXPECT_EQ(l->col_ptr, nullptr);
        free_lists(db.get());
        bare = add_list(db.get(), "IDS", "DBID");
    }
}

TEST_F(ListFixture, CharacterAndNumericEntriesInRowOrder) {
    in_list* names = add_list(db.get(), "NAMES", "NAME");
    in_list* ids = add_list(db.get(), "IDS", "DBID");
    ASSERT_EQ(edit_in_lists_pass(), 0);
    db.add({"7", "ABC"});
    db.add({"12", "D"});
    db.add({"1", ""});
    db.add({"2", "it's"});
    // A value the source left short: NULs behind it become blanks in the row as well.
    std::memcpy(db.get()->last_row->text + names->col_ptr->offset, "it's\0\0\0\0", 8);
    EXPECT_EQ(build_in_list(db.get()), 0);
    EXPECT_EQ(text(names), "( 'ABC' , 'D' , ' ' , 'it''s' )");
    EXPECT_EQ(text(ids), "( 7    , 12   , 1    , 2    )");
    EXPECT_EQ(std::string(db.get()->last_row->text + names->col_ptr->offset, 8), "it's    ");

    // Rebuilt after the next run; no rows: the default again.
    db.clear_rows();
    EXPECT_EQ(build_in_list(db.get()), 0);
    EXPECT_EQ(names->text, default_in_list);
    EXPECT_EQ(text(ids), "( 'ZIP' )");
}

TEST_F(ListFixture, SamplesKeepOnlyTheCurrentOnesAndNoneLeavesTheDefault) {
    in_list* names = add_list(db.get(), "NAMES", "NAME");
    ASSERT_EQ(edit_in_lists_pass(), 0);
    curs* c = db.get();
    c->samples = 1;
    c->sampleno = 5;
    db.add({"1", "OLD"});
    c->last_row->sampleno = 4;
    db.add({"2", "NEW1"});
    c->last_row->sampleno = 5;
    db.add({"3", "NEW2"});
    c->last_row->sampleno = 5;
    build_in_list(c);
    EXPECT_EQ(text(names), "( 'NEW1' , 'NEW2' )");

    c->sampleno = 6;  // rows, but none of the current sample
    build_in_list(c);
    EXPECT_EQ(names->text, default_in_list);
}

}  // namespace
