// Least forms of the row store, column lookup and base functions that the decodes call,
// with their documented signatures. Each one does the least its callers here need; the
// real one replaces it when its own code lands, and this file shrinks to nothing.
#pragma once

struct curs;
struct columns;
struct in_list;

// Resolves text for cursor c: a column of c (a name or a 1-based ordinal), or
// "CURSOR.column" of another cursor. 0 found with *col set (and *cur for a qualified
// reference, left as it was for a column of c); 1 not found.
int find_col(curs* c, char* text, columns** col, curs** cur);

// The in-list named by "cursor.name", or null after "pin4500" (no point), "pin4505" (no
// such cursor) or "pin4510" (no such in-list).
in_list* find_in_list(char* reference);

// The value at offset in the row of src that applies to the row being built for c: here
// src's last row; null when src has no rows.
char* locate_base(curs* src, curs* c, int offset);

// Frees every row of the cursor and leaves it empty; returns 0.
int delete_all(curs* c);
