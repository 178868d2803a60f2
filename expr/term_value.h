// Values of terms: reading texts as numbers, measuring texts, and writing the result texts
// of work terms and the texts of work variables.
//
// Every value text a term holds is NUL-terminated: a constant's or a variable's own name,
// a caller's text, or a buffer the term owns (allocd_value 1). A buffer a term owns holds at
// least max(len, strlen(value)) + 1 bytes; a work term's buffer, and a running sum's, holds
// WORK_TEXT_SIZE bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expr/term_table.h"

// Room of a result text: "%lf" of any finite double (317 characters) and its NUL.
constexpr int WORK_TEXT_SIZE = 320;

// Length of text[0..n) without trailing blanks, but at least 1 when n > 0 (a text of blanks
// counts as one blank); 0 for an empty text.
size_t less_blanks_len(const char* text, size_t n);

// Length of the term's value text; 0 when it has none.
size_t term_text_len(const TERM_TABLE* term);

// Reads text[0..n) as a number: a base-10 integer of the 32-bit range (strtol), else a
// finite double (strtod), each consuming the whole text. Leading blanks are accepted,
// trailing ones not; an empty text is the integer 0. Returns 2 (integer in *i), 3 (double in
// *d) or 0 (not a number).
int32_t text_to_number(const char* text, size_t n, int32_t* i, double* d);

// Converts the term's value text with text_to_number into num_type and int_val / dbl_val
// (num_type 0 and dbl_val 0.0 when it is not a number). Returns the new num_type.
int32_t term_str2num(TERM_TABLE* term);

// The term's number as a double: int_val when num_type is 2, dbl_val otherwise.
double term_double(const TERM_TABLE* term);

// Gives the term a result buffer of WORK_TEXT_SIZE bytes unless it already owns one.
void term_result_buffer(TERM_TABLE* term);

// Result conventions: a logical value (data and num type 2, "1" or "0").
void set_logical_result(TERM_TABLE* term, bool value);
// A number of type 2 (truncated toward zero into int_val, text "%li") or 3 (dbl_val, text
// "%lf"). 0 done; 1 after "Int0345" when the value does not fit (an integer beyond 32
// bits, a double that is not finite).
int16_t set_number_result(TERM_TABLE* term, int32_t num_type, double value);

// Replaces a variable's value text with text[0..n) in a buffer the variable owns; the text
// may be the variable's own current text.
void set_variable_text(TERM_TABLE* var, const char* text, size_t n);
