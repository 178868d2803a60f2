#include "defs/cursor_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/trace.h"
#include "testing/cursor_test_support.h"
#include "testing/log_capture.h"

namespace {

using curstest::body;
using curstest::find;
using curstest::parse;

std::string block(const std::string& name, const std::string& extra) {
    return "cursor " + name + ";\n" + body() + extra;
}

TEST(CursorFile, SmallFileParses) {
    LogCapture log;
    ASSERT_EQ(parse(block("C1", "interval 60;\n") + "end;\n"), 0) << log.text();
    curs* c = find("C1");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->interval, 60);
    EXPECT_EQ(c->limit, 200);
    EXPECT_EQ(c->num_hvs, 2);
    EXPECT_STREQ(c->table_name, "T1");
    EXPECT_STREQ(c->host_table, "T1");
    ASSERT_NE(c->insert_select, nullptr);
    EXPECT_STREQ(c->insert_select->text, "SELECT A,B FROM T1");
    EXPECT_EQ(c->cur_version_list, c);
    EXPECT_EQ(c->if_tree_place, c);
    EXPECT_EQ(c->if_tree, nullptr);
    EXPECT_EQ(c->mon_fri_start, &full_day);
    EXPECT_EQ(std::string(c->ssqlcode, 16), std::string(16, ' '));
    EXPECT_TRUE(log.has("-- Starting parse of COLLECT.CTL -- Time = "));
    EXPECT_TRUE(log.has("--  Collector Parsing ended at "));
    EXPECT_FALSE(log.has("Parsing ended with errors"));
}

struct first_case {
    const char* text;
    const char* id;
    const char* message;
};

TEST(CursorFile, FirstStatementRules) {
    const first_case cases[] = {
        {"Cursor a;\nend;\n", "PCC0325", "First word must be 'cursor'"},
        {"end;\n", "PCC0320", "First word must be 'cursor'"},
        {"interval 10;\nend;\n", "PCC0320", "First word must be 'cursor'"},
        {"demand;\nend;\n", "PCC0325", "First word must be 'cursor'"},
        {"curs a;\nend;\n", "PCC0315", "Unknown keyword (curs)"},
        {"CURSOR;\nend;\n", "PCC0445", "No Cursor name supplied"},
        {"cursor ABCDEFGHI;\nend;\n", "PCC0450", "Cursor name exceeeds 8 characters"},
    };
    for (const first_case& k : cases) {
        LogCapture log;
        EXPECT_EQ(parse(k.text), 1) << k.text;
        EXPECT_TRUE(log.has(k.id)) << k.text << log.text();
        EXPECT_TRUE(log.has(k.message)) << k.text << log.text();
    }
}

TEST(CursorFile, CapitalCursorKeywordOpensABlock) {
    LogCapture log;
    EXPECT_EQ(parse(std::string("CURSOR C1;\n") + body() + "END;\n"), 0) << log.text();
}

TEST(CursorFile, NameAndEndLines) {
    {
        LogCapture log;
        EXPECT_EQ(parse("cursor ABCDEFGHI;\n"), 1);
        EXPECT_TRUE(log.has("Missing end statement")) << log.text();
    }
    {
        LogCapture log;
        EXPECT_EQ(parse(block("C1", "")), 1);
        EXPECT_TRUE(log.has("PCC0730")) << log.text();
        EXPECT_TRUE(log.has("Missing end statement")) << log.text();
        EXPECT_TRUE(log.has("Parsing ended with errors")) << log.text();
    }
    {
        LogCapture log;
        EXPECT_EQ(parse(block("C1", "") + block("C1", "") + "end;\n"), 1);
        EXPECT_TRUE(log.has("Duplicate cursor name C1")) << log.text();
        EXPECT_FALSE(log.has("Collector Parsing ended")) << log.text();
    }
    {
        // Statements after end are not read.
        LogCapture log;
        EXPECT_EQ(parse(block("C1", "") + "end;\nnonsense;\n"), 0) << log.text();
    }
}

struct value_case {
    const char* statement;  // written twice in one statement or given a long value
    const char* id;
    const char* message;
};

// Every value keyword: a second value meets the duplicate test;\na long value is refused.
TEST(CursorFile, ValueKeywordDuplicatesAndLengths) {
    const value_case cases[] = {
        {"interval 10 20", "PCC0560", "Duplicate interval"},
        {"interval 1234567", "PCC0565", "Invalid interval length (5)"},
        {"limit 10 20", "PCC0620", "Duplicate Limit"},
        {"limit 12345", "PCC0625", "Invalid Limit length (5)"},
        {"time 10 20", "PCC0680", "Duplicate Time Limit"},
        {"time 12345", "PCC0685", "Invalid Time Limit length (5)"},
        {"class 1 2", "PCC0690", "Duplicate Class Specified"},
        {"class 12345", "PCC0695", "Invalid Class length (5)"},
        {"class 51", "PCC0700", "Excessive Class value"},
        {"class 50", "PCC0700", "Excessive Class value"},  // the collector has classes 0 to 49
        {"stale 10 20", "PCC0640", "Duplicate Stale time"},
        {"stale 1234567", "PCC0645", "Invalid interval length (5)"},
        {"objid 1 2", "PCC0610", "Duplicate objid"},
        {"objid 1234567", "PCC0615", "Invalid set length (7)"},
        {"set 1 2", "PCC0590", "Duplicate set"},
        {"set 12345", "PCC0595", "Invalid Set length (5)"},
        {"rpc_version 1 2", "PCC0600", "Duplicate rpc_version"},
        {"rpc_version 12345", "PCC0605", "Invalid Rpc_version length (5)"},
        {"samples 12345", "PCC0635", "Invalid Sample (5)"},
        {"start_after 1 2", "PCC0570", "Duplicate start_after"},
        {"start_after 1234", "PCC0575", "Invalid start_after (4)"},
        {"stop_after 1 2", "PCC0580", "Duplicate stop_after"},
        {"stop_after 1234", "PCC0585", "Invalid stop_after (4)"},
        {"go_home 12345", "PCC0630", "Invalid Go_home length (5)"},
        {"uuidbase a-b c-d", "PCC0650", "Duplicate Uuidbase"},
        {"uuidbase 0123456789-0123456789-0123456789-0123456", "PCC0655",
         "Invalid Uuidbase length (36)"},
        {"uuidpavc a b", "PCC0660", "Duplicate Uuidpavc"},
        {"uuidpavc 0123456789012345678901234567890123456", "PCC0665",
         "Invalid Uuidpavc length (36)"},
        {"uuidpcvc a b", "PCC0670", "Duplicate Uuidpcvc"},
        {"uuidpcvc 0123456789012345678901234567890123456", "PCC0675",
         "Invalid Uuidpcvc length (36)"},
        {"age_to A B", "PCC0705", "Duplicate age_to entry"},
        {"age_to ABCDEFGHI", "PCC0710", "Excessive length on age_to name"},
        {"saturday_start 0800 0900", "PCC0550", "Duplicate saturday_start specification"},
        {"saturday_start 800", "PCC0555", "Incorrect length for saturday_start (4)"},
        {"saturday_end 12000", "PCC0565", "Incorrect length for saturday_end (4)"},
        {"sunday_start 0800 0900", "PCC0530", "Duplicate sunday_start specification"},
        {"sunday_start 08000", "PCC0535", "Incorrect length for sunday_start (4)"},
        {"sunday_end 120", "PCC0545", "Incorrect length for sunday_end (4)"},
        {"mon_fri_start 0800 0900", "PCC0510", "Duplicate mon_fri_start specification"},
        {"mon_fri_start 80", "PCC0515", "Incorrect length for mon_fri_start (4)"},
        {"mon_fri_end 1", "PCC0525", "Incorrect length for mon_fri_end (4)"},
        {"insert_where A = 1;\ninsert_where B = 2", "PCC0495", "Duplicate insert_where entry"},
        {"insert_select SELECT A, B FROM T1;\ninsert_select SELECT A, B FROM T2", "PCC0500",
         "Duplicate insert_select entry"},
        {"script a;\nscript b", "PCC0490", "Duplicate script entry"},
        {"fetch_exit fetchx1;\nfetch_exit fetchx2", "PCC0480", "Duplicate fetch_exit entry"},
        {"fetch_exit fetchy", "PCC0485", "Fetch exit routine not known"},
        {"INSERT INTO T2 (A, B) VALUES (:A, :B)", "PCC0465", "Duplicate INSERT entry"},
    };
    for (const value_case& k : cases) {
        LogCapture log;
        std::string text = block("C1", std::string(k.statement) + ";\n") + "end;\n";
        EXPECT_EQ(parse(text), 1) << k.statement;
        EXPECT_TRUE(log.has(k.id)) << k.statement << "\n" << log.text();
        EXPECT_TRUE(log.has(k.message)) << k.statement << "\n" << log.text();
        EXPECT_TRUE(log.has("Parsing ended with errors")) << k.statement;
    }
}

TEST(CursorFile, ValuesWithinTheirLimitsAreStored) {
    LogCapture log;
    const std::string uuid = "6b1f0c2e-0d6a-11d0-8f3a-0800096a2c55";
    ASSERT_EQ(
        parse(block("C1",
                    "limit 9999;\ntime 30;\nclass 49;\nobjid 123456;\nset 7;\nrpc_version 3;\n"
                    "samples 12;\nstart_after 999;\nstop_after 5;\nuuidbase " +
                        uuid +
                        ";\nage_to C2;\ntable_name dbo.T9;\nhistory;\nhold;\n"
                        "show_cursor;\nshow_row;\nempty;\ntracem;\n") +
              "end;\n"),
        0)
        << log.text();
    curs* c = find("C1");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->limit, 9999);
    EXPECT_EQ(c->time_limit, 30);
    EXPECT_EQ(c->klass, 49);
    EXPECT_EQ(c->objid, 123456);
    EXPECT_EQ(c->set, 7);
    EXPECT_EQ(c->rpc_version, 3);
    EXPECT_EQ(c->samples, 12);
    EXPECT_EQ(c->start_after, 999);
    EXPECT_EQ(c->stop_after, 5);
    EXPECT_STREQ(c->uuidbase, uuid.c_str());
    EXPECT_STREQ(c->age_to_name, "C2");
    // The table name keyword replaces the name the INSERT gave.
    EXPECT_STREQ(c->table_name, "dbo.T9");
    EXPECT_EQ(c->history, 1);
    EXPECT_EQ(c->held, 'Y');
    EXPECT_EQ(c->show_cursor, 1);
    EXPECT_EQ(c->show_row, 1);
    EXPECT_EQ(c->empty, 1);
    EXPECT_EQ(c->tracem, 1);
    EXPECT_EQ(trace_something, 1);
}

TEST(CursorFile, GoHomeIsRelativeToNow) {
    LogCapture log;
    char now[15];
    get_time(now);
    const int64_t before = relative_sec(now);
    ASSERT_EQ(parse(block("C1", "go_home 600;\n") + "end;\n"), 0) << log.text();
    get_time(now);
    const int64_t after = relative_sec(now);
    EXPECT_GE(go_home_time, before + 600);
    EXPECT_LE(go_home_time, after + 600);
}

TEST(CursorFile, DayWindows) {
    LogCapture log;
    ASSERT_EQ(parse(block("C1",
                          "saturday_start 0800;\nsaturday_end 1200;\nsaturday_start 1300;\n"
                          "saturday_end 1700;\nsunday_end 0100;\n"
                          "mon_fri_start 2200;\nmon_fri_end 0200;\n") +
                    "end;\n"),
              0)
        << log.text();
    curs* c = find("C1");
    ASSERT_NE(c, nullptr);
    operate* s = c->saturday_start;
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->start_time, 28800);
    EXPECT_EQ(s->end_time, 43200);
    ASSERT_NE(s->next, nullptr);
    EXPECT_EQ(s->next->start_time, 46800);
    EXPECT_EQ(s->next->end_time, 61200);
    EXPECT_EQ(s->next->next, nullptr);
    ASSERT_NE(c->sunday_start, nullptr);
    EXPECT_EQ(c->sunday_start->start_time, 0);
    EXPECT_EQ(c->sunday_start->end_time, 3600);
    ASSERT_NE(c->mon_fri_start, nullptr);
    EXPECT_EQ(c->mon_fri_start->start_time, 79200);
    EXPECT_EQ(c->mon_fri_start->end_time, 93600);
}

struct default_case {
    const char* extra;
    int32_t interval;
    int32_t limit;
    bool interval_warning;
    bool limit_warning;
};

TEST(CursorFile, DefaultIntervalAndLimitOnlyForScheduledCursors) {
    const default_case cases[] = {
        {"", 10, 200, true, true},          {"demand;\n", 0, 0, false, false},
        {"virtual;\n", 0, 0, false, false}, {"interval 30;\n", 30, 200, false, true},
        {"time 20;\n", 10, 0, true, false},
    };
    for (const default_case& k : cases) {
        LogCapture log;
        ASSERT_EQ(parse(block("C1", k.extra) + "end;\n"), 0) << k.extra << log.text();
        curs* c = find("C1");
        ASSERT_NE(c, nullptr);
        EXPECT_EQ(c->interval, k.interval) << k.extra;
        EXPECT_EQ(c->limit, k.limit) << k.extra;
        EXPECT_EQ(log.has("Using default interval of 10 seconds for cursor C1"), k.interval_warning)
            << k.extra;
        EXPECT_EQ(log.has("Warning, No cursor row limit, using 200 rows"), k.limit_warning)
            << k.extra;
    }
}

struct check_case {
    const char* extra;
    const char* id;
    const char* message;
};

TEST(CursorFile, BlockChecks) {
    const check_case cases[] = {
        {"dummy_last_row;\nconditional_dummy_last_row;\n", "PCC0350",
         "Conditional_dummy_last_row and dummy_last_row are exclusive"},
        {"once;\nempty;\n", "PCC0390", "Empty and Once are incompatable"},
        {"no_sql;\ninsert_select SELECT A, B FROM T1;\n", "PCC0400",
         "NO_SQL and INSERT_SELECT are incompatable"},
        {"no_sql;\nvirtual;\n", "PCC0405", "NO_SQL and VIRTUAL are incompatable"},
        {"no_sql;\nbase C2 on A -> B;\n", "PCC0410", "NO_SQL and BASE are incompatable"},
        {"iterate_where A = 1;\n", "PCC0415", "ITERATE_WHERE requires ITERATE"},
        {"stale 30;\n", "PCC0340", "Error - Stale only valid with demand cursor"},
        {"fetch_exit fetchx1;\n", "PCC0440", "Fetch exit fetchx1 requires 'script' and 'select'"},
        {"virtual;\nif 1 = 1;\nlimit 5;\nendif;\n", "PCC0443",
         "A virtual cursor (C1) can't be conditional"},
    };
    for (const check_case& k : cases) {
        LogCapture log;
        EXPECT_EQ(parse(block("C1", k.extra) + "end;\n"), 1) << k.extra;
        EXPECT_TRUE(log.has(k.id)) << k.extra << "\n" << log.text();
        EXPECT_TRUE(log.has(k.message)) << k.extra << "\n" << log.text();
    }
}

TEST(CursorFile, IterateWhereWithIterateIsAccepted) {
    LogCapture log;
    EXPECT_EQ(
        parse(block("C0", "") + block("C1", "iterate C0;\niterate_where A = 1;\n") + "end;\n"), 0)
        << log.text();
}

TEST(CursorFile, BlockWithoutInsert) {
    {
        LogCapture log;
        EXPECT_EQ(parse("cursor C1;\ntable_name T1;\nend;\n"), 1);
        EXPECT_TRUE(log.has("No model INSERT statement")) << log.text();
        EXPECT_TRUE(log.has("No local columns to fetch for insert")) << log.text();
        EXPECT_TRUE(log.has("Parsing ended with errors")) << log.text();
    }
    {
        // Host variables but no INSERT.
        LogCapture log;
        EXPECT_EQ(parse("cursor C1;\ninsert_where X = :A;\ntable_name T1;\nend;\n"), 1);
        EXPECT_TRUE(log.has("No model INSERT statement")) << log.text();
        EXPECT_FALSE(log.has("No local columns")) << log.text();
    }
}

TEST(CursorFile, InsertColumnsMustMatchHostVariables) {
    LogCapture log;
    EXPECT_EQ(parse("cursor C1;\nINSERT INTO T1 (A, B, C) VALUES (:A, :B);\nend;\n"), 1);
    EXPECT_TRUE(log.has("PCC0470")) << log.text();
    EXPECT_TRUE(log.has("On INSERT, num of cols (3) is not num HVs (2)")) << log.text();
    EXPECT_TRUE(log.has("Col #0 = A")) << log.text();
    EXPECT_TRUE(log.has("Col #1 = B")) << log.text();
}

TEST(CursorFile, InsertTableNames) {
    {
        LogCapture log;
        ASSERT_EQ(parse("cursor C1;\nINSERT INTO master..T1 (A) VALUES (:A);\nend;\n"), 0)
            << log.text();
        EXPECT_STREQ(find("C1")->host_table, "master..T1");
    }
    const check_case bad[] = {
        {"INSERT INTO a. (A) VALUES (:A);\n", "PCC0715", "Invalid table name format"},
        {"INSERT INTO .T1 (A) VALUES (:A);\n", "PCC0720", "Invalid table name format"},
        {"INSERT INTO T1. (A) VALUES (:A);\n", "PCC0720", "Invalid table name format"},
    };
    for (const check_case& k : bad) {
        LogCapture log;
        EXPECT_EQ(parse(std::string("cursor C1;\n") + k.extra + "end;\n"), 1) << k.extra;
        EXPECT_TRUE(log.has(k.id)) << k.extra << log.text();
        EXPECT_TRUE(log.has(k.message)) << k.extra << log.text();
    }
}

TEST(CursorFile, UnbalancedParenthesesStopReading) {
    LogCapture log;
    EXPECT_EQ(parse(block("C1", "insert_where (A = 1;\ninterval 1 2;\n") + "end;\n"), 1);
    EXPECT_TRUE(log.has("PCC0725")) << log.text();
    EXPECT_TRUE(log.has("Parentheses do not balance")) << log.text();
    EXPECT_FALSE(log.has("Duplicate interval")) << log.text();
}

TEST(CursorFile, InsertSelectWithBracketsMarksHostVariables) {
    LogCapture log;
    ASSERT_EQ(
        parse(block("C1", "insert_select SELECT A, B FROM T1 WHERE X = [C0.A];\n") + "end;\n"), 0)
        << log.text();
    curs* c = find("C1");
    EXPECT_EQ(c->has_hvs_in_sel, 1);
    EXPECT_STREQ(c->raw_insert_select, "SELECT A, B FROM T1 WHERE X = [C0.A]    ");
}

TEST(CursorFile, LoadTextsAreKeptInOrder) {
    LogCapture log;
    ASSERT_EQ(parse(block("C1", "load A to V.X;\nload B to V.Y;\n") + "end;\n"), 0) << log.text();
    curs* c = find("C1");
    ASSERT_NE(c->loadt, nullptr);
    EXPECT_EQ(std::string(c->loadt->text).rfind("A to V.X", 0), 0u);
    ASSERT_NE(c->loadt->next, nullptr);
    EXPECT_EQ(std::string(c->loadt->next->text).rfind("B to V.Y", 0), 0u);
}

TEST(CursorFile, ErrorInOneBlockStillChecksTheFollowingBlocks) {
    LogCapture log;
    EXPECT_EQ(parse(block("C1", "interval 1 2;\n") + "cursor C2;\ntable_name T;\nend;\n"), 1);
    EXPECT_TRUE(log.has("Duplicate interval")) << log.text();
    EXPECT_TRUE(log.has("No model INSERT statement")) << log.text();
}

struct exit_case {
    const char* word;
    const char* name;
    int16_t format_type;
    int32_t option;
    int32_t optval;
};

TEST(CursorFile, FetchExitWords) {
    const exit_case cases[] = {
        {"FETCHX2", "fetchx2", 2, 0, 0},     {"fetchx1t", "fetchx1", 1, 1, 30},
        {"fetchx1t60", "fetchx1", 1, 1, 60}, {"fetchxi1", "fetchxi1", 9, 7, 0},
        {"fetchxi", "fetchxi", 9, 0, 0},     {"fetchx3p", "fetchx3", 3, 2, 0},
        {"fetchx1t0", "fetchx1", 1, 1, 30},  {"fetchx1tx9", "fetchx1", 1, 1, 30},
        {"fetchxt", "fetchxt", 1, 0, 0},     {"fetchx5q", "fetchx5", 5, 0, 0},
    };
    for (const exit_case& k : cases) {
        LogCapture log;
        std::string extra = std::string("fetch_exit ") + k.word +
                            " more words;\nscript echo 1 2;\ninsert_select SELECT A, B FROM T1;\n";
        curstest::set_aside();
        // The script-exit descriptor is typed by the dictionary;\nwithout entries the block
        // fails after the exit was taken, which is enough here.
        deftest::parse_text(parse_curs_file, block("C1", extra) + "end;\n");
        ASSERT_FALSE(log.has("Fetch exit routine not known")) << k.word;
        curs* c = find("C1");
        ASSERT_NE(c, nullptr) << k.word;
        ASSERT_NE(c->fetch_exit, nullptr) << k.word;
        EXPECT_STREQ(c->fetch_exit->name, k.name) << k.word;
        EXPECT_EQ(c->fetch_exit->format_type, k.format_type) << k.word;
        EXPECT_EQ(c->fetch_exit->option, k.option) << k.word;
        EXPECT_EQ(c->fetch_exit->optval, k.optval) << k.word;
    }
    // The table itself never changes.
    for (const fetch_ex* row = exits; row != nullptr; row = row->prior) {
        if (std::strcmp(row->name, "fetchxi1") == 0) {
            EXPECT_EQ(row->option, 7);
        } else {
            EXPECT_EQ(row->option, 0) << row->name;
        }
        EXPECT_EQ(row->optval, 0) << row->name;
    }
}

TEST(CursorFile, TraceAllSetsEveryCursor) {
    LogCapture log;
    ASSERT_EQ(parse(block("C1", "trace_all;\n") + block("C2", "") + "end;\n"), 0) << log.text();
    EXPECT_EQ(trace_all, 1);
    EXPECT_EQ(find("C1")->trace, 1);
    EXPECT_EQ(find("C2")->trace, 1);
}

TEST(CursorFile, CursorsGetTheCollectorDistributorAndAWindow) {
    LogCapture log;
    ASSERT_EQ(parse(block("C1", "") + "end;\n"), 0) << log.text();
    curs* c = find("C1");
    EXPECT_EQ(c->dist_ptr, collector_at);
    EXPECT_GT(c->window_end, 0);
}

}  // namespace
