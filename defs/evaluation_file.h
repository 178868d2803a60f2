// The evaluation file: conditions over cursor columns, each hung on its cursor.
#pragma once

#include <cstdio>

// Finds and reads the evaluation file ("eval") and puts each evaluation in front of its
// cursor's evaluation chain. Returns 0 when the file was read without error, 1 otherwise
// (also when it is missing).
int parse_eval();

// The same on an open file (the caller closes it).
int parse_eval_file(FILE* input);
