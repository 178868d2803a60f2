#include "expr/interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "expr/select_mode.h"
#include "expr/term_value.h"
#include "expr/tests/expr_test_support.h"
#include "expr/tests/interp_test_support.h"

namespace {

int reuse_count() {
    int n = 0;
    for (TERM_TABLE* t = reuse_term_store; t; t = t->next) ++n;
    return n;
}

using expr_test::LogCapture;
using interp_test::CurrentCursor;
using interp_test::eval;
using interp_test::Expr;
using interp_test::Result;
using interp_test::TestCursor;
using interp_test::TraceLevel;

TEST(Binding, PlainNameFollowsTheCurrentCursorsColumnFromRowToRow) {
    TestCursor t("T", {{"A", 2, 6}, {"B", 1, 6}});
    CurrentCursor cc(t.get());
    Expr e("A = 1");
    struct Row {
        const char* a;
        const char* want;
    } rows[] = {{"1.4", "1"}, {"2.0", "0"}, {"  0.6 ", "1"}, {"", "0"}, {"1", "1"}};
    for (const Row& row : rows) {
        t.set("A", row.a);
        Result r = e.run();
        ASSERT_TRUE(r) << row.a;
        EXPECT_EQ(r.text(), row.want) << row.a;
    }
    TERM_TABLE* a = e.term("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->term_type, TERM_COLUMN);
    EXPECT_STREQ(a->cursor_name, "T");
    EXPECT_EQ(a->data_type, DT_DOUBLE);
    // The value text is the term's own copy of the field, never the row text itself.
    EXPECT_EQ(a->allocd_value, 1);
    EXPECT_NE(a->value, t.column("A")->from);
}

TEST(Binding, CharacterColumnIsConvertedAfreshAtEveryEvaluation) {
    TestCursor t("T", {{"B", 1, 4}});
    CurrentCursor cc(t.get());
    Expr e("B = 12");
    t.set("B", "  12");
    EXPECT_EQ(e.run().text(), "1");
    t.set("B", "  13");
    EXPECT_EQ(e.run().text(), "0");
    t.set("B", "  12");
    EXPECT_EQ(e.run().text(), "1");
    LogCapture log;
    t.set("B", "12ab");
    EXPECT_FALSE(e.run());
    EXPECT_TRUE(log.has("INT0190")) << log.text();
}

TEST(Binding, QualifiedColumnOfANamedCursor) {
    TestCursor t("T", {{"B", 1, 3}});
    TestCursor u("U", {{"B", 1, 3}});
    t.set("B", "tt");
    u.set("B", "uu");
    CurrentCursor cc(t.get());
    EXPECT_EQ(eval("U.B = 'uu'").value_or("<none>"), "1");
    EXPECT_EQ(eval("B = 'tt' AND U.B = 'uu'").value_or("<none>"), "1");
    Expr e("U.B = 'uu'");
    EXPECT_EQ(e.run().text(), "1");
    u.set("B", "vv");
    EXPECT_EQ(e.run().text(), "0");
}

TEST(Binding, UnknownCursorOrColumn) {
    TestCursor t("T", {{"B", 1, 3}});
    {
        LogCapture log;
        EXPECT_FALSE(eval("Q.B = 1"));
        EXPECT_TRUE(log.has("INT0500E")) << log.text();
        EXPECT_TRUE(log.has("Cursor Q not found for column B")) << log.text();
        EXPECT_TRUE(log.has("INT0052")) << log.text();
    }
    {
        TraceLevel level0(0);  // "Int0510" is a trace of level 0
        LogCapture log;
        EXPECT_FALSE(eval("T.ZZ = 1"));
        EXPECT_TRUE(log.has("Column ZZ not found for cursor T")) << log.text();
    }
}

TEST(Binding, PercentVariableIsReadAtEveryEvaluation) {
    TestCursor pc("%CURSOR", {{"%rowno", 2, 5}, {"%me", 1, 8}});
    pc.set("%rowno", "5");
    pc.set("%me", "node1");
    Expr e("%ROWNO = 5 AND %me = 'node1'");  // names are matched without regard to case
    EXPECT_EQ(e.run().text(), "1");
    pc.set("%rowno", "6");
    EXPECT_EQ(e.run().text(), "0");
    LogCapture log;
    EXPECT_FALSE(eval("%nothere = 1"));
    EXPECT_TRUE(log.has("INT0520")) << log.text();
}

TEST(Binding, UnknownNameBecomesAWorkVariable) {
    TestCursor t("T", {{"B", 1, 3}});
    CurrentCursor cc(t.get());
    TraceLevel level8(8);
    LogCapture log;
    Expr e("zz = 'zz'");
    Result r = e.run();
    ASSERT_TRUE(r);
    EXPECT_EQ(r.text(), "1");  // a variable never assigned has its own name as its text
    TERM_TABLE* zz = e.term("zz");
    EXPECT_EQ(zz->term_type, TERM_NAME);
    EXPECT_EQ(zz->data_type, DT_CHAR);
    EXPECT_EQ(zz->value_ref, term_value_ref_final());
    EXPECT_TRUE(log.has("zz in cursor T assumed a working variable name")) << log.text();
}

TEST(Binding, WithoutCurrentCursorANameIsAVariable) {
    EXPECT_EQ(eval("B = 'B'").value_or("<none>"), "1");
}

TEST(Binding, EditTermTableBindsAllAndStopsAtTheFirstFailure) {
    TestCursor t("T", {{"B", 1, 3}});
    t.set("B", "xy");
    CurrentCursor cc(t.get());
    {
        Expr e("B = 'xy' AND v = 5 AND 1.5 > 1");
        ASSERT_EQ(edit_term_table(e.anchor()), 0);
        for (TERM_TABLE* term = e.anchor(); term; term = term->next) {
            EXPECT_NE(term->value_ref, nullptr) << term->name;
            EXPECT_NE(term->value, nullptr) << term->name;
        }
        EXPECT_STREQ(e.term("B")->value, "xy ");
        EXPECT_EQ(e.term("1.5")->num_type, 3);
        EXPECT_EQ(e.term("5")->int_val, 5);
    }
    {
        LogCapture log;
        Expr e("X.B = 1 AND w = 2");
        EXPECT_EQ(edit_term_table(e.anchor()), 1);
        EXPECT_EQ(e.term("w")->value_ref, nullptr);  // the walk stopped before it
    }
}

TEST(Binding, ColumnWithoutValueCannotBeEvaluatedAtAnyTraceLevel) {
    TestCursor pc("%CURSOR", {{"%parm0", 1, 8}});
    pc.column("%parm0")->from = nullptr;
    for (int level : {-1, 8}) {
        TraceLevel trace(level);
        LogCapture log;
        EXPECT_FALSE(eval("%parm0 = 'a'")) << level;
        EXPECT_EQ(log.has("INT0090"), level == 8) << log.text();
    }
}

TEST(Gathering, NearestPrecedingUnusedValuesAreTaken) {
    set_proc_mode(PROC_FIRST_ROW);
    // SUM takes b only; a stays unused and the result is SUM's.
    EXPECT_EQ(eval("SUM(1, 2)").value_or("<none>"), "2");
    EXPECT_EQ(eval("func2(1, 2) * 3").value_or("<none>"), "9");
    LogCapture log;
    EXPECT_FALSE(eval("func2(7)"));
    EXPECT_TRUE(log.has("INT0056")) << log.text();
    EXPECT_TRUE(log.has("function func2 should have 2 arguments")) << log.text();
}

TEST(Gathering, ArraysWithoutOperation) {
    LogCapture log;
    EXPECT_FALSE(eval("a"));
    EXPECT_FALSE(eval("'text'"));
    EXPECT_FALSE(eval(""));
    EXPECT_EQ(log.text(), "");
}

TEST(Gathering, TraceLevel8ChecksAndTracesArguments) {
    TraceLevel level8(8);
    LogCapture log;
    EXPECT_EQ(eval("'abc' = 'abc'").value_or("<none>"), "1");
    EXPECT_TRUE(log.has("variable abc value is abc")) << log.text();
}

TEST(Interpreter, RowWithoutRoutineAndInvalidLexeme) {
    expr_test::TermTableScope table;
    TERM_TABLE* a = find_name_entry("a", 1);
    {
        LogCapture log;
        LEXEME rpn[] = {a, to_lexeme(&OperationTable[OPER_CLOSE_PAREN]), nullptr};
        EXPECT_EQ(interpreter(rpn), nullptr);
        EXPECT_TRUE(log.has("INT0125")) << log.text();
        EXPECT_TRUE(log.has("Procedure to perform operation ) not defined")) << log.text();
        EXPECT_TRUE(log.has("INT0030")) << log.text();
    }
    {
        LogCapture log;
        int32_t strange = 9;
        LEXEME rpn[] = {a, a, &strange, nullptr};
        EXPECT_EQ(interpreter(rpn), nullptr);
        EXPECT_TRUE(log.has("INT0040")) << log.text();
    }
    EXPECT_EQ(interpreter(nullptr), nullptr);
}

TEST(Interpreter, WorkTermsAreReusedAndTheResultIsDetached) {
    Expr e("1 + 2 + 3 + 4");
    Result first = e.run();
    ASSERT_TRUE(first);
    EXPECT_EQ(first.text(), "10");
    EXPECT_EQ(first->next, nullptr);
    EXPECT_EQ(first->work_flag, 1);
    // The intermediate work terms wait on the reuse list with their buffers; a caller that
    // gives its results back for reuse too runs in steady state without allocating.
    ASSERT_NE(reuse_term_store, nullptr);
    EXPECT_EQ(reuse_term_store->allocd_value, 1);
    std::vector<int> counts;
    for (int i = 0; i < 3; ++i) {
        Result again = e.run();
        EXPECT_EQ(again.text(), "10");
        TERM_TABLE* t = again.get();
        free_work_chain(&t, nullptr, 1);
        (void)again.release();
        counts.push_back(reuse_count());
    }
    EXPECT_EQ(counts[1], counts[0]);
    EXPECT_EQ(counts[2], counts[0]);
}

TEST(Interpreter, FailedEvaluationReleasesItsWorkTerms) {
    Expr e("(1 + 2) / (3 - 3)");
    LogCapture log;
    const int before = reuse_count();
    EXPECT_FALSE(e.run());
    // The three work terms of the evaluation are back on the reuse list.
    EXPECT_EQ(reuse_count(), std::max(before, 3));
}

TEST(FreeWorkChain, KeepsOneTermAndWarnsOnAnEmptyChain) {
    TERM_TABLE* chain = nullptr;
    TERM_TABLE* a = alloc_work_var(&chain);
    TERM_TABLE* b = alloc_work_var(&chain);
    TERM_TABLE* c = alloc_work_var(&chain);
    EXPECT_EQ(chain, c);
    free_work_chain(&chain, b, 0);
    EXPECT_EQ(chain, nullptr);
    EXPECT_EQ(b->next, nullptr);
    (void)a;
    LogCapture log;
    free_work_chain(&chain, b, 0);
    EXPECT_TRUE(log.has("INT0070")) << log.text();
    TERM_TABLE* head = b;
    free_work_chain(&head, nullptr, 0);
    EXPECT_EQ(head, nullptr);
}

TEST(TermValue, TextToNumber) {
    struct C {
        const char* text;
        int32_t type;
        double value;
    } cases[] = {
        {"12", 2, 12},     {" 12", 2, 12},         {"12 ", 0, 0},    {"", 2, 0},      {"-7", 2, -7},
        {"1.25", 3, 1.25}, {"3000000000", 3, 3e9}, {"1e3", 3, 1000}, {"12abc", 0, 0}, {"inf", 0, 0},
        {"nan", 0, 0},     {"1e999", 0, 0},        {"abc", 0, 0},    {".5", 3, 0.5},
    };
    for (const C& c : cases) {
        int32_t i = -1;
        double d = -1;
        int32_t type = text_to_number(c.text, std::strlen(c.text), &i, &d);
        EXPECT_EQ(type, c.type) << c.text;
        if (type == 2) {
            EXPECT_EQ(i, c.value) << c.text;
        } else if (type == 3) {
            EXPECT_DOUBLE_EQ(d, c.value) << c.text;
        }
    }
    EXPECT_EQ(less_blanks_len("ab  ", 4), 2u);
    EXPECT_EQ(less_blanks_len("   ", 3), 1u);
    EXPECT_EQ(less_blanks_len("", 0), 0u);
}

}  // namespace
