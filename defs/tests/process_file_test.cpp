#include "defs/process_file.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <functional>
#include <string>

#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/trace.h"
#include "testing/clock_fixture.h"
#include "testing/def_file_support.h"
#include "testing/log_capture.h"

namespace {

using deftest::parse_text;

// The clock stands at Thursday 2026-12-10 14:30:05 (UTC).
class ProcessFile : public zovtest::FixedClock {
  protected:
    void SetUp() override {
        FixedClock::SetUp();
        reset();
    }
    void TearDown() override {
        reset();
        FixedClock::TearDown();
    }
    static void reset() {
        distrib_free_all();
        have_evaluator = 0;
        sleep_time = 10;
        std::memset(&machine_id, 0, sizeof(machine_id));
        trace_something = 0;
    }
    static int parse(const std::string& text) { return parse_text(parse_distributor_file, text); }
};

distrib* find(const char* name) {
    for (distrib* d = distrib_anchor; d != nullptr; d = d->next)
        if (std::strcmp(d->distrib_name, name) == 0) return d;
    return nullptr;
}

std::string field(const char* f, size_t width) { return std::string(f, strnlen(f, width)); }

int64_t at(const char* stamp14) { return relative_sec(stamp14); }

// The statements of a case inside a collector block that has a type and an interval
// unless the case gives its own.
std::string collector_with(const std::string& statements) {
    std::string text = "process collector;\n";
    std::string low = statements;
    for (char& ch : low) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    if (low.find("type") == std::string::npos) text += "type ctlib;\n";
    if (low.find("interval") == std::string::npos) text += "interval 60;\n";
    return text + statements + "\nend;\n";
}

TEST_F(ProcessFile, SingleStatements) {
    struct c {
        std::string statements;
        int rc;
        const char* logged;  // a text the log must hold, or null
        std::function<void(const distrib&)> check;
    } cases[] = {
        {"holiday 2030/12/25 2031/01/01;", 0, nullptr,
         [](const distrib& d) {
             EXPECT_EQ(d.holiday[0], relative_date("20301225"));
             EXPECT_EQ(d.holiday[1], relative_date("20310101"));
             EXPECT_EQ(d.holiday[2], 0);
         }},
        {"holiday 2030-12-25;", 1, "Invalid holiday date format (YYYY/MM/DD)", nullptr},
        {"holiday 203 /12/25;", 1, "Invalid holiday date length (10)", nullptr},
        {"holiday 2020/01/01 2030/01/01;", 0, "Comment: Holiday is in the past",
         [](const distrib& d) {
             EXPECT_EQ(d.holiday[0], relative_date("20300101"));
             EXPECT_EQ(d.holiday[1], 0);
         }},
        {"Saturday_start 0800;\nSaturday_end 1200;\nSaturday_start 1300;\nSaturday_end 1700;", 0,
         nullptr,
         [](const distrib& d) {
             ASSERT_NE(d.saturday_start, nullptr);
             EXPECT_EQ(d.saturday_start->start_time, 28800);
             EXPECT_EQ(d.saturday_start->end_time, 43200);
             ASSERT_NE(d.saturday_start->next, nullptr);
             EXPECT_EQ(d.saturday_start->next->start_time, 46800);
             EXPECT_EQ(d.saturday_start->next->end_time, 61200);
             EXPECT_EQ(d.sunday_start, &full_day);
             EXPECT_EQ(d.mon_fri_start, &full_day);
         }},
        {"time_offset 100;\nSaturday_start 0800;\nSaturday_end 1200;", 0, nullptr,
         [](const distrib& d) {
             EXPECT_EQ(d.time_offset, 3600);
             EXPECT_EQ(d.saturday_start->start_time, 28800 - 3600);
             EXPECT_EQ(d.saturday_start->end_time, 43200 - 3600);
         }},
        {"time_offset -130;\nMon_Fri_start 0800;\nMon_Fri_end 1200;", 0, nullptr,
         [](const distrib& d) {
             EXPECT_EQ(d.time_offset, -5400);
             EXPECT_EQ(d.mon_fri_start->start_time, 28800 + 5400);
         }},
        {"time_offset 0100;\ntime_offset 0200;", 1, "Duplicate time_offset", nullptr},
        {"time_offset 1h;", 1, "Invalid time_offset (1h)", nullptr},
        {"Saturday_end 1700;", 0, nullptr,
         [](const distrib& d) {
             EXPECT_EQ(d.saturday_start->start_time, 0);
             EXPECT_EQ(d.saturday_start->end_time, 61200);
         }},
        {"Saturday_start 0800;\nSaturday_start 0900;", 1, "Duplicate saturday_start specification",
         nullptr},
        {"Sunday_start 0800;\nSunday_start 0900;", 1, "Duplicate sunday_start specification",
         nullptr},
        {"Mon_Fri_start 800;", 1, "Incorrect length for mon_fri_start (4)", nullptr},
        {"Sunday_end 17000;", 1, "Incorrect length for sunday_end (4)", nullptr},
        {"Saturday_start 0800;", 1, "saturday_start without saturday_end in process collector",
         nullptr},
        {"saturday_start 0800;", 1, "Unknown keyword (saturday_start)", nullptr},
        {"server_id ABC;", 0, nullptr,
         [](const distrib& d) { EXPECT_EQ(std::string(d.server_id), "ABC     "); }},
        {"server_id ABCDEFGH;", 0, nullptr,
         [](const distrib& d) { EXPECT_EQ(std::string(d.server_id), "ABCDEFGH"); }},
        {"server_id " + std::string(33, 'S') + ";", 0, nullptr,
         [](const distrib& d) { EXPECT_EQ(field(d.server_id, 33), std::string(33, 'S')); }},
        {"server_id " + std::string(34, 'S') + ";", 1, "Excessive length for server_id", nullptr},
        {"interval 9999;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.interval, 9999); }},
        {"interval 10000;", 1, "Invalid interval length (5)", nullptr},
        {"interval 0;", 1, "Invalid interval value (0)", nullptr},
        {"interval -5;", 1, "Invalid interval value (-5)", nullptr},
        {"interval 60;\ninterval 70;", 1, "Duplicate interval", nullptr},
        {"interval 60; hold N;", 0, nullptr,
         [](const distrib& d) {
             EXPECT_EQ(d.interval, 60);
             EXPECT_EQ(d.held, '\0');
         }},
        {"interval\n   60;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.interval, 60); }},
        {"hold yes;", 1, "Hold is not YES/NO", nullptr},
        {"hold Yes;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.held, 'Y'); }},
        {"hold NO;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.held, 'N'); }},
        {"class 3 3;", 0, "Warning - Class repeditively specified",
         [](const distrib& d) {
             EXPECT_EQ(d.classes[0], 1);
             EXPECT_EQ(d.classes[3], 1);
             EXPECT_EQ(d.classes[2], 0);
         }},
        {"class 49;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.classes[49], 1); }},
        {"class 50;", 1, "Class exceeds range", nullptr},
        {"class -1;", 1, "Class exceeds range", nullptr},
        {"class x;", 1, "Invalid class number (x)", nullptr},
        {"machine_id ( hostA;", 1, "Parentheses do not balance", nullptr},
        {"sleep 30;", 0, nullptr, [](const distrib&) { EXPECT_EQ(sleep_time, 30); }},
        {"sleep 0;", 1, "Invalid sleep value (0)", nullptr},
        {"sleep 12345;", 1, "Invalid sleep length (5)", nullptr},
        {"type localhost;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.type, DT_LOCAL); }},
        {"type LOCAL;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.type, DT_LOCAL); }},
        {"type dial;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.type, DT_DIAL); }},
        {"type sql*net;\nserver_id SYB;", 0, nullptr,
         [](const distrib& d) { EXPECT_EQ(d.type, DT_SQLNET); }},
        {"type SQL*NET;", 1, "Server_id required for sql*net", nullptr},
        {"type oracle;", 1, "Unrecognized type:oracle", nullptr},
        {"type ctlib;\ntype local;", 1, "Duplicate type specification", nullptr},
        {"logon_id a b;", 1, "Duplicate logon_id specification", nullptr},
        {"logon_id " + std::string(33, 'L') + ";", 0, nullptr,
         [](const distrib& d) { EXPECT_EQ(field(d.logon_id, 33), std::string(33, 'L')); }},
        {"logon_id " + std::string(34, 'L') + ";", 1, "Excessive length for logon_id", nullptr},
        {"password " + std::string(100, 'p') + ";", 0, nullptr,
         [](const distrib& d) { EXPECT_EQ(field(d.password, 100), std::string(100, 'p')); }},
        {"password " + std::string(101, 'p') + ";", 1, "Excessive length for password", nullptr},
        {"password Pw1;", 0, nullptr,
         [](const distrib& d) { EXPECT_EQ(std::string(d.password), "Pw1"); }},
        {"password a;\npassword b;", 1, "Duplicate password specification", nullptr},
        {"continuous Y;", 0, nullptr, [](const distrib& d) { EXPECT_EQ(d.continuous, 'Y'); }},
        {"continuous maybe;", 1, "Continuous is not YES/NO", nullptr},
        {"send_false Y;", 1, "Send_false is valid only for the evaluator", nullptr},
        {"machine_id hostA;", 0, nullptr,
         [](const distrib&) {
             EXPECT_EQ(std::string(machine_id.mach, 64), "hostA" + std::string(59, ' '));
         }},
        {"MACHINE_ID " + std::string(64, 'M') + ";", 0, nullptr,
         [](const distrib&) { EXPECT_EQ(std::string(machine_id.mach, 64), std::string(64, 'M')); }},
        {"machine_id " + std::string(65, 'M') + ";", 1, "Excessive length for Machine_id", nullptr},
        {"INTERVAL 30;\nHOLD N;", 0, nullptr,
         [](const distrib& d) {
             EXPECT_EQ(d.interval, 30);
             EXPECT_EQ(d.held, 'N');
         }},
        {"Interval 30;", 1, "Unknown keyword (Interval)", nullptr},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.statements.substr(0, 80));
        LogCapture log;
        EXPECT_EQ(parse(collector_with(k.statements)), k.rc) << log.text();
        if (k.logged != nullptr) {
            EXPECT_TRUE(log.has(k.logged)) << log.text();
        }
        if (k.rc != 0) {
            EXPECT_TRUE(log.has("Parsing ended with errors"));
        }
        if (k.check) {
            distrib* d = find("collector");
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(collector_at, k.rc == 0 ? d : nullptr);
            k.check(*d);
        }
        reset();
    }
}

TEST_F(ProcessFile, MinimalCollector) {
    LogCapture log;
    ASSERT_EQ(parse("process collector;\ntype ctlib;\nlogon_id sa;\npassword pw;\ninterval 60;\n"
                    "end;\n"),
              0)
        << log.text();
    ASSERT_NE(collector_at, nullptr);
    EXPECT_EQ(collector_at, distrib_anchor);
    EXPECT_EQ(distrib_anchor->next, nullptr);
    EXPECT_EQ(collector_at->type, DT_CTLIB);
    EXPECT_EQ(collector_at->interval, 60);
    EXPECT_EQ(collector_at->classes[0], 1);
    EXPECT_EQ(collector_at->state, 1);
    EXPECT_EQ(collector_at->saturday_start, &full_day);
    EXPECT_EQ(collector_at->sunday_start, &full_day);
    EXPECT_EQ(collector_at->mon_fri_start, &full_day);
    // The whole of today is the window.
    EXPECT_EQ(collector_at->window_start, at("20261210000000"));
    EXPECT_EQ(collector_at->window_end, at("20261211000000"));
    EXPECT_EQ(have_evaluator, 0);
    EXPECT_TRUE(log.has("-- Starting parse of PROCESS.CTL -- Time = 2026/12/10 14:30:05"));
    EXPECT_TRUE(log.has("--  Process Parsing ended at 2026/12/10 14:30:05"));
    EXPECT_FALSE(log.has("Parsing ended with errors"));
}

TEST_F(ProcessFile, OfficeFixture) {
    LogCapture log;
    ASSERT_EQ(deftest::parse_fixture(parse_distributor_file, "proc_office.ctl"), 0) << log.text();

    const char* order[] = {"collector", "evaluator", "historian"};
    distrib* d = distrib_anchor;
    for (const char* name : order) {
        ASSERT_NE(d, nullptr);
        EXPECT_STREQ(d->distrib_name, name);
        d = d->next;
    }
    EXPECT_EQ(d, nullptr);  // statements after end are not read

    distrib* col = find("collector");
    EXPECT_EQ(collector_at, col);
    EXPECT_EQ(col->type, DT_CTLIB);
    EXPECT_EQ(std::string(col->logon_id), "sa");
    EXPECT_EQ(std::string(col->password), "Secret#1");
    EXPECT_EQ(std::string(col->server_id), "SYB1    ");
    EXPECT_EQ(col->mon_fri_start->start_time, 8 * 3600);
    EXPECT_EQ(col->mon_fri_start->end_time, 18 * 3600);
    EXPECT_EQ(col->saturday_start->start_time, 9 * 3600);
    EXPECT_EQ(col->saturday_start->end_time, 12 * 3600);
    EXPECT_EQ(col->sunday_start, &full_day);
    EXPECT_EQ(col->continuous, 'Y');
    EXPECT_EQ(col->classes[1] + col->classes[2], 2);
    EXPECT_EQ(col->window_start, at("20261210080000"));
    EXPECT_EQ(col->window_end, at("20261210180000"));
    EXPECT_EQ(sleep_time, 5);
    EXPECT_EQ(std::string(machine_id.mach, 64), "hostA" + std::string(59, ' '));

    distrib* ev = find("evaluator");
    EXPECT_EQ(have_evaluator, 1);
    EXPECT_EQ(ev->type, DT_LOCAL);
    EXPECT_EQ(ev->send_false, 1);
    EXPECT_EQ(ev->held, 'N');
    EXPECT_EQ(ev->classes[2], 1);
    EXPECT_EQ(ev->window_start, at("20261210000000"));

    // Its window moves one hour earlier; today's has passed, tomorrow is a holiday, and
    // Saturday, which names no window, is open all day.
    distrib* hist = find("historian");
    EXPECT_EQ(hist->time_offset, 3600);
    EXPECT_EQ(hist->mon_fri_start->start_time, 5 * 3600);
    EXPECT_EQ(hist->mon_fri_start->end_time, 6 * 3600);
    EXPECT_EQ(hist->holiday[0], relative_date("20261211"));
    EXPECT_EQ(hist->holiday[1], 0);
    EXPECT_TRUE(log.has("Comment: Holiday is in the past"));
    EXPECT_EQ(hist->held, 'Y');
    EXPECT_EQ(hist->window_start, at("20261212000000"));
    EXPECT_EQ(hist->window_end, at("20261213000000"));
}

TEST_F(ProcessFile, ErrorsFixtureReportsTheFirstValueErrorAndTheClosingChecks) {
    LogCapture log;
    EXPECT_EQ(deftest::parse_fixture(parse_distributor_file, "proc_errors.ctl"), 1);
    std::string text = log.text();
    EXPECT_TRUE(log.has("Class exceeds range")) << text;
    // The later value statements are skipped: the collector's hold, the historian's
    // interval.
    EXPECT_TRUE(log.has("No Process interval specified")) << text;
    EXPECT_TRUE(log.has("Parsing ended with errors"));
    EXPECT_FALSE(log.has("Missing end statement"));
    EXPECT_FALSE(log.has("Duplicate"));
    distrib* col = find("collector");
    ASSERT_NE(col, nullptr);
    EXPECT_EQ(col->held, '\0');
    EXPECT_EQ(find("historian"), nullptr);
    EXPECT_EQ(collector_at, nullptr);
}

TEST_F(ProcessFile, ErrorsThatFailTheParse) {
    struct c {
        const char* text;
        const char* logged;
    } cases[] = {
        {"interval 60;\nprocess collector;\n", "First word must be 'process'"},
        {"process;\n", "No Process name supplied"},
        {"process aaaaaaaaaaaaaaaaaaaaaaaaa;\n", "Process name exceeeds 24 characters"},
        {"process collector;\ninterval 60;\nend;\n", "No Process type specified"},
        {"process collector;\ntype ctlib;\nend;\n", "No Process interval specified"},
        {"process collector;\ntype ctlib;\ninterval 60;\n", "Missing end statement"},
        {"process collector;\ntype ctlib;\ninterval 60;\nbogus 1;\nend;\n",
         "Unknown keyword (bogus)"},
        {"process collector2;\ninterval 60;\nend;\n", "No Process type specified"},
        {"process coll;\ninterval 60;\nend;\n", "Must have a process named 'collector'"},
        {"process collector2;\ntype local;\ninterval 60;\nend;\n",
         "Must have a process named 'collector'"},
        {"process collector;\ntype ctlib;\ninterval 60;\nlogon_id 'sa;\nend;\n",
         "Parsing failed : Syntax error"},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.text);
        LogCapture log;
        EXPECT_EQ(parse(k.text), 1);
        EXPECT_TRUE(log.has(k.logged)) << log.text();
        EXPECT_EQ(collector_at, nullptr);
        reset();
    }
}

TEST_F(ProcessFile, MissingEndLeavesTheLastBlockOut) {
    LogCapture log;
    EXPECT_EQ(parse("process collector;\ntype ctlib;\ninterval 60;\n"
                    "process nulv;\ntype local;\ninterval 30;\n"),
              1);
    EXPECT_TRUE(log.has("Missing end statement"));
    ASSERT_NE(distrib_anchor, nullptr);
    EXPECT_STREQ(distrib_anchor->distrib_name, "collector");
    EXPECT_EQ(distrib_anchor->next, nullptr);
}

TEST_F(ProcessFile, DuplicateProcessNameEndsAtOnce) {
    LogCapture log;
    EXPECT_EQ(parse("process collector;\ntype ctlib;\ninterval 60;\n"
                    "process collector;\ntype local;\ninterval 30;\nend;\n"),
              1);
    EXPECT_TRUE(log.has("Duplicate process name: collector"));
    EXPECT_FALSE(log.has("Process Parsing ended"));
    EXPECT_FALSE(log.has("Parsing ended with errors"));
    EXPECT_EQ(collector_at, nullptr);
}

TEST_F(ProcessFile, PendingStartIsNotCarriedIntoTheNextBlock) {
    LogCapture log;
    EXPECT_EQ(parse("process nulv;\ntype local;\ninterval 30;\nMon_Fri_start 0800;\n"
                    "process collector;\ntype ctlib;\ninterval 60;\nend;\n"),
              1);
    EXPECT_TRUE(log.has("mon_fri_start without mon_fri_end in process nulv")) << log.text();
    EXPECT_FALSE(log.has("in process collector"));
}

TEST_F(ProcessFile, CollectorNameIsExactButCollectorPrefixNeedsAType) {
    LogCapture log;
    ASSERT_EQ(parse("process collector2;\ntype local;\ninterval 30;\n"
                    "process collector;\ntype ctlib;\ninterval 60;\nend;\n"),
              0)
        << log.text();
    EXPECT_STREQ(collector_at->distrib_name, "collector");
    EXPECT_STREQ(distrib_anchor->distrib_name, "collector2");
    // A process whose name begins with evaluator counts as the evaluator.
    reset();
    ASSERT_EQ(parse("process evaluator_1;\ninterval 30;\n"
                    "process collector;\ntype ctlib;\ninterval 60;\nend;\n"),
              0);
    EXPECT_EQ(have_evaluator, 1);
}

TEST_F(ProcessFile, PasswordIsNeverEchoed) {
    LogCapture log;
    trace_something = 1;
    ASSERT_EQ(parse("process collector;\ntype ctlib;\n  password\n   Secret#1\n   ;\n"
                    "interval 60;\n; password Old#2 in a comment\nPASSWORD Other#3;\nend;\n"),
              1);  // the second password statement is a duplicate
    std::string text = log.text();
    EXPECT_EQ(text.find("Secret#1"), std::string::npos) << text;
    EXPECT_EQ(text.find("Other#3"), std::string::npos) << text;
    EXPECT_NE(text.find("  password ***"), std::string::npos) << text;
    EXPECT_NE(text.find("PASSWORD ***"), std::string::npos) << text;
    EXPECT_NE(text.find("interval 60;"), std::string::npos) << text;
    EXPECT_NE(text.find("type ctlib;"), std::string::npos) << text;
}

TEST_F(ProcessFile, ReadsTheFileTheSearchFindsAndReplacesAnEarlierList) {
    LogCapture log;
    deftest::definition_home home;
    home.write("proc",
               "process collector;\ntype ctlib;\ninterval 60;\nprocess nulv;\n"
               "type local;\ninterval 30;\nend;\n");
    ASSERT_EQ(parse_distributor(), 0) << log.text();
    ASSERT_NE(collector_at, nullptr);
    distrib* first = distrib_anchor;
    ASSERT_NE(first->next, nullptr);

    home.write("proc", "process collector;\ntype local;\ninterval 90;\nend;\n");
    ASSERT_EQ(parse_distributor(), 0);
    EXPECT_EQ(collector_at->interval, 90);
    EXPECT_EQ(distrib_anchor->next, nullptr);

    // The release the engine installs as its del_distributor_hook.
    distrib_free_all();
    EXPECT_EQ(distrib_anchor, nullptr);
    EXPECT_EQ(collector_at, nullptr);
}

TEST(DistribKeyWord, SpellingsAndLengths) {
    struct c {
        const char* word;
        int code;
    } cases[] = {
        {"process", 1},
        {"PROCESS", 1},
        {"Process", 0},
        {"type", 2},
        {"logon_id", 3},
        {"password", 4},
        {"Saturday_start", 6},
        {"SATURDAY_START", 6},
        {"saturday_start", 0},
        {"Saturday_end", 7},
        {"Sunday_start", 8},
        {"Sunday_end", 9},
        {"Mon_Fri_start", 10},
        {"MON_FRI_START", 10},
        {"mon_fri_start", 0},
        {"Mon_Fri_end", 11},
        {"interval", 12},
        {"holiday", 13},
        {"server_id", 14},
        {"time_offset", 16},
        {"sleep", 21},
        {"hold", 22},
        {"continuous", 23},
        {"class", 24},
        {"send_false", 25},
        {"machine_id", 26},
        {"end", 27},
        {"END", 27},
        {"en", 0},
        {"ends", 0},
    };
    for (const c& k : cases)
        EXPECT_EQ(distrib_key_word(k.word, static_cast<int32_t>(std::strlen(k.word))), k.code)
            << k.word;
    // The word is compared over exactly the given length.
    EXPECT_EQ(distrib_key_word("endless", 3), 27);
    EXPECT_EQ(distrib_key_word("process", 6), 0);
}

}  // namespace
