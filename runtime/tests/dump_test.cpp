// Formatting aids of dumps: readable copies, hexadecimal text, and the dump writers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/msg.h"
#include "testing/case_names.h"

namespace {

struct PrintableCase {
    std::string in;
    const char* mode;
    const char* expected;
};

class PrintableTest : public ::testing::TestWithParam<PrintableCase> {};

TEST_P(PrintableTest, Copies) {
    const PrintableCase& c = GetParam();
    char out[152];
    EXPECT_STREQ(u_printable(out, c.in.data(), static_cast<int>(c.in.size()), c.mode), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintableTest,
    ::testing::Values(PrintableCase{"Ab9 \\/,()\"'=-$#", "x", "Ab9 \\/,()\"'=-$#"},
                      PrintableCase{std::string("ab\0\x01\xff;cd\t\n", 10), "x", "ab....cd  "},
                      PrintableCase{std::string("abcd\0\x01\xff;efgh\t\n", 14), "C", "abcd.efgh "},
                      // A run of substituted bytes, white space among them, shows as its first.
                      PrintableCase{std::string("abcd\0\x01 \xff", 8), "c", "abcd."},
                      PrintableCase{std::string("abcd \0\x01\xff"
                                                "e",
                                                9),
                                    "c", "abcd e"},
                      // Compact, mostly unreadable, no run of four: the hexadecimal form instead.
                      PrintableCase{std::string("\x01\x02\x03\x04\x05\x06", 6), "c",
                                    "01020304 0506"},
                      PrintableCase{std::string("ab\x01\x02\x03\x04", 6), "c", "61620102 0304"},
                      // Half readable is still too little without a run of four.
                      PrintableCase{std::string("ab\x01\x02", 4), "c", "61620102"},
                      PrintableCase{std::string("abc\x01\x02", 5), "c", "abc."},
                      PrintableCase{"abc", nullptr, "abc"}),
    case_names(&PrintableCase::in));

TEST(Printable, NullAndBounds) {
    char out[152];
    EXPECT_EQ(u_printable(out, nullptr, 3, "c"), nullptr);
    // Never more than 151 characters, however many bytes.
    std::string text(400, 'q');
    for (size_t i = 1; i < text.size(); i += 2) text[i] = '\x01';
    u_printable(out, text.data(), static_cast<int>(text.size()), "x");
    EXPECT_EQ(std::strlen(out), 151u);
    std::string letters(400, 'z');
    u_printable(out, letters.data(), 400, "c");
    EXPECT_EQ(std::string(out), std::string(151, 'z'));
    // The hexadecimal fallback takes at most 32 bytes.
    std::string binary(100, '\x01');
    u_printable(out, binary.data(), 100, "c");
    EXPECT_EQ(std::strlen(out), 64u + 7u);
}

TEST(HexFormat, GroupsOfFourBytes) {
    const unsigned char bytes[] = {0, 1, 2, 3, 4, 5, 0xab, 0xcd, 0xef};
    char out[64];
    EXPECT_STREQ(u_hex_format(out, bytes, 6), "00010203 0405");
    EXPECT_STREQ(u_hex_format(out, bytes, 9), "00010203 0405ABCD EF");
    EXPECT_STREQ(u_hex_format(out, bytes, 0), "");
    EXPECT_EQ(u_hex_format(out, nullptr, 3), nullptr);
}

TEST(Hex2long, ReadsLeadingHexDigits) {
    struct Case {
        const char* text;
        uint32_t value;
    } cases[] = {{"1F", 0x1f},
                 {"  \t\"ab12\"", 0xab12},
                 {"dEaDbEeF", 0xdeadbeef},
                 {"12xyz", 0x12},
                 {"", 0},
                 {nullptr, 0},
                 {"123456789", 0x23456789u},  // wraps at 32 bits
                 {"g1", 0}};
    for (const Case& c : cases)
        EXPECT_EQ(u_hex2long(c.text, "ignored"), c.value) << (c.text ? c.text : "null");
}

TEST(PrintDumpx, OneTraceLinePerSixteenBytes) {
    unsigned char bytes[20];
    for (int i = 0; i < 20; ++i) bytes[i] = static_cast<unsigned char>(i == 17 ? 'A' : i);
    testing::internal::CaptureStdout();
    u_print_dumpx(nullptr, bytes, 20);
    u_print_dumpx("lbl", nullptr, 20);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
              "UPX0100T 000: 00010203 04050607 08090A0B 0C0D0E0F *.........     ..*\n"
              "UPX0100T 010: 10411213                            *.A..*\n");
}

TEST(PrintRecord, ReadableLinesOfSeventyEight) {
    std::string rec = std::string("ab  \t\0\0cd\n\x01x\0", 13);
    testing::internal::CaptureStdout();
    int shown = u_print_record(rec.data(), static_cast<int>(rec.size()));
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "ab cd\\x~|\n");
    EXPECT_EQ(shown, 8);

    std::string longer(100, 'k');
    testing::internal::CaptureStdout();
    shown = u_print_record(longer.data(), 100);
    out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, std::string(78, 'k') + "|\n" + std::string(22, 'k') + "|\n");
    EXPECT_EQ(shown, 100);
    EXPECT_EQ(u_print_record(nullptr, 5), 0);
}

}  // namespace
