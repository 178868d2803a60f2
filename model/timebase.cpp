#include "model/timebase.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "model/cursor.h"
#include "runtime/dates.h"
#include "runtime/msg.h"
#include "runtime/platform.h"

namespace {

// atoi of exactly n characters of text (stops early at a NUL).
int field(const char* text, int n) {
    char tmp[8] = {};
    for (int i = 0; i < n && text[i] != '\0'; ++i) tmp[i] = text[i];
    return std::atoi(tmp);
}

}  // namespace

int get_time(char* out) {
    time_t now = u_time_now();
    struct tm tm {};
    u_localtime(&now, &tm);
    int year = tm.tm_year < 81 ? tm.tm_year + 2000 : tm.tm_year + 1900;
    char tmp[64];
    std::snprintf(tmp, sizeof(tmp), "%04d%02d%02d%02d%02d%02d", year % 10000, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    std::memcpy(out, tmp, 14);
    out[14] = '\0';
    return 0;
}

int form_time(char* out) {
    char t[15];
    get_time(t);
    std::snprintf(out, 20, "%.4s/%.2s/%.2s %.2s:%.2s:%.2s", t, t + 4, t + 6, t + 8, t + 10, t + 12);
    return 0;
}

int32_t relative_date(const char* text) {
    int64_t year = field(text, 4);
    int64_t month = field(text + 4, 2);
    int64_t day = field(text + 6, 2);
    if (year < 1900) year += year < 81 ? 2000 : 1900;
    // The year starts in March: January and February are months 10 and 11 of the year
    // before.
    int64_t m = month - 3;
    if (month < 3) {
        m = month + 9;
        year -= 1;
    }
    return static_cast<int32_t>((m * 306 + 5) / 10 + ((year - 1992) * 36525) / 100 + day);
}

char* real_date(char* buf, int32_t day) {
    int64_t d = day;
    int64_t y = (d * 100) / 36525;
    int64_t year = 1992 + y;
    int64_t r = d - (y * 36525) / 100;
    int64_t mi = (r * 10 - 5) / 306;
    int64_t month = mi + 3;
    if (month > 12) {
        month = mi - 9;
        year = 1993 + y;
    }
    int64_t dd = r - (mi * 306 + 5) / 10;
    if (dd == 0 && month == 3) {
        dd = 29;
        month = 2;
    }
    char tmp[64];
    std::snprintf(tmp, sizeof(tmp), "%04d%02d%02d", static_cast<int>(year % 10000),
                  static_cast<int>(month % 100), static_cast<int>(dd % 100));
    std::memcpy(buf, tmp, 8);
    buf[8] = '\0';
    return buf;
}

int64_t now_relative_sec() {
    char t[15];
    get_time(t);
    return relative_sec(t);
}

int64_t relative_sec(const char* text) {
    return static_cast<int64_t>(relative_date(text)) * 86400 + field(text + 8, 2) * 3600 +
           field(text + 10, 2) * 60 + field(text + 12, 2);
}

char* secs_to_date(char* buf, int64_t secs) {
    real_date(buf, static_cast<int32_t>(secs / 86400));
    char tmp[64];
    std::snprintf(tmp, sizeof(tmp), "%02d%02d%02d", static_cast<int>((secs % 86400) / 3600),
                  static_cast<int>((secs % 3600) / 60), static_cast<int>(secs % 60));
    std::memcpy(buf + 8, tmp, 6);
    buf[14] = '\0';
    return buf;
}

int64_t secs_to_hour(int64_t secs) {
    if (secs < 0) return -secs_to_hour(-secs);
    return (secs / 3600) * 100 + secs % 60;
}

int find_window(const operate* saturday, const operate* sunday, const operate* mon_fri,
                const int32_t* holidays, int count, int64_t now, int32_t* start, int32_t* end) {
    int64_t first = now / 86400;
    for (int64_t day = first; day < first + window_search_days; ++day) {
        bool holiday = false;
        for (int i = 0; holidays != nullptr && i < count && holidays[i] != 0; ++i) {
            if (holidays[i] == day) {
                holiday = true;
                break;
            }
        }
        if (holiday) continue;
        int64_t kind = day % 7;
        const operate* list = kind == 0 ? saturday : kind == 1 ? sunday : mon_fri;
        if (list == nullptr) continue;
        if (kind <= 1 && list->start_time == list->end_time) continue;  // closed day
        for (const operate* w = list; w != nullptr; w = w->next) {
            if (day * 86400 + w->end_time > now) {
                *start = static_cast<int32_t>(day * 86400 + w->start_time);
                *end = static_cast<int32_t>(day * 86400 + w->end_time);
                return 0;
            }
        }
    }
    *start = *end = static_cast<int32_t>((first + window_search_days) * 86400);
    return 1;
}

void report_closed_windows(const char* kind, const char* name, int width) {
    PRINT('w', "ctb0640", "No collection window of %s %.*s opens within %d days\n", kind, width,
          name, window_search_days);
}

int set_window_c(curs* c, int64_t now) {
    if (c->demand == 1 || c->held == 'Y' || (c->once == 1 && c->first_row != nullptr)) return 0;
    if (find_window(c->saturday_start, c->sunday_start, c->mon_fri_start, nullptr, 0, now,
                    &c->window_start, &c->window_end) != 0) {
        report_closed_windows("cursor", c->cur_name, static_cast<int>(sizeof(c->cur_name)));
        return 1;
    }
    return 0;
}
