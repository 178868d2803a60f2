// Age-to copies: a cursor that names another with age_to hands it the rows of its previous
// run. At start-up the named cursor becomes a copy of the source's definition (never
// collected by itself); afterwards do_copy moves the rows at each run.
//
// Rows are never shared: at the end of the source's first run (post_age) the target gets
// its own copy of the rows; every later move (pre_age, at the first row of the next run)
// hands the rows over and the source gives them up. A copy owns every block it holds.
#pragma once

struct curs;

// The editing pass (edit_passes.edit_age_to), first of the passes: builds the copies of
// every cursor that names an age_to cursor. 0, or 1 after the messages ("pag3680",
// "pag3690", "pag3671" self, "pag3672" cycle, "pag3673" chain, "pag3675", "pag3685", then
// "pag3700").
int edit_age_to_pass();

// Makes copy a copy of src's definition: copy keeps its next, cur_name, age_to_name and
// age_to; it owns fresh copies of src's columns and texts, carries no clauses, rows,
// evaluation or run-time buffers, starts not held, is marked aged_to and demand. src gets
// post_age 1 and age_to = copy. Returns 0. The blocks copy held before are not freed.
int make_age_to_copy(curs* copy, curs* src);

// Puts into each versioned source's age-to cursor the copy of its active version.
void age_to_default_vers();

// Moves the rows of src to its age-to cursor (see above). Returns 0.
int do_copy(curs* src);
