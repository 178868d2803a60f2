// The shared-memory transport: the seven words over System V shared memory and
// semaphores. zovcomm runs them when COLL_USESHM selects it.
//
// "initsm" sets up this process's request and data objects (comm/ipc_idfile.h) and
// reports a failure to its caller (the collector stops on it; an agent carries on). "init"/"initc"
// only make the anchor
// ("COL" and "AGT" stand for the pipe names). The collector's "get" waits up to
// wait_timeout seconds for one request; a requester's "get" sends one request per name
// and reads one answer per request, pairing them by unique id. "put" answers the request
// the last "get" took. "term" frees the anchor; the objects stay attached until "shut",
// where the last process to detach removes them. Without shared objects "get" and "put"
// give error 21.
#pragma once

#include "comm/comm_anchor.h"
#include "comm/comm_support.h"

// The operations of the shared-memory transport.
extern const comm_transport shm_transport_ops;

// The shared-memory dispatcher by name: runs one of the seven words (matched as the entry
// point matches them) on shm_transport_ops, without the entry point's guard; the result
// has the meaning the entry point documents for the word. Any other word is logged
// ("com2100") and gives null without touching the anchor.
void* zovcomm2(const char* word, comm_anchor* anchor, const char* names);

// Turns a transfer result into the anchor's error: -10 gives 20 "Share memory time out",
// -1 gives 21 "Share memory generic error"; other results change nothing.
void SetError(int result, comm_anchor* anchor);

// Time of the last request a requester sent successfully (0 until the first "init").
extern long last_succeed_sent_req_tm;
