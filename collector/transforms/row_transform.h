// The transforms of a built row, in the order the definitions apply them.
#pragma once

struct curs;

// The transforms of a row built in buffer, in their order: math columns (numeric from then
// on), decodes, column exits.
void row_transform(curs* cursor, char* buffer);
