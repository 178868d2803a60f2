// Turning a cursor block into the working parts of a cursor record: columns from
// host-variable words, the compacted INSERT, the SELECT text, day windows, blank padding.
#pragma once

#include <cstdint>

struct curs;
struct operate;
struct sel;

// Appends a new column made from a host-variable word (without its ':') to the cursor's
// insert_columns, decoding occurrence numbers, conversion prefixes (INT! FLOAT! TS! NS!)
// and function prefixes (MIN! MAX! AVG! WAVG! TREND! SUM! HW! LW! COUNT!, all capitals or
// all small letters) and a "^n" send length. A name above 49 characters is cut with the
// warning "pcc0025". Returns 0.
int add_column(const char* word, curs* cursor);

// Rewrites the cursor's insert (length characters) so that its VALUES list reads
// (?,?,...) with one marker per column, cutting what followed the list, and records the
// INSERT's column list in host_cols / num_cols. 0 on success, 1 on failure (no columns
// "cev1820", unmatched parentheses "cev1825", no column list, a name above 39 characters).
int compact_insert(curs* cursor, int32_t length);

// Composes the cursor's SELECT text (raw_insert_select as written, or SELECT of its columns
// FROM table_name; then " WHERE " and insert_where when set) into a new sel record at
// insert_select. Percent
// variables the collector supplies itself and repeated names are left out. 0 on success;
// 1 with "PCC0020" when no column is left to fetch, or with "PCC0021" when the text does
// not fit in the work area.
int set_selects(curs* cursor);

// A new sel record holding text (len = length + 1, the text, a zero and one more zero).
sel* sel_new(const char* text, int32_t length);

// Appends the window [start, end) to a day chain; an end below the start gets 86400 added
// (the window runs past midnight). Returns 0.
int set_operate(operate** chain, int32_t start, int32_t end);

// Writes blanks from the end of text up to width characters (no zero is written; the
// caller's area must end in one); returns how many were written.
int pad_blanks(char* text, int32_t width);
