// The cursor chain of an anchor and the anchor itself: blocks, reply pipe entries,
// cursor names, the requester's blocks and the collector's filing of requests. Both
// transports build and read their chains through these (comm/chain.cpp).
#pragma once

#include "comm/comm_anchor.h"

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
