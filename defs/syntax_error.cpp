#include "defs/syntax_error.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

char message[257] = {};
int16_t failed = 0;

int errmsg(const char* text, const char* word, int length, int position) {
    // Each piece is appended only as far as it fits; the message is always terminated.
    size_t used = 0;
    auto append = [&](const char* s, size_t n) {
        size_t room = sizeof(message) - 1 - used;
        n = std::min(n, room);
        std::memcpy(message + used, s, n);
        used += n;
    };
    append("Syntax error - ", 15);
    if (position != 0) {
        char pos[32];
        int n = std::snprintf(pos, sizeof(pos), "Position = %d ", position + 1);
        append(pos, static_cast<size_t>(n));
    }
    if (text != nullptr) append(text, std::strlen(text));
    if (length > 0 && word != nullptr) {
        append(", Text = ", 9);
        append(word, static_cast<size_t>(std::min(length, 255)));
    }
    message[used] = '\0';
    failed = 1;
    return -1;
}
