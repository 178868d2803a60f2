// Column functions (MIN, MAX, AVG, WAVG, TREND, SUM, HIGH_WATER, LOW_WATER, COUNT): a
// cursor's rows collapsed into one synthetic row, its column_data (built by
// do_column_func, collector/run/cursor_answer.h).
#pragma once

struct curs;
struct columns;

// Computes the column's function over c's rows into the column's len bytes at out, the
// number right-aligned in blanks. 0, or 1 on failure (unknown function, len above 255).
// COUNT is the number of rows of the cursor's last run.
// Records in c->min_max_row the row a MIN or MAX took its value from.
int col_function(curs* c, columns* column, char* out);
// The same for a column that is not numeric: MIN and MAX byte-wise, the water marks;
// AVG, WAVG, TREND and SUM give 1.
int col_funct_char(curs* c, columns* column, char* out);
