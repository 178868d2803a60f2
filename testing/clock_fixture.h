// Test seam: fixes the platform clock for the life of a fixture.
#pragma once

#include <gtest/gtest.h>

#include <ctime>

#include "runtime/platform.h"

namespace zovtest {

// 2026-12-10 14:30:05 UTC, a Thursday.
constexpr time_t kFixedNow = 1796913005;

inline void fixed_clock(struct timespec* out) {
    out->tv_sec = kFixedNow;
    out->tv_nsec = 0;
}

class FixedClock : public ::testing::Test {
  protected:
    void SetUp() override { u_platform_set(u_platform_ops{fixed_clock, nullptr, nullptr}); }
    void TearDown() override { u_platform_reset(); }
};

}  // namespace zovtest
