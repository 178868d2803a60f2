// Binary rows: layout and conversion.
#include "collector/rows/row_format.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "collector/tests/row_test_support.h"
#include "runtime/dates.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::column;
using rowtest::parse_one;

// A cursor of the given host variables laid out as a merge would with the given lengths.
curs* laid_out(const char* vars, std::vector<int16_t> lens, std::vector<int16_t> types = {}) {
    curs* c = parse_one(block("R", vars), "R");
    if (c == nullptr) return nullptr;
    int32_t at = 0;
    size_t i = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next, ++i) {
        col->len = lens[i];
        col->orig_type = i < types.size() ? types[i] : 1;
        col->offset = at;
        at += col->len + 1;
    }
    c->length = at - 1;
    return c;
}

// A row text with the values at the columns' offsets.
std::string text_of(curs* c, std::vector<std::string> values) {
    std::string t(static_cast<size_t>(c->length) + 1, '\0');
    size_t i = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next, ++i)
        std::memcpy(&t[static_cast<size_t>(col->offset)], values[i].data(), values[i].size());
    return t;
}

TEST(RowFormat, SlkBytesRoundsUp) {
    EXPECT_EQ(slk_bytes(0, 4), 0);
    EXPECT_EQ(slk_bytes(5, 4), 3);
    EXPECT_EQ(slk_bytes(8, 4), 0);
    EXPECT_EQ(slk_bytes(13, 8), 3);
}

TEST(RowFormat, LayoutAlignsNumbersAndLeavesOutNotSent) {
    LogCapture log;
    curs* c = laid_out("A, INT!B^9, C, FLOAT!D, NS!E^4, F", {5, 10, 3, 10, 7, 2});
    ASSERT_NE(c, nullptr) << log.text();
    EXPECT_EQ(get_row_size(c), 26);
    std::vector<int16_t> offsets;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        offsets.push_back(col->row_offset);
    EXPECT_EQ(offsets, (std::vector<int16_t>{0, 8, 12, 16, 0, 24}));
    EXPECT_EQ(column(c, 2)->caret_ll, 0);
    EXPECT_EQ(column(c, 5)->caret_ll, 0);
}

TEST(RowFormat, ARowPastTheOffsetWidthIsRefused) {
    LogCapture log;
    curs* c = laid_out("A^30000, B^30000", {5, 5});
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(get_row_size(c), -1);
    EXPECT_TRUE(log.has("DMK3740")) << log.text();
    curs* one = laid_out("A^30000, B", {5, 5});
    EXPECT_EQ(get_row_size(one), 30005);
}

struct number_case {
    const char* text;
    int32_t expected;
};

TEST(RowFormat, IntegersSkipBlanksAndSaturate) {
    const number_case cases[] = {
        {"   42", 42},
        {"     ", 0},
        {"   -7", -7},
        {"3000000000", INT32_MAX},
        {"-3000000000", INT32_MIN},
        {"12abc", 12},
    };
    for (const number_case& k : cases) {
        LogCapture log;
        int16_t len = static_cast<int16_t>(std::strlen(k.text));
        curs* c = laid_out("INT!N", {len});
        ASSERT_NE(c, nullptr);
        ASSERT_EQ(get_row_size(c), 4);
        char row[4] = {};
        make_row(c, row, text_of(c, {k.text}).data());
        int32_t v;
        std::memcpy(&v, row, 4);
        EXPECT_EQ(v, k.expected) << '"' << k.text << '"';
    }
}

TEST(RowFormat, FloatsAndEmptyValues) {
    LogCapture log;
    curs* c = laid_out("A, FLOAT!F, INT!Z", {1, 6, 0});
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(get_row_size(c), 20);
    char row[20];
    std::memset(row, 0x55, sizeof row);
    make_row(c, row, text_of(c, {"x", "  2.25", ""}).data());
    double f;
    int32_t z;
    std::memcpy(&f, row + 8, 8);
    std::memcpy(&z, row + 16, 4);
    EXPECT_EQ(row[0], 'x');
    EXPECT_DOUBLE_EQ(f, 2.25);
    EXPECT_EQ(z, 0);
}

struct send_case {
    const char* vars;
    int16_t len;
    const char* value;
    const char* sent;
};

TEST(RowFormat, SendLengthsCutOrPadNumbersFromTheRight) {
    const send_case cases[] = {
        {"N^3", 5, " 1234", "234"},
        {"N^3", 5, "1234 ", "123"},
        {"N^6", 3, " 12", "    12"},
        {"N^6", 3, "12 ", "12    "},
    };
    for (const send_case& k : cases) {
        LogCapture log;
        curs* c = laid_out(k.vars, {k.len}, {2});
        ASSERT_NE(c, nullptr);
        int size = get_row_size(c);
        ASSERT_EQ(size, static_cast<int>(std::strlen(k.sent)));
        std::string row(static_cast<size_t>(size), '\0');
        make_row(c, row.data(), text_of(c, {k.value}).data());
        EXPECT_EQ(row, k.sent) << k.value;
    }
    // A text column keeps its left end.
    LogCapture log;
    curs* c = laid_out("T^2", {4});
    std::string row(2, '\0');
    ASSERT_EQ(get_row_size(c), 2);
    make_row(c, row.data(), text_of(c, {" abc"}).data());
    EXPECT_EQ(row, " a");
}

TEST(RowFormat, ANarrowTimeStampKeepsItsWidth) {
    LogCapture log;
    curs* c = laid_out("TS!T^10, A", {14, 2});
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(get_row_size(c), 12);
    char full[17];
    std::memset(full, '0', sizeof full);
    us_normalizeDateTime("20261211093000", 14, full);
    char row[12];
    std::memset(row, 0, sizeof row);
    make_row(c, row, text_of(c, {"20261211093000", "zz"}).data());
    EXPECT_EQ(std::string(row, 10), std::string(full, 10));
    EXPECT_EQ(std::string(row + 10, 2), "zz");
}

TEST(RowFormat, ShowRowTracesOneRow) {
    LogCapture log;
    curs* c = laid_out("A, INT!B", {3, 4});
    ASSERT_EQ(get_row_size(c), 8);
    c->show_row = 1;
    char row[8] = {};
    std::string text = text_of(c, {"abc", "  12"});
    make_row(c, row, text.data());
    make_row(c, row, text.data());
    std::string out = log.text();
    size_t first = out.find("DMK3725");
    ASSERT_NE(first, std::string::npos) << out;
    EXPECT_EQ(out.find("DMK3725", first + 1), std::string::npos);
    EXPECT_TRUE(log.has("#2 = B(4,4) Converted to integer :   12")) << out;
    EXPECT_EQ(c->show_row, 0);
}

}  // namespace
