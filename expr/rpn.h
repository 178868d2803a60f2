// Reverse Polish conversion: reorders a lexeme list by the priorities of OperationTable into
// the array the interpreter evaluates. Parentheses and commas never appear in the result.
#pragma once

#include "expr/lexeme.h"

// A new array of RPN_ENTRIES entries (zeroed after the last; owned by the caller, released
// with u_free), or null: "RPN0005" no memory, "RPN0010" unbalanced parentheses, or an entry
// that is neither a row nor a term. An empty list gives an empty array.
LEXEME* reverse_pol_notation(const LEXEME* list);
