// The dictionary file: entries with a name, a type and length, and an initial value that
// may come from a dictionary parameter ("-name") or an environment variable ("%NAME").
#pragma once

#include <cstdio>

// Finds and reads the dictionary file ("dict") and appends its entries to dict_anchor.
// Returns 0 when the file was read without error, 1 otherwise (also when it is missing).
int parse_dict();

// The same on an open file (the caller closes it).
int parse_dict_file(FILE* input);
