// Column functions (MIN, MAX, AVG, WAVG, TREND, SUM, HIGH_WATER, LOW_WATER, COUNT): a
// cursor's rows collapsed into one synthetic row, its column_data.
#pragma once

struct curs;
struct columns;
struct cluster;

// Recomputes the synthetic row when rows came or went since the last time (collecting the
// cursor first when it never had rows) and returns its one-row cluster; null for a cursor
// without column functions, a failed collection or a failed function. A cursor without
// rows gets the row of an empty cursor (COUNT and SUM 0, other columns blank), whether or
// not it ever had rows.
cluster* do_column_func(curs* c, int now);

// Computes the column's function over c's rows into the column's len bytes at out, the
// number right-aligned in blanks. 0, or 1 on failure (unknown function, len above 255).
// COUNT is the number of rows of the cursor's last run.
// Records in c->min_max_row the row a MIN or MAX took its value from.
int col_function(curs* c, columns* column, char* out);
// The same for a column that is not numeric: MIN and MAX byte-wise, the water marks;
// AVG, WAVG, TREND and SUM give 1.
int col_funct_char(curs* c, columns* column, char* out);
