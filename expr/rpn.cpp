#include "expr/rpn.h"

#include <cstring>

#include "expr/operation_table.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

LEXEME* reverse_pol_notation(const LEXEME* list) {
    // Never null: u_malloc ends the process when memory runs out (no RPN0005).
    auto* out = static_cast<LEXEME*>(U_MALLOC(sizeof(LEXEME) * RPN_ENTRIES));
    std::memset(out, 0, sizeof(LEXEME) * RPN_ENTRIES);
    auto fail = [out]() -> LEXEME* {
        U_FREE(out);
        return nullptr;
    };
    auto unbalanced = [&fail]() {
        PRINT('e', "RPN0010", "Unbalanced parentheses in expression\n");
        return fail();
    };

    const sOperationTable* stack[MAX_LEXEMES];
    int top = 0;  // entries on the stack
    int n = 0;    // entries written
    for (int i = 0; list && i < MAX_LEXEMES && list[i]; ++i) {
        LEXEME lexeme = list[i];
        int32_t type = lexeme_type_of(lexeme);
        if (type == LEX_TERM) {
            out[n++] = lexeme;
            continue;
        }
        if (type != LEX_OPERATION) return fail();
        const sOperationTable* row = as_operation(lexeme);
        if (row->priority == PRIO_OPEN) {
            stack[top++] = row;
        } else if (row->priority == PRIO_CLOSE) {
            while (top > 0 && stack[top - 1]->priority != PRIO_OPEN)
                out[n++] = to_lexeme(stack[--top]);
            if (top == 0) return unbalanced();
            --top;  // the "(" is dropped, and so is the ")"
        } else {
            // Equal priorities pop: operators of one priority group from left to right.
            while (top > 0 && stack[top - 1]->priority >= row->priority)
                out[n++] = to_lexeme(stack[--top]);
            if (row->op_class != OP_SEPARATOR) stack[top++] = row;
        }
    }
    while (top > 0) {
        const sOperationTable* row = stack[--top];
        // A "(" never closed would reach the interpreter as an operation.
        if (row->priority == PRIO_OPEN) return unbalanced();
        out[n++] = to_lexeme(row);
    }
    return out;
}
