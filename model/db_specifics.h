// The database state of a program: one instance, `database_info`, that each program which
// talks to a server defines for itself (the collector in its SQL cursor layer, zemsql and
// zem2sql in their own mains). Only the record lives here, so the database access programs
// can share it without linking the collector engine.
#pragma once

#include <cstdint>

enum db_status : int32_t { up = 0, down = 1, reDoInit = 2 };

struct db_specifics {
    char type[4];       // database type text, "SYB" once connected
    char ver[12];       // database version text
    char name[70];      // server id the connection was opened to, trailing blanks cut
    int32_t connected;  // non-zero while the connection is open
    int32_t status;     // a db_status: up, down, or reDoInit (a re-initialisation is asked for)
};

extern db_specifics database_info;
