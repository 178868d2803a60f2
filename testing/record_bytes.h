// Test aid: integers read back from a byte-exact record at their offsets (host order).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline int32_t i32_at(const unsigned char* rec, size_t off) {
    int32_t v;
    std::memcpy(&v, rec + off, 4);
    return v;
}
inline int16_t i16_at(const unsigned char* rec, size_t off) {
    int16_t v;
    std::memcpy(&v, rec + off, 2);
    return v;
}
