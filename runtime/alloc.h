// Allocation: every dynamic block of the system's records goes through u_malloc/u_free.
//
// A request of n bytes obtains the smallest multiple of 16 that is at least n + 4, so
// every block has room behind its requested size (the tracked allocator keeps its guard
// bytes there). With COLL_ZEROMEM=1 every block is zero-filled.
#pragma once

#include <cstddef>

// Rounded size of a request of n bytes: ((n + 19) / 16) * 16. Only for 0 <= n.
constexpr long u_alloc_rounded(long n) { return ((n + 19) / 16) * 16; }

// True when COLL_ZEROMEM is 1: every new block is then zero-filled. Read once, on first
// use, with the system's getenv (u_getenv allocates); both allocators share this reading.
bool u_zero_mem();

// Returns a new block of at least `size` bytes; never null. A negative or unobtainable
// size writes "utm5400" naming the caller and ends the program with status 4.
void* u_malloc(long size, const char* file, int line, const char* what);

// Frees a block obtained from u_malloc; a null pointer is ignored.
void u_free(void* p, const char* file, int line, const char* what);

// The historical SIGSEGV handler of u_free. Frees are no longer guarded (a fault inside
// free() cannot be survived safely), so this only reports and returns the signal.
int u_free_error(int sig);

#define U_MALLOC(n) u_malloc(static_cast<long>(n), __FILE__, __LINE__, #n)
#define U_FREE(p) u_free((p), __FILE__, __LINE__, #p)
