// Percent variables: the columns of the built-in cursor "%CURSOR" (the machine identity,
// the time, row and sample numbers, request parameters, ...), which expressions name with a
// leading "%". The collector builds the cursor (collector/rows/percent_cursor.h).
#pragma once

struct columns;

// The database type text of the connected server the lookup consults ("ORA" maps
// "%machine_me" to "%machine_me_ora"); null: no server type known. The collector points it
// at its database state.
extern const char* pcnt_db_type;

// The column of the percent cursor (the cursor named "%CURSOR" on the cursor list) whose
// name equals `name` without regard to case, compared over at most 50 characters; null
// when there is no percent cursor or no such column. When the name is exactly
// "%machine_me" and the database type is "ORA", "%machine_me_ora" is looked up instead.
columns* find_pcnt_col(const char* name);
