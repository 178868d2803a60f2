#include "expr/operation_table.h"

#include <strings.h>

#include <cstring>

// The routines belong to the interpreter and the group functions; until they are linked in,
// each row's comment names the routine it runs and the row holds null.
const sOperationTable OperationTable[OPERATION_ROWS] = {
    {LEX_OPERATION, "(", OP_OPERATOR, 0, PRIO_OPEN, nullptr, RES_NONE},
    {LEX_OPERATION, ")", OP_OPERATOR, 0, PRIO_CLOSE, nullptr, RES_NONE},
    {LEX_OPERATION, "OR", OP_OPERATOR, 2, 20, nullptr, RES_LOGICAL},      // or_prc
    {LEX_OPERATION, "AND", OP_OPERATOR, 2, 30, nullptr, RES_LOGICAL},     // and_prc
    {LEX_OPERATION, "NOT", OP_OPERATOR, 1, 40, nullptr, RES_LOGICAL},     // not_prc
    {LEX_OPERATION, "=", OP_OPERATOR, 2, 50, nullptr, RES_LOGICAL},       // equ_prc
    {LEX_OPERATION, "^=", OP_OPERATOR, 2, 50, nullptr, RES_LOGICAL},      // nequ_prc
    {LEX_OPERATION, "<", OP_OPERATOR, 2, 50, nullptr, RES_LOGICAL},       // less_prc
    {LEX_OPERATION, ">=", OP_OPERATOR, 2, 50, nullptr, RES_LOGICAL},      // nless_prc
    {LEX_OPERATION, ">", OP_OPERATOR, 2, 50, nullptr, RES_LOGICAL},       // grt_prc
    {LEX_OPERATION, "<=", OP_OPERATOR, 2, 50, nullptr, RES_LOGICAL},      // ngrt_prc
    {LEX_OPERATION, ":=", OP_OPERATOR, 2, 50, nullptr, RES_TARGET},       // asgnt_prc
    {LEX_OPERATION, "+", OP_OPERATOR, 2, 60, nullptr, RES_NUMERIC},       // plus_prc
    {LEX_OPERATION, "-", OP_OPERATOR, 2, 60, nullptr, RES_NUMERIC},       // minus_prc
    {LEX_OPERATION, "*", OP_OPERATOR, 2, 70, nullptr, RES_NUMERIC},       // mltpl_prc
    {LEX_OPERATION, "/", OP_OPERATOR, 2, 70, nullptr, RES_NUMERIC},       // div_prc
    {LEX_OPERATION, "-", OP_OPERATOR, 1, 80, nullptr, RES_NUMERIC},       // neg_prc
    {LEX_OPERATION, "func1", OP_FUNCTION, 1, 100, nullptr, RES_NUMERIC},  // neg_prc
    {LEX_OPERATION, "func2", OP_FUNCTION, 2, 100, nullptr, RES_NUMERIC},  // plus_prc
    {LEX_OPERATION, "func3", OP_FUNCTION, 3, 100, nullptr, RES_NUMERIC},  // plus_prc
    {LEX_OPERATION, ",", OP_SEPARATOR, 0, 2, nullptr, RES_NONE},
    {LEX_OPERATION, "ROW", OP_FUNCTION, ARGS_VARIABLE, 100, nullptr, RES_TARGET},  // row_func
    {LEX_OPERATION, "SUM", OP_FUNCTION, 1, 100, nullptr, RES_NUMERIC},             // sum_func
    {LEX_OPERATION, "LIKE", OP_OPERATOR, 2, 50, nullptr, RES_LOGICAL},             // like_prc
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
