// Test aid for the row transforms: cursors of host-variable words chained as the cursor
// list while the list lives, laid out and filled by the shared builder.
#pragma once

#include <initializer_list>
#include <memory>
#include <vector>

#include "collector/rows/row_store.h"
#include "collector/rows/run_notes.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "testing/clause_fixture.h"
#include "testing/cursor_builder.h"
#include "testing/cursor_test_support.h"

namespace xform {

// Cursors chained into cur_anchor in creation order while the list lives; a parsed list
// is set aside first, the run notes start afresh. At the end the row store drops their
// rows and the list is empty.
class cursor_list {
  public:
    cursor_list() {
        curstest::set_aside();  // a parsed list stays reachable
        run_notes_reset();
    }
    ~cursor_list() {
        for (auto& t : all_) delete_all(t->c);
        cur_anchor = nullptr;
        run_notes_reset();
    }
    curs* add(const char* name, std::initializer_list<const char*> cols = {}) {
        all_.push_back(std::make_unique<test_cursor>(name, cols));
        curs* c = all_.back()->c;
        cursortest::link_to_list(c);
        return c;
    }

  private:
    std::vector<std::unique_ptr<test_cursor>> all_;
};

// Gives every column without a length `width` bytes and lays the columns out.
inline void layout(curs* c, int width) { cursortest::lay_out(c, width); }

using cursortest::append_row;
using cursortest::column;
using cursortest::row_text;

// The text of one column of a row.
inline std::string field(const char* row, const columns* col) {
    return cursortest::value(row, col);
}

}  // namespace xform
