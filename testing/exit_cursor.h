// Cursors with a fetch exit, built in code for the fetch-exit tests and their fuzz harness.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "acquire/fetch_exit.h"
#include "acquire/result_sets.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"

namespace exit_test {

// A cursor on cur_anchor whose rows come from a fetch exit: format, option, time limit and
// script given; its columns unresolved (cols_set 0) as after definition.
class ExitCursor : public cursortest::cursor {
  public:
    ExitCursor(const char* name, std::vector<cursortest::col_spec> cols, int format, int option,
               const std::string& script, int optval = 0)
        : cursortest::cursor(name, std::move(cols)) {
        curs* c = get();
        c->fetch_exit = static_cast<fetch_ex*>(U_MALLOC(sizeof(fetch_ex)));
        *c->fetch_exit = fetch_ex{};
        c->fetch_exit->type = 1;
        c->fetch_exit->format_type = static_cast<int16_t>(format);
        c->fetch_exit->option = option;
        c->fetch_exit->optval = optval;
        std::strcpy(c->fetch_exit->name, "test");
        set_script(script);
        c->limit = 200;
        unresolve();
    }
    ~ExitCursor() {
        curs* c = get();
        fetch_exit_release(c);
        U_FREE(c->fetch_exit);
        c->fetch_exit = nullptr;
        U_FREE(c->script);
        c->script = nullptr;
    }
    void set_script(const std::string& script) {
        curs* c = get();
        U_FREE(c->script);
        c->script = static_cast<char*>(U_MALLOC(script.size() + 1));
        std::memcpy(c->script, script.c_str(), script.size() + 1);
    }
    // The stored rows, trailing blanks of every value cut.
    std::vector<std::string> rows() const { return stored_rows(true); }
};

}  // namespace exit_test
