// The engine services the row store, the cursor runs and the dummy rows call that are
// built elsewhere: each is here in its least form, with its documented signature, until
// the real one takes its place (then its line goes from here).
#pragma once

struct curs;
struct columns;
struct xSQLDA;
struct decode_op;
struct col_ex_list;
struct cluster;

// Bases: chooses the base rows for the row described by d. Least form: 0 (no base moves).
int set_bases(curs* c, xSQLDA* d);
// The address of the value at offset of src's row that applies to the row being built for
// c. Least form: src's last row at offset; null when src has none.
char* locate_base(curs* src, curs* c, int offset);

// Math: computes column col into the row text at its offset. Least form: a zero value
// (blanks and '0' in the last byte). Returns 0.
int do_math(curs* c, columns* col, char* row);

// Trace dump of one row. Least form: 0, nothing written.
int proded(int row_number, char* data, int length);

// Clusters: the cluster of c's stored rows; the one-row cluster of c's column functions.
// Least forms: null.
cluster* make_cluster(curs* c);
cluster* do_column_func(curs* c, int now);
