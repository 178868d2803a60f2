// Column numbering and column lookup across the if/else versions of a cursor.
#pragma once

struct curs;
struct columns;

// Numbers the cursor's insert_columns 1, 2, 3 ... in list order into col_no; returns 0.
int set_col_ordinals(curs* cursor);

// Looks name up in cursor c: a name beginning with a digit is a 1-based position (0 counts
// as 1), any other name is compared exactly over 50 bytes with col_name. The cursor's own
// columns come first; then its other versions (warnings "pde5000" and "pde5010"), the most
// recently activated version that holds the column winning. Returns 0 with *col and *cur
// set, 1 with both null when no version has it.
int search_curs_vers_insert(curs* c, const char* name, columns** col, curs** cur);
