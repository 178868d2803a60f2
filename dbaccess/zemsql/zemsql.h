// zemsql: runs one job against the configured server on Client-Library and ends: a space
// report per database (call type 1), a stored procedure (2), SQL batches (3), the
// packet-buffer address of a server process through isql (4), or the parent-child
// channel (I).
#pragma once

#include <ctpublic.h>

#include <cstdint>

extern CS_CONTEXT* context;
extern CS_CONNECTION* connection;
extern CS_COMMAND* cmd;
extern int16_t call_type;
extern int pid;

// The whole program: options, configuration, the job. Returns the exit status.
int zemsql_run(int argc, char** argv);

int copy_cur_env();
int process_multiple_db_req(int n, char** words);
int helpdb_out();
int process_sp_w_parms(int n, char** words);
int process_sql(int n, char** words);
int get_sqladdr();

// Channel operations (dbaccess/common/pcc_ops.h).
int db_connect(const char* server, const char* login, const char* password);
int process_a_sql(const char* database, const char* sql, int send_headers);
int process_a_sp(const char* database, const char* text, int send_headers);
int commit_collect(int release);

// Client-Library work (zemsql_ctlib.cpp).
int init_CT_env();
int reinit_CT_env();
int connect_to_server(const char* server, const char* user, const char* password);
int clean_up_connection(int option);
int clean_up_context(int option);
int DB_to_use(char* name);
int DoRPC(const char* name, char** params, int count);
int DoSQL(const char* text);
int process_row_results(int send_headers);
int fetch_data(int send_headers, int set_number);
CS_INT column_max_len(CS_DATAFMT* fmt);
// Drops the command when there is one (every path drops it at most once).
void drop_cmd();
// After a failure: a connection the library reports dead is closed and forgotten, so the
// next statement logs in again.
void forget_dead_connection();

namespace zemsql {
CS_RETCODE zem_clientmsg_cb(CS_CONTEXT* ctx, CS_CONNECTION* conn, CS_CLIENTMSG* msg);
CS_RETCODE zem_servermsg_cb(CS_CONTEXT* ctx, CS_CONNECTION* conn, CS_SERVERMSG* msg);
}  // namespace zemsql

// Row store (zemsql_store.cpp): the rows of a space report, kept as text by set.
struct _zem_stored_value {
    int16_t column;  // from 1
    char* value;     // valuelen bytes, the text with its NUL
    CS_INT valuelen;
};
struct _results_set_row {
    int16_t row_number;
    _zem_stored_value* columns;
    _results_set_row* next;
};
struct _set_desc {
    int16_t set_number;
    int16_t num_columns;
    _results_set_row* first_row;
    _results_set_row* last_row;
    _set_desc* next;
};
extern _set_desc* results_set_anchor;

// One fetched value as bound: text of `length` characters (0 for NULL).
struct fetched_value {
    const char* text;
    CS_INT length;
};
int store_row(int set_number, int row_number, int num_columns, const fetched_value* values);
int add_row(_set_desc* set, int row_number, const fetched_value* values);
void free_results();
// Text of a stored value ("" when missing).
const char* stored_value(const _set_desc* set, int row, int column);
