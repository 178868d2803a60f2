// The time base: 14-digit local time stamps (YYYYMMDDhhmmss), relative days and seconds,
// and the operating windows of distributors and cursors.
//
// Relative date: day 1 is 1992-03-01 (a Sunday); weekday = day % 7 with 0 Saturday,
// 1 Sunday, 2 to 6 Monday to Friday. Relative seconds = day * 86400 + seconds of the day,
// computed in 64 bits; records keep their 32-bit fields (good until 2060).
#pragma once

#include <cstdint>

struct curs;
struct distrib;
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

// Sets the distributor's window_start and window_end from its day chains and holidays.
// Returns 0; 1 with a message when no window opens within window_search_days.
int set_window(distrib* d, int64_t now);
// The same for a cursor, without holidays; nothing changes for a demand cursor, a held
// cursor, or a once cursor that already holds rows. Returns 0; 1 as above.
int set_window_c(curs* c, int64_t now);
