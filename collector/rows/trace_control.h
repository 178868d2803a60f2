// Resetting the cursor tracing, the one-shot dump of a cursor's column layout, and the
// trace dump of a row.
#pragma once

#include <cstdint>

struct curs;

// Set by the request server: reset the tracing at the end of the pass.
extern int16_t reset_trace;

// Clears trace, traced and tracem of every cursor and of every version of it (show_row
// and show_cursor stay), trace_all and trace_something, reads the trace file again and
// clears reset_trace. Returns 0.
int reset_tracing();

// Clears the cursor's show_cursor and traces its host table, statement (level 6) and one
// line per column ("csc1900" to "csc1920"). Returns 0.
int sho_cur(curs* c);

// Trace dump of one row: rows above 4 abbreviated ("cat1609") unless trace level 5 is on,
// the others whole in hexadecimal ("cat1610"); length 0 dumps the string length. 0.
int proded(int row_number, char* data, int length);
