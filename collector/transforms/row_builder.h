// The one builder of cursor rows. Whatever the values come from (a fetch descriptor, a
// result set a fetch exit or the SQL channel filled, or nothing at all for a dummy row), a
// cursor's columns are resolved against that source and laid out the same way, and a fetched
// row is copied, transformed and stored the same way. The callers differ only in their
// source and in the messages they write, which they hand over as a table.
//
// Entry points: merge_text (below) and ccmr_mergeResults
// (acquire/fetch_merge.h) build rows; setup_dummy (collector/transforms/dummy_rows.h) and
// ccmr_setup_dummy (acquire/fetch_merge.h) lay out a dummy row.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

struct curs;
struct xSQLDA;
struct _anchorDBdata;
struct _columnData;
struct _rowData;

// Where the values of a row come from; kind none for a cursor without SQL.
struct row_source {
    enum kind_t : uint8_t { none, descriptor, result_set };
    kind_t kind = none;
    // descriptor: the fetch descriptor and one type code per entry (low 16 bits used).
    xSQLDA* sqlda = nullptr;
    const int32_t* types = nullptr;
    // result_set: the set (for BASE clauses; may be null when only cols are known), its ncols
    // column descriptions, and the row being merged (null: no row).
    _anchorDBdata* set = nullptr;
    const _columnData* cols = nullptr;
    int ncols = 0;
    _rowData* row = nullptr;

    static row_source of_descriptor(xSQLDA* d, const int32_t* types);
    static row_source of_result_set(_anchorDBdata* d, _rowData* row);
    static row_source of_columns(const _columnData* cols, int ncols);
};

// The 0-based result column named by the n bytes at name (ignoring case, the whole name),
// or -1: how a row build and a BASE clause find a fetched value by its name.
int result_column_by_name(const _columnData* cols, int ncols, const char* name, size_t n);

// The faults a row build can meet, each with its message in a caller's table.
enum class row_fault : uint8_t {
    base_without_source,    // a BASE clause on a cursor without a source
    unknown_percent,        // a percent variable that does not exist
    base_cursor_held,       // the cursor a column is taken from is held
    base_without_last_row,  // ... or has no row (at layout)
    name_without_source,    // a column named, no source to look it up in
    name_not_found,         // no (usable) source column of that name
    position_without_source,
    position_too_high,      // "n!" beyond the source's columns
    negative_length,        // a column length that does not fit 16 bits
    row_too_long,           // the row does not fit the caller's buffer
    copy_without_last_row,  // the cursor a column is taken from has no row (at copy)
    no_value,               // a column left without a value
    layout_moved,           // a new layout drops the rows built with the old one
    count
};

// The arguments a message text takes, in its order (c: the cursor's name, column: the
// column's name, source: the name of the cursor a column is taken from).
enum class row_args : uint8_t {
    cursor,                 // c
    column,                 // column
    column_cursor,          // column, c
    printable_cursor,       // the column's name in readable form (u_printable), c
    cursor_column,          // c, column
    cursor_column_length,   // c, column, the column name's length
    source_cursor,          // source, c
    position_limit_cursor,  // n, the source's column count, c
    cursor_count,           // c, the cursor's row count
    cursor_size,            // c, the buffer's size
    cursor_need_size,       // c, the bytes needed, the buffer's size
};

// One message: its type for PRINT, id, text, arguments, and whether the fault holds the
// cursor. A null id: this caller does not check for that fault.
struct row_message {
    char type;
    const char* id;
    const char* text;
    row_args args;
    bool hold;
};
using row_messages = std::array<row_message, static_cast<std::size_t>(row_fault::count)>;

// The table of a dummy layout, which reads no other cursor's rows and fills no buffer:
// pdu4520, cdu4540 and cdu4545 with the caller's messages for a column named without a
// source, a name not found and a position beyond the source's columns.
row_messages dummy_row_messages(const row_message& name_without_source,
                                const row_message& name_not_found, const row_message& position);

// Builds one row of c from source into buffer (buffer_size bytes) and appends it: bases
// chosen, the source traced on request, percent-work values written, the columns resolved
// while cols_set is 0 (a failed resolution leaves the old layout; a new one drops the rows
// built with another), values copied (nulls as blanks with "NULL", or '0' when numeric;
// water marks kept), math, decodes and column exits applied, the row appended within the
// limit, changed and needs_history set. The row text length; 0 when no row was appended
// (after its message, held where the table says); -1 when a water mark could not be kept.
int build_row(char* buffer, int buffer_size, curs* c, const row_source& source,
              const row_messages& msgs, const char* time_stamp);

// Lays out c's columns for a dummy row from source, with running offsets; length = the
// last column's offset + len + 1. On a failure (its message written) the columns laid out
// so far keep their new places and length stays as it was. A layout that moved while rows
// are held drops them. 0.
int lay_out_dummy(curs* c, const row_source& source, const row_messages& msgs);

// Builds one row of cursor from the values of one fetch, composed in buffer (the work area,
// sizeof_work_buff bytes), and appends it. sqlda is the fetch descriptor or null for a
// cursor without SQL; types holds one type code per descriptor entry (low 16 bits used);
// time_stamp the 14-character fetch time. Returns the row text length when a row was
// appended; 0 when none was (the cursor may have been held, with a message); -1 when a
// water mark could not be kept. Rows already stored are kept on every failure, except that
// a resolution which moves the layout drops them with a warning.
int merge_text(char* buffer, xSQLDA* sqlda, curs* cursor, const int32_t* types,
               const char* time_stamp);
