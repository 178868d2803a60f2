// zem2sql: runs one job against the configured server on DB-Library and ends: a space
// report per database (call type 1), a stored procedure (2), SQL batches (3), or the
// parent-child channel (I).
#pragma once

#include <cstdint>

extern int16_t call_type;

// The whole program: options, configuration, the job. Returns the exit status.
int zem2sql_run(int argc, char** argv);

// Channel operations (dbaccess/common/pcc_ops.h).
int db_connect(const char* server, const char* login, const char* password);
int process_a_sql(const char* database, const char* sql, int send_headers);
int process_a_sp(const char* database, const char* text, int send_headers);
int commit_collect(int release);

int process_multiple_db_req(int n, char** words);
int helpdb_out(int64_t totalfree, int64_t data_used, int64_t index_used);
int process_sp_w_parms(int n, char** words);
int process_sql(int n, char** words);
int formatResults(int kind);
int formatIresult(int send_headers);
