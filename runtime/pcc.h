// The parent-child SQL channel: a line protocol between a parent and a database access
// program kept running as its permanent child (runtime/child.h).
//
// A record is one text line: "!", the record letter, a blank, then fixed fields (numbers
// right-aligned and zero-padded, names blank-padded, single blanks between fields). In
// memory a record is a parentChildComm of 3003 bytes; a line of at most 3000 characters
// travels whole, followed by a newline. A request and an answer each end with a Z record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>

#include "runtime/child.h"

// Longest line that travels whole; bytes of a record in memory.
constexpr int pcc_line_max = 3000;
constexpr int pcc_record_size = 3003;

struct parentChildComm {
    char header;  // '!'
    char id;      // record letter
    char f0;      // blank
    union {
        char data[3000];  // D: a result row
        char opts[3000];  // O: an options text
        struct {
            char text[3000];
        } msg;  // M: id, severity, blank, text
        struct {
            char name[32];
            char f1;
            char type;
            char f2;
            char length[4];
        } col;  // C
        struct {
            char type;  // I, P or S
            char f1;
            union {
                struct {
                    char num_cols[4];
                    char f2;
                    char row_size[4];
                } i;
                struct {
                    char parse_option;
                } p;
                struct {
                    char return_code[4];
                    char f2;
                    char supplied_id[4];
                    char f3;
                    char db_error_code[8];
                    char f4;
                    char cursor[8];
                    char f5;
                    char connected;
                } s;
            } u;
        } info;  // I
        struct {
            char type;
            char f1;
            union {
                struct {
                    char verb[16];
                    char f2;
                    char rest[2981];
                } p;  // S/D and S/P
                char text[2998];
            } u;
        } sql;  // S
        struct {
            char type;
            char f1;
            union {
                char requestId[4];  // X/I
                char rowLimit[4];   // X/R
                char parms[50];     // other sub-types
            } u;
        } cmd;  // X
        char zero;
        char init2blanks[10];
        char max_structure_size[3000];
    } u;
};
static_assert(sizeof(parentChildComm) == pcc_record_size);

// Formats a record into buf (at least 3003 bytes) and returns 0. Arguments by letter
// (characters passed as int):
//   A, Z: none.            C: name, type, length.          D, O: text.
//   I: sub-type, then I: columns, row size; P: option; S: return code, supplied id,
//      database error code, cursor (may be null), connected.
//   M: severity, message id, printf format, its arguments.
//   S: sub-type, text (may be null), and for P a further text (may be null).
//   X: sub-type, then for I and R an integer, for X nothing, others a text (may be null).
// Texts that would make the line longer than 3000 characters are cut (with a warning).
// Another upper-case letter gets only the header and ten blanks, unterminated (the caller
// completes it); a letter that is not upper case gets the same.
int pcc_format(char* buf, int id, ...);

// Writes value as exactly width characters, zero-padded on the left, no terminator. Digits
// that do not fit are cut to the leading ones and logged ("uex4900"). 0.
int pcc_format_1num(char* dst, int value, int width);

// ---- Reading records back ----------------------------------------------------------------
// The decoders of what pcc_format writes; every reader of the channel goes through them, so
// the positions of the fields are known in this file only. Each takes a line as received
// (NUL-terminated, without its newline). A field the line ends before reads as empty: a
// letter 0, a text "". A number field reads as pcc_format_1num writes it: digits,
// zero-padded, possibly with a '-' inside the padding ("000000-1"); blanks are passed over;
// anything else, or a field the line ends inside, does not read.

// The record letter (byte 1) and, for I, S and X records, the sub-type letter (byte 3).
struct pcc_header {
    char id;    // 0 for a line "!" alone
    char type;  // 0 for other records and when the line ends before byte 3
};
// 0; 1 when the line does not begin with "!" (no record: a message line or other text).
int pcc_parse_header(const char* line, pcc_header* out);

// D, O: the text from byte 3 to the end of the line.
const char* pcc_parse_text(const char* line);
// D, for a reader that pads the row where it lies: the text from byte 3 in place. A line
// "!D" gets an empty text there, so line must be a record buffer (pcc_record_size bytes).
char* pcc_parse_data(char* line);

// M: the message type letter at byte 10 (the severity behind a seven-character message id;
// 0 when the line ends before it) and the text from byte 3 (id, severity, message).
struct pcc_message {
    char type;
    const char* text;
};
// 0; 1 when the line is no M record.
int pcc_parse_message(const char* line, pcc_message* out);

// I/S: the status of a request. A number field that does not read is empty.
struct pcc_status {
    std::optional<int> return_code;    // bytes 5-8
    std::optional<int> supplied_id;    // bytes 10-13
    std::optional<int> db_error_code;  // bytes 15-22
    char cursor[9];                    // bytes 24-31 without trailing blanks
    char connected;                    // byte 33; a blank when the line ends before it
};
// 0; 1 when the line is no I/S record.
int pcc_parse_status(const char* line, pcc_status* out);

// I/I: the size of a result.
struct pcc_sizes {
    int num_cols;  // bytes 5-8
    int row_size;  // bytes 10-13
};
// 0; 1 when the line is no I/I record or a field does not read.
int pcc_parse_sizes(const char* line, pcc_sizes* out);

// C: one column of a result.
struct pcc_column {
    char name[33];  // bytes 3-34 without trailing blanks
    char type;      // byte 36
    int length;     // bytes 38-41
};
// 0; 1 when the line is no C record, ends before its 42 characters or its length does not
// read.
int pcc_parse_column(const char* line, pcc_column* out);

// S: a statement, procedure or database name.
struct pcc_sql {
    char type;         // byte 3
    const char* text;  // from byte 5: the statement of S/S; the verb field of S/D and S/P
    const char* rest;  // from byte 22: the further text of S/P (the name of S/D, for a child)
};
// 0; 1 when the line is no S record.
int pcc_parse_sql(const char* line, pcc_sql* out);

// X: a command to the child.
struct pcc_command {
    char type;          // byte 3
    const char* parms;  // from byte 5: the number of X/I and X/R, the text of the others
    char name[10];      // X/A: the request name, bytes 5-13 as they stand
};
// 0; 1 when the line is no X record.
int pcc_parse_command(const char* line, pcc_command* out);

// Parent side: sends line (a newline and a NUL are put behind it, so the buffer needs two
// spare bytes) to the child's standard input. 0 sent; 2 short write; 10 no stdin pipe;
// 104 write error (the child has gone, or its pipe stayed full for about 8 seconds).
int pcc_send_sql(char* line, execopt* opts);

// Parent side: reads the next line of the child's standard output into buf (3003 bytes),
// without its newline, waiting at most getReadWaitTime() seconds. Returns the record
// letter (byte 1). On time-out byte 1 is 'Z', the result is 'Z' and opts->processRC is
// pRC_timedout (pRC_ok after a line), so a caller can tell a time-out from a complete
// answer. 0 at the end of input or when the channel cannot be read. A line longer than
// 3000 characters is skipped up to its newline and reported.
int pcc_receive_sql(char* buf, execopt* opts);

// Child side: writes line and a newline to stream and flushes. 0 sent, 4 failure.
int pcc_send_collector(const char* line, FILE* stream);

// Child side: reads the next line from standard input into buf (3003 bytes), without its
// newline. Returns the record letter (byte 1); 0 at the end of input. A read error ends the
// program with status 2. A line longer than 3000 characters is skipped and reported.
int pcc_receive_collector(char* buf);

// Child side, for a program that serves requests: reads the next line from standard input
// into buf (3003 bytes), without its newline, through its own buffer under a poll
// deadline of wait_seconds (0 or less: no limit). Tells apart a line, the end of input, a
// time-out, an overlong line (more than 3000 characters, skipped up to its newline and
// reported once), a read error (logged) and a stop (pcc_receive_collector_stop). Do not mix
// with stdio reads of stdin.
enum : int {
    pcc_read_line = 0,
    pcc_read_eof,
    pcc_read_timeout,
    pcc_read_toolong,
    pcc_read_error,
    pcc_read_stopped
};
int pcc_receive_collector_wait(char* buf, int wait_seconds);
// Lets a signal end that wait: once *flag is non-zero (set by the caller's handler) the
// wait returns pcc_read_stopped. The wait runs under wait_mask, which lets in the signals
// the caller keeps blocked the rest of the time, so a signal that came while a request was
// being handled ends the next wait. A null flag takes the stop away.
void pcc_receive_collector_stop(volatile sig_atomic_t* flag, const sigset_t* wait_mask);
// Empties that buffer and forgets the end of input, for a standard input that starts over
// (the fuzz harness of the request reader between inputs).
void pcc_receive_collector_restart();

// Seconds a channel read waits: COLL_WAIT_TIMEOUT when 1 to 120, else 5 (20 at trace
// level 7). Read on the first call and kept in grwtSec (0 means not read yet).
int getReadWaitTime();
extern int grwtSec;

// Reads up to *lenInOut raw bytes from fd into buf; stores the count (or -1) in *lenInOut.
// Returns 0.
int pcc_receive_sql_1(char* buf, int* lenInOut, int fd);

// Logs that it was entered ("utx0900") and returns.
void terminate();
