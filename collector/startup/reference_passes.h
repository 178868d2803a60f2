// The start-up passes that turn the cursor names one cursor uses for another into record
// pointers: pre_cursor clauses, iterate clauses and qualified column names
// ("cursor.column"). Each pass examines every cursor and reports every fault it finds
// before it returns, so one start-up lists all faults of a kind.
#pragma once

// Binds every pre_cursor entry. 0; 1 after "ppr3115" (a cursor naming itself) or "ppr3120"
// (no such cursor) for each faulty entry.
int edit_pre_cursors_pass();
// Binds every iterate clause. 0; 1 after "pit3130" (itself) or "pit3135" (no such cursor).
int edit_iterates_pass();
// The pass behind set_qualifieds() (model/engine_globals.h, installed by the engine's
// hooks). Binds every qualified column to the column it shows (base_column) and the cursor
// version that owns it (base_cursor), searching the source cursor's other versions when the
// active one lacks it. Faults: "pmg3160" to "pmg3180"; a cursor part over 8 characters
// names no cursor. Ends with "pmg3190" (i) and 0, or "pmg3185" and 1.
int set_qualifieds_pass();
