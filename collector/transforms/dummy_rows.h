// Dummy rows: a row that stands for "no data" ("N/A" in character columns, '0' in numeric
// ones), appended after every run (dummy) or after a run that left no row
// (conditional_dummy).
#pragma once

#include <cstdint>

struct curs;
struct xSQLDA;

// Lays out the columns for a dummy row without a fetch, from the percent cursor, source
// columns and the descriptor (null for a cursor without SQL); sets length to the last
// column's offset + len + 1. Returns 0, also after a failure (its message written, the
// columns laid out so far kept, the cursor held where the failure holds). A layout that
// moves while rows are held drops them with a warning.
int setup_dummy(curs* cursor, xSQLDA* sqlda, const int32_t* types);

// Appends one dummy row numbered with the next rowno, within the cursor's limit; nothing
// for a cursor of length 0. The dummy text is built on first use and again when length
// changed. Returns 0.
int build_dummy_last_row(curs* cursor);
