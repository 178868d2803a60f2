// Running a cursor: its pre-cursors, the cursor, the post-cursors its rows queued, the
// retention before the run, the connection, and the iteration over another cursor's rows.
#pragma once

struct curs;
struct cluster;

// Collects cursor c due at relative second now: 0 collected (last_time set, the collector
// distributor "GOOD"); 1 failed (stale_time 0, the collector distributor "FAIL"). A
// virtual cursor is only marked changed.
int get_cursor_data(int now, curs* c);

// Runs c's pre-cursors (each followed by the post-cursors it queued), c, and the
// post-cursors c queued. 0, or the first non-zero result (nothing after it runs).
int pre_prep_l_fetch(curs* c, const char* time);

// Runs c once: skipped when held; retention; the connection for an SQL cursor (1 when it
// cannot be opened: the collector distributor "CNCT", sqlcode and ssqlcode set); then the
// fetch, or the iteration over the rows of its iterate cursor. 0, 1, or the fetch result.
int run_cursor(curs* c, const char* time);

// Answers a request for a demand cursor whose rows are stale: runs it afresh and builds
// the answer (the column-function cluster, or the cluster of its rows); with stale 0 the
// rows are dropped after the answer. Null for a held cursor, a cursor that is no demand
// cursor, an age-to target, or a failed run.
cluster* prep_demand(curs* c);
