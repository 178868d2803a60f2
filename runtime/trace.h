// Trace levels.
//
// Ten 16-bit levels, index 0 to 9; "trace level n is on" means my_trace_all[n] != 0.
// Levels run from 0 to 23 (letters d to z).
#pragma once

#include <cstdint>

extern int16_t trace_all;
extern int16_t trace_something;
extern int16_t my_trace_all[10];
extern int16_t my_trace_all_l;  // highest index, 9

// True when trace level n (0..9) is on; false for any other n.
inline bool u_trace_on(int n) { return n >= 0 && n <= 9 && my_trace_all[n] != 0; }

// Sets all ten levels from a letter string: one leading "-" is skipped; a lower-case "d"
// as the next character sets trace_all and trace_something; that character is skipped;
// each following letter sets one level (d = 1 .. z = 23, anything else 0); missing letters
// give 0. Every call replaces all ten levels.
void trace_set(const char* letters);
