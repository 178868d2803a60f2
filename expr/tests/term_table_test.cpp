#include "expr/term_table.h"

#include <gtest/gtest.h>

#include <cstring>

#include "expr/tests/expr_test_support.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"

namespace {

using expr_test::LogCapture;
using expr_test::TermTableScope;

char* owned_text(const char* s) {
    auto* p = static_cast<char*>(U_MALLOC(std::strlen(s) + 1));
    std::strcpy(p, s);
    return p;
}

TEST(TermTable, NewTermsAndTheirDefaults) {
    TERM_TABLE* t = alloc_term(TERM_STRING, DT_CHAR);
    EXPECT_EQ(t->lexeme_type, LEX_TERM);
    EXPECT_EQ(t->term_type, TERM_STRING);
    EXPECT_EQ(t->data_type, DT_CHAR);
    EXPECT_EQ(t->value, t->name);
    EXPECT_EQ(t->next, nullptr);
    EXPECT_EQ(free_term(t, 0), 0);

    TermTableScope table;
    TERM_TABLE* a = chain_to_perm_term_tb(TERM_NAME, DT_UNDEFINED);
    TERM_TABLE* b = chain_to_perm_term_tb(TERM_NAME, DT_UNDEFINED);
    EXPECT_EQ(get_lex_term_tb_anchor(), a);
    EXPECT_EQ(a->next, b);
}

TEST(TermTable, EntriesRefuseTextsThatDoNotFit) {
    TermTableScope table;
    std::string fits(53, 'x');
    std::string too_long(54, 'x');
    EXPECT_NE(find_name_entry(fits.c_str(), 53), nullptr);
    EXPECT_EQ(find_name_entry(too_long.c_str(), 54), nullptr);
    EXPECT_EQ(find_string_entry(too_long.c_str(), 54), nullptr);
    EXPECT_EQ(find_number_entry(too_long.c_str(), 54), nullptr);
    EXPECT_EQ(table.size(), 1);
    EXPECT_EQ(std::strlen(get_lex_term_tb_anchor()->name), 53u);
}

TEST(TermTable, NameSharesWithTheWholeNameOnly) {
    TermTableScope table;
    TERM_TABLE* ab = find_name_entry("ab", 2);
    EXPECT_EQ(find_name_entry("AB", 2), ab);
    EXPECT_NE(find_name_entry("a", 1), ab);
    EXPECT_NE(find_name_entry("abc", 3), ab);
    ab->term_type = TERM_COLUMN;  // bound to a column: no longer a plain name
    EXPECT_NE(find_name_entry("ab", 2), ab);
}

TEST(TermTable, UnchainHeadMiddleAndMisses) {
    TermTableScope table;
    TERM_TABLE* a = find_name_entry("a", 1);
    TERM_TABLE* b = find_name_entry("b", 1);
    TERM_TABLE* c = find_name_entry("c", 1);
    EXPECT_EQ(unchain_and_free_term(b), 0);
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(unchain_and_free_term(a), 0);
    EXPECT_EQ(get_lex_term_tb_anchor(), c);

    LogCapture log;
    EXPECT_EQ(unchain_and_free_term(nullptr), 1);
    EXPECT_TRUE(log.has("LEX0230"));
    TERM_TABLE* stray = alloc_term(TERM_NAME, DT_UNDEFINED);
    EXPECT_EQ(unchain_and_free_term(stray), 1);
    EXPECT_TRUE(log.has("LEX0240"));
    free_term(stray, 0);
}

TEST(TermTable, FreeTermReleasesOwnBufferAndVectorChain) {
    TERM_TABLE* holder = alloc_term(TERM_VECTOR, DT_UNDEFINED);
    TERM_TABLE* first = alloc_term(TERM_NAME, DT_CHAR);
    TERM_TABLE* second = alloc_term(TERM_NAME, DT_CHAR);
    holder->vector = first;
    first->vector = second;
    second->value = owned_text("abc");
    second->allocd_value = 1;
    // The address sanitizer reports the elements and the buffer if they are not released.
    EXPECT_EQ(free_term(holder, 0), 0);
}

TEST(TermTable, SimpleFreeKeepsTheVectorAndModeOneKeepsForReuse) {
    TERM_TABLE* holder = alloc_term(TERM_VECTOR, DT_UNDEFINED);
    TERM_TABLE* element = alloc_term(TERM_NAME, DT_CHAR);
    holder->vector = element;
    holder->value = owned_text("x");
    holder->allocd_value = 2;  // any non-zero flag owns the buffer here
    TERM_TABLE* saved = reuse_term_store;
    EXPECT_EQ(simple_free_term(holder, 1), 0);
    EXPECT_EQ(reuse_term_store, holder);
    EXPECT_EQ(holder->next, saved);
    EXPECT_EQ(holder->vector, nullptr);
    EXPECT_EQ(holder->value, nullptr);
    reuse_term_store = saved;
    U_FREE(holder);
    EXPECT_EQ(element->lexeme_type, LEX_TERM);  // still alive
    free_term(element, 0);
}

TEST(TermTable, OwnedValueThatIsNotABufferIsReported) {
    LogCapture log;
    TERM_TABLE* t = alloc_term(TERM_NAME, DT_CHAR);
    t->allocd_value = 1;  // but value points to its own name
    EXPECT_EQ(free_term(t, 0), 1);
    EXPECT_TRUE(log.has("LEX0245")) << log.text();
}

TEST(TermTable, VerifyRunsOnlyAtExpressionTraceLevel) {
    TERM_TABLE* t = alloc_term(TERM_NAME, DT_CHAR);
    t->term_type = 9;
    EXPECT_EQ(verify_term(t), 0);
    my_trace_all[8] = 1;
    {
        LogCapture log;
        EXPECT_EQ(verify_term(t), 1);
        EXPECT_TRUE(log.has("TRM0210"));
        t->term_type = TERM_NAME;
        t->data_type = 7;
        EXPECT_EQ(verify_term(t), 1);
        EXPECT_TRUE(log.has("TRM0220"));
        t->data_type = 6;
        t->lexeme_type = 1;
        EXPECT_EQ(verify_term(t), 1);
        EXPECT_TRUE(log.has("TRM0200"));
        EXPECT_EQ(free_term(t, 0), 1);  // an invalid term is not released
        EXPECT_TRUE(log.has("LEX0243"));
        t->lexeme_type = LEX_TERM;
        EXPECT_EQ(verify_term(t), 0);
    }
    my_trace_all[8] = 0;
    free_term(t, 0);
}

TEST(TermTableDeathTest, InvalidAnchorEndsTheProcess) {
    auto any_status = [](int) { return true; };
    EXPECT_EXIT(open_lexer(term_tb_invalid()), any_status, "TRM0150");
    EXPECT_EXIT(
        {
            set_term_tb_anchor(term_tb_invalid());
            find_name_entry("a", 1);
        },
        any_status, "TRM0150");
}

}  // namespace
