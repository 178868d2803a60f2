// The rows of a cursor by the text of one of its columns, so that a select whose condition
// requires a column to equal a fixed text visits only the rows that can pass.
//
// A monitor pass issues hundreds of selects over one cursor of thousands of rows, nearly all
// of the shape "GROUPNAME = ... AND FLDNAME = ...". Scanned, each select reads every row;
// with the index a column is read once per bracket and each select reads its few rows.
//
// An index of a column is built at its first use and kept until clear (the internal select
// clears at each start_exec_sql and end_exec_sql): within a bracket the rows a cursor holds
// do not change (a procedure only reads them). A cursor whose first or last row differs from
// those the index was built on is indexed afresh. Texts are keyed as comparisons see them:
// the field up to its width or its first NUL, trailing blanks dropped (a field of blanks is
// one blank). Single-threaded.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

struct curs;
struct columns;
struct row_data;

class row_index {
  public:
    // The rows of c, oldest first, whose field of col (a column of c) is the text
    // text[0..len); an empty list when none.
    const std::vector<row_data*>& rows_with(curs* c, const columns* col, const char* text,
                                            size_t len);
    // True when a row of c has the field of col empty (its first byte a NUL, or no width).
    bool has_empty(curs* c, const columns* col);
    // Forgets every index.
    void clear();

  private:
    struct column_index {
        const curs* c;
        const columns* col;
        const row_data* first;
        const row_data* last;
        bool empty = false;
        std::unordered_map<std::string_view, std::vector<row_data*>> rows;
    };
    column_index& index_of(curs* c, const columns* col);

    std::vector<std::unique_ptr<column_index>> indexes_;
    const std::vector<row_data*> none_{};
};
