// Repeated runs of one exit cursor keep no memory beyond what its first runs made.
#include <gtest/gtest.h>

#include <string>

#include "acquire/fetch_exit.h"
#include "testing/exec_support.h"
#include "testing/exit_cursor.h"

#if defined(__SANITIZE_ADDRESS__)
#include <cstddef>
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#define ZOV_HEAP_BYTES() __sanitizer_get_current_allocated_bytes()
#else
#include <malloc.h>
#define ZOV_HEAP_BYTES() mallinfo2().uordblks
#endif

namespace {

using exit_test::ExitCursor;

class FetchExitHeap : public ExecTest {};

TEST_F(FetchExitHeap, ThousandRunsKeepTheHeapFlat) {
    const int runs = 1000;
    ExitCursor x("HEAP", {{"A", 8, 1}, {"B", 8, 1}, {"C", 8, 1}}, 2, 0, "/bin/echo one two three");
    x.get()->limit = 5;
    x.get()->conditional_dummy = 1;
    for (int i = 0; i < 10; ++i) ASSERT_EQ(run_cursor_fetch_exit(x.get(), "20260101120000"), 0);
    const size_t before = ZOV_HEAP_BYTES();
    for (int i = 10; i < runs; ++i)
        ASSERT_EQ(run_cursor_fetch_exit(x.get(), "20260101120000"), 0) << i;
    const size_t after = ZOV_HEAP_BYTES();
    EXPECT_LE(after, before + 1024) << "before " << before << " after " << after;
    EXPECT_EQ(x.get()->count, 5);
    EXPECT_EQ(x.get()->totalDataRowsReturned, runs);
}

}  // namespace
