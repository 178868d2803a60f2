// Copying one column value: most are a few to a few dozen bytes, where a call into the
// library's general copy costs more than the copy. Fixed-size moves the compiler inlines
// cover those; anything longer goes to memcpy.
#pragma once

#include <cstddef>
#include <cstring>

inline void copy_value(char* dst, const char* src, size_t n) {
    if (n >= 16 && n <= 32) {
        std::memcpy(dst, src, 16);
        std::memcpy(dst + n - 16, src + n - 16, 16);
    } else if (n >= 8 && n < 16) {
        std::memcpy(dst, src, 8);
        std::memcpy(dst + n - 8, src + n - 8, 8);
    } else if (n >= 4 && n < 8) {
        std::memcpy(dst, src, 4);
        std::memcpy(dst + n - 4, src + n - 4, 4);
    } else if (n < 4) {
        for (size_t i = 0; i < n; ++i) dst[i] = src[i];
    } else {
        std::memcpy(dst, src, n);
    }
}
