// The built-in monitor cursors: their rows are computed inside the collector from the rows
// other cursors already hold (SYSMON's counters, ZEMV's sample times). An internal fetch
// exit names the monitor cursor; the driver runs its procedure inside an internal-select
// bracket and returns the procedure's TAB-framed lines.
#pragma once

#include "expr/term_table.h"

struct r_exec_chain;

// The named procedure's lines (the caller frees them), or null: after "SMON010" for a name
// no entry matches exactly, or when the procedure failed or built no line.
r_exec_chain* smon_curs_driver(const char* name);

// The procedures, reached through the driver's table.
r_exec_chain* cacd_proc();
r_exec_chain* cacs_proc();
r_exec_chain* devd_proc();
r_exec_chain* engd_proc();
r_exec_chain* engs_proc();
r_exec_chain* lckd_proc();
r_exec_chain* lcks_proc();
r_exec_chain* logd_proc();
r_exec_chain* logs_proc();
r_exec_chain* sqld_proc();
r_exec_chain* tskd_proc();

// The module's term table between calls (parsed selects and work variables).
extern TERM_TABLE* lx_sql_handler;
