// formatColumn and the printing layouts over a store built in the test.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dbaccess/zem2sql/zem2util.h"
#include "testing/log_capture.h"

namespace {

struct ColumnCase {
    const char* what;
    int width;
    const char* value;
    int flags;
    char separator;
    const char* expected;
};

TEST(FormatColumn, Table) {
    const ColumnCase cases[] = {
        {"layout3_two_words", 12, "ab cd", fc_quote | fc_trim, ' ', "\"ab cd\" "},
        {"both_quotes_take_5", 12, "a \"b' c", fc_quote | fc_trim, ' ', "\005a \"b' c\005 "},
        {"double_quote_inside", 12, "a \"b", fc_quote, ' ', "'a \"b' "},
        {"starts_with_quote", 12, "\"a b", fc_quote, ' ', "\"a b "},
        {"no_blank_no_quote", 12, "abc", fc_quote, ' ', "abc "},
        {"layout2_pad", 6, "abc", fc_pad | fc_int_left, ' ', "abc    "},
        {"right", 5, "ab", fc_right, 0, "   ab"},
        {"right_quoted", 8, "a b", fc_right | fc_quote, 0, "   \"a b\""},
        {"trim", 8, "ab   ", fc_trim, '\t', "ab\t"},
        {"empty_is_one_blank", 8, "", fc_quote | fc_trim, ' ', "  "},
        {"null_is_one_blank", 3, nullptr, fc_pad, 0, "   "},
        {"cut_to_width", 3, "abcdef", 0, 0, "abc"},
        {"quoted_cut", 5, "a bcdef", fc_quote, 0, "\"a b\""},
    };
    for (const auto& c : cases) {
        std::string value = c.value ? c.value : "";
        char out[64];
        std::memset(out, 'Z', sizeof out);
        int n = formatColumn(c.width, out, static_cast<int>(value.size()),
                             c.value ? value.data() : nullptr, 1, c.separator, c.flags);
        EXPECT_EQ(std::string(out, static_cast<size_t>(n)), c.expected) << c.what;
        EXPECT_EQ(out[n], '\0') << c.what;
    }
}

TEST(FormatColumn, NoNulLeavesTheByteAfterTheField) {
    char out[16];
    std::memset(out, 'Z', sizeof out);
    EXPECT_EQ(formatColumn(4, out, 2, const_cast<char*>("ab"), 1, 0, fc_pad | fc_no_nul), 4);
    EXPECT_EQ(out[4], 'Z');
}

// A store of one set: a character column of width 6 and a converted one of width 11.
class Store : public ::testing::Test {
  protected:
    void SetUp() override {
        set_ = static_cast<db_data*>(std::calloc(1, sizeof(db_data)));
        set_->num_columns = 2;
        set_->columns = static_cast<column_data*>(std::calloc(2, sizeof(column_data)));
        set_->columns[0] = column_data{1, 1, SYBVARCHAR, 0, "name", 0, 6, 6, 1, 0};
        set_->columns[1] = column_data{2, 1, SYBINT4, 4, "n", 7, 4, 11, 2, 0};
        set_->row_size = 19;
        add_row("a b", "         42");
        add_row("", "");
        anchor_.current_set = set_;
        anchor_.first_set = set_;
    }
    void TearDown() override {
        anchor_.current_set = set_;
        freeDBresults(&anchor_, 'a');
    }
    void add_row(const char* name, const char* n) {
        auto* r = static_cast<row_data*>(std::calloc(1, sizeof(row_data)));
        r->buffer = static_cast<char*>(std::calloc(20, 1));
        r->columns = static_cast<row_column*>(std::calloc(2, sizeof(row_column)));
        std::strcpy(r->buffer, name);
        std::strcpy(r->buffer + 7, n);
        r->columns[0] = {1, static_cast<int32_t>(std::strlen(name)), r->buffer};
        r->columns[1] = {2, static_cast<int32_t>(std::strlen(n)), r->buffer + 7};
        set_->rows[set_->num_rows++] = r;
    }
    // What formatDBresults prints to standard output.
    std::string print(int layout, int* rc) {
        std::fflush(stdout);
        FILE* tmp = std::tmpfile();
        int saved = dup(1);
        dup2(fileno(tmp), 1);
        *rc = formatDBresults(&anchor_, layout);
        std::fflush(stdout);
        dup2(saved, 1);
        close(saved);
        std::string out;
        std::rewind(tmp);
        for (int c; (c = std::fgetc(tmp)) != EOF;) out += static_cast<char>(c);
        std::fclose(tmp);
        return out;
    }
    _anchor_db anchor_{};
    db_data* set_ = nullptr;
};

TEST_F(Store, FourLayouts) {
    auto b = [](int n) { return std::string(static_cast<size_t>(n), ' '); };
    // Quoting layouts widen every field by 2; converted values are right-aligned; an
    // empty value is one blank, never quoted.
    const struct {
        int layout;
        std::string expected;
    } cases[] = {
        {1, "\"a b\"" + b(3) + " " + b(11) + "42 \n" + b(8) + " " + b(13) + " \n"},
        {2, "a b" + b(3) + " " + b(9) + "42 \n" + b(6) + " " + b(11) + " \n"},
        {3, "\"a b\" " + b(11) + "42 \n" + "  " + b(13) + " \n"},
        {4, "a b\t" + b(9) + "42\t\n \t" + b(11) + "\t\n"},
    };
    for (const auto& c : cases) {
        int rc = -1;
        EXPECT_EQ(print(c.layout, &rc), c.expected) << c.layout;
        EXPECT_EQ(rc, 0);
    }
}

TEST_F(Store, UnknownLayoutIsRefused) {
    LogCapture log;
    int rc = 0;
    EXPECT_EQ(print(7, &rc), "");
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(log.has("SDU1010E")) << log.text();
    EXPECT_EQ(print(21, &rc), "");
    EXPECT_EQ(rc, 1);
}

TEST(DisplayWidth, ByType) {
    const struct {
        int type, length, precision, width;
        bool converted;
    } cases[] = {
        {SYBINT1, 1, 0, 3, true},           {SYBINT2, 2, 0, 6, true},
        {SYBINT4, 4, 0, 11, true},          {SYBINT8, 8, 0, 20, true},
        {SYBFLT8, 8, 0, 24, true},          {SYBREAL, 4, 0, 24, true},
        {SYBMONEY4, 4, 0, 24, true},        {SYBDATETIME4, 4, 0, 26, true},
        {SYBDECIMAL, 35, 10, 12, true},     {SYBVARCHAR, 30, 0, 30, false},
        {SYBTEXT, 1 << 30, 0, 1024, false}, {SYBBINARY, 8, 0, 16, true},
    };
    for (const auto& c : cases) {
        bool conv = !c.converted;
        EXPECT_EQ(dbx_display_width(c.type, c.length, c.precision, &conv), c.width) << c.type;
        EXPECT_EQ(conv, c.converted) << c.type;
    }
}

}  // namespace
