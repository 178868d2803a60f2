#include "runtime/trace.h"

#include <cctype>

int16_t trace_all = 0;
int16_t trace_something = 0;
int16_t my_trace_all[10] = {};
int16_t my_trace_all_l = 9;

void trace_set(const char* letters) {
    const char* p = letters ? letters : "";
    if (*p == '-') ++p;
    if (*p == 'd') {
        trace_all = 1;
        trace_something = 1;
    }
    if (*p) ++p;
    for (int i = 0; i < 10; ++i) {
        int level = 0;
        if (*p) {
            // Compared as a signed 8-bit character: bytes above 127 give 0, not a level.
            auto c = static_cast<signed char>(std::tolower(static_cast<unsigned char>(*p)));
            if (c > 'c') level = c - 99;
            ++p;
        }
        my_trace_all[i] = static_cast<int16_t>(level);
    }
}
