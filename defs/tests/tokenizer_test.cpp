#include "defs/tokenizer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

struct token {
    std::string text;
    int len;
    unsigned flags;
    unsigned num_flags;
    int exponent;
    bool operator==(const token&) const = default;
};

std::ostream& operator<<(std::ostream& os, const token& t) {
    return os << "{\"" << t.text << "\", " << t.len << ", 0x" << std::hex << t.flags << ", 0x"
              << t.num_flags << std::dec << ", " << t.exponent << "}";
}

// Puts text into the statement buffer with the reader's four blanks of padding and
// tokenizes it to the end; a -1 ends the list with a token of length -1.
std::vector<token> tokenize(const std::string& text) {
    std::memcpy(buffer, text.data(), text.size());
    std::memcpy(buffer + text.size(), "    ", 5);
    char* end = buffer + text.size();
    base_add = buffer;
    this_start = buffer;
    parens = 0;
    failed = 0;
    std::vector<token> out;
    for (int guard = 0; guard < 50; ++guard) {
        int32_t n = get_word(this_start, end);
        if (n == 0) break;
        if (n < 0) {
            out.push_back({"", -1, 0, 0, 0});
            break;
        }
        out.push_back({std::string(parse_word.text, static_cast<size_t>(n)), parse_word.len,
                       parse_word.flags, parse_word.num_flags, parse_word.exponent});
        this_start += n;
    }
    return out;
}

struct word_case {
    const char* text;
    int european;
    std::vector<token> want;
};

class GetWordTable : public ::testing::TestWithParam<word_case> {};

TEST_P(GetWordTable, SplitsAndClassifies) {
    const word_case& c = GetParam();
    european = c.european;
    EXPECT_EQ(tokenize(c.text), c.want) << "text: " << c.text;
    european = 0;
}

INSTANTIATE_TEST_SUITE_P(
    Words, GetWordTable,
    ::testing::Values(
        word_case{"a,b", 0, {{"a", 1, 0, 0, 0}, {",", 1, 0x8, 0, 0}, {"b", 1, 0, 0, 0}}},
        word_case{
            ":hv + 1", 0, {{"hv", 2, 0x1, 0, 0}, {"+", 1, 0x10, 0, 0}, {"1", 1, 0x80, 0x4, 0}}},
        word_case{":a+b", 0, {{"a+b", 3, 0x1, 0, 0}}},
        word_case{":f(x)", 0, {{"f(x)", 4, 0x1, 0, 0}}},
        word_case{": hv", 0, {{"hv", 2, 0x1, 0, 0}}},
        word_case{"a<=b", 0, {{"a", 1, 0, 0, 0}, {"<=", 2, 0x4, 0, 0}, {"b", 1, 0, 0, 0}}},
        word_case{"~= <> =", 0, {{"~=", 2, 0x4, 0, 0}, {"<>", 2, 0x4, 0, 0}, {"=", 1, 0x4, 0, 0}}},
        word_case{"a||b", 0, {{"a", 1, 0, 0, 0}, {"||", 2, 0x100, 0, 0}, {"b", 1, 0, 0, 0}}},
        word_case{"|", 0, {{"|", 1, 0, 0, 0}}}, word_case{"-5", 0, {{"-5", 2, 0x80, 0x4, 0}}},
        word_case{"+.5", 0, {{"+.5", 3, 0x80, 0x5, 0}}},
        word_case{"- 5", 0, {{"-", 1, 0x10, 0, 0}, {"5", 1, 0x80, 0x4, 0}}},
        word_case{"a*b/c",
                  0,
                  {{"a", 1, 0, 0, 0},
                   {"*", 1, 0x10, 0, 0},
                   {"b", 1, 0, 0, 0},
                   {"/", 1, 0x10, 0, 0},
                   {"c", 1, 0, 0, 0}}},
        word_case{".5", 0, {{".5", 2, 0x80, 0x4, 0}}}, word_case{".5", 1, {{".5", 2, 0x200, 0, 0}}},
        word_case{",5", 1, {{",5", 2, 0x80, 0x4, 0}}},
        word_case{"1,5", 1, {{"1,5", 3, 0x80, 0x5, 0}}},
        word_case{"1,5", 0, {{"1", 1, 0x80, 0x4, 0}, {",", 1, 0x8, 0, 0}, {"5", 1, 0x80, 0x4, 0}}},
        word_case{"1.2.3", 0, {{"1.2", 3, 0x80, 0x5, 0}, {".3", 2, 0x80, 0x4, 0}}},
        word_case{"1E-3", 0, {{"1E-3", 4, 0x80, 0x6, -3}}},
        word_case{"1E+12 x", 0, {{"1E+12", 5, 0x80, 0x6, 12}, {"x", 1, 0, 0, 0}}},
        word_case{"2 e5", 0, {{"2 e5", 4, 0x80, 0x6, 5}}},
        word_case{"2 E", 0, {{"2", 1, 0x80, 0x4, 0}, {"E", 1, 0, 0, 0}}},
        word_case{"12abc", 0, {{"12abc", 5, 0x80, 0x4, 0}}},
        word_case{"10s", 0, {{"10s", 3, 0x80, 0x4, 0}}},
        word_case{"'ab''cd'", 0, {{"'ab''cd'", 8, 0x80, 0x8, 0}}},
        word_case{
            "'a b',c", 0, {{"'a b'", 5, 0x80, 0x8, 0}, {",", 1, 0x8, 0, 0}, {"c", 1, 0, 0, 0}}},
        word_case{"\"x y\"", 0, {{"\"x y\"", 5, 0x80, 0x10, 0}}},
        word_case{"\x0E"
                  "ab \x0F",
                  0,
                  {{"\x0E"
                    "ab \x0F",
                    5, 0x80, 0, 0}}},
        word_case{"cur.col", 0, {{"cur.col", 7, 0x200, 0, 0}}},
        word_case{":cur.*", 0, {{"cur.*", 5, 0x241, 0, 0}}},
        word_case{"a\tb c", 0, {{"a\tb", 3, 0, 0, 0}, {"c", 1, 0, 0, 0}}},
        word_case{"f(x)",
                  0,
                  {{"f", 1, 0, 0, 0}, {"(", 1, 0x2, 0, 0}, {"x", 1, 0, 0, 0}, {")", 1, 0x2, 0, 0}}},
        word_case{"x=1", 0, {{"x", 1, 0, 0, 0}, {"=", 1, 0x4, 0, 0}, {"1", 1, 0x80, 0x4, 0}}},
        word_case{"a:b", 0, {{"a", 1, 0, 0, 0}, {"b", 1, 0x1, 0, 0}}}, word_case{"   ", 0, {}}),
    case_names(&word_case::text));

TEST(GetWord, ExponentLeavesTheTextAsWritten) {
    tokenize("2 e5");
    EXPECT_EQ(std::string(buffer, 4), "2 e5");
}

TEST(GetWord, PositionCountsFromBaseAndParensAreTracked) {
    auto words = tokenize("  abc (def");
    ASSERT_EQ(words.size(), 3u);
    EXPECT_EQ(parens, 1);
    char* end = buffer + 10;
    EXPECT_EQ(get_word(buffer, end), 3);
    EXPECT_EQ(parse_word.position, 2);
    EXPECT_EQ(this_start, buffer + 2);
    EXPECT_EQ(get_word(buffer + 6, end), 1);
    EXPECT_EQ(parse_word.position, 6);
    EXPECT_EQ(get_word(buffer + 7, end), 3);
    EXPECT_EQ(parse_word.position, 7);
    EXPECT_EQ(get_word(end, end), 0);
    EXPECT_EQ(this_len, 0);
}

struct error_case {
    const char* text;
    const char* message;
};

class GetWordErrors : public ::testing::TestWithParam<error_case> {};

TEST_P(GetWordErrors, ReportThroughErrmsg) {
    auto words = tokenize(GetParam().text);
    ASSERT_FALSE(words.empty());
    EXPECT_EQ(words.back().len, -1);
    EXPECT_EQ(failed, 1);
    EXPECT_EQ(this_len, -1);
    EXPECT_STREQ(message, GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, GetWordErrors,
    ::testing::Values(
        error_case{")",
                   "Syntax error - Right parenthesis without preceeding Left parenthesis, "
                   "Text = )"},
        error_case{"a )",
                   "Syntax error - Position = 3 Right parenthesis without preceeding "
                   "Left parenthesis, Text = )"},
        error_case{"x 'abc",
                   "Syntax error - Position = 3 Missing an ending \" or ' within "
                   "max word length, Text = 'abc"},
        error_case{"x \x0E"
                   "ab",
                   "Syntax error - Position = 3 Missing an ending SHIFT_IN "
                   "within max word length, Text = \x0E"
                   "ab"}),
    case_names(&error_case::text));

TEST(SimpleGetWord, SplitsExitOutput) {
    struct c {
        const char* text;
        int len;
        const char* value;
        unsigned flags;
    } cases[] = {
        {"  abc def", 3, "abc", 0},   {" , abc", 3, "abc", 0},    {"abc,def", 3, "abc", 0},
        {"'x y' z", 5, "'x y'", 0x8}, {"\"q\"", 3, "\"q\"", 0x8}, {"\tab c\t", 6, "\tab c\t", 0x8},
        {"'open", 5, "'open", 0x8},   {"'", 0, "", 0x8},          {"", 0, "", 0},
    };
    for (const c& k : cases) {
        std::string s = k.text;
        int32_t n = simple_get_word(s.data(), s.data() + s.size());
        EXPECT_EQ(n, k.len) << k.text;
        if (n > 0) {
            EXPECT_EQ(std::string(parse_word.text, static_cast<size_t>(n)), k.value);
            EXPECT_EQ(parse_word.flags, k.flags) << k.text;
        }
    }
}

TEST(TestWord, MatchesWholeKeywordsInAnyCase) {
    EXPECT_EQ(test_word("cursor", 6), 4);
    EXPECT_EQ(test_word("CURSOR", 6), 4);
    EXPECT_EQ(test_word("Cursor", 6), 4);
    EXPECT_EQ(test_word("cursors", 7), 0);
    EXPECT_EQ(test_word("curs", 4), 0);
    EXPECT_EQ(test_word("cursor a", 6), 4);  // compared over the given length only
    EXPECT_EQ(test_word("Conditional_Dummy_Last_Row", 26), 51);
    EXPECT_EQ(test_word("if", 2), 57);
    std::string longword(80, 'x');
    EXPECT_EQ(test_word(longword.c_str(), 80), 0);
}

TEST(TestWord, TableHoldsEveryCodeOnceButTwentySix) {
    std::vector<int> seen(60, 0);
    size_t last_len = 100;
    for (const keyword_entry& k : keyword_table) {
        ++seen[static_cast<size_t>(k.code)];
        EXPECT_LE(std::strlen(k.word), last_len) << k.word;  // falling length
        last_len = std::strlen(k.word);
        EXPECT_EQ(test_word(k.word, static_cast<int32_t>(std::strlen(k.word))), k.code);
    }
    for (int code = 1; code <= 59; ++code) EXPECT_EQ(seen[code], code == 26 ? 0 : 1) << code;
}

TEST(WOParens, TakesTextUpToFirstClosingParenthesis) {
    LogCapture log;
    EXPECT_EQ(w_o_parens("abc(def)ghi"), 3);
    EXPECT_STREQ(text_in_parens, "def");
    EXPECT_EQ(w_o_parens("(a(b)c)"), 3);
    EXPECT_STREQ(text_in_parens, "a(b");
    EXPECT_EQ(w_o_parens("no parens"), 0);
    EXPECT_TRUE(log.has("No opening parenthesis"));
    EXPECT_EQ(w_o_parens("(unclosed"), 0);
    EXPECT_TRUE(log.has("No ending parenthesis"));
}

TEST(WOParens, BoundedByItsArea) {
    LogCapture log;
    std::string fits = "(" + std::string(3099, 'x') + ")";
    EXPECT_EQ(w_o_parens(fits.c_str()), 3099);
    EXPECT_EQ(std::strlen(text_in_parens), 3099u);
    std::string too_long = "(" + std::string(3100, 'x') + ")";
    EXPECT_EQ(w_o_parens(too_long.c_str()), 0);
    std::string late = std::string(3100, ' ') + "(x)";
    EXPECT_EQ(w_o_parens(late.c_str()), 0);
}

}  // namespace
