// The time base: 14-digit local time stamps (YYYYMMDDhhmmss), relative days and seconds,
// and the operating windows of distributors and cursors.
//
// Relative date: day 1 is 1992-03-01 (a Sunday); weekday = day % 7 with 0 Saturday,
// 1 Sunday, 2 to 6 Monday to Friday. Relative seconds = day * 86400 + seconds of the day,
// computed in 64 bits; records keep their 32-bit fields (good until 2060).
#pragma once

#include <cstdint>

struct curs;
struct operate;

// Current local time as 14 digits and a NUL into out (at least 15 bytes); returns 0.
int get_time(char* out);
// Current local time as "YYYY/MM/DD hh:mm:ss" and a NUL into out (20 bytes); returns 0.
int form_time(char* out);
// Day number of the first eight characters YYYYMMDD (a year below 1900 is two-digit:
// below 81 is 20xx, else 19xx).
int32_t relative_date(const char* text);
// The inverse: writes YYYYMMDD and a NUL into buf (9 bytes); returns buf.
char* real_date(char* buf, int32_t day);
// Relative seconds of a 14-digit time stamp.
int64_t relative_sec(const char* text);
// Relative seconds of the current local time (the stamp get_time writes).
int64_t now_relative_sec();
// Writes the 14-digit stamp of relative seconds into buf (15 bytes); returns buf.
char* secs_to_date(char* buf, int64_t secs);
// A display number of the definition dumps: (secs / 3600) * 100 + secs % 60, computed on
// the magnitude and given the sign of secs.
int64_t secs_to_hour(int64_t secs);

// How far ahead a window is searched before the windows count as closed.
inline constexpr int window_search_days = 400;

// The first window of the day chains whose end lies after now, day by day from now's day;
// days listed in holidays (up to count entries, the first 0 ends the list) are skipped; a
// Saturday or Sunday whose first window has equal start and end is closed. Returns 0 with
// *start and *end set, or 1 when no window opens within window_search_days (then both are
// set to the end of the searched span).
int find_window(const operate* saturday, const operate* sunday, const operate* mon_fri,
                const int32_t* holidays, int count, int64_t now, int32_t* start, int32_t* end);

// Writes the warning that no window of the named record (a name of at most width
// characters) opens within window_search_days.
void report_closed_windows(const char* kind, const char* name, int width);

// Sets the distributor's window_start and window_end from its day chains and its holidays
// (the distrib record of the process file; a template so that this header does not need
// it). Returns 0; 1 with a warning when no window opens within window_search_days.
template <class Distrib>
int set_window(Distrib* d, int64_t now) {
    constexpr int count = static_cast<int>(sizeof(d->holiday) / sizeof(d->holiday[0]));
    if (find_window(d->saturday_start, d->sunday_start, d->mon_fri_start, d->holiday, count, now,
                    &d->window_start, &d->window_end) != 0) {
        report_closed_windows("process", d->distrib_name,
                              static_cast<int>(sizeof(d->distrib_name)));
        return 1;
    }
    return 0;
}
// The same for a cursor, without holidays; nothing changes for a demand cursor, a held
// cursor, or a once cursor that already holds rows. Returns 0; 1 as above.
int set_window_c(curs* c, int64_t now);
