// The status column of the server-status table, and the product codes of a database type.
#pragma once

#include <cstdint>

#include "collector/rows/virtual_cursors.h"  // servstatus, servstatus_len: set by the virtual tables

struct distrib;

// Shows the return code of the last server operation: the column is blanked, and a code
// other than 0, 100 and 1403 is written at its start (no NUL); a code wider than the
// column fills it with '*'. Never writes past servstatus_len bytes. Returns 0.
int set_status(int32_t code);

// Sets db_type and db_typeA of the distributor from the first three letters of code
// (any case); a null or empty code changes nothing.
void coll_db_type(distrib* d, const char* code);
