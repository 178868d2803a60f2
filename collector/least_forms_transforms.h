// Row-store operations the transforms call, in their documented form, until the row store
// itself lands; each is dropped from here when its real definition arrives.
#pragma once

struct curs;

// Frees every row of the cursor ("pdr3000" when the cursor is traced), sets first_row,
// last_row and count to 0 and changed to 1; returns 0.
int delete_all(curs* cursor);
