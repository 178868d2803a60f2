// The collector's answer to a server that fails: a pass spends at most one time-out or
// one failed login on it, a connection lost in the middle of a pass is made again once,
// and refused logins are tried less and less often so that a failed-login limit on the
// server does not lock the monitoring account.
//
// The gate is open at the start of every interval pass. A failed connect or a statement
// that timed out closes it: the SQL cursors still to run in that pass (and demand runs
// until the next pass, or one collector interval when no pass comes) are skipped, and the
// pass ends with one message that says why. A lost connection (the server closed it) is
// closed on our side too; the next SQL cursor logs in again, once per pass.
#pragma once

struct curs;
// The kinds of server fault (acquire/ctlib/zemctutl.h); declared here without the
// Client-Library headers, which the engine's headers keep out.
enum zem_fault_kind : int;

// Refused logins in a row after which logins are only tried every server_backoff_passes
// interval passes.
inline constexpr int server_refusals_before_backoff = 3;
inline constexpr int server_backoff_passes = 5;

// Brackets one interval pass (collect): begin opens the gate, unless a back-off after
// refused logins keeps it closed for this pass; end writes the one message for the SQL
// cursors that the pass skipped.
void server_pass_begin();
void server_pass_end();

// True when cursor c (an SQL cursor) may use the server now. False: the run is skipped;
// the skip is counted, and told once when it happens outside a pass.
bool server_may_run(const curs* c);

// SQL cursor runs skipped since the pass began: collect tells a skip from a failure by it.
int server_skipped();

// The outcome of a connect: a failure closes the gate for the pass (a refusal also counts
// towards the back-off); a success ends the back-off.
void server_connect_failed(zem_fault_kind why);
void server_connect_succeeded();

// A statement found its connection dead (why: zem_fault_timeout or zem_fault_dropped; the
// caller has closed it). A time-out closes the gate for the pass; a lost connection may be
// made again once per pass, a second loss closes the gate.
void server_connection_lost(zem_fault_kind why);

// For tests: back to the state of a new process.
void server_faults_reset();
