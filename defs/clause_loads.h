// Clauses that tie a cursor to other cursors: pre_cursor (run first), iterate (run once
// per row of another cursor), in_list (a list of values taken from a column of another
// cursor), base (the matching row of a base cursor) and load (a value moved into a column
// of a virtual cursor after the cursor has run).
//
// pre_cursor, iterate, in_list and base are parsed at once from the statement text after
// the keyword; load texts are only stored while the file is read and parse_loads turns
// them into load_process records once every cursor exists. Names are bound to cursors and
// columns later, by the collector's editing passes.
#pragma once

#include <cstdint>
#include <type_traits>

struct curs;
struct columns;
struct row_data;
struct decode;

struct pre_cursor {
    pre_cursor* next;
    char cur_name[16];  // at most 8 characters
    struct curs* curs;  // bound later
};

struct iterate {
    char cur_name[16];  // at most 8 characters
    struct curs* curs;  // bound later
};

struct in_list {
    in_list* next;
    char name[50];
    columns* col_ptr;  // source column, bound later
    char* text;        // current list text; default_in_list until built
    int32_t len;       // length of text
    char column[50];   // the source as written: cursor.column
    int16_t column_ll;
};

struct base {
    base* next;
    char cur_name[9];
    struct curs* curs;  // bound later
    int16_t base_col_ll;
    char base_col[50];
    row_data* base_row;  // set at run time
    int16_t this_col_ll;
    char this_col[50];
    columns* b_col;  // bound later
};

struct load_process {
    load_process* next;
    columns* source_col_ptr;  // the source column in the cursor's column list
    columns* this_column;     // parsed from the source text; owned, in no column list
    curs* target_curs;        // virtual target cursor
    columns* target_col_ptr;
    int16_t inited;
    int16_t load_min;
    int16_t load_max;
    int16_t load_count;
    int16_t load_sum;
    int16_t load_average;
    int16_t load_from;
    int16_t load_where;
    int16_t load_max_occurance;
    decode* decode_ptr;       // the WHERE condition as a decode chain
    columns* min_max_column;  // the column FROM selects by
    double sum;
    int32_t count;
    columns* test_column;
};

static_assert(std::is_trivially_copyable_v<pre_cursor>);
static_assert(std::is_trivially_copyable_v<iterate>);
static_assert(std::is_trivially_copyable_v<in_list>);
static_assert(std::is_trivially_copyable_v<base>);
static_assert(std::is_trivially_copyable_v<load_process>);

// "( 'ZIP' )": the text of every in-list not built yet. Shared, never freed.
extern char default_in_list[10];

// Longest cursor name a clause may name.
inline constexpr int clause_cursor_name_max = 8;

// pre_cursor name: appends a pre-cursor. 0; 1 with "pcc3100" for a name above 8
// characters.
int parse_pre_cursor(curs* cursor, char* text);
// iterate name: 0; 1 with "pit3125" for a second iterate, "pit3120" for a name above 8.
int parse_iterate(curs* cursor, char* text);
// in_list name using cursor.column: 0; 1 with "pin3260" for a bad format, "pin3255" for a
// name or column above 49 characters.
int parse_in_list(curs* cursor, char* text);
// base cursor on this-column -> base-column: 0; 1 with "pba3285"/"pba3290" for a bad
// format, "pba3280" for a cursor name above 8 or a column above 49 characters.
int parse_base(curs* cursor, char* text);

// Parses the stored load texts of every cursor of cur_anchor that has some and no
// load_process yet; reports every bad load ("plo3010" to "plo3080") and builds the good
// ones. Ends with "plo3090" (i) or "plo3085". 0 when every load parsed, else 1. The load
// texts and the cursors' column lists are left as they were.
int parse_loads();

// Free the records of one cursor's chains.
void free_pre_cursors(pre_cursor* p);
void free_in_lists(in_list* l);
void free_bases(base* b);
void free_load_processes(load_process* l);
