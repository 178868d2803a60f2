// A consumer's answer from a cursor. Opening a cursor is where a stale demand cursor runs
// again and where column functions collapse the rows into one, so it stands above the
// cursor runs, not beside the clusters it makes (collector/rows/cluster.h).
#pragma once

struct curs;
struct cluster;

// The cursor's answer as a new registered cluster, or null (held cursor, no rows, failed
// demand run, failed column function).
cluster* open_cursor(curs* c);

// Recomputes the synthetic row when rows came or went since the last time (collecting the
// cursor first when it never had rows) and returns its one-row cluster; null for a cursor
// without column functions, a failed collection or a failed function. A cursor without
// rows gets the row of an empty cursor (COUNT and SUM 0, other columns blank), whether or
// not it ever had rows.
cluster* do_column_func(curs* c, int now);
