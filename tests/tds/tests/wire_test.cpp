// Byte layouts of the tokens the server writes, checked against captured client traffic.
#include <gtest/gtest.h>

#include "tests/tds/tds_wire.h"

namespace zovtds {
namespace {

std::string hex(const Bytes& b) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < b.size(); ++i) {
        if (i) s += ' ';
        s += d[b[i] >> 4];
        s += d[b[i] & 15];
    }
    return s;
}

struct ValueCase {
    ColumnFormat col;
    bool is_null;
    const char* text;
    const char* bytes;
};

TEST(Wire, ValuesAsClientsReadThem) {
    auto col = [](uint8_t type, int len = 0, uint8_t p = 0, uint8_t s = 0) {
        ColumnFormat c;
        c.type = type;
        c.max_length = len;
        c.precision = p;
        c.scale = s;
        return c;
    };
    const ValueCase cases[] = {
        {col(kInt4), false, "1", "01 00 00 00"},
        {col(kInt4), false, "-2", "FE FF FF FF"},
        {col(kInt2), false, "258", "02 01"},
        {col(kInt1), false, "255", "FF"},
        {col(kIntN, 4), false, "12345", "04 39 30 00 00"},
        {col(kIntN, 4), true, "", "00"},
        {col(kFlt8), false, "3.25", "00 00 00 00 00 00 0A 40"},
        {col(kDateTime), false, "2024-02-29 13:45:30.500", "25 B1 00 00 8E BB E2 00"},
        {col(kDateTime4), false, "1900-01-02 00:10", "01 00 0A 00"},
        {col(kDateTimeN, 8), true, "", "00"},
        {col(kNumeric, 0, 10, 2), false, "-12345.67", "06 01 00 00 12 D6 87"},
        {col(kNumeric, 0, 2, 0), false, "7", "02 00 07"},
        {col(kNumeric, 0, 10, 2), true, "", "00"},
        {col(kMoney), false, "1.5", "00 00 00 00 98 3A 00 00"},
        {col(kMoney), false, "-0.0001", "FF FF FF FF FF FF FF FF"},
        {col(kMoney), false, "-922337203685477.5808", "00 00 00 80 00 00 00 00"},
        {col(kMoney), false, "922337203685477.5807", "FF FF FF 7F FF FF FF FF"},
        {col(kVarChar, 10), false, "ab", "02 61 62"},
        {col(kVarChar, 10), false, "", "01 20"},  // empty goes as one blank
        {col(kVarChar, 10), true, "", "00"},
    };
    for (const auto& c : cases) {
        Bytes b;
        std::string error;
        ASSERT_TRUE(put_value(b, c.col, c.is_null, c.text, error)) << c.text << ": " << error;
        EXPECT_EQ(hex(b), c.bytes) << "value " << c.text;
        // What the server writes it reads back the same way (RPC parameters).
        Reader r(b.data(), b.size());
        std::string back;
        bool null = false;
        ASSERT_TRUE(read_value(r, c.col, back, null));
        EXPECT_EQ(null, c.is_null);
        EXPECT_EQ(r.left(), 0u);
    }
}

TEST(Wire, RefusesValuesThatDoNotFit) {
    const struct {
        ColumnFormat col;
        bool is_null;
        const char* text;
    } cases[] = {
        {{"", kInt4, 0, 0, 0, 0}, true, ""},  // a fixed type has no NULL
        {{"", kInt2, 0, 0, 0, 0}, false, "40000"},
        {{"", kInt4, 0, 0, 0, 0}, false, "12x"},
        {{"", kVarChar, 2, 0, 0, 0}, false, "abc"},
        {{"", kNumeric, 0, 4, 2, 0}, false, "123.45"},  // five digits in precision 4
        {{"", kNumeric, 0, 10, 2, 0}, false, "1.234"},  // more decimals than the scale
        {{"", kDateTime, 0, 0, 0, 0}, false, "2023-02-29"},
        {{"", kMoney, 0, 0, 0, 0}, false, "1.00001"},
        {{"", kMoney, 0, 0, 0, 0}, false, "922337203685477.5808"},
    };
    for (const auto& c : cases) {
        Bytes b;
        std::string error;
        EXPECT_FALSE(put_value(b, c.col, c.is_null, c.text, error)) << c.text;
        EXPECT_FALSE(error.empty());
    }
}

TEST(Wire, NumericLengthFollowsPrecision) {
    const int expected[][2] = {{1, 2},   {2, 2},   {3, 3},   {4, 3},  {5, 4},  {7, 4},
                               {8, 5},   {9, 5},   {10, 6},  {12, 6}, {13, 7}, {19, 9},
                               {20, 10}, {28, 13}, {29, 14}, {38, 17}};
    for (const auto& e : expected) EXPECT_EQ(numeric_bytes(e[0]), e[1]) << "precision " << e[0];
}

TEST(Wire, TokensWithTheirLengths) {
    Bytes b;
    put_loginack(b, 5, "TESTSERV");
    EXPECT_EQ(hex(b), "AD 12 00 05 05 00 00 00 08 54 45 53 54 53 45 52 56 0F 00 00 00");
    b.clear();
    put_envchange(b, 1, "master", "");
    EXPECT_EQ(hex(b), "E3 09 00 01 06 6D 61 73 74 65 72 00");
    b.clear();
    put_done(b, kTokDone, kDoneMore | kDoneCount, 2);
    EXPECT_EQ(hex(b), "FD 11 00 00 00 02 00 00 00");
    b.clear();
    ColumnFormat c;
    c.type = kInt4;
    put_format(b, {c}, false);
    EXPECT_EQ(hex(b), "EE 0A 00 01 00 00 00 00 00 00 00 38 00");
}

}  // namespace
}  // namespace zovtds
