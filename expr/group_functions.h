// The group functions of the internal select: SUM keeps a running sum, ROW collects the
// values of a select list into a row vector and tells the select when a row begins a new
// group (the plain values of the list are the group key).
//
// Both act by the processing mode the select sets for each row (expr/select_mode.h):
//   0 first row: the running sums start from the row's values, the row vector is built;
//   1 first row of a new group: the sums restart from the row, the key copies are renewed;
//   2 further row: SUM adds the row's value; ROW compares the key values with the copies
//     of the group's first row and sets the row status 3 when one differs, else 2.
//
// The running sums belong to this module, one for each SUM of a select list (the k-th SUM
// evaluated in a run of the interpreter uses the k-th running sum), so that SUM of a
// computed value and a list that sums one term twice each keep sums of their own. The row
// vector belongs to the holder (the last argument of ROW): a chain through `vector` of one
// element per value, each a copy that owns its text, so a list that names a term twice
// still has two elements.
#pragma once

#include <cstdint>

#include "expr/term_table.h"

// Called by the interpreter at the start of every run: the next SUM is the first.
void start_group_evaluation();

// SUM of its one argument, by mode (alloc_sum_term, zero_term, exec_sum). The result gets
// the running sum's value and `sum_term` := the running sum. 0, or 1 after a message when
// the value is not a number ("Int0315", "Int0310") or the sum does not fit ("Int0345").
// An unknown mode is severe "SEL0140" and ends the process with status 1.
int16_t sum_func(TERM_TABLE** args, TERM_TABLE* result);

// ROW of its values and the holder that follows them (at most 99 values), by mode
// (alloc_vector, reset_vector, produce_vector). The holder becomes term type 5; the result
// gets term type 5, data type 0 and `vector` := the holder's first element. 0, or 1: a
// comparison failed, the holder is not a name ("Int0430"), the vector does not fit the list
// ("SEL0150"), or the mode is unknown ("SEL0300").
int16_t row_func(TERM_TABLE** args, TERM_TABLE* result);

// Copies the source into the target: the whole record, then the source's current value
// text into a buffer the target owns (allocd_value 1, len = the text's length, bound for
// good); sum_term, copy_link, vector and next of the target are cleared. 0, or 1 when the
// source claims a buffer it has not ("TRM0020"). A target flagged as owning an invalid
// buffer gets the warning "TRM0023" and a new one.
int copy_term(TERM_TABLE* target, const TERM_TABLE* source);

// Releases the running sums (they are otherwise kept for the life of the process).
void free_group_sums();
