// The decode edit pass and the application of a rule to a row.
#include "collector/transforms/decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collector/tests/decode_fixture.h"
#include "collector/transforms/decode_eval.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

using decode_test::world_cursor;

// A rule on VAL (of the given type and width) of cursor T, whose row also holds SRC
// (character, 10 wide, "0123456789"); EMPTY has no rows.
struct apply_case {
    const char* what;
    int16_t type;
    int16_t width;
    const char* value;
    const char* rule;  // after "VAL "
    const char* after;
    int result;
};

class DoDecode : public ::testing::TestWithParam<apply_case> {};

TEST_P(DoDecode, ValueAfterTheRule) {
    const apply_case& k = GetParam();
    world_cursor t("T", {{"VAL", k.width, k.type}, {"SRC", 10, 1}});
    world_cursor other("O", {{"C", 3, 1}});
    world_cursor empty("EMPTY", {{"C", 4, 1}});
    other.rows().add({"xyz"});
    t.rows().add({k.value, "0123456789"});
    ASSERT_TRUE(t.rule(std::string("VAL ") + k.rule));
    LogCapture log;
    ASSERT_EQ(bind_decodes(), 0) << log.text();
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    EXPECT_EQ(do_decode(col, row + col->offset, row, 0, t.get()), k.result);
    EXPECT_EQ(std::string(row + col->offset, static_cast<size_t>(k.width)), k.after);
    EXPECT_EQ(row[col->offset + k.width], '\0') << "the value stays in its width";
    decode_warnings_report();
}

INSTANTIATE_TEST_SUITE_P(
    Table, DoDecode,
    ::testing::Values(
        apply_case{"number right aligned", 2, 6, "     1", "= 1 , 42", "    42", 0},
        apply_case{"short string padded", 1, 5, "A", "= 'A' , 'xy'", "xy   ", 0},
        apply_case{"long string cut", 1, 5, "A", "= 'A' , 'abcdefgh'", "abcde", 0},
        apply_case{"string into numeric column", 2, 4, "   1", "= 1 , 'ab'", "ab  ", 0},
        apply_case{"wide column into numeric", 2, 4, "   1", "= 1 , SRC", "6789", 0},
        apply_case{"wide column into character", 1, 4, "A", "= 'A' , SRC", "0123", 0},
        apply_case{"narrow column into numeric", 2, 5, "    1", "= 1 , O.C", "  xyz", 0},
        apply_case{"narrow column into character", 1, 5, "A", "= 'A' , O.C", "xyz  ", 0},
        apply_case{"no rule holds", 1, 4, "B", "= 'A' , 'zz'", "B   ", 0},
        apply_case{"hold command keeps the value", 1, 8, "A", "= 'A' , 'hold me'", "A       ", 0},
        apply_case{"command text too wide for a command", 1, 7, "A", "= 'A' , 'hold me'", "hold me",
                   0},
        apply_case{"replacement cursor without rows", 1, 4, "A", "= 'A' , EMPTY.C", "A   ", 1}),
    case_names(&apply_case::what));

// A rule that runs a cursor queues it once per row number that asked.
TEST(DoDecode, CursorToRunQueuedOncePerRow) {
    world_cursor t("T", {{"VAL", 4, 2}});
    world_cursor x("X", {{"C", 4, 2}});
    t.rows().add({"   1"});
    ASSERT_TRUE(t.rule("VAL = 1 run X"));
    ASSERT_EQ(bind_decodes(), 0);
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    for (int rowno : {3, 3, 4}) {
        t.get()->rowno = rowno;
        EXPECT_EQ(do_decode(col, row, row, 0, t.get()), 0);
    }
    std::vector<std::pair<curs*, int>> queued;
    for (curslist* q = t.get()->curslist; q != nullptr; q = q->next)
        queued.emplace_back(q->cur_to_run, q->rowno);
    std::vector<std::pair<curs*, int>> want{{x.get(), 3}, {x.get(), 4}};
    EXPECT_EQ(queued, want);
    EXPECT_EQ(std::string(row, 4), "   1");
}

// A replacement from a cursor without rows warns for the run's first row only.
TEST(DoDecode, MissingReplacementRowWarnsOncePerRun) {
    world_cursor t("T", {{"VAL", 4, 1}});
    world_cursor empty("EMPTY", {{"C", 4, 1}});
    t.rows().add({"A"});
    ASSERT_TRUE(t.rule("VAL = 'A' , EMPTY.C"));
    ASSERT_EQ(bind_decodes(), 0);
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    LogCapture log;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(do_decode(col, row, row, 0, t.get()), 1);
    decode_run_done();
    std::string text = log.text();
    size_t at = text.find("CDE4420W");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find("CDE4420W", at + 1), std::string::npos) << text;
    EXPECT_TRUE(log.has("2 more rows of cursor T skipped a decode (cde4420)")) << text;
}

// A column wider than a value image is never decoded: one warning, the value kept.
TEST(DoDecode, ColumnWiderThanAnImageIsLeftAlone) {
    world_cursor t("T", {{"VAL", 300, 1}});
    t.rows().add({"A"});
    ASSERT_TRUE(t.rule("VAL = 'A' , 'B'"));
    ASSERT_EQ(bind_decodes(), 0);
    columns* col = t.col("VAL");
    char* row = t.get()->last_row->text;
    LogCapture log;
    for (int i = 0; i < 2; ++i) EXPECT_EQ(do_decode(col, row, row, 0, t.get()), 0);
    EXPECT_EQ(row[0], 'A');
    std::string text = log.text();
    size_t at = text.find("CDE4425W");
    ASSERT_NE(at, std::string::npos) << text;
    EXPECT_EQ(text.find("CDE4425W", at + 1), std::string::npos) << text;
}

// After a version change gives the column another width, the replacement follows it.
TEST(DoDecode, ReplacementFollowsAWidthChange) {
    world_cursor t("T", {{"VAL", 4, 2}});
    t.rows().add({"   1"});
    ASSERT_TRUE(t.rule("VAL = 1 , 42"));
    ASSERT_TRUE(t.rule("VAL SEARCH 'b ' , 7"));
    ASSERT_EQ(bind_decodes(), 0);
    columns* col = t.col("VAL");
    std::string row = "   1";
    EXPECT_EQ(do_decode(col, row.data(), row.data(), 0, t.get()), 0);
    EXPECT_EQ(row, "  42");
    // The wider version: the same rules, now over 8 characters.
    col->len = 8;
    ASSERT_EQ(bind_decodes(), 0);
    row = "       1";
    EXPECT_EQ(do_decode(col, row.data(), row.data(), 0, t.get()), 0);
    EXPECT_EQ(row, "      42");
    row = "  ab 5  ";
    col->orig_type = 1;
    EXPECT_EQ(do_decode(col, row.data(), row.data(), 0, t.get()), 0);
    EXPECT_EQ(row, "       7") << "the search text lost its trailing blank, not the rule";
    EXPECT_EQ(std::string(t.get()->decode->decode_op->next->operand, 3), "b  ");
}

// Each reference the pass cannot bind fails it, and the pass goes on to the end.
struct edit_case {
    const char* rule;
    const char* message;
};

class EditDecode : public ::testing::TestWithParam<edit_case> {};

TEST_P(EditDecode, UnboundReferenceFailsThePass) {
    const edit_case& k = GetParam();
    world_cursor t("T", {{"VAL", 4, 1}, {"B", 4, 1}});
    world_cursor lists("L", {{"X", 4, 1}});
    lists.in_list_text("DBS", "( 'A' )");
    ASSERT_TRUE(t.rule(k.rule));
    ASSERT_TRUE(t.rule("VAL = 'B' , B"));  // a good rule after it is still bound
    LogCapture log;
    EXPECT_EQ(bind_decodes(), 1);
    EXPECT_TRUE(log.has(k.message)) << log.text();
    EXPECT_TRUE(log.has("PDE3905E")) << log.text();
    EXPECT_NE(t.get()->decode->decode_op->next == nullptr
                  ? t.get()->decode->next->decode_op->rep_col
                  : t.get()->decode->decode_op->next->rep_col,
              nullptr);
}

INSTANTIATE_TEST_SUITE_P(Table, EditDecode,
                         ::testing::Values(edit_case{"NOPE = 'A' , 'B'", "PDE3900E"},
                                           edit_case{"VAL = NOPE , 'B'", "PDE3880E"},
                                           edit_case{"VAL = 'A' , NOPE", "PDE3885E"},
                                           edit_case{"VAL = 'A' run NOPE", "PDE3890E"},
                                           edit_case{"VAL = 'A' and = NOPE , 'B'", "PDE3895E"},
                                           edit_case{"VAL IN L.NOPE , 'B'", "PIN4510E"},
                                           edit_case{"VAL IN NOPE , 'B'", "PIN4500E"},
                                           edit_case{"VAL IN NOPE.DBS , 'B'", "PIN4505E"}),
                         case_names(&edit_case::message));

TEST(EditDecode, AllBoundSucceedsAndRebindingKeepsOneRunEntry) {
    world_cursor t("T", {{"VAL", 4, 1}, {"B", 4, 1}});
    world_cursor x("X", {{"C", 4, 1}});
    world_cursor lists("L", {{"X", 4, 1}});
    lists.in_list_text("DBS", "( 'A' )");
    ASSERT_TRUE(t.rule("VAL IN L.DBS and = X.C , B"));
    ASSERT_TRUE(t.rule("VAL = B run X"));
    LogCapture log;
    EXPECT_EQ(bind_decodes(), 0);
    EXPECT_TRUE(log.has("PDE3910I")) << log.text();
    decode_op* in = t.get()->decode->decode_op;
    EXPECT_EQ(t.col("VAL")->decode_op, in);
    EXPECT_EQ(in->in_list, lists.get()->in_list);
    EXPECT_EQ(in->and_->op_curs, x.get());
    EXPECT_EQ(in->rep_col, t.col("B"));
    EXPECT_EQ(in->rep_curs, nullptr) << "a column of the cursor itself";
    curslist* entry = in->next->curslist;
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->cur_to_run, x.get());
    EXPECT_EQ(bind_decodes(), 0);
    EXPECT_EQ(in->next->curslist, entry);
}

// Age-to copies are not edited: their columns compute nothing.
TEST(EditDecode, AgeToCopiesAreSkipped) {
    world_cursor t("T", {{"VAL", 4, 1}});
    ASSERT_TRUE(t.rule("NOPE = 'A' , 'B'"));
    t.get()->aged_to = 1;
    LogCapture log;
    EXPECT_EQ(bind_decodes(), 0);
    EXPECT_FALSE(log.has("PDE3900E"));
}

}  // namespace
