// The one place where the collector engine hands the lower layers what they call upward:
// the orderly-end steps, the release of a cursor's clause records, of the distributors and
// of a statement's selection pieces, and the editing passes over the parsed cursors.
#pragma once

// Sets every hook of model/engine_globals.h and defs/cursor_versions.h. The collector's
// start-up calls it first; afterwards no hook is null.
void install_engine_hooks();

// True when every hook is set.
bool engine_hooks_complete();
