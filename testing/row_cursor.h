// The names the internal select's tests, the engine's tests and the benchmarks have long
// used for a cursor with rows built in code; the builder is testing/cursor_builder.h.
#pragma once

#include "testing/cursor_builder.h"

namespace select_test {

using Col = cursortest::col_spec;
// The shared builder under its old name (a class, so that fixtures built on it can name
// their base).
class RowCursor : public cursortest::cursor {
  public:
    using cursortest::cursor::cursor;
};
using cursortest::sysmon_columns;

}  // namespace select_test
