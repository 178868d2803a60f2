// Messages, trace lines and the log file.
//
// Two writers: u_msg (message writer with an option string) and PRINT (trace and log
// writer with one type letter). Each call writes one line to the log when one is open
// (stder), otherwise to standard output (with msgPrefix in front), and copies errors to
// standard error. Bodies are formatted with vsnprintf into bounded buffers (u_msg about
// 7000 characters, PRINT 4000); a body that does not fit ends in "...\n". A write to the
// log that reports no characters goes to standard error with "+ " in front.
#pragma once

#include <cstdint>
#include <cstdio>

extern FILE* stder;                // open log stream, null when none
extern char stder_filename[1024];  // full name of the log, empty until built
extern FILE* my_stdout;            // set by u_openSTDOUTfile
extern char* msgPrefix;            // written before every line that goes to stdout
extern int NumberOfCollectors;     // the system leaves it at 0
extern int PRINTopenerr;           // failed log openings; after one, messages stay on stdout

// Message writer. Header: id upper-cased, type letter, "(HHMMSS) " when timed, source
// base name "(line) " when positioned, then the collector name when NumberOfCollectors
// >= 2 or trace level 6 is on. options: first letter the type (T timed trace, H trace
// at the level of the following digits, I, W, E/S echoed and flushed, A shown as I and
// echoed, X a ready line, @ sets the prefix from id, - no header, other echoed), then
// letters h/H header, t/T time, p/P position, l/L echo, f/F flush, u no upper-casing,
// '-' drop, '*' abort. A newline is added when the body lacks one.
// Returns the body's length as formatted; 1 when a trace condition suppressed the
// message (before any formatting); 0 for the "@" type and for the "-" option.
int u_msg(const char* coll_name, const char* source_file, int line, const char* options,
          const char* id, const char* format, ...) __attribute__((format(printf, 6, 7)));

// Trace and log writer. Header: tag, type letter and "(HHMMSS) " upper-cased; a tag
// beginning with '.' is shown alone, as given. Types: a (shown as I, echoed), e and s
// (echoed, flushed), i, w, t (flushed), h (trace level 0 only, shown as T), @ (prefix),
// - (no header), others echoed. No newline is added.
// Returns the number of characters written; 1 when suppressed (before any formatting);
// 0 for the "@" type.
int PRINT(char type, const char* tag, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// Mutes both writers: while muted they drop every message but the severe ('s') and
// always ('a') ones and return 1, as for a suppressed trace. Lets a caller that repeats one
// failing step over many items keep only the first item's lines. Returns the previous
// setting.
bool u_msg_mute(bool on);

// Channel mode of a program that serves a parent over its standard input and output: while
// on and no log is open, every message, errors included, is written to standard output
// only, as one line (control characters as blanks, at most 3000 characters), so each
// reaches the parent as one record. Returns the previous setting.
bool u_msg_channel(bool on);

// For a program whose standard output is its answer (the probe): while on and no log is
// open, the lines of both writers (messages, traces) go to standard error, once, instead
// of standard output. Returns the previous setting.
bool u_msg_on_stderr(bool on);

// Opens the log with mode "w", keeping numbered backups (COLL_NUMOUTBAK: unset 1, or 5 at
// trace level 4; 0..9; below -9 its absolute value up to 9999). A null base means
// "col.out"; the name is built once and then kept. On failure "CAT1995E" is printed once
// and "colx.out" tried once. Sets and returns stder, null when no log could be opened.
FILE* u_openPRINTfile(const char* base);
// Builds the log's full name into buffer (1024 bytes; a static buffer when null):
// coll_out "/", hostname "_", db_type from its second character "_", serverid "_", base,
// each part only when set and non-empty.
char* u_createOutputFileName(char* buffer, const char* base);
// Counts a line of one writer; when the count before this line had reached COLL_WRAPLINES
// (default 30000; 0 or negative: never) the counter restarts at 0 and the log is reopened
// with its backups rotated, the "cgn5000" line written first. Returns 0.
int check_limit(FILE** stream, const char* base, int* counter);
// Reopens standard output onto the "col.log" file (named as the log); 0 on success, 1
// on failure (standard output is then left as it was). The flag selects nothing.
int u_openSTDOUTfile(int flag);
// Current local time as HHMMSS into buffer (8 bytes; a static buffer when null).
char* u_local_time(char* buffer);

// Readable copy of raw bytes; out must hold 152 bytes. Letters, digits and \ / , ( ) " '
// = - $ # are copied, white space becomes a blank, any other byte '.'; at most 151
// characters. Mode "c" (compact) shows only the first of a run of substituted bytes and,
// when no run of four copied characters occurs and at most half the bytes were readable,
// gives the hexadecimal form of the first 32 bytes instead. Null when in is null.
char* u_printable(char* out, const void* in, int length, const char* mode);
// Upper-case hexadecimal, a blank before every fifth, ninth, ... byte; out must hold
// 2 * length + length / 4 + 1 bytes. Null for null in.
char* u_hex_format(char* out, const void* in, int length);
// Hexadecimal text to an unsigned 32-bit value (wrapping) after leading blanks, tabs and
// one double quote; the second argument is unused. Null or empty text gives 0.
uint32_t u_hex2long(const char* text, const char* other);
// One trace line (id label, "upx0100" when null) per 16 bytes: offset, hexadecimal and
// readable forms.
void u_print_dumpx(const char* label, const void* buffer, int length);
// Prints readable lines of at most 78 characters, each closed by "|", with puts; returns
// the characters shown.
int u_print_record(const void* buffer, int length);
// Kept for callers; they do nothing.
void u_init_lock();
void u_dump_tracem();
