// The percent cursor "%CURSOR": the collector's own values (machine identity, time stamp,
// row and sample numbers, execution time, each cursor's SQL code, request parameters) as
// the columns of a built-in cursor, which definitions name with a leading '%'.
//
// The cursor's single row holds the values: every column has its place in the row text
// (its len bytes and a NUL; a parameter 256 bytes and a NUL), its from points there and its
// offset is the place's distance from the text, so readers through "last row text plus
// offset" and readers through from see the same bytes. The values are copied in: the
// identity when the cursor is built, the work values by every merge_text (pcnt_set_work),
// the SQL codes by pcnt_sync, the parameters by pcnt_set_parms.
#pragma once

#include <cstdint>

struct curs;
struct columns;

// One row of the table the columns are built from (the two families have a null from).
struct sPercentVarTable {
    const char* name;
    char* from;
    short orig_type;
    short data_type;
    short len;
};
// The table, ended by a row whose name is null.
extern const sPercentVarTable pcnt_var_tb[];

// Builds the percent cursor and appends it to the cursor list. 0; 1 after "PCV4600".
// The pass create_percent_cursor (model/engine_globals.h) runs at start-up.
int build_percent_cursor();
// The percent cursor; null before create_percent_cursor.
curs* pcnt_cursor();
// Forgets the percent cursor (it is being freed with the cursor list).
void pcnt_forget();

// The columns built from the table, their from pointing at the live values; null after
// "PCV4610" / "PCV4620".
columns* build_p_columns();
// A family's columns: "%sqlcode_NAME" for every cursor of the list but "%CURSOR", 16 bytes;
// "%parm0" to "%parmf". The first column, the last in *tail_out; null when none was built.
columns* sqlcode_cols(const sPercentVarTable* row, columns** tail_out);
columns* parmx_cols(const sPercentVarTable* row, columns** tail_out);
// Sets every column's offset to its from minus text; returns the sum of their lengths.
int row_form(columns* cols, char* text);

// Copies the percent-work values (row_store.h) into their places; nothing without a
// percent cursor.
void pcnt_place_work();
// Copies each cursor's ssqlcode into its "%sqlcode" place.
void pcnt_sync();
// Copies the request parameters: parm[i] (null: missing) into the place of "%parm<i>",
// blank-filled, at most 256 characters, and gives the column the parameter's length (a
// longer one keeps its first 256 with the warning "PCV4630"). A missing parameter leaves
// the column as it was before any request: 16 blanks.
void pcnt_set_parms(const char* const parm[16]);
// Bytes of the percent cursor's row text, every place with its NUL: more than its length,
// which is the sum of the column lengths. 0 without a percent cursor.
int32_t pcnt_row_extent();
