#include "runtime/blockmem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>

#include "runtime/trace.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

bool contains_nocase(std::string hay, std::string needle) {
    auto lower = [](std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    };
    return lower(hay).find(lower(needle)) != std::string::npos;
}

TEST(BlockMem, GuardBytesFollowTheAllocatorsRounding) {
    struct Case {
        int32_t size;
        int opt;
        int32_t actual;
    };
    const Case cases[] = {
        {0, 0, 16}, {10, 0, 16}, {12, 0, 16}, {13, 0, 32}, {100, 0, 112}, {10, U2_EXACT, 10},
    };
    for (const Case& c : cases) {
        int32_t act = -1;
        auto* b = static_cast<unsigned char*>(u2_malloc(c.size, &act, c.opt));
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(act, c.actual) << c.size;
        for (int32_t i = c.size; i < act; ++i) EXPECT_EQ(b[i], tracememuc) << c.size << " @" << i;
        u2_free(b, 0);
    }
    EXPECT_EQ(u2_malloc(-1, nullptr, 0), nullptr);
}

TEST(BlockMem, ZeroFillOption) {
    int32_t act = 0;
    auto* b = static_cast<unsigned char*>(u2_malloc(40, &act, U2_ZERO));
    for (int i = 0; i < 40; ++i) EXPECT_EQ(b[i], 0) << i;
    u2_free(b, 0);
}

TEST(BlockMem, OneBytePastTheBlockIsReportedAsAnOverrun) {
    g_chain anchor{};
    char* p = nullptr;
    u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&p), 10, 0, __FILE__, __LINE__, "ten");
    ASSERT_NE(p, nullptr);
    std::memset(p, 'a', 10);

    CaptureStderr();
    u2_dump_tracem(&anchor);
    EXPECT_EQ(GetCapturedStderr(), "");  // in bounds: nothing to say

    p[10] = 'X';  // the eleventh byte
    CaptureStderr();
    u2_dump_tracem(&anchor);
    std::string dumped = GetCapturedStderr();
    EXPECT_NE(dumped.find("=== memory overrun-     6 bytes ->"), std::string::npos) << dumped;

    CaptureStderr();
    u2_freeBlockMemory(&anchor, reinterpret_cast<void**>(&p), 0, __FILE__, __LINE__, "ten");
    std::string freed = GetCapturedStderr();
    // Too little of the guard is readable, so it is shown in hexadecimal.
    EXPECT_NE(freed.find("=== memory overrun-     6 bytes ->58EFEFEF EFEF\n"), std::string::npos)
        << freed;
    EXPECT_EQ(p, nullptr);
    EXPECT_EQ(anchor.count, 0);
}

TEST(BlockMem, ExactBlocksHaveNoGuard) {
    g_chain anchor{};
    char* p = nullptr;
    u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&p), 16, U2_EXACT, __FILE__, __LINE__,
                      "exact");
    auto* r = static_cast<hvm_chain*>(g_getFirst(&anchor));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->actSize, 16);
    EXPECT_TRUE(r->opt & U2_NOGUARD);
    CaptureStderr();
    u2_freeBlockMemory(&anchor, reinterpret_cast<void**>(&p), 0, __FILE__, __LINE__, "exact");
    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(BlockMem, RecordHoldsTheCallersFacts) {
    g_chain anchor{};
    char* a = nullptr;
    char* b = nullptr;
    u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&a), 20, 0, __FILE__, __LINE__,
                      "a-rather-long-what-text");
    u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&b), 5, U2_FIRST, __FILE__, __LINE__, "b");
    auto* first = static_cast<hvm_chain*>(g_getFirst(&anchor));
    auto* last = static_cast<hvm_chain*>(g_getLast(&anchor));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->newalloc, b);  // U2_FIRST put it in front
    EXPECT_EQ(last->newalloc, a);
    EXPECT_STREQ(last->what, "a-rather-long-w");
    EXPECT_EQ(last->size, 20);
    EXPECT_EQ(last->actSize, 32);
    EXPECT_EQ(last->allocp, reinterpret_cast<void**>(&a));
    EXPECT_EQ(last->anchor, &anchor);
    u2_free_all(&anchor);
    EXPECT_EQ(anchor.count, 0);
    EXPECT_EQ(anchor.next, nullptr);
}

TEST(BlockMem, FreeOptions) {
    struct Case {
        int opt;
        bool block_kept;
        bool var_kept;
    };
    const Case cases[] = {
        {0, false, false},
        {U2_KEEP, true, true},
        {U2_KEEP | U2_FORCE, false, false},
        {U2_KEEPVAR, false, true},
    };
    for (const Case& c : cases) {
        g_chain anchor{};
        char* p = nullptr;
        u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&p), 8, 0, __FILE__, __LINE__, "x");
        char* block = p;
        u2_freeBlockMemory(&anchor, reinterpret_cast<void**>(&p), c.opt, __FILE__, __LINE__, "x");
        EXPECT_EQ(anchor.count, 0) << c.opt;  // the record goes in every case
        EXPECT_EQ(p != nullptr, c.var_kept) << c.opt;
        if (c.block_kept) {
            block[0] = 'k';  // still ours (ASan would object otherwise)
            u2_free(block, 0);
        }
    }
}

TEST(BlockMem, KeepOptionOfTheRecordHolds) {
    // Options given at allocation join those given at free.
    g_chain anchor{};
    char* p = nullptr;
    u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&p), 8, U2_KEEP, __FILE__, __LINE__, "k");
    char* block = p;
    u2_freeBlockMemory(&anchor, reinterpret_cast<void**>(&p), 0, __FILE__, __LINE__, "k");
    EXPECT_EQ(p, block);
    EXPECT_EQ(anchor.count, 0);
    u2_free(block, 0);
}

TEST(BlockMem, FreeOfAnUnrecordedBlockWarnsAndFrees) {
    g_chain anchor{};
    char* p = nullptr;
    u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&p), 8, U2_NORECORD, __FILE__, __LINE__,
                      "n");
    EXPECT_EQ(anchor.count, 0);
    p[8] = 'X';  // no record, so no guard check either
    CaptureStdout();
    CaptureStderr();
    u2_freeBlockMemory(&anchor, reinterpret_cast<void**>(&p), 0, "file.cpp", 42, "n");
    std::string out = GetCapturedStdout() + GetCapturedStderr();
    EXPECT_TRUE(contains_nocase(out, "utt3500")) << out;
    EXPECT_NE(out.find("Could not find hvm_chain entry. file.cpp(42) n"), std::string::npos) << out;
    EXPECT_EQ(out.find("overrun"), std::string::npos) << out;
    EXPECT_EQ(p, nullptr);
}

TEST(BlockMem, BlockWithoutAVariableCanStillBeFound) {
    g_chain anchor{};
    void* block = u2_newBlockMemory(&anchor, nullptr, 30, 0, __FILE__, __LINE__, "novar");
    hvm_chain* r = u2_memDelink(&anchor, block);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->newalloc, block);
    EXPECT_EQ(r->allocp, nullptr);
    EXPECT_EQ(anchor.count, 0);
    EXPECT_EQ(u2_memDelink(&anchor, block), nullptr);
    u2_memLink(&anchor, r);
    EXPECT_EQ(g_getFirst(&anchor), r);
    u2_free_all(&anchor);
}

TEST(BlockMem, DupCopiesTheText) {
    g_chain anchor{};
    char* p = nullptr;
    char* copy = u2_dupBlockMemory(&anchor, reinterpret_cast<void**>(&p), "hello", 0, __FILE__,
                                   __LINE__, "dup");
    EXPECT_EQ(copy, p);
    EXPECT_STREQ(copy, "hello");
    auto* r = static_cast<hvm_chain*>(g_getFirst(&anchor));
    EXPECT_EQ(r->size, 6);
    u2_freeBlockMemory(&anchor, reinterpret_cast<void**>(&p), 0, __FILE__, __LINE__, "dup");
    EXPECT_EQ(anchor.count, 0);
}

TEST(BlockMem, FreeAllOfThreeRecords) {
    g_chain anchor{};
    char* v[3] = {};
    for (int i = 0; i < 3; ++i)
        u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&v[i]), 10 * (i + 1), 0, __FILE__,
                          __LINE__, "three");
    EXPECT_EQ(anchor.count, 3);
    u2_free_all(&anchor);  // ASan's leak check sees any block or record left behind
    EXPECT_EQ(anchor.count, 0);
    EXPECT_EQ(g_getFirst(&anchor), nullptr);
}

TEST(BlockMem, DumpLineAtTraceLevelEight) {
    g_chain anchor{};
    char* p = nullptr;
    u2_newBlockMemory(&anchor, reinterpret_cast<void**>(&p), 10, 0, __FILE__, __LINE__, "dumped");
    int16_t saved = my_trace_all[8];
    my_trace_all[8] = 1;
    CaptureStderr();
    u2_dump_tracem(&anchor);
    std::string out = GetCapturedStderr();
    my_trace_all[8] = saved;
    char want[64];
    std::snprintf(want, sizeof want, "-+ malloc %8.8x -    10(   16) bytes ->dumped\n",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(p) & 0xffffffffu));
    EXPECT_EQ(out, want);
    u2_free_all(&anchor);
}

}  // namespace
