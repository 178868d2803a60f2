// The row cursor of the internal select: walking the rows a cursor holds, with the cursor's
// column pointers (`from`) moved onto each row's text, so that expressions and
// select_column read the row in place.
//
// A row cursor is a pointer-sized variable of the caller: null closed, select_before_first()
// opened and before the first row, else the current row. Whenever a row cursor is closed
// the cursor's columns rest on its last row's text and cols_set is 0, so that the next merge
// of fetched rows resolves the columns afresh instead of reading an old row.
// Single-threaded.
#pragma once

#include <cstdint>

#include "model/engine_globals.h"  // find_cursor, the cursor of a name

struct curs;
struct columns;
struct row_data;

// The "opened, before the first row" value of a row cursor.
inline row_data* select_before_first() { return reinterpret_cast<row_data*>(~uintptr_t{0}); }

// The column of the named cursor (cut to 50 characters, looked up across its versions), or
// null after "SEL0700" (no cursor) or "SEL0710" (no column).
columns* cursor_column(const char* cursor_name, const char* column_name);
// The column of the cursor (name cut to 50 characters, across its versions), or null.
columns* select_lookup_column(curs* c, const char* column_name);

// Points every column of the cursor at the row's text plus the column's offset.
void point_columns(curs* c, const row_data* row);

// 0 opened (columns on the first row), or 100 after "SEL0010" when the cursor holds no row.
int open_select_cursor(curs* c, row_data** rc);
// 0 the next row is current (columns on it), 100 no more rows, -1 after "SEL0030" when the
// row cursor is closed.
int fetch_next_row(curs* c, row_data** rc);
// Closes: cols_set = 0, columns on the last row. 0, or 1 after "SEL0015" (not open) or
// "SEL0020" (no last row).
int close_select_cursor(curs* c, row_data** rc);

// Closes a row cursor on every path out of a scope: an open one through close_select_cursor,
// otherwise the columns are put back on the last row (when there is one) and cols_set is
// cleared all the same.
class select_cursor_guard {
  public:
    select_cursor_guard(curs* c, row_data** rc) : c_(c), rc_(rc) {}
    ~select_cursor_guard() { close(); }
    select_cursor_guard(const select_cursor_guard&) = delete;
    select_cursor_guard& operator=(const select_cursor_guard&) = delete;
    // The result of close_select_cursor (0 when the row cursor was not open); once only.
    int close();

  private:
    curs* c_;
    row_data** rc_;
    bool done_ = false;
};
