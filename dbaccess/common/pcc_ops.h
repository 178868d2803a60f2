// The child side of the parent-child SQL channel (runtime/pcc.h): a database access program
// started with call type "I" serves its parent's requests from standard input until told
// to stop. The loop owns the dialogue and the status records; what a request does against
// the database is the program's own, reached through the operations table its main
// installs (tests install scripted ones).
#pragma once

#include <cstdint>

// A program's channel operations. Each returns 0 or an error code and keeps
// database_info.connected and .status current; the rows and their headers are written by
// the operation itself.
struct pcc_ops {
    // Logs in with the configured server id, logon id and stored password.
    int (*db_connect)(const char* serverid, const char* logonid, const char* password);
    // Runs a language batch in `database` (empty: where the connection is).
    int (*process_a_sql)(const char* database, const char* sql, int send_headers);
    // Runs a procedure: its name, then its parameters, separated by blanks.
    int (*process_a_sp)(const char* database, const char* text, int send_headers);
    // Commits; with release non-zero also closes the connection.
    int (*commit_collect)(int release);
};

// Installs the operations the loop calls (copied).
void pcc_install_ops(const pcc_ops& ops);

// Request limits.
inline constexpr int pcc_request_lines = 20;  // stored lines of one request
inline constexpr int pcc_database_max = 52;   // characters of an !S D name
inline constexpr int pcc_data_file_max = 999;
inline constexpr int pcc_option_words = 99;

// Per-request state the operations read: rows of each result set to send (-1: all), the
// data file named by !X F (kept for the request only; rows always go to standard output),
// and the error flag cleared at every request.
extern int32_t max_data_row;
extern char data_file[1000];
extern int32_t pcc_db_error;

// The loop: answers requests until !X S, the end of input, a failed write to the parent
// or a read time-out (COLL_SQLIN_TIMEOUT seconds, 900 unset, none at 0 or less). Returns 0.
// A read error on standard input ends the process with status 2, a SIGTERM (sqlin_sigh,
// installed for the loop's life and seen between requests) with status 0, each after the
// connection is released.
int pcc_request();

// What pcc_get found in a request besides its lines: the cursor name and supplied id of
// its !X A and !X I records, so a dropped request is still answered under its names.
struct pcc_request_ids {
    char cursor[10];
    int32_t supplied_id;
};

// Reads one request into lines (20 entries, each a u_malloc copy the caller frees) and
// sets *count. 0 complete (ended by !Z); -1 end of input before !Z (not to be run); -2
// dropped: more than 20 lines or an overlong line (read through its !Z); -3 read time-out;
// -4 read error; -5 a terminate request ended the wait. `wait_seconds` as for
// pcc_receive_collector_wait.
int pcc_get(char** lines, int* count, pcc_request_ids* ids, int wait_seconds);

// Writes one !I S record: return code from `code` (0; 11 when the connection is down;
// 10 when pcc_db_error is 10; else 12), supplied id, the code itself, the cursor name
// (8 characters shown) and the connection letter. 0, or 4 when the write failed.
int print_return(int code, int supplied_id, const char* cursor, int connected);

// Reads one line into buffer (3003 bytes) under the given wait. Null at the end of input,
// a time-out, an overlong line or an error; *status then tells which
// (pcc_receive_collector_wait's codes).
char* u_gets(char* buffer, int wait_seconds, int* status);

// Signal handler of the loop's process: only records (SIGTERM asks the loop to end).
// Installed for SIGTERM by pcc_request.
void sqlin_sigh(int sig);

// Writes n copies of ch and a terminating NUL into buffer; n, or 0 for a null buffer or n 0.
int u_append(char* buffer, int ch, int n);
