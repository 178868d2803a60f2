// The operation table: parentheses, the separator, the operators and the functions of the
// expression language, each with its argument count, conversion priority, routine and kind
// of result. The lexer emits pointers to its rows; the reverse Polish conversion orders them
// by priority; the interpreter runs each row's routine.
#pragma once

#include <cstdint>

#include "expr/lexeme.h"
#include "expr/term_table.h"

// Routine of an operation: the gathered arguments (in text order; a variable count ends with
// a null) and the result work term. 0 success, 1 failure.
using OPER_ROUTINE = int16_t (*)(TERM_TABLE** args, TERM_TABLE* result);

enum : int32_t { OP_OPERATOR = 1, OP_FUNCTION = 2, OP_SEPARATOR = 3 };
enum : int32_t { RES_NONE = 0, RES_LOGICAL = 4, RES_NUMERIC = 5, RES_TARGET = 6 };
constexpr int16_t PRIO_OPEN = 0;
constexpr int16_t PRIO_CLOSE = 1;
constexpr int16_t ARGS_VARIABLE = -1;

struct sOperationTable {
    int32_t lexeme_type;   // 1 for every row; 3 marks the end of the table
    const char* op_name;   // as written in an expression (compared ignoring case)
    int32_t op_class;      // OP_OPERATOR, OP_FUNCTION, OP_SEPARATOR
    int16_t arg_count;     // ARGS_VARIABLE: any number
    int16_t priority;      // PRIO_OPEN "(", PRIO_CLOSE ")"
    OPER_ROUTINE routine;  // null for parentheses and the separator
    int32_t result_kind;   // RES_*
};

// Rows in order: ( ) OR AND NOT = ^= < >= > <= := + - * / -(unary) func1 func2 func3 , ROW SUM
// LIKE, then the end row. The routines are the interpreter's (SUM and ROW the group
// functions'); a row whose routine is not linked yet holds null.
constexpr int OPERATION_ROWS = 25;
extern const sOperationTable OperationTable[OPERATION_ROWS];

// Row indexes the lexer and the expression store use directly.
enum : int {
    OPER_OPEN_PAREN = 0,
    OPER_CLOSE_PAREN = 1,
    OPER_ROW = 21,
};

// First operator with two arguments, or separator, named word[0..length) (case ignored).
const sOperationTable* find_oper_type(const char* word, int length);
// First operator with one argument (NOT, unary minus) named word[0..length).
const sOperationTable* find_spec_oper_type(const char* word, int length);
// First function named word[0..length).
const sOperationTable* find_function(const char* word, int length);
// The ROW row, which the internal select appends to select lists.
const sOperationTable* get_row_func_entry();
