// Messages, trace lines and the log file.
//
// Two writers: u_msg (message writer with an option string) and PRINT (trace and log
// writer with one type letter). Both write one line per call to the log when one is open
// (stder), otherwise to standard output, and copy errors to standard error.
#pragma once

#include <cstdint>
#include <cstdio>

extern FILE* stder;                 // open log stream, null when none
extern char stder_filename[1024];   // full name of the log, empty until built
extern FILE* my_stdout;             // set by u_openSTDOUTfile
extern char* msgPrefix;             // written before every line that goes to stdout
extern int NumberOfCollectors;      // the system leaves it at 0

// Message writer. Returns the body's length as formatted; 1 when a trace condition
// suppressed the message; 0 for the "@" type and for the "-" option.
int u_msg(const char* coll_name, const char* source_file, int line, const char* options,
          const char* id, const char* format, ...) __attribute__((format(printf, 6, 7)));

// Trace and log writer. Returns the number of characters written; 1 when suppressed;
// 0 for the "@" type.
int PRINT(char type, const char* tag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Opens the log (rotating backups); null base means "col.out". Sets stder.
FILE* u_openPRINTfile(const char* base);
// Builds the log's full name into buffer (a static 1024-byte buffer when null).
char* u_createOutputFileName(char* buffer, const char* base);
// Counts a line of one writer; wraps the log when the count reaches COLL_WRAPLINES.
int check_limit(FILE** stream, const char* base, int* counter);
// Reopens standard output onto the "col.log" file; 0 on success, 1 on failure.
int u_openSTDOUTfile(int flag);
// Current local time as HHMMSS into buffer (a static 8-byte buffer when null).
char* u_local_time(char* buffer);

// Readable copy of raw bytes (mode "c" compact); out must hold 152 bytes (or 72 for the
// hexadecimal fallback of 32 bytes). Null when in is null.
char* u_printable(char* out, const void* in, int length, const char* mode);
// Upper-case hexadecimal, a blank before every fifth, ninth, ... byte. Null for null in.
char* u_hex_format(char* out, const void* in, int length);
// Hexadecimal text to an unsigned 32-bit value (wrapping); the second argument is unused.
uint32_t u_hex2long(const char* text, const char* other);
// One trace line per 16 bytes: offset, hexadecimal and readable forms.
void u_print_dumpx(const char* label, const void* buffer, int length);
// Prints readable lines of a record with puts; returns the characters shown.
int u_print_record(const void* buffer, int length);
void u_init_lock();
void u_dump_tracem();
