// Column exits: the built-in rewrites of a column's value in the row text that a cursor
// definition attaches to its columns (justification, substring, concatenation and three
// time conversions). The row builders run them after the fetch, math and decodes.
#pragma once

struct curs;
struct columns;
struct col_ex_list;

// The exit entry now running, so that an exit can read its arguments (SUBSTR start and
// length, the CONCAT column).
extern col_ex_list* col_ex_l_ptr;

// Runs the exits of list in order along next_function, setting col_ex_l_ptr before each;
// stops at and returns the first non-zero result; 0 when all succeeded. The caller keeps
// the row either way.
int column_exit_driver(curs* cursor, columns* column, char* row_text, col_ex_list* list);

// The pass behind edit_col_exits() (model/engine_globals.h, installed by the engine's
// hooks): binds every exit clause of every cursor to its column (and each CONCAT to its
// second column through find_col). Reports every fault ("pce4185", "pce4190"); ends with
// "pce4200" (i) and 0, or "pce4195" and 1.
int edit_col_exits_pass();

// Puts the seven exits below into the definition language's exit table routines.
void install_column_exits();

// The exits. Each rewrites the column's len bytes at its offset in row_text, never more;
// 0 success, 1 failure (value unchanged).
int colex_r(curs* cursor, columns* column, char* row_text);   // R_JUSTIFY
int colex_l(curs* cursor, columns* column, char* row_text);   // L_JUSTIFY
int colex_m(curs* cursor, columns* column, char* row_text);   // MINUTES since mm/dd/yyyy hh:mm
int colex_s(curs* cursor, columns* column, char* row_text);   // SUBSTR (start, length)
int colex_c(curs* cursor, columns* column, char* row_text);   // CONCAT column
int colex_m2(curs* cursor, columns* column, char* row_text);  // MINUTES2 since a binary time
int colex_t(curs* cursor, columns* column, char* row_text);   // TIMESTAMP of a binary time
