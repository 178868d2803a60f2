// The operators of the expression language: logic, comparison, assignment and arithmetic
// (LIKE is in expr/like.h). Each routine receives its gathered arguments in text order and
// the work term for its result, and returns 0, or 1 after an error message.
//
// Results: logical values (OR, AND, NOT, comparisons, assignment) have data and num type 2
// and the text "1" or "0"; "+", "-", "*" and the unary minus take the number type of their
// last argument (2: truncated toward zero, text "%li"; 3: text "%lf"); "/" always gives a
// double.
#pragma once

#include <cstdint>

#include "expr/term_table.h"

// Orders a against b: *r < 0, 0 or > 0. Two texts compare by their lengths without trailing
// blanks first, then byte by byte; otherwise both are read as numbers (a text is converted
// unless it has a number already) and *r is their difference truncated toward zero (64
// bits, saturated), so numbers less than 1 apart are equal. 0, or 1 when the operands are
// incomparable ("Int0190", "Int0200", "Int0210", "Int0220", "Int0230").
int16_t compare_subr(TERM_TABLE* a, TERM_TABLE* b, int64_t* r);

int16_t or_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t and_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t not_prc(TERM_TABLE** args, TERM_TABLE* result);

int16_t equ_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t nequ_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t less_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t nless_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t grt_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t ngrt_prc(TERM_TABLE** args, TERM_TABLE* result);

// ":=": copies the source's value text into the target, which must be a work variable of
// the expression (a name that is not a column, a percent variable or a declared variable).
// The result is 1 when the copied text is not empty.
int16_t asgnt_prc(TERM_TABLE** args, TERM_TABLE* result);

// The arithmetic core: reads each of the n arguments as a double ("Int0310", "Int0315",
// "Int0320") and gives the number type of the last one read.
int16_t arithm_subr(TERM_TABLE** args, int n, double* values, int32_t* num_type);

int16_t plus_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t minus_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t mltpl_prc(TERM_TABLE** args, TERM_TABLE* result);
// "Int0340" for a divisor of 0.
int16_t div_prc(TERM_TABLE** args, TERM_TABLE* result);
int16_t neg_prc(TERM_TABLE** args, TERM_TABLE* result);
