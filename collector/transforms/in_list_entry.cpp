// One in-list entry.
#include "collector/transforms/in_list_entry.h"

#include <cstring>

int in_list_entry(char* out, const char* value, int len, bool numeric) {
    if (len < 0) len = 0;
    if (numeric) {
        std::memcpy(out, value, static_cast<size_t>(len));
        out[len] = '\0';
        return len;
    }
    int kept = len;
    while (kept > 0 && (value[kept - 1] == ' ' || value[kept - 1] == '\0')) --kept;
    int n = 0;
    out[n++] = '\'';
    if (kept == 0) out[n++] = ' ';
    for (int i = 0; i < kept; ++i) {
        if (value[i] == '\'') out[n++] = '\'';
        out[n++] = value[i];
    }
    out[n++] = '\'';
    out[n] = '\0';
    return n;
}
