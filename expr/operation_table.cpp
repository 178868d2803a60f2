#include "expr/operation_table.h"

#include <strings.h>

#include <cstring>

#include "expr/group_functions.h"
#include "expr/like.h"
#include "expr/operators.h"

// The routines are the interpreter's operators (expr/operators.h, expr/like.h) and the group
// functions (expr/group_functions.h). "func1" to "func3" are test functions: func1 negates,
// func2 adds its two arguments, func3 takes three and adds the first two.
const sOperationTable OperationTable[OPERATION_ROWS] = {
    {LEX_OPERATION, "(", OP_OPERATOR, 0, PRIO_OPEN, nullptr, RES_NONE},
    {LEX_OPERATION, ")", OP_OPERATOR, 0, PRIO_CLOSE, nullptr, RES_NONE},
    {LEX_OPERATION, "OR", OP_OPERATOR, 2, 20, or_prc, RES_LOGICAL},
    {LEX_OPERATION, "AND", OP_OPERATOR, 2, 30, and_prc, RES_LOGICAL},
    {LEX_OPERATION, "NOT", OP_OPERATOR, 1, 40, not_prc, RES_LOGICAL},
    {LEX_OPERATION, "=", OP_OPERATOR, 2, 50, equ_prc, RES_LOGICAL},
    {LEX_OPERATION, "^=", OP_OPERATOR, 2, 50, nequ_prc, RES_LOGICAL},
    {LEX_OPERATION, "<", OP_OPERATOR, 2, 50, less_prc, RES_LOGICAL},
    {LEX_OPERATION, ">=", OP_OPERATOR, 2, 50, nless_prc, RES_LOGICAL},
    {LEX_OPERATION, ">", OP_OPERATOR, 2, 50, grt_prc, RES_LOGICAL},
    {LEX_OPERATION, "<=", OP_OPERATOR, 2, 50, ngrt_prc, RES_LOGICAL},
    {LEX_OPERATION, ":=", OP_OPERATOR, 2, 50, asgnt_prc, RES_TARGET},
    {LEX_OPERATION, "+", OP_OPERATOR, 2, 60, plus_prc, RES_NUMERIC},
    {LEX_OPERATION, "-", OP_OPERATOR, 2, 60, minus_prc, RES_NUMERIC},
    {LEX_OPERATION, "*", OP_OPERATOR, 2, 70, mltpl_prc, RES_NUMERIC},
    {LEX_OPERATION, "/", OP_OPERATOR, 2, 70, div_prc, RES_NUMERIC},
    {LEX_OPERATION, "-", OP_OPERATOR, 1, 80, neg_prc, RES_NUMERIC},
    {LEX_OPERATION, "func1", OP_FUNCTION, 1, 100, neg_prc, RES_NUMERIC},
    {LEX_OPERATION, "func2", OP_FUNCTION, 2, 100, plus_prc, RES_NUMERIC},
    {LEX_OPERATION, "func3", OP_FUNCTION, 3, 100, plus_prc, RES_NUMERIC},
    {LEX_OPERATION, ",", OP_SEPARATOR, 0, 2, nullptr, RES_NONE},
    {LEX_OPERATION, "ROW", OP_FUNCTION, ARGS_VARIABLE, 100, row_func, RES_TARGET},
    {LEX_OPERATION, "SUM", OP_FUNCTION, 1, 100, sum_func, RES_NUMERIC},
    {LEX_OPERATION, "LIKE", OP_OPERATOR, 2, 50, like_prc, RES_LOGICAL},
    {LEX_END_OF_TABLE, nullptr, 0, 0, 0, nullptr, RES_NONE},
};

namespace {

// The word equals the name over the longer of the two lengths, ignoring case.
bool same_word(const char* name, const char* word, int length) {
    return length >= 0 && std::strlen(name) == static_cast<size_t>(length) &&
           strncasecmp(name, word, static_cast<size_t>(length)) == 0;
}

template <typename Fits>
const sOperationTable* find_row(const char* word, int length, Fits fits) {
    if (!word) return nullptr;
    for (const sOperationTable* row = OperationTable; row->lexeme_type != LEX_END_OF_TABLE; ++row) {
        if (fits(*row) && same_word(row->op_name, word, length)) return row;
    }
    return nullptr;
}

}  // namespace

const sOperationTable* find_oper_type(const char* word, int length) {
    return find_row(word, length, [](const sOperationTable& r) {
        return (r.op_class == OP_OPERATOR && r.arg_count == 2) || r.op_class == OP_SEPARATOR;
    });
}

const sOperationTable* find_spec_oper_type(const char* word, int length) {
    return find_row(word, length, [](const sOperationTable& r) {
        return r.op_class == OP_OPERATOR && r.arg_count == 1;
    });
}

const sOperationTable* find_function(const char* word, int length) {
    return find_row(word, length,
                    [](const sOperationTable& r) { return r.op_class == OP_FUNCTION; });
}

const sOperationTable* get_row_func_entry() { return &OperationTable[OPER_ROW]; }
