// zovprobe: asks a running collector for cursors and prints their rows, or lists the
// collector's cursor names ("C-STATUS"). It is a requester of the collector-agent
// protocol through zovcomm, exactly as the agent framework is.
#pragma once

#include <string>

#include "comm/comm_anchor.h"

constexpr int PROBE_PREFIX_MAX = 19;  // characters of the -curs prefix
constexpr int PROBE_PIPE_MAX = 1023;  // characters of the -pipe name

enum probe_print_mode { PRINT_PLAIN = 0, PRINT_COMPRESSED = 1, PRINT_HEX = 2 };

// What the command line asks for. Texts left empty were not given.
struct probe_options {
    std::string names;  // every non-option word followed by one blank
    int samples = 1;
    int print_mode = PRINT_PLAIN;
    bool show_cursors = false;
    bool show_header = false;
    bool have_prefix = false;
    std::string cursor_prefix;
    std::string db_type, serverid, hostname, tmpdir, pipe;
    bool trace = false;    // a -d word was given
    bool levels[10] = {};  // trace levels it turns on
};

// Parses the words after the program name. Returns 0, or 1 after printing why (an option
// without its value, a text over its limit, "-help"): the caller then prints the help.
int probe_parse(int argc, const char* const* argv, probe_options* opt);

// Puts the options into the configuration (env_vars fields, col_pipe_name, trace levels)
// before get_envs fills the rest.
void probe_apply(const probe_options& opt);

// Prints the help text.
void probe_help();

// Prints one row of len bytes in the print mode, with its trailing empty line.
void probe_print_row(const char* row, int len, int mode);

// The names of the cursors in one "C-STATUS" answer element (each row a cursor status
// record), each followed by one blank; with have_prefix only names that begin with the
// prefix without regard to case. Empty when the element has no rows.
std::string return_cursor_name(const curs_list* element, bool have_prefix,
                               const std::string& prefix);

// The whole program; returns the exit status.
int probe_main(int argc, char** argv);
