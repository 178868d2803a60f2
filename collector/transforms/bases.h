// Bases: the row of a base cursor that a fetched row joins. edit_bases_pass binds every
// base clause at start-up (and after a change of cursor versions); set_bases chooses, for
// the row being built, the base row of each base of its cursor; locate_base tells where a
// column of another cursor is read for that row.
//
// A value matches a base row when, over the shorter of the value's length and the base
// column's width, the bytes are equal and the rest of the base column is blank: 7 matches
// "7   " but not "70  ", and a value longer than the column matches on the column's width. A
// NULL or empty value matches no row.
//
// The base row is found through an index of the base cursor's rows by the base column,
// built at the first look-up after the base cursor's rows have changed (its next run or
// retention), so a look-up costs the same over 100 or 10,000 base rows. The index keeps
// the first row of each value, of the current sample when the base cursor keeps samples:
// the row a search in chain order would find.
#pragma once

#include <cstdint>

struct curs;
struct base;
struct row_data;
struct xSQLDA;

// The editing pass (edit_passes.edit_bases): binds every base of every cursor of
// cur_anchor to its base cursor and base column. 0, or 1 after the messages ("pba3295",
// "pba3300", "pba3305", "pba3310", then "pba3325").
int edit_bases_pass();

// Chooses base_row of every base of c for the row described by d; 0, or 1 when a base
// cursor other than c's age-to cursor has no row at all ("cba3365").
int set_bases(curs* c, xSQLDA* d);

// Ends the row that set_bases chose base rows for: the base rows are forgotten, so that
// later readers (iterate_where, loads) read the base cursor's last row, never a row its
// retention freed since. The row builders call it once the row is stored or dropped.
void end_bases(curs* c);

// The address of the value at offset of src's row that applies to the row being built for
// c: the base row chosen for it when src is one of c's base cursors, else src's last row.
// Null when there is no such row or offset lies outside src's row text (row_text_extent).
char* locate_base(curs* src, curs* c, int offset);

// The bytes of a row text of c that a reader may reach: its length; the percent cursor's
// row is wider (each parameter column sits in a place of 256 bytes).
int32_t row_text_extent(const curs* c);

// The core that set_bases and the result-set twin (ccmr_set_bases) share: the row search,
// the fallbacks and the match rule. Only the messages and the row source differ.
enum class base_rows_from { descriptor, result_set };
// Finds the value of b->this_col in the row being built: false when the row has no such
// column; else *text and *len (a NULL value: *is_null true).
using base_value_fn = bool (*)(const void* row, const base* b, const char** text, int32_t* len,
                               bool* is_null);
int choose_base_rows(curs* c, base_rows_from kind, base_value_fn value_of, const void* row);

// The last column name "cba3350" warned about (50 bytes, for the life of the process).
extern char prev_col_name[50];
