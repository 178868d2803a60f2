#include "collector/transforms/column_exits.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "collector/rows/row_store.h"
#include "collector/startup/engine_hooks.h"
#include "defs/clause_exits.h"
#include "defs/cursor_versions.h"
#include "model/timebase.h"
#include "testing/case_names.h"
#include "testing/clause_fixture.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"
#include "testing/reader_support.h"

namespace {

// 4 bytes of a binary time followed by 12 blanks.
std::string binary_time(int32_t t) {
    std::string s(16, ' ');
    std::memcpy(s.data(), &t, sizeof(t));
    return s;
}

struct exit_case {
    const char* what;
    const char* clause;  // after the column name V
    int16_t len;
    int16_t orig_type;
    std::string value;
    std::string second;  // column W of the same row (CHAR(6))
    const char* fetch_time;
    int rc;
    std::string expected;
    const char* message;  // written, or null for none of "ccc"
    int16_t orig_type_after;
};

// A cursor CUR with columns V and W, one row, and the clause on V, bound and freed.
struct exit_world {
    cursortest::cursor cur;
    exit_world(int16_t len, int16_t orig_type, const std::string& value, const std::string& second)
        : cur("CUR", {cursortest::col_spec{"V", len, orig_type}, cursortest::col_spec{"W", 6, 1}}) {
        cur.add({value, second});
    }
    ~exit_world() {
        free_col_exits(cur.get()->cxl_ptr);
        cur.get()->cxl_ptr = nullptr;
    }
    columns* v() const { return cur.get()->insert_columns; }
    std::string value() const { return enginetest::value(cur.get()->last_row, v()); }
    int run() {
        return column_exit_driver(cur.get(), v(), cur.get()->last_row->text, v()->cxl_ptr);
    }
};

class Exits : public ::testing::TestWithParam<exit_case> {};

TEST_P(Exits, RewriteTheValue) {
    const exit_case& k = GetParam();
    curstest::set_aside();
    install_column_exits();
    LogCapture log;
    exit_world w(k.len, k.orig_type, k.value, k.second);
    clause_text text(std::string("V ") + k.clause);
    ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0) << log.text();
    ASSERT_EQ(edit_col_exits_pass(), 0) << log.text();
    std::strncpy(fetch_time_stamp, k.fetch_time, sizeof(fetch_time_stamp) - 1);
    const char after = w.cur.get()->last_row->text[w.v()->offset + k.len];
    EXPECT_EQ(w.run(), k.rc) << log.text();
    EXPECT_EQ(w.value(), k.expected) << log.text();
    EXPECT_EQ(w.cur.get()->last_row->text[w.v()->offset + k.len], after);  // nothing past L
    EXPECT_EQ(w.v()->orig_type, k.orig_type_after);
    if (k.message != nullptr)
        EXPECT_TRUE(log.has(k.message)) << log.text();
    else
        EXPECT_FALSE(log.has("CCC40") || log.has("CCF45")) << log.text();
}

const char* const kNoon = "2000010100004000";  // 2000-01-01 00:00:40

INSTANTIATE_TEST_SUITE_P(
    Table, Exits,
    ::testing::Values(
        exit_case{"r trailing blanks", "R_JUSTIFY", 5, 1, "ab   ", "", kNoon, 0, "   ab", nullptr,
                  1},
        exit_case{"r leading kept", "R_JUSTIFY", 6, 1, " a b  ", "", kNoon, 0, "   a b", nullptr,
                  1},
        exit_case{"r all blank", "R_JUSTIFY", 5, 1, "     ", "", kNoon, 0, "     ", nullptr, 1},
        exit_case{"r full", "R_JUSTIFY", 3, 1, "abc", "", kNoon, 0, "abc", nullptr, 1},
        exit_case{"l leading blanks", "L_JUSTIFY", 5, 1, "   ab", "", kNoon, 0, "ab   ", nullptr,
                  1},
        exit_case{"l all blank", "L_JUSTIFY", 5, 1, "     ", "", kNoon, 0, "     ", nullptr, 1},
        exit_case{"l none", "L_JUSTIFY", 5, 1, "ab  c", "", kNoon, 0, "ab  c", nullptr, 1},
        exit_case{"s whole", "SUBSTR (1, 8)", 8, 1, "ABCDEFGH", "", kNoon, 0, "ABCDEFGH", nullptr,
                  1},
        exit_case{"s middle", "SUBSTR (3, 4)", 8, 1, "ABCDEFGH", "", kNoon, 0, "CDEF    ", nullptr,
                  1},
        exit_case{"s past the end cut", "SUBSTR (6, 5)", 8, 1, "ABCDEFGH", "", kNoon, 0, "FGH     ",
                  "CCC4060W", 1},
        exit_case{"s start beyond", "SUBSTR (9, 1)", 8, 1, "ABCDEFGH", "", kNoon, 1, "ABCDEFGH",
                  "CCC4056E", 1},
        exit_case{"s last byte", "SUBSTR (8, 1)", 8, 1, "ABCDEFGH", "", kNoon, 0, "H       ",
                  nullptr, 1},
        exit_case{"c character", "CONCAT W", 6, 1, "ab    ", "12    ", kNoon, 0, "ab12  ", nullptr,
                  1},
        exit_case{"c trims both", "CONCAT W", 8, 1, " ab     ", "  12  ", kNoon, 0, "ab12    ",
                  nullptr, 1},
        exit_case{"c numeric right-aligned", "CONCAT W", 6, 2, "   7  ", "12    ", kNoon, 0,
                  "   712", nullptr, 2},
        exit_case{"c cut to L", "CONCAT W", 6, 1, "abcd  ", "123456", kNoon, 0, "abcd12", nullptr,
                  1},
        exit_case{"c blank value takes w", "CONCAT W", 6, 1, "      ", " 12   ", kNoon, 0, "12    ",
                  nullptr, 1},
        exit_case{"c blank w unchanged", "CONCAT W", 6, 1, "  ab  ", "      ", kNoon, 0, "  ab  ",
                  nullptr, 1},
        exit_case{"c itself", "CONCAT V", 6, 1, "ab    ", "", kNoon, 0, "abab  ", nullptr, 1},
        exit_case{"m rounded", "MINUTES", 16, 1, "12/31/1999 23:30", "", kNoon, 0,
                  "              31", nullptr, 2},
        exit_case{"m future is 0", "MINUTES", 16, 1, "01/02/2000 00:00", "", kNoon, 0,
                  "               0", nullptr, 2},
        exit_case{"m length 10", "MINUTES", 10, 1, "12/31/1999", "", kNoon, 1, "12/31/1999",
                  "CCC4046E", 1},
        exit_case{"m not a date", "MINUTES", 16, 1, "NULL", "", kNoon, 1, "NULL            ",
                  "CCC4044E", 1},
        exit_case{"m2 binary", "MINUTES2", 16, 1, binary_time(946684800), "", "2000010100300000", 0,
                  "              30", nullptr, 2},
        exit_case{"m2 length 10", "MINUTES2", 10, 1, "abcdefghij", "", kNoon, 1, "abcdefghij",
                  "CCC4048E", 1},
        exit_case{"t binary", "TIMESTAMP", 16, 1, binary_time(946684800), "", kNoon, 0,
                  "2000010100000000", nullptr, 2},
        exit_case{"t 1999", "TIMESTAMP", 16, 1, binary_time(946684799), "", kNoon, 0,
                  "1999123123595900", nullptr, 2},
        exit_case{"t length 10", "TIMESTAMP", 10, 1, "abcdefghij", "", kNoon, 1, "abcdefghij",
                  "CCC4053E", 1}),
    case_names(&exit_case::what));

// A binary time of 0 converts the current time: MINUTES2 gives 0 against a fetch time
// stamp taken now, TIMESTAMP gives now.
TEST(ExitsOnZero, BinaryZeroIsNow) {
    curstest::set_aside();
    install_column_exits();
    LogCapture log;
    char now[15];
    get_time(now);
    std::snprintf(fetch_time_stamp, sizeof(fetch_time_stamp), "%s00", now);
    {
        exit_world w(16, 1, binary_time(0), "");
        clause_text text("V MINUTES2");
        ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0);
        ASSERT_EQ(edit_col_exits_pass(), 0);
        EXPECT_EQ(w.run(), 0);
        EXPECT_EQ(w.value(), "               0");
    }
    {
        exit_world w(16, 1, binary_time(0), "");
        clause_text text("V TIMESTAMP");
        ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0);
        ASSERT_EQ(edit_col_exits_pass(), 0);
        EXPECT_EQ(w.run(), 0);
        // Equal to the minute (the clock may tick between the two readings).
        EXPECT_EQ(w.value().substr(0, 12), std::string(fetch_time_stamp).substr(0, 12));
    }
}

// CONCAT of another cursor's column reads its last row; a cursor without rows fails.
TEST(ExitsConcat, OtherCursor) {
    curstest::set_aside();
    install_column_exits();
    LogCapture log;
    cursortest::cursor other("OTHER", {cursortest::col_spec{"X", 4, 1}});
    exit_world w(6, 1, "ab    ", "");
    clause_text text("V CONCAT OTHER.X");
    ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0);
    ASSERT_EQ(edit_col_exits_pass(), 0) << log.text();
    EXPECT_EQ(w.run(), 1);
    EXPECT_TRUE(log.has("CCF4580W")) << log.text();
    EXPECT_TRUE(log.has("In concat, second column (X) is in cursor(OTHER) with no rows"));
    EXPECT_EQ(w.value(), "ab    ");
    other.add({"zz"});
    EXPECT_EQ(w.run(), 0);
    EXPECT_EQ(w.value(), "abzz  ");
}

// The driver runs the exits of a column in order and stops at the first failure; the row
// stays.
TEST(ExitDriver, InOrderStopsAtFirstFailure) {
    curstest::set_aside();
    install_column_exits();
    LogCapture log;
    {
        exit_world w(8, 1, "ABCDEFGH", "");
        for (const char* t : {"V SUBSTR (3, 2)", "V R_JUSTIFY"}) {
            clause_text text(t);
            ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0);
        }
        ASSERT_EQ(edit_col_exits_pass(), 0);
        EXPECT_EQ(w.run(), 0);
        EXPECT_EQ(w.value(), "      CD");
        EXPECT_EQ(col_ex_l_ptr, w.v()->cxl_ptr->next_function);
    }
    {
        exit_world w(8, 1, "AB      ", "");
        for (const char* t : {"V SUBSTR (9, 2)", "V R_JUSTIFY"}) {
            clause_text text(t);
            ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0);
        }
        ASSERT_EQ(edit_col_exits_pass(), 0);
        EXPECT_EQ(w.run(), 1);
        EXPECT_EQ(w.value(), "AB      ");  // R_JUSTIFY did not run
        EXPECT_EQ(w.cur.get()->count, 1);
    }
}

// Binding faults: each is reported, the pass fails as a whole.
TEST(EditColExits, EveryFaultReported) {
    curstest::set_aside();
    install_column_exits();
    LogCapture log;
    exit_world w(6, 1, "ab", "");
    for (const char* t : {"V CONCAT NOPE", "Z R_JUSTIFY", "Y L_JUSTIFY"}) {
        clause_text text(t);
        ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0);
    }
    EXPECT_EQ(edit_col_exits_pass(), 1);
    for (const char* m : {"PCE4185E", "Column (NOPE) in concatenate not found",
                          "Column Z in cursor CUR not matched for column exit",
                          "Column Y in cursor CUR not matched", "PCE4195E"})
        EXPECT_TRUE(log.has(m)) << m << log.text();
    EXPECT_FALSE(log.has("PCE4200I"));
}

// Start-up installs the exits and the pass; an emptied table still answers "ccc4010".
TEST(EditColExits, InstalledByTheEngineHooks) {
    curstest::set_aside();
    colex_routines = {};
    install_engine_hooks();
    EXPECT_EQ(colex_routines.colex_s, &colex_s);
    EXPECT_EQ(colex_routines.colex_t, &colex_t);
    LogCapture log;
    exit_world w(5, 1, "ab   ", "");
    clause_text text("V R_JUSTIFY");
    ASSERT_EQ(parse_col_ex(w.cur.get(), text), 0);
    EXPECT_EQ(edit_col_exits(), 0);
    EXPECT_TRUE(log.has("PCE4200I"));
    EXPECT_EQ(w.run(), 0);
    EXPECT_EQ(w.value(), "   ab");
    const col_exit_routines saved = colex_routines;
    colex_routines = {};
    EXPECT_EQ(w.run(), 1);
    EXPECT_TRUE(log.has("CCC4010E"));
    colex_routines = saved;
}

// After a version change every clause binds again: X to Y to X keeps the exits of both
// columns running.
TEST(EditColExits, EveryClauseBindsAgainAfterAVersionChange) {
    LogCapture log;
    install_engine_hooks();
    ASSERT_EQ(enginetest::read_cursors("cursor C1;\nINSERT INTO T1 (A, B) VALUES (:A, :B);\n"
                                       "column_exit A R_JUSTIFY;\ncolumn_exit B L_JUSTIFY;\n"
                                       "if 1 = 1;\nclass 1;\nelse;\nclass 2;\nendif;\n"),
              0)
        << log.text();
    curs* c = enginetest::cursor("C1");
    ASSERT_EQ(edit_col_exits(), 0) << log.text();
    for (int round = 0; round < 2; ++round) {
        reset_all();
        ASSERT_EQ(edit_col_exits(), 0) << log.text();
        for (const char* name : {"A", "B"}) {
            columns* k = enginetest::column(c, name);
            ASSERT_NE(k->cxl_ptr, nullptr) << name << " round " << round;
            EXPECT_STREQ(k->cxl_ptr->col_name, name);
        }
    }
}

}  // namespace
