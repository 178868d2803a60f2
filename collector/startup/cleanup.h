// Taking the cursor list down at the end (memory-tracing mode), and building it again.
#pragma once

// The collector's del_curs (installed as del_curs_hook; del_curs calls it only at trace
// level 7): first every distributor's channel child is stopped and its channel block freed,
// then for every cursor in list order "cdc0305", then every block the cursor, its
// if/else versions and their IF tree hold is freed exactly once (a slot shares its blocks
// with its active version; versions may share what they inherited), the database fetch
// memory through freeDBcurMem (a channel request block is freed instead), and cur_anchor is
// emptied.
void free_all_cursors();

// Reads the cursor definitions again (init_cursors) and resets the tracing. Returns 0.
int reinit_curs();
