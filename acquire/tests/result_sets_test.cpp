#include "acquire/result_sets.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

// ---- convertData -------------------------------------------------------------------------

struct ConvCase {
    const char* what;
    int dlen;
    const char* src;
    int flags;
    int result;
    std::string field;  // dlen + 1 bytes after the call ('~' where nothing was written)
};

class ConvertText : public ::testing::TestWithParam<ConvCase> {};

TEST_P(ConvertText, WritesFieldAndReturnsTextLength) {
    const ConvCase& k = GetParam();
    std::string dest(static_cast<size_t>(k.dlen) + 1, '~');
    EXPECT_EQ(convertData(k.dlen, dest.data(), 1, -1, k.src, 1, k.flags), k.result);
    EXPECT_EQ(dest, k.field);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ConvertText,
    ::testing::Values(
        ConvCase{"pad", 5, "ab", CVD_PAD, 2, std::string("ab   \0", 6)},
        ConvCase{"plain", 5, "ab", 0, 2, std::string("ab\0~~~", 6)},
        ConvCase{"right", 5, "ab", CVD_RIGHT, 2, std::string("   ab\0", 6)},
        ConvCase{"cut", 3, "abcdef", CVD_PAD, 3, std::string("abc\0", 4)},
        ConvCase{"empty", 3, "", CVD_PAD, 1, std::string("   \0", 4)},
        ConvCase{"trim", 5, "ab  \t", CVD_PAD | CVD_TRIM, 2, std::string("ab   \0", 6)},
        ConvCase{"quote_dq", 7, "a b", CVD_PAD | CVD_QUOTE, 5, std::string("\"a b\"  \0", 8)},
        ConvCase{"quote_sq", 7, "a \"b", CVD_QUOTE, 6, std::string("'a \"b'\0~", 8)},
        ConvCase{"quote_tab", 8, "a' \"b", CVD_QUOTE, 7, std::string("\ta' \"b\t\0~", 9)},
        ConvCase{"quote_cut", 5, "abc def", CVD_QUOTE, 5, std::string("\"abc\"\0", 6)},
        ConvCase{"quote_right", 7, "a b", CVD_RIGHT | CVD_QUOTE, 5, std::string("  \"a b\"\0", 8)},
        ConvCase{"no_blank_no_quote", 5, "ab", CVD_QUOTE, 2, std::string("ab\0~~~", 6)},
        ConvCase{"no_nul", 4, "ab", CVD_PAD | CVD_NONUL, 2, std::string("ab  ~", 5)}),
    case_names(&ConvCase::what));

TEST(ConvertData, TextWithExponentIsANumberOnlyForEightBytes) {
    LogCapture log;
    char dest[16] = {};
    for (int dlen : {1, 2, 4}) {
        EXPECT_EQ(convertData(dlen, dest, 2, -1, "1.5e3", 1, 0), 0) << dlen;
    }
    EXPECT_TRUE(log.has("DIU4030W"));
    EXPECT_TRUE(log.has("Value:1.5e3(e)"));
    ASSERT_EQ(convertData(8, dest, 2, -1, "1.5e3", 1, 0), 8);
    double v;
    std::memcpy(&v, dest, 8);
    EXPECT_DOUBLE_EQ(v, 1500.0);
}

TEST(ConvertData, TextToBinarySizes) {
    char dest[8] = {};
    ASSERT_EQ(convertData(2, dest, 2, -1, " -42", 1, 0), 2);
    int16_t s;
    std::memcpy(&s, dest, 2);
    EXPECT_EQ(s, -42);
    ASSERT_EQ(convertData(3, dest, 2, 3, "123456", 1, 0), 4);  // other lengths: 4 bytes
    int32_t i;
    std::memcpy(&i, dest, 4);
    EXPECT_EQ(i, 123);
}

TEST(ConvertData, NumberToTextIsRightAlignedUnlessLeftAsked) {
    int32_t v = 42;
    char dest[9];
    std::memset(dest, '~', sizeof dest);
    EXPECT_EQ(convertData(8, dest, 1, 4, reinterpret_cast<const char*>(&v), 2, 0), 4);
    EXPECT_EQ(std::string(dest, 9), std::string("    0042\0", 9));
    std::memset(dest, '~', sizeof dest);
    EXPECT_EQ(convertData(8, dest, 1, 4, reinterpret_cast<const char*>(&v), 2, CVD_LEFTNUM), 4);
    EXPECT_EQ(std::string(dest, 5), std::string("0042\0", 5));
}

TEST(FormatColumn, TextNumberAndSeparator) {
    char out[32];
    EXPECT_EQ(formatColumn(5, out, 2, "ab", 1, ' ', CVD_PAD), 6);
    EXPECT_STREQ(out, "ab    ");
    int16_t n = 7;
    EXPECT_EQ(formatColumn(4, out, 2, reinterpret_cast<const char*>(&n), 2, '\t', 0), 5);
    EXPECT_STREQ(out, "  07\t");
    EXPECT_EQ(formatColumn(4, out, 2, reinterpret_cast<const char*>(&n), 2, 0, CVD_LEFTNUM), 2);
    EXPECT_STREQ(out, "07");
    EXPECT_EQ(formatColumn(5, out, 3, "a b", 1, 0, CVD_QUOTE), 5);
    EXPECT_STREQ(out, "\"a b\"");
}

// ---- anchors, result sets, rows -----------------------------------------------------------

// A result set of two character columns of 3 and 5 bytes.
_anchorDBdata* two_columns(_anchorDBX* a) {
    _anchorDBdata* d = DB_DATA_init(a, nullptr, 1);
    _columnData* c = COLUMN_DATA_init(d, 2);
    std::strcpy(c[0].name, "A");
    c[0].type = c[0].conv_type = 1;
    c[0].length = c[0].width = 3;
    std::strcpy(c[1].name, "B");
    c[1].type = c[1].conv_type = 1;
    c[1].length = c[1].width = 5;
    c[1].offset = 3;
    d->maxRowSize = 9;
    return d;
}

TEST(ResultSets, RowsTakeColumnPlacesAndFreeKeepsColumns) {
    _anchorDBX* a = DBX_init(nullptr, nullptr, nullptr);
    _anchorDBdata* d = two_columns(a);
    EXPECT_EQ(a->current, d);
    EXPECT_EQ(DB_DATA_get_first_c(a), d);
    _rowData* r1 = ROW_DATA_init(d);
    _rowData* r2 = ROW_DATA_init(d);
    EXPECT_EQ(d->rows_held, 2);
    EXPECT_EQ(d->has_rows, 1);
    EXPECT_EQ(r1->col[1].value, r1->buffer + 3);
    EXPECT_EQ(r1->col[1].length, 5);
    EXPECT_EQ(r1->col[0].indicator, 1);
    EXPECT_EQ(ROW_DATA_get_first(d), r1);
    EXPECT_EQ(ROW_DATA_get_next(r1), r2);
    EXPECT_EQ(ROW_DATA_get_nth(d, 2), r2);

    freeDBresults(d, 'r');
    EXPECT_EQ(ROW_DATA_get_first(d), nullptr);
    EXPECT_EQ(d->rows_held, 0);
    EXPECT_EQ(d->has_rows, 0);
    ASSERT_NE(d->Acoldata, nullptr);  // the next run reuses the descriptions
    EXPECT_EQ(d->ncols, 2);
    _rowData* r3 = ROW_DATA_init(d);
    EXPECT_EQ(d->counter, 1);
    EXPECT_EQ(ROW_DATA_freeFirst_getNext(d), nullptr);
    (void)r3;
    DBX_free(a);
}

TEST(ResultSets, FamilyReusesAnEmptiedSetWhateverItsType) {
    _anchorDBdata* top = DB_DATA_init(nullptr, nullptr, 1);
    EXPECT_EQ(top->top, top);
    COLUMN_DATA_init(top, 1);
    ROW_DATA_init(top);
    _anchorDBdata* second = DB_DATA_init(nullptr, top, 2);  // top holds rows of type 1
    EXPECT_NE(second, top);
    EXPECT_EQ(second->top, top);
    EXPECT_EQ(DB_DATA_get_last_r(top), second);
    EXPECT_EQ(DB_DATA_get_next(top, 's'), second);
    EXPECT_EQ(DB_DATA_get_prior(second, 's'), top);
    EXPECT_EQ(DB_DATA_init(nullptr, top, 1), top);  // same type
    ROW_DATA_init(second);
    freeDBresults(top, 'r');
    EXPECT_EQ(DB_DATA_init(nullptr, top, 7), top);  // emptied: reused for any type
    EXPECT_EQ(top->type, 7);
    EXPECT_EQ(DB_DATA_freeCurrent_getPrior(top, second), top);
    EXPECT_EQ(DB_DATA_get_last_r(top), top);
    freeDBresults(top, 'a');  // ASan: nothing left behind
}

TEST(ResultSets, AnchorListsItsSetsInCreationOrder) {
    _anchorDBX* a = DBX_init(nullptr, nullptr, nullptr);
    _anchorDBdata* d1 = DB_DATA_init(a, nullptr, 1);
    _anchorDBdata* d2 = DB_DATA_init(a, nullptr, 1);
    EXPECT_NE(d1, d2);
    EXPECT_EQ(DB_DATA_get_next(d1, 'c'), d2);
    EXPECT_EQ(DB_DATA_get_prior(d2, 'C'), d1);
    EXPECT_EQ(a->current, d2);
    ROW_DATA_init(d2);
    DBX_free(a);
}

TEST(ColumnDescriptions, FromADescriptorAndFromCursorColumns) {
    LogCapture log;
    xSQLDA* x = zovldal(3, 0, 0);
    x->F = 3;
    char n0[] = "NAME_LONGER_THAN_THIRTY_ONE_CHARS_X", n1[] = "NUM", n2[] = "ODD";
    char* names[] = {n0, n1, n2};
    const int16_t types[] = {1, 2, 7};
    for (int i = 0; i < 3; ++i) {
        x->S[i] = names[i];
        x->C[i] = static_cast<int16_t>(std::strlen(names[i]));
        x->L[i] = 10 + i;
        x->T[i] = types[i];
    }
    _anchorDBdata* d = DB_DATA_init(nullptr, nullptr, 1);
    EXPECT_EQ(sqlda_2_column_data(x, d), 3);
    EXPECT_EQ(std::string(d->Acoldata[0].name), std::string(n0, 31));
    EXPECT_EQ(d->Acoldata[1].type, 2);
    EXPECT_EQ(d->Acoldata[1].width, 4);
    EXPECT_EQ(d->Acoldata[1].offset, 10);
    EXPECT_EQ(d->maxRowSize, 22);  // the odd type takes no room
    EXPECT_TRUE(log.has("FXR1205E"));
    freeDBresults(d, 'a');
    zovldau(&x);

    curs* c = curs_new();
    columns* a = columns_new();
    std::strcpy(a->col_name, "A");
    a->col_name_ll = 1;
    a->len = 5;
    a->oracle_len = 7;
    a->orig_type = 2;
    a->data_type = 2;
    columns* b = columns_new();
    std::strcpy(b->col_name, "B");
    b->col_name_ll = 1;
    b->len = 3;
    b->data_type = 1;
    a->next = b;
    c->insert_columns = a;
    _anchorDBdata* e = DB_DATA_init(nullptr, nullptr, 1);
    EXPECT_EQ(convert_2_column_data(c, e), 2);
    EXPECT_EQ(e->Acoldata[0].width, 7);
    EXPECT_EQ(e->Acoldata[0].source_type, 2);
    EXPECT_EQ(e->Acoldata[1].offset, 5);
    EXPECT_EQ(e->maxRowSize, 9);
    freeDBresults(e, 'a');
    U_FREE(a);
    U_FREE(b);
    U_FREE(c);
}

TEST(ResultSets, PrintsRowsThroughTheLogAndFreesThem) {
    LogCapture log;
    _anchorDBX* a = DBX_init(nullptr, nullptr, nullptr);
    _anchorDBdata* d = two_columns(a);
    _rowData* r = ROW_DATA_init(d);
    r->col[0].length = convertData(3, r->col[0].value, 1, -1, "x", 1, CVD_PAD);
    r->col[1].length = convertData(5, r->col[1].value, 1, -1, "y z", 1, CVD_PAD);
    EXPECT_EQ(formatDBDataRow(d, 14), 0);
    EXPECT_TRUE(log.has("row (1) x\ty z\t")) << log.text();
    EXPECT_EQ(ROW_DATA_get_first(d), nullptr);
    EXPECT_EQ(formatDBDataRow(d, 7), 1);
    EXPECT_TRUE(log.has("MSU1010E"));
    DBX_free(a);
}

}  // namespace
