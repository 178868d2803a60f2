// Syntax errors of the definition readers.
#pragma once

#include <cstdint>

// Text of the last syntax error (errmsg); kept until the next one.
extern char message[257];
// 1 after a syntax error; each definition reader clears it at every statement.
extern int16_t failed;

// Composes message as "Syntax error - ", then "Position = %d " with position + 1 when
// position is not 0, then text, then, when length is not 0, ", Text = " and the first
// min(length, 255) characters of word; the whole is cut to fit message. Sets failed to 1,
// prints nothing and returns -1.
int errmsg(const char* text, const char* word, int length, int position);
