#include "model/engine_globals.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/column_lookup.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"

namespace {

TEST(DictParms, FirstMatchWithoutRegardToCase) {
    dict_parms* saved = dict_parms_anchor;
    dict_parms_anchor = nullptr;
    char n1[] = "owner", v1[] = "SYS", n2[] = "RDBMS", v2[] = "SRV1", n3[] = "rdbms", v3[] = "SRV2";
    add_dict_parm(n1, v1);
    add_dict_parm(n2, v2);
    add_dict_parm(n3, v3);
    EXPECT_STREQ(search_dict_parm("OWNER"), "SYS");
    EXPECT_STREQ(search_dict_parm("rdbms"), "SRV1");
    EXPECT_EQ(search_dict_parm("dbhome"), nullptr);
    EXPECT_EQ(search_dict_parm(nullptr), nullptr);
    std::vector<std::string> order;
    for (dict_parms* p = dict_parms_anchor; p != nullptr;) {
        order.emplace_back(p->name);
        dict_parms* n = p->next;
        U_FREE(p);
        p = n;
    }
    EXPECT_EQ(order, (std::vector<std::string>{"owner", "RDBMS", "rdbms"}));
    dict_parms_anchor = saved;
}

// A cursor with columns of the given names, freed with them.
curs* make_cursor(const char* name, std::initializer_list<const char*> cols,
                  const char* activated = "") {
    curs* c = curs_new();
    std::strcpy(c->cur_name, name);
    std::strcpy(c->activation_time, activated);
    columns** tail = &c->insert_columns;
    for (const char* n : cols) {
        columns* col = columns_new();
        std::strcpy(col->col_name, n);
        col->col_name_ll = static_cast<int16_t>(std::strlen(n));
        *tail = col;
        tail = &col->next;
    }
    return c;
}

void free_cursor(curs* c) {
    for (columns* col = c->insert_columns; col != nullptr;) {
        columns* n = col->next;
        U_FREE(col);
        col = n;
    }
    U_FREE(c);
}

// One lookup of a cursor by name for every layer: the whole name, never a prefix; a name
// longer than a cursor name finds none; a 9-byte field needs no NUL of its own.
TEST(FindCursor, TheWholeNameOverNineBytes) {
    curs* saved = cur_anchor;
    curs* zem = curs_new();
    curs* zemv = curs_new();
    curs* twin = curs_new();
    std::strcpy(zem->cur_name, "ZEM");
    std::strcpy(zemv->cur_name, "ZEMV");
    std::strcpy(twin->cur_name, "ZEM");
    zem->next = zemv;
    zemv->next = twin;
    cur_anchor = zem;
    const char field9[9] = {'Z', 'E', 'M', 'V', 'X', 'Y', 'Z', 'W', 'Q'};
    const char ended[9] = {'Z', 'E', 'M', 'V', '\0', 'X', 'Y', 'Z', 'W'};
    struct lookup {
        const char* name;
        curs* want;
    } cases[] = {
        // The first of two of that name; case counts; what follows a NUL does not.
        {"ZEM", zem},       {"ZEMV", zemv},         {"ZE", nullptr}, {"zem", nullptr},
        {"ZEMV ", nullptr}, {"ZEMVVVVVV", nullptr}, {"", nullptr},   {nullptr, nullptr},
        {field9, nullptr},  {ended, zemv},
    };
    for (const lookup& k : cases)
        EXPECT_EQ(find_cursor(k.name), k.want) << (k.name != nullptr ? k.name : "(null)");
    cur_anchor = saved;
    U_FREE(zem);
    U_FREE(zemv);
    U_FREE(twin);
}

TEST(SetColOrdinals, NumbersInListOrder) {
    curs* c = make_cursor("C", {"a", "b", "c"});
    EXPECT_EQ(set_col_ordinals(c), 0);
    std::vector<int> got;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        got.push_back(col->col_no);
    EXPECT_EQ(got, (std::vector<int>{1, 2, 3}));
    free_cursor(c);
}

TEST(SearchCursVersInsert, OwnColumnsByNameAndPosition) {
    curs* c = make_cursor("C", {"a", "bb", "c"});
    columns* col = nullptr;
    curs* owner = nullptr;
    struct k {
        const char* name;
        const char* want;
    } cases[] = {{"bb", "bb"},   {"3", "c"},     {"0", "a"},      {"1", "a"},
                 {"4", nullptr}, {"b", nullptr}, {"BB", nullptr}, {"bbb", nullptr}};
    for (const k& x : cases) {
        int rc = search_curs_vers_insert(c, x.name, &col, &owner);
        if (x.want == nullptr) {
            EXPECT_EQ(rc, 1) << x.name;
            EXPECT_EQ(col, nullptr);
            EXPECT_EQ(owner, nullptr);
        } else {
            EXPECT_EQ(rc, 0) << x.name;
            ASSERT_NE(col, nullptr);
            EXPECT_STREQ(col->col_name, x.want);
            EXPECT_EQ(owner, c);
        }
    }
    free_cursor(c);
}

// A slot holding a copy of version v1, and the ring v1 -> v2 -> v3 -> v1.
struct versions {
    curs* slot;
    curs* v1;
    curs* v2;
    curs* v3;
    versions(const char* t2, const char* t3, std::initializer_list<const char*> c2,
             std::initializer_list<const char*> c3) {
        v1 = make_cursor("V", {"a"}, "20261210100000");
        v2 = make_cursor("V", c2, t2);
        v3 = make_cursor("V", c3, t3);
        v1->cur_version_list = v2;
        v2->cur_version_list = v3;
        v3->cur_version_list = v1;
        slot = make_cursor("V", {"a"}, "20261210100000");
        slot->cur_version_list = v2;
        slot->if_tree_place = v1;
        for (curs* v : {v1, v2, v3}) v->if_tree_place = v;
    }
    ~versions() {
        for (curs* c : {slot, v1, v2, v3}) free_cursor(c);
    }
};

TEST(SearchCursVersInsert, ColumnOnlyInAnInactiveVersion) {
    LogCapture log;
    versions v("20261210090000", "20261210095000", {"x", "y"}, {"y"});
    columns* col = nullptr;
    curs* owner = nullptr;
    // Only v2 holds x.
    EXPECT_EQ(search_curs_vers_insert(v.slot, "x", &col, &owner), 0);
    EXPECT_EQ(owner, v.v2);
    EXPECT_STREQ(col->col_name, "x");
    EXPECT_TRUE(
        log.has("Column x not found in the active version of the cursor V:going "
                "through inactive versions"));
    EXPECT_TRUE(
        log.has("Column x found in alternative version of the cursor V: incorrect "
                "data or abend possible."));
    // v2 and v3 hold y; v3 was activated last.
    EXPECT_EQ(search_curs_vers_insert(v.slot, "y", &col, &owner), 0);
    EXPECT_EQ(owner, v.v3);
    // Own columns come first.
    EXPECT_EQ(search_curs_vers_insert(v.slot, "a", &col, &owner), 0);
    EXPECT_EQ(owner, v.slot);
    // An ordinal counts afresh in each version.
    EXPECT_EQ(search_curs_vers_insert(v.slot, "2", &col, &owner), 0);
    EXPECT_EQ(owner, v.v2);
    EXPECT_STREQ(col->col_name, "y");
    EXPECT_EQ(search_curs_vers_insert(v.slot, "zz", &col, &owner), 1);
    EXPECT_EQ(col, nullptr);
    EXPECT_EQ(owner, nullptr);
}

TEST(SearchCursVersInsert, NeverActivatedVersionsGiveTheFirstHolder) {
    LogCapture log;
    versions v("", "", {"y"}, {"y"});
    v.slot->activation_time[0] = '\0';
    columns* col = nullptr;
    curs* owner = nullptr;
    EXPECT_EQ(search_curs_vers_insert(v.slot, "y", &col, &owner), 0);
    EXPECT_EQ(owner, v.v2);
    EXPECT_FALSE(log.has("not found in the active version"));
    EXPECT_TRUE(log.has("found in alternative version"));
}

TEST(EngineHooks, EditPassesAndDistributorRelease) {
    EXPECT_EQ(edit_decode(), 0);
    EXPECT_EQ(set_qualifieds(), 0);
    const engine_edit_passes saved_passes = edit_passes;
    edit_passes.edit_math = [] { return 1; };
    EXPECT_EQ(edit_math(), 1);
    edit_passes = saved_passes;
    EXPECT_EQ(del_distributor(), 0);  // nothing installed: nothing to call
    int (*saved_release)() = del_distributor_hook;
    static int released = 0;
    del_distributor_hook = [] {
        ++released;
        return 0;
    };
    EXPECT_EQ(del_distributor(), 0);
    EXPECT_EQ(released, 1);
    del_distributor_hook = saved_release;
}

TEST(EngineHooks, WorkBufferIsAllocatedOnce) {
    char* w = engine_alloc_work_buff();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(engine_alloc_work_buff(), w);
}

TEST(DelCurs, FreesOnlyWithTraceLevelSevenAndAlwaysEmptiesTheList) {
    LogCapture log;
    curs* a = make_cursor("A", {"x"});
    curs* b = make_cursor("B", {"y"});
    b->mon_fri_start = static_cast<operate*>(U_MALLOC(sizeof(operate)));
    *b->mon_fri_start = operate{nullptr, 0, 3600};
    b->saturday_start = b->sunday_start = &full_day;
    b->insert = alloc_str("insert");
    a->next = b;
    curs* saved = cur_anchor;
    cur_anchor = a;
    int16_t level = my_trace_all[7];
    my_trace_all[7] = 0;
    del_curs();
    EXPECT_EQ(cur_anchor, nullptr);  // forgotten, not freed
    cur_anchor = a;
    my_trace_all[7] = 1;
    del_curs();  // the sanitizer checks that everything is freed once
    my_trace_all[7] = level;
    EXPECT_EQ(cur_anchor, nullptr);
    EXPECT_TRUE(log.has("del_cur() Freeing storage for cursor:B"));
    EXPECT_EQ(full_day.end_time, 86400);
    cur_anchor = saved;
}

TEST(Quitting, MinusOneReturnsToTheCallerAfterClosingTheLog) {
    FILE* saved = stder;
    stder = std::tmpfile();
    static int hook_code = 0;
    void (*saved_hook)(int) = quitting_hook;
    quitting_hook = [](int code) { hook_code = code; };
    EXPECT_EQ(quitting(-1), 0);
    quitting_hook = saved_hook;
    EXPECT_EQ(hook_code, -1);
    EXPECT_EQ(stder, nullptr);
    stder = saved;
}

TEST(QuittingDeathTest, ARequestedStopEndsWithZeroAFailedStartUpWithOne) {
    EXPECT_EXIT(quitting(0), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(quitting(-1001), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(quitting(-1003), ::testing::ExitedWithCode(1), "");
}

TEST(NoMemDeathTest, EndsWithStatus98) { EXPECT_EXIT(no_mem(), ::testing::ExitedWithCode(98), ""); }

}  // namespace
