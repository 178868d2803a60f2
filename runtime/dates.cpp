#include "runtime/dates.h"

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

namespace {

inline bool is_digit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
inline bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Decimal value of a run of digits, held below a bound so that a long run cannot overflow.
int digits_value(const char* s) {
    long v = 0;
    for (; is_digit(*s); ++s) {
        v = v * 10 + (*s - '0');
        if (v > 99999999) return 99999999;
    }
    return static_cast<int>(v);
}

void write_error(char* out, int code) {
    char text[32];
    std::snprintf(text, sizeof text, "DateFmtErr=%-5d", code);
    std::memcpy(out, text, 16);
}

void write_stamp(char* out, int year, int mon, int day, int hour, int min, int sec, int ms) {
    char text[64];
    std::snprintf(text, sizeof text, "%03d%02d%02d%02d%02d%02d%03d", year, mon, day, hour, min, sec,
                  ms);
    std::memcpy(out, text, 16);
}

// Reads the separated fields of a date/time text in place: each call yields the next run
// of digits and the separator that ended it ('\0' when the text ended).
class FieldReader {
  public:
    explicit FieldReader(char* text) : p_(text) {}

    // The first field: the leading digits, then (after white space) any character.
    char* first(char* sep) {
        char* field = p_;
        while (is_digit(*p_)) ++p_;
        char* end = p_;
        while (is_space(*p_)) ++p_;
        *sep = *p_;
        if (*p_) ++p_;
        *end = '\0';
        if (u_trace_on(9)) PRINT('t', "udt8082", "tcpin:%s %c\n", field, *sep ? *sep : '.');
        return field;
    }

    // A later field; null when the text ended before it.
    char* next(char* sep) {
        while (is_space(*p_)) ++p_;
        if (!*p_) return nullptr;
        char* field = p_;
        while (is_digit(*p_)) ++p_;
        char* end = p_;
        char* after = p_;
        while (is_space(*after)) ++after;
        if (is_digit(*after) && after != end) {
            // Two numbers apart by white space only: the white space separates them.
            *sep = after[-1];
            p_ = after;
        } else {
            *sep = *after;
            p_ = *after ? after + 1 : after;
        }
        *end = '\0';
        if (u_trace_on(9)) PRINT('t', "udt8081", "tcpin:%s %c.\n", field, *sep ? *sep : '.');
        return field;
    }

  private:
    char* p_;
};

int normalize_separated(char* text, char* out) {
    FieldReader reader(text);
    char sep = 0;
    int first = digits_value(reader.first(&sep));
    int year = 0, mon = 0, day = 0;
    char* f;
    if (sep == '/' && first < 13) {  // month/day/year
        mon = first;
        if (!(f = reader.next(&sep))) return 519;
        day = digits_value(f);
        if (sep != '/') return 520;
        if (!(f = reader.next(&sep))) return 522;
        year = digits_value(f);
    } else if (sep == '/') {  // year/month/day
        year = first;
        if (!(f = reader.next(&sep))) return 510;
        mon = digits_value(f);
        if (sep != '/') return 511;
        if (!(f = reader.next(&sep))) return 513;
        day = digits_value(f);
    } else if (sep == '-') {  // day-month-year
        day = first;
        if (!(f = reader.next(&sep))) return 530;
        mon = digits_value(f);
        if (sep != '-') return 531;
        if (!(f = reader.next(&sep))) return 533;
        year = digits_value(f);
    } else {
        return 538;
    }

    int hour = 0, min = 0, sec = 0;
    if (!(f = reader.next(&sep))) return 542;
    if (sep != ':' && sep != '.') {
        if (sep != '\0') return 571;
        if (std::strlen(f) != 6) return 557;
        hour = (f[0] - '0') * 10 + (f[1] - '0');
        min = (f[2] - '0') * 10 + (f[3] - '0');
        sec = (f[4] - '0') * 10 + (f[5] - '0');
    } else {
        hour = digits_value(f);
        if (!(f = reader.next(&sep))) return 546;
        min = digits_value(f);
        if (sep != ':' && sep != '.') return 547;
        if (!(f = reader.next(&sep))) return 549;
        if (std::strlen(f) > 2) f[2] = '\0';  // only two digits of the seconds count
        sec = digits_value(f);
    }

    if (mon < 1 || mon > 12) return 575;
    if (day < 1 || day > 31) return 576;
    if (hour > 23) return 577;  // a stamp holds hours of one day only
    if (min > 59) return 578;
    if (sec > 59) return 579;

    if (year >= 1901)
        year -= 1900;
    else if (year < 50)
        year += 100;
    if (year > 250) return 587;

    write_stamp(out, year, mon, day, hour, min, sec, 0);
    return 0;
}

int normalize_digits(const char* digits, char* out) {
    char text[17];
    size_t len = strnlen(digits, 16);
    std::memcpy(text, digits, len);
    text[len] = '\0';

    // A month starts at p: "0x", or "1" followed by 0, 1, 2 or the end of the text.
    auto month_at = [&](size_t p) {
        if (p >= len) return false;
        if (text[p] == '0') return true;
        return text[p] == '1' && (p + 1 >= len || (text[p + 1] >= '0' && text[p + 1] <= '2'));
    };
    char stamp[17];
    std::memset(stamp, '0', 16);
    stamp[16] = '\0';
    // Copies digits from position `from` to the stamp's position `to`, within the stamp.
    auto copy = [&](size_t to, size_t from) {
        for (size_t i = from, o = to; i < len && o < 16; ++i, ++o) stamp[o] = text[i];
    };
    char c0 = text[0];
    char c1 = len > 1 ? text[1] : '\0';
    if (c0 == '0') {
        if (c1 != '9' || !month_at(3)) return 630;
        copy(0, 0);
    } else if (c0 == '2') {
        if (c1 == '0' && month_at(4)) {
            stamp[0] = '1';
            copy(1, 2);
        } else if (c1 == '0' && month_at(2)) {
            stamp[0] = '1';
            copy(1, 0);
        } else {
            return 645;
        }
    } else if (c0 == '1') {
        if (c1 >= '0' && c1 <= '6' && month_at(3)) {
            copy(0, 0);
        } else if (c1 == '9' && month_at(4)) {
            stamp[0] = '0';
            copy(1, 2);
        } else if (c1 == '9' && month_at(3)) {
            copy(0, 0);
        } else {
            return 668;
        }
    } else if (c0 >= '7' && c0 <= '9') {
        if (!month_at(2)) return 677;
        stamp[0] = '0';
        copy(1, 0);
    } else {
        return 677;
    }
    std::memcpy(out, stamp, 16);
    return 0;
}

// ---- str2timet --------------------------------------------------------------------

enum : int16_t { kFormGeneral = 1, kFormA = 'A', kFormF = 'F', kFormD = 'd', kFormS = 's' };

int16_t remembered_form = 0;

struct StampFields {
    unsigned year = 0, mon = 0, day = 0, hour = 0, min = 0, sec = 0, hundredths = 0;
};

// Reads a number of a fixed width at text + pos; a value of 0 must start with '0'. The
// character behind it must be one of seps (when seps is given). Moves pos past it.
bool fixed_field(const char* text, size_t len, size_t& pos, size_t width, const char* seps,
                 unsigned* value) {
    if (pos + width > len) return false;
    char piece[8];
    std::memcpy(piece, text + pos, width);
    piece[width] = '\0';
    int v = std::atoi(piece);
    if (v < 0 || (v == 0 && piece[0] != '0')) return false;
    if (seps) {
        char next = text[pos + width];
        if (!next || !std::strchr(seps, next)) return false;
        pos += width + 1;
    } else {
        pos += width;
    }
    *value = static_cast<unsigned>(v);
    return true;
}

// Fixed layout "Y/MM/DD HH:MM:SS[.hh]" with a year of yw digits, from pos. False when it
// stopped before the seconds were read; pos then holds where it stopped.
bool fixed_form(const char* text, size_t len, size_t& pos, size_t yw, StampFields* f) {
    if (!fixed_field(text, len, pos, yw, "/-", &f->year)) return false;
    if (!fixed_field(text, len, pos, 2, "/-", &f->mon)) return false;
    if (!fixed_field(text, len, pos, 2, " ", &f->day)) return false;
    if (!fixed_field(text, len, pos, 2, ":", &f->hour)) return false;
    if (!fixed_field(text, len, pos, 2, ":", &f->min)) return false;
    if (!fixed_field(text, len, pos, 2, nullptr, &f->sec)) return false;
    if (pos < len && text[pos] == '.') {
        char piece[3] = {};
        std::memcpy(piece, text + pos + 1, strnlen(text + pos + 1, 2));
        int h = std::atoi(piece);
        f->hundredths = h > 0 ? static_cast<unsigned>(h) : 0;
    }
    return true;
}

bool general_form(const char* text, StampFields* f) {
    int items = std::sscanf(text, "%4u %*1[/-] %2u %*1[/-] %2u %2u %*1[:.] %2u%*1[:.] %2u.%2u",
                            &f->year, &f->mon, &f->day, &f->hour, &f->min, &f->sec, &f->hundredths);
    return items >= 6;
}

}  // namespace

struct tm* u_localtime(time_t* t, struct tm* rec) {
    static struct tm shared;
    time_t when = (t && *t) ? *t : u_time_now();
    if (t && *t == 0) *t = when;
    struct tm* out = rec ? rec : &shared;
    localtime_r(&when, out);
    return out;
}

char* u_get_time(char* buffer, int layout) {
    static char shared[49];
    char* out = buffer ? buffer : shared;
    struct tm rec;
    u_localtime(nullptr, &rec);
    int full_year = rec.tm_year >= 1900 ? rec.tm_year
                    : rec.tm_year >= 81 ? rec.tm_year + 1900
                                        : rec.tm_year + 2000;
    int year3 = full_year - 1900;
    int mon = rec.tm_mon + 1;
    switch (layout) {
        case 1:
            std::snprintf(out, 49, "%04d/%02d/%02d %02d:%02d:%02d", full_year, mon, rec.tm_mday,
                          rec.tm_hour, rec.tm_min, rec.tm_sec);
            break;
        case 2:
            if (std::strftime(out, 49, "%c", &rec) == 0) out[0] = '\0';
            break;
        case 3:
            std::snprintf(out, 49, "%03d%02d%02d%02d%02d%02d", year3, mon, rec.tm_mday, rec.tm_hour,
                          rec.tm_min, rec.tm_sec);
            break;
        case 4:
            std::snprintf(out, 49, "%03d%02d%02d%02d%02d%02d%03d", year3, mon, rec.tm_mday,
                          rec.tm_hour, rec.tm_min, rec.tm_sec, 0);
            break;
        default:
            std::snprintf(out, 49, "%04d%02d%02d%02d%02d%02d", full_year, mon, rec.tm_mday,
                          rec.tm_hour, rec.tm_min, rec.tm_sec);
            break;
    }
    return out;
}

char* timet2str(time_t t) {
    static char shared[20];
    struct tm rec;
    u_localtime(&t, &rec);
    if (std::strftime(shared, sizeof shared, "%Y/%m/%d %H:%M:%S", &rec) == 0) shared[0] = '\0';
    return shared;
}

char* get_date() {
    time_t now = u_time_now();
    return std::ctime(&now);
}

char* agettime() {
    char text[32];
    int n = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(u_time_now()));
    char* out = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(out, text, static_cast<size_t>(n) + 1);
    return out;
}

int us_normalizeDateTime(const char* text, int length, char* out) {
    char work[100];
    size_t n = 0;
    if (text) {
        size_t limit = length < 1 ? 99 : static_cast<size_t>(length < 99 ? length : 99);
        n = strnlen(text, limit);
        std::memcpy(work, text, n);
    }
    work[n] = '\0';
    char* t = u_stripx(work, 'B', " \t\r\n\"'");
    int rc;
    if (!*t) {
        rc = 487;
    } else {
        bool all_digits = true;
        for (const char* p = t; *p; ++p) all_digits = all_digits && is_digit(*p);
        rc = all_digits ? normalize_digits(t, out) : normalize_separated(t, out);
    }
    if (rc != 0) write_error(out, rc);
    return rc;
}

void str2timet_forget_form() { remembered_form = 0; }

time_t str2timet(const char* text, struct tm* rec) {
    if (u_trace_on(3))
        u_msg(nullptr, __FILE__, __LINE__, "t", "str002", "str2timet(\"%s\",%p)", text ? text : "",
              static_cast<void*>(rec));
    struct tm local;
    struct tm* r = rec ? rec : &local;
    std::memset(r, 0, sizeof *r);
    r->tm_sec = -1;  // not parsed

    const char* s = text ? text : "";
    size_t len = std::strlen(s);
    int16_t form = remembered_form;
    if (form == 0) {
        size_t at = std::strcspn(s, "/-");
        if (at == len)
            form = 0;
        else if (at == 2)
            form = kFormA;
        else if (at == 4)
            form = kFormF;
        else if (at == 5)
            form = kFormD;
        else if (at == 19)
            form = kFormS;
        else
            form = kFormGeneral;
    }

    StampFields f;
    bool ok = false;
    if (form != 0) {
        size_t pos = 0;
        switch (form) {
            case kFormA:
                ok = fixed_form(s, len, pos, 2, &f);
                break;
            case kFormF:
                ok = fixed_form(s, len, pos, 4, &f);
                break;
            case kFormD:
                if (len > 2 && s[2] == ':') {
                    pos = 3;
                    ok = fixed_form(s, len, pos, 2, &f);
                }
                break;
            case kFormS:
                if (len > 14 && s[2] == ':' && s[8] == ':' && s[14] == ' ') {
                    pos = 15;
                    ok = fixed_form(s, len, pos, 4, &f);
                }
                break;
            default:
                break;
        }
        if (!ok) {
            f = StampFields{};
            ok = general_form(s + pos, &f);
            if (ok) form = kFormGeneral;
        }
    }
    if (!ok) {
        u_msg(nullptr, __FILE__, __LINE__, "w", "str006", "Invalid str2timet: %s", s);
        std::memset(r, 0, sizeof *r);
        return -1;
    }
    if (remembered_form == 0) remembered_form = form;

    int year = static_cast<int>(f.year);
    if (year >= 1901)
        year -= 1900;
    else if (year <= 69)
        year += 100;
    r->tm_year = year;
    r->tm_mon = static_cast<int>(f.mon) - 1;
    r->tm_mday = static_cast<int>(f.day);
    r->tm_hour = static_cast<int>(f.hour);
    r->tm_min = static_cast<int>(f.min);
    r->tm_sec = static_cast<int>(f.sec) + (f.hundredths > 49 ? 1 : 0);
    r->tm_isdst = -1;
    time_t result = std::mktime(r);
    if (u_trace_on(3))
        u_msg(nullptr, __FILE__, __LINE__, "t", "str004",
              "str2timet struct tm: form=%d, year=%d, mon=%d, date=%d, hour=%d, min=%d, "
              "sec=%d, weekday(Sun=0)=%d, Julian=%d, %s Time",
              form, r->tm_year, r->tm_mon + 1, r->tm_mday, r->tm_hour, r->tm_min, r->tm_sec,
              r->tm_wday, r->tm_yday, r->tm_isdst > 0 ? "Daylight" : "Standard");
    return result;
}

char* us_ps(const char* value, int length, int max, int flags) {
    static char buffers[2][208];
    char* out = buffers[(flags & 16) ? 1 : 0];
    std::memset(out, 0, sizeof buffers[0]);
    if (max < 1 || max > 201) max = 201;
    const char* v = value ? value : "";
    int vlen = length > 0 ? length : static_cast<int>(std::strlen(v));
    if (max > vlen) max = vlen;

    char body[208];
    if (flags & 4) {
        u_printable(body, v, vlen, "c");
    } else if (flags & 8) {
        u_printable(body, v, max, "");
    } else {
        size_t n = static_cast<size_t>(max);
        std::memcpy(body, v, n);
        body[n] = '\0';
        u_stripc(body, 'B', " \t\n\r");
    }
    // The preview is cut at the buffer's end when a long body and its length do not fit.
    const char* quote = (flags & 1) ? "'" : "";
    int n;
    if ((flags & 3) == 3)
        n = std::snprintf(out, sizeof buffers[0], "'%s'(%d)", body, vlen);
    else if (flags & 2)
        n = std::snprintf(out, sizeof buffers[0], "%s (%d)", body, vlen);
    else
        n = std::snprintf(out, sizeof buffers[0], "%s%s%s", quote, body, quote);
    if (n < 0) out[0] = '\0';
    return out;
}
