// Dummy rows: their layout without a fetch, their text and their numbering.
#include "collector/transforms/dummy_rows.h"

#include <gtest/gtest.h>

#include "acquire/sql_cursor.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_store.h"
#include "collector/tests/row_test_support.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::column;
using rowtest::Desc;
using rowtest::parse_one;
using E = std::vector<Desc::entry>;

class DummyRows : public ::testing::Test {
  protected:
    void SetUp() override { pcnt_forget(); }
    void TearDown() override { pcnt_forget(); }
    curs* parsed(const std::string& vars, const std::string& extra = "") {
        LogCapture log;
        curs* c = parse_one(block("D", vars, extra), "D");
        EXPECT_NE(c, nullptr) << log.text();
        EXPECT_EQ(build_percent_cursor(), 0);
        return c;
    }
};

TEST_F(DummyRows, LayoutAndTextWithoutAFetch) {
    curs* c = parsed("N, S, %rowno, 2!, L");
    Desc d(E{{"N", "12345"}, {"S", "ab"}, {"L", "abcdefg"}});
    d.types = {2, 1, 1};
    ASSERT_EQ(setup_dummy(c, d.get(), d.types.data()), 0);
    std::vector<int32_t> offsets;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        offsets.push_back(col->offset);
    EXPECT_EQ(offsets, (std::vector<int32_t>{0, 6, 9, 26, 29}));
    EXPECT_EQ(c->length, 29 + 7 + 1);

    c->rowno = 4;
    ASSERT_EQ(build_dummy_last_row(c), 0);
    ASSERT_EQ(c->count, 1);
    // Blanks between the columns, not NULs.
    EXPECT_EQ(std::string(c->last_row->text, static_cast<size_t>(c->length)),
              "    0 N/ " + std::string(15, ' ') + "0 N/ N/A     ");
    EXPECT_EQ(c->last_row->rowno, 5);
    EXPECT_EQ(c->rowno, 5);
    EXPECT_EQ(c->last_row->len, c->length);
    EXPECT_EQ(c->changed, 0);
}

TEST_F(DummyRows, TheLimitHoldsAndANewLengthRebuildsTheText) {
    curs* c = parsed("S");
    Desc d(E{{"S", "abcd"}});
    setup_dummy(c, d.get(), d.types.data());
    c->limit = 2;
    for (int i = 0; i < 3; ++i) build_dummy_last_row(c);
    EXPECT_EQ(c->count, 2);
    EXPECT_EQ(c->first_row->rowno, 2);
    EXPECT_EQ(std::string(c->last_row->text), "N/A  ");

    Desc wider(E{{"S", "abcdefgh"}});
    LogCapture log;
    setup_dummy(c, wider.get(), wider.types.data());
    // Rows of the old layout go.
    EXPECT_TRUE(log.has("CDU4545")) << log.text();
    build_dummy_last_row(c);
    EXPECT_EQ(c->count, 1);
    EXPECT_EQ(std::string(c->last_row->text), "N/A      ");
}

TEST_F(DummyRows, ACursorOfNoLengthGetsNoRow) {
    curs* c = parsed("S");
    EXPECT_EQ(build_dummy_last_row(c), 0);
    EXPECT_EQ(c->count, 0);
}

TEST_F(DummyRows, LayoutFailures) {
    struct fail_case {
        const char* vars;
        bool with_descriptor;
        const char* id;
        bool holds;
    };
    const fail_case cases[] = {
        {"%nosuch", true, "PDU4520", true}, {"3!", true, "CDU4525", false},
        {"S", false, "CDU4530", true},      {"Z", true, "CDU4535", false},
        {"E", true, "CDU4535", false},
    };
    for (const fail_case& k : cases) {
        curs* c = parsed(std::string("S, ") + k.vars);
        Desc d(E{{"S", "ab"}, {"E", ""}});
        LogCapture log;
        EXPECT_EQ(setup_dummy(c, k.with_descriptor ? d.get() : nullptr, d.types.data()), 0);
        EXPECT_TRUE(log.has(k.id)) << k.vars << log.text();
        EXPECT_EQ(c->held == 'Y', k.holds) << k.vars;
    }
}

TEST_F(DummyRows, AConditionalDummyOnlyAfterARunWithoutRows) {
    curs* c = parsed("S", "conditional_dummy_last_row;\n");
    Desc d(E{{"S", "ab"}});
    setup_dummy(c, d.get(), d.types.data());
    row_append(c, "x", 1);
    row_append(c, "y", 1);
    after_fetch_steps(c, 2);
    EXPECT_EQ(c->count, 2);
    delete_all(c);
    c->rowno = 0;
    after_fetch_steps(c, 0);
    ASSERT_EQ(c->count, 1);
    EXPECT_EQ(c->last_row->rowno, 1);
    after_fetch_steps(c, 0);
    EXPECT_EQ(c->count, 1);
}

}  // namespace
