// The historian ("historian" distributor): appends the new rows of every cursor that asks
// for history to its file coll_home/NAME.HST, one record per row: the pass's 14-character
// time, the row text (NUL bytes as blanks), "\n".
#pragma once

// One historian pass at the 14-character time now. 0; 1 when a cursor's file could not be
// opened, written or closed (chi1630, chi1632 with the system's reason): that file is cut
// back to its earlier length, the cursor's records are kept (at most 1000, the oldest
// dropped and counted in chi1636) and appended in order, before any newer ones, at the
// first pass whose write works; the other cursors are still served.
int do_history(const char* now);
