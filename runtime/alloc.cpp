#include "runtime/alloc.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "runtime/msg.h"
#include "runtime/platform.h"

bool u_zero_mem() {
    static const bool value = [] {
        const char* v = std::getenv("COLL_ZEROMEM");
        if (!v) return false;
        char* end = nullptr;
        long n = std::strtol(v, &end, 10);
        return end != v && n == 1;
    }();
    return value;
}

void* u_malloc(long size, const char* file, int line, const char* what) {
    // The size is checked before rounding, so a huge or negative request cannot wrap
    // around into a small block.
    void* p = nullptr;
    if (size >= 0 && size <= std::numeric_limits<long>::max() - 32) {
        long rounded = u_alloc_rounded(size);
        p = std::malloc(static_cast<size_t>(rounded));
        if (p && u_zero_mem()) std::memset(p, 0, static_cast<size_t>(rounded));
    }
    if (!p) {
        u_msg(nullptr, __FILE__, __LINE__, "s", "utm5400",
              "Memory allocation error at:%s.%d - %s for %ld bytes \n", file ? file : "?", line,
              what ? what : "?", size);
        u_exit(4);
    }
    return p;
}

void u_free(void* p, const char*, int, const char*) {
    // A plain free: catching a fault inside free() would leave the allocator's lock held.
    std::free(p);
}

int u_free_error(int sig) {
    PRINT('e', "ufe2005", "Error in u_free_error and not ok to jump\n");
    return sig;
}
