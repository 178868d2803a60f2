// Loads: after a cursor has run, each LOAD directive moves a value derived from its rows
// (a column of the current row, a minimum, maximum, count, sum or average, the value of a
// selected row, the most frequent value, a column function) into a column of another
// cursor's current row, normally the one row of a virtual cursor.
#pragma once

struct curs;
struct columns;
struct row_data;

// Applies every load of c in order (COUNT, SUM and AVERAGE over the rows that pass the
// load's WHERE, or over every row without one); have_rows 0 puts each target's dictionary initial
// value (or blanks) instead. Marks c and every target changed and in need of history. A
// target without a current row is skipped with "plo3112". 0, or the non-zero result of a
// failing column function ("plo3105"; the remaining loads are not applied).
int process_loads(curs* c, int have_rows);

// Moves value (the source column's len characters, blanks and tabs at both ends stripped)
// into the target column's len bytes at dest: numbers (source data_type or orig_type 2)
// right-aligned keeping their last characters, other values left-aligned keeping their
// first. Writes exactly the target's len bytes. Returns 0.
int set_one_var(columns* source, columns* target, char* dest, char* value, curs* c);

// Moves value into the column named column_name of the virtual cursor named cursor_name.
// 2 no such cursor, 3 not virtual, 4 no such column, 5 the cursor has no row ("plo3112");
// else set_one_var's result.
int borin_load(columns* source, char* cursor_name, char* column_name, char* value);

// The row of c whose value of column occurs most often (the first row showing the
// earliest such value); null when c has no rows. Linear in the rows.
row_data* get_max_occurance(curs* c, columns* column);

// Orders two values of the column: numeric columns (orig_type 2) by their numbers, values
// that are not numbers after them bytewise; other columns bytewise over len. <0, 0, >0.
int load_compare_values(const columns* column, const char* a, const char* b);
