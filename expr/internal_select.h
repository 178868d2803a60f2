// The internal select: SQL-like reading of the rows a cursor already holds, with select lists
// and conditions in the expression language. It is the toolkit of the built-in monitor
// cursors: each monitor procedure runs between start_exec_sql and end_exec_sql, reads single
// values with select_column, declares host variables with declare_C_var, aggregates rows with
// perform_select (a select list such as "SUM(FLDVALUE)" and a condition such as
// "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'engine_sleeps'") and chains its output lines with
// chain_internal_res.
//
// Every select list and condition is lexed once per cursor (expression store) in the term
// table of the bracket. A select list is evaluated as the arguments of ROW: consecutive taken
// rows with equal plain values form a group, SUM adds within the group, and each group's
// first column is stored into the target as the group ends (so the target ends with the last
// group's value). Every path out of perform_select leaves the cursor's columns on its last
// row's text and its cols_set 0.
//
// A broken invariant (use outside a bracket, an impossible internal result, no memory) ends
// the process with a non-zero status; bad data fails the call with its message. All state is
// static; single-threaded and not reentrant.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expr/expression_store.h"
#include "expr/lexeme.h"
#include "expr/term_table.h"

struct curs;
struct r_exec_chain;

// Target types of perform_select and select_column.
enum : int {
    SEL_TARGET_CHAR = 1,    // char*: the value text (owned by the engine until its next use)
    SEL_TARGET_INT = 2,     // int32_t
    SEL_TARGET_FLOAT = 3,   // float
    SEL_TARGET_CREATE = 4,  // create a row: accepted, stores nothing
    SEL_TARGET_INSERT = 5,  // insert a row: accepted, stores nothing
    SEL_TARGET_INT64 = 6,   // int64_t: sums exact to 2^53, refused beyond ("SEL0645");
                            // select_column: only without a work variable
};

// Longest line chain_internal_res takes.
inline constexpr size_t SEL_LINE_MAX = 32767;
// Longest select list or condition text.
inline constexpr size_t SEL_TEXT_MAX = 32767;

// Opens a bracket on the caller's term table (null: a new one, built at first use); an anchor
// of all bits set is severe "TRM0150" and ends the process.
void start_exec_sql(TERM_TABLE* anchor);
// Closes the bracket: the (possibly grown) table goes back to *anchor.
void end_exec_sql(TERM_TABLE** anchor);

// Aggregates the rows of the cursor that pass the condition (null: every row) with the
// select list into the target. 0 stored; 100 no row, or no row passed (target untouched);
// 1 on an error ("SEL0290" unknown cursor, "SEL0630" a text that is no number, ...).
int perform_select(const char* select_list, const char* cursor_name, void* target,
                   const char* where, int target_type);

// Reads the column's value in the row the cursor's columns point at. With a variable name (or
// a term held from an earlier call in *holder) the value is copied into that work variable,
// which later conditions can name, and *holder keeps it; the target gets the variable's text
// (type 1), its integer (2) or float (3). Without either only types 2 and 3 are possible.
// The column is looked up on every call. 0, or 1 after its message.
int select_column(const char* column, const char* cursor_name, void* target, int target_type,
                  const char* var_name, TERM_TABLE** holder);

// Declares (or updates) the work variable `name` of the bracket's table: type 1 takes the
// text pointer stored at value (the text stays the caller's, so a condition reads the text as
// it is at select time), 2 the int32_t, 3 the float. 0, or 1 after "TRM0100" / "TRM0110".
int declare_C_var(const char* name, int data_type, void* value);

// Appends a copy of the line to the chain at *head (size = length + 1). 0; 1 after "SEL1005"
// when the line is longer than SEL_LINE_MAX (nothing chained).
int chain_internal_res(const char* line, r_exec_chain** head);

// Does nothing.
void cleanup_select();

// 1 take the row, 0 skip it, -1 the condition could not be evaluated ("SEL0050", "SEL0060").
int evaluate_row(curs* c, LEXEME* rpn);
// The result term of the select list on the current row (ROW's), or null after "SEL0100".
TERM_TABLE* process_row(curs* c, LEXEME* rpn);
// Stores the first value of the held result's row into the target and releases the term
// (*holder null). 0, or 1 after its message ("SEL0600" ... "SEL0670").
int dispose_result(TERM_TABLE** holder, void* target, int target_type);

// Lexes the select list for the cursor into the block (store lookup first). 0 or 1.
int ed_parse_sel_list(const char* select_list, const char* cursor_name, lex_block* block);
// Lexes the condition for the cursor into the block (one-entry cache, then the store). 0 or 1.
int parse_where(const char* where, const char* cursor_name, lex_block* block);
// 1 when the block already holds that text, cursor and kind, complete; else clears it: 0.
int check_lex_bl(const char* text, const char* cursor_name, B_TYPE kind, lex_block* block);

// Ends the process ("SEL1010") outside a bracket.
void verify_term_tb_anchor();
// The lexer's current table when there is one, else the bracket's anchor.
TERM_TABLE* get_active_term_tb_anchor();
// ",rfa".
const char* get_row_function_arg_part();

// Writes nothing more: runs the engine's orderly end and exits with status 1.
[[noreturn]] void select_quitting();

// For tests: forgets the parsed blocks and empties the expression store.
void reset_internal_select();
