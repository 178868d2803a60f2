// What the definition readers use of the collector engine: the cursor list, the work area,
// the host identity, the dictionary parameters, and the engine's orderly ends.
#pragma once

#include <cstdint>

struct curs;
struct distrib;

// Head of the list of all cursors in definition order, linked by curs::next.
extern curs* cur_anchor;

// The first cursor of cur_anchor whose cur_name equals name; null when none (or name is
// null). Compared over the 9 bytes of cur_name, which always holds its NUL: a name of more
// than 8 characters names none, and name may be a 9-byte field without a NUL of its own.
curs* find_cursor(const char* name);

// The shared 12000-byte work area (SELECT composition, script text, SQL statements),
// allocated at start-up before any definition file is read (engine_alloc_work_buff).
inline constexpr int sizeof_work_buff = 12000;
extern char* work_buff;
// Allocates work_buff once (u_malloc); later calls do nothing. Returns work_buff.
char* engine_alloc_work_buff();

// Relative seconds at which the collector is to stop (go_home keyword); 0 none.
extern int32_t go_home_time;

// The 14-digit time of the last re-selection of cursor versions, NUL-terminated.
extern char last_version_update_time[15];

// The host identity: three blank-padded fields without a NUL of their own.
struct machine_ident {
    char mach[64];
    char me[32];
    char machine_me[64];
};
extern machine_ident machine_id;

// One dictionary parameter: a name with a value; creation order from dict_parms_anchor.
// The texts are not copied (they point into the argument vector or at literals).
struct dict_parms {
    dict_parms* next;
    char* name;
    char* initial;
};
extern dict_parms* dict_parms_anchor;

// Appends a parameter holding the two pointers; returns 0.
int add_dict_parm(char* name, char* value);
// The value of the first parameter whose name equals name without regard to case; null
// when none (or when name is null).
char* search_dict_parm(const char* name);

// Writes "pgn0001" "No memory" (type s) and ends the process with status 98.
[[noreturn]] void no_mem();

// The collector's orderly end: runs the shutdown hook (signals, communication), deletes
// the cursors, writes "ggn1505" with the time and closes the log. Code 0 (a requested
// stop) exits with status 0, -1 returns 0 (the restart), any other code (a failed
// start-up: -1001 definitions, -1003 configuration, -1004 communication) exits with 1.
int quitting(int code);
// Called first by quitting (signal reset, "shut" to the communication entry); does nothing
// until the collector installs its steps. Never null.
extern void (*quitting_hook)(int code);

// Empties cur_anchor. Only with trace level 7 on (the memory-tracing mode) is anything
// freed: through del_curs_hook, the collector's once installed (it knows every record a
// cursor and its versions hold), until then the model's own: each cursor with its columns,
// texts, rows and small records (clause records and queued post-cursors through
// del_curs_clauses_hook, the dummy-row text too), writing "cdc0305" for each.
void del_curs();
extern void (*del_curs_hook)();
// Frees the clause records of one cursor (the collector's); does nothing until installed.
// Never null.
extern void (*del_curs_clauses_hook)(curs* c);

// Frees every distributor of the list and clears the list and the collector pointer,
// through del_distributor_hook (the collector's; does nothing until installed, never null);
// returns 0.
int del_distributor();
extern int (*del_distributor_hook)();

// The editing passes over the parsed cursors. Each returns 0, or non-zero on failure.
// Until the collector code that binds each clause installs its pass, a pass does nothing
// and returns 0; no pass is null.
struct engine_edit_passes {
    int (*edit_decode)();
    int (*edit_in_lists)();
    int (*edit_bases)();
    int (*edit_math)();
    int (*edit_col_exits)();
    int (*edit_iterate_where)();
    int (*edit_loads)();
    int (*set_qualifieds)();
    // The steps of the start-up sequence that the table lacked at first.
    int (*create_percent_cursor)();
    int (*init_virtuals)();
    // Builds the age-to copies; start-up runs it before the versions are chained
    // (define_vers_chain), and a version change does not rerun it.
    int (*edit_age_to)();
    int (*edit_pre_cursors)();
    int (*edit_iterates)();
};
extern engine_edit_passes edit_passes;

int edit_decode();
int edit_in_lists();
int edit_bases();
int edit_math();
int edit_col_exits();
int edit_iterate_where();
int edit_loads();
int set_qualifieds();
int create_percent_cursor();
int init_virtuals();
int edit_age_to();
int edit_pre_cursors();
int edit_iterates();
