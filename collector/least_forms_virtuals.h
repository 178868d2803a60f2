// Least forms of the row store, column-function, decode and base services that the virtual
// cursors, loads and column exits call. Each has the documented signature and the smallest
// behaviour those callers need; each goes when the real one lands.
#pragma once

#include "collector/column_functions.h"
#include "collector/column_lookup.h"
#include "collector/least_forms_rows.h"
#include "collector/row_store.h"

struct curs;
struct columns;
