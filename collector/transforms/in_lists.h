// In-lists: the values one column of a cursor holds in its current rows, kept as SQL text
// "( 'A' , 'B' )" that other cursors put into their statements and decode rules test.
#pragma once

struct curs;

// The pass edit_in_lists (model/engine_globals.h) runs: binds the source column of every
// in-list of every cursor, a column of the cursor that owns the in-list, written bare or
// qualified by that cursor's name. 0 when all were found; 1 after "pin3260" for each one
// that was not ("pin3270").
int edit_in_lists_pass();

// Rebuilds the text of every in-list of c from its rows (of the current sample when the
// cursor keeps samples). A cursor without such rows leaves its lists at default_in_list.
// Returns 0.
int build_in_list(curs* c);
