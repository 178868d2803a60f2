#include "runtime/strings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/platform.h"
#include "testing/case_names.h"

namespace {

// ---- Comparisons and their null rules ----

struct CompareCase {
    int (*fn)(const char*, const char*);
    const char* name;
    const char* a;
    const char* b;
    int sign;  // -1, 0 or 1: the sign the result must have
};

int sign_of(int v) { return (v > 0) - (v < 0); }

class CompareTest : public ::testing::TestWithParam<CompareCase> {};

TEST_P(CompareTest, Sign) {
    const CompareCase& c = GetParam();
    EXPECT_EQ(sign_of(c.fn(c.a, c.b)), c.sign)
        << c.name << "(" << (c.a ? c.a : "null") << ", " << (c.b ? c.b : "null") << ")";
}

INSTANTIATE_TEST_SUITE_P(
    Table, CompareTest,
    ::testing::Values(CompareCase{u_stricmp, "u_stricmp", nullptr, "x", 1},
                      CompareCase{u_stricmp, "u_stricmp", "x", nullptr, 1},
                      CompareCase{u_stricmp, "u_stricmp", nullptr, nullptr, 0},
                      CompareCase{u_stricmp, "u_stricmp", "AbC", "aBc", 0},
                      CompareCase{u_stricmp, "u_stricmp", "abc", "abd", -1},
                      CompareCase{u_stricmp, "u_stricmp", "abcd", "ABC", 1},
                      // Bytes above 127 count as negative 8-bit values.
                      CompareCase{u_stricmp, "u_stricmp", "a\xe9", "ab", -1},
                      CompareCase{u_strxcmp, "u_strxcmp", nullptr, "x", 1},
                      CompareCase{u_strxcmp, "u_strxcmp", "x", nullptr, 1},
                      CompareCase{u_strxcmp, "u_strxcmp", nullptr, nullptr, 0},
                      CompareCase{u_strxcmp, "u_strxcmp", "logonid", "logon", 0},
                      CompareCase{u_strxcmp, "u_strxcmp", "logonid", "Logon", 1},
                      CompareCase{u_strxcmp, "u_strxcmp", "log", "logon", -1},
                      CompareCase{u_strxicmp, "u_strxicmp", "LOGONID", "logon", 0},
                      CompareCase{u_strxicmp, "u_strxicmp", "log", "logon", -1},
                      CompareCase{u_strxicmp, "u_strxicmp", nullptr, "x", 1},
                      CompareCase{u_strxicmp, "u_strxicmp", "x", nullptr, 1},
                      CompareCase{u_strxicmp, "u_strxicmp", nullptr, nullptr, 0}),
    case_names(&CompareCase::name));

TEST(Strnicmp, StopsAfterNEqualCharacters) {
    EXPECT_EQ(u_strnicmp("ABCx", "abcy", 3), 0);
    EXPECT_LT(u_strnicmp("ABCx", "abcy", 4), 0);
    EXPECT_EQ(u_strnicmp("ab", "AB", 10), 0);
    EXPECT_EQ(u_strnicmp(nullptr, "a", 1), 1);
    EXPECT_EQ(u_strnicmp(nullptr, nullptr, 1), 0);
}

// ---- Translation ----

struct TranslateCase {
    const char* text;
    const char* to;
    const char* from;
    const char* expected;
};

class TranslateTest : public ::testing::TestWithParam<TranslateCase> {};

TEST_P(TranslateTest, Translates) {
    const TranslateCase& c = GetParam();
    std::string buf = c.text;
    EXPECT_STREQ(u_translate(buf.data(), c.to, c.from), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, TranslateTest,
                         ::testing::Values(TranslateCase{"abc Def1", "", "", "ABC DEF1"},
                                           TranslateCase{"abc Def1", nullptr, nullptr, "ABC DEF1"},
                                           TranslateCase{"a1b22c3", "-", "#", "abc"},
                                           TranslateCase{"a b\tc\n", "", "^", "abc"},
                                           TranslateCase{"AbC", "<", ">", "abc"},
                                           TranslateCase{"a,b;c", "_", ",", "a_b;c"},
                                           // First matching entry wins; '=' keeps, '@' letters.
                                           TranslateCase{"aB3;", "=X", "<@", "aX3;"},
                                           TranslateCase{"x\x01y\x7fz", "", ".", "xyz"},
                                           TranslateCase{"abc", "*", "=", "***"}),
                         case_names(&TranslateCase::text));

// ---- Copies and pieces ----

TEST(StrCopies, AllocatedResults) {
    struct Case {
        char* got;
        const char* expected;
    };
    std::vector<Case> cases = {
        {alloc_str("hello"), "hello"},
        {u_substring("hello", 1, 3), "ell"},
        {u_substring("hello", 3, 10), "lo"},
        {u_substring("hello", 0, 0), ""},
        {u_reverse("abc"), "cba"},
        {u_reverse(""), ""},
        {space(3), "   "},
        {space(0), ""},
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.got, nullptr) << c.expected;
        EXPECT_STREQ(c.got, c.expected);
        U_FREE(c.got);
    }
    EXPECT_EQ(alloc_str(nullptr), nullptr);
    EXPECT_EQ(u_substring(nullptr, 0, 1), nullptr);
    EXPECT_EQ(u_substring("abc", 3, 1), nullptr);
    EXPECT_EQ(u_substring("abc", 1, -1), nullptr);
    EXPECT_EQ(u_reverse(nullptr), nullptr);
    EXPECT_EQ(space(-1), nullptr);
}

TEST(StrIndex, IndexFromEitherEnd) {
    const char* text = "a,b;c,d";
    EXPECT_EQ(u_str_index(text, ";,"), text + 1);
    EXPECT_EQ(u_strr_index(text, ";,"), text + 5);
    EXPECT_EQ(u_str_index(text, "xyz"), nullptr);
    EXPECT_EQ(u_strr_index(text, "xyz"), nullptr);
    EXPECT_EQ(u_str_index(static_cast<const char*>(nullptr), "a"), nullptr);
}

TEST(StrNumbers, ItoaRemainderStrlen) {
    EXPECT_STREQ(u_itoa(1234), "1234");
    EXPECT_EQ(u_itoa(0), nullptr);
    EXPECT_EQ(u_itoa(-5), nullptr);
    EXPECT_EQ(getremainder(-7, 2), -1);
    EXPECT_EQ(getremainder(7, -2), 1);
    EXPECT_EQ(getremainder(9, 3), 0);
    EXPECT_EQ(u_strlen("abcdef", 3), 3);
    EXPECT_EQ(u_strlen("ab", 3), 2);
    EXPECT_EQ(u_strlen(nullptr, 3), 0);
    char s[] = "xyz";
    EXPECT_STREQ(u_strset(s, '*'), "***");
    char up[] = "Mixed 9";
    EXPECT_STREQ(u_strupper(up), "MIXED 9");
    EXPECT_STREQ(u_strlower(up), "mixed 9");
    EXPECT_EQ(u_strupper(nullptr), nullptr);
}

TEST(CallExitDeathTest, EndsWithStatusOne) {
    EXPECT_EXIT(call_exit("bad input", 0), ::testing::ExitedWithCode(1), "");
    EXPECT_EXIT(call_exit(nullptr, 2), ::testing::ExitedWithCode(1), "Aborting execution!");
}

// ---- Strip family ----

struct StripCase {
    const char* text;
    char mode;
    const char* set;
    const char* expected;
    size_t offset;  // of the returned start
};

class StripxTest : public ::testing::TestWithParam<StripCase> {};

TEST_P(StripxTest, StripsEnds) {
    const StripCase& c = GetParam();
    std::string buf = c.text;
    char* start = u_stripx(buf.data(), c.mode, c.set);
    EXPECT_STREQ(start, c.expected);
    EXPECT_EQ(static_cast<size_t>(start - buf.data()), c.offset);

    std::string again = c.text;
    char* same = u_stripc(again.data(), c.mode, c.set);
    EXPECT_EQ(same, again.data());
    EXPECT_STREQ(same, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, StripxTest,
                         ::testing::Values(StripCase{"  x  ", 'L', nullptr, "x  ", 2},
                                           StripCase{"  x  ", 'b', "", "x", 2},
                                           StripCase{"  x  ", 'T', " ", "  x", 0},
                                           StripCase{"  x  ", '\0', nullptr, "  x", 0},
                                           StripCase{"  x  ", 'Q', nullptr, "  x  ", 0},
                                           StripCase{"'\"x y\"'", 'B', "'\"", "x y", 2},
                                           StripCase{"    ", 'B', nullptr, "", 4},
                                           StripCase{"", 'B', nullptr, "", 0}),
                         case_names(&StripCase::text));

TEST(StrStrip, TrailingWhiteSpace) {
    char s[] = "ab \t\n ";
    EXPECT_STREQ(u_strip(s), "ab");
    char e[] = "";
    EXPECT_STREQ(u_strip(e), "");
    EXPECT_EQ(u_strip(nullptr), nullptr);
}

// ---- Fixed-width fields ----

TEST(StrFixedFields, Str2chrPadsAndCuts) {
    char f[9] = "########";
    u_str2chr(f, "abc", 6);
    EXPECT_EQ(std::string(f, 8), "abc   ##");
    u_str2chr(f, "abcdefgh", 6);
    EXPECT_EQ(std::string(f, 8), "abcdef##");
    u_str2chr(f, "", 6);
    EXPECT_EQ(std::string(f, 8), "      ##");
    u_str2chr(f, nullptr, 3);
    EXPECT_EQ(std::string(f, 8), "      ##");
    char same[8] = "ab";
    u_str2chr(same, same, 5);
    EXPECT_EQ(std::string(same, 5), "ab   ");
}

TEST(StrFixedFields, Chr2strCopyAndInPlace) {
    char out[16];
    EXPECT_STREQ(u_chr2str(out, "ab  cd    XYZ", 10), "ab  cd");
    EXPECT_STREQ(u_chr2str(out, "      ", 6), "");
    EXPECT_STREQ(u_chr2str(out, "ab\0cd", 5), "ab");
    char f[8] = "      ";
    EXPECT_EQ(u_chr2str(f, f, 6), f);
    EXPECT_STREQ(f, " ");
    char g[8] = "ab    ";
    EXPECT_STREQ(u_chr2str(g, g, 6), "ab");
}

struct JustCase {
    const char* field;
    int width;
    const char* expected;
    int result;
};

class JustRightTest : public ::testing::TestWithParam<JustCase> {};

TEST_P(JustRightTest, Justifies) {
    const JustCase& c = GetParam();
    std::string buf(c.field, static_cast<size_t>(c.width));
    EXPECT_EQ(just_right(buf.data(), c.width), c.result);
    EXPECT_EQ(buf, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, JustRightTest,
                         ::testing::Values(JustCase{"12    ", 6, "    12", 3},
                                           JustCase{"123456", 6, "123456", 0},
                                           JustCase{"1 2  \0", 6, "   1 2", 2},
                                           JustCase{"12345 ", 6, " 12345", 0},
                                           JustCase{"a\0\0", 3, "  a", 1}),
                         case_names(&JustCase::field));

// ---- Keyword abbreviation ----

struct TokenCase {
    const char* word;
    const char* keyword;
    int max;
    int min;
    int expected;  // 0, 300, 301, or 1 for "some other non-zero"
};

class ChktokenTest : public ::testing::TestWithParam<TokenCase> {};

TEST_P(ChktokenTest, Matches) {
    const TokenCase& c = GetParam();
    int r = u_chktoken(c.word, c.keyword, c.max, c.min);
    if (c.expected == 1) {
        EXPECT_NE(r, 0);
        EXPECT_NE(r, 300);
        EXPECT_NE(r, 301);
    } else {
        EXPECT_EQ(r, c.expected) << c.word;
    }
}

const std::string k32(32, 'k');

INSTANTIATE_TEST_SUITE_P(
    Table, ChktokenTest,
    ::testing::Values(
        TokenCase{"logon", "logonid", 0, 5, 0}, TokenCase{"LOGONI", "logonid", 0, 5, 0},
        TokenCase{"logonidx", "logonid", 0, 5, 0}, TokenCase{"logo", "logonid", 0, 5, 301},
        TokenCase{"logonx", "logonid", 0, 5, 1}, TokenCase{"logonid", "logonid", 0, 0, 0},
        TokenCase{"logon", "logonid", 0, 0, 301}, TokenCase{"", "logonid", 0, -1, 0},
        TokenCase{"", "logonid", 0, 3, 301}, TokenCase{"lo", "logonid", 0, -1, 0},
        TokenCase{"x", "logonid", 32, 1, 300}, TokenCase{k32.c_str(), k32.c_str(), 0, 0, 300}),
    case_names(&TokenCase::word));

// ---- Argument splitting ----

struct TokensetCase {
    const char* line;
    const char* spec;
    std::vector<std::string> words;
};

class TokensetTest : public ::testing::TestWithParam<TokensetCase> {};

TEST_P(TokensetTest, Splits) {
    const TokensetCase& c = GetParam();
    std::string buf = c.line;
    char* array[16];
    int n = u_tokenset(array, buf.data(), c.spec);
    ASSERT_EQ(n, static_cast<int>(c.words.size())) << c.line;
    for (int i = 0; i < n; ++i) EXPECT_STREQ(array[i], c.words[i].c_str()) << "word " << i;
    EXPECT_EQ(array[n], nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TokensetTest,
    ::testing::Values(TokensetCase{"a 'b c' d", nullptr, {"a", "b c", "d"}},
                      TokensetCase{"a \"b 'c\" d", nullptr, {"a", "b 'c", "d"}},
                      TokensetCase{"a 'b c d", nullptr, {"a", "b c d"}},
                      TokensetCase{"a,,b", ",", {"a", "b"}},
                      TokensetCase{"a,,,b", ",", {"a", "", "b"}},
                      TokensetCase{"  x y ", " ", {"x", "y"}},
                      TokensetCase{"a b,c", ",", {"a b", "c"}},
                      TokensetCase{"(a b)c [d]", " ([", {"a b", "c", "d"}},
                      TokensetCase{"(a b)", " ", {"(a", "b)"}}, TokensetCase{"", nullptr, {}}),
    case_names(&TokensetCase::line));

TEST(StrTokenset, NullLineLeavesArray) {
    char sentinel[] = "s";
    char* array[2] = {sentinel, sentinel};
    EXPECT_EQ(u_tokenset(array, nullptr, nullptr), 0);
    EXPECT_EQ(array[0], sentinel);
}

TEST(StrTokenize, CopiesIntoGivenBuffersAndClearsTheRest) {
    char b0[8], b2[8], b3[8];
    char* buffers[4] = {b0, nullptr, b2, b3};
    char text[] = "one, two,three";
    EXPECT_EQ(u_tokenize(buffers, text, ", ", 4), 3);
    EXPECT_STREQ(b0, "one");
    EXPECT_STREQ(b2, "three");
    EXPECT_EQ(buffers[1], nullptr);
    EXPECT_EQ(buffers[3], nullptr);

    char more[] = "a b c d e";
    char c0[4], c1[4];
    char* two[2] = {c0, c1};
    EXPECT_EQ(u_tokenize(two, more, " ", 2), 2);
    EXPECT_STREQ(c1, "b");
}

// ---- Word spacing ----

struct SpacesCase {
    const char* in;
    int max;
    int pads;
    char quote;
    char pad;
    const char* expected;
};

class SpacesTest : public ::testing::TestWithParam<SpacesCase> {};

TEST_P(SpacesTest, Rebuilds) {
    const SpacesCase& c = GetParam();
    char out[64];
    std::memset(out, '#', sizeof out);
    EXPECT_STREQ(u_spaces(out, c.max, c.in, c.pads, c.quote, c.pad), c.expected);
    EXPECT_LE(std::strlen(out), static_cast<size_t>(c.max));
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpacesTest,
    ::testing::Values(SpacesCase{"abc def", 5, 1, '\'', ' ', "abc d"},
                      SpacesCase{"  abc \t def  ", 40, 1, '\'', ' ', "abc def"},
                      SpacesCase{"a 'b  c' d", 40, 1, '\'', ' ', "a 'b  c' d"},
                      SpacesCase{"a 'b  c", 40, 1, '\'', ' ', "a 'b  c"},
                      SpacesCase{"a b c", 40, 2, 0, '-', "a--b--c"},
                      SpacesCase{"ab cd", 4, 3, 0, '.', "ab"}, SpacesCase{"", 10, 1, 0, ' ', ""}),
    case_names(&SpacesCase::in));

}  // namespace
