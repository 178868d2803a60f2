// The expression interpreter: evaluates a reverse Polish array against the cursors the
// collector holds.
//
// Each operation takes the nearest preceding unused values as its arguments, runs the
// routine of its OperationTable row and leaves a work term with the result in its slot; the
// last result is the value of the expression. Before an operation runs, each argument that
// came from the text is bound: constants get their values; a name becomes a column of the
// current cursor, a percent variable, or failing both a work variable of the expression; a
// CURSOR.COLUMN reference becomes that cursor's column. A term bound to a column or a
// percent variable reads the column's current value afresh at every evaluation, into a
// buffer the term owns: a numeric column (orig_type 2) gives a double (a blank field reads
// as 0; a field that is no number leaves the term without one, so that comparing or adding
// it fails), any other column a text that is converted again at each numeric use.
//
// The caller installs the expression's term table (open_lexer), names the current cursor
// (set_current_cursor), passes a copy of the array (the interpreter empties the slots it
// consumes) and releases the result. All state is global; single-threaded.
#pragma once

#include <cstdint>

#include "expr/lexeme.h"
#include "expr/operation_table.h"
#include "expr/term_table.h"

struct curs;
struct columns;

// Evaluates the array (modified). Returns the result work term, owned by the caller
// (release it with free_work_chain(&result, nullptr, 0)), or null: after a message when an
// operation fails, without one when the array holds no operation.
TERM_TABLE* interpreter(LEXEME* rpn);

// Names the cursor plain names bind to (null: none).
void set_current_cursor(curs* cursor);

// Releases every term of the chain at *head except `keep` (free_term in the mode: 0 release,
// 1 keep for reuse), clears keep's next and sets *head to null. A work term of ROW is
// released without its vector, which belongs to the row holder. With a keep term and an
// empty chain: the warning "Int0070" and nothing else.
void free_work_chain(TERM_TABLE** head, TERM_TABLE* keep, int mode);

// Binds every term of a table (from `first` along next). 0, or 1 at the first term that
// cannot be bound.
int edit_term_table(TERM_TABLE* first);
// Binds one term, or refreshes the value of a term bound to a column. 0 bound, 1 not.
int edit_arg_term(TERM_TABLE* term);
// Binds a term qualified with a cursor name to that cursor's column ("Int0500", "Int0510").
int define_column(TERM_TABLE* term);
// Binds a term to the cursor's column of the term's name; 1 without a message when the
// cursor has no such column.
int this_curs_column(TERM_TABLE* term, curs* cursor);
// Binds a name beginning with "%" to the percent variable of that name ("Int0520").
int define_percent_var(TERM_TABLE* term);

// Gathers the arguments of the row at rpn[slot] into list (room for 101 entries): the
// arg_count nearest preceding unused values (100 for a variable count) in text order, each
// bound and checked, their slots emptied; a null follows the last. *first is the first
// argument. 0, or 1 after a message.
int get_args(LEXEME* rpn, int slot, const sOperationTable* row, TERM_TABLE** list,
             TERM_TABLE*** first);
// A cleared work term (from the reuse list, else new) put at the front of *chain.
TERM_TABLE* alloc_work_var(TERM_TABLE** chain);
// Runs the row's routine on the arguments and the work term. 0, or 1 ("Int0125" when the
// row has no routine).
int16_t perform_oper(const sOperationTable* row, TERM_TABLE** args, TERM_TABLE* work);
// The checks of an argument at trace level 8 ("Int0090", "Int0100", "QWBIF100"). 0 or 1.
int verify_arg(const sOperationTable* row, const TERM_TABLE* term);

// The column whose `from` a bound term's value_ref addresses.
columns* bound_column(const TERM_TABLE* term);
// "column" for a column reference, "variable" otherwise (the kind word of messages).
const char* term_kind_word(const TERM_TABLE* term);
