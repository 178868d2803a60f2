// The collector's side of the parent-child SQL channel: a distributor runs its cursors
// through a database access program kept running as its child (call type I), one request
// and one answer at a time.
//
// A request is a few records ended by !Z: !X X (send column headers) when the cursor's
// layout is not known yet, !X A (cursor name), !X I (request id), !X R (row limit), !S S
// (the statement). The answer is status, column and row records ended by !Z; its rows are
// merged into the cursor. Nothing of the collector's cursor path sends requests here: the
// operations are entry points of their own.
//
// An answer is taken only whole: a child that stays silent past the channel's read time-out
// (COLL_WAIT_TIMEOUT), ends its output or cannot be written to is ended, and the next
// request starts a new one. The stored password reaches the child in its own environment
// (COLL_PASSWORD), never on its command line.
#pragma once

#include <cstdint>

#include "runtime/child.h"
#include "runtime/pcc.h"

struct curs;
struct distrib;
struct _anchorDBdata;

// distrib::state bit: a channel child runs, is connected and takes requests.
inline constexpr uint16_t DIST_CHANNEL_CONNECTED = 8;

// Results beyond the child's own return codes.
enum : int {
    CHANNEL_NO_ANSWER = 3,  // no complete answer (time-out, end of output): the child is ended
    CHANNEL_REFUSED = 5,    // the request cannot travel (statement or name); nothing was sent
    CHANNEL_ID_MISMATCH = 112,
};

// Request ids run 1 to this and wrap: the field is four digits wide.
inline constexpr int32_t channel_max_request_id = 9999;

// The channel block of one distributor (distrib::dbapsa), made zero-filled by the first
// StartDBAP and kept as long as the distributor.
struct dist_anchored_dbapsa {
    int32_t outstanding;               // answers still to read: one per request sent whole
    execopt opts;                      // the child; opts.ihandle is set while one runs
    char buffer[pcc_record_size + 2];  // every record sent and read; room for "\n" and NUL
};

// The request block of one cursor (curs::cur_memory), made zero-filled by its first request.
struct cur_memory_s {
    int32_t request_id;  // the last id sent, 1 to channel_max_request_id
    char name[16];       // the time stamp the answer's rows are merged under
    int16_t cols_done;   // a row of the current layout arrived: later !C records are not taken
};

// Starts the child when none runs (the program u_db_type(0) + "sql", from COLL_BINPATH when
// it is there, else on the search path; -rdbms, -logonid and I on its command line), or
// reconnects a running child that was disconnected (!X C, answer read). 0 when a connected
// child runs; 1 when it cannot be started; a send result (2, 10, 104) or 3 when the
// reconnect could not be made (the child is then ended); the child's code when it answered
// that it could not connect.
int StartDBAP(distrib* d);

// Sends one request for cursor c; name (at most 15 characters) is the time stamp its rows
// are merged under. 0 sent whole (the block's outstanding count goes up by one); 1 no child
// could be started; 5 refused before anything was sent (a statement longer than a record or
// holding a line break, a name too long, a statement that cannot be built this run); else
// the first failing send result (2, 10, 104), after which the child is ended.
int run_cursor_DB(distrib* d, curs* c, char* name);

// Reads the answer for cursor c and merges its rows; with c null reads the answers to all
// outstanding requests. The last status record's return code (0 success); 1 no row and no
// dummy row (sqlcode -1); 2 no request block, a broken answer or a row that fails to merge
// (the cursor is held); 3 no complete answer (the child is ended); 112 request id mismatch;
// a result above 99 of a nested read.
int get_cursor_DB(distrib* d, curs* c);

// Reads and drops records up to the end of the current answer. 0.
int FlushInputToZ(dist_anchored_dbapsa* block, char* name);

// The first cursor of cur_anchor whose name equals name exactly, or null.
curs* LocateCurs(distrib* d, char* name);

// Mode 0 commit (!X O), mode 1 disconnect (!X D), each with its answer read; mode 2 stops
// the child (!X D when connected, !X S FORCE, then it is ended). The sum of the send
// results; 3 when an answer did not come whole (the child is then ended).
int StopDBAP(distrib* d, int mode);

// Adds the next column description to anchor: name (trailing blanks cut), its length as
// both value length and width, its offset behind the previous column; type letter C gives
// the character kind, D, I and N the number kind, another letter "fxr1205" and no kind.
// 0; 1 when every announced column is described already (nothing changed).
int gcbd_set1col(char* name, char type, int length, _anchorDBdata* anchor);

// True when p is a request block made by run_cursor_DB and not yet released.
bool channel_is_request_block(const void* p);
// Frees the cursor's request block (when it holds one) and forgets its result set, which
// belongs to the distributor's anchor. True when it held one.
bool channel_release_cursor(curs* c);
// For every distributor of distrib_anchor with a channel block: stops a running child
// (mode 2), frees the block and the distributor's result-set anchor.
void channel_release_distributors();
