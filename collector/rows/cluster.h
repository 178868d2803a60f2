// Clusters: a consumer's private snapshot of a cursor's answer, its rows formatted for
// output (collector/rows/row_format.h), read row by row and then closed. Opening one
// (open_cursor, collector/run/cursor_answer.h) is where stale demand cursors run again and
// where column functions collapse the rows into one.
#pragma once

#include <cstdint>

struct curs;

// One open result set, allocated in one block with its rows behind the header.
struct cluster {
    int32_t sql_code;       // 0 while rows remain; 100 at the end
    int32_t count;          // rows
    int32_t len;            // bytes of one row (the cursor's row_size)
    int32_t did_first_row;  // 0 until the first fetch
    char* next_row;         // the current row
    char* end;              // first byte after the last row
    char text[1];           // count rows of len bytes, zero-filled then made
};

// Moves to the next row: 0 while next_row addresses a row, 100 at the end (also for a
// cluster that is not registered). A cluster of n rows gives 0 n times, then 100.
int fetch_cur(cluster* cl);
// Unregisters and frees the cluster; one not registered is left alone. 0.
int close_cur(cluster* cl);

// The cluster of the cursor's stored rows (only its current sample's when it keeps
// samples); null without rows or when the row layout is refused.
cluster* make_cluster(curs* c);
// Whether open_cursor(c) now gives make_cluster(c): not held, no demand run due, no
// column function.
bool open_is_stored_rows(const curs* c);
// The rows make_cluster(c) would hold, made straight into a new zero-filled block of
// *count rows of *len bytes (U_MALLOC; the caller frees it); null where make_cluster
// gives null or no rows. A requested answer is then made once, not made and copied.
char* make_rows_block(curs* c, int32_t* count, int32_t* len);
// The one-row cluster of the cursor's column_data; null without it.
cluster* make_cluster_1(curs* c);
// Enters the cluster in the registry; on failure frees it and gives null.
cluster* register_cl(cluster* cl);
// Whether the cluster is registered (open).
bool find_cl(const cluster* cl);
