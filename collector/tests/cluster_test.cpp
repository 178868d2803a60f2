// Clusters and column functions over hand-built cursors.
#include "collector/rows/cluster.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collector/rows/column_functions.h"
#include "collector/rows/row_store.h"
#include "collector/run/cursor_answer.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"

namespace {

// A cursor of the shared builder (off the cursor list) with columns of the given widths,
// numeric unless marked; each value is right-aligned in its column as numbers print. What
// the column functions hang on it (the synthetic row, water marks) is freed with it.
class Cursor {
  public:
    explicit Cursor(const std::vector<int>& widths, int16_t numeric_type = 2)
        : built_("CLUSTER", cursortest::cursor::apart), c(built_.get()) {
        for (size_t i = 0; i < widths.size(); ++i) {
            const std::string name = "C" + std::to_string(i + 1);
            columns* col =
                built_.add_column(name.c_str(), static_cast<int16_t>(widths[i]), numeric_type);
            col->oracle_len = col->len;
        }
        built_.lay_out_columns();
        built_.unresolve();  // no column source: these routines read the stored rows only
    }
    ~Cursor() {
        U_FREE(c->column_data);
        for (columns* col = c->insert_columns; col != nullptr; col = col->next)
            U_FREE(col->water_ptr);
    }
    Cursor(const Cursor&) = delete;
    Cursor& operator=(const Cursor&) = delete;

    // Appends a row of the values at sample sampleno, each padded on the left to its
    // column's width (a longer value keeps its head).
    row_data* add(const std::vector<std::string>& values, int sampleno = 0) {
        std::vector<std::string> cells;
        columns* col = c->insert_columns;
        for (const std::string& v : values) {
            const auto width = static_cast<size_t>(col->len);
            cells.push_back(v.size() < width ? std::string(width - v.size(), ' ') + v
                                             : v.substr(0, width));
            col = col->next;
        }
        c->sampleno = sampleno;
        return built_.add(cells);
    }
    columns* col(int n) { return cursortest::column_at(c, n - 1); }

  private:
    cursortest::cursor built_;  // the columns, rows and the record itself

  public:
    curs* c;
};

std::string rows_of(cluster* cl) {
    std::string out;
    while (fetch_cur(cl) == 0) out += std::string(cl->next_row, static_cast<size_t>(cl->len)) + "|";
    return out;
}

struct FunctionCase {
    const char* name;
    int16_t function;
    std::vector<std::string> values;  // "" for a NULL value
    int width;
    int16_t samples;
    std::string expected;
    int min_max_row;  // 1-based index of the row kept; 0 none; -1 not checked
};

class ColumnFunction : public ::testing::TestWithParam<FunctionCase> {};

TEST_P(ColumnFunction, ComputesTheDocumentedText) {
    const FunctionCase& k = GetParam();
    Cursor cur({k.width});
    cur.c->samples = k.samples;
    cur.col(1)->col_function = k.function;
    std::vector<row_data*> rows;
    for (const std::string& v : k.values)
        rows.push_back(cur.add({v.empty() ? std::string("NULL") + std::string(k.width, ' ') : v}));
    // A stale pointer from an earlier computation must not survive.
    cur.c->min_max_row = reinterpret_cast<row_data*>(0x1);
    std::string out(static_cast<size_t>(k.width), 'x');
    ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
    EXPECT_EQ(out, k.expected);
    if (k.min_max_row > 0) {
        EXPECT_EQ(cur.c->min_max_row, rows[static_cast<size_t>(k.min_max_row - 1)]);
    }
    if (k.min_max_row == 0) {
        EXPECT_EQ(cur.c->min_max_row, nullptr);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ColumnFunction,
    ::testing::Values(
        FunctionCase{"Avg", COLF_AVG, {"10.5", "3", "7.25"}, 8, 0, "    6.91", -1},
        FunctionCase{"Sum", COLF_SUM, {"1", "2", "3"}, 4, 0, "   6", -1},
        FunctionCase{"Wavg", COLF_WAVG, {"2", "4", "6"}, 4, 0, "   4", -1},
        FunctionCase{"Trend", COLF_TREND, {"1", "2", "3"}, 10, 0, "  1.166667", -1},
        FunctionCase{"TrendOverZero", COLF_TREND, {"0", "0"}, 10, 0, "  0.000000", -1},
        FunctionCase{"Count", COLF_COUNT, {"a", "b", "c", "d", "e"}, 4, 0, "5.00", -1},
        FunctionCase{"Min", COLF_MIN, {"7", "3", "3"}, 3, 0, "  3", 2},
        FunctionCase{"Max", COLF_MAX, {"7", "9", "9"}, 3, 0, "  9", 2},
        FunctionCase{"NullSkipped", COLF_AVG, {"4", "", "8"}, 6, 0, "     6", -1},
        FunctionCase{"AllNullMin", COLF_MIN, {"", ""}, 10, 0, "  0.000000", 0},
        FunctionCase{"WideTextKeepsHead", COLF_SUM, {"123456.5"}, 3, 0, "123", -1}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ColumnFunctionLimits, WidthAbove255FailsAndWritesNothing) {
    Cursor cur({300});
    cur.col(1)->col_function = COLF_SUM;
    cur.add({"1"});
    std::string out(300, 'x');
    EXPECT_EQ(col_function(cur.c, cur.col(1), out.data()), 1);
    EXPECT_EQ(out, std::string(300, 'x'));
}

TEST(ColumnFunctionLimits, CurrentSampleOnlyAndCountOfTheLastRow) {
    Cursor cur({4});
    cur.c->samples = 2;
    cur.col(1)->col_function = COLF_SUM;
    cur.add({"100"}, 1);
    cur.add({"1"}, 2);
    cur.add({"2"}, 2);
    std::string out(4, 'x');
    ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
    EXPECT_EQ(out, "   3");
    cur.col(1)->col_function = COLF_COUNT;
    ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
    EXPECT_EQ(out, "3.00");
    cur.c->sampleno = 3;  // the last row is of an earlier sample
    ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
    EXPECT_EQ(out, "0.00");
}

TEST(ColumnFunctionLimits, WaterMarksAndCharacterColumns) {
    Cursor cur({12}, 1);
    cur.col(1)->col_function = COLF_HIGH_WATER;
    std::string out(12, 'x');
    ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
    EXPECT_EQ(out, "????????    ");
    cur.add({"bbb"});
    cur.add({"ccc"});
    cur.add({"aaa"});
    cur.col(1)->col_function = COLF_MAX;
    ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
    EXPECT_EQ(out, "         ccc");
    cur.col(1)->col_function = COLF_AVG;
    EXPECT_EQ(col_function(cur.c, cur.col(1), out.data()), 1);
}

TEST(Cluster, FetchGivesEachRowThenEnd) {
    Cursor cur({3, 2});
    cur.add({"a", "1"});
    cur.add({"b", "2"});
    cur.add({"c", "3"});
    cluster* cl = open_cursor(cur.c);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(cl->count, 3);
    std::vector<int> codes;
    std::string seen;
    for (int i = 0; i < 4; ++i) {
        codes.push_back(fetch_cur(cl));
        if (codes.back() == 0) seen += std::string(cl->next_row, 3);
    }
    EXPECT_EQ(codes, (std::vector<int>{0, 0, 0, 100}));
    EXPECT_EQ(seen, "  a  b  c");
    EXPECT_EQ(fetch_cur(cl), 100);
    EXPECT_EQ(close_cur(cl), 0);
    EXPECT_EQ(close_cur(cl), 0);  // no longer registered: left alone
}

TEST(Cluster, NoRowsOrHeldGiveNullAndOtherSamplesGiveAnEmptyCluster) {
    Cursor cur({3});
    EXPECT_EQ(open_cursor(cur.c), nullptr);
    cur.c->samples = 2;
    cur.add({"a"}, 1);
    cur.c->held = 'Y';
    EXPECT_EQ(open_cursor(cur.c), nullptr);
    cur.c->held = 'N';
    cur.c->sampleno = 2;
    cluster* cl = open_cursor(cur.c);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(cl->count, 0);
    EXPECT_EQ(fetch_cur(cl), 100);
    close_cur(cl);
}

TEST(Cluster, StaleAgeToCopyOpensItsRowsAndKeepsThem) {
    Cursor cur({3});
    cur.c->demand = 1;
    cur.c->aged_to = 1;
    cur.c->stale_time = 0;
    cur.add({"a"});
    cur.add({"b"});
    cluster* cl = open_cursor(cur.c);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(rows_of(cl), "  a|  b|");
    close_cur(cl);
    EXPECT_EQ(cur.c->count, 2);
    ASSERT_NE(cur.c->first_row, nullptr);
}

TEST(ColumnData, SyntheticRowTakesTheOtherColumnsFromTheMinRow) {
    Cursor cur({3, 4, 3});
    cur.c->has_col_funct = 1;
    cur.c->has_min_max = 1;
    cur.col(2)->col_function = COLF_MIN;
    cur.add({"a", "7", "x"});
    cur.add({"b", "3", "y"});
    cur.add({"c", "5", "z"});
    cur.c->changed = 1;
    cluster* cl = do_column_func(cur.c, 0);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(rows_of(cl), std::string("  b   3  y", 10) + "|");
    close_cur(cl);
    EXPECT_EQ(cur.c->changed, 0);

    // Unchanged: the stored row is served again even when a row was added behind its back.
    cur.add({"d", "1", "w"});
    cur.c->changed = 0;
    cl = do_column_func(cur.c, 0);
    EXPECT_EQ(rows_of(cl), std::string("  b   3  y", 10) + "|");
    close_cur(cl);

    // Every row gone and new rows without a value: no stale MIN row is read.
    delete_all(cur.c);
    cur.add({"e", "NULL", "v"});
    cl = do_column_func(cur.c, 0);
    EXPECT_EQ(rows_of(cl), std::string("  e0.00  v", 10) + "|");
    close_cur(cl);
}

TEST(ColumnData, AnEmptyCursorGivesOneRowWhetherOrNotItEverHadRows) {
    // A count of 0 is an answer: the synthetic row is served at the first request as after
    // every row has gone, its columns without a function blank.
    Cursor cur({4, 4, 3});
    cur.c->has_col_funct = 1;
    cur.c->has_min_max = 1;
    cur.c->cvirtual = 1;  // nothing to run: the cursor stays empty
    cur.col(1)->col_function = COLF_SUM;
    cur.col(2)->col_function = COLF_COUNT;
    const std::string empty_row = std::string("   00.00   ", 11) + "|";
    cluster* cl = do_column_func(cur.c, 0);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(rows_of(cl), empty_row);
    close_cur(cl);

    cur.add({"7", "", "a"});
    cur.c->last_row->rowno = 1;
    cur.c->changed = 1;
    cl = do_column_func(cur.c, 0);
    EXPECT_EQ(rows_of(cl), std::string("   71.00  a", 11) + "|");
    close_cur(cl);

    delete_all(cur.c);
    cl = do_column_func(cur.c, 0);
    ASSERT_NE(cl, nullptr);
    EXPECT_EQ(rows_of(cl), empty_row);
    close_cur(cl);
}

TEST(ColumnFunctionLimits, CountOfARowMergingCursorIsItsRowsOfTheLastRun) {
    // Fetch exits and channel answers raise tiCount at every merged row and never lower
    // it; the count is that of the rows the last run (the current sample) left.
    Cursor cur({4});
    cur.col(1)->col_function = COLF_COUNT;
    std::string out(4, 'x');
    for (int run = 1; run <= 3; ++run) {
        delete_all(cur.c);  // an exit with "empty"
        cur.add({"a"}, run);
        cur.add({"b"}, run);
        cur.c->tiCount += 2;
        ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
        EXPECT_EQ(out, "2.00") << "run " << run;
    }
    cur.add({"c"}, 4);  // without "empty": the rows of earlier runs stay
    cur.c->tiCount += 1;
    ASSERT_EQ(col_function(cur.c, cur.col(1), out.data()), 0);
    EXPECT_EQ(out, "1.00");
}

}  // namespace
