// Which rule of a chain holds for a value.
#include "collector/transforms/decode_eval.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collector/tests/decode_fixture.h"
#include "collector/transforms/decode.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

using decode_test::world_cursor;

// One value of column VAL in cursor T, whose row also holds WIDE (300 characters "ABC")
// and N (numeric 4, "  25"); the cursor EMPTY has no rows; L holds the in-lists DBS,
// DB10, NUMS and BLANKS.
struct eval_case {
    const char* what;
    int16_t type;  // 2 numeric
    int16_t width;
    const char* value;
    int indicator;
    std::vector<const char*> rules;  // after "VAL "
    int expected;                    // index of the rule that holds; -1 none
    const char* message = nullptr;   // written, or null
};

class EvalDecode : public ::testing::TestWithParam<eval_case> {};

TEST_P(EvalDecode, RuleThatHolds) {
    const eval_case& k = GetParam();
    world_cursor t("T", {{"VAL", k.width, k.type}, {"WIDE", 300, 1}, {"N", 4, 2}});
    world_cursor empty("EMPTY", {{"C", 4, 1}});
    world_cursor lists("L", {{"X", 4, 1}});
    lists.in_list_text("DBS", "( 'DB1' , 'DB2' )");
    lists.in_list_text("DB10", "( 'DB10' )");
    lists.in_list_text("NUMS", "(    7 ,   12 )");
    lists.in_list_text("BLANKS", "( 'A' , ' ' )");
    t.rows().add({k.value, "ABC", "  25"});
    for (const char* r : k.rules) ASSERT_TRUE(t.rule(std::string("VAL ") + r)) << r;
    LogCapture log;
    ASSERT_EQ(bind_decodes(), 0) << log.text();

    columns* col = t.col("VAL");
    std::vector<decode_op*> chain;
    for (decode_op* d = col->decode_op; d != nullptr; d = d->next) chain.push_back(d);
    decode_op* want = k.expected < 0 ? nullptr : chain.at(static_cast<size_t>(k.expected));
    char* row = t.get()->last_row->text;
    // Twice: an evaluation leaves the rules as it found them.
    for (int pass = 0; pass < 2; ++pass) {
        EXPECT_EQ(eval_decode(col, row + col->offset, row, k.indicator, t.get(), col->decode_op),
                  want)
            << "pass " << pass;
    }
    if (k.message != nullptr) {
        EXPECT_TRUE(log.has(k.message)) << log.text();
    }
    decode_warnings_report();
}

INSTANTIATE_TEST_SUITE_P(
    Table, EvalDecode,
    ::testing::Values(
        eval_case{"first of two that hold", 2, 5, "   15", 0, {"> 10 , 1", "= 15 , 2"}, 0},
        eval_case{"string padded to width", 1, 8, "ABC", 0, {"= 'ABC' , 'x'"}, 0},
        eval_case{"search found", 1, 10, "NO ERRORS", 0, {"SEARCH 'ERR' , 'x'"}, 0},
        eval_case{"search not found", 1, 10, "NONE", 0, {"SEARCH 'ERR' , 'x'"}, -1},
        eval_case{"mask 4 on 6", 2, 4, "   6", 0, {"& 4 , 1"}, 0},
        eval_case{"mask 4 on 9", 2, 4, "   9", 0, {"& 4 , 1"}, -1},
        eval_case{"null rule after one that holds", 2, 5, "   15", -1, {"= 15 , 1", "NULL 0"}, 1},
        eval_case{"null value without null rule", 2, 5, "   15", -1, {"= 15 , 1"}, 0},
        eval_case{"null rule passed over", 2, 5, "   15", 0, {"NULL 0", "> 1 , 1"}, 1},
        eval_case{"second of two defaults",
                  1,
                  4,
                  "Q",
                  0,
                  {"= 'A' , 1", "DEFAULT 'd1'", "= 'B' , 2", "DEFAULT 'd2'"},
                  3},
        eval_case{"in DB1", 1, 8, "DB1", 0, {"IN L.DBS , 'x'"}, 0},
        eval_case{"DB10 not in DB1 list", 1, 8, "DB10", 0, {"IN L.DBS , 'x'"}, -1},
        eval_case{"DB10 listed", 1, 8, "DB10", 0, {"IN L.DB10 , 'x'"}, 0},
        eval_case{"DB1 not in DB10 list", 1, 8, "DB1", 0, {"IN L.DB10 , 'x'"}, -1},
        eval_case{"numeric 7 in full width list", 2, 6, "     7", 0, {"IN L.NUMS , 1"}, 0},
        eval_case{"numeric 2 not in 12", 2, 4, "   2", 0, {"IN L.NUMS , 1"}, -1},
        eval_case{"blank in blank entry", 1, 4, "", 0, {"IN L.BLANKS , 'x'"}, 0},
        eval_case{"right column of width 300", 1, 8, "ABC", 0, {"= 'Z' , 1", "= WIDE , 'w'"}, 1},
        eval_case{"wider right column widens later compares",
                  1,
                  8,
                  "ABC",
                  0,
                  {"~= WIDE , 'w'", "= 'ABC' , 2"},
                  1},
        eval_case{"number against character column", 1, 6, "  42", 0, {"= 42 , 1"}, 0},
        eval_case{"greater against character column", 1, 6, "42", 0, {"> 100 , 1", "> 10 , 2"}, 1},
        eval_case{"no number in character column", 1, 6, "4x2", 0, {"= 4 , 1", "< 100 , 2"}, -1},
        eval_case{"and parts all hold", 2, 4, "  15", 0, {"> 10 and < 20 , 1"}, 0},
        eval_case{"failed and part goes on",
                  2,
                  4,
                  "  25",
                  0,
                  {"> 10 and < 20 , 1", "> 20 and = N and & 1 , 2"},
                  1},
        eval_case{"and search part", 1, 10, "NO ERRORS", 0, {"~= 'X' and SEARCH 'ORS' , 1"}, 0},
        eval_case{
            "cursor without rows", 2, 4, "   1", 0, {"= EMPTY.C , 1", "DEFAULT 2"}, -1, "CDE4365W"},
        eval_case{"and column of cursor without rows",
                  2,
                  4,
                  "   1",
                  0,
                  {"= 1 and = EMPTY.C , 1", "DEFAULT 2"},
                  -1,
                  "CDE4385W"}),
    case_names(&eval_case::what));

// Rules whose operand no pass bound (an iterate_where chain binds only AND columns) do not
// hold; each says so once.
TEST(EvalDecode, UnboundOperandsDoNotHoldAndSaySoOnce) {
    world_cursor t("T", {{"VAL", 4, 2}, {"N", 4, 2}});
    t.rows().add({"   5", "   5"});
    ASSERT_TRUE(t.rule("VAL = N , 1"));
    ASSERT_TRUE(t.rule("VAL IN T.NOLIST , 2"));
    ASSERT_TRUE(t.rule("VAL DEFAULT 3"));
    decode_op* first = t.get()->decode->decode_op;
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    LogCapture log;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(eval_decode(col, row, row, 0, t.get(), first), first->next->next);
    std::string text = log.text();
    size_t first_at = text.find("CDE4366W");
    ASSERT_NE(first_at, std::string::npos) << text;
    size_t second_at = text.find("CDE4366W", first_at + 1);
    ASSERT_NE(second_at, std::string::npos) << text;
    EXPECT_EQ(text.find("CDE4366W", second_at + 1), std::string::npos) << text;
}

// Warnings about missing rows are written for a run's first row, then counted once.
TEST(EvalDecode, MissingRowWarningOncePerRunThenCounted) {
    world_cursor t("T", {{"VAL", 4, 2}});
    world_cursor empty("EMPTY", {{"C", 4, 2}});
    t.rows().add({"   1"});
    ASSERT_TRUE(t.rule("VAL = EMPTY.C , 1"));
    ASSERT_EQ(bind_decodes(), 0);
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    LogCapture log;
    for (int i = 0; i < 4; ++i) eval_decode(col, row, row, 0, t.get(), col->decode_op);
    decode_warnings_report();
    std::string text = log.text();
    size_t at = text.find("CDE4365W");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(text.find("CDE4365W", at + 1), std::string::npos) << text;
    EXPECT_TRUE(log.has("3 more rows of cursor T skipped a decode (cde4365)")) << text;
    // The next run warns again.
    eval_decode(col, row, row, 0, t.get(), col->decode_op);
    EXPECT_NE(log.text().find("CDE4365W", at + 1), std::string::npos);
    decode_warnings_report();
}

// A rule on the age-to cursor of a cursor being aged is skipped with the whole chain.
TEST(EvalDecode, AgeToReferenceSkipsTheDecode) {
    world_cursor t("T", {{"VAL", 4, 2}});
    world_cursor aged("AGED", {{"C", 4, 2}});
    t.rows().add({"   1"});
    aged.rows().add({"   1"});
    ASSERT_TRUE(t.rule("VAL = AGED.C , 1"));
    ASSERT_TRUE(t.rule("VAL DEFAULT 2"));
    ASSERT_EQ(bind_decodes(), 0);
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    EXPECT_EQ(eval_decode(col, row, row, 0, t.get(), col->decode_op), col->decode_op);
    t.get()->age_to = aged.get();
    t.get()->post_age = 1;
    EXPECT_EQ(eval_decode(col, row, row, 0, t.get(), col->decode_op), nullptr);
}

}  // namespace

namespace {

// A traced cursor describes a chain on its first evaluation and opens every later one.
TEST(EvalDecode, TracedChainDescribedOnceThenEachCallOpened) {
    world_cursor t("T", {{"VAL", 6, 2}});
    t.rows().add({"    15"});
    ASSERT_TRUE(t.rule("VAL > 10 and & 4 , 1"));
    ASSERT_TRUE(t.rule("VAL SEARCH 'ab' , 'xy'"));
    ASSERT_EQ(bind_decodes(), 0);
    t.get()->traced = 1;
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    LogCapture log;
    eval_decode(col, row, row, 0, t.get(), col->decode_op);
    std::string first = log.text();
    EXPECT_NE(first.find("Decodes for column VAL(0,6)"), std::string::npos) << first;
    EXPECT_NE(first.find("if VAL  Is greater than '    10'"), std::string::npos) << first;
    EXPECT_NE(first.find(" and  Anded with 4"), std::string::npos) << first;
    EXPECT_NE(first.find(" Replace it with '     1'"), std::string::npos) << first;
    EXPECT_NE(first.find("if VAL  Contains 'ab    '"), std::string::npos) << first;
    EXPECT_EQ(first.find("CDE4345T"), std::string::npos) << first;
    eval_decode(col, row, row, 0, t.get(), col->decode_op);
    std::string second = log.text().substr(first.size());
    EXPECT_NE(second.find("CDE4345T"), std::string::npos) << second;
    EXPECT_EQ(second.find("CDE4230T"), std::string::npos) << second;
}

}  // namespace
