// Tracked block memory: blocks recorded on a chain with guard bytes behind them.
//
// Each tracked block gets an hvm_chain record on a caller's g_chain anchor. A block is
// obtained with the rounding of u_malloc (n + 19, down to a multiple of 16), and the
// slack between the requested and the obtained size is filled with the guard byte
// 0xEF; the guard is checked whenever the record is dumped or the block freed, and an
// overrun is reported ("=== memory overrun- ...") to standard error. Single-threaded.
#pragma once

#include <cstdint>

#include "runtime/chains.h"

// Option bits (the `opt` arguments and field).
enum : uint16_t {
    U2_NORECORD = 1,   // no tracking record (on free: do not look for one)
    U2_ZERO = 2,       // zero-fill the requested bytes
    U2_EXACT = 4,      // exact size, no rounding; implies U2_NOGUARD
    U2_KEEP = 8,       // keep the block when freeing (the record still goes)
    U2_NOGUARD = 16,   // no guard bytes, no overrun check
    U2_FIRST = 32,     // put the record first on the chain (otherwise last)
    U2_KEEPVAR = 128,  // on free, leave the caller's variable unchanged
    U2_FORCE = 256,    // free even when U2_KEEP is set
};

constexpr unsigned char tracememuc = 0xEF;  // the guard byte

// The tracking record of one block. The link is the first member, so the chain's
// getters hand back the record.
struct hvm_chain {
    g_chain link;
    int32_t size;     // bytes requested
    int32_t actSize;  // bytes obtained
    char what[16];    // the caller's text, at most 15 characters
    uint16_t opt;
    void* newalloc;   // the block
    void** allocp;    // the caller's variable holding the block, or null
    g_chain* anchor;  // the chain the record is on, or null
};

// A block of `size` bytes from the system allocator, rounded as u_malloc unless
// U2_EXACT; zero-filled with U2_ZERO or COLL_ZEROMEM=1; guard bytes behind it unless
// U2_NOGUARD. The obtained size goes to *actual when given. Null on failure.
void* u2_malloc(int32_t size, int32_t* actual, int opt);
// Frees a block of u2_malloc unless U2_KEEP is set without U2_FORCE.
void u2_free(void* block, int opt);

// A tracked block, stored into *var when var is given and recorded on `anchor` unless
// U2_NORECORD. Out of memory writes "utt5400" and ends the program with status 4.
void* u2_newBlockMemory(g_chain* anchor, void** var, int32_t size, int opt, const char* file,
                        int line, const char* what);
// A tracked copy of `text` (null counts as empty), as u2_newBlockMemory.
char* u2_dupBlockMemory(g_chain* anchor, void** var, const char* text, int opt, const char* file,
                        int line, const char* what);
// Frees the tracked block held by *var: its record is found (from the last), dumped
// with the guard check, taken off and freed; the record's options join `opt`. A block
// without a record is reported ("utt3500") and freed without a check. The block stays
// with U2_KEEP (unless U2_FORCE); *var becomes null unless U2_KEEPVAR or the block
// stays. Nothing for a null var or *var.
void u2_freeBlockMemory(g_chain* anchor, void** var, int opt, const char* file, int line,
                        const char* what);

// A record for the block held by *var, linked on `anchor` when given (first with
// U2_FIRST); null with U2_NORECORD or when no record can be allocated.
hvm_chain* u2_memAlcLink(g_chain* anchor, void** var, int32_t size, int opt, const char* file,
                         int line, const char* what);
// Takes the record of `block` off the chain (its allocp cleared) and returns it; null
// when there is none.
hvm_chain* u2_memDelink(g_chain* anchor, void* block);
// Links a record on the chain: first with U2_FIRST in its options, else last.
void u2_memLink(g_chain* anchor, hvm_chain* record);
// Dumps, takes off and frees every record of the chain with its block (the block by
// the record's options).
void u2_free_all(g_chain* anchor);

// Dumps every record of the chain (with the guard check) and flushes the dump stream.
void u2_dump_tracem(g_chain* anchor);
// Dumps one record (a line at trace level 8), then checks its guard bytes.
void u2_dump1_tracem(hvm_chain* record);
// Reports an overwritten guard: to the dump stream when one is set, else through PRINT
// ("utt5500").
void u2_mem_orcheck(hvm_chain* record);
