// What the fetch exits and the merge of fetched rows call in the collector's row store,
// column lookup and dummy rows. Each is declared with its documented contract; until the
// collector's own version lands, collector/least_forms_fetch.cpp gives a least form that
// keeps the contract for the cases the fetch paths meet. Drop a declaration here and its
// least form when the real function arrives.
#pragma once

#include <cstdint>

struct curs;
struct columns;
struct in_list;
struct xSQLDA;
struct decode_op;
struct col_ex_list;

// Resolves `text` for cursor c: a column of c, "cursor.column" of another cursor, or a
// percent variable. 0 found (*col set; *cur set for a qualified or percent reference, left as
// it was for a column of c itself), 1 not found.
int find_col(curs* c, char* text, columns** col, curs** cur);

// The in-list named by "cursor.inlist", or null (pin4500, pin4505, pin4510).
in_list* find_in_list(char* reference);

// Builds one row from the descriptor's values (or the cursor's own columns without one) and
// appends it. The row text length when a row was appended, 0 when none was (the cursor may
// be held), -1 when a water mark could not be allocated.
int merge_text(char* buffer, xSQLDA* sqlda, curs* cursor, int32_t* types, const char* time_stamp);

// Lays out the cursor's columns for a dummy row without a fetch; 0.
int setup_dummy(curs* cursor, xSQLDA* sqlda, int32_t* types);

// Row trace dump; 0.
int proded(int row_number, const char* data, int length);

// Refreshes the percent-work values from the cursor for a row fetched at time_stamp.
void pcnt_set_work(curs* c, const char* time_stamp);

// Appends a stored row holding the len bytes of text to the cursor (sampleno and rowno from
// it, count, changed and needs_history set, the limit applied). 0, or 1 when no row could be
// made.
int row_append(curs* c, const char* text, int32_t len);

// Copies one column's value into the row text at buffer + col->offset: present values
// (indicator 0 or more) with a NUL behind and the HIGH_WATER/LOW_WATER marks kept, null
// values as blanks with "0" last for a number column, else "NULL" cut to the field. 0, or
// -1 when a water mark could not be allocated.
int row_copy_value(columns* col, char* buffer, const char* src, int16_t indicator);

// Math column: computes its len characters at its offset in row; 0.
int do_math(curs* c, columns* col, char* row);
// Decode of one value inside the row; 0, or 1 when a replacement column has no row.
int do_decode(columns* col, char* value, char* row, int indicator, curs* c);
// Column exits of one column; the first non-zero result, else 0.
int column_exit_driver(curs* cursor, columns* column, char* row_text, col_ex_list* list);
// Cursor trace dump; 0.
int sho_cur(curs* cursor);

// Indicator of every percent-variable column: 1, value present.
extern int16_t indicator1;
