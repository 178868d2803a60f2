// The rows a cursor keeps: building one row from the values of one fetch (merge_text),
// appending it, and the retention rules that drop old rows before the cursor runs again.
//
// A row text holds the cursor's columns in list order, each its len bytes at its offset
// and one NUL behind it; the cursor's length is the last column's offset + len.
#pragma once

#include <cstdint>

struct curs;
struct columns;
struct row_data;
struct xSQLDA;

// The percent-work values merge_text refreshes from the cursor at every row: the fetch
// time stamp (14 characters and "00") and the cursor's rowno, sampleno, now_sec,
// execution_time and current_interval, each right-aligned in 16 characters and a NUL.
extern char fetch_time_stamp[17];
extern char rowno_work[17];
extern char sampleno_work[17];
extern char nowsec_work[17];
extern char executiontime_work[17];
extern char currentinterval_work[17];
// Holds 1 (value present): the indicator of every percent-variable column.
extern int16_t indicator1;

// Builds one row of cursor from the values of one fetch, composed in buffer (the work area,
// sizeof_work_buff bytes), and appends it. sqlda is the fetch descriptor or null for a
// cursor without SQL; types holds one type code per descriptor entry (low 16 bits used);
// time_stamp the 14-character fetch time. Returns the row text length when a row was
// appended; 0 when none was (the cursor may have been held, with a message); -1 when a
// water mark could not be kept. Rows already stored are kept on every failure, except that
// a resolution which moves the layout drops them with a warning.
int merge_text(char* buffer, xSQLDA* sqlda, curs* cursor, const int32_t* types,
               const char* time_stamp);

// Writes the percent-work values from the cursor and the time stamp (null: zeros), and
// places them in the percent cursor's row.
void pcnt_set_work(const curs* cursor, const char* time_stamp);

// One column's value from src into buffer at the column's offset, a NUL behind: a null
// (indicator below 0) as blanks with "NULL", or '0' for a numeric column; water marks
// kept. 0; -1 when a water mark could not be kept.
int row_copy_value(columns* col, char* buffer, const char* src, int16_t indicator);

// Makes a row of the text's first len bytes (a NUL behind) with the cursor's sampleno and
// rowno, appends it at the tail, adds 1 to count and drops the head row while count is
// above a non-zero limit. Returns the row.
row_data* row_append(curs* cursor, const char* text, int32_t len);

// Order of two values of len bytes as a water mark or a MIN/MAX sees it: by number when
// numeric (a text that does not read as a number counts as 0), else byte-wise. <0, 0, >0.
int water_compare(const char* a, const char* b, int len, bool numeric);

// Retention. Each returns 0; changed is set when a row goes (delete_all always sets it).
// Ages every row by the larger of the cursor's and the collector's interval and drops the
// rows that reach time_limit.
int delete_by_time(curs* cursor);
// Drops the rows whose sampleno is at most the cursor's sampleno - samples.
int delete_by_samples(curs* cursor);
// Drops every row.
int delete_all(curs* cursor);
