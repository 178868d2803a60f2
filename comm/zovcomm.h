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

#include "comm/chain.h"
#include "comm/comm_support.h"

// The collector's wait between serving turns: 1 as soon as a request waits, 0 when none
// came within timeout_ms (0: only looks) or the stop flag is set, -1 when the wait failed
// (error in the anchor). Over shared memory the next "get" then takes the request
// without waiting; over named pipes the collector keeps a write descriptor on its own
// pipe, so a requester that closed its end is never taken for a waiting request.
int zovcomm_wait(comm_anchor* anchor, int timeout_ms);

// The code of the call in progress, 0 when none (the re-entry guard).
extern int zovcomm_locked;

// The most characters of a requester's cursor-name text ("get"). comm_names_text_fits is
// the one check of it: false, with the refusal (no newline) in `why` (cap bytes), when
// `names` is longer.
constexpr int COMM_NAMES_MAX = COMM_NAME_SIZE - 1;
bool comm_names_text_fits(const char* names, char* why, size_t cap);

#endif  // __cplusplus
