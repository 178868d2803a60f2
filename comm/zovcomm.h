// zovcomm: the one entry point of both ends of the collector-agent protocol.
//
//   anchor = zovcomm("init")                requester: a new anchor of type 'P', or null
//   anchor = zovcomm("initc")               collector: a new anchor of type 'C', or null
//   chain  = zovcomm("get", anchor, names)  requester: asks for the blank/comma separated
//                                           cursor names (at most 99 characters, each name
//                                           at most 8) and waits for the answers
//   chain  = zovcomm("get", anchor)         collector: the next waiting request, or null
//   chain  = zovcomm("put", anchor)         collector: sends the answers; null when done
//   anchor = zovcomm("term", anchor)        ends and frees the anchor; always null
//            zovcomm("shut", anchor)        shared memory: detaches this process
//   failed = zovcomm("initsm")              shared memory: sets up the shared objects;
//                                           null when done (or over named pipes), else
//                                           non-null: the caller decides whether to stop
//
// The word is matched without regard to case; an unknown word is logged ("com0100") and
// gives null. A failed "get" or "put" gives null (for "put" the unsent chain) and leaves
// return_code and return_msg in the anchor. The transport is chosen on every call:
// COLL_USESHM unset or beginning with "1" selects shared memory, anything else named
// pipes. The chain belongs to the anchor and is freed by the next call.
//
// The entry point and the records are valid C; the rest of this header is C++.
#pragma once

#include "comm/comm_anchor.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The entry point. Results are pointers on this platform (anchors and chains); "term"
   and "shut" return null; "initsm" returns null when it succeeded and its non-zero
   error code as a pointer-sized value when it failed. It never ends the caller. */
void* zovcomm(const char* word, ...);

#ifdef __cplusplus
}

// Function codes: the position of the word in the table.
enum zovcomm_code {
    ZOVCOMM_INIT = 1,
    ZOVCOMM_INITC = 2,
    ZOVCOMM_GET = 3,
    ZOVCOMM_PUT = 4,
    ZOVCOMM_TERM = 5,
    ZOVCOMM_SHUT = 6,
    ZOVCOMM_INITSM = 7,
};

// The operations of one transport; zovcomm_call runs the one COLL_USESHM chooses.
struct comm_transport {
    comm_anchor* (*init)();                                     // "init"
    comm_anchor* (*initc)();                                    // "initc"
    curs_list* (*get)(comm_anchor* anchor, const char* names);  // "get"
    curs_list* (*put)(comm_anchor* anchor);                     // "put"
    int (*term)(comm_anchor* anchor);                           // "term"
    void (*shut)();                                             // "shut"
    int (*initsm)();                                            // "initsm": 0 or an error code
    int (*wait)(comm_anchor* anchor, int timeout_ms);           // zovcomm_wait
};

// Runs function code `code` (1 to 7) on transport `t`, without the guard; the result has
// the meaning the entry point documents for the word (null for any other code).
void* comm_run_operation(const comm_transport& t, int code, comm_anchor* anchor, const char* names);

// The collector's wait between serving turns: 1 as soon as a request waits, 0 when none
// came within timeout_ms (0: only looks) or the stop flag is set, -1 when the wait failed
// (error in the anchor). Over shared memory the next "get" then takes the request
// without waiting; over named pipes the collector keeps a write descriptor on its own
// pipe, so a requester that closed its end is never taken for a waiting request.
int zovcomm_wait(comm_anchor* anchor, int timeout_ms);

// The stop flag: every wait of both transports reads it when a signal interrupts it and
// at least every COMM_STOP_CHECK_MS, and ends as a time-out once it is not 0. A program
// registers the flag its signal handlers set; null (the default) for none.
void zovcomm_set_stop_flag(volatile sig_atomic_t* flag);
bool comm_stop_requested();
constexpr int COMM_STOP_CHECK_MS = 250;
// Sleeps ms milliseconds (u_sleep_ms, which a signal ends early); false when the stop
// flag is set.
bool comm_pause_ms(long ms);
// Milliseconds on the monotonic clock: the deadlines of the waits.
int64_t comm_now_ms();

// The function code of a word (1 to 7), 0 when it is none of the seven.
int zovcomm_code_of(const char* word);

// The code of the call in progress, 0 when none (the re-entry guard).
extern int zovcomm_locked;
// Seconds either end waits for its partner; 0 until the first "init"/"initc" sets it.
extern int wait_timeout;

// The collector pipe's name when set beforehand (the probe's "-pipe"); empty otherwise.
extern char col_pipe_name[1024];

// Seconds from environment variable `name`: a positive number read from its leading
// digits, else `dflt` (unset, empty, 0 or not a number).
int get_timeout_value(const char* name, int dflt);
// Sets wait_timeout from `name` (default `dflt`) when it is still 0.
void comm_set_wait_timeout(const char* name, int dflt);

// The most characters of a requester's cursor-name text ("get"). comm_names_text_fits is
// the one check of it: false, with the refusal (no newline) in `why` (cap bytes), when
// `names` is longer.
constexpr int COMM_NAMES_MAX = COMM_NAME_SIZE - 1;
bool comm_names_text_fits(const char* names, char* why, size_t cap);

// True when the shared-memory transport is selected (COLL_USESHM unset or "1...").
bool comm_use_shm();

// Sets the anchor's return_code and return_msg (printf format, bounded to 199 chars).
void comm_set_error(comm_anchor* anchor, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Appends a zeroed block to the anchor's chain; null with error 8 when out of memory.
curs_list* get_cursor_block(comm_anchor* anchor);
// Frees every block with its reply pipes, request and rows; anchor->curs becomes null.
void free_cursor_blocks(comm_anchor* anchor);
// The first block holding the same request (same name over the request's offset bytes,
// same length, same bytes after the reply name), else null.
curs_list* scan_cursor_blocks(comm_anchor* anchor, const data_request* request);
// Appends a reply pipe entry (name allocated with the entry) to a block.
void add_reply_pipe(curs_list* block, const char* name);
// Skips blanks and commas; 0 at the end of the text; else copies the next run up to a
// blank, comma or NUL into the 9-byte `name` (zero-filled), at most 8 characters, and
// returns the number copied (a longer run yields its first 8 and 8).
int get_curs_name(const char* text, char* name);
// Sets error 8 "No memory available".
void no_mem(comm_anchor* anchor);

// A requester's blocks for the blank/comma separated `names` (null taken as empty),
// rebuilt only when the text differs from the last one or the chain is empty. True when
// there are blocks to send; false when there are none, or when a record could not be
// built (error 4 "Request record error (...)" set, and the next call builds anew).
bool comm_requester_blocks(comm_anchor* anchor, const char* names);
// The collector files the request record `req` (taken over) in its chain: a block that
// holds the same request gets one more reply pipe (anchor->ulv_pipe) and `req` is freed,
// else a new block with the record's cursor name does. parm[] then points at the
// block's parameters. Returns anchor->curs.
curs_list* comm_file_request(comm_anchor* anchor, data_request* req);
// Frees the chain and clears parm[] (whose entries pointed into the freed records).
void comm_drop_requests(comm_anchor* anchor);
// A "put" needs a collector's anchor: false with error 4 ("Invalid request type for
// probe." for a requester, "Invalid IPC anchor for put request." otherwise) when not.
bool comm_put_allowed(comm_anchor* anchor);

// Allocates a zeroed anchor of the type with both descriptors closed (-1).
comm_anchor* comm_new_anchor(char type);
// Frees the chain and the anchor (no transport work).
void comm_free_anchor(comm_anchor* anchor);

#endif  // __cplusplus
