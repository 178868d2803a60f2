// Merge of rows that come through a result set (a fetch exit's output, an answer of the SQL
// channel) into stored cursor rows: the entry of the one row builder
// (collector/transforms/row_builder.h) for rows that are no descriptor area, with this module's
// messages.
#pragma once

#include <cstdint>

struct curs;
struct _anchorDBdata;
struct _rowData;
struct _columnData;

// Room of the row text buffer the callers provide.
inline constexpr int ccmr_buffer_size = 12000;

// Builds one stored row of cursor c from the result-set row: columns resolved against the
// result set's columns (names ignoring case, or "n!" positions), percent variables and base
// columns, values copied into buffer (ccmr_buffer_size bytes), math, decodes and column exits
// applied, the row appended. The row text length; 0 on failure (after its message; some
// failures hold the cursor); -1 when a water mark could not be allocated.
int ccmr_mergeResults(char* buffer, curs* c, _anchorDBdata* d, _rowData* row,
                      const char* time_stamp);
// Picks, for each BASE entry of c, the row of its base cursor whose b_col field equals the
// fetched value (equal over the shorter length, the rest blank; an empty or NULL value
// matches none), else a fallback. 0, or 1 when an entry is left without a row (cmr3365).
int ccmr_set_bases(curs* c, _anchorDBdata* d, _rowData* row);
// The text at offset in the row of base_cursor matched for c (its last row when none was
// matched or c has no entry for it); null when there is none.
char* ccmr_locate_base(curs* base_cursor, curs* c, int offset);
// Lays out the columns of a cursor whose exit delivered no row, from the result set's
// columns (cols, ncols; none: every plain column holds the cursor, cdu4530), with running
// offsets; length = last offset + len + 1. 0.
int ccmr_setup_dummy(curs* c, _columnData* cols, int ncols);
