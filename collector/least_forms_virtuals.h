// Least forms of the row store, column-function, decode and base services that the virtual
// cursors, loads and column exits call. Each has the documented signature and the smallest
// behaviour those callers need; each goes when the real one lands.
#pragma once

#include <cstdint>

struct curs;
struct columns;
struct decode_op;

// The percent-work value of the fetch time: 14 digits and "00", NUL-terminated.
extern char fetch_time_stamp[17];
// Holds 1: the indicator of every value that is always present.
extern int16_t indicator1;

// Resolves text for cursor c: a column of c (50-byte name), a percent variable, or
// "cursor.column". 0 found (*col set; *cur set for another cursor), 1 not found.
int find_col(curs* c, char* text, columns** col, curs** cur);
// Computes the column's function over c's rows into the column's len bytes at out; 0 or 1.
int col_function(curs* c, columns* column, char* out);
// The rule of the chain that holds for value, else its DEFAULT rule, else null.
decode_op* eval_decode(columns* col, char* value, char* row, int indicator, curs* c,
                       decode_op* first);
// The value at offset of src's row that applies to the row being built for c; null none.
char* locate_base(curs* src, curs* c, int offset);
