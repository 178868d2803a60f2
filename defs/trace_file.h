// The trace file: switches the tracing of single cursors, or of everything, on.
#pragma once

#include <cstdio>

// Finds and reads the trace file ("trac") and sets the trace flags of the named cursors
// (on every version of each) and the globals trace_all and trace_something. Returns 0 when
// the file is missing or was read without error, 1 when an error was reported.
int parse_trace();

// The same on an open file (the caller closes it).
int parse_trace_file(FILE* input);
