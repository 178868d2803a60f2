// Dates and times: clock texts, the 16-character stamp, server log time stamps and the
// printable previews of values in traces. The clock is read through runtime/platform.h.
//
// The 16-character stamp: years since 1900 (three digits, 000..250), month, day, hour,
// minute, second (two digits each), milliseconds (three digits); no terminator. Its error
// form is "DateFmtErr=" with the decimal code, blank-padded to 16.
#pragma once

#include <ctime>

// Local time. A null t or *t == 0 means now; *t == 0 is overwritten with now. With rec the
// local time is written into it and rec is returned; without, into one static record that
// the next such call overwrites (nothing for the caller to free).
struct tm* u_localtime(time_t* t, struct tm* rec);

// Current local time in a layout: 1 "YYYY/MM/DD HH:MM:SS", 2 strftime "%c" (at most 48
// characters), 3 YYYMMDDHHMMSS, 4 the 16-character stamp with milliseconds 000, any other
// YYYYMMDDHHMMSS. buffer must hold 49 bytes; null uses a static 49-byte buffer.
char* u_get_time(char* buffer, int layout);

// Local time of t (0: now) as "%Y/%m/%d %H:%M:%S" in a static buffer.
char* timet2str(time_t t);

// ctime() text of now, with its newline, in the library's static buffer.
char* get_date();

// Seconds since the epoch as an allocated decimal text (free with u_free).
char* agettime();

// Converts a date/time text (length < 1: strlen) into the 16 characters of out (no
// terminator). Hours are held to 0..23. Returns 0 or an error code (487, 510..587, 630,
// 645, 668, 677) with the error form written to out.
int us_normalizeDateTime(const char* text, int length, char* out);

// Parses a server log time stamp (forms chosen by the offset of the first '/' or '-',
// remembered after the first success). Returns mktime of the result, or -1 with the
// warning "str006". rec (may be null) receives the broken-down time.
time_t str2timet(const char* text, struct tm* rec);
// Forgets the remembered form, so the next text chooses its own again (a reader that
// starts over, such as the fuzz harness between inputs).
void str2timet_forget_form();

// Printable preview of a value for traces, in one of two static 208-byte buffers.
// max outside 1..201 becomes 201. flags: 1 quote it, 2 append the length, 4 u_printable
// compact of the whole value, 8 u_printable of max characters, 16 use the second buffer.
char* us_ps(const char* value, int length, int max, int flags);
