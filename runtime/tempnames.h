// Sleeping, temporary file names, the search for definition files, and short shell
// commands run for their output.
#pragma once

#include <cstdio>

struct r_exec_chain;  // runtime/exec.h

// Sleeps whole seconds; returns 0.
unsigned u_sleep(unsigned seconds);
// Sleeps milliseconds / 1000 whole seconds (less than 1000 does not sleep); returns 0.
unsigned u_Msleep(unsigned milliseconds);

// Builds a unique temporary name into buffer (1024 bytes; a static buffer that the next
// call overwrites when null) and returns it:
//   [localtmpdir/][hostname_][db_type from its 2nd character_][serverid_]HHMMSSn_pid_base
// where n counts 1 to 101 and wraps; mode 'n' or 'N' leaves out "HHMMSSn_pid_". The local
// temporary directory is created (0700) on the first call; it is used only while it is a
// real directory owned by us and writable by nobody else, otherwise "utf0105" is written
// once and "." stands in its place.
char* u_createTempFileName(char* buffer, const char* base, char mode);

// Creates a new temporary file for writing, mode 0600, refusing an existing name or a
// symbolic link (O_CREAT|O_EXCL|O_NOFOLLOW). Returns the descriptor (O_CLOEXEC) or -1.
int u_createTempFile(const char* name);

// Opens the first definition file found for `name` ("coll", "proc", ...), named by the
// product code, the name and ".ctl", for each code of u_db_type(0..3) in turn, under:
//   coll_home/serverid/, coll_home/serverid_, coll_home/, ctl_home/
// "uoi0055" for each code whose file is found nowhere. Null when none is found.
FILE* u_openInputFile(const char* name);
// Opens one path for reading ("uoi0025" on success; "uoi0030" when trace_all is set and
// it fails). Null on failure.
FILE* u_openInputFile_1(const char* path);

// Runs the command through the shell and returns its output as one new u_malloc text
// (never null): lines with trailing white space cut, joined by single blanks; at most 500
// lines and 4093 characters. A command that cannot be started gives "" ("uti2050").
char* u_shell(const char* command);

// Runs the command through the shell and returns its output lines (at most 10000, each
// without its newline, cut at 4096 characters) as a chain the caller frees with
// u_free_r_chain; null when there is no output or the command cannot be started.
r_exec_chain* u_popen(const char* command);
