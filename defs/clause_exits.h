// Column exits, the iterate_where filter, forced column lengths and the descriptor of a
// script-exit cursor.
//
//   column_exit column exit [arguments]    (R_JUSTIFY, L_JUSTIFY, MINUTES, SUBSTR ( s , n ),
//                                           CONCAT column, MINUTES2, TIMESTAMP)
//   iterate_where column operator operand [and ...]
//   set_len column length
#pragma once

#include <cstdint>
#include <type_traits>

struct curs;
struct columns;
struct decode;

// A column-exit routine: rewrites the column's field in the row text; 0 success.
using col_exit_fn = int (*)(curs* cursor, columns* column, char* row_text);

// One row of the column-exit table.
struct col_ex {
    const col_ex* prior;  // next row to search
    int16_t type;         // arguments: 0 none, 1 two numbers, 3 one column
    char name_upper[20];
    char name_lower[20];
    col_exit_fn c_exit;
};

// Head of the seven rows, searched through prior: R_JUSTIFY, L_JUSTIFY, MINUTES, SUBSTR,
// CONCAT, MINUTES2, TIMESTAMP.
extern const col_ex* const col_exits;

// The routines behind the rows belong to the collector, which installs them here. A row's
// routine calls the installed one; while none is installed it writes "ccc4010" and
// returns 1.
struct col_exit_routines {
    col_exit_fn colex_r;
    col_exit_fn colex_l;
    col_exit_fn colex_m;
    col_exit_fn colex_s;
    col_exit_fn colex_c;
    col_exit_fn colex_m2;
    col_exit_fn colex_t;
};
extern col_exit_routines colex_routines;

// One column exit of a cursor. The cursor's cxl_ptr chain holds one entry per column;
// further exits of the same column hang from that entry's next_function, in order.
struct col_ex_list {
    col_ex_list* next;
    col_ex_list* next_function;
    int16_t int1;  // SUBSTR start, 1..256
    int16_t int2;  // SUBSTR length, 1..256
    char col_name[50];
    int16_t matched;  // bound later
    col_exit_fn c_exit;
    char col_name_concat[50];  // CONCAT: the second column
    columns* col_ptr;          // bound later
    struct curs* curs;         // bound later
};

// The iterate_where filter of a cursor.
struct it_where {
    columns* col_ptr;  // bound later
    struct decode* decode;
};

// A forced length of one column.
struct set_len {
    set_len* next;
    char col_name[50];
    int16_t len;  // 1..256
    int16_t i;    // column position, bound later
};

static_assert(std::is_trivially_copyable_v<col_ex_list>);
static_assert(std::is_trivially_copyable_v<it_where>);
static_assert(std::is_trivially_copyable_v<set_len>);

// Longest SUBSTR start, SUBSTR length and forced length.
inline constexpr int col_field_max = 256;

// column_exit: 0; 1 after one message ("pde4085" to "pcl4180"). A SUBSTR whose start and
// length add up beyond 256 is accepted after the warning "pcl4170".
int parse_col_ex(curs* cursor, char* text);
// iterate_where: the condition is read as a decode rule into the cursor's it_where; the
// cursor's own decodes are unchanged. 0; 1 with "pit4475" for a second filter, or after
// parse_decode's message.
int parse_iterate_where(curs* cursor, char* text);
// set_len: 0; 1 with "pcl4540" to "pcl4565" ("pcl4560" for a length below 1).
int parse_set_len(curs* cursor, char* text);

// Builds the cursor's descriptor (xlda) and value buffer (buffer) from the select list of
// its raw_insert_select, typed and sized by the dictionary. The select text is cut before
// its FROM and each item's name ends with a zero in it. 0; 1 with "pcc3990", "pcc4000",
// or "pcc4005" and "pcc4010".
int parse_script_exit(curs* cursor);

void free_col_exits(col_ex_list* l);
void free_set_lens(set_len* s);
void free_it_where(it_where* w);
