// Virtual cursors: cursors that are never fetched and hold exactly one row, laid out from
// the dictionary at start-up; loads, the status writer and the definitions' initial values
// fill it, and everyone else reads it like any cursor's row.
#pragma once

// The value of column SQLRC of the virtual cursor SERVSTAT (the collector's database
// status), and its length; null and 0 while there is none or it is shorter than 6.
extern char* servstatus;
extern int servstatus_len;

// Builds the one row of every virtual cursor of cur_anchor: each column takes its
// dictionary entry's length, blanks and its initial value (numbers right-aligned). The
// row's text is also the cursor's buffer. 0; 1 after "pvt2185" when a column has no
// dictionary entry (a name of 32 characters or more never has one).
int init_virtuals_pass();

struct columns;
struct dictionary;
// The dictionary entry named exactly as the column (its name continues with a blank or a
// NUL after the column's name); null when none.
dictionary* dict_entry_of(const columns* col);
