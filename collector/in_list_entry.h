// The text of one value as an in-list holds it. The in-list builder writes entries with it
// and the decodes build their IN keys with it, so a value always finds its own entry.
#pragma once

// Capacity out needs for a value of len characters.
constexpr int in_list_entry_size(int len) { return len + 4; }

// Writes the entry of the len characters at value into out (in_list_entry_size(len)
// bytes) and returns its length; out is NUL-terminated. A numeric value is taken as
// stored, blanks included. Any other value is quoted with its trailing blanks and NULs
// removed; when the last character kept is a quote (the opening one for an all-blank
// value) a blank stands before the closing quote, so a blank value gives "' '".
int in_list_entry(char* out, const char* value, int len, bool numeric);
