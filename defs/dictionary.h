// The dictionary: named values declared by the dictionary file, in file order.
#pragma once

#include <cstdint>
#include <type_traits>

// One dictionary entry.
struct dictionary {
    dictionary* next;   // next entry in file order; null ends the list
    char name[32];      // at most 31 characters and a NUL
    int16_t orig_type;  // 2 = numeric (INTEGER, FLOAT or the number statement); 0 otherwise
    int16_t type;       // 1 once a type was accepted; 0 none
    int16_t len;        // n for CHAR(n) (at most 256); 16 for INTEGER and FLOAT
    char* initial;      // owned initial value text (u_malloc), or null
};

static_assert(std::is_trivially_copyable_v<dictionary>);

// Longest CHAR length of an entry.
inline constexpr int dict_max_len = 256;

// Head of the list of entries; lives for the life of the process.
extern dictionary* dict_anchor;

// Frees every entry with its initial value and empties the list (for a new reading).
void dict_free_all();
