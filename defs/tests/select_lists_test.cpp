#include "defs/select_lists.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/strings.h"
#include "testing/case_names.h"
#include "testing/clause_fixture.h"
#include "testing/log_capture.h"

namespace {

// The column names in order.
std::vector<std::string> names(const curs* c) {
    std::vector<std::string> out;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        out.emplace_back(col->col_name, static_cast<size_t>(col->col_name_ll));
    return out;
}

struct prefix_case {
    const char* word;
    const char* name;
    int convert;
    int function;
    int occurance;
    int caret;
    int qualified;
    int has_col_funct;
    int has_min_max;
};

class AddColumnPrefixes : public ::testing::TestWithParam<prefix_case> {};

TEST_P(AddColumnPrefixes, DecodeTheWord) {
    const prefix_case& k = GetParam();
    test_cursor f;
    EXPECT_EQ(add_column(k.word, f.c), 0);
    columns* col = f.c->insert_columns;
    ASSERT_NE(col, nullptr);
    EXPECT_STREQ(col->col_name, k.name) << k.word;
    EXPECT_EQ(col->col_name_ll, static_cast<int16_t>(std::strlen(k.name)));
    EXPECT_EQ(col->convert, k.convert) << k.word;
    EXPECT_EQ(col->col_function, k.function) << k.word;
    EXPECT_EQ(col->occurance, k.occurance) << k.word;
    EXPECT_EQ(col->caret_ll, k.caret) << k.word;
    EXPECT_EQ(col->qualified, k.qualified) << k.word;
    EXPECT_EQ(f.c->has_col_funct, k.has_col_funct) << k.word;
    EXPECT_EQ(f.c->has_min_max, k.has_min_max) << k.word;
}

INSTANTIATE_TEST_SUITE_P(Prefixes, AddColumnPrefixes,
                         ::testing::Values(prefix_case{"cpu", "cpu", 0, 0, 0, 0, 0, 0, 0},
                                           prefix_case{"INT!cpu", "cpu", 1, 0, 0, 0, 0, 0, 0},
                                           prefix_case{"float!x", "x", 2, 0, 0, 0, 0, 0, 0},
                                           prefix_case{"TS!when", "when", 3, 0, 0, 0, 0, 0, 0},
                                           prefix_case{"ns!hide", "hide", 4, 0, 0, 0, 0, 0, 0},
                                           prefix_case{"Int!cpu", "Int!cpu", 0, 0, 0, 0, 0, 0, 0},
                                           prefix_case{"SUM!cpu", "cpu", 0, 6, 0, 0, 0, 1, 0},
                                           prefix_case{"MAX!x", "x", 0, 2, 0, 0, 0, 1, 1},
                                           prefix_case{"min!x", "x", 0, 1, 0, 0, 0, 1, 1},
                                           prefix_case{"AVG!x", "x", 0, 3, 0, 0, 0, 1, 0},
                                           prefix_case{"wavg!x", "x", 0, 4, 0, 0, 0, 1, 0},
                                           prefix_case{"TREND!x", "x", 0, 5, 0, 0, 0, 1, 0},
                                           prefix_case{"COUNT!x", "x", 0, 9, 0, 0, 0, 1, 0},
                                           prefix_case{"HW!x", "x", 0, 7, 0, 0, 0, 0, 0},
                                           prefix_case{"lw!x", "x", 0, 8, 0, 0, 0, 0, 0},
                                           prefix_case{"INT!SUM!col", "col", 1, 6, 0, 0, 0, 1, 0},
                                           prefix_case{"SUM!INT!col", "col", 1, 6, 0, 0, 0, 1, 0},
                                           prefix_case{"2col", "2col", 0, 0, 2, 0, 0, 0, 0},
                                           prefix_case{"0col", "0col", 0, 0, 1, 0, 0, 0, 0},
                                           prefix_case{"val^3", "val", 0, 0, 0, 3, 0, 0, 0},
                                           prefix_case{"INT!val^12", "val", 1, 0, 0, 12, 0, 0, 0},
                                           prefix_case{"cur.col", "cur.col", 0, 0, 0, 0, 1, 0, 0},
                                           prefix_case{"%rowno", "%rowno", 0, 0, 0, 0, 0, 0, 0}),
                         case_names(&prefix_case::name));

TEST(AddColumn, CutsLongNamesWithAWarningAndAppendsInOrder) {
    LogCapture log;
    std::string sixty(60, 'n');
    test_cursor f("CUR", {"first", sixty.c_str(), "last"});
    EXPECT_EQ(names(f.c), (std::vector<std::string>{"first", std::string(49, 'n'), "last"}));
    EXPECT_TRUE(log.has("Warning, truncating col_name " + sixty));
    std::string forty_nine(49, 'k');
    LogCapture quiet;
    add_column(forty_nine.c_str(), f.c);
    EXPECT_FALSE(quiet.has("truncating"));
}

TEST(CompactInsert, RewritesValuesAndReadsTheColumnList) {
    test_cursor f("CUR", {"x", "y", "z"});
    f.c->insert = alloc_str("INSERT INTO t (a, b,c) VALUES (:x, :y, :z)    ");
    ASSERT_EQ(compact_insert(f.c, static_cast<int32_t>(std::strlen(f.c->insert))), 0);
    EXPECT_STREQ(f.c->insert, "INSERT INTO t (a, b,c) VALUES (?,?,?)");
    EXPECT_EQ(f.c->num_cols, 3);
    std::vector<std::string> hc;
    for (host_cols* h = f.c->host_cols; h != nullptr; h = h->next) hc.emplace_back(h->col_name);
    EXPECT_EQ(hc, (std::vector<std::string>{"a", "b", "c"}));
}

TEST(CompactInsert, MarkersMayOutgrowTheValuesList) {
    test_cursor f("CUR", {"a", "b", "c", "d", "e", "f"});
    f.c->insert = alloc_str("insert into t values (:a) trailing");
    ASSERT_EQ(compact_insert(f.c, static_cast<int32_t>(std::strlen(f.c->insert))), 0);
    EXPECT_STREQ(f.c->insert, "insert into t values (?,?,?,?,?,?)");
    // Without a column list the markers are read as the names.
    EXPECT_EQ(f.c->num_cols, 6);
    EXPECT_STREQ(f.c->host_cols->col_name, "?");
}

TEST(CompactInsert, Failures) {
    LogCapture log;
    {
        test_cursor f;
        f.c->insert = alloc_str("insert into t (a) values (1)");
        EXPECT_EQ(compact_insert(f.c, 28), 1);
        EXPECT_TRUE(log.has("No host variables in INSERT"));
    }
    {
        test_cursor f("CUR", {"a"});
        f.c->insert = alloc_str("insert into t values :a)");
        EXPECT_EQ(compact_insert(f.c, 24), 1);
        EXPECT_TRUE(log.has("Insert parentheses dont match-up"));
    }
    {
        test_cursor f("CUR", {"a"});
        f.c->insert = alloc_str("(a) no list");
        EXPECT_EQ(compact_insert(f.c, 11), 1);  // the only "(" is the first character
    }
    {
        test_cursor f("CUR", {"a"});
        std::string name(45, 'q');
        f.c->insert = alloc_str(("insert into t (" + name + ") values (:a)").c_str());
        EXPECT_EQ(compact_insert(f.c, static_cast<int32_t>(std::strlen(f.c->insert))), 1);
        EXPECT_TRUE(log.has("Column name too long in INSERT"));
    }
}

std::string select_text(const curs* c) {
    return std::string(c->insert_select->text, static_cast<size_t>(c->insert_select->len - 1));
}

TEST(SetSelects, ComposesTheSelectList) {
    test_cursor f("CUR", {"a", "b", "a", "%rowno", "%sqlcode_x", "%other", "SUM!c"});
    f.c->table_name = alloc_str("sysprocesses");
    ASSERT_EQ(set_selects(f.c), 0);
    EXPECT_EQ(select_text(f.c), "SELECT a,b,%other,c FROM sysprocesses");
    EXPECT_EQ(f.c->insert_select->len, 38);
    // The text runs past the record's declared array; read it as the bytes it is.
    const char* text = f.c->insert_select->text;
    EXPECT_EQ(std::string_view(text, 39).substr(37), std::string_view("\0\0", 2));
}

TEST(SetSelects, WhereAndRawSelect) {
    test_cursor f("CUR", {"a"});
    f.c->table_name = alloc_str("t");
    f.c->insert_where = alloc_str("a > 1");
    ASSERT_EQ(set_selects(f.c), 0);
    EXPECT_EQ(select_text(f.c), "SELECT a FROM t WHERE a > 1");

    test_cursor g("CUR", {"%rowno"});
    g.c->raw_insert_select = alloc_str("select count(*) from x");
    ASSERT_EQ(set_selects(g.c), 0);
    EXPECT_EQ(select_text(g.c), "select count(*) from x");
}

TEST(SetSelects, OnlyCollectorVariablesLeaveNothingToFetch) {
    LogCapture log;
    test_cursor f("CUR", {"%rowno", "%now_time", "%ME", "%SQLCODE_1"});
    f.c->table_name = alloc_str("t");
    EXPECT_EQ(set_selects(f.c), 1);
    EXPECT_EQ(select_text(f.c), "SELECT FROM t");
    EXPECT_TRUE(log.has("Error - No columns to fetch"));
}

TEST(SetSelects, RefusesATextLongerThanTheWorkArea) {
    LogCapture log;
    test_cursor f;
    std::string name(45, 'c');
    for (int i = 0; i < 300; ++i) {
        std::string w = name + std::to_string(i);
        add_column(w.c_str(), f.c);
    }
    f.c->table_name = alloc_str("t");
    EXPECT_EQ(set_selects(f.c), 1);
    EXPECT_EQ(f.c->insert_select, nullptr);
}

TEST(SetOperate, AppendsWindowsAndRunsPastMidnight) {
    operate* chain = nullptr;
    set_operate(&chain, 28800, 43200);
    set_operate(&chain, 79200, 7200);
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(chain->start_time, 28800);
    EXPECT_EQ(chain->end_time, 43200);
    ASSERT_NE(chain->next, nullptr);
    EXPECT_EQ(chain->next->start_time, 79200);
    EXPECT_EQ(chain->next->end_time, 93600);
    EXPECT_EQ(chain->next->next, nullptr);
    U_FREE(chain->next);
    U_FREE(chain);

    operate* shared = &full_day;
    set_operate(&shared, 0, 3600);
    EXPECT_NE(shared, &full_day);
    EXPECT_EQ(full_day.next, nullptr);
    U_FREE(shared);
}

TEST(PadBlanks, PadsToWidthWithoutTerminating) {
    char text[10] = "abc";
    EXPECT_EQ(pad_blanks(text, 8), 5);
    EXPECT_EQ(std::string(text, 8), "abc     ");
    char same[10] = "abc";
    EXPECT_EQ(pad_blanks(same, 2), 0);
    EXPECT_STREQ(same, "abc");
}

}  // namespace
