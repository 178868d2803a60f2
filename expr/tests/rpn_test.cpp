#include "expr/rpn.h"

#include <gtest/gtest.h>

#include "expr/lexer.h"
#include "expr/tests/expr_test_support.h"
#include "testing/case_names.h"

namespace {

using expr_test::LogCapture;
using expr_test::render;
using expr_test::TermTableScope;

struct RpnCase {
    const char* text;
    const char* rpn;
};

void PrintTo(const RpnCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class RpnTable : public ::testing::TestWithParam<RpnCase> {};

TEST_P(RpnTable, Order) {
    TermTableScope table;
    const char* p = GetParam().text;
    LEXEME* rpn = parse_expression(&p);
    ASSERT_NE(rpn, nullptr);
    EXPECT_EQ(render(rpn), GetParam().rpn);
    U_FREE(rpn);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, RpnTable,
    ::testing::Values(
        RpnCase{"", ""},  // an empty array, not null
        RpnCase{"a OR b AND c", "a b c AND OR"}, RpnCase{"(a OR b) AND c", "a b OR c AND"},
        RpnCase{"a * b + c", "a b * c +"}, RpnCase{"a + b * c", "a b c * +"},
        RpnCase{"a - b - c", "a b - c -"}, RpnCase{"func2(a, b)", "a b func2"},
        RpnCase{"func2(a + 1, b)", "a #1 + b func2"}, RpnCase{"x := a + 1", "x a #1 + :="},
        RpnCase{"a LIKE 'x%' AND b = 2", "a 'x%' LIKE b #2 = AND"}, RpnCase{"(a)", "a"},
        RpnCase{"(NOT a = b)", "a b = NOT"}, RpnCase{"x := a = b", "x a := b ="},
        RpnCase{"SUM(a + b) * 2", "a b + SUM #2 *"}, RpnCase{"(-a) * b", "a u- b *"},
        RpnCase{"(-a * b)", "a u- b *"}, RpnCase{"ROW(a, b, rfa)", "a b rfa ROW"},
        RpnCase{"func2(SUM(a), b)", "a SUM b func2"}),
    case_names(&RpnCase::text));

TEST(Rpn, UnbalancedParenthesesFail) {
    TermTableScope table;
    TERM_TABLE* a = find_name_entry("a", 1);
    LEXEME close_first[] = {a, to_lexeme(&OperationTable[OPER_CLOSE_PAREN]), nullptr};
    LEXEME open_left[] = {to_lexeme(&OperationTable[OPER_OPEN_PAREN]), a, nullptr};
    for (LEXEME* list : {close_first, open_left}) {
        LogCapture log;
        EXPECT_EQ(reverse_pol_notation(list), nullptr);
        EXPECT_TRUE(log.has("RPN0010")) << log.text();
    }
}

TEST(Rpn, UnknownLexemeTypeFails) {
    int32_t strange = 7;
    LEXEME list[] = {&strange, nullptr};
    EXPECT_EQ(reverse_pol_notation(list), nullptr);
}

TEST(OperationTable, Lookups) {
    EXPECT_EQ(find_oper_type("-", 1)->arg_count, 2);
    EXPECT_EQ(find_spec_oper_type("-", 1)->arg_count, 1);
    EXPECT_EQ(find_spec_oper_type("not", 3), &OperationTable[4]);
    EXPECT_EQ(find_oper_type("not", 3), nullptr);
    EXPECT_EQ(find_oper_type(",", 1)->op_class, OP_SEPARATOR);
    EXPECT_EQ(find_oper_type("<>", 2), nullptr);
    EXPECT_EQ(find_oper_type("^=", 2)->priority, 50);
    EXPECT_EQ(find_oper_type("OR", 1), nullptr);  // the whole name must match
    EXPECT_EQ(find_function("sum", 3)->op_name, std::string("SUM"));
    EXPECT_EQ(find_function("LIKE", 4), nullptr);
    EXPECT_EQ(get_row_func_entry()->arg_count, ARGS_VARIABLE);
    EXPECT_STREQ(get_row_func_entry()->op_name, "ROW");
    EXPECT_EQ(OperationTable[OPERATION_ROWS - 1].lexeme_type, LEX_END_OF_TABLE);
}

}  // namespace
