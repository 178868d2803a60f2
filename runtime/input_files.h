// The search for definition files.
#pragma once

#include <cstdio>

// Opens the first definition file found for `name` ("coll", "proc", ...), named by the
// product code, the name and ".ctl", for each code of u_db_type(0..3) in turn, under:
//   coll_home/serverid/, coll_home/serverid_, coll_home/, ctl_home/
// "uoi0055" for each code whose file is found nowhere. Null when none is found.
FILE* u_openInputFile(const char* name);
// Opens one path for reading ("uoi0025" on success; "uoi0030" when trace_all is set and
// it fails). Null on failure.
FILE* u_openInputFile_1(const char* path);
