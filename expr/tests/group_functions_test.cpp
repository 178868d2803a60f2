#include "expr/group_functions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "expr/select_mode.h"
#include "expr/tests/expr_test_support.h"
#include "expr/tests/interp_test_support.h"
#include "runtime/platform.h"

namespace {

using expr_test::LogCapture;
using interp_test::CurrentCursor;
using interp_test::Expr;
using interp_test::Result;
using interp_test::TestCursor;

// The texts of a row vector, in order.
std::vector<std::string> row_texts(const TERM_TABLE* result) {
    std::vector<std::string> out;
    for (const TERM_TABLE* e = result ? result->vector : nullptr; e && out.size() < 200;
         e = e->vector)
        out.emplace_back(e->value ? e->value : "<null>");
    return out;
}

// Runs a select list on the cursor's current row in the mode; the row status it leaves.
struct Step {
    int status;
    std::vector<std::string> row;
};

Step run_mode(Expr& list, int mode) {
    set_proc_mode(mode);
    set_row_status(ROW_CONTINUES);
    Result r = list.run();
    Step s{r ? get_row_status() : -1, row_texts(r.get())};
    if (r) {
        EXPECT_EQ(r->term_type, TERM_VECTOR);
        EXPECT_EQ(r->data_type, DT_UNDEFINED);
    }
    return s;
}

using Row = std::vector<std::string>;

// The A, A, B sequence as the internal select drives it: the third row reports a new group
// and is then processed again in mode 1, which restarts the key copy and the sum from it.
TEST(GroupFunctions, KeyAndSumModeByMode) {
    TestCursor t("T", {{"K", 1, 4}, {"V", 2, 6}});
    CurrentCursor cc(t.get());
    Expr list("K, SUM(V), rfa", true);
    ASSERT_TRUE(list.parsed());

    // Each step sets the row's fields that change (null: unchanged) and runs one mode.
    struct {
        const char* key;
        const char* value;
        int mode;
        int status;
        Row row;
    } steps[] = {
        {"A", "1", PROC_FIRST_ROW, ROW_CONTINUES, {"A   ", "1.000000"}},
        {nullptr, "2", PROC_SAME_GROUP, ROW_CONTINUES, {"A   ", "3.000000"}},
        // The group's key is still its first row's; the sum has taken the new row already.
        {"B", "4", PROC_SAME_GROUP, ROW_NEW_GROUP, {"A   ", "7.000000"}},
        {nullptr, nullptr, PROC_NEW_GROUP, ROW_CONTINUES, {"B   ", "4.000000"}},
        {nullptr, "8", PROC_SAME_GROUP, ROW_CONTINUES, {"B   ", "12.000000"}},
    };
    int n = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE("step " + std::to_string(++n));
        if (step.key) t.set("K", step.key);
        if (step.value) t.set("V", step.value);
        Step s = run_mode(list, step.mode);
        EXPECT_EQ(s.status, step.status);
        EXPECT_EQ(s.row, step.row);
    }

    TERM_TABLE* holder = list.term("rfa");
    ASSERT_NE(holder, nullptr);
    EXPECT_EQ(holder->term_type, TERM_VECTOR);
}

TEST(GroupFunctions, KeysThatCompareEqualStayInOneGroup) {
    struct C {
        int16_t orig_type;
        const char* first;
        const char* second;
        int status;
    } cases[] = {
        {2, "1.2", "1.7", ROW_CONTINUES},  // numbers less than 1 apart
        {2, "1.2", "2.2", ROW_NEW_GROUP}, {1, "ab", "ab ", ROW_CONTINUES},
        {1, "ab", "ac", ROW_NEW_GROUP},   {1, "ab", "AB", ROW_NEW_GROUP},
    };
    for (const C& c : cases) {
        TestCursor t("T", {{"K", c.orig_type, 3}});
        CurrentCursor cc(t.get());
        Expr list("K, rfa", true);
        t.set("K", c.first);
        EXPECT_EQ(run_mode(list, PROC_FIRST_ROW).status, ROW_CONTINUES);
        t.set("K", c.second);
        EXPECT_EQ(run_mode(list, PROC_SAME_GROUP).status, c.status) << c.first << "/" << c.second;
    }
}

TEST(GroupFunctions, SumWithoutKeyIsOneGroup) {
    TestCursor t("T", {{"V", 1, 6}});
    CurrentCursor cc(t.get());
    Expr list("SUM(V), rfa", true);
    t.set("V", "5");
    EXPECT_EQ(run_mode(list, PROC_FIRST_ROW).row, Row{"5"});
    for (const char* v : {"7", "123   ", "  1"}) {  // blanks around a number are dropped
        t.set("V", v);
        EXPECT_EQ(run_mode(list, PROC_SAME_GROUP).status, ROW_CONTINUES) << v;
    }
    t.set("V", "2.5");  // the running sum's type (integer) decides
    Step s = run_mode(list, PROC_SAME_GROUP);
    EXPECT_EQ(s.status, ROW_CONTINUES);
    EXPECT_EQ(s.row, Row{"138"});
}

TEST(GroupFunctions, SumOverATextThatIsNoNumberFailsTheEvaluationOnly) {
    TestCursor t("T", {{"V", 1, 6}});
    CurrentCursor cc(t.get());
    Expr list("SUM(V), rfa", true);
    t.set("V", "1");
    EXPECT_EQ(run_mode(list, PROC_FIRST_ROW).status, ROW_CONTINUES);
    LogCapture log;
    t.set("V", "12abc");
    EXPECT_EQ(run_mode(list, PROC_SAME_GROUP).status, -1);
    EXPECT_TRUE(log.has("INT0315")) << log.text();
    EXPECT_TRUE(log.has("Operation SUM failed")) << log.text();
    t.set("V", "xyz");
    EXPECT_EQ(run_mode(list, PROC_FIRST_ROW).status, -1);
}

TEST(GroupFunctions, RepeatedTermsKeepElementsAndSumsOfTheirOwn) {
    TestCursor t("T", {{"a", 1, 2}});
    CurrentCursor cc(t.get());
    Expr list("a, a, SUM(a), SUM(a), rfa", true);
    t.set("a", "1");
    Step s = run_mode(list, PROC_FIRST_ROW);
    EXPECT_EQ(s.row, (Row{"1 ", "1 ", "1", "1"}));
    s = run_mode(list, PROC_SAME_GROUP);
    EXPECT_EQ(s.status, ROW_CONTINUES);
    EXPECT_EQ(s.row, (Row{"1 ", "1 ", "2", "2"}));  // each SUM added the value once
    t.set("a", "2");
    s = run_mode(list, PROC_SAME_GROUP);
    EXPECT_EQ(s.status, ROW_NEW_GROUP);
    s = run_mode(list, PROC_NEW_GROUP);
    EXPECT_EQ(s.row, (Row{"2 ", "2 ", "2", "2"}));
    TERM_TABLE* holder = list.term("rfa");
    ASSERT_NE(holder->vector, nullptr);
    EXPECT_NE(holder->vector, holder->vector->vector);
}

TEST(GroupFunctions, SumOfAComputedValue) {
    TestCursor t("T", {{"V", 2, 4}});
    CurrentCursor cc(t.get());
    Expr list("SUM(V * 2), rfa", true);  // the integer 2 makes the products integers
    t.set("V", "1");
    run_mode(list, PROC_FIRST_ROW);
    t.set("V", "2");
    EXPECT_EQ(run_mode(list, PROC_SAME_GROUP).row, Row{"6"});
    t.set("V", "3");
    EXPECT_EQ(run_mode(list, PROC_SAME_GROUP).row, Row{"12"});
}

TEST(GroupFunctions, ComputedValueIsCopiedAtTheFirstRowOnly) {
    TestCursor t("T", {{"V", 2, 4}});
    CurrentCursor cc(t.get());
    Expr list("V + 1, rfa", true);
    t.set("V", "1");
    EXPECT_EQ(run_mode(list, PROC_FIRST_ROW).row, Row{"2"});
    t.set("V", "5");
    Step s = run_mode(list, PROC_SAME_GROUP);
    EXPECT_EQ(s.status, ROW_CONTINUES);  // no part of the key
    EXPECT_EQ(run_mode(list, PROC_NEW_GROUP).row, Row{"2"});
}

TEST(GroupFunctions, RowTakesTheLast99Values) {
    std::string text;
    for (int i = 0; i < 120; ++i) text += "c" + std::to_string(i) + ", ";
    text += "rfa";
    Expr list(text.c_str(), true);
    ASSERT_TRUE(list.parsed());
    Step s = run_mode(list, PROC_FIRST_ROW);
    ASSERT_EQ(s.row.size(), 99u);
    EXPECT_EQ(s.row.front(), "c21");
    EXPECT_EQ(s.row.back(), "c119");
    EXPECT_EQ(run_mode(list, PROC_SAME_GROUP).status, ROW_CONTINUES);
}

TEST(GroupFunctions, ResultReleasedByTheCallerLeavesTheHoldersRow) {
    TestCursor t("T", {{"K", 1, 2}});
    CurrentCursor cc(t.get());
    Expr list("K, rfa", true);
    t.set("K", "x");
    set_proc_mode(PROC_FIRST_ROW);
    Result r = list.run();
    ASSERT_TRUE(r);
    TERM_TABLE* first = list.term("rfa")->vector;
    EXPECT_EQ(r->vector, first);
    r.reset();  // free_work_chain, mode 0
    EXPECT_EQ(list.term("rfa")->vector, first);
    EXPECT_STREQ(first->value, "x ");
}

TEST(GroupFunctions, UnknownModes) {
    TestCursor t("T", {{"K", 1, 2}});
    CurrentCursor cc(t.get());
    {
        Expr list("K, rfa", true);
        LogCapture log;
        EXPECT_EQ(run_mode(list, 7).status, -1);
        EXPECT_TRUE(log.has("SEL0300")) << log.text();
    }
    {
        Expr list("K, rfa", true);  // a new holder, never in mode 0
        LogCapture log;
        EXPECT_EQ(run_mode(list, PROC_SAME_GROUP).status, -1);
        EXPECT_TRUE(log.has("SEL0150")) << log.text();
    }
}

TEST(GroupFunctionsDeathTest, SumInAnUnknownModeEndsTheProcessWithAFailure) {
    EXPECT_EXIT(
        {
            Expr e("SUM(1)");
            set_proc_mode(9);
            e.run();
        },
        ::testing::ExitedWithCode(1), "SEL0140");
}

TEST(CopyTerm, CopiesTheCurrentValueIntoItsOwnStorage) {
    TestCursor t("T", {{"C", 1, 60}});
    const std::string long_value(58, 'v');
    t.set("C", long_value);
    CurrentCursor cc(t.get());
    Expr e("C = C");
    ASSERT_TRUE(e.run());
    TERM_TABLE* column = e.term("C");
    TERM_TABLE* copy = alloc_term(TERM_NAME, DT_UNDEFINED);
    ASSERT_EQ(copy_term(copy, column), 0);
    EXPECT_EQ(std::string(copy->value), long_value + "  ");  // the value, not the name
    EXPECT_EQ(copy->allocd_value, 1);
    EXPECT_NE(copy->value, column->value);
    EXPECT_EQ(copy->len, 60);
    EXPECT_EQ(copy->data_type, DT_CHAR);
    EXPECT_EQ(copy->vector, nullptr);
    EXPECT_EQ(copy->next, nullptr);
    t.set("C", "other");
    ASSERT_TRUE(e.run());
    EXPECT_EQ(std::string(copy->value), long_value + "  ");
    // A second copy into the same target reuses its buffer when it is long enough.
    char* buffer = copy->value;
    TERM_TABLE* number = alloc_term(TERM_NUMBER, DT_INT);
    std::strcpy(number->name, "42");
    ASSERT_EQ(copy_term(copy, number), 0);
    EXPECT_EQ(copy->value, buffer);
    EXPECT_STREQ(copy->value, "42");
    EXPECT_STREQ(copy->name, "42");
    free_term(copy, 0);
    free_term(number, 0);
}

TEST(CopyTerm, InvalidBuffers) {
    TERM_TABLE* source = alloc_term(TERM_STRING, DT_CHAR);
    std::strcpy(source->name, "abc");
    TERM_TABLE* target = alloc_term(TERM_NAME, DT_UNDEFINED);
    {
        LogCapture log;
        source->allocd_value = 1;  // claims a buffer it has not
        EXPECT_EQ(copy_term(target, source), 1);
        EXPECT_TRUE(log.has("TRM0020")) << log.text();
        source->allocd_value = 0;
    }
    {
        LogCapture log;
        target->allocd_value = 1;  // flagged, but its value is its name
        EXPECT_EQ(copy_term(target, source), 0);
        EXPECT_TRUE(log.has("TRM0023")) << log.text();
        EXPECT_STREQ(target->value, "abc");
        EXPECT_NE(target->value, target->name);
    }
    free_term(source, 0);
    free_term(target, 0);
}

}  // namespace
