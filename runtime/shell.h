// Short shell commands run for their output.
#pragma once

struct r_exec_chain;  // runtime/exec.h

// Runs the command through the shell and returns its output as one new u_malloc text
// (never null): lines with trailing white space cut, joined by single blanks; at most 500
// lines and 4093 characters. A command that cannot be started gives "" ("uti2050").
char* u_shell(const char* command);

// Runs the command through the shell and returns its output lines (at most 10000, each
// without its newline, cut at 4096 characters) as a chain the caller frees with
// u_free_r_chain; null when there is no output or the command cannot be started.
r_exec_chain* u_popen(const char* command);
