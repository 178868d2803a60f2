#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "defs/clause_math.h"
#include "testing/case_names.h"
#include "testing/clause_fixture.h"

namespace {

std::vector<int> kinds(const m_anch* a) {
    std::vector<int> out;
    for (const math_in* w = a->math_in; w != nullptr; w = w->next) out.push_back(w->content);
    return out;
}

struct option_case {
    const char* text;
    int decimals;
    int round;
    double rounder;
    int hi_low;
    double initial;
    const char* name;
    int word_count;
};

class MathOptions : public ::testing::TestWithParam<option_case> {};

TEST_P(MathOptions, TextToAnchor) {
    const option_case& k = GetParam();
    test_cursor cur;
    LogCapture log;
    clause_text text(k.text);
    ASSERT_EQ(parse_math(cur.c, text), 0) << k.text << log.text();
    const m_anch* a = cur.c->m_anch;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->decimals, k.decimals) << k.text;
    EXPECT_EQ(a->round, k.round) << k.text;
    EXPECT_DOUBLE_EQ(a->rounder, k.rounder) << k.text;
    EXPECT_EQ(a->hi_low, k.hi_low) << k.text;
    EXPECT_DOUBLE_EQ(a->initial, k.initial) << k.text;
    EXPECT_STREQ(a->name, k.name) << k.text;
    EXPECT_EQ(a->word_count, k.word_count) << k.text;
    EXPECT_DOUBLE_EQ(a->water, 0.0);
    EXPECT_EQ(a->water_set, 0);
    EXPECT_NE(a->math, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Options, MathOptions,
    ::testing::Values(option_case{"PCT A", 2, 1, 0.005, 0, 0.0, "PCT", 1},
                      option_case{"decimal 0 PCT ( A / B ) * 100", 0, 1, 0.5, 0, 0.0, "PCT", 7},
                      option_case{"DECIMAL 3 X A", 3, 1, 0.0005, 0, 0.0, "X", 1},
                      option_case{"decimal 15 X A", 15, 1, 0.5e-15, 0, 0.0, "X", 1},
                      option_case{"noround T A + B", 2, 0, 0.0, 0, 0.0, "T", 3},
                      option_case{"NOROUND round T A", 2, 0, 0.0, 0, 0.0, "T", 1},
                      option_case{"high PEAK CPU", 2, 1, 0.005, 1, 0.0, "PEAK", 1},
                      option_case{"LOW low2 CPU", 2, 1, 0.005, 2, 0.0, "low2", 1},
                      option_case{"initial 16777217 C N", 2, 1, 0.005, 0, 16777217.0, "C", 1},
                      option_case{"INITIAL -2.5 C N", 2, 1, 0.005, 0, -2.5, "C", 1},
                      option_case{"Round A", 2, 1, 0.005, 0, 0.0, "Round", 1},
                      option_case{"", 2, 1, 0.005, 0, 0.0, "", 0}),
    case_names(&option_case::name));

TEST(MathWords, KindsTextsAndValues) {
    test_cursor cur;
    clause_text text("X ( CUR.A - 16777217 ) * -2 / B + 1E3");
    ASSERT_EQ(parse_math(cur.c, text), 0);
    const m_anch* a = cur.c->m_anch;
    EXPECT_EQ(kinds(a),
              (std::vector<int>{MW_LEFT, MW_NAME, MW_SUBTRACT, MW_CONSTANT, MW_RIGHT, MW_MULTIPLY,
                                MW_CONSTANT, MW_DIVIDE, MW_NAME, MW_ADD, MW_CONSTANT}));
    EXPECT_EQ(a->left_parens, 1);
    const math_in* w = a->math_in->next;
    EXPECT_STREQ(w->word, "CUR.A");
    w = w->next->next;
    EXPECT_STREQ(w->word, "16777217");
    EXPECT_DOUBLE_EQ(w->value, 16777217.0);  // a float would give ...216
    w = w->next->next->next;
    EXPECT_DOUBLE_EQ(w->value, -2.0);
    EXPECT_DOUBLE_EQ(a->math_in->next->next->next->next->next->next->next->next->next->next->value,
                     1000.0);
}

struct error_case {
    const char* text;
    const char* message;
    int word;  // word number in the message, 0 when the message has none
};

class MathErrors : public ::testing::TestWithParam<error_case> {};

TEST_P(MathErrors, Refused) {
    const error_case& k = GetParam();
    test_cursor cur;
    LogCapture log;
    clause_text text(k.text);
    EXPECT_EQ(parse_math(cur.c, text), 1) << k.text;
    EXPECT_TRUE(log.has(k.message)) << k.text << "\n" << log.text();
    if (k.word != 0) {
        EXPECT_TRUE(log.has("Bad math syntax starting at word " + std::to_string(k.word) + " in"))
            << k.text << "\n"
            << log.text();
    }
    EXPECT_NE(cur.c->m_anch, nullptr) << "the anchor stays chained";
}

INSTANTIATE_TEST_SUITE_P(
    Errors, MathErrors,
    ::testing::Values(
        error_case{"decimal PCT A", "PMA3370E", 0}, error_case{"decimal", "PMA3370E", 0},
        error_case{"initial X A", "PMA3375E", 0}, error_case{"decimal 16 X A", "PMA3371E", 0},
        error_case{"decimal -1 X A", "PMA3371E", 0}, error_case{"X ( A + B", "PMA3415E", 0},
        error_case{"X A + B )", "PMA3410E", 0}, error_case{"X ( A ) ) + ( B", "PMA3410E", 0},
        error_case{"X A B", "PMA3465E", 1}, error_case{"X A 2", "PMA3465E", 1},
        error_case{"X A +", "PMA3455E", 2}, error_case{"X ( )", "PMA3425E", 1},
        error_case{"X A ( B )", "PMA3465E", 1}, error_case{"X A + ( B ) C", "PMA3440E", 5},
        error_case{"X ( A + ) * 2", "PMA3450E", 3}, error_case{"X A * * B", "PMA3450E", 2},
        error_case{"X ( + ) * B", "PMA3425E", 1}, error_case{"X (", "PMA3415E", 0},
        error_case{"X A - (", "PMA3415E", 0}),
    case_names(&error_case::text));

// Balanced texts: the word-by-word walk decides. A word's rule on its previous word is
// always met first by that word's rule on its next word, so the walk reports the earlier.
TEST(MathNeighbours, BalancedTexts) {
    struct walk_case {
        const char* text;
        const char* id;  // null: accepted
        int word;
    };
    const walk_case cases[] = {
        {"X ( A ) ( B )", nullptr, 0},  // ')' may be followed by '('
        {"X - A", nullptr, 0},          // a leading operator passes
        {"X ( ( A ) )", nullptr, 0},
        {"X ( A ) * ( B - 1 )", nullptr, 0},
        {"X ( A + ( ) )", "PMA3425E", 4},
        {"X A + ( + B )", "PMA3425E", 3},
        {"X ( A ) B", "PMA3440E", 3},
        {"X A - ( )", "PMA3425E", 3},
    };
    for (const walk_case& k : cases) {
        test_cursor cur;
        LogCapture log;
        clause_text text(k.text);
        int rc = parse_math(cur.c, text);
        if (k.id == nullptr) {
            EXPECT_EQ(rc, 0) << k.text << log.text();
            continue;
        }
        EXPECT_EQ(rc, 1) << k.text;
        EXPECT_TRUE(log.has(k.id)) << k.text << log.text();
        EXPECT_TRUE(log.has("starting at word " + std::to_string(k.word))) << k.text << log.text();
    }
}

// The rule table itself, row by row: what may stand before and after each kind of word.
// In a balanced text a previous-word rule is always met first by the next-word rule of the
// word before, so these rows are only reached here.
TEST(MathNeighbours, RuleTable) {
    struct rule_case {
        int16_t prev, kind, next;
        const char* id;  // null: allowed
    };
    const int16_t N = MW_NAME, K = MW_CONSTANT, L = MW_LEFT, R = MW_RIGHT, P = MW_ADD,
                  D = MW_DIVIDE;
    const rule_case cases[] = {
        {0, N, 0, nullptr},
        {P, K, R, nullptr},
        {L, N, D, nullptr},
        {N, N, 0, "pma3460"},
        {R, K, 0, "pma3460"},
        {0, N, N, "pma3465"},
        {0, K, L, "pma3465"},
        {0, L, N, nullptr},
        {P, L, L, nullptr},
        {R, L, K, nullptr},
        {N, L, N, "pma3420"},
        {K, L, N, "pma3420"},
        {0, L, 0, "pma3430"},
        {0, L, R, "pma3425"},
        {0, L, P, "pma3425"},
        {N, R, 0, nullptr},
        {R, R, P, nullptr},
        {0, R, L, nullptr},
        {L, R, 0, "pma3435"},
        {P, R, 0, "pma3435"},
        {K, R, N, "pma3440"},
        {N, R, K, "pma3440"},
        {0, P, N, nullptr},
        {R, D, L, nullptr},
        {L, P, N, "pma3445"},
        {D, P, N, "pma3445"},
        {N, P, R, "pma3450"},
        {N, D, P, "pma3450"},
        {K, MW_MULTIPLY, 0, "pma3455"},
        {0, MW_SUBTRACT, 0, "pma3455"},
    };
    for (const rule_case& k : cases) {
        const char* id = math_neighbour_fault(k.prev, k.kind, k.next);
        if (k.id == nullptr) {
            EXPECT_EQ(id, nullptr) << k.prev << " " << k.kind << " " << k.next;
        } else {
            ASSERT_NE(id, nullptr) << k.prev << " " << k.kind << " " << k.next;
            EXPECT_STREQ(id, k.id) << k.prev << " " << k.kind << " " << k.next;
        }
    }
}

TEST(MathNames, DuplicateAndTooLong) {
    test_cursor cur;
    LogCapture log;
    clause_text first("PCT A");
    ASSERT_EQ(parse_math(cur.c, first), 0);
    clause_text second("decimal 1 PCT B");
    EXPECT_EQ(parse_math(cur.c, second), 1);
    EXPECT_TRUE(log.has("PMA3385E"));
    EXPECT_TRUE(log.has("Duplicate use of math name PCT"));
    ASSERT_NE(cur.c->m_anch->next, nullptr);

    const std::string n49(49, 'N'), n50(50, 'N');
    test_cursor c2;
    clause_text ok(n49 + " A");
    EXPECT_EQ(parse_math(c2.c, ok), 0);
    clause_text long_name(n50 + " A");
    EXPECT_EQ(parse_math(c2.c, long_name), 1);
    EXPECT_TRUE(log.has("PMA3380E"));
    clause_text long_word("Y A + " + n50);
    EXPECT_EQ(parse_math(c2.c, long_word), 1);
    EXPECT_TRUE(log.has("PMA3390E"));
    clause_text long_number("Z A + " + std::string(50, '1'));
    EXPECT_EQ(parse_math(c2.c, long_number), 1);
}

TEST(MathTrace, TracemShowsEveryWord) {
    test_cursor cur;
    cur.c->tracem = 1;
    LogCapture log;
    clause_text text("PCT ( A / B ) * 100");
    ASSERT_EQ(parse_math(cur.c, text), 0);
    EXPECT_TRUE(log.has("Math name = PCT, Word count = 7")) << log.text();
    EXPECT_TRUE(log.has("( : Left Parenthesis"));
    EXPECT_TRUE(log.has("A : name"));
    EXPECT_TRUE(log.has("/ : Division"));
    EXPECT_TRUE(log.has("* : Multiplicaton"));
    EXPECT_TRUE(log.has("100 : constant : 100.000000"));
}

}  // namespace
