// The internal select over cursors built in code: SYSMON (GROUPNAME, FLDNAME, FLDVALUE) and
// ZEMV (STARTTIME, STOPTIME, one row).
#include "expr/internal_select.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>

#include "expr/expression_store.h"
#include "expr/select_cursor.h"
#include "expr/tests/expr_test_support.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/exec.h"
#include "testing/cursor_builder.h"

namespace {

int count_of(const std::string& text, const std::string& id) {
    int n = 0;
    for (size_t at = text.find(id); at != std::string::npos; at = text.find(id, at + 1)) ++n;
    return n;
}

// One bracket on a term table of the test's own; the store starts empty.
class InternalSelect : public ::testing::Test {
  protected:
    InternalSelect()
        : sysmon("SYSMON", cursortest::sysmon_columns()),
          zemv("ZEMV", {{"STARTTIME", 8, 1}, {"STOPTIME", 8, 1}}) {
        reset_internal_select();
        start_exec_sql(nullptr);
        sysmon.add({"engine_0", "clock_ticks", "1"});
        sysmon.add({"engine_1", "clock_ticks", "2"});
        sysmon.add({"engine_0", "context_switches", "3"});
        sysmon.add({"access", "xacts", "12abc"});
        sysmon.add({"access", "ncinsert", "12.7"});
        zemv.add({"3600", "3660"});
        sysmon.point_at_fetch_area();
        zemv.point_at_fetch_area();
    }
    ~InternalSelect() override {
        TERM_TABLE* anchor = nullptr;
        end_exec_sql(&anchor);
        reset_internal_select();
        free_perm_term_tb(anchor);
    }

    expr_test::LogCapture log;
    cursortest::cursor sysmon;
    cursortest::cursor zemv;
};

struct SelectCase {
    const char* name;
    const char* list;
    const char* cursor;
    const char* where;
    int result;
    int32_t value;       // the target after the call (it starts as -7)
    const char* msg_id;  // a message the call writes, or ""
};

const SelectCase kSelectCases[] = {
    {"UnknownCursor", "FLDVALUE", "NOSUCH", nullptr, 1, -7, "SEL0290"},
    {"AllRowsFiltered", "FLDVALUE", "SYSMON", "FLDNAME = 'none'", 100, -7, ""},
    {"SumOfThreeRows", "SUM(FLDVALUE)", "SYSMON",
     "GROUPNAME LIKE 'engine_%' and FLDNAME ^= 'xacts'", 0, 6, ""},
    {"SumOfOneRow", "SUM(FLDVALUE)", "SYSMON", "FLDNAME = 'context_switches'", 0, 3, ""},
    {"PlainColumnGivesTheLastTakenRow", "FLDVALUE", "SYSMON", "GROUPNAME LIKE 'engine_%'", 0, 3,
     ""},
    {"TwoColumnsTakeTheFirst", "FLDVALUE, FLDNAME", "SYSMON", "FLDNAME = 'context_switches'", 0, 3,
     "SEL0610"},
    {"TextThatIsNoNumber", "FLDVALUE", "SYSMON", "FLDNAME = 'xacts'", 1, -7, "SEL0630"},
    {"DecimalTextIsTruncated", "FLDVALUE", "SYSMON", "FLDNAME = 'ncinsert'", 0, 12, ""},
    {"SelectListWithSemicolon", "FLDVALUE;", "SYSMON", nullptr, 1, -7, "SEL0131"},
    {"ConditionThatDoesNotParse", "FLDVALUE", "SYSMON", "(FLDNAME = 'x'", 1, -7, ""},
};

class SelectReturnCodes : public InternalSelect,
                          public ::testing::WithParamInterface<SelectCase> {};

TEST_P(SelectReturnCodes, ResultTargetAndMessage) {
    const SelectCase& k = GetParam();
    int32_t value = -7;
    EXPECT_EQ(perform_select(k.list, k.cursor, &value, k.where, SEL_TARGET_INT), k.result);
    EXPECT_EQ(value, k.value);
    if (*k.msg_id) {
        EXPECT_TRUE(log.has(k.msg_id)) << log.text();
    }
    // Whatever the path out, the columns rest on the last row and cols_set is 0.
    if (std::strcmp(k.cursor, "SYSMON") == 0) {
        EXPECT_TRUE(sysmon.rests_on_last_row());
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectReturnCodes, ::testing::ValuesIn(kSelectCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(InternalSelect, CursorWithoutRowsGives100AndLeavesTheTarget) {
    cursortest::cursor empty("EMPTY", cursortest::sysmon_columns());
    int32_t value = -7;
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "EMPTY", &value, nullptr, SEL_TARGET_INT), 100);
    EXPECT_EQ(value, -7);
    EXPECT_TRUE(log.has("SEL0010"));
    EXPECT_EQ(empty.get()->cols_set, 0);
}

TEST_F(InternalSelect, TargetTypes) {
    char* text = nullptr;
    EXPECT_EQ(perform_select("FLDNAME", "SYSMON", &text, "FLDVALUE = '3'", SEL_TARGET_CHAR), 0);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::string(text).substr(0, 16), "context_switches");
    float f = 0;
    EXPECT_EQ(perform_select("FLDVALUE", "SYSMON", &f, "FLDNAME = 'ncinsert'", SEL_TARGET_FLOAT),
              0);
    EXPECT_FLOAT_EQ(f, 12.7f);
    int32_t i = -7;
    EXPECT_EQ(perform_select("FLDVALUE", "SYSMON", &i, "FLDNAME = 'ncinsert'", SEL_TARGET_CREATE),
              0);
    EXPECT_EQ(i, -7);
    EXPECT_EQ(perform_select("FLDVALUE", "SYSMON", &i, "FLDNAME = 'ncinsert'", 7), 1);
    EXPECT_TRUE(log.has("SEL0670"));
    EXPECT_TRUE(sysmon.rests_on_last_row());
}

// Sums over many counters leave the 32-bit range: the 64-bit target takes them exactly, up
// to 2^53, and refuses what a double no longer counts exactly.
TEST_F(InternalSelect, SixtyFourBitSums) {
    cursortest::cursor big("BIGMON", cursortest::sysmon_columns());
    for (const char* v : {"1000000000", "1000000000", "1000000000"})
        big.add({"disk_0", "reads", v});
    big.add({"disk_1", "reads", "2147483647"});
    big.add({"disk_1", "reads", "2147483647"});
    big.point_at_fetch_area();
    int64_t sum = 0;
    EXPECT_EQ(
        perform_select("SUM(FLDVALUE)", "BIGMON", &sum, "GROUPNAME = 'disk_0'", SEL_TARGET_INT64),
        0)
        << log.text();
    EXPECT_EQ(sum, 3000000000);
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "BIGMON", &sum, nullptr, SEL_TARGET_INT64), 0);
    EXPECT_EQ(sum, 3000000000 + 2 * int64_t{2147483647});
    int64_t one = 0;
    EXPECT_EQ(perform_select("FLDVALUE", "BIGMON", &one, "GROUPNAME = 'disk_0'", SEL_TARGET_INT64),
              0);
    EXPECT_EQ(one, 1000000000);

    cursortest::cursor huge("HUGEMON",
                            {{"GROUPNAME", 30, 1}, {"FLDNAME", 40, 1}, {"FLDVALUE", 20, 1}});
    huge.add({"disk_0", "reads", "9007199254740993"});
    huge.add({"disk_0", "reads", "9007199254740993"});
    huge.point_at_fetch_area();
    sum = -7;
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "HUGEMON", &sum, nullptr, SEL_TARGET_INT64), 1);
    EXPECT_TRUE(log.has("SEL0645")) << log.text();
    EXPECT_EQ(sum, -7);
    // A single value read without a work variable keeps all its digits.
    EXPECT_EQ(select_column("FLDVALUE", "HUGEMON", &sum, SEL_TARGET_INT64, nullptr, nullptr), 0);
    EXPECT_EQ(sum, 9007199254740993);
}

// A numeric column whose field holds no number fails as a text would, instead of giving 0.
TEST_F(InternalSelect, NumericColumnThatHoldsNoNumberFails) {
    cursortest::cursor numeric("NUMMON", cursortest::sysmon_columns(2));
    numeric.add({"access", "xacts", "12abc"});
    int32_t value = -7;
    EXPECT_EQ(perform_select("FLDVALUE", "NUMMON", &value, nullptr, SEL_TARGET_INT), 1);
    EXPECT_EQ(value, -7);
    EXPECT_TRUE(log.has("SEL0630"));
    numeric.clear_rows();
    numeric.add({"access", "xacts", "41"});
    EXPECT_EQ(perform_select("FLDVALUE", "NUMMON", &value, nullptr, SEL_TARGET_INT), 0);
    EXPECT_EQ(value, 41);
}

// SUM of a text that is no number fails the select and nothing more: the process goes on
// and the next select over numbers sums them.
TEST_F(InternalSelect, SumOfATextThatIsNoNumberFailsTheSelectOnly) {
    cursortest::cursor text("TXTMON", cursortest::sysmon_columns(1));
    text.add({"g", "f", "12"});
    text.add({"g", "f", "many"});
    int32_t value = -7;
    EXPECT_NE(perform_select("SUM(FLDVALUE)", "TXTMON", &value, nullptr, SEL_TARGET_INT), 0);
    EXPECT_EQ(value, -7);
    EXPECT_TRUE(log.has("INT0315")) << log.text();
    EXPECT_FALSE(log.has("SEL0170")) << log.text();
    text.clear_rows();
    text.add({"g", "f", "12"});
    text.add({"g", "f", "30"});
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "TXTMON", &value, nullptr, SEL_TARGET_INT), 0);
    EXPECT_EQ(value, 42);
}

TEST_F(InternalSelect, DeclaredTextIsReadAtSelectTime) {
    char group[] = "engine_x";
    char* pointer = group;
    ASSERT_EQ(declare_C_var("tmp_grp", 1, &pointer), 0);
    const char* where = "GROUPNAME = tmp_grp AND FLDNAME = 'clock_ticks'";
    int32_t value = -7;
    EXPECT_EQ(perform_select("FLDVALUE", "SYSMON", &value, where, SEL_TARGET_INT), 100);
    for (int engine = 0; engine < 2; ++engine) {
        group[7] = static_cast<char>('0' + engine);
        EXPECT_EQ(perform_select("FLDVALUE", "SYSMON", &value, where, SEL_TARGET_INT), 0);
        EXPECT_EQ(value, engine + 1);
    }
}

TEST_F(InternalSelect, DeclarationErrors) {
    int32_t n = 5;
    EXPECT_EQ(declare_C_var("count", 4, &n), 1);
    EXPECT_TRUE(log.has("TRM0110"));
    char* none = nullptr;
    EXPECT_EQ(declare_C_var("text", 1, &none), 1);
    EXPECT_TRUE(log.has("TRM0100"));
    ASSERT_EQ(declare_C_var("limit", 2, &n), 0);
    cursortest::cursor numeric("NUMMON", cursortest::sysmon_columns(2));
    for (const char* v : {"1", "7", "3"}) numeric.add({"engine_0", "f", v});
    int32_t value = -7;
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "NUMMON", &value, "FLDVALUE < limit", SEL_TARGET_INT),
              0);
    EXPECT_EQ(value, 4);
}

// A select that cannot evaluate its condition on many rows reports the first row and one
// summary line.
TEST_F(InternalSelect, ManyFailingRowsWriteOneSetOfLines) {
    cursortest::cursor bad("BADMON", cursortest::sysmon_columns(2));
    for (int i = 0; i < 20; ++i) bad.add({"g", "f", "x"});
    bad.add({"g", "f", "5"});
    int32_t value = -7;
    EXPECT_EQ(perform_select("FLDVALUE", "BADMON", &value, "FLDVALUE > 1", SEL_TARGET_INT), 0);
    EXPECT_EQ(value, 5);
    const std::string text = log.text();
    EXPECT_EQ(count_of(text, "SEL0320"), 1) << text;
    EXPECT_EQ(count_of(text, "SEL0050"), 1) << text;
    EXPECT_EQ(count_of(text, "SEL0325"), 1) << text;
    EXPECT_NE(text.find("Ignored 20 rows for cursor BADMON"), std::string::npos) << text;
    // The interpreter's own lines come from the first failing row only.
    EXPECT_EQ(count_of(text, "INT0210"), 1) << text;
    EXPECT_EQ(count_of(text, "INT0030"), 1) << text;
}

// The same texts over two cursors read each cursor's own values, also when the first cursor
// had no row to evaluate when the texts were first lexed.
TEST_F(InternalSelect, SameTextsOverTwoCursorsReadEachCursor) {
    cursortest::cursor other("OTHERMON", cursortest::sysmon_columns());
    int32_t value = -7;
    const char* where = "FLDNAME = 'clock_ticks'";
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "OTHERMON", &value, where, SEL_TARGET_INT), 100);
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &value, where, SEL_TARGET_INT), 0);
    EXPECT_EQ(value, 3);
    other.add({"engine_0", "clock_ticks", "100"});
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "OTHERMON", &value, where, SEL_TARGET_INT), 0);
    EXPECT_EQ(value, 100);
    EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &value, where, SEL_TARGET_INT), 0);
    EXPECT_EQ(value, 3);
}

TEST_F(InternalSelect, TextsAreLexedOncePerCursor) {
    int32_t value = 0;
    const char* where = "GROUPNAME LIKE 'engine_%'";
    ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &value, where, SEL_TARGET_INT), 0);
    const int nodes = W_EXPR_LIST::get_lx_list().count();
    int terms = 0;
    for (TERM_TABLE* t = get_active_term_tb_anchor(); t; t = t->next) ++terms;
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &value, where, SEL_TARGET_INT), 0);
        ASSERT_EQ(
            perform_select("FLDVALUE", "SYSMON", &value, "FLDNAME = 'ncinsert'", SEL_TARGET_INT),
            0);
    }
    EXPECT_EQ(W_EXPR_LIST::get_lx_list().count(), nodes + 2);
    int after = 0;
    for (TERM_TABLE* t = get_active_term_tb_anchor(); t; t = t->next) ++after;
    EXPECT_LE(after, terms + 4);  // FLDVALUE, FLDNAME and 'ncinsert' of the second pair
    EXPECT_EQ(value, 12);
}

// The row index a select uses outlives its bracket (the next monitor cursor's bracket reads
// the same rows) and follows every change of the rows: each step changes SYSMON, closes the
// bracket and opens the next, and the sum reads the rows as they are now.
TEST_F(InternalSelect, RowIndexKeptAcrossBracketsFollowsTheRows) {
    curs* c = sysmon.get();
    auto drop_first = [&] {
        row_data* r = c->first_row;
        c->first_row = r->next;
        --c->count;
        U_FREE(r);
    };
    auto reload = [&](const char* first_value) {
        sysmon.clear_rows();
        sysmon.add({"engine_0", "clock_ticks", first_value});
        sysmon.add({"engine_1", "clock_ticks", "2"});
        sysmon.add({"engine_0", "context_switches", "3"});
        sysmon.add({"access", "xacts", "12abc"});
        sysmon.add({"access", "ncinsert", "12.7"});
    };
    struct Step {
        const char* change;
        std::function<void()> apply;
        int64_t engine_0;
    } steps[] = {
        {"none", [] {}, 4},
        {"the same rows again", [] {}, 4},
        {"a row appended",
         [&] {
             sysmon.add({"engine_0", "x", "10"});
         },
         14},
        {"the same number of rows fetched anew", [&] { reload("5"); }, 8},
        {"the oldest row dropped", drop_first, 3},
        {"a new sample of the same size", [&] { reload("7"); }, 10},
        {"every row gone", [&] { sysmon.clear_rows(); }, -1},
    };
    for (const Step& s : steps) {
        s.apply();
        sysmon.point_at_fetch_area();
        TERM_TABLE* table = nullptr;
        end_exec_sql(&table);
        start_exec_sql(table);
        int64_t sum = -1;
        const int rc = perform_select("SUM(FLDVALUE)", "SYSMON", &sum, "GROUPNAME = 'engine_0'",
                                      SEL_TARGET_INT64);
        EXPECT_EQ(rc, s.engine_0 < 0 ? 100 : 0) << s.change;
        EXPECT_EQ(sum, s.engine_0) << s.change;
    }
}

TEST_F(InternalSelect, SelectColumnReadsTheRowTheCursorStandsOn) {
    TERM_TABLE* held = nullptr;
    int32_t stop = 0;
    ASSERT_EQ(select_column("STOPTIME", "ZEMV", &stop, 2, "stoptime", &held), 0);
    EXPECT_EQ(stop, 3660);
    ASSERT_NE(held, nullptr);
    TERM_TABLE* first = held;
    float start = 0;
    TERM_TABLE* held_start = nullptr;
    ASSERT_EQ(select_column("STARTTIME", "ZEMV", &start, 3, "starttime", &held_start), 0);
    EXPECT_FLOAT_EQ(start, 3600.0f);

    // Walking the rows: the held term follows the row the fetch moved the columns to.
    row_data* rc = nullptr;
    ASSERT_EQ(open_select_cursor(sysmon.get(), &rc), 0);
    char* name = nullptr;
    TERM_TABLE* name_term = nullptr;
    std::string names;
    while (fetch_next_row(sysmon.get(), &rc) == 0) {
        ASSERT_EQ(select_column("FLDNAME", "SYSMON", &name, 1, "fld", &name_term), 0);
        names += std::string(name).substr(0, 5) + "|";
    }
    EXPECT_EQ(names, "clock|clock|conte|xacts|ncins|");
    EXPECT_EQ(close_select_cursor(sysmon.get(), &rc), 0);
    EXPECT_TRUE(sysmon.rests_on_last_row());

    // The held term is kept between calls.
    ASSERT_EQ(select_column("STOPTIME", "ZEMV", &stop, 2, "stoptime", &held), 0);
    EXPECT_EQ(held, first);
}

// A work variable set by select_column is what a later condition names.
TEST_F(InternalSelect, SelectColumnVariableInACondition) {
    cursortest::cursor cachemap("CACHEMAP", {{"CACHENAME", 20, 1}, {"BUFFERNAME", 20, 1}});
    cachemap.add({"default", "engine_1"});
    cachemap.add({"tempdb", "engine_0"});
    TERM_TABLE* held = nullptr;
    row_data* rc = nullptr;
    ASSERT_EQ(open_select_cursor(cachemap.get(), &rc), 0);
    std::string sums;
    while (fetch_next_row(cachemap.get(), &rc) == 0) {
        char* buffer_name = nullptr;
        ASSERT_EQ(select_column("BUFFERNAME", "CACHEMAP", &buffer_name, 1, "buffer_name", &held),
                  0);
        int32_t value = -7;
        ASSERT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &value, "GROUPNAME = buffer_name",
                                 SEL_TARGET_INT),
                  0);
        sums += std::to_string(value) + " ";
    }
    EXPECT_EQ(sums, "2 4 ");
    EXPECT_EQ(close_select_cursor(cachemap.get(), &rc), 0);
}

// Two callers, each on its own term table, run one text naming a variable of the same name:
// each sees its own variable's value, whether the parse comes from the one-entry cache or
// the store, and whether the variable is declared or bound by select_column to another
// cursor's column; the store keeps one parse per caller, not one per call.
TEST_F(InternalSelect, TwoCallersOfOneTextSeeTheirOwnVariables) {
    TERM_TABLE* fixture_table = nullptr;
    end_exec_sql(&fixture_table);
    cursortest::cursor map("MAP", {{"BUFFERNAME", 20, 1}});
    map.add({"engine_1"});
    map.point_at_fetch_area();
    TERM_TABLE* declared = nullptr;
    TERM_TABLE* bound = nullptr;
    char group[] = "engine_0";
    char* group_text = group;
    const char* where = "GROUPNAME = grp";
    auto by_declared = [&] {
        start_exec_sql(declared);
        int32_t value = -7;
        EXPECT_EQ(declare_C_var("grp", 1, &group_text), 0);
        EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &value, where, SEL_TARGET_INT), 0);
        end_exec_sql(&declared);
        return value;
    };
    auto by_column = [&] {
        start_exec_sql(bound);
        int32_t value = -7;
        row_data* rc = nullptr;
        EXPECT_EQ(open_select_cursor(map.get(), &rc), 0);
        EXPECT_EQ(fetch_next_row(map.get(), &rc), 0);
        char* text = nullptr;
        EXPECT_EQ(select_column("BUFFERNAME", "MAP", &text, 1, "grp", nullptr), 0);
        EXPECT_EQ(perform_select("SUM(FLDVALUE)", "SYSMON", &value, where, SEL_TARGET_INT), 0);
        EXPECT_EQ(close_select_cursor(map.get(), &rc), 0);
        end_exec_sql(&bound);
        return value;
    };
    EXPECT_EQ(by_declared(), 4);  // engine_0: 1 + 3
    EXPECT_EQ(by_column(), 2);    // engine_1
    const int nodes = W_EXPR_LIST::get_lx_list().count();
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(by_declared(), 4);
        EXPECT_EQ(by_declared(), 4);  // the one-entry cache
        EXPECT_EQ(by_column(), 2);
        EXPECT_EQ(by_column(), 2);
    }
    EXPECT_EQ(W_EXPR_LIST::get_lx_list().count(), nodes);
    EXPECT_EQ(log.text(), "");
    reset_internal_select();
    free_perm_term_tb(declared);
    free_perm_term_tb(bound);
    start_exec_sql(fixture_table);
}

TEST_F(InternalSelect, SelectColumnErrors) {
    int32_t n = 0;
    char* text = nullptr;
    EXPECT_EQ(select_column("STOPTIME", "NOSUCH", &n, 2, nullptr, nullptr), 1);
    EXPECT_TRUE(log.has("SEL0810"));
    EXPECT_EQ(select_column("STOPTIME", "ZEMV", &text, 1, nullptr, nullptr), 1);
    EXPECT_TRUE(log.has("SEL0860"));
    EXPECT_EQ(select_column("STOPTIME", "ZEMV", &n, 5, nullptr, nullptr), 1);
    EXPECT_TRUE(log.has("SEL0870"));
    EXPECT_EQ(select_column("NOCOL", "ZEMV", &n, 2, nullptr, nullptr), 1);
    EXPECT_TRUE(log.has("SEL0850"));
    EXPECT_EQ(select_column("NOCOL", "ZEMV", &n, 2, "v", nullptr), 1);
    EXPECT_TRUE(log.has("SEL0830"));
    EXPECT_EQ(select_column("STOPTIME", "ZEMV", &n, 4, "v", nullptr), 1);
    EXPECT_TRUE(log.has("SEL0825"));
    // Without a variable a number is read straight from the row.
    EXPECT_EQ(select_column("STOPTIME", "ZEMV", &n, 2, nullptr, nullptr), 0);
    EXPECT_EQ(n, 3660);
    // A held term that is no term of the bracket's table is replaced.
    TERM_TABLE stray{};
    TERM_TABLE* held = &stray;
    EXPECT_EQ(select_column("STOPTIME", "ZEMV", &n, 2, "stoptime", &held), 0);
    EXPECT_TRUE(log.has("SEL0815"));
    EXPECT_NE(held, &stray);
}

// A declared variable is bound for good, not to a column: select_column binds it anew.
TEST_F(InternalSelect, SelectColumnRebindsADeclaredVariable) {
    int32_t n = 5;
    ASSERT_EQ(declare_C_var("stoptime", 2, &n), 0);
    TERM_TABLE* held = nullptr;
    ASSERT_EQ(select_column("STOPTIME", "ZEMV", &n, 2, "stoptime", &held), 0);
    EXPECT_EQ(n, 3660);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(held->value_ref, &zemv.get()->insert_columns->next->from);
}

TEST_F(InternalSelect, BuiltCursorOpenFetchClose) {
    row_data* rc = nullptr;
    EXPECT_EQ(fetch_next_row(zemv.get(), &rc), -1);
    EXPECT_TRUE(log.has("SEL0030"));
    EXPECT_EQ(close_select_cursor(zemv.get(), &rc), 1);
    EXPECT_TRUE(log.has("SEL0015"));
    // A cursor of one row: open points its columns at the row, not at the fetch area.
    zemv.point_at_fetch_area();
    ASSERT_EQ(open_select_cursor(zemv.get(), &rc), 0);
    EXPECT_EQ(rc, select_before_first());
    EXPECT_EQ(zemv.get()->insert_columns->from, zemv.get()->first_row->text);
    EXPECT_EQ(fetch_next_row(zemv.get(), &rc), 0);
    EXPECT_EQ(rc, zemv.get()->first_row);
    EXPECT_EQ(fetch_next_row(zemv.get(), &rc), 100);
    EXPECT_EQ(close_select_cursor(zemv.get(), &rc), 0);
    EXPECT_EQ(rc, nullptr);
    EXPECT_TRUE(zemv.rests_on_last_row());
}

TEST_F(InternalSelect, CursorColumn) {
    EXPECT_EQ(cursor_column("ZEMV", "STOPTIME"), zemv.get()->insert_columns->next);
    EXPECT_EQ(cursor_column("NOSUCH", "STOPTIME"), nullptr);
    EXPECT_TRUE(log.has("SEL0700"));
    EXPECT_EQ(cursor_column("ZEMV", "NOCOL"), nullptr);
    EXPECT_TRUE(log.has("SEL0710"));
    EXPECT_EQ(find_cursor("ZEM"), nullptr);
    EXPECT_EQ(find_cursor("ZEMV"), zemv.get());
}

TEST(ChainInternalRes, AppendsCopiesAtTheEnd) {
    r_exec_chain* head = nullptr;
    EXPECT_EQ(chain_internal_res("\tone\t", &head), 0);
    ASSERT_NE(head, nullptr);
    EXPECT_EQ(head->size, 6);
    std::string line = "two";
    EXPECT_EQ(chain_internal_res(line.c_str(), &head), 0);
    line[0] = 'X';
    EXPECT_EQ(chain_internal_res("three", &head), 0);
    std::string all;
    for (r_exec_chain* e = head; e; e = e->next) all += std::string(e->line) + "|";
    EXPECT_EQ(all, "\tone\t|two|three|");
    const std::string too_long(SEL_LINE_MAX + 1, 'x');
    {
        expr_test::LogCapture log;
        EXPECT_EQ(chain_internal_res(too_long.c_str(), &head), 1);
        EXPECT_TRUE(log.has("SEL1005"));
    }
    int n = 0;
    for (r_exec_chain* e = head; e; e = e->next) ++n;
    EXPECT_EQ(n, 3);
    u_free_r_chain(head);
}

TEST(InternalSelectBracket, ActiveAnchorAndSuffix) {
    EXPECT_STREQ(get_row_function_arg_part(), ",rfa");
    start_exec_sql(nullptr);
    EXPECT_EQ(get_active_term_tb_anchor(), nullptr);
    TERM_TABLE* anchor = nullptr;
    end_exec_sql(&anchor);
    EXPECT_EQ(get_active_term_tb_anchor(), term_tb_invalid());
}

// A failure never ends the process with status 0.
TEST(InternalSelectDeathTest, UseOutsideABracketEndsWithStatus1) {
    int32_t value = 0;
    EXPECT_EXIT(perform_select("FLDVALUE", "SYSMON", &value, nullptr, SEL_TARGET_INT),
                ::testing::ExitedWithCode(1), "SEL1010");
    EXPECT_EXIT(declare_C_var("v", 2, &value), ::testing::ExitedWithCode(1), "SEL1010");
    EXPECT_EXIT(select_column("C", "SYSMON", &value, 2, nullptr, nullptr),
                ::testing::ExitedWithCode(1), "SEL1010");
}

TEST(InternalSelectDeathTest, InvalidAnchorEndsWithStatus1) {
    EXPECT_EXIT(start_exec_sql(term_tb_invalid()), ::testing::ExitedWithCode(1), "TRM0150");
}

}  // namespace
