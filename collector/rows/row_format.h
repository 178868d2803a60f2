// The binary row of a cluster: a cursor's row text converted to the fixed layout handed to
// a requester. Integers (INT!) take 4 bytes at a multiple of 4, floats (FLOAT!) 8 bytes at
// a multiple of 8, both in the host's byte order; time stamps (TS!) and text take their
// send length ("^n") or else their length; NS! columns take nothing.
#pragma once

struct curs;

// Bytes that round n up to a multiple of align (0 when it is one already).
int slk_bytes(int n, int align);

// Lays out the binary row: writes every column's row_offset (0 for NS!), clears caret_ll of
// INT!, FLOAT! and NS! columns and returns the row size; -1 with "dmk3740"
// when the row would pass 32767 bytes (the width a row offset holds).
int get_row_size(curs* c);

// Converts the row text src into the binary row at dst (zero-filled by the caller, sized
// by get_row_size). INT! values read by strtol after leading blanks and held to 32 bits;
// FLOAT! by strtod; blank or empty values give 0. TS! values are normalised to 16
// characters, of which the first min(16, width) are stored. Returns 0.
int make_row(curs* c, char* dst, const char* src);
