// Resetting the cursor tracing, and the one-shot dump of a cursor's column layout.
#pragma once

struct curs;

// Clears trace, traced and tracem of every cursor and of every version of it (show_row
// and show_cursor stay), trace_all and trace_something, reads the trace file again and
// clears reset_trace. Returns 0.
int reset_tracing();

// Clears the cursor's show_cursor and traces its host table, statement (level 6) and one
// line per column ("csc1900" to "csc1920"). Returns 0.
int sho_cur(curs* c);
