// Freeing the clause records a cursor holds.
#pragma once

struct curs;

// Frees every clause record hung from the cursor (pre-cursors, iterate, in-lists, bases,
// loads, math, decodes, queued post-cursors, column exits, iterate_where, set_len, the
// script-exit descriptor and its value buffer) and clears those fields. Meant as the
// engine's del_curs_clauses_hook.
void del_clauses(curs* cursor);
