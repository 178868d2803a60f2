// Temporary file names and the files made under them.
#pragma once

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
