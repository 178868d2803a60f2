#include <gtest/gtest.h>

#include <string>

#include "defs/clause_decode.h"
#include "testing/case_names.h"
#include "testing/clause_fixture.h"

namespace {

// What a rule text gives: the rule's fields, or the message of its refusal.
struct rule_case {
    const char* text;
    const char* message;  // id and type letter as logged; null for success
    int operatr;
    int operand_type;
    double op_num;
    int operand_ll;
    const char* operand_text;  // expected at its place in the image; null: no image
    const char* operand_column;
    int andee;
    int replacement_type;
    int replacement_ll;
    const char* replacement_text;
    const char* replacement_column;
};

std::string image_text(const char* half, int ll, int kind) {
    if (kind == DOK_NUMBER) return std::string(half + OPERANDLL - ll, static_cast<size_t>(ll));
    return std::string(half, static_cast<size_t>(ll));
}

class DecodeRules : public ::testing::TestWithParam<rule_case> {};

TEST_P(DecodeRules, TextToRule) {
    const rule_case& k = GetParam();
    test_cursor cur;
    LogCapture log;
    clause_text text(k.text);
    int rc = parse_decode(cur.c, text);
    if (k.message != nullptr) {
        EXPECT_EQ(rc, 1) << k.text;
        EXPECT_TRUE(log.has(k.message)) << k.text << "\n" << log.text();
        EXPECT_EQ(cur.c->decode, nullptr) << "a refused rule is not chained";
        return;
    }
    ASSERT_EQ(rc, 0) << k.text << "\n" << log.text();
    ASSERT_NE(cur.c->decode, nullptr);
    const decode_op* d = cur.c->decode->decode_op;
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->operatr, k.operatr);
    EXPECT_EQ(d->operand_type, k.operand_type);
    EXPECT_DOUBLE_EQ(d->op_num, k.op_num);
    EXPECT_EQ(d->operand_ll, k.operand_ll);
    EXPECT_STREQ(d->operand_column, k.operand_column);
    EXPECT_EQ(d->andee, k.andee);
    if (k.operand_text == nullptr) {
        EXPECT_EQ(d->operand, nullptr);
    } else {
        ASSERT_NE(d->operand, nullptr);
        EXPECT_EQ(image_text(d->operand, k.operand_ll, k.operand_type), k.operand_text);
    }
    EXPECT_EQ(d->replacement_type, k.replacement_type);
    EXPECT_EQ(d->replacement_ll, k.replacement_ll);
    ASSERT_NE(d->replacement, nullptr);
    EXPECT_EQ(image_text(d->replacement, k.replacement_ll, k.replacement_type), k.replacement_text);
    EXPECT_STREQ(d->replacement_column, k.replacement_column);
    // The operand image is the first half of the block the replacement image ends.
    if (d->operand != nullptr) {
        EXPECT_EQ(d->replacement, d->operand + OPERANDLL);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, DecodeRules,
    ::testing::Values(
        rule_case{"STATUS = 1 , 'UP'", nullptr, 1, 1, 1.0, 1, "1", "", 0, 2, 2, "UP", ""},
        rule_case{"CPU > 90 , 'HIGH'", nullptr, 2, 1, 90.0, 2, "90", "", 0, 2, 4, "HIGH", ""},
        rule_case{"CPU < 2.5 , 0", nullptr, 3, 1, 2.5, 3, "2.5", "", 0, 1, 1, "0", ""},
        rule_case{"CPU >= 5 , OTHER", nullptr, 6, 1, 5.0, 1, "5", "", 0, 3, 0, "", "OTHER"},
        rule_case{"CPU <= 5 , 1", nullptr, 7, 1, 5.0, 1, "5", "", 0, 1, 1, "1", ""},
        rule_case{"NAME ~= 'x y' , 'z'", nullptr, 8, 2, 0.0, 3, "x y", "", 0, 2, 1, "z", ""},
        rule_case{"NAME search 'abc' , 'Y'", nullptr, 9, 2, 0.0, 3, "abc", "", 0, 2, 1, "Y", ""},
        rule_case{"NAME SEARCH 'abc' , 'Y'", nullptr, 9, 2, 0.0, 3, "abc", "", 0, 2, 1, "Y", ""},
        rule_case{"NAME IN PROCS.LIST1 , 'Y'", nullptr, 10, 5, 0.0, 0, "", "PROCS.LIST1", 0, 2, 1,
                  "Y", ""},
        rule_case{"NAME in L1 , 'Y'", nullptr, 10, 5, 0.0, 0, "", "L1", 0, 2, 1, "Y", ""},
        rule_case{"A = B , 'same'", nullptr, 1, 3, 0.0, 0, "", "B", 0, 2, 4, "same", ""},
        rule_case{"FLAGS & 4 , 'SET'", nullptr, 11, 1, 0.0, 1, nullptr, "", 4, 2, 3, "SET", ""},
        rule_case{"STATE NULL 'n/a'", nullptr, 4, 0, 0.0, 0, nullptr, "", 0, 2, 3, "n/a", ""},
        rule_case{"STATE null 7", nullptr, 4, 0, 0.0, 0, nullptr, "", 0, 1, 1, "7", ""},
        rule_case{"STATE DEFAULT 0", nullptr, 5, 0, 0.0, 0, nullptr, "", 0, 1, 1, "0", ""},
        rule_case{"STATE default OTHER", nullptr, 5, 0, 0.0, 0, nullptr, "", 0, 3, 0, "", "OTHER"},
        rule_case{"CPU > 90 run ALERT", nullptr, 2, 1, 90.0, 2, "90", "", 0, 4, 0, "", "ALERT"},
        rule_case{"CPU > 90 RUN ALERT", nullptr, 2, 1, 90.0, 2, "90", "", 0, 4, 0, "", "ALERT"},
        rule_case{"STATUS = 'RUNNING' , ' '", nullptr, 1, 2, 0.0, 7, "RUNNING", "", 0, 2, 1, " ",
                  ""},
        // Errors.
        rule_case{"", "PDE3740E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU", "PDE3775E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU equal 1 , 2", "PDE3775E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU between 1 , 2", "PDE3750E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU ! 1 , 2", "PDE3760E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU <> 1 , 2", "PDE3765E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU Null 1", "PDE3755E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU Search 1 , 2", "PDE3770E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU =", "PDE3780E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"FLAGS & X , 'SET'", "PDE3785E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90 'HIGH'", "PDE3800E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90", "PDE3795E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90 ,", "PDE3795E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90 and IN 3 , 1", "PDE3920E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90 and NULL 3 , 1", "PDE3930E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90 and DEFAULT 3 , 1", "PDE3930E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "",
                  ""},
        rule_case{"CPU > 90 and ! 3 , 1", "PDE3915E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90 and Search 3 , 1", "PDE3925E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "",
                  ""},
        rule_case{"CPU > 90 and <", "PDE3940E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""},
        rule_case{"CPU > 90 and & Y , 1", "PDE3945E", 0, 0, 0, 0, nullptr, "", 0, 0, 0, "", ""}),
    case_names(&rule_case::text));

std::string repeat(char c, int n) { return std::string(static_cast<size_t>(n), c); }

// Names and values at and beyond their limits.
TEST(DecodeLimits, NamesAndValues) {
    struct limit_case {
        std::string text;
        const char* message;
    };
    const std::string n49 = repeat('C', 49), n50 = repeat('C', 50);
    const std::string s256 = "'" + repeat('s', 256) + "'", s257 = "'" + repeat('s', 257) + "'";
    const limit_case cases[] = {
        {n49 + " = 1 , 2", nullptr},
        {n50 + " = 1 , 2", "PDE3745E"},
        {"A = " + n49 + " , 2", nullptr},
        {"A = " + n50 + " , 2", "PDE3790E"},
        {"A = 1 , " + n49, nullptr},
        {"A = 1 , " + n50, "PDE3805E"},
        {"A = 1 and = " + n50 + " , 2", "PDE3950E"},
        {"A = " + s256 + " , 2", nullptr},
        {"A = " + s257 + " , 2", "PDE3786E"},
        {"A = 1 , " + s256, nullptr},
        {"A = 1 , " + s257, "PDE3806E"},
        {"A = 1 and = " + s257 + " , 2", "PDE3951E"},
        {"A NULL " + s257, "PDE3786E"},
    };
    for (const limit_case& k : cases) {
        test_cursor cur;
        LogCapture log;
        clause_text text(k.text);
        int rc = parse_decode(cur.c, text);
        if (k.message == nullptr) {
            EXPECT_EQ(rc, 0) << k.text << log.text();
        } else {
            EXPECT_EQ(rc, 1) << k.text;
            EXPECT_TRUE(log.has(k.message)) << k.text << log.text();
        }
    }
}

TEST(DecodeImages, FullWidthValuesFillTheirHalves) {
    test_cursor cur;
    std::string s = repeat('a', 255) + "z";
    clause_text text("A = '" + s + "' , '" + repeat('r', 255) + "q'");
    ASSERT_EQ(parse_decode(cur.c, text), 0);
    const decode_op* d = cur.c->decode->decode_op;
    EXPECT_EQ(std::string(d->operand, 256), s);
    EXPECT_EQ(d->replacement[255], 'q');
}

TEST(DecodeImages, NumbersRightAlignedStringsFromTheStart) {
    test_cursor cur;
    clause_text text("STATUS = 123 , 45");
    ASSERT_EQ(parse_decode(cur.c, text), 0);
    const char* block = cur.c->decode->decode_op->operand;
    EXPECT_EQ(std::string(block, 253), repeat(' ', 253));
    EXPECT_EQ(std::string(block + 253, 3), "123");
    EXPECT_EQ(std::string(block + 256, 254), repeat(' ', 254));
    EXPECT_EQ(std::string(block + 510, 2), "45");

    test_cursor cur2;
    clause_text text2("NAME = 'abc' , 'xy'");
    ASSERT_EQ(parse_decode(cur2.c, text2), 0);
    const char* b2 = cur2.c->decode->decode_op->operand;
    EXPECT_EQ(std::string(b2, 4), "abc ");
    EXPECT_EQ(std::string(b2 + 3, 253), repeat(' ', 253));
    EXPECT_EQ(std::string(b2 + 256, 3), "xy ");
    EXPECT_EQ(std::string(b2 + 258, 254), repeat(' ', 254));
}

TEST(DecodeAnd, PartsInOrderWithTheirImages) {
    test_cursor cur;
    clause_text text("CPU > 90 and < 100 AND ~= 'abd' and & 8 and = OTHER run ALERT");
    ASSERT_EQ(parse_decode(cur.c, text), 0);
    const decode_op* d = cur.c->decode->decode_op;
    EXPECT_EQ(d->replacement_type, DRK_RUN);
    EXPECT_STREQ(d->replacement_column, "ALERT");
    const and_part* a = d->and_;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->operatr, DOP_LT);
    EXPECT_EQ(a->operand_type, DOK_NUMBER);
    EXPECT_DOUBLE_EQ(a->op_num, 100.0);
    EXPECT_EQ(a->operand_ll, 3);
    EXPECT_EQ(std::string(a->operand + 253, 3), "100");
    a = a->next;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->operatr, DOP_NE);
    EXPECT_EQ(a->operand_type, DOK_STRING);
    EXPECT_EQ(a->operand_ll, 3);
    EXPECT_EQ(std::string(a->operand, 4), "abd ");
    a = a->next;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->operatr, DOP_AND_MASK);
    EXPECT_EQ(a->andee, 8);
    a = a->next;
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->operand_type, DOK_COLUMN);
    EXPECT_STREQ(a->operand_column, "OTHER");
    ASSERT_NE(a->operand, nullptr);
    EXPECT_EQ(std::string(a->operand, 256), repeat(' ', 256));
    EXPECT_EQ(a->next, nullptr);
}

TEST(DecodeAnd, ParseAndReturnsThePositionAfterItsOperand) {
    clause_text text("< 100 , 'x'");
    char* end = text.get() + std::strlen(text.get());
    and_part* head = nullptr;
    char* after = parse_and(&head, text, end);
    ASSERT_NE(after, nullptr);
    EXPECT_EQ(std::string(after, 4), " , '");
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->operatr, DOP_LT);
    U_FREE(head->operand);
    U_FREE(head);
}

TEST(DecodeChains, RulesJoinTheirColumn) {
    test_cursor cur;
    for (const char* t : {"STATUS = 1 , 'UP'", "CPU > 9 , 'HI'", "STATUS = 0 , 'DOWN'"}) {
        clause_text text(t);
        ASSERT_EQ(parse_decode(cur.c, text), 0) << t;
    }
    const decode* d = cur.c->decode;
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->col_name, "STATUS");
    ASSERT_NE(d->decode_op, nullptr);
    EXPECT_EQ(std::string(d->decode_op->replacement, 2), "UP");
    ASSERT_NE(d->decode_op->next, nullptr);
    EXPECT_EQ(std::string(d->decode_op->next->replacement, 4), "DOWN");
    ASSERT_NE(d->next, nullptr);
    EXPECT_STREQ(d->next->col_name, "CPU");
    EXPECT_EQ(d->next->next, nullptr);
}

TEST(DecodeChains, RefusedRuleLeavesEarlierRulesAlone) {
    test_cursor cur;
    clause_text good("STATUS = 1 , 'UP'");
    ASSERT_EQ(parse_decode(cur.c, good), 0);
    clause_text bad("STATUS = 2 and < 5 'x'");
    EXPECT_EQ(parse_decode(cur.c, bad), 1);
    EXPECT_EQ(cur.c->decode->decode_op->next, nullptr);
}

TEST(DecodeTrace, TracedCursorShowsTheRule) {
    test_cursor cur;
    cur.c->traced = 1;
    LogCapture log;
    clause_text text("STATUS = 12 , 'UP'");
    ASSERT_EQ(parse_decode(cur.c, text), 0);
    EXPECT_TRUE(log.has("Decode_op->operatr = 1")) << log.text();
    EXPECT_TRUE(log.has("Decode_op->operator = 12"));
    EXPECT_TRUE(log.has("Decode_op->replacement = UP"));
    EXPECT_TRUE(log.has("Has no and text"));

    test_cursor quiet;
    LogCapture none;
    clause_text t2("STATUS = 12 , 'UP'");
    ASSERT_EQ(parse_decode(quiet.c, t2), 0);
    EXPECT_FALSE(none.has("Decode_op"));
}

TEST(DecodeTrace, MaskRuleHasNoOperandToShow) {
    test_cursor cur;
    cur.c->traced = 1;
    LogCapture log;
    clause_text text("FLAGS & 4 , 'SET'");
    ASSERT_EQ(parse_decode(cur.c, text), 0);
    EXPECT_TRUE(log.has("No operand"));
}

}  // namespace
