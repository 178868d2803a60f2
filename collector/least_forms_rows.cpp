// Least forms of the engine services built elsewhere (see the header).
#include "collector/least_forms_rows.h"

#include <cstring>

#include "model/cursor.h"
#include "model/row_data.h"

int proded(int, char*, int) { return 0; }
