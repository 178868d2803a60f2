// Hold and release commands: a decode replacement that begins with "hold" or "release"
// holds or releases cursors (this one, the next, the previous, every one below it, or
// named ones), can delete their rows, and can ask for a new database connection.
#pragma once

#include <cstdint>

struct curs;

// 1 while a "hold ... below" is in force (one at a time, for all cursors).
extern int32_t cursors_held_below;

// Carries out text (the rule's replacement, at most its 256 characters are read) as a
// command for cursor c whose decoded column is len wide. Returns 1 when text is a hold or
// release command (the caller keeps the column's value), 0 otherwise: len below 8, fewer
// than two words, or a first word other than hold or release. Holds and releases take
// effect at once; the rows of the cursors named for deletion go when the run ends
// (decode_run_done), and a virtual cursor or "%CURSOR" keeps its row. "resetdb" only sets
// database_info.status to reDoInit: the collection stops at its next cursor.
int special_decode(curs* c, char* text, int len);

// Called when a cursor's run ends (get_cursor_data returns): deletes the rows that hold
// and release commands asked for and writes the run's counts of repeated warnings.
void decode_run_done();

// True when deletions are waiting for decode_run_done.
bool decode_deletions_pending();
