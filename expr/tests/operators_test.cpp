#include "expr/operators.h"

#include <gtest/gtest.h>

#include <string>

#include "expr/interpreter.h"
#include "expr/tests/expr_test_support.h"
#include "expr/tests/interp_test_support.h"
#include "testing/case_names.h"

namespace {

using expr_test::LogCapture;
using interp_test::CurrentCursor;
using interp_test::eval;
using interp_test::Expr;
using interp_test::Result;
using interp_test::TestCursor;

struct ValueCase {
    const char* text;
    const char* want;            // the result text
    int32_t data_type = DT_INT;  // the result's data type
};

void PrintTo(const ValueCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Arithmetic : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Arithmetic, ResultTextAndType) {
    LogCapture log;
    Expr e(GetParam().text);
    ASSERT_TRUE(e.parsed());
    Result r = e.run();
    ASSERT_TRUE(r) << log.text();
    EXPECT_EQ(r.text(), GetParam().want);
    EXPECT_EQ(r->data_type, GetParam().data_type);
    EXPECT_EQ(r->num_type, GetParam().data_type);
}

// The last operand read decides the type of "+", "-" and "*"; "/" always gives a double.
INSTANTIATE_TEST_SUITE_P(
    Table, Arithmetic,
    ::testing::Values(
        ValueCase{"7 / 2", "3.500000", DT_DOUBLE}, ValueCase{"7 - 2", "5", DT_INT},
        ValueCase{"1.5 + 2", "3", DT_INT}, ValueCase{"2 + 1.5", "3.500000", DT_DOUBLE},
        ValueCase{"2 * 3", "6", DT_INT}, ValueCase{"2.5 * 2", "5", DT_INT},
        ValueCase{"0 - 2.5 + 1", "-1", DT_INT}, ValueCase{"8 / 4", "2.000000", DT_DOUBLE},
        ValueCase{"(-4) * 2", "-8", DT_INT}, ValueCase{"(-2.5)", "-2.500000", DT_DOUBLE},
        ValueCase{"func1(3)", "-3", DT_INT}, ValueCase{"func2(2, 3)", "5", DT_INT},
        ValueCase{"func3(1, 2, 40)", "3", DT_INT}, ValueCase{"'12' + 1", "13", DT_INT},
        ValueCase{"' 7' * 1.0", "7.000000", DT_DOUBLE}, ValueCase{"1 + 2 * 3", "7", DT_INT},
        ValueCase{"2147483646 + 1", "2147483647", DT_INT},
        ValueCase{"1 + 3000000000.0", "3000000001.000000", DT_DOUBLE}),
    case_names(&ValueCase::text));

struct FailCase {
    const char* text;
    const char* id;  // the message that names the fault
};

void PrintTo(const FailCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class Fails : public ::testing::TestWithParam<FailCase> {};

TEST_P(Fails, NoResultAndTheMessage) {
    LogCapture log;
    Expr e(GetParam().text);
    ASSERT_TRUE(e.parsed());
    Result r = e.run();
    EXPECT_FALSE(r) << r.text();
    EXPECT_TRUE(log.has(GetParam().id)) << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Table, Fails,
    ::testing::Values(FailCase{"1 / 0", "INT0340"}, FailCase{"1 / 0.0", "INT0340"},
                      FailCase{"1 / 0", "Operation / failed"}, FailCase{"'abc' + 1", "INT0315"},
                      FailCase{"x + 1", "INT0315"}, FailCase{"2147483647 + 1", "INT0345"},
                      FailCase{"(-2147483647) - 2", "INT0345"},
                      FailCase{"99999999999 + 1", "INT0435"}, FailCase{"func2(1)", "INT0056"},
                      FailCase{"'12 ' = 12", "INT0190"}, FailCase{"'x' = 1", "INT0190"},
                      FailCase{"1 = 'x'", "INT0210"}, FailCase{"'1' OR 1", "INT0150"},
                      FailCase{"1 AND 'b'", "INT0160"}, FailCase{"(NOT 'a')", "INT0170"}),
    case_names(&FailCase::text));

class Comparison : public ::testing::TestWithParam<ValueCase> {};

TEST_P(Comparison, LogicalResult) {
    LogCapture log;
    EXPECT_EQ(eval(GetParam().text).value_or("<none>"), GetParam().want) << log.text();
}

// Numbers less than 1 apart are equal; texts compare by length without trailing blanks
// first, then byte by byte; differences are never narrowed into 32 bits.
INSTANTIATE_TEST_SUITE_P(
    Table, Comparison,
    ::testing::Values(ValueCase{"1.4 = 1", "1"}, ValueCase{"2.0 = 1", "0"},
                      ValueCase{"1.5 = 1.9", "1"}, ValueCase{"2.0 < 2.5", "0"},
                      ValueCase{"2 < 3", "1"}, ValueCase{"3 > 2", "1"}, ValueCase{"2 >= 2", "1"},
                      ValueCase{"1 <= 0", "0"}, ValueCase{"1 ^= 2", "1"},
                      ValueCase{"1 ^= 1.5", "0"}, ValueCase{"'zz' < 'aaa'", "1"},
                      ValueCase{"'abc' < 'abcd'", "1"}, ValueCase{"'b' < 'aa'", "1"},
                      ValueCase{"'abd' > 'abc'", "1"}, ValueCase{"'abc   ' = 'abc'", "1"},
                      ValueCase{"'ABC' = 'abc'", "0"}, ValueCase{"'12' = 12", "1"},
                      ValueCase{"12 = '12'", "1"}, ValueCase{"' 12' = 12", "1"},
                      ValueCase{"'12.5' > 12", "0"}, ValueCase{"'13.5' > 12", "1"},
                      ValueCase{"3000000000.0 > 0", "1"}, ValueCase{"0 < 3000000000.0", "1"},
                      ValueCase{"0 > 3000000000.0", "0"}, ValueCase{"'3000000000' > 0", "1"},
                      ValueCase{"(1 = 1) OR (1 = 2)", "1"}, ValueCase{"(1 = 2) OR (2 = 3)", "0"},
                      ValueCase{"(1 = 1) AND (1 = 2)", "0"}, ValueCase{"1 AND 2.5", "1"},
                      ValueCase{"(NOT 1 = 2)", "1"}, ValueCase{"(NOT 0.0)", "1"},
                      ValueCase{"1 = 1 AND 'a' < 'b' OR 0", "1"}),
    case_names(&ValueCase::text));

TEST(Comparison, EmptyTextWarnsAndComparesShortest) {
    TestCursor t("T", {{"E", 1, 0}, {"B", 1, 3}});
    t.set("B", "ab");
    CurrentCursor cc(t.get());
    LogCapture log;
    EXPECT_EQ(eval("E < B").value_or("<none>"), "1");
    EXPECT_TRUE(log.has("INT0180")) << log.text();
    EXPECT_EQ(eval("B > E").value_or("<none>"), "1");
    EXPECT_TRUE(log.has("INT0185")) << log.text();
}

TEST(Comparison, SubroutineSignAndSaturation) {
    TERM_TABLE* a = alloc_term(TERM_NUMBER, DT_DOUBLE);
    TERM_TABLE* b = alloc_term(TERM_NUMBER, DT_DOUBLE);
    a->num_type = b->num_type = 3;
    a->dbl_val = 1e300;
    b->dbl_val = -1e300;
    int64_t r = 0;
    EXPECT_EQ(compare_subr(a, b, &r), 0);
    EXPECT_EQ(r, INT64_MAX);
    EXPECT_EQ(compare_subr(b, a, &r), 0);
    EXPECT_EQ(r, INT64_MIN);
    a->dbl_val = 5e9;
    b->dbl_val = 0.5;
    EXPECT_EQ(compare_subr(a, b, &r), 0);
    EXPECT_EQ(r, 4999999999);
    free_term(a, 0);
    free_term(b, 0);
}

TEST(Comparison, InvalidDataTypes) {
    LogCapture log;
    TERM_TABLE* a = alloc_term(TERM_NAME, DT_UNDEFINED);
    TERM_TABLE* b = alloc_term(TERM_NUMBER, DT_INT);
    b->num_type = 2;
    int64_t r = 0;
    EXPECT_EQ(compare_subr(a, b, &r), 1);
    EXPECT_TRUE(log.has("INT0230"));
    EXPECT_EQ(compare_subr(b, a, &r), 1);
    EXPECT_TRUE(log.has("INT0220"));
    a->data_type = DT_CHAR;
    b->data_type = 5;
    EXPECT_EQ(compare_subr(a, b, &r), 1);
    EXPECT_TRUE(log.has("INT0200"));
    free_term(a, 0);
    free_term(b, 0);
}

TEST(Logic, CharacterColumnIsNotNumericEvenWhenItReadsAsOne) {
    TestCursor t("T", {{"A", 1, 1}, {"N", 2, 4}});
    t.set("A", "1");
    t.set("N", "1");
    CurrentCursor cc(t.get());
    LogCapture log;
    EXPECT_FALSE(eval("(A OR N)"));
    EXPECT_TRUE(log.has("INT0150")) << log.text();
    EXPECT_EQ(eval("(N OR N)").value_or("<none>"), "1");
}

TEST(Assignment, FreshWorkVariableTakesTheText) {
    Expr e("x := 5");
    Result r = e.run();
    ASSERT_TRUE(r);
    EXPECT_EQ(r.text(), "1");
    EXPECT_EQ(r->data_type, DT_INT);
    TERM_TABLE* x = e.term("x");
    ASSERT_NE(x, nullptr);
    EXPECT_STREQ(x->value, "5");
    EXPECT_EQ(x->data_type, DT_CHAR);
    EXPECT_EQ(x->num_type, 0);
    // The text lives in storage the variable owns, not in its name.
    EXPECT_NE(x->value, x->name);
    EXPECT_STREQ(x->name, "x");
}

TEST(Assignment, SourcesOfEveryKind) {
    struct C {
        const char* text;
        const char* x;
    } cases[] = {
        {"x := 'abc'", "abc"}, {"x := 7 / 2", "3.500000"},
        {"x := 2 + 3", "5"},   {"x := x", "x"},  // an unassigned variable's text is its own name
        {"x := 1.25", "1.25"}, {"x := 2 - 7", "-5"},
        {"x := (1 = 2)", "0"},  // result texts of numbers and logic
    };
    for (const C& c : cases) {
        Expr e(c.text);
        Result r = e.run();
        ASSERT_TRUE(r) << c.text;
        EXPECT_EQ(r.text(), "1") << c.text;
        EXPECT_STREQ(e.term("x")->value, c.x) << c.text;
    }
}

TEST(Assignment, ReassignedVariableKeepsItsLatestText) {
    TestCursor t("T", {{"L", 1, 60}});
    const std::string long_text(60, 'q');
    t.set("L", long_text);
    CurrentCursor cc(t.get());
    Expr e("x := L");
    ASSERT_TRUE(e.run());
    EXPECT_EQ(std::string(e.term("x")->value), long_text);  // longer than a name's room
    t.set("L", "short");
    ASSERT_TRUE(e.run());
    EXPECT_EQ(std::string(e.term("x")->value), "short" + std::string(55, ' '));
    t.set("L", long_text + "");
    ASSERT_TRUE(e.run());
    EXPECT_EQ(std::string(e.term("x")->value), long_text);
}

TEST(Assignment, OnlyWorkVariablesAreTargets) {
    TestCursor t("T", {{"C", 1, 4}});
    t.set("C", "abcd");
    TestCursor pc("%CURSOR", {{"%me", 1, 8}});
    pc.set("%me", "host");
    CurrentCursor cc(t.get());
    for (const char* text :
         {"C := 'x'", "T.C := 'x'", "%me := 'x'", "'lit' := 'x'", "5 := 1", "(1 + 1) := 3"}) {
        LogCapture log;
        Expr e(text);
        ASSERT_TRUE(e.parsed()) << text;
        EXPECT_FALSE(e.run()) << text;
        EXPECT_TRUE(log.has("INT0290")) << text << "\n" << log.text();
    }
    EXPECT_EQ(std::string(t.column("C")->from, 4), "abcd");
    EXPECT_EQ(std::string(pc.column("%me")->from, 4), "host");
}

TEST(Assignment, DeclaredVariableIsNoTarget) {
    char caller_text[] = "caller";
    Expr e("v := 'x'");
    TERM_TABLE* v = e.term("v");
    ASSERT_NE(v, nullptr);
    v->value = caller_text;  // as a caller declares a text variable
    v->data_type = DT_CHAR;
    LogCapture log;
    EXPECT_FALSE(e.run());
    EXPECT_TRUE(log.has("INT0290"));
    EXPECT_STREQ(caller_text, "caller");
}

TEST(Assignment, SourceWithoutValueOrType) {
    LogCapture log;
    TERM_TABLE* target = alloc_term(TERM_NAME, DT_CHAR);
    target->value_ref = term_value_ref_final();
    TERM_TABLE* source = alloc_term(TERM_NAME, DT_UNDEFINED);
    TERM_TABLE* result = alloc_term(TERM_NAME, DT_UNDEFINED);
    TERM_TABLE* args[] = {target, source, nullptr};
    EXPECT_EQ(asgnt_prc(args, result), 1);
    EXPECT_TRUE(log.has("INT0250"));
    source->data_type = DT_INT;
    EXPECT_EQ(asgnt_prc(args, result), 1);
    EXPECT_TRUE(log.has("INT0260"));
    source->data_type = DT_CHAR;
    source->value = nullptr;
    EXPECT_EQ(asgnt_prc(args, result), 1);
    EXPECT_TRUE(log.has("INT0265"));
    source->value = source->name;
    for (TERM_TABLE* t : {target, source, result}) free_term(t, 0);
}

}  // namespace
