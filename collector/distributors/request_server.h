// The request server ("ulv" distributor): answers the requests queued for the collector
// over zovcomm with a cursor's rows (through a cluster) or a status dump.
#pragma once

#include <cstdint>

struct curs_list;

// Serves the request queue once: builds the channel on first use (three tries, then the
// collector stops with -1004), then, when a request waits, gets, answers and puts it. 0
// served; -1 it could not be answered, or the queue could not be read; 100 no request
// (none waiting, or the wait timed out).
int do_ulv();

// Answers one requested cursor: its rows, in the cluster row layout, into the entry's
// data, rows and len. 0 answered, or the cursor is outside its window (entry left alone);
// 1 unknown cursor, no rows, or no memory. The request's parameters become the percent
// cursor's "%parm0".."%parmf" (missing ones blank).
int get_probe_data(curs_list* request);

// Answers the "C-STATUS" (every cursor) or "D-STATUS" (every distributor) request into the
// entry: one encoded status record per row. 0, or -1 when the block could not be had.
int status_answer(curs_list* request, bool cursors);

// The serving turn's pause (installed as serving_sleep): waits on the channel until a
// request waits, `seconds` pass or the stop flag is set; sleeps when there is no channel
// or the wait fails.
void ulv_wait(int32_t seconds);
