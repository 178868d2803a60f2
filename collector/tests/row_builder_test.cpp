// The one row builder as every caller reaches it: a fetch descriptor (merge_text), no source
// at all (merge_text of a cursor without SQL), a result set of a fetch exit or the SQL
// channel (ccmr_mergeResults); and the dummy layouts (setup_dummy, ccmr_setup_dummy).
#include "collector/transforms/row_builder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "acquire/fetch_merge.h"
#include "acquire/result_sets.h"
#include "collector/rows/row_store.h"
#include "collector/tests/row_test_support.h"
#include "collector/transforms/dummy_rows.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::Desc;
using rowtest::parse_one;
using E = std::vector<Desc::entry>;

constexpr const char* stamp = "20261211093000";

// A result set of one row: A ("abc") and N ("42", a number).
class OneRowSet {
  public:
    OneRowSet() {
        a_ = DBX_init(nullptr, nullptr, nullptr);
        d_ = DB_DATA_init(a_, nullptr, 1);
        _columnData* c = COLUMN_DATA_init(d_, 2);
        const char* names[] = {"A", "N"};
        const int lengths[] = {3, 2};
        int at = 0;
        for (int i = 0; i < 2; ++i) {
            std::strcpy(c[i].name, names[i]);
            c[i].type = i + 1;
            c[i].conv_type = 1;
            c[i].length = c[i].width = lengths[i];
            c[i].offset = at;
            at += lengths[i];
        }
        d_->maxRowSize = at + 1;
        row_ = ROW_DATA_init(d_);
        const char* values[] = {"abc", "42"};
        for (int i = 0; i < 2; ++i)
            row_->col[i].length = convertData(lengths[i], row_->col[i].value, 1, -1, values[i], 1,
                                              CVD_PAD | CVD_LEFTNUM);
    }
    ~OneRowSet() { DBX_free(a_); }
    OneRowSet(const OneRowSet&) = delete;
    OneRowSet& operator=(const OneRowSet&) = delete;
    _anchorDBdata* get() const { return d_; }
    _rowData* row() const { return row_; }

  private:
    _anchorDBX* a_;
    _anchorDBdata* d_;
    _rowData* row_;
};

class RowBuilder : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        engine_alloc_work_buff();
    }
    void TearDown() override { pcnt_forget(); }
};

// Every way a fetched row is stored marks the cursor for the historian and the column
// functions, and leaves the same text.
TEST_F(RowBuilder, EveryPathMarksTheCursorChangedAndDueForHistory) {
    struct path {
        const char* name;
        const char* vars;
        std::function<int(curs*)> merge;
        std::string text;
    };
    Desc d(E{{"A", "abc"}, {"N", "42"}});
    d.types = {1, 2};
    OneRowSet set;
    char buffer[ccmr_buffer_size];
    const path paths[] = {
        {"descriptor", "A, N",
         [&](curs* c) { return merge_text(work_buff, d.get(), c, d.types.data(), stamp); },
         std::string("abc\0"
                     "42",
                     6)},
        // Without SQL: a column of another cursor and a percent variable.
        {"no SQL", "X, %rowno",
         [&](curs* c) {
             curs* src = curstest::find("SRC");
             Desc sd(E{{"V", "vv"}});
             if (merge_text(work_buff, sd.get(), src, sd.types.data(), stamp) <= 0) return -1;
             c->insert_columns->base_column = src->insert_columns;
             c->insert_columns->base_cursor = src;
             c->changed = 0;
             c->needs_history = 0;
             return merge_text(work_buff, nullptr, c, nullptr, stamp);
         },
         std::string("vv\0", 3) + std::string(15, ' ') + "7"},
        {"result set", "A, N",
         [&](curs* c) { return ccmr_mergeResults(buffer, c, set.get(), set.row(), stamp); },
         std::string("abc\0"
                     "42",
                     6)},
        {"result set by position", "2!, 1!",
         [&](curs* c) { return ccmr_mergeResults(buffer, c, set.get(), set.row(), stamp); },
         std::string("42\0abc", 6)},
    };
    for (const path& p : paths) {
        LogCapture log;
        curs* c = parse_one(block("SRC", "V") + block("C1", p.vars), "C1");
        ASSERT_NE(c, nullptr) << p.name << log.text();
        pcnt_forget();
        ASSERT_EQ(build_percent_cursor(), 0);
        c->rowno = 7;
        c->changed = 0;
        c->needs_history = 0;
        ASSERT_EQ(p.merge(c), static_cast<int>(p.text.size())) << p.name << log.text();
        ASSERT_EQ(c->count, 1) << p.name;
        EXPECT_EQ(std::string(c->last_row->text, p.text.size()), p.text) << p.name;
        EXPECT_EQ(c->changed, 1) << p.name;
        EXPECT_EQ(c->needs_history, 1) << p.name;
        EXPECT_EQ(c->cols_set, 1) << p.name;
    }
}

// A failed row changes nothing the historian reads.
TEST_F(RowBuilder, AFailedRowLeavesTheMarksAlone) {
    OneRowSet set;
    char buffer[ccmr_buffer_size];
    LogCapture log;
    curs* c = parse_one(block("C1", "A, MISSING"), "C1");
    ASSERT_NE(c, nullptr) << log.text();
    c->changed = 0;
    c->needs_history = 0;
    EXPECT_EQ(ccmr_mergeResults(buffer, c, set.get(), set.row(), stamp), 0);
    EXPECT_TRUE(log.has("CMR1590")) << log.text();
    EXPECT_EQ(c->count, 0);
    EXPECT_EQ(c->changed, 0);
    EXPECT_EQ(c->needs_history, 0);
}

// A result-set merge whose layout fails keeps the layout its rows were built with, as a
// descriptor merge does.
TEST_F(RowBuilder, AFailedResolutionKeepsTheOldLayout) {
    OneRowSet set;
    char buffer[ccmr_buffer_size];
    LogCapture log;
    curs* c = parse_one(block("C1", "A, 2!"), "C1");
    ASSERT_NE(c, nullptr) << log.text();
    ASSERT_EQ(ccmr_mergeResults(buffer, c, set.get(), set.row(), stamp), 6);
    c->cols_set = 0;
    c->insert_columns->next->occurance = 3;
    EXPECT_EQ(ccmr_mergeResults(buffer, c, set.get(), set.row(), stamp), 0);
    EXPECT_TRUE(log.has("CMR1580")) << log.text();
    EXPECT_EQ(c->insert_columns->next->offset, 4);
    EXPECT_EQ(c->insert_columns->next->len, 2);
    EXPECT_EQ(c->count, 1);
}

// A dummy layout that fails leaves the cursor's length as it was, so no short dummy row
// follows; both dummy layouts behave alike.
TEST_F(RowBuilder, AFailedDummyLayoutLeavesTheLength) {
    Desc d(E{{"A", "abc"}});
    OneRowSet set;
    struct layout {
        const char* name;
        std::function<int(curs*)> run;
        const char* id;
    };
    const layout layouts[] = {
        {"descriptor", [&](curs* c) { return setup_dummy(c, d.get(), d.types.data()); }, "CDU4525"},
        {"columns",
         [&](curs* c) { return ccmr_setup_dummy(c, set.get()->Acoldata, set.get()->ncols); },
         "CDU4525"},
        {"no source", [&](curs* c) { return setup_dummy(c, nullptr, nullptr); }, "CDU4530"},
    };
    for (const layout& l : layouts) {
        LogCapture log;
        curs* c = parse_one(block("D", "A, 9!"), "D");
        ASSERT_NE(c, nullptr) << l.name << log.text();
        c->length = 0;
        EXPECT_EQ(l.run(c), 0) << l.name;
        EXPECT_TRUE(log.has(l.id)) << l.name << log.text();
        EXPECT_EQ(c->length, 0) << l.name;
        build_dummy_last_row(c);
        EXPECT_EQ(c->count, 0) << l.name;
    }
}

}  // namespace
