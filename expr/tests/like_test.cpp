#include "expr/like.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "expr/tests/interp_test_support.h"
#include "testing/case_names.h"

namespace {

using interp_test::CurrentCursor;
using interp_test::eval;
using interp_test::TestCursor;

struct LikeCase {
    const char* subject;
    const char* pattern;
    bool match;
};

void PrintTo(const LikeCase& c, std::ostream* os) {
    *os << '\'' << c.subject << "' LIKE '" << c.pattern << '\'';
}

class Like : public ::testing::TestWithParam<LikeCase> {};

TEST_P(Like, Match) {
    const LikeCase& c = GetParam();
    EXPECT_EQ(like_match(c.subject, std::strlen(c.subject), c.pattern, std::strlen(c.pattern)),
              c.match);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Like,
    ::testing::Values(
        // "%" takes up to the first occurrence of the segment after it: no backtracking.
        LikeCase{"abc", "a%", true}, LikeCase{"abc", "%c", true}, LikeCase{"abcbc", "%bc", false},
        LikeCase{"abcdXcd", "ab%cd", false}, LikeCase{"abXcd", "ab%cd", true},
        LikeCase{"abc", "%", true}, LikeCase{"", "%", true}, LikeCase{"abc", "%b%", true},
        LikeCase{"abc", "%x%", false}, LikeCase{"engine_12", "engine_%", true},
        LikeCase{"engine", "engine_%", true},
        // "_" takes one character when one is left.
        LikeCase{"abc", "a_c", true}, LikeCase{"ac", "a_c", false}, LikeCase{"a", "a_", true},
        LikeCase{"ab", "a_", true}, LikeCase{"abc", "a_", false}, LikeCase{"a b", "a_b", true},
        // Every other character, case and blanks included, matches itself.
        LikeCase{"ABC", "abc", false}, LikeCase{"abc", "abc", true}, LikeCase{"abc", "ab", false},
        LikeCase{"ab", "abc", false}, LikeCase{"", "", true}, LikeCase{"x", "", false},
        LikeCase{"a c", "a%c", true},
        // "%" then "_" takes at least one character, then looks for the next segment.
        LikeCase{"waited_EX_ADDR", "waited_%_ADDR", true},
        LikeCase{"waited_SH_ADDR", "waited_%_ADDR", true},
        LikeCase{"waited_ADDR", "waited_%_ADDR", false},
        LikeCase{"waited_EX_DATA", "waited_%_ADDR", false}, LikeCase{"abc", "a%_", true},
        LikeCase{"Ay", "%_A%", false}, LikeCase{"xAy", "%_A%", true}),
    case_names(&LikeCase::subject, &LikeCase::pattern));

TEST(LikeOperator, TrailingBlanksOfBothSidesAreDropped) {
    TestCursor t("T", {{"G", 1, 12}});
    t.set("G", "engine_3");
    CurrentCursor cc(t.get());
    EXPECT_EQ(eval("G LIKE 'engine_%'").value_or("<none>"), "1");
    EXPECT_EQ(eval("G LIKE 'engine_3   '").value_or("<none>"), "1");
    EXPECT_EQ(eval("G LIKE 'engine_'").value_or("<none>"), "0");
    EXPECT_EQ(eval("G like 'ENGINE%'").value_or("<none>"), "0");
    EXPECT_EQ(eval("G LIKE 'engine%' AND 1 = 1").value_or("<none>"), "1");
}

}  // namespace
