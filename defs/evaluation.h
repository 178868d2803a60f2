// The evaluation record: one condition over the rows of a cursor, hung on the cursor's
// evaluation chain (newest first).
#pragma once

#include <cstdint>
#include <type_traits>

struct predicate_stuff;

// Outcomes of comparing the column with the value: index of evaluation::operatr.
enum { EVAL_LESS = 0, EVAL_EQUAL = 1, EVAL_GREATER = 2 };
// Kinds of value.
enum { EVAL_NO_VALUE = 0, EVAL_NUMERIC = 1, EVAL_TEXT = 2 };

struct evaluation {
    evaluation* next;            // next evaluation of the same cursor
    char eval_name[36];          // at most 35 characters and a NUL
    char cur_name[9];            // at most 8 characters
    int32_t operatr[3];          // EVAL_LESS, EVAL_EQUAL, EVAL_GREATER: 1 = satisfies
    int16_t col_name_ll;         // length of col_name
    char col_name[33];           // without its function prefix, at most 32 characters
    int32_t val_type;            // EVAL_NO_VALUE, EVAL_NUMERIC, EVAL_TEXT
    double value;                // the numeric value
    int32_t status;              // result of the last test (evaluator)
    int32_t prior_status;        // result of the test before (evaluator)
    int16_t string_ll;           // length of string
    char* string;                // owned value text (u_malloc), quotes removed
    int32_t col_function;        // COLF_* of model/cursor.h; 0 the column itself
    int32_t ordinal;             // 1, 2, 3 ... in file order
    predicate_stuff* false_row;  // evaluator: the last candidate row the test failed on
};

static_assert(std::is_trivially_copyable_v<evaluation>);
