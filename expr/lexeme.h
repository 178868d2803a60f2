// Lexemes: the entries of a lexeme list and of a reverse Polish array.
//
// Each entry points either to a row of OperationTable or to a TERM_TABLE; both records begin
// with a 32-bit lexeme type (1 row, 2 term), so an entry is told apart by that field alone.
// A list ends with a null entry.
#pragma once

#include <cstdint>

struct sOperationTable;
struct sTermTable;

using LEXEME = void*;

enum : int32_t { LEX_OPERATION = 1, LEX_TERM = 2, LEX_END_OF_TABLE = 3 };

// Entries of one lexer run's list, the end pointer included.
constexpr int MAX_LEXEMES = 2000;
// Entries of a reverse Polish array.
constexpr int RPN_ENTRIES = 2001;

inline int32_t lexeme_type_of(const void* lexeme) { return *static_cast<const int32_t*>(lexeme); }
inline sTermTable* as_term(LEXEME lexeme) { return static_cast<sTermTable*>(lexeme); }
inline const sOperationTable* as_operation(LEXEME lexeme) {
    return static_cast<const sOperationTable*>(lexeme);
}
// Operation rows are constant; lists hold them through untyped entries.
inline LEXEME to_lexeme(const sOperationTable* row) {
    return const_cast<void*>(static_cast<const void*>(row));
}
