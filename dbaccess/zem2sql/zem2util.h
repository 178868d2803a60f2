// zem2sql's DB-Library layer: one anchor per connection, the calls that log in, switch
// database, send a batch or a procedure call and walk the results, and the result store
// that keeps every fetched row as text for the printing and the channel answers.
#pragma once

#include <sybdb.h>
#include <sybfront.h>

#include <cstdint>

#include "model/distrib.h"

// At most this many rows are kept per result set.
inline constexpr int dbx_max_rows = 3000;
// Character and text values are kept to at most this many characters.
inline constexpr int dbx_max_text = 1024;

// Anchor bits: open_flags bit 0 open; state_flags bit 1 dead.
inline constexpr uint16_t dbx_open = 1;
inline constexpr uint16_t dbx_dead = 2;

struct column_data {
    int32_t kind;        // 1 character (stored raw), 2 converted to text
    int32_t format;      // 1: text
    int32_t type;        // DB-Library type
    int16_t conversion;  // 0 none, 4 converted to text and right-aligned
    char name[32];
    int32_t offset;          // start of the value in a stored row
    int32_t server_length;   // dbcollen
    int32_t width;           // display width
    int16_t column_number;   // from 1
    int16_t null_indicator;  // -1 after a NULL was fetched
};

struct row_column {
    int16_t column;  // from 1
    int32_t length;  // characters of the stored text
    char* value;     // into the row buffer, NUL-terminated
};

struct row_data {
    char* buffer;  // row size bytes
    row_column* columns;
};

struct db_data {
    db_data* list_next;  // next entry of the anchor's list (first set of each command)
    db_data* next_set;   // next result set of the same command
    int32_t in_use;
    int16_t set_number;
    int32_t row_size;
    int16_t num_columns;
    int32_t num_rows;
    int32_t next_row;
    column_data* columns;
    row_data* rows[dbx_max_rows];
    struct _anchor_db* anchor;
};

struct _anchor_db {
    const char* server;
    const char* user;
    const char* password;  // stored form
    distrib* owner;
    int32_t init_code;
    uint16_t open_flags;
    uint16_t state_flags;
    DBPROCESS* dbproc;
    db_data* first_set;
    db_data* current_set;
    // Per statement: a character value was cut to dbx_max_text (warned once).
    int32_t cut_warned;
};

extern _anchor_db* dbx;       // the latest anchor
extern _anchor_db* errorDBX;  // the anchor the next library call works for

_anchor_db* init_dbx_env(distrib* record);
_anchor_db* db_dbx_init(distrib* record);
int connect_to_server(_anchor_db* a);
void clean_up_dbx(_anchor_db* a, int mode);
int DB_to_use(_anchor_db* a, const char* name);
int DoSQL(_anchor_db* a, const char* text);
int DoRPC(_anchor_db* a, const char* name, char** params, int count);
int process_row_results(_anchor_db* a, db_data* previous, const char* text);
int process_rpc_results(_anchor_db* a, db_data* set);
int fetch_data(_anchor_db* a);
db_data* db_data_init(_anchor_db* a, db_data* previous, int number);
column_data* column_data_init(db_data* set, int num_columns);
int column_info_copy(_anchor_db* a, column_data* col, int number);
row_column* row_data_copy(_anchor_db* a);
int column_data_copy(_anchor_db* a, column_data* col, row_column* entry, char* buffer);
void freeDBresults(_anchor_db* a, char mode);
void dbCancel(_anchor_db* a);
int num_columns(_anchor_db* a);
int execDBcommand(const char* text, int layout);
int msg_handler(DBPROCESS* dbproc, DBINT msgno, int msgstate, int severity, char* msgtext,
                char* srvname, char* procname, int line);
int err_handler(DBPROCESS* dbproc, int severity, int dberr, int oserr, char* dberrstr,
                char* oserrstr);

// Display width and conversion of a column of `type` and server length (precision for
// DECIMAL and NUMERIC); *converted set to true when the value is stored as converted text.
int dbx_display_width(int type, int server_length, int precision, bool* converted);

// Printing (zem2util_print.cpp).
enum : int {
    fc_pad = 1,
    fc_right = 2,
    fc_int_left = 4,
    fc_quote = 8,
    fc_trim = 16,
    fc_no_nul = 32
};
int formatDBresults(_anchor_db* a, int layout);
int formatColumn(int width, char* out, int length, char* value, int kind, char separator,
                 int flags);
