// The named-pipe transport: the zovcomm words over FIFOs in the pipe directory
// (env_vars.localtmpdir).
//
// The collector reads requests from its well-known collector pipe and answers on the
// reply pipe named in each request; every requester owns a reply pipe (its name carries
// the process id) and keeps a read and a write descriptor on it so that reading never
// sees end of file. FIFOs are created 0660. A reply pipe is written only when it is a
// FIFO owned by us in the pipe directory. After a time-out or an error a requester moves
// to a new reply pipe, so a late answer is never taken for the next request's.
#pragma once

#include <cstdint>

#include "comm/comm_anchor.h"
#include "comm/comm_support.h"

// The operations of the named-pipe transport ("shut" and "initsm" do nothing).
extern const comm_transport pipe_transport_ops;

// "init": a requester's anchor with a fresh reply pipe open, or null (logged).
comm_anchor* init_probe();
// "initc": the collector's anchor with the collector pipe re-created and open for
// reading, or null (logged).
comm_anchor* init_collector();
// "get": requester - sends one request per name and reads the answers; collector - takes
// the next waiting request without waiting. Null on failure or when there was none.
curs_list* get_request(comm_anchor* anchor, const char* names);
// "put": sends every block's answer to each of its reply pipes and frees the chain;
// returns null after a complete send, else the chain left (error in the anchor).
curs_list* put_request(comm_anchor* anchor);
// "term": closes the descriptors, removes the own pipe, frees chain and anchor; 0.
int term_comm(comm_anchor* anchor);

// Creates the FIFO named by the anchor's ulv_pipe (which != 0) or coll_pipe (which == 0),
// mode 0660: MakeNamedPipe's result; -1 (ENAMETOOLONG) when the name fills its field.
int comm_make_pipe(const comm_anchor* anchor, int which);

// Builds a pipe name into out (COMM_NAME_SIZE bytes). Kind "col": the collector pipe
// ([dir/]col_[serverid_][db_type_]pipe, or col_pipe_name when set). Any other kind: the
// next free reply-pipe name dir/prb_[serverid_][db_type_][hostname_]DDHHMMSS_PID_NNNN_pipe.
// Returns 0, or 1 (logged) when the name would not fit.
int make_pipe_name(const char* kind, char* out);

// Wait results.
constexpr int WAIT_READY = 0;
constexpr int WAIT_TIMEOUT = 1;
constexpr int WAIT_FAILED = 2;   // poll failed
constexpr int WAIT_NOT_SET = 3;  // poll returned without the descriptor ready

// Waits until fd is readable or the deadline (milliseconds on the u_clock_now clock)
// passes. Sets the transport's pipe error on any result but WAIT_READY.
int wait_for_read(comm_anchor* anchor, int fd, int64_t deadline_ms);
// Waits until fd is writable; WAIT_TIMEOUT at the deadline. A failure other than the
// time-out returns WAIT_READY with the pipe error set: callers test both.
int wait_for_write(comm_anchor* anchor, int fd, int64_t deadline_ms);

// Forgets the names built once per process (tests change the configuration).
void comm_pipe_reset_names();
