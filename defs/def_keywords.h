// Keyword recognisers of the dictionary, evaluation and trace definition files. Each word
// is compared over exactly length bytes and recognised in all lower or all upper case.
#pragma once

#include <cstdint>

// "name" 1, "type" 2, "initial" 3, "number" 4, "end" 5; anything else 0.
int test_dict_word(const char* word, int32_t length);
// "eval" 1, "value" 2, "cursor" 3, "column" 4, "operator" 5, "name" 6, "end" 7; 0 else.
int eval_key_word(const char* word, int32_t length);
// "trace" 1, "tracem" 2, "traced" 3, "traceall"/"trace_all" 4, "show_row" 5,
// "show_cursor" 6, "end" 7; anything else, or a length outside 3 to 11, 0.
int test_trace_word(const char* word, int32_t length);
