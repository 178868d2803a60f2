// Merge of result-set rows into stored cursor rows.
#include "acquire/fetch_merge.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acquire/result_sets.h"
#include "defs/clause_loads.h"
#include "model/row_data.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"

namespace {

constexpr const char* kStamp = "20260101120000";

struct RCol {
    const char* name;
    int length;
    int type;  // 1 character, 2 number
};

// A result set with the named columns and rows of values (each padded to its column).
class Results {
  public:
    explicit Results(std::vector<RCol> cols) {
        a_ = DBX_init(nullptr, nullptr, nullptr);
        d_ = DB_DATA_init(a_, nullptr, 1);
        _columnData* c = COLUMN_DATA_init(d_, static_cast<int>(cols.size()));
        int at = 0;
        for (size_t i = 0; i < cols.size(); ++i) {
            std::strcpy(c[i].name, cols[i].name);
            c[i].type = cols[i].type;
            c[i].conv_type = 1;
            c[i].length = c[i].width = cols[i].length;
            c[i].offset = at;
            at += cols[i].length;
        }
        d_->maxRowSize = at + 1;
    }
    ~Results() { DBX_free(a_); }
    _rowData* add(const std::vector<std::string>& values) {
        _rowData* r = ROW_DATA_init(d_);
        for (size_t i = 0; i < values.size(); ++i)
            r->col[i].length = convertData(d_->Acoldata[i].length, r->col[i].value, 1, -1,
                                           values[i].c_str(), 1, CVD_PAD | CVD_LEFTNUM);
        return r;
    }
    _anchorDBdata* get() const { return d_; }

  private:
    _anchorDBX* a_;
    _anchorDBdata* d_;
};

// A cursor whose columns are not resolved yet.
struct Fresh : cursortest::cursor {
    Fresh(const char* name, std::vector<cursortest::col_spec> cols)
        : cursortest::cursor(name, std::move(cols)) {
        get()->cols_set = 0;
        for (columns* col = get()->insert_columns; col; col = col->next) {
            col->from = nullptr;
            col->len = 0;
        }
    }
    columns* col(int i) const {
        columns* c = get()->insert_columns;
        while (i-- > 0) c = c->next;
        return c;
    }
    std::string last_text() const {
        return std::string(get()->last_row->text, static_cast<size_t>(get()->length));
    }
};

char buffer[ccmr_buffer_size];

TEST(MergeResults, NamesIgnoreCaseAndNBangTakesPositions) {
    Results r({{"NAME", 6, 1}, {"VAL", 4, 2}});
    _rowData* row = r.add({"abc", "12"});
    Fresh c("CUR", {{"name", 0, 1}, {"X", 0, 1}});
    c.col(1)->occurance = 2;
    ASSERT_EQ(ccmr_mergeResults(buffer, c.get(), r.get(), row, kStamp), 11);
    EXPECT_EQ(c.last_text(), std::string("abc   \0"
                                         "12  ",
                                         11));
    EXPECT_EQ(c.col(0)->occurance, 1);
    EXPECT_EQ(c.col(1)->len, 4);
    EXPECT_EQ(c.col(1)->orig_type, 2);
    EXPECT_EQ(c.get()->count, 1);
    EXPECT_EQ(c.get()->cols_set, 1);
}

TEST(MergeResults, NullValuesByFieldWidthAndType) {
    Results r({{"C6", 6, 1}, {"N5", 5, 2}, {"C3", 3, 1}});
    _rowData* row = r.add({"x", "1", "y"});
    for (int i = 0; i < 3; ++i) r.get()->Acoldata[i].indicator = -1;
    Fresh c("CUR", {{"C6", 0, 1}, {"N5", 0, 1}, {"C3", 0, 1}});
    ASSERT_GT(ccmr_mergeResults(buffer, c.get(), r.get(), row, kStamp), 0);
    EXPECT_EQ(c.last_text(), std::string("NULL  \0    0\0NUL", 16));
}

TEST(MergeResults, LimitDropsTheOldestRow) {
    Results r({{"V", 4, 1}});
    Fresh c("CUR", {{"V", 0, 1}});
    c.get()->limit = 10;
    for (int i = 1; i <= 11; ++i)
        ASSERT_GT(ccmr_mergeResults(buffer, c.get(), r.get(), r.add({std::to_string(i)}), kStamp),
                  0);
    EXPECT_EQ(c.get()->count, 10);
    EXPECT_EQ(std::string(c.get()->first_row->text, 1), "2");
}

TEST(MergeResults, UnboundColumnFailsTheRowWithoutHolding) {
    LogCapture log;
    Results r({{"A", 4, 1}});
    _rowData* row = r.add({"a"});
    Fresh c("CUR", {{"A", 0, 1}, {"MISSING", 0, 1}});
    c.col(1)->len = 4;  // a length of its own is no value
    EXPECT_EQ(ccmr_mergeResults(buffer, c.get(), r.get(), row, kStamp), 0);
    EXPECT_TRUE(log.has("CMR1590E"));
    EXPECT_NE(c.get()->held, 'Y');
    EXPECT_EQ(c.get()->count, 0);
}

TEST(MergeResults, RowWiderThanTheBufferHolds) {
    LogCapture log;
    Results r({{"A", 5000, 1}, {"B", 5000, 1}, {"C", 5000, 1}});
    _rowData* row = r.add({"a", "b", "c"});
    Fresh c("CUR", {{"A", 0, 1}, {"B", 0, 1}, {"C", 0, 1}});
    EXPECT_EQ(ccmr_mergeResults(buffer, c.get(), r.get(), row, kStamp), 0);
    EXPECT_TRUE(log.has("CMR1605E"));
    EXPECT_EQ(c.get()->held, 'Y');
}

TEST(MergeResults, NoResultSetHoldsByName) {
    LogCapture log;
    Fresh c("CUR", {{"A", 0, 1}});
    EXPECT_EQ(ccmr_mergeResults(buffer, c.get(), nullptr, nullptr, kStamp), 0);
    EXPECT_TRUE(log.has("CMR1585E"));
    EXPECT_EQ(c.get()->held, 'Y');
}

// ORDERS rows name a customer by CID; CNAME comes from CUST's row with that ID.
class Bases : public ::testing::Test {
  protected:
    Bases() : cust_("CUST", {{"ID", 4, 1}, {"NAME", 6, 1}}), orders_("ORDERS", {{"CID", 0, 1}}) {
        cust_.add({"70", "seven0"});
        cust_.add({"7", "seven"});
        cust_.add({"8", "eight"});
        cust_.get()->length = 4 + 1 + 6 + 1;  // as its merge left it: two values, NULs behind
        columns* cname = columns_new();
        std::strcpy(cname->col_name, "CNAME");
        cname->col_name_ll = 5;
        cname->base_column = cust_.get()->insert_columns->next;
        cname->base_cursor = cust_.get();
        orders_.col(0)->next = cname;
        std::strcpy(b_.cur_name, "CUST");
        b_.curs = cust_.get();
        std::strcpy(b_.this_col, "CID");
        b_.this_col_ll = 3;
        b_.b_col = cust_.get()->insert_columns;
        orders_.get()->base = &b_;
    }
    ~Bases() override { orders_.get()->base = nullptr; }
    std::string merged_name(const char* cid) {
        _rowData* row = results_.add({cid});
        if (ccmr_mergeResults(buffer, orders_.get(), results_.get(), row, kStamp) <= 0) return "?";
        const columns* cname = orders_.col(1);
        return std::string(orders_.get()->last_row->text + cname->offset,
                           static_cast<size_t>(cname->len));
    }
    cursortest::cursor cust_;
    Fresh orders_;
    base b_{};
    Results results_{{{"CID", 4, 1}}};
};

TEST_F(Bases, KeyMatchesWholeValueNotAPrefix) {
    LogCapture log;
    EXPECT_EQ(merged_name("7"), "seven ");
    EXPECT_EQ(merged_name("8"), "eight ");
    EXPECT_FALSE(log.has("CMR3350W"));
}

TEST_F(Bases, UnmatchedKeyFallsBackToLastRow) {
    LogCapture log;
    EXPECT_EQ(merged_name("9"), "eight ");
    EXPECT_TRUE(log.has("CMR3350W"));
    EXPECT_EQ(merged_name(""), "eight ");  // an empty key matches no row
}

TEST_F(Bases, DummyBaseRowIsNoWarning) {
    LogCapture log;
    cust_.get()->conditional_dummy = 1;
    EXPECT_EQ(merged_name("9"), "eight ");
    EXPECT_FALSE(log.has("CMR3350W"));
}

TEST(SetupDummy, LaysOutResultColumnsWithoutOverlap) {
    LogCapture log;
    Results r({{"B", 4, 2}, {"A", 6, 1}});
    Fresh c("CUR", {{"a", 0, 1}, {"b", 0, 1}});
    EXPECT_EQ(ccmr_setup_dummy(c.get(), r.get()->Acoldata, r.get()->ncols), 0);
    EXPECT_EQ(c.col(0)->offset, 0);
    EXPECT_EQ(c.col(0)->len, 6);
    EXPECT_EQ(c.col(1)->offset, 7);
    EXPECT_EQ(c.col(1)->orig_type, 2);
    EXPECT_EQ(c.get()->length, 12);
    EXPECT_NE(c.get()->held, 'Y');

    Fresh d("CUR2", {{"a", 0, 1}});
    EXPECT_EQ(ccmr_setup_dummy(d.get(), nullptr, 0), 0);
    EXPECT_TRUE(log.has("CDU4530E"));
    EXPECT_EQ(d.get()->held, 'Y');
}

}  // namespace
