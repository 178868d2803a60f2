// The collector's database state: the SQL cursor layer keeps it, the schedule loop and the
// decodes read it. Not connected until the first SQL cursor connects.
#include "model/db_specifics.h"

db_specifics database_info = {"", "", "", 0, down};
