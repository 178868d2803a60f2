// Reading a definition file into statements.
//
// Every definition file is a sequence of statements ended by ";". Lines are read whole: a
// line beginning ";;" is skipped unread; every other line is traced (type i, format "%s",
// with the reader's trace id) when trace_something is set; a line whose very first
// character is ";" is a comment. Otherwise the leading blanks are skipped and the text up
// to ";" (or the line end) is appended to the statement in buffer; the end of a line adds
// one blank. A trailing carriage return is dropped, so CRLF files read like LF files. At a
// ";" the statement is closed with four blanks and a zero; the rest of the line is dropped.
#pragma once

#include <cstdio>

struct statement_reader {
    FILE* input;              // the open definition file
    const char* trace_id;     // message id of the line trace ("pcc0305" for cursors)
    const char* too_long_id;  // message id of the "statement too long" error
    long line_no;             // lines read so far
    int pending;              // 1 when the text of an unfinished statement is in buffer
    char* line;               // internal: the current line (getline)
    size_t line_cap;          // internal
    // Writes the trace of one line in place of the plain echo, for a reader that must hide
    // values such as passwords; null (the default) echoes the line as it stands.
    void (*echo)(const char* line, size_t length, const char* trace_id);
};

// Prepares a reader on an open file.
void statement_reader_init(statement_reader* r, FILE* input, const char* trace_id,
                           const char* too_long_id);
// Frees the reader's line area (the file is the caller's).
void statement_reader_close(statement_reader* r);

// Reads the next statement into buffer. Returns 1 with *end at the first of the four
// padding blanks (this_start = buffer, parens = 0, failed = 0); 0 at end of file (with
// r->pending set when text without its ";" remained); -1 when the statement would not fit
// in buffer: the error is printed (too_long_id, type e), the statement is skipped up to its
// ";" and the next call reads on after it.
int read_statement(statement_reader* r, char** end);
