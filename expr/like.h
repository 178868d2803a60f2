// LIKE: matching a text against a pattern with the wildcards "_" and "%".
//
// Subject and pattern are taken without trailing blanks. "_" takes one character (none when
// the subject is used up); "%" takes any run of characters up to the FIRST occurrence of the
// literal segment that follows it, with no backtracking ('abcbc' LIKE '%bc' is false). A "%"
// followed by "_" takes at least one character and then looks for the next segment. Every
// other character, blanks and case included, must match itself; an empty pattern matches
// only an empty subject.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expr/term_table.h"

// The match of subject[0..ns) against pattern[0..np) (no trimming here).
bool like_match(const char* subject, size_t ns, const char* pattern, size_t np);

// The operator: args[0] LIKE args[1], a logical result. 0 (it cannot fail).
int16_t like_prc(TERM_TABLE** args, TERM_TABLE* result);
