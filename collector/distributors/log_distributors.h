// The distributors that write into the collector's log: "nulv" (every row of the cursors
// of its classes, one line per column) and any distributor without work of its own.
#pragma once

struct curs;
struct distrib;

// One "nulv" pass at the 14-character time now: for every cursor of the distributor's
// classes in its window, not held, without evaluation rules and no age-to copy, its answer
// (open_cursor) is logged row by row with send_a_row. 0.
int do_nulv(distrib* d, const char* now);

// Logs one output row (a cluster row) of cursor c: its INSERT text ("cpr1890") when the
// previous row logged was another cursor's, then one "cpr1895" line per column. 0.
int send_a_row(curs* c, const char* row);

// A distributor without work of its own: "cir1625" "Dist for NAME at TIME". 0.
int distribute(distrib* d, const char* now);
