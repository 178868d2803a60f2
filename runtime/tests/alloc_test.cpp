#include "runtime/alloc.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>
#include <limits>

#include "testing/case_names.h"

namespace {

TEST(Alloc, RoundsToSixteenWithFourSpareBytes) {
    struct Case {
        long request;
        long rounded;
    } cases[] = {{0, 16}, {1, 16}, {12, 16}, {13, 32}, {28, 32}, {29, 48}, {100, 112}};
    for (const Case& c : cases) {
        EXPECT_EQ(u_alloc_rounded(c.request), c.rounded) << c.request;
        void* p = U_MALLOC(c.request);
        ASSERT_NE(p, nullptr);
        // The whole rounded block is usable (the sanitizer checks this write).
        std::memset(p, 0xAB, static_cast<size_t>(c.rounded));
        U_FREE(p);
    }
}

TEST(Alloc, FreeOfNullDoesNothing) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    U_FREE(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

// COLL_ZEROMEM is read once per process: each setting runs in a child of its own.
class ZeroMem : public ::testing::TestWithParam<const char*> {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_P(ZeroMem, FillsOnlyForOne) {
    const char* setting = GetParam();
    bool zeroed = std::strcmp(setting, "1") == 0;
    EXPECT_EXIT(
        {
            setenv("COLL_ZEROMEM", setting, 1);
            bool all_zero = true;
            for (int round = 0; round < 50; ++round) {
                // Dirty a block and hand it back, so the next one is likely to reuse it.
                void* dirty = std::malloc(64);
                std::memset(dirty, 0x5A, 64);
                std::free(dirty);
                auto* p = static_cast<unsigned char*>(U_MALLOC(40));
                for (int i = 0; i < 48; ++i) all_zero = all_zero && p[i] == 0;
                U_FREE(p);
            }
            std::_Exit(all_zero == zeroed ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Settings, ZeroMem, ::testing::Values("1", "2", "0", "x"),
                         value_case_names());

TEST(AllocDeathTest, FailureReportsAndExitsWithFour) {
    // Sizes checked before rounding: a negative or huge request is the allocation failure,
    // never a small block.
    EXPECT_EXIT(U_MALLOC(-1), ::testing::ExitedWithCode(4), "");
    EXPECT_EXIT(U_MALLOC(std::numeric_limits<long>::max()), ::testing::ExitedWithCode(4), "");
    EXPECT_EXIT(
        u_malloc(-5, "zovdefs.c", 77, "n*size"), ::testing::ExitedWithCode(4),
        "UTM5400S ALLOC\\([0-9]+\\) Memory allocation error at:zovdefs.c.77 - n\\*size for -5 "
        "bytes");
}

TEST(Alloc, FreeErrorReportsAndReturnsTheSignal) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(u_free_error(11), 11);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Error in u_free_error and not ok to jump"), std::string::npos) << err;
}

}  // namespace
