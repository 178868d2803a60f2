// Fetch exits: a cursor that takes its rows from a command's output lines instead of the
// server, or from an internal exit.
//
// run_cursor_fetch_exit builds the command from the cursor's script (host variables put in,
// never read by a shell: acquire/script_words.h), runs it under a time limit (the exit's
// optval, else 30 seconds), splits each output line into column values by the exit's layout
// (1 and 4 fixed width, 2 words, 3 TAB-separated, 5 the whole line) into the cursor's result
// set (acquire/result_sets.h) and merges the rows into the cursor (acquire/fetch_merge.h).
//
// The cursor keeps one anchor (cur_memory) and one result set (db_data) from its first run
// on; the result set's rows are freed after every run, and the cursor's columns are then put
// on its last stored row (cols_set 0), where readers of its columns look.
#pragma once

#include <cstdint>

#include "acquire/script_words.h"

struct curs;
struct fetch_ex;
struct r_exec_chain;
struct _anchorDBX;
struct _anchorDBdata;

// Room of the work block's fields.
inline constexpr int fx_parameters_size = 16000;
inline constexpr int fx_command_size = 1076;
// Time limit of an exit without its own, seconds.
inline constexpr int fx_default_limit = 30;

// The work block of one exit run, zero at its start.
struct fetchExitGlobal {
    char parameters[fx_parameters_size];  // parameter text after substitution (traces)
    char command[fx_command_size];        // the command name
    r_exec_chain* results;                // output lines not yet parsed
    int16_t skip;                         // output lines still to skip (start_after)
    int16_t limit;                        // rows still to take (stop_after); 0 no limit
    const char* time_stamp;               // the run's 14-character time
    _anchorDBX* anchor;
    curs* cursor;
    int32_t format_type;
    int32_t option;
    script_command cmd;  // what exec receives
};

// The word reader of format 2. text is the line; the rest starts zero.
struct parsed_word {
    char* text;
    char* end;    // the text's end, set on first use
    char* start;  // the current word
    char* next;   // where the next word is looked for
    int quoted;   // the current word was quoted (quotes not included)
};

// Runs the cursor's fetch exit. 0 when rows (or a dummy row) were delivered; 1 when the run
// produced nothing usable or a row could not be merged (sqlcode -1); with internal option 7
// the result of parse_script_text. A command that ended with a non-zero status or by a
// signal, was ended at its time limit, or printed NUL or control bytes gives no rows at all
// (fxr4032, fxr4033): the run fails, without a dummy row.
int run_cursor_fetch_exit(curs* c, const char* time_stamp);
// Fills the work block (anchor made on the cursor's first run); 0.
int setCurs4exit(fetchExitGlobal* g, curs* c, const char* time_stamp, fetch_ex* x);
// Builds the command; 0, or 1 after a message (nothing is started then).
int formatCommand(fetchExitGlobal* g);
// Parses the output lines into rows of the cursor's result set; the number of rows.
int parseCmdResults(fetchExitGlobal* g);
// Merges the result set's rows into the cursor; 0, or 1 when a row could not be merged.
int merge_DB_DATA2curs(fetchExitGlobal* g, curs* c);

// The layouts; each returns the number of columns filled (0: no row was added).
int simpleParsing(curs* c, _anchorDBdata* d, char* line);   // 2: words
int syntaxParsing(curs* c, _anchorDBdata* d, char* line);   // 1, 4: fixed width
int tabbedParsing(curs* c, _anchorDBdata* d, char* line);   // 3: TAB-separated
int cformatParsing(curs* c, _anchorDBdata* d, char* line);  // 5: the whole line

// The next word: its length (w->start, w->quoted set), 0 for an empty quoted word, -1 at the
// end of the text.
int u_getWord(parsed_word* w);

// Internal options 1 and 2: nothing to do; 0.
int internal_fetchx_i1();
int internal_fetchx_i2();

// Releases the cursor's anchor and result set (cursor clean-up).
void fetch_exit_release(curs* c);
