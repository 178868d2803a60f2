// The cursor file: every cursor the collector runs, as blocks of statements.
//
//   cursor NAME;  keyword values...;  clause statements...;  if cond; ... else; ... endif;
//   cursor NEXT;  ...  end;
//
// A block runs from its cursor statement to the next cursor or end statement; only then is
// it checked (on every if/else version), given its SELECT text and appended to cur_anchor.
#pragma once

#include <cstdio>

struct curs;
struct fetch_ex;

// The fetch-exit routines, searched in this order through prior: fetchx1 to fetchx5,
// fetchxi1, fetchxi, fetchxt. Read-only; a cursor gets its own copy of a row.
extern const fetch_ex* const exits;

// The first row of exits whose name is a prefix of word without regard to case; null none.
const fetch_ex* find_fetch_exit(const char* word);

// Finds and reads the cursor file ("coll"), opening the message log first when none is
// open. 0 when it was parsed without error, 1 otherwise (also when the log or the file
// cannot be opened).
int parse_curs();

// The same on an open file (the caller closes it).
int parse_curs_file(FILE* input);

// Checks one cursor version and fills in its defaults (interval 10 and row limit 200 for a
// scheduled cursor, the whole-day windows, the script-exit descriptor). Every failed check
// prints its message and sets failed.
void edit_cursor_block(curs* cursor);
