// The engine services the row store, the cursor runs and the dummy rows call that are
// built elsewhere: each is here in its least form, with its documented signature, until
// the real one takes its place (then its line goes from here).
#pragma once

#include "collector/cluster.h"
#include "collector/column_functions.h"
#include "collector/history.h"

struct curs;
struct columns;
struct xSQLDA;
struct decode_op;
struct col_ex_list;
struct cluster;
