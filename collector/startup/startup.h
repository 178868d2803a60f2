// The collector's start-up: its command line, the configuration it settles, the log and
// banner, the definition files and the editing passes, in the order the engine needs them.
#pragma once

#include <cstdint>
#include <vector>

// Reads the collector's own options (case-insensitive, abbreviable to their minimum) into
// env_vars (-logsdir sets coll_out as well as coll_home), the trace switches and the
// dictionary parameters. The words that belong to the general command-line pass (argument
// files, "-filein" in any case, -version with its program names, and that pass's own
// options with their values) are appended to *general, after argv[0], for HVM_getenv; of
// these, -dbhome and -dbversion are also the trace switch, as every other name beginning
// with d is. An option or parameter name without its value word ends the process with
// status 1 ("cml1531"). Returns 1.
int parse_argv(int argc, char** argv, std::vector<char*>* general = nullptr);

// Opens the message log unless one is open ("cat2014" and standard output when it cannot
// be opened) and writes the banner.
void init_PRINT();

// The process definitions; a rejected file frees the list and ends through
// quitting(-1001). Returns 0.
int init_dist();

// Copies the logon id, password and server id between env_vars and the collector
// distributor: a value set in env_vars (command line or environment) goes into the
// distributor (longer than its field: "cml1529", quitting(-1003)); an unset one becomes an
// owned copy of the distributor's (a server id without the padding the process file
// adds). Returns 0.
int settle_db_identity();

// Records the host identity in machine_id (blank-padded fields).
void set_machine_id();

// "cml1528" and quitting(-1003) when the server id, host name, logon id or database type
// is unset, or the server id or logon id is empty; otherwise 0.
int check_required_config();

// Takes this collector's claim on its server in the directories it writes to (home, log,
// pipes, IPC id file), once, and keeps it until the process ends. Ends the process with
// status 1 ("cml1533", naming the live collector's process id, the server id and the
// directory) when a live collector already holds such a claim, or serves this server id
// from this directory through its pipe or IPC id file (comm/collector_claim.h); does
// nothing while the server id is unset or empty. A claim, pipe or IPC id file whose
// collector is gone is taken over.
void refuse_second_collector();

// Publishes the configuration as dictionary parameters (rdbms, errlog, logonid, dbhome,
// dbversion, dbtype, password), each only when set.
void publish_config_parms();

// The cursor definitions and the editing passes, in their fixed order; the first failing
// step frees the cursors and ends through quitting(-1001). Returns 0.
int init_cursors();

// The evaluation definitions; rejected: quitting(-1001). Returns 0.
int init_eval();

// The exit message, unless a stop was requested by signal.
void my_atexit();

// The whole start-up and the schedule loop; does not return.
[[noreturn]] void zemcoll_main(int argc, char** argv);
