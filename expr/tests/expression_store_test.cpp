// The expression store: lookup by text (up to ";"), cursor and kind, and the copies it
// derives. The arrays are small stand-ins of lexed ones: terms and the ROW row.
#include "expr/expression_store.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "expr/internal_select.h"
#include "expr/operation_table.h"
#include "runtime/alloc.h"

namespace {

class ExpressionStore : public ::testing::Test {
  protected:
    ExpressionStore() {
        reset_internal_select();
        for (TERM_TABLE& t : terms) {
            t = TERM_TABLE{};
            t.lexeme_type = LEX_TERM;
            t.term_type = TERM_NAME;
        }
    }
    ~ExpressionStore() override { reset_internal_select(); }

    // A new array of the given terms, with ROW before the null when with_row.
    LEXEME* rpn(std::vector<int> which, bool with_row) {
        auto* a = static_cast<LEXEME*>(U_MALLOC(sizeof(LEXEME) * (which.size() + 2)));
        size_t n = 0;
        for (int w : which) a[n++] = &terms[w];
        if (with_row) a[n++] = to_lexeme(get_row_func_entry());
        a[n] = nullptr;
        return a;
    }
    // Stores a select list (text plus ",rfa" in a buffer the store takes) or another kind.
    lex_block store(const char* text, const char* cursor, B_TYPE kind, std::vector<int> which) {
        char* buffer = nullptr;
        if (kind == B_COLS) {
            std::string s = std::string(text) + ",rfa";
            buffer = static_cast<char*>(U_MALLOC(s.size() + 1));
            std::memcpy(buffer, s.c_str(), s.size() + 1);
        }
        lex_block b{buffer ? buffer : const_cast<char*>(text),
                    0,
                    cursor,
                    kind,
                    rpn(which, kind == B_COLS),
                    0,
                    nullptr,
                    &terms[0]};
        EXPECT_EQ(store_lex_block(&b), 0);
        return b;
    }
    static int find(const char* text, const char* cursor, B_TYPE kind, lex_block* out) {
        *out = lex_block{const_cast<char*>(text), 0, cursor, kind, nullptr, 0, nullptr, nullptr};
        return find_lex_block(out);
    }
    static int entries(const LEXEME* a) {
        int n = 0;
        while (a[n]) ++n;
        return n;
    }
    // Text, cursor and kind of every node, in list order.
    static std::string layout() {
        std::string out;
        for (W_EXPR_NODE* n = W_EXPR_LIST::get_lx_list().get_first(); n; n = n->get_next()) {
            const W_LEXED_EXPR* e = n->get_its_expr();
            out += std::string(e->get_the_expr(), static_cast<size_t>(e->get_expr_len())) + "@" +
                   e->get_curs_name() + "#" + std::to_string(e->what_class()) + " ";
        }
        return out;
    }

    TERM_TABLE terms[4];
};

TEST_F(ExpressionStore, EmptyStoreFindsNothing) {
    lex_block b;
    EXPECT_EQ(find("A = 1", "SYSMON", B_COND, &b), 0);
}

TEST_F(ExpressionStore, SelectListIsFoundWithoutItsSuffix) {
    const lex_block stored = store("SUM(FLDVALUE)", "SYSMON", B_COLS, {1, 3});
    EXPECT_STREQ(stored.text, "SUM(FLDVALUE),rfa");
    EXPECT_EQ(stored.rpn_len, 4 * static_cast<int>(sizeof(LEXEME)));
    EXPECT_NE(stored.rpn_repl, nullptr);
    lex_block b;
    ASSERT_EQ(find("SUM(FLDVALUE)", "SYSMON", B_COLS, &b), 1);
    EXPECT_EQ(b.rpn, stored.rpn);
    EXPECT_EQ(b.rpn_repl, stored.rpn_repl);
    EXPECT_EQ(b.term_tb, &terms[0]);
    EXPECT_STREQ(b.curs_name, "SYSMON");
    EXPECT_EQ(find("SUM(FLDVALUE),rfa", "SYSMON", B_COLS, &b), 0);
}

TEST_F(ExpressionStore, TextsCompareUpToTheirFirstSemicolon) {
    store("A = 1;", "SYSMON", B_COND, {1});
    lex_block b;
    EXPECT_EQ(find("A = 1; anything", "SYSMON", B_COND, &b), 1);
    EXPECT_EQ(find("A = 1", "SYSMON", B_COND, &b), 0);
    EXPECT_EQ(find("A = 1 ;", "SYSMON", B_COND, &b), 0);
}

// Another cursor's array reads that cursor's columns: the text is lexed again (not found)
// and stored beside the first cursor's node; each cursor then finds its own.
TEST_F(ExpressionStore, AnotherCursorIsNotDerived) {
    const lex_block a = store("FLDNAME = 'x'", "SYSMON", B_COND, {1});
    store("OTHER", "SYSMON", B_COND, {2});
    lex_block b;
    EXPECT_EQ(find("FLDNAME = 'x'", "SYSMON2", B_COND, &b), 0);
    const lex_block second = store("FLDNAME = 'x'", "SYSMON2", B_COND, {2});
    EXPECT_EQ(layout(), "FLDNAME = 'x'@SYSMON#5 FLDNAME = 'x'@SYSMON2#5 OTHER@SYSMON#5 ");
    ASSERT_EQ(find("FLDNAME = 'x'", "SYSMON", B_COND, &b), 1);
    EXPECT_EQ(b.rpn, a.rpn);
    ASSERT_EQ(find("FLDNAME = 'x'", "SYSMON2", B_COND, &b), 1);
    EXPECT_EQ(b.rpn, second.rpn);
}

// A condition looked up where only the select list of that text is stored for the cursor:
// a copy without ",rfa" and without ROW is inserted after the select list's node.
TEST_F(ExpressionStore, ConditionIsDerivedFromASelectList) {
    const lex_block cols = store("FLDVALUE", "SYSMON", B_COLS, {1});
    store("OTHER", "SYSMON", B_COND, {2});
    lex_block b;
    ASSERT_EQ(find("FLDVALUE", "SYSMON", B_COND, &b), 1);
    EXPECT_STREQ(b.text, "FLDVALUE");
    ASSERT_EQ(entries(b.rpn), 1);
    EXPECT_EQ(b.rpn[0], &terms[1]);
    EXPECT_NE(b.rpn, cols.rpn);
    EXPECT_NE(b.rpn_repl, nullptr);
    EXPECT_EQ(b.rpn_len, 2 * static_cast<int>(sizeof(LEXEME)));
    EXPECT_EQ(layout(), "FLDVALUE,rfa@SYSMON#4 FLDVALUE@SYSMON#5 OTHER@SYSMON#5 ");
    // Found as it is from now on; the select list is unchanged.
    ASSERT_EQ(find("FLDVALUE", "SYSMON", B_COND, &b), 1);
    EXPECT_EQ(W_EXPR_LIST::get_lx_list().count(), 3);
    ASSERT_EQ(find("FLDVALUE", "SYSMON", B_COLS, &b), 1);
    EXPECT_EQ(b.rpn, cols.rpn);
    EXPECT_EQ(entries(b.rpn), 2);
}

// A select list needs ROW's holder term, which a condition's array lacks: not derived.
TEST_F(ExpressionStore, SelectListIsNotDerivedFromACondition) {
    store("FLDVALUE", "SYSMON", B_COND, {1});
    lex_block b;
    EXPECT_EQ(find("FLDVALUE", "SYSMON", B_COLS, &b), 0);
    store("FLDVALUE", "SYSMON", B_COLS, {1});
    EXPECT_EQ(layout(), "FLDVALUE,rfa@SYSMON#4 FLDVALUE@SYSMON#5 ");
}

TEST_F(ExpressionStore, PlainAndCursorKinds) {
    store("X + 1", nullptr, B_LEXED, {1});
    lex_block b;
    EXPECT_EQ(find("X + 1", "ANY", B_LEXED, &b), 1);
    EXPECT_STREQ(b.curs_name, "");
    EXPECT_EQ(b.rpn_repl, nullptr);
    store("Y", "LONGCURSORNAME", B_CURS, {2});
    EXPECT_EQ(find("Y", "LONGCURS", B_CURS, &b), 1);
    EXPECT_STREQ(b.curs_name, "LONGCURS");
    lex_block bad{const_cast<char*>("Z"), 0, "C", B_SELECT, rpn({1}, false), 0, nullptr, nullptr};
    EXPECT_EQ(store_lex_block(&bad), 1);
    U_FREE(bad.rpn);
}

TEST_F(ExpressionStore, CopyOfANode) {
    store("FLDVALUE", "SYSMON", B_COLS, {1});
    W_EXPR_NODE* source = W_EXPR_LIST::get_lx_list().get_first();
    W_EXPR_NODE copy(new W_LEXED_EXPR());
    EXPECT_EQ(copy.copy_node_expr(source), 0);
    EXPECT_EQ(copy.get_its_expr()->what_class(), B_COLS);
    EXPECT_EQ(copy.get_its_expr()->get_rpn_ptr(), source->get_its_expr()->get_rpn_ptr());
    EXPECT_EQ(copy.get_its_expr()->compare_src_expr("FLDVALUE", 0), 0);
}

}  // namespace
