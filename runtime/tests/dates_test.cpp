#include "runtime/dates.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/clock_fixture.h"

namespace {

using zovtest::FixedClock;
using zovtest::kFixedNow;

// ---- us_normalizeDateTime ----

struct NormCase {
    const char* text;
    int length;
    int rc;
    const char* stamp;  // the 16 characters written
};

class NormalizeTest : public ::testing::TestWithParam<NormCase> {};

TEST_P(NormalizeTest, WritesStampOrErrorForm) {
    const NormCase& c = GetParam();
    char out[17];
    std::memset(out, '#', sizeof out);
    EXPECT_EQ(us_normalizeDateTime(c.text, c.length, out), c.rc) << "'" << c.text << "'";
    EXPECT_EQ(std::string(out, 16), c.stamp) << "'" << c.text << "'";
    EXPECT_EQ(out[16], '#') << "no terminator belongs to the stamp";
}

INSTANTIATE_TEST_SUITE_P(
    Accepted, NormalizeTest,
    ::testing::Values(NormCase{"12/31/1999 23:59:59", 0, 0, "0991231235959000"},
                      NormCase{"2000/02/03 04:05:06", 0, 0, "1000203040506000"},
                      NormCase{"3-4-05 101112", 0, 0, "1050403101112000"},
                      NormCase{"12/31/99 10:20:30.123", 0, 0, "0991231102030000"},
                      NormCase{"12/31/99 10.20.30", 0, 0, "0991231102030000"},
                      NormCase{"1/2/49 1:2:3", 0, 0, "1490102010203000"},
                      NormCase{"1/2/2150 0:0:0", 0, 0, "2500102000000000"},
                      NormCase{"1/2/150 0:0:0", 0, 0, "1500102000000000"},
                      NormCase{" \"12 / 31 / 99   10 : 20 : 30\"\t", 0, 0, "0991231102030000"},
                      NormCase{"12/31/1999 23:59:59trailing", 19, 0, "0991231235959000"},
                      NormCase{"  '991231'  ", 0, 0, "0991231000000000"},
                      NormCase{"20001231", 0, 0, "1001231000000000"},
                      NormCase{"200512", 0, 0, "1051200000000000"},
                      NormCase{"201231", 0, 0, "1201231000000000"},
                      NormCase{"19991231235959", 0, 0, "0991231235959000"},
                      NormCase{"1991231", 0, 0, "1991231000000000"},
                      NormCase{"1051231", 0, 0, "1051231000000000"},
                      NormCase{"0991231235959123", 0, 0, "0991231235959123"},
                      NormCase{"09912312359591239", 0, 0, "0991231235959123"},
                      NormCase{"7012", 0, 0, "0701200000000000"}),
    case_names(&NormCase::text));

INSTANTIATE_TEST_SUITE_P(
    Errors, NormalizeTest,
    ::testing::Values(
        NormCase{"", 0, 487, "DateFmtErr=487  "}, NormCase{" '\" \r\n", 0, 487, "DateFmtErr=487  "},
        NormCase{nullptr, 0, 487, "DateFmtErr=487  "},
        NormCase{"2000/", 0, 510, "DateFmtErr=510  "},
        NormCase{"2000/1", 0, 511, "DateFmtErr=511  "},
        NormCase{"2000/1/", 0, 513, "DateFmtErr=513  "},
        NormCase{"12/", 0, 519, "DateFmtErr=519  "},
        NormCase{"12/31 1999", 0, 520, "DateFmtErr=520  "},
        NormCase{"12/31/", 0, 522, "DateFmtErr=522  "}, NormCase{"3-", 0, 530, "DateFmtErr=530  "},
        NormCase{"3-4/05", 0, 531, "DateFmtErr=531  "},
        NormCase{"3-4-", 0, 533, "DateFmtErr=533  "},
        NormCase{"991231 101112", 0, 538, "DateFmtErr=538  "},
        NormCase{"12.31.99 10:20:30", 0, 538, "DateFmtErr=538  "},
        NormCase{"12/31/99", 0, 542, "DateFmtErr=542  "},
        NormCase{"12/31/99 10:", 0, 546, "DateFmtErr=546  "},
        NormCase{"12/31/99 10:20", 0, 547, "DateFmtErr=547  "},
        NormCase{"12/31/99 10:20:", 0, 549, "DateFmtErr=549  "},
        NormCase{"12/31/99 1020", 0, 557, "DateFmtErr=557  "},
        NormCase{"12/31/99 10-20-30", 0, 571, "DateFmtErr=571  "},
        NormCase{"2000/13/01 00:00:00", 0, 575, "DateFmtErr=575  "},
        NormCase{"13/01/2000 00:00:00", 0, 576, "DateFmtErr=576  "},
        NormCase{"2000-01-02 10:20:30", 0, 576, "DateFmtErr=576  "},
        NormCase{"12/31/99 24:00:00", 0, 577, "DateFmtErr=577  "},
        NormCase{"12/31/99 10:60:00", 0, 578, "DateFmtErr=578  "},
        NormCase{"12/31/99 10:20:60", 0, 579, "DateFmtErr=579  "},
        NormCase{"12/31/2151 10:20:30", 0, 587, "DateFmtErr=587  "},
        NormCase{"12/31/1900 10:20:30", 0, 587, "DateFmtErr=587  "},
        NormCase{"0812", 0, 630, "DateFmtErr=630  "}, NormCase{"2112", 0, 645, "DateFmtErr=645  "},
        NormCase{"1712", 0, 668, "DateFmtErr=668  "}, NormCase{"55", 0, 677, "DateFmtErr=677  "},
        NormCase{"7913", 0, 677, "DateFmtErr=677  "}),
    case_names(&NormCase::text));

TEST(NormalizeTrace, FieldsAtLevelNine) {
    my_trace_all[9] = 1;
    char out[16];
    testing::internal::CaptureStdout();
    int rc = us_normalizeDateTime("12/31/99 10:20", 0, out);
    std::string traced = testing::internal::GetCapturedStdout();
    my_trace_all[9] = 0;
    EXPECT_EQ(rc, 547);
    // Lines carry the clock's time; compare what follows it.
    std::string fields;
    for (size_t at = traced.find(") "); at != std::string::npos; at = traced.find(") ", at + 1))
        fields += traced.substr(at + 2, traced.find('\n', at) - at - 1);
    EXPECT_EQ(fields, "tcpin:12 /\ntcpin:31 /.\ntcpin:99  .\ntcpin:10 :.\ntcpin:20 ..\n");
    EXPECT_EQ(traced.substr(0, 9), "UDT8082T ");
}

// ---- str2timet: the remembered form lives for the process, so each case runs in a
// child of its own ----

struct Str2Case {
    const char* text;
    time_t expected;
};

class Str2timetTest : public ::testing::TestWithParam<Str2Case> {};

TEST_P(Str2timetTest, ParsesInAFreshProcess) {
    const Str2Case& c = GetParam();
    EXPECT_EXIT(
        {
            struct tm rec;
            time_t got = str2timet(c.text, &rec);
            std::exit(got == c.expected ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "")
        << c.text;
}

INSTANTIATE_TEST_SUITE_P(
    Forms, Str2timetTest,
    ::testing::Values(Str2Case{"99/12/31 23:59:59.50", 946684800},  // A, rounded up
                      Str2Case{"99/12/31 23:59:59.49", 946684799},  // A
                      Str2Case{"69/01/02 03:04:05", 3124321445},    // two-digit 69 is 2069
                      Str2Case{"2001-01-02 03:04:05", 978404645},   // F
                      Str2Case{"ab:01/01/02 03:04:05", 978404645},  // d
                      Str2Case{"00:00000:00000 2001/01/02 03:04:05.10", 978404645},  // s
                      Str2Case{"  2001/1/2 3:4:5", 978404645},                       // general
                      Str2Case{"2001 / 1 / 2 3.4.5", 978404645},  // d fails, general
                      Str2Case{"99/1/2 3:4:5", -1},               // A stops, general fails
                      Str2Case{"20011231 101112", -1}),           // no separator
    case_names(&Str2Case::text));

TEST(Str2timet, FillsRecordAndRemembersFirstForm) {
    EXPECT_EXIT(
        {
            struct tm rec;
            bool ok = str2timet("2001-01-02 03:04:05", &rec) == 978404645;
            ok = ok && rec.tm_year == 101 && rec.tm_mon == 0 && rec.tm_mday == 2 &&
                 rec.tm_hour == 3 && rec.tm_min == 4 && rec.tm_sec == 5;
            // Now form F is remembered: a prefixed text no longer finds its own form.
            ok = ok && str2timet("ab:01/01/02 03:04:05", nullptr) == -1;
            ok = ok && str2timet("2001/01/02 03:04:05", nullptr) == 978404645;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(Str2timet, InvalidTextWarns) {
    testing::internal::CaptureStdout();
    struct tm rec;
    rec.tm_year = 77;
    EXPECT_EQ(str2timet("no date here", &rec), -1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("STR006W"), std::string::npos) << out;
    EXPECT_NE(out.find("Invalid str2timet: no date here\n"), std::string::npos) << out;
    EXPECT_EQ(rec.tm_year, 0);
}

// ---- Clock texts ----

class ClockTexts : public FixedClock {};

TEST_F(ClockTexts, GetTimeLayouts) {
    struct Case {
        int layout;
        const char* expected;
    } cases[] = {{1, "2026/12/10 14:30:05"}, {2, "Thu Dec 10 14:30:05 2026"},
                 {3, "1261210143005"},       {4, "1261210143005000"},
                 {0, "20261210143005"},      {9, "20261210143005"}};
    for (const Case& c : cases) {
        char buf[49];
        EXPECT_STREQ(u_get_time(buf, c.layout), c.expected) << "layout " << c.layout;
    }
    EXPECT_STREQ(u_get_time(nullptr, 1), "2026/12/10 14:30:05");
}

TEST_F(ClockTexts, Timet2strAndGetDateAndAgettime) {
    EXPECT_STREQ(timet2str(946684799), "1999/12/31 23:59:59");
    EXPECT_STREQ(timet2str(0), "2026/12/10 14:30:05");
    EXPECT_STREQ(get_date(), "Thu Dec 10 14:30:05 2026\n");
    char* secs = agettime();
    EXPECT_STREQ(secs, "1796913005");
    U_FREE(secs);
}

TEST_F(ClockTexts, LocaltimeFillsZeroTimeAndRecord) {
    time_t t = 0;
    struct tm rec;
    EXPECT_EQ(u_localtime(&t, &rec), &rec);
    EXPECT_EQ(t, kFixedNow);
    EXPECT_EQ(rec.tm_hour, 14);

    time_t given = 946684799;
    struct tm* shared = u_localtime(&given, nullptr);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(shared->tm_year, 99);
    EXPECT_EQ(given, 946684799);
    // Without a record every call answers the same static record.
    EXPECT_EQ(u_localtime(nullptr, nullptr), shared);
    EXPECT_EQ(shared->tm_year, 126);
}

// ---- us_ps ----

struct PsCase {
    const char* value;
    int length;
    int max;
    int flags;
    const char* expected;
};

class UsPsTest : public ::testing::TestWithParam<PsCase> {};

TEST_P(UsPsTest, Preview) {
    const PsCase& c = GetParam();
    EXPECT_STREQ(us_ps(c.value, c.length, c.max, c.flags), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UsPsTest,
    ::testing::Values(PsCase{"abc", 0, 0, 3, "'abc'(3)"}, PsCase{"abc", 0, 2, 2, "ab (3)"},
                      PsCase{"abc", 0, 10, 1, "'abc'"}, PsCase{" \tabc\r\n", 0, 0, 0, "abc"},
                      PsCase{"abcdef", 4, 0, 0, "abcd"},
                      PsCase{"ab\x01\x02\x03\x04\x05\x06", 8, 0, 4, "61620102 03040506"},
                      PsCase{"ab\x01\x02zz", 6, 4, 8, "ab.."}, PsCase{nullptr, 0, 0, 1, "''"}),
    case_names(&PsCase::value));

TEST(UsPs, TwoBuffersAndBoundedLength) {
    char* first = us_ps("one", 0, 0, 0);
    char* second = us_ps("two", 0, 0, 16);
    EXPECT_NE(first, second);
    EXPECT_STREQ(first, "one");
    EXPECT_STREQ(second, "two");

    std::string longer(300, 'x');
    char* p = us_ps(longer.c_str(), 0, 500, 3);
    EXPECT_LT(std::strlen(p), 208u);
    EXPECT_EQ(std::string(p).substr(0, 3), "'xx");
}

}  // namespace
