// Provisional writers: complete enough to link and print; the full behaviour (headers,
// routing table, rotation and wrap) replaces this file.
#include "runtime/msg.h"

#include <cstdarg>
#include <cstring>

FILE* stder = nullptr;
char stder_filename[1024] = "";
FILE* my_stdout = nullptr;
char* msgPrefix = nullptr;
int NumberOfCollectors = 0;

int u_msg(const char*, const char*, int, const char*, const char* id, const char* format, ...) {
    char body[7000];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(body, sizeof body, format, ap);
    va_end(ap);
    FILE* out = stder ? stder : stdout;
    fprintf(out, "%s %s", id ? id : "", body);
    return n;
}

int PRINT(char, const char* tag, const char* format, ...) {
    char body[4000];
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(body, sizeof body, format, ap);
    va_end(ap);
    FILE* out = stder ? stder : stdout;
    fprintf(out, "%s %s", tag ? tag : "", body);
    return n;
}
