// The rows of a cursor by the text of one of its columns, so that a select whose condition
// requires a column to equal a fixed text visits only the rows that can pass.
//
// A monitor pass issues hundreds of selects over one cursor of thousands of rows, nearly all
// of the shape "GROUPNAME = ... AND FLDNAME = ...", spread over the brackets of eleven
// monitor cursors. Scanned, each select reads every row; with the index a column is read once
// for as long as the cursor holds the same rows, and each select reads its few rows.
//
// An index of a column is built at its first use and kept, from bracket to bracket, until
// the cursor's rows are no longer those it was built over, or until clear. Rows are never
// rewritten once stored, so a change of rows shows in the cursor: a fetch moves sampleno or
// rowno (every fetched row takes the next row number), an append or a retention moves count,
// the first or the last row (its address or, should a freed row's place be taken again, its
// row number), a changed layout the column's place. Texts are keyed as comparisons see them:
// the field up to its width or its first NUL, trailing blanks dropped (a field of blanks is
// one blank). Single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>
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
    // What the index was built over (see the header comment).
    struct rows_seen {
        const row_data* first = nullptr;
        const row_data* last = nullptr;
        int32_t first_rowno = 0;
        int32_t last_rowno = 0;
        int32_t count = 0;
        int32_t rowno = 0;
        int32_t sampleno = 0;
        int32_t offset = 0;
        int16_t width = 0;
        bool operator==(const rows_seen&) const = default;
    };
    static rows_seen seen(const curs* c, const columns* col);

    struct column_index {
        const curs* c;
        const columns* col;
        rows_seen rows_of;
        bool empty = false;
        std::unordered_map<std::string_view, std::vector<row_data*>> rows;
    };
    column_index& index_of(curs* c, const columns* col);

    std::vector<std::unique_ptr<column_index>> indexes_;
    const std::vector<row_data*> none_{};
};
