// SQL cursors on the server: the collector's connection and the run of one cursor.
//
// Until the Client-Library path is built here, only cursors without SQL run: prep_l_fetch
// builds their one row and does the after-fetch steps; an SQL cursor or a fetch-exit
// cursor fails with 1, and a connection cannot be opened.
#pragma once

struct curs;
struct distrib;

// Opens the collector's connection for distributor d: 0 open, 1 not.
int connect_to_DB(distrib* d);

// Runs cursor c once. time_stamp is the run's 14-character time; *rows_for_insert is
// raised by the number of rows built. 0 on success, 1 when the row could not be built (or
// the cursor needs SQL or a fetch exit).
int prep_l_fetch(curs* c, const char* time_stamp, int* rows_for_insert);

// The loads, in-list and dummy-row steps after the rows of a run that does not iterate,
// with count rows built; then this_iteration_end and execution_time.
void after_fetch_steps(curs* c, int count);
