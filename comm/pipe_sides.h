// What the two sides of the named-pipe transport share inside comm/: the pipe error
// flags and SIGPIPE handling, descriptor and name helpers, the bounded poll, the sweep of
// gone requesters' pipes, and what each side offers the operations that serve both
// (get, term, the names' reset). Not for use outside the transport.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>

#include "comm/comm_anchor.h"

namespace comm_pipe {

// Set by a failed wait, read or write and by the SIGPIPE handler.
extern volatile sig_atomic_t pipe_error;
extern volatile sig_atomic_t sigpipe_seen;
// Our handler is in place (between set_signal(on) and set_signal(off)).
extern bool signal_installed;

// Notes whether SIGPIPE is ignored; then get and put need no handler of their own.
void note_sigpipe_disposition();
// Puts our SIGPIPE handler in place (on) or the previous one back (off).
void set_signal(comm_anchor* anchor, bool on);
// Reports a SIGPIPE the handler recorded, with the line it is reported from.
void report_sigpipe(int line);

// Our own FIFOs and the reply pipes: opened non-blocking, only when they are FIFOs we own.
constexpr int kOpenRead = 4;
constexpr int kOpenWrite = 2 | 4;

// Closes *fd when open and sets it to -1.
void close_fd(int* fd);
// True when the name exists.
bool exists(const char* name);
// Copies a text whose length the caller checked to be below size.
void copy_checked(char* out, size_t size, const char* in);
// True when the reply name lies directly in our pipe directory.
bool reply_in_pipe_dir(const char* reply);

// One step of a bounded poll: waits for `events` on fd until the deadline, in steps of at
// most COMM_STOP_CHECK_MS so that the stop flag is seen. 1 ready (revents set), 0 the
// deadline passed or the stop flag is set, -1 poll failed (errno kept).
int poll_until(int fd, short events, int64_t deadline_ms, short* revents);

// Removes the reply FIFOs (of this server, type and host) whose process is gone: a
// requester that was killed never removes its own.
void sweep_dead_reply_pipes();
// The same, while serving: at most once a second.
void sweep_when_due();

// ---- the requester's side (comm/pipe_requester.cpp) ----
// "get" of a requester: sends one request per name and reads the answers.
curs_list* get_cursor_data(comm_anchor* anchor, const char* names);
// "term" of a requester: closes the write descriptor kept on the reply pipe.
void requester_close();
// Forgets that the last request failed (the names are reset).
void requester_reset();

// ---- the collector's side (comm/pipe_collector.cpp) ----
// "get" of the collector: the next waiting request without waiting.
curs_list* get_probe_reqs(comm_anchor* anchor);
// "term" of the collector: closes its own write descriptor and the kept answer pipe,
// and forgets what was read and not taken.
void collector_close();
// The collector's wait between serving turns (zovcomm_wait).
int collector_wait(comm_anchor* anchor, int timeout_ms);
// A reply pipe whose file went: it is no longer held for stalled.
void forget_stalled(const char* path);

}  // namespace comm_pipe
