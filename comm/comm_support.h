// What both transports take from the layer above them, in one place of its own: the
// function codes and the transport table with the operation runner, the wait time, the
// stop flag and the clock of the waits, the choice of transport and the anchor's error.
// Nothing here calls a transport or the entry point, so the transports include this
// header instead of calling back into the dispatcher (comm/zovcomm.cpp).
#pragma once

#include <signal.h>

#include <cstdint>

#include "comm/comm_anchor.h"

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

// The function code of a word (1 to 7), 0 when it is none of the seven.
int zovcomm_code_of(const char* word);
// The word of a function code (1 to 7) as the table spells it; null for any other code.
const char* zovcomm_word_of(int code);

// The operations of one transport; the entry point runs the one COLL_USESHM chooses.
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

// Seconds either end waits for its partner; 0 until the first "init"/"initc" sets it.
extern int wait_timeout;
// Seconds from environment variable `name`: a positive number read from its leading
// digits, else `dflt` (unset, empty, 0 or not a number).
int get_timeout_value(const char* name, int dflt);
// Sets wait_timeout from `name` (default `dflt`) when it is still 0.
void comm_set_wait_timeout(const char* name, int dflt);

// The collector pipe's name when set beforehand (the probe's "-pipe"); empty otherwise.
extern char col_pipe_name[1024];

// True when the shared-memory transport is selected (COLL_USESHM unset or "1...").
bool comm_use_shm();

// Sets the anchor's return_code and return_msg (printf format, bounded to 199 chars).
void comm_set_error(comm_anchor* anchor, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// Sets error 8 "No memory available".
void no_mem(comm_anchor* anchor);
