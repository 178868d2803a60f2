#include "expr/lexer.h"

#include <gtest/gtest.h>

#include <string>

#include "expr/tests/expr_test_support.h"
#include "runtime/trace.h"
#include "testing/case_names.h"

namespace {

using expr_test::LexResult;
using expr_test::LogCapture;
using expr_test::render;
using expr_test::TermTableScope;

struct LexCase {
    const char* text;
    const char* lexemes;  // rendering of the list; null when lexing fails
    const char* id;       // message id that must be written; null for none
};

void PrintTo(const LexCase& c, std::ostream* os) { *os << '"' << c.text << '"'; }

class LexTable : public ::testing::TestWithParam<LexCase> {};

TEST_P(LexTable, LexemesOrError) {
    const LexCase& c = GetParam();
    TermTableScope table;
    LogCapture log;
    LexResult r;
    expr_test::lex(c.text, r);
    if (c.lexemes) {
        ASSERT_NE(r.list, nullptr) << log.text();
        EXPECT_EQ(render(r.list), c.lexemes);
    } else {
        EXPECT_EQ(r.list, nullptr) << render(r.list);
    }
    if (c.id) {
        EXPECT_TRUE(log.has(c.id)) << "log: " << log.text();
    } else if (c.lexemes) {
        EXPECT_EQ(log.text(), "");
    }
}

const std::string kLongName(54, 'n');
const std::string kLongNumber(54, '7');
const std::string kLongString = "'" + std::string(54, 's') + "'";
const std::string kLongColumn = "C." + std::string(54, 'c');
const std::string kFullName = std::string(53, 'n') + " = 1";
const std::string kFullNameLexemes = std::string(53, 'n') + " = #1";

INSTANTIATE_TEST_SUITE_P(
    Texts, LexTable,
    ::testing::Values(
        LexCase{"", "", nullptr}, LexCase{";", "", nullptr}, LexCase{"   ;", nullptr, "LEX0130"},
        LexCase{"(a = 1)", "( a = #1 )", nullptr}, LexCase{"a = 1;", "a = #1", nullptr},
        LexCase{"a + (b)", "a + ( b )", nullptr}, LexCase{"a ()", nullptr, "LEX0260"},
        LexCase{"a (", nullptr, "LEX0260"}, LexCase{"(NOT a)", "( NOT a )", nullptr},
        LexCase{"(NOT(a))", nullptr, "LEX0260"},  // NOT directly before "(" is a call
        LexCase{"a AND NOT b", nullptr, "LEX0090"}, LexCase{"(-a)", "( u- a )", nullptr},
        LexCase{"a < -b", "a < - b", nullptr}, LexCase{"a<-b", nullptr, "LEX0090"},
        LexCase{"(+a)", nullptr, "LEX0090"}, LexCase{"x LIKE 'a%'", "x LIKE 'a%'", nullptr},
        LexCase{"x like 'a%'", "x LIKE 'a%'", nullptr}, LexCase{"SUM (x)", "SUM ( x )", nullptr},
        LexCase{"func2(a, b)", "func2 ( a , b )", nullptr},
        LexCase{"SUM(a + b) * 2", "SUM ( a + b ) * #2", nullptr},
        LexCase{"FOO(a)", nullptr, "LEX0260"}, LexCase{"CURS .COL", "CURS.COL", nullptr},
        LexCase{"CURS. COL", "CURS.COL", nullptr}, LexCase{"CURSOR12.COL", "CURSOR12.COL", nullptr},
        LexCase{"CURSOR123.COL", nullptr, "LEX0180"}, LexCase{"CURS. + 1", nullptr, "LEX0197"},
        LexCase{"CURS.", nullptr, "LEX0197"}, LexCase{"5..0", nullptr, "LEX0345"},
        LexCase{".", nullptr, "LEX0350"}, LexCase{".5 + 5.", "#.5 + #5.", nullptr},
        LexCase{"'a;b'", nullptr, "LEX0410"}, LexCase{"'abc", nullptr, "LEX0410"},
        LexCase{"''", "' '", "LEX0390"}, LexCase{"\"it's\" = x", "'it's' = x", nullptr},
        LexCase{",a", "a", nullptr}, LexCase{"%me = 1", "%me = #1", nullptr},
        LexCase{"a b", nullptr, "LEX0090"}, LexCase{"1 2", nullptr, "LEX0130"},
        LexCase{"()", nullptr, "LEX0130"}, LexCase{"+a", nullptr, "LEX0130"},
        LexCase{"a = ", nullptr, "LEX0130"}, LexCase{"(a", nullptr, "LEX0110"},
        LexCase{"a)", nullptr, "LEX0045"}, LexCase{"\x80", nullptr, "LEX0015"},
        LexCase{"a = \x80", nullptr, "LEX0020"}, LexCase{"'\x80'", nullptr, "LEX0380"},
        LexCase{kFullName.c_str(), kFullNameLexemes.c_str(), nullptr},
        LexCase{kLongName.c_str(), nullptr, "LEX0165"},
        LexCase{kLongNumber.c_str(), nullptr, "LEX0355"},
        LexCase{kLongString.c_str(), nullptr, "LEX0405"},
        LexCase{kLongColumn.c_str(), nullptr, "LEX0205"}),
    case_names(&LexCase::text));

// parse_expression leaves the text one past the character that ended the expression.
TEST(ParseExpression, LeavesTextPastTheEnd) {
    TermTableScope table;
    const char* text = "a = 1;rest";
    const char* p = text;
    LEXEME* rpn = parse_expression(&p);
    ASSERT_NE(rpn, nullptr);
    EXPECT_EQ(render(rpn), "a #1 =");
    EXPECT_STREQ(p, "rest");
    U_FREE(rpn);

    const char* whole = "b";
    p = whole;
    rpn = parse_expression(&p);
    ASSERT_NE(rpn, nullptr);
    EXPECT_EQ(p, whole + 2);  // past the NUL
    U_FREE(rpn);
}

TEST(ParseExpression, FailureIsReported) {
    TermTableScope table;
    LogCapture log;
    const char* p = "a +";
    EXPECT_EQ(parse_expression(&p), nullptr);
    EXPECT_TRUE(log.has("LEX0005")) << log.text();
}

TEST(LexerLimit, TwoThousandLexemesPassTheNextFails) {
    TermTableScope table;
    // 1000 terms and 999 operators, with the end pointer: 2000 lexemes.
    std::string text = "a";
    for (int i = 1; i < 1000; ++i) text += "+a";
    LexResult ok;
    expr_test::lex(text.c_str(), ok);
    ASSERT_NE(ok.list, nullptr);
    EXPECT_EQ(ok.count, 2000);

    // SUM(a) is four lexemes: 4 + 998 * 2 + the end pointer = 2001.
    std::string over = "SUM(a)";
    for (int i = 0; i < 998; ++i) over += "+a";
    LogCapture log;
    LexResult bad;
    expr_test::lex(over.c_str(), bad);
    EXPECT_EQ(bad.list, nullptr);
    EXPECT_TRUE(log.has("Expression is too long")) << log.text();
}

TEST(CharTypes, ClassesAndEndSign) {
    struct {
        char c;
        int cls;
    } cases[] = {{'(', 1},  {')', 2}, {'Q', 3},    {'7', 4},   {'%', 5},  {'"', 6},
                 {'\t', 7}, {'^', 8}, {';', 9},    {'\0', 9},  {',', 10}, {'.', 12},
                 {'_', 13}, {'@', 0}, {'\x7f', 0}, {'\xff', 0}};
    for (const auto& k : cases) {
        char text[2] = {k.c, '\0'};
        EXPECT_EQ(find_char_type(text, char_type_tb), k.cls) << int(k.c);
    }
    EXPECT_EQ(get_expr_end_sign(), ';');
}

TEST(CharTypes, NulWarnsOnlyAtExpressionTraceLevel) {
    LogCapture log;
    find_char_type("", char_type_tb);
    EXPECT_FALSE(log.has("LEX0035"));
    my_trace_all[8] = 1;
    find_char_type("", char_type_tb);
    my_trace_all[8] = 0;
    EXPECT_TRUE(log.has("LEX0035")) << log.text();
}

// ---- interning ----

TERM_TABLE* term_at(const LexResult& r, int i) { return as_term(r.list[i]); }

TEST(Interning, NumbersByTextAndType) {
    TermTableScope table;
    LexResult r;
    expr_test::lex("5 + 5.0 + 05 + .5 + 5", r);
    ASSERT_NE(r.list, nullptr);
    TERM_TABLE* five = term_at(r, 0);
    TERM_TABLE* five_0 = term_at(r, 2);
    TERM_TABLE* o_five = term_at(r, 4);
    TERM_TABLE* dot_five = term_at(r, 6);
    EXPECT_EQ(term_at(r, 8), five);
    EXPECT_EQ(table.size(), 4);
    EXPECT_NE(five, five_0);
    EXPECT_NE(five, o_five);
    EXPECT_EQ(five->term_type, TERM_NUMBER);
    EXPECT_EQ(five->data_type, DT_INT);
    EXPECT_EQ(five_0->data_type, DT_DOUBLE);
    EXPECT_EQ(o_five->data_type, DT_INT);
    EXPECT_EQ(dot_five->data_type, DT_DOUBLE);
    EXPECT_EQ(five->value, nullptr);  // bound later
}

TEST(Interning, ColumnsAndNamesIgnoreCaseStringsDoNot) {
    TermTableScope table;
    LexResult r;
    expr_test::lex("CURS.COL = curs.col AND abc = ABC AND 'abc' = 'ABC' AND 'abc' = 'abc'", r);
    ASSERT_NE(r.list, nullptr);
    // CURS.COL = curs.col AND abc = ABC AND 'abc' = 'ABC' AND 'abc' = 'abc'
    // 0        1 2        3   4   5 6   7   8     9 10    11  12    13 14
    EXPECT_EQ(term_at(r, 0), term_at(r, 2));
    EXPECT_STREQ(term_at(r, 0)->cursor_name, "CURS");
    EXPECT_STREQ(term_at(r, 0)->name, "COL");
    EXPECT_EQ(term_at(r, 0)->term_type, TERM_COLUMN);
    EXPECT_EQ(term_at(r, 4), term_at(r, 6));
    EXPECT_STREQ(term_at(r, 4)->name, "abc");
    EXPECT_NE(term_at(r, 8), term_at(r, 10));
    EXPECT_EQ(term_at(r, 8), term_at(r, 12));
    EXPECT_EQ(term_at(r, 8), term_at(r, 14));
    EXPECT_EQ(table.size(), 4);
}

TEST(Interning, FunctionNamesLeaveNoTermAndTablesGrowAcrossRuns) {
    TermTableScope table;
    {
        LexResult r;
        expr_test::lex("SUM(x) + SUM (y)", r);
        ASSERT_NE(r.list, nullptr);
    }
    ASSERT_EQ(table.size(), 2);
    EXPECT_STREQ(get_lex_term_tb_anchor()->name, "x");
    TERM_TABLE* x = get_lex_term_tb_anchor();

    // A second text lexed into the same table shares its terms.
    TERM_TABLE* anchor = nullptr;
    close_lexer(&anchor);
    EXPECT_EQ(get_lex_term_tb_anchor(), nullptr);
    EXPECT_EQ(anchor, x);
    open_lexer(anchor);
    LexResult again;
    expr_test::lex("X = 1", again);
    ASSERT_NE(again.list, nullptr);
    EXPECT_EQ(term_at(again, 0), x);
    EXPECT_EQ(table.size(), 3);
}

TEST(Interning, ParenthesesAndEndSignGiveTheSameTerms) {
    TermTableScope table;
    LexResult first, second;
    expr_test::lex("(a = 1)", first);
    expr_test::lex("a = 1;", second);
    ASSERT_NE(first.list, nullptr);
    ASSERT_NE(second.list, nullptr);
    EXPECT_EQ(term_at(first, 1), term_at(second, 0));
    EXPECT_EQ(term_at(first, 3), term_at(second, 2));
    EXPECT_EQ(table.size(), 2);
}

TEST(Interning, QualifiedColumnReplacesItsNameTerm) {
    TermTableScope table;
    LexResult r;
    expr_test::lex("A.B.C = a . b.c", r);
    ASSERT_NE(r.list, nullptr);
    EXPECT_EQ(render(r.list), "A.B.C = A.B.C");
    EXPECT_EQ(term_at(r, 0), term_at(r, 2));
    EXPECT_EQ(table.size(), 1);
}

}  // namespace
