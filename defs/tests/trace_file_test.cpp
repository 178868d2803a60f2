#include "defs/trace_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/def_file_support.h"
#include "testing/log_capture.h"

namespace {

// Cursors CUR1, CUR2 and CURSOR_8 on cur_anchor; CUR2 has a second version that is only
// in its version ring.
class TraceFile : public ::testing::Test {
  protected:
    void SetUp() override {
        trace_all = 0;
        trace_something = 0;
        cur1 = make("CUR1");
        cur2 = make("CUR2");
        cur8 = make("CURSOR_8");
        cur1->next = cur2;
        cur2->next = cur8;
        cur_anchor = cur1;
        cur2b = make("CUR2");
        cur2->cur_version_list = cur2b;
        cur2b->cur_version_list = cur2;
    }
    void TearDown() override {
        for (curs* c : {cur1, cur2, cur8, cur2b}) U_FREE(c);
        cur_anchor = nullptr;
        trace_all = 0;
        trace_something = 0;
    }
    static curs* make(const char* name) {
        curs* c = curs_new();
        std::strcpy(c->cur_name, name);
        return c;
    }
    static int parse(const std::string& text) {
        return deftest::parse_text(parse_trace_file, text);
    }

    // The five switches of a cursor, as a string of 0/1 in the order trace, tracem,
    // traced, show_row, show_cursor.
    static std::string flags(const curs* c) {
        std::string s;
        for (int16_t f : {c->trace, c->tracem, c->traced, c->show_row, c->show_cursor})
            s += f != 0 ? '1' : '0';
        return s;
    }

    curs* cur1 = nullptr;
    curs* cur2 = nullptr;
    curs* cur8 = nullptr;
    curs* cur2b = nullptr;
};

TEST_F(TraceFile, EachKeywordSetsItsSwitchOnEveryVersion) {
    struct c {
        const char* text;
        const char* cur1;
        const char* cur2;  // and its other version
    } cases[] = {
        {"trace CUR1, CUR2;", "10000", "10000"},
        {"TRACE CUR2;", "00000", "10000"},
        {"tracem CUR1;", "01000", "00000"},
        {"traced CUR2;", "00000", "00100"},
        {"show_row CUR1 CUR2;", "00010", "00010"},
        {"SHOW_CURSOR CUR2;", "00000", "00001"},
        {"trace CUR1;\ntracem CUR1;\nshow_row CUR2;", "11000", "00010"},
        {"trace\n  CUR1\n  ,CUR2;", "10000", "10000"},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.text);
        LogCapture log;
        EXPECT_EQ(parse(k.text), 0) << log.text();
        EXPECT_EQ(flags(cur1), k.cur1);
        EXPECT_EQ(flags(cur2), k.cur2);
        EXPECT_EQ(flags(cur2b), k.cur2);
        EXPECT_EQ(flags(cur8), "00000");
        EXPECT_EQ(trace_something, 1);
        EXPECT_EQ(trace_all, 0);
        EXPECT_TRUE(log.has("Trace Parsing ended ok"));
        for (curs* cur : {cur1, cur2, cur2b})
            cur->trace = cur->tracem = cur->traced = cur->show_row = cur->show_cursor = 0;
        trace_something = 0;
    }
}

TEST_F(TraceFile, NameErrors) {
    struct c {
        const char* text;
        const char* logged;
        const char* cur1;
    } cases[] = {
        {"traced NOSUCH;", "Cursor on which to trace decodes (NOSUCH) not found", "00000"},
        {"trace NOSUCH CUR1;", "Cursor to trace (NOSUCH) not found", "10000"},
        {"tracem NOSUCH;", "Cursor on which to trace math (NOSUCH) not found", "00000"},
        {"show_row NOSUCH;", "Cursor on which to show_row (NOSUCH) not found", "00000"},
        {"show_cursor NOSUCH;", "Cursor on which to show_cursor (NOSUCH) not found", "00000"},
        // Nine characters are not too long, but no cursor has such a name.
        {"trace CURSOR_89;", "Cursor to trace (CURSOR_89) not found", "00000"},
        // Ten are too long, and the rest of the statement is not looked at.
        {"trace ABCDEFGHIJ CUR1;", "Trace cursor name too long : ABCDEFGHIJ", "00000"},
        {"tracem ABCDEFGHIJ;", "Tracem cursor name too long : ABCDEFGHIJ", "00000"},
        {"traced ABCDEFGHIJ;", "Traced cursor name too long : ABCDEFGHIJ", "00000"},
        {"show_row ABCDEFGHIJ;", "Show_row cursor name too long : ABCDEFGHIJ", "00000"},
        {"show_cursor ABCDEFGHIJ;", "Show_cursor cursor name too long : ABCDEFGHIJ", "00000"},
        // The reading goes on after a name error.
        {"trace NOSUCH;\ntrace CUR1;", "Cursor to trace (NOSUCH) not found", "10000"},
        {"trace cur1;", "Cursor to trace (cur1) not found", "00000"},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.text);
        LogCapture log;
        EXPECT_EQ(parse(k.text), 1);
        EXPECT_TRUE(log.has(k.logged)) << log.text();
        EXPECT_TRUE(log.has("Trace Parsing ended with errors"));
        EXPECT_EQ(flags(cur1), k.cur1);
        cur1->trace = 0;
    }
}

TEST_F(TraceFile, CursorNameOfEightCharactersMatches) {
    LogCapture log;
    EXPECT_EQ(parse("show_cursor CURSOR_8;"), 0) << log.text();
    EXPECT_EQ(flags(cur8), "00001");
}

TEST_F(TraceFile, TraceAllSetsThreeSwitchesOnEveryCursor) {
    LogCapture log;
    EXPECT_EQ(parse("trace_all CUR1;"), 0) << log.text();
    for (curs* c : {cur1, cur2, cur2b, cur8}) EXPECT_EQ(flags(c), "10011") << c->cur_name;
    EXPECT_EQ(trace_all, 1);
    EXPECT_EQ(trace_something, 1);
    for (const char* spelling : {"traceall;", "TRACEALL;", "TRACE_ALL;"}) {
        trace_all = 0;
        EXPECT_EQ(parse(spelling), 0);
        EXPECT_EQ(trace_all, 1) << spelling;
    }
}

TEST_F(TraceFile, EndAndUnknownKeywordsStopTheReading) {
    {
        LogCapture log;
        EXPECT_EQ(parse("trace CUR1;\nend;\ntrace CUR2;\nbogus;"), 0);
        EXPECT_EQ(flags(cur1), "10000");
        EXPECT_EQ(flags(cur2), "00000");
    }
    {
        LogCapture log;
        EXPECT_EQ(parse(";; comment\n; comment\nTrace CUR1;\ntrace CUR2;"), 1);
        EXPECT_TRUE(log.has("Unknown keyword (Trace)"));
        EXPECT_EQ(flags(cur2), "00000");
    }
    {
        LogCapture log;
        EXPECT_EQ(parse("'trace CUR1;\ntrace CUR2;"), 1);
        EXPECT_TRUE(log.has("Parsing failed : Syntax error"));
        EXPECT_EQ(flags(cur2), "00000");
    }
}

TEST_F(TraceFile, MissingFileIsNoError) {
    LogCapture log;
    deftest::definition_home home;
    EXPECT_EQ(parse_trace(), 0);
    home.write("trac", "trace CUR1;\n");
    EXPECT_EQ(parse_trace(), 0);
    EXPECT_EQ(flags(cur1), "10000");
    EXPECT_TRUE(log.has("-- Starting parse of TRACE.CTL --- Time = "));
    EXPECT_TRUE(log.has("--  Trace Control Parsing ended at "));
}

}  // namespace
