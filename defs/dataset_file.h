// Data-set definition files: the interface description of the table a cursor's rows go to.
// An insert statement written "INSERT !name" is deduced from the file name.ULV in the
// current directory: the cursor's interface identifiers, the INSERT text (table, column
// list, VALUES list of host variables) and one cursor column per value.
//
// File lines, each taken while the item it gives is the first one still missing:
//   [ uuidbase(text)      uuidpavc(text)      uuidpcvc(text) ... (rpc_version)
//   interface table       objid(n)            set(n)
//   column (name, type)   -- type by its first letter: I U L integer, F float, C character
#pragma once

#include <cstddef>

struct curs;

// Longest data-set name (without ".ULV") and table name.
inline constexpr size_t ulv_name_max = 295;
inline constexpr size_t ulv_table_max = 49;

// Reads the file named by word (up to a blank, every '!' left out, ".ULV" appended) and
// writes the deduced INSERT text into out (out_size bytes, room for the statement padding
// kept). Fills the cursor's uuidbase, uuidpavc, uuidpcvc, rpc_version, objid and set where
// they are not set yet, num_hvs, host_table, table_name (when unset) and its columns.
// 0 on success; 1 after one message ("cat1935" to "cat1960"; "cat1932" name too long,
// "cat1957" table name too long, "cat1965" INSERT text too long).
int parse_ulv(const char* word, char* out, size_t out_size, curs* cursor);
