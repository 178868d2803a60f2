// The command-word matcher over the tool's own table.
#include <gtest/gtest.h>

#include <cstring>

#include "tools/ivpt/ivpt.h"

namespace {

int row_of(const char* name) {
    for (int i = 0; testSyn[i].name; ++i)
        if (std::strcmp(testSyn[i].name, name) == 0) return i;
    return -100;
}

TEST(DeCodeToken, TableOrderDecidesAbbreviations) {
    struct Case {
        const char* word;
        const char* row;  // null: no row
        int code;         // when row is null
    };
    const Case cases[] = {
        {"-test", "test", 0},     {"-testpass", "testpass", 0}, {"-qel", "qel", 0},
        {"-qeldb", "qeldb", 0},   {"-viks", "viksqltxt", 0},    {"-vikdb", "vikdb", 0},
        {"-hx", "help", 0},       {"-outfile", "out", 0},       {"-GET_ENV", "get_envs", 0},
        {"+limit", "limit", 0},   {"-get_en", nullptr, -1},     {"limit", nullptr, -2},
        {"-nosuch", nullptr, -1}, {"-confg", "confgured", 0},   {"-singal", "singal", 0},
    };
    for (const Case& c : cases) {
        int got = DeCodeToken(c.word, testSyn);
        if (c.row)
            EXPECT_EQ(got, row_of(c.row)) << c.word;
        else
            EXPECT_EQ(got, c.code) << c.word;
    }
}

TEST(DeCodeToken, TableHasItsTwentyFourRows) {
    int n = 0;
    while (testSyn[n].name) ++n;
    EXPECT_EQ(n, 24);
    EXPECT_STREQ(testSyn[23].name, "help");
    EXPECT_EQ(testSyn[23].calltype, 1);
    EXPECT_EQ(testSyn[row_of("confgured")].parms, 1);
}

}  // namespace
