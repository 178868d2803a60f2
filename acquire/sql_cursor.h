// SQL cursors on the server: the collector's one Client-Library connection, the run of one
// cursor (fetch exit, a row without SQL, or a language command whose row results are
// described, bound as text and merged into stored rows), the commit after a pass and the
// cursor's fetch memory. Client-Library stays in sql_cursor.cpp: the engine's headers
// compile without it.
#pragma once

#include <cstdint>

struct curs;
struct distrib;

// The most columns a result may have: the descriptor's entries.
inline constexpr int32_t max_sql_columns = 60;

// The statement sent: its length, the text and a NUL.
struct statement_buffer {
    int32_t len;
    char text[33001];
};
extern statement_buffer statement;

// The SQL communication area; only sqlcode is used.
struct sql_comm_area {
    int32_t sqlcode;
};
extern sql_comm_area sqlca;

// Opens the collector's connection for distributor d: 0 open, 1 not.
int connect_to_DB(distrib* d);

// Runs cursor c once. time_stamp is the run's 14-character time; *rows_for_insert is
// raised by the number of rows fetched. 0 on success; the fetch exit's non-zero result;
// 1 when a row could not be built or the statement could not be made; else the converted
// code of the failing Client-Library call (1, or 2 at connection level).
int prep_l_fetch(curs* c, const char* time_stamp, int* rows_for_insert);

// The loads, in-list and dummy-row steps after the rows of a run that does not iterate,
// with count rows built; then this_iteration_end and execution_time.
void after_fetch_steps(curs* c, int count);

// Commits on the collector's connection; closes it when release is set or the commit
// failed. Returns 0.
int commit_collect(int release);

// Frees the cursor's fetch memory (the cursor's buffer and nulls stay for its deletion).
// Returns 0.
int freeDBcurMem(curs* c);
