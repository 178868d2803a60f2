// The command of a script text with its host variables replaced, as the fetch exits and the
// script-text runner start it.
//
// A host variable is "[" and a name: a column (of the running cursor, or "cursor.column" of
// another, or a percent variable), whose value is taken from the last row of its cursor, or
// an in-list ("cursor.inlist"). No value is ever read by a shell: the script is split into
// words as the system splits words (blanks; a word opened by a quote runs to the matching
// quote), a value is put inside its word and stays one argument, and an in-list gives one
// argument per entry. Only a script whose own text uses shell syntax runs under /bin/sh -c;
// each value is then single-quoted in it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct curs;

// How names and values are read, and which messages a failure gives.
enum class hv_style {
    // Fetch exits: "[" optional blanks and a name of letters, digits and ". _ % $"; a "]"
    // right after it is dropped; a column value loses its trailing blanks and unprintable
    // characters (fxr4015, fxr4020).
    fetch_exit,
    // Script texts: "[" optional blanks and a name up to a blank, a comma or the end; the
    // column's whole field, blanks included (ccc4015, ccc4020).
    script_text,
};

struct script_command {
    std::string command;             // the first word
    std::string parameters;          // the text after it, values put in (for traces)
    std::vector<std::string> words;  // what exec receives, the command first
    bool shell = false;              // the script's own text uses shell syntax
    std::string shell_text;          // then: the script for sh -c, values single-quoted
};

// Builds the command of cursor c's script. 0; 1 after a message when a host variable cannot
// be resolved, its cursor holds no row, a name is longer than 49 characters, or the command
// or the parameters would pass max_command or max_parameters characters.
int build_script_command(curs* c, const char* script, hv_style style, size_t max_command,
                         size_t max_parameters, script_command* out);

// The words of the command as an argument vector (pointers into cmd; null-terminated): the
// words, or "/bin/sh", "-c" and the shell text.
std::vector<char*> script_argv(script_command& cmd);

// How run_script_command starts the command.
enum class script_run {
    wait,      // wait for the output; long parameters in a file named after -filein
    timed,     // wait; long parameters on standard input after a "--" argument
    detached,  // start and do not wait
};

// Runs the command under limit_s seconds (its process group ended at the deadline) and
// returns its non-empty output lines, at most max_lines (dropped ones counted in one
// warning); detached runs return null. Failures to start and time-outs are logged with the
// cursor's name and the limit; the lines read before a time-out are returned. Only a
// command that is one of the suite's database access programs, started without a shell,
// keeps COLL_PASSWORD in its environment.
struct r_exec_chain;
// How a waited-for run ended, for callers that judge its output.
struct script_outcome {
    int process_rc = 0;        // processRC of the run (runtime/child.h): 0 ok, 1 timed out,
                               // 2 not started
    int32_t wait_status = -1;  // the command's status as waitpid gave it; -1 unknown
    int32_t odd_bytes = 0;     // NUL and control bytes in its output (0: text)
    int32_t long_lines = 0;    // lines longer than one read, each cut to its first read
};
r_exec_chain* run_script_command(curs* c, script_command& cmd, script_run how, int limit_s,
                                 int max_lines, script_outcome* outcome = nullptr);
