// Which rule of a decode chain holds for one value of one row. Serves the decodes of a row
// being built, the iterate_where filter and the where/from predicates of loads.
#pragma once

struct curs;
struct columns;
struct decode_op;

// Widest value a decode compares or replaces: the width of a rule's value images.
inline constexpr int decode_value_max = 256;

// The rule of the chain from first that holds for the col->len characters at value, else
// the chain's last DEFAULT rule, else null. row is the row text that this row's column
// references index by offset; indicator below 0 means the value is NULL (then the first
// NULL rule holds at once); c is the cursor being processed. Null, without looking at
// further rules, when a referenced cursor has no row (warning "cde4365" or "cde4385") or
// a rule refers to c's age-to target while it is being aged. A rule whose operand no pass
// bound (a column or an in-list) does not hold ("cde4366", once per rule). Values are
// compared over at most decode_value_max characters. Allocates nothing.
decode_op* eval_decode(columns* col, char* value, char* row, int indicator, curs* c,
                       decode_op* first);

// Per-row warnings of a run: true when the warning id for cursor c is to be written (the
// first in this run); later ones are counted and decode_warnings_report writes one count
// per cursor and id ("cde4430").
bool decode_warn_first(const curs* c, const char* id);
void decode_warnings_report();
