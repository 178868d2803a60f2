// The one place where the collector engine hands the lower layers what they call upward:
// the orderly-end steps, the release of a cursor's clause records, of the distributors and
// of a statement's selection pieces, and the editing passes over the parsed cursors.
#pragma once

#include "collector/run/run_table.h"  // engine_runs, which install_engine_hooks fills

// Sets every hook of model/engine_globals.h, defs/cursor_versions.h and engine_runs to the
// collector's own. The collector's start-up calls it first.
void install_engine_hooks();

// True when no hook is null.
bool engine_hooks_complete();
