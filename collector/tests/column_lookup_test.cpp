// Column references and in-list references.
#include "collector/rows/column_lookup.h"

#include <gtest/gtest.h>

#include <cstring>

#include "collector/rows/percent_cursor.h"
#include "collector/tests/row_test_support.h"
#include "defs/clause_loads.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::column;
using rowtest::parse_one;

class ColumnLookup : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        LogCapture log;
        c = parse_one(block("C1", "A, B") + block("CUR", "X, Y, Z"), "C1");
        ASSERT_NE(c, nullptr);
        cur = curstest::find("CUR");
        ASSERT_EQ(build_percent_cursor(), 0);
    }
    void TearDown() override {
        pcnt_forget();
        std::memset(last_version_update_time, 0, sizeof last_version_update_time);
    }
    curs* c = nullptr;
    curs* cur = nullptr;
};

struct ref_case {
    const char* text;
    int rc;
    const char* column;  // expected name, null when none
    const char* owner;   // expected cursor name; "=" for "left as it was"
    const char* id;      // message expected, null when none
};

TEST_F(ColumnLookup, FindColResolvesEachKindOfReference) {
    const ref_case cases[] = {
        {"B", 0, "B", "=", nullptr},
        {"CUR.3", 0, "Z", "CUR", nullptr},
        {"CUR.0", 0, "X", "CUR", nullptr},
        {"CUR.Y", 0, "Y", "CUR", nullptr},
        {"%ROWNO", 0, "%rowno", "%CURSOR", nullptr},
        {"%nosuch", 1, nullptr, "=", "PDE3950"},
        {"NODOT", 1, nullptr, "=", "PDE3955"},
        {"ABCDEFGHIJKLMNOPQRST.X", 1, nullptr, "=", "PDE3960"},
        {"ABCDEFGHI.X", 1, nullptr, "null", "PDE3965"},
        {"CUR.NOPE", 1, nullptr, "null", nullptr},
    };
    curs sentinel{};
    for (const ref_case& k : cases) {
        SCOPED_TRACE(k.text);
        LogCapture log;
        columns* col = nullptr;
        curs* owner = &sentinel;
        EXPECT_EQ(find_col(c, k.text, &col, &owner), k.rc);
        if (k.column != nullptr) {
            ASSERT_NE(col, nullptr);
            EXPECT_STREQ(col->col_name, k.column);
        }
        if (std::strcmp(k.owner, "=") == 0) {
            EXPECT_EQ(owner, &sentinel);
        } else if (std::strcmp(k.owner, "null") == 0) {
            EXPECT_EQ(owner, nullptr);
        } else {
            ASSERT_NE(owner, nullptr);
            EXPECT_STREQ(owner->cur_name, k.owner);
        }
        if (k.id != nullptr) {
            EXPECT_TRUE(log.has(k.id)) << log.text();
        }
    }
}

TEST_F(ColumnLookup, AMissingColumnIsTracedOnlyAtLevelZero) {
    columns* col = nullptr;
    curs* owner = nullptr;
    {
        LogCapture log;
        EXPECT_EQ(find_col(c, "CUR.NOPE", &col, &owner), 1);
        EXPECT_FALSE(log.has("PDE3970"));
    }
    int16_t saved = my_trace_all[0];
    my_trace_all[0] = 1;
    LogCapture log;
    EXPECT_EQ(find_col(c, "CUR.NOPE", &col, &owner), 1);
    my_trace_all[0] = saved;
    EXPECT_TRUE(log.has("Column (NOPE) not found in text 'CUR.NOPE'")) << log.text();
}

TEST_F(ColumnLookup, AColumnOfAnInactiveVersionIsFound) {
    // CUR's other version holds W; CUR itself (the active copy) does not.
    curs* v2 = curs_new();
    std::memcpy(v2, cur, sizeof *v2);
    v2->insert_columns = nullptr;
    columns* w = columns_new();
    std::strcpy(w->col_name, "W");
    w->col_name_ll = 1;
    v2->insert_columns = w;
    std::strcpy(v2->activation_time, "20261210090000");
    cur->cur_version_list = v2;
    v2->cur_version_list = cur;
    cur->if_tree_place = cur;
    std::strcpy(cur->activation_time, "20261210100000");
    LogCapture log;
    columns* col = nullptr;
    curs* owner = nullptr;
    EXPECT_EQ(find_col(c, "CUR.W", &col, &owner), 0);
    EXPECT_EQ(col, w);
    EXPECT_EQ(owner, v2);
    EXPECT_TRUE(log.has("PDE5000")) << log.text();
    EXPECT_TRUE(log.has("PDE5010")) << log.text();
}

TEST_F(ColumnLookup, ABindingMadeBeforeTheLastReselectionIsKept) {
    std::strcpy(c->activation_time, "20261210090000");
    std::strcpy(cur->activation_time, "20261210090000");
    std::strcpy(last_version_update_time, "20261210100000");
    columns* kept = column(cur, 2);
    columns* col = kept;
    curs* owner = cur;
    // Even a name that no longer resolves keeps the binding.
    EXPECT_EQ(find_col(c, "CUR.GONE", &col, &owner), 0);
    EXPECT_EQ(col, kept);
    EXPECT_EQ(owner, cur);
    // A cursor activated after the re-selection looks again.
    std::strcpy(cur->activation_time, "20261210110000");
    EXPECT_EQ(find_col(c, "CUR.X", &col, &owner), 0);
    EXPECT_EQ(col, column(cur, 1));
}

TEST_F(ColumnLookup, InListReferences) {
    auto* l = static_cast<in_list*>(U_MALLOC(sizeof(in_list)));
    *l = in_list{};
    std::strcpy(l->name, "HOT");
    cur->in_list = l;
    struct list_case {
        const char* ref;
        bool found;
        const char* id;
    };
    const list_case cases[] = {
        {"CUR.HOT", true, nullptr},       {"CURHOT", false, "PIN4500"},
        {"NOSUCH.HOT", false, "PIN4505"}, {"CUR123456.HOT", false, "PIN4505"},
        {"CUR.COLD", false, "PIN4510"},   {"CUR.HOTTER", false, "PIN4510"},
    };
    for (const list_case& k : cases) {
        LogCapture log;
        in_list* got = find_in_list(k.ref);
        EXPECT_EQ(got, k.found ? l : nullptr) << k.ref;
        if (k.id != nullptr) {
            EXPECT_TRUE(log.has(k.id)) << k.ref << log.text();
        }
    }
}

}  // namespace
