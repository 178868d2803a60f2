// Field accessors of the shared-memory segments.
#include "comm/shm_layout.h"

#include <cstring>

#include "runtime/platform.h"

namespace shm {

void put_text(char* seg, int offset, int size, const char* text, size_t length) {
    memset(seg + offset, 0, static_cast<size_t>(size));
    if (!text) return;
    size_t n = strnlen(text, length);
    if (n > static_cast<size_t>(size - 1)) n = static_cast<size_t>(size - 1);
    memcpy(seg + offset, text, n);
}

std::string get_text(const char* seg, int offset, int size) {
    return std::string(seg + offset, strnlen(seg + offset, static_cast<size_t>(size - 1)));
}

int32_t now32() { return static_cast<int32_t>(static_cast<uint32_t>(u_time_now())); }

}  // namespace shm
