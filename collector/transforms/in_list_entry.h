// The text of one value as an in-list holds it. The in-list builder writes entries with it
// and the decodes build their IN keys with it, so a value always finds its own entry.
#pragma once

// Capacity out needs for a value of len characters.
constexpr int in_list_entry_size(int len) { return 2 * len + 4; }

// Writes the entry of the len characters at value into out (in_list_entry_size(len)
// bytes) and returns its length; out is NUL-terminated. A numeric value is taken as
// stored, blanks included. Any other value is an SQL string literal: trailing blanks and
// NULs removed, embedded quotes doubled (a value is server data and must not end the
// literal early), and an all-blank value as "' '". Host variables quote their values with
// it too.
int in_list_entry(char* out, const char* value, int len, bool numeric);
