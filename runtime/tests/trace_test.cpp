#include "runtime/trace.h"

#include <gtest/gtest.h>

#include <array>

#include "testing/case_names.h"

namespace {

struct TraceCase {
    const char* letters;
    int16_t all;
    std::array<int16_t, 10> levels;
};

class TraceSetTest : public ::testing::TestWithParam<TraceCase> {};

TEST_P(TraceSetTest, SetsEveryLevel) {
    const TraceCase& c = GetParam();
    trace_all = 0;
    trace_something = 0;
    for (auto& l : my_trace_all) l = 7;
    trace_set(c.letters);
    EXPECT_EQ(trace_all, c.all);
    EXPECT_EQ(trace_something, c.all);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(my_trace_all[i], c.levels[i]) << "level " << i;
}

INSTANTIATE_TEST_SUITE_P(
    Letters, TraceSetTest,
    ::testing::Values(TraceCase{"-ddd", 1, {1, 1, 0, 0, 0, 0, 0, 0, 0, 0}},
                      TraceCase{"ddz", 1, {1, 23, 0, 0, 0, 0, 0, 0, 0, 0}},
                      TraceCase{"-Xde", 0, {1, 2, 0, 0, 0, 0, 0, 0, 0, 0}},
                      TraceCase{"azzzzzzzzz", 0, {23, 23, 23, 23, 23, 23, 23, 23, 23, 0}},
                      TraceCase{"dDaZ", 1, {1, 0, 23, 0, 0, 0, 0, 0, 0, 0}},
                      TraceCase{"", 0, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
                      TraceCase{"-d\xe9\xc4"
                                "f",
                                1,
                                {0, 0, 3, 0, 0, 0, 0, 0, 0, 0}}),
    case_names(&TraceCase::letters));

}  // namespace
