// Percent variables: the columns of the built-in cursor "%CURSOR" (the machine identity,
// the time, row and sample numbers, request parameters, ...), which expressions name with a
// leading "%".
#pragma once

struct columns;

// The column of the percent cursor (the cursor named "%CURSOR" on the cursor list) whose
// name equals `name` without regard to case, compared over at most 50 characters; null
// when there is no percent cursor or no such column.
columns* find_pcnt_col(const char* name);
