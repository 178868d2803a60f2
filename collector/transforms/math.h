// Math columns: a column computed from an expression over constants, the columns of the row
// being built and the columns of other cursors' rows. edit_math_pass binds the expression's
// names at start-up (and after a change of cursor versions); do_math computes one column
// into the row text while the row is built.
//
// The arithmetic is done in double, so counters above 2^24 keep their last digits. A
// leading + or - (of the expression or of a parenthesised group) is a sign.
#pragma once

struct curs;
struct columns;
struct m_anch;

// The editing pass (edit_passes.edit_math): binds every name of every math column and
// marks the columns that receive a math result. 0, or 1 after the messages ("pma3475",
// "pma3490", "pma3495", "pma3500", "pma3510", then "pma3515").
int edit_math_pass();

// Computes math column col of cursor c for the row text row and writes its len characters,
// right-aligned, at the column's offset. Always 0.
int do_math(curs* c, columns* col, char* row);

// Evaluates the filled work array of m ("*" and "/" before "+" and "-", left to right,
// parentheses first). A division by zero gives 0.
double do_arith(m_anch* m, curs* c);
