// Warnings that a fault repeats for every row of a run (a math source without rows, a
// descriptor without the base column ...) are written for the first row of a run only; the
// rows of that run that hit the same fault are counted and the count is written once, with
// the next such warning of a later run.
#pragma once

struct curs;

// True when the warning `id` about `site` (the clause record it concerns) is to be written
// for the row cursor c is building now: the first time in c's current run. Otherwise counts
// the row and returns false. At the first warning of a new run, a count left from an
// earlier run is written first as count_id "%d more rows of cursor %s gave %s\n". Nothing is
// allocated after the first warning of a site.
bool run_note_first(const void* site, const char* id, const char* count_id, const curs* c);

// Forgets every site (tests, and a cursor list that is freed).
void run_notes_reset();
