// Resolving the column references the definitions write: a column of the cursor, a percent
// variable, or CURSOR.COLUMN (a name or a 1-based ordinal, searched through the cursor's
// if/else versions); and CURSOR.INLIST references to in-lists. These sit above the
// expression layer (the percent cursor), so they live with the engine.
#pragma once

struct curs;
struct columns;
struct in_list;

// Resolves text for cursor c: 0 with *col set (and *cur set to the named cursor or the
// percent cursor; left as it was for a column of c itself); 1 after a message
// ("pde3950" to "pde3965", or the trace "pde3970"). A reference already bound before the
// last re-selection of versions, both cursors activated before it, keeps its binding.
int find_col(curs* c, const char* text, columns** col, curs** cur);

// The in-list named by "CURSOR.INLIST"; null after "pin4500", "pin4505" or "pin4510".
in_list* find_in_list(const char* reference);
