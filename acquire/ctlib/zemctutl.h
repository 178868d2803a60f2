// The Client-Library layer: thin `zem_` wrappers over FreeTDS's Client-Library and
// CS-Library (ct_* / cs_*), with synchronous network I/O.
//
// Context and connection set-up and tear-down, a runner for language commands without
// rows, one that prints their rows, display widths, the two message callbacks and the
// mapping of Client-Library return codes. Every function logs its own failures with PRINT
// and returns a Client-Library return code unless stated otherwise. Single-threaded: one
// context and one connection at a time.
#pragma once

#include <ctpublic.h>

#include <cstdint>

// Size of the command buffer of zem_use_db.
#define ZEM_BUFSIZE 1024

// One fetched column value, bound as text.
typedef struct _zem_column_data {
    CS_SMALLINT indicator;  // -1 for NULL
    CS_CHAR* value;
    CS_INT valuelen;
} ZEM_COLUMN_DATA;

// Library version zem_init asks for: CS_VERSION_100 (the collector); zemsql sets
// CS_VERSION_110 before its first call.
extern CS_INT zem_cs_version;

// Seconds of the login and command time-outs set on every context: COLL_DB_TIMEOUT when
// it holds a number, else 60; 0 or less means no time-out (CS_NO_LIMIT).
int zem_db_timeout();

// Makes a context: cs_ctx_alloc, ct_init (two attempts 5 seconds apart), both message
// callbacks, synchronous I/O, login and command time-outs. CS_SUCCEED, or the failing code
// with *ctx null and nothing left allocated.
CS_RETCODE zem_init(CS_CONTEXT** ctx);

// Opens a connection. Any text may be null; `password` is the stored (scrambled) form,
// descrambled only in here and its plain text zeroed after use; a stored form that cannot
// be read fails the connect. A null `server` uses the library's default server.
// CS_SUCCEED, or the failing code with *conn null and nothing left allocated. The fault
// record (zem_fault) is cleared first and then says why a failed connect failed.
CS_RETCODE zem_connect(CS_CONTEXT* ctx, CS_CONNECTION** conn, const char* app, const char* user,
                       const char* password, const char* server);

// Closes (option 1: orderly, anything else: forced) and drops the connection; the code of
// ct_con_drop.
CS_RETCODE zem_con_cleanup(CS_CONNECTION* conn, int option);
// Exits (option 1: orderly, else forced) and drops the context; the code of cs_ctx_drop.
CS_RETCODE zem_ctx_cleanup(CS_CONTEXT* ctx, int option);

// Runs a language command that returns no rows: 1 when it ran to its end (a return status
// is discarded), 0 when it failed after sending (rows, an error, a time-out: the rest is
// cancelled), or the failing code of ct_cmd_alloc, ct_command or ct_send. 1 for a null
// connection, without sending anything.
int zem_execute_cmd(CS_CONNECTION* conn, const char* text);
// As zem_execute_cmd, but row results are printed on standard output (zem_fetch_data).
int zem_execute_cmd_show(CS_CONNECTION* conn, const char* text);

// Prints the current row result on standard output: a header, the rows, a closing line.
// CS_SUCCEED after the last row; 0 for zero columns; -1 when memory ran out; else the
// failing code.
CS_RETCODE zem_fetch_data(CS_COMMAND* cmd);

// Runs "use <name>" with zem_execute_cmd and returns its result; 0 when the name does not
// fit the command buffer.
int zem_use_db(CS_CONNECTION* conn, const char* name);

// 0 for CS_SUCCEED, CS_END_DATA, CS_END_RESULTS; 2 for CS_FATAL, CS_INTERRUPT, CS_BUSY,
// CS_PENDING; 1 for any other code.
int zem_convert_retcode(CS_RETCODE rc);

// Display width of a column in characters: a width by data type, at least the name's
// length + 1.
CS_INT zem_display_dlen(CS_DATAFMT* fmt);
// Prints the column header (names, then dashes) on standard output, flushed; returns 1.
int zem_display_header(CS_INT numcols, CS_DATAFMT* fmt);
// Prints one value converted to text ("NULL", "NO CONVERT", "CONVERT FAILED"), padded to
// the column's display width; returns 1.
int zem_display_column(CS_CONTEXT* ctx, CS_DATAFMT* fmt, CS_VOID* value, CS_INT length,
                       CS_SMALLINT indicator);

// Logs a severe message and ends the process with status 1.
[[noreturn]] void zem_panic(const char* text);

// True while zem_connect waits in ct_connect (the client callback treats a time-out there
// differently).
extern bool zem_login_pending;
// While a login is pending: shuts down the TCP sockets opened since it began (the
// connection being logged in), so that the login ends with end of input. True when it
// shut one down.
bool zem_abort_login();

// What went wrong with the server, as the message callbacks saw it since the last
// zem_fault_clear: a time-out, a refused login, a server that cannot be reached (or that
// closed the connection during the login), a connection lost later. The strongest kind is
// kept (a time-out over the connection loss it causes, a refusal over what follows it).
enum zem_fault_kind : int {
    zem_fault_none = 0,
    zem_fault_timeout,
    zem_fault_refused,
    zem_fault_unreachable,
    zem_fault_dropped
};
void zem_fault_clear();
zem_fault_kind zem_fault();
// The library's or the server's message text of the kept fault (one line, "" for none).
const char* zem_fault_text();
// Short name of a kind for messages: "time-out", "login refused", "server unreachable",
// "connection lost" ("failed" for none).
const char* zem_fault_name(zem_fault_kind kind);
// Called by the callbacks with every client and server message.
void zem_fault_note_client(CS_INT number, const char* message, const char* os_text);
void zem_fault_note_server(CS_INT number, const char* message);
// True when the library holds the connection dead (or it is null): it can only be closed.
bool zem_connection_dead(CS_CONNECTION* conn);

// Client message callback: logged only while trace level 3 is on. A time-out (FreeTDS
// message 20003) gives the command up: CS_FAIL, which makes Client-Library abandon it; in
// a login, the connection's socket is shut down so that the login fails. Every other
// message answers CS_SUCCEED.
CS_RETCODE zem_clientmsg_cb(CS_CONTEXT* ctx, CS_CONNECTION* conn, CS_CLIENTMSG* msg);
// Server message callback: severity 10 is dropped, others are logged; CS_SUCCEED.
CS_RETCODE zem_servermsg_cb(CS_CONTEXT* ctx, CS_CONNECTION* conn, CS_SERVERMSG* msg);
