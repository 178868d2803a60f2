// Provisional bodies; replaced by the full conversions.
#include "runtime/dates.h"

#include <cstdio>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/platform.h"

struct tm* u_localtime(time_t* t, struct tm* rec) {
    static struct tm shared;
    time_t now = (t && *t) ? *t : u_time_now();
    if (t && *t == 0) *t = now;
    struct tm* out = rec ? rec : &shared;
    localtime_r(&now, out);
    return out;
}

char* u_get_time(char* buffer, int) {
    static char shared[49];
    char* out = buffer ? buffer : shared;
    out[0] = '\0';
    return out;
}

char* timet2str(time_t) {
    static char shared[20];
    return shared;
}

char* get_date() {
    static char shared[2] = "";
    return shared;
}

char* agettime() {
    char* out = static_cast<char*>(U_MALLOC(24));
    std::snprintf(out, 24, "%ld", static_cast<long>(u_time_now()));
    return out;
}

int us_normalizeDateTime(const char*, int, char* out) {
    std::memcpy(out, "DateFmtErr=487  ", 16);
    return 487;
}

time_t str2timet(const char*, struct tm*) { return -1; }

char* us_ps(const char*, int, int, int) {
    static char shared[208];
    return shared;
}
