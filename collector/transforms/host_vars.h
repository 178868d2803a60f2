// Host variables in select statements: "[CUR.col]", "[CUR.3]", "[CUR.LIST]" (an in-list of
// CUR) and "[%var]" in a cursor's insert_select text are replaced by their current values
// before every execution. The first execution parses the text into a chain of pieces kept
// in the cursor; later executions replay the chain.
#pragma once

#include <cstddef>
#include <cstdint>

struct curs;
struct columns;
struct in_list;

struct sel_piece {
    sel_piece* next;
    int16_t type;             // 1 literal text, 2 host variable
    char* from;               // literal: its first character in raw_insert_select
    int32_t len;              // literal: its length
    struct curs* curs;        // host variable: the source cursor
    columns* col_ptr;         // host variable: the source column
    struct in_list* in_list;  // host variable naming an in-list (then curs, col_ptr unused)
};

// The size of a statement buffer; a statement that would not fit fails its run.
inline constexpr size_t hv_statement_size = 33000;

// Writes c's insert_select text with its host variables replaced into out (at least
// hv_statement_size bytes) and ends it with a NUL. Returns the length written;
// 0 when a reference cannot be bound (the caller then clears has_hvs_in_sel and sends the
// text unchanged from then on); -1 when this run cannot be served (no last row, a value
// that is no safe SQL text, a statement too long): the caller fails the run and tries again
// next time.
int set_hvs_in_sel(curs* c, char* out);
// The replay of the kept chain; same results.
int set_hvs_in_sel_2(curs* c, char* out);

// Copies a name from *p into name (a zero-filled buffer of 300 bytes; at most 299 copied)
// up to the first NUL, blank, quote, '+', '-', '*', '/', ',', '(' or ')', and leaves *p
// there.
void extract_col_name(char** p, char* name);

// Frees a chain of pieces.
void free_sel_pieces(sel_piece* head);
