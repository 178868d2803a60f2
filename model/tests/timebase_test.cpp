#include "model/timebase.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/platform.h"
#include "testing/log_capture.h"

namespace {

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

std::string stamp(int y, int m, int d, int hh = 0, int mm = 0, int ss = 0) {
    char buf[32];
    std::snprintf(buf, sizeof(buf), "%04d%02d%02d%02d%02d%02d", y, m, d, hh, mm, ss);
    return buf;
}

TEST(RelativeDate, MatchesTheCivilCalendarFrom1992To2060) {
    const int64_t origin = days_from_civil(1992, 3, 1);
    const int month_days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int checked = 0;
    for (int y = 1992; y <= 2060; ++y) {
        for (int m = 1; m <= 12; ++m) {
            int last = month_days[m - 1] + (m == 2 && y % 4 == 0 ? 1 : 0);
            for (int d = 1; d <= last; ++d) {
                if (y == 1992 && m < 3) continue;
                int64_t want = days_from_civil(y, m, d) - origin + 1;
                std::string s = stamp(y, m, d, 23, 59, 58);
                ASSERT_EQ(relative_date(s.c_str()), want) << s;
                char back[9];
                ASSERT_EQ(std::string(real_date(back, static_cast<int32_t>(want))), s.substr(0, 8));
                char full[15];
                ASSERT_EQ(std::string(secs_to_date(full, relative_sec(s.c_str()))), s);
                // The weekday follows from the day number: 0 Saturday, 1 Sunday.
                int64_t weekday_1970 = (days_from_civil(y, m, d) + 4) % 7;  // 0 Sunday
                ASSERT_EQ(want % 7, (weekday_1970 + 1) % 7) << s;
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 25000);
}

TEST(RelativeDate, DocumentedPoints) {
    EXPECT_EQ(relative_date("19920301"), 1);
    EXPECT_EQ(relative_date("19930301"), 366);
    EXPECT_EQ(relative_date("19960229"), 1461);
    char buf[9];
    EXPECT_STREQ(real_date(buf, 1461), "19960229");
    EXPECT_STREQ(real_date(buf, 365), "19930228");
    EXPECT_EQ(relative_sec("19920301000000"), 86400);
    EXPECT_EQ(relative_sec("19920301010203"), 86400 + 3723);
    // Years written below 1900 are two-digit years.
    EXPECT_EQ(relative_date("00920301"), 1);
    EXPECT_EQ(relative_date("00200301"), relative_date("20200301"));
    EXPECT_EQ(relative_date("00810301"), relative_date("19810301"));
}

TEST(RelativeSec, ComputesPast2038In64Bits) {
    int64_t s = relative_sec("20700101000000");
    EXPECT_GT(s, static_cast<int64_t>(INT32_MAX));
    char buf[15];
    EXPECT_STREQ(secs_to_date(buf, s), "20700101000000");
}

TEST(SecsToHour, WholeHoursAndSecondsOfTheMinute) {
    struct {
        int64_t secs, want;
    } cases[] = {{3600, 100}, {-3600, -100}, {5400, 100}, {5430, 130}, {0, 0}, {59, 59}};
    for (auto c : cases) EXPECT_EQ(secs_to_hour(c.secs), c.want) << c.secs;
}

timespec fixed_now;
void fixed_clock(timespec* out) { *out = fixed_now; }

TEST(GetTime, FormatsTheLocalTime) {
    fixed_now = {};
    fixed_now.tv_sec =
        static_cast<time_t>(days_from_civil(2026, 12, 10) * 86400 + 14 * 3600 + 23 * 60 + 5);
    u_platform_ops ops{};
    ops.clock_now = fixed_clock;
    u_platform_set(ops);
    char t[15];
    char f[20];
    EXPECT_EQ(get_time(t), 0);
    EXPECT_EQ(form_time(f), 0);
    u_platform_reset();
    EXPECT_STREQ(t, "20261210142305");  // tests run with TZ=UTC
    EXPECT_STREQ(f, "2026/12/10 14:23:05");
}

// Day chains built the way the definition readers build them.
// A window appended to a day chain as the definition files add them: an end before the
// start runs over midnight, and a chain still on the shared whole day starts afresh.
void add_window(operate** chain, int32_t start, int32_t end) {
    if (end < start) end += 86400;
    auto* o = static_cast<operate*>(U_MALLOC(sizeof(operate)));
    *o = operate{nullptr, start, end};
    if (*chain == &full_day) *chain = nullptr;
    while (*chain != nullptr) chain = &(*chain)->next;
    *chain = o;
}

struct chains {
    operate* sat = nullptr;
    operate* sun = nullptr;
    operate* monfri = nullptr;
    ~chains() {
        for (operate* o : {sat, sun, monfri}) {
            while (o != nullptr && o != &full_day) {
                operate* n = o->next;
                U_FREE(o);
                o = n;
            }
        }
    }
};

constexpr int64_t H = 3600;

// Relative seconds of a date and hour.
int64_t at(int y, int m, int d, int64_t hours) {
    return relative_date(stamp(y, m, d).c_str()) * int64_t{86400} + hours * H / 1;
}

TEST(FindWindow, WeekdaysWeekendsAndHolidays) {
    // 2026-12-11 is a Friday.
    ASSERT_EQ(relative_date("20261211") % 7, 6);
    chains office;
    add_window(&office.monfri, 8 * H, 17 * H);
    add_window(&office.sat, 0, 0);  // closed
    add_window(&office.sun, 0, 0);
    chains open_weekend;
    add_window(&open_weekend.monfri, 8 * H, 17 * H);
    open_weekend.sat = open_weekend.sun = &full_day;
    chains split;
    add_window(&split.monfri, 0, 6 * H);
    add_window(&split.monfri, 12 * H, 18 * H);
    split.sat = split.sun = &full_day;
    chains night;
    add_window(&night.monfri, 22 * H, 2 * H);
    night.sat = night.sun = &full_day;

    int32_t monday_holiday[2] = {relative_date("20261214"), 0};
    int32_t friday_holiday[1] = {relative_date("20261211")};

    struct c {
        const char* what;
        chains* ch;
        const int32_t* holidays;
        int count;
        int64_t now, start, end;
    } cases[] = {
        {"after Friday's window, weekend closed", &office, nullptr, 0, at(2026, 12, 11, 18),
         at(2026, 12, 14, 8), at(2026, 12, 14, 17)},
        {"after Friday's window, weekend open", &open_weekend, nullptr, 0, at(2026, 12, 11, 18),
         at(2026, 12, 12, 0), at(2026, 12, 12, 24)},
        {"inside the window", &office, nullptr, 0, at(2026, 12, 10, 9), at(2026, 12, 10, 8),
         at(2026, 12, 10, 17)},
        {"before the window", &office, nullptr, 0, at(2026, 12, 10, 6), at(2026, 12, 10, 8),
         at(2026, 12, 10, 17)},
        {"holiday on Monday", &office, monday_holiday, 100, at(2026, 12, 11, 18),
         at(2026, 12, 15, 8), at(2026, 12, 15, 17)},
        {"holiday today", &open_weekend, friday_holiday, 1, at(2026, 12, 11, 9),
         at(2026, 12, 12, 0), at(2026, 12, 12, 24)},
        {"between two windows", &split, nullptr, 0, at(2026, 12, 10, 7), at(2026, 12, 10, 12),
         at(2026, 12, 10, 18)},
        {"after both windows", &split, nullptr, 0, at(2026, 12, 8, 19), at(2026, 12, 9, 0),
         at(2026, 12, 9, 6)},
        {"window over midnight", &night, nullptr, 0, at(2026, 12, 8, 23), at(2026, 12, 8, 22),
         at(2026, 12, 9, 2)},
    };
    for (const c& k : cases) {
        int32_t start = -1, end = -1;
        EXPECT_EQ(find_window(k.ch->sat, k.ch->sun, k.ch->monfri, k.holidays, k.count, k.now,
                              &start, &end),
                  0)
            << k.what;
        EXPECT_EQ(start, k.start) << k.what;
        EXPECT_EQ(end, k.end) << k.what;
    }
}

TEST(FindWindow, GivesUpAfterTheSearchSpan) {
    chains closed;
    add_window(&closed.sat, 0, 0);
    add_window(&closed.sun, 0, 0);
    int32_t start = 0, end = 0;
    int64_t now = at(2026, 12, 10, 12);
    EXPECT_EQ(find_window(closed.sat, closed.sun, nullptr, nullptr, 0, now, &start, &end), 1);
    EXPECT_EQ(start, end);
    EXPECT_EQ(start, (now / 86400 + window_search_days) * 86400);
}

TEST(SetWindowC, SkipsDemandHeldAndFilledOnceCursors) {
    LogCapture log;
    chains office;
    add_window(&office.monfri, 8 * H, 17 * H);
    office.sat = office.sun = &full_day;
    curs* c = curs_new();
    c->saturday_start = office.sat;
    c->sunday_start = office.sun;
    c->mon_fri_start = office.monfri;
    int64_t now = at(2026, 12, 10, 9);

    EXPECT_EQ(set_window_c(c, now), 0);
    EXPECT_EQ(c->window_start, at(2026, 12, 10, 8));
    EXPECT_EQ(c->window_end, at(2026, 12, 10, 17));

    int64_t later = at(2026, 12, 10, 18);
    c->demand = 1;
    set_window_c(c, later);
    EXPECT_EQ(c->window_end, at(2026, 12, 10, 17));
    c->demand = 0;
    c->held = 'Y';
    set_window_c(c, later);
    EXPECT_EQ(c->window_end, at(2026, 12, 10, 17));
    c->held = 'N';
    c->once = 1;
    row_data* r = row_data_new(0);
    c->first_row = r;
    set_window_c(c, later);
    EXPECT_EQ(c->window_end, at(2026, 12, 10, 17));
    c->first_row = nullptr;
    set_window_c(c, later);
    EXPECT_EQ(c->window_start, at(2026, 12, 11, 8));

    c->mon_fri_start = nullptr;
    c->saturday_start = c->sunday_start = office.sat = nullptr;
    add_window(&office.sat, 0, 0);
    c->saturday_start = c->sunday_start = office.sat;
    EXPECT_EQ(set_window_c(c, later), 1);
    EXPECT_TRUE(log.has("No collection window of cursor"));
    U_FREE(r);
    U_FREE(c);
}

// The fields of a distributor that its window uses, as the process file lays them out.
struct test_distrib {
    char distrib_name[25];
    operate* saturday_start;
    operate* sunday_start;
    operate* mon_fri_start;
    int32_t holiday[100];
    int32_t window_start;
    int32_t window_end;
};

TEST(SetWindow, DistributorSkipsItsHolidays) {
    LogCapture log;
    chains office;
    add_window(&office.monfri, 8 * H, 17 * H);
    add_window(&office.sat, 0, 0);
    office.sun = office.sat;
    test_distrib d{};
    std::strcpy(d.distrib_name, "collector");
    d.saturday_start = office.sat;
    d.sunday_start = office.sat;
    d.mon_fri_start = office.monfri;
    d.holiday[0] = relative_date("20261214");
    d.holiday[1] = relative_date("20261215");
    d.holiday[3] = relative_date("20261216");  // after the first 0: not a holiday
    EXPECT_EQ(set_window(&d, at(2026, 12, 11, 18)), 0);
    EXPECT_EQ(d.window_start, at(2026, 12, 16, 8));
    EXPECT_EQ(d.window_end, at(2026, 12, 16, 17));

    // A hundred weekday holidays push the window past them.
    int n = 0;
    int32_t day = relative_date("20261214");
    for (; n < 100; ++day)
        if (day % 7 >= 2) d.holiday[n++] = day;
    while (day % 7 < 2) ++day;
    EXPECT_EQ(set_window(&d, at(2026, 12, 11, 18)), 0);
    EXPECT_EQ(d.window_start, int64_t{day} * 86400 + 8 * H);

    // No weekday list and the weekend closed: a warning, not an endless search.
    d.mon_fri_start = nullptr;
    EXPECT_EQ(set_window(&d, at(2026, 12, 11, 18)), 1);
    EXPECT_TRUE(log.has("No collection window of process collector opens within 400 days"));
    office.sun = nullptr;
}

}  // namespace
