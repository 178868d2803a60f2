// Compiled conditions against the interpreter they stand in for, and the internal select's
// answers over the monitor texts against a plain computation of the same answers.
#include "expr/condition_plan.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "expr/expression_store.h"
#include "expr/internal_select.h"
#include "expr/row_index.h"
#include "expr/select_cursor.h"
#include "expr/tests/expr_test_support.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "testing/cursor_builder.h"

namespace {

int count_of(const std::string& text, const std::string& id) {
    int n = 0;
    for (size_t at = text.find(id); at != std::string::npos; at = text.find(id, at + 1)) ++n;
    return n;
}

// One bracket on a term table of the test's own, as InternalSelect's tests have.
class Bracket : public ::testing::Test {
  protected:
    Bracket() {
        reset_internal_select();
        start_exec_sql(nullptr);
    }
    ~Bracket() override {
        TERM_TABLE* anchor = nullptr;
        end_exec_sql(&anchor);
        reset_internal_select();
        free_perm_term_tb(anchor);
    }
    // Writes raw bytes over the start of a field of the last row (a NUL ends its text).
    static void overwrite(cursortest::cursor& cursor, int column, const char* bytes, size_t n) {
        const columns* col = cursor.get()->insert_columns;
        for (int i = 0; i < column; ++i) col = col->next;
        std::memcpy(cursor.get()->last_row->text + col->offset, bytes, n);
    }

    expr_test::LogCapture log;
};

// ---- Plan against interpreter, row by row ----

class ConditionPlanRows : public Bracket {
  protected:
    ConditionPlanRows() : t("T", {{"GROUPNAME", 10, 1}, {"FLDNAME", 14, 1}, {"FLDVALUE", 6, 1}}) {
        t.add({"access", "xacts", "1"});
        t.add({"engine_0", "clock_ticks", "2"});
        t.add({"engine_01", "cpu", "3"});
        t.add({"", "xacts", "4"});  // a field of blanks
        t.add({"acc", "waited_EX_ADDR", "5"});
        t.add({"access", "access", "6"});
        t.add({"engine_0_long_value", "m", "7"});  // cut to the field's width
        t.add({"x", "xacts", "8"});
        overwrite(t, 0, "\0", 1);  // an empty field: comparing it is reported
        t.add({"x", "lock", "9"});
        overwrite(t, 0, "ab\0cd", 5);  // the text ends at the NUL
        t.add({"access", "xacts", "10"});
        overwrite(t, 1, "\0", 1);
        declare_C_var("grp", 1, &grp_ptr);
    }

    cursortest::cursor t;
    char grp[16] = "engine_0";
    char* grp_ptr = grp;
};

TEST_F(ConditionPlanRows, AgreesWithTheInterpreterOnEveryRow) {
    const char* const conditions[] = {
        "GROUPNAME = 'access'",
        "GROUPNAME ^= 'access'",
        "'access' = GROUPNAME",
        "FLDNAME < 'm'",
        "FLDNAME >= 'm'",
        "FLDNAME > 'lock'",
        "FLDNAME <= 'lock'",
        "GROUPNAME = ' '",
        "GROUPNAME = 'acc   '",
        "GROUPNAME = 'ab'",
        "GROUPNAME = 'engine_0_long'",
        "GROUPNAME = FLDNAME",
        "GROUPNAME = grp",
        "GROUPNAME LIKE 'eng%'",
        "GROUPNAME LIKE 'engine__'",
        "FLDNAME LIKE 'w%_ADDR'",
        "FLDNAME LIKE ''",
        "GROUPNAME ^= 'x' AND (NOT FLDNAME LIKE 'w%')",
        "GROUPNAME = 'access' OR FLDNAME = 'xacts'",
        "GROUPNAME LIKE 'engine_%' and (FLDNAME LIKE 'c%' OR (NOT FLDNAME ^= 'm'))",
        "GROUPNAME = 'x' AND FLDNAME = 'none'",
        "FLDNAME LIKE GROUPNAME",
        "GROUPNAME < FLDNAME",
        "grp LIKE GROUPNAME",
        "'b' > 'a' AND GROUPNAME <= grp",
    };
    curs* c = t.get();
    int handed_over = 0;
    for (const char* where : conditions) {
        SCOPED_TRACE(where);
        lex_block block = {};
        ASSERT_EQ(parse_where(where, "T", &block), 0);
        condition_plan plan;
        ASSERT_TRUE(plan.compile(block.rpn, c));
        int row_no = 0;
        for (const row_data* r = c->first_row; r; r = r->next, ++row_no) {
            SCOPED_TRACE(row_no);
            point_columns(c, r);
            const int planned = plan.evaluate();
            const size_t before = log.text().size();
            std::memcpy(static_cast<void*>(block.rpn_repl), static_cast<const void*>(block.rpn),
                        static_cast<size_t>(block.rpn_len));
            const int interpreted = evaluate_row(c, block.rpn_repl);
            const bool wrote = log.text().size() != before;
            if (planned == -1) {
                // Handed over only where the interpreter has something to say.
                EXPECT_TRUE(wrote);
                ++handed_over;
            } else {
                EXPECT_EQ(planned, interpreted);
                EXPECT_FALSE(wrote) << log.text().substr(before);
            }
        }
    }
    EXPECT_GT(handed_over, 0);
}

// A variable that select_column bound to a column of another cursor (as the monitor
// procedures bind buffer_name and diskmon) is read once per select: a planned condition on
// it agrees with the interpreter on every row, for each row of that other cursor; an empty
// value there is the interpreter's to report.
TEST_F(ConditionPlanRows, ColumnOfAnotherCursorIsReadWhenCompiled) {
    cursortest::cursor map("MAP", {{"BUFFERNAME", 12, 1}, {"KIND", 4, 2}});
    const char* const values[] = {"engine_0", "access   ", " ", "acc", "engine_0_long_value", ""};
    for (const char* v : values) map.add({v, "1"});
    overwrite(map, 0, "\0", 1);
    const char* const conditions[] = {
        "GROUPNAME = bname",
        "bname = GROUPNAME",
        "GROUPNAME ^= bname",
        "FLDNAME < bname",
        "GROUPNAME LIKE bname",
        "bname LIKE 'eng%'",
        "GROUPNAME = bname AND FLDNAME = 'xacts'",
    };
    curs* c = t.get();
    row_data* rc = nullptr;
    ASSERT_EQ(open_select_cursor(map.get(), &rc), 0);
    int map_row = 0;
    while (fetch_next_row(map.get(), &rc) == 0) {
        SCOPED_TRACE(map_row);
        char* text = nullptr;
        ASSERT_EQ(select_column("BUFFERNAME", "MAP", &text, 1, "bname", nullptr), 0);
        const bool empty = map_row == 5;
        for (const char* where : conditions) {
            SCOPED_TRACE(where);
            lex_block block = {};
            ASSERT_EQ(parse_where(where, "T", &block), 0);
            condition_plan plan;
            const bool compared = std::strstr(where, "LIKE") == nullptr;
            if (empty && compared) {
                EXPECT_FALSE(plan.compile(block.rpn, c));
                continue;
            }
            ASSERT_TRUE(plan.compile(block.rpn, c));
            int row_no = 0;
            for (const row_data* r = c->first_row; r; r = r->next, ++row_no) {
                SCOPED_TRACE(row_no);
                point_columns(c, r);
                const int planned = plan.evaluate();
                std::memcpy(static_cast<void*>(block.rpn_repl), static_cast<const void*>(block.rpn),
                            static_cast<size_t>(block.rpn_len));
                const int interpreted = evaluate_row(c, block.rpn_repl);
                if (planned != -1) {
                    EXPECT_EQ(planned, interpreted);
                }
            }
        }
        ++map_row;
    }
    EXPECT_EQ(map_row, 6);
    // A numeric column of the other cursor is not a text.
    TERM_TABLE* kind = nullptr;
    int32_t n = 0;
    ASSERT_EQ(select_column("KIND", "MAP", &n, 2, "kind", &kind), 0);
    lex_block block = {};
    ASSERT_EQ(parse_where("GROUPNAME = kind", "T", &block), 0);
    condition_plan plan;
    EXPECT_FALSE(plan.compile(block.rpn, c));
    EXPECT_EQ(close_select_cursor(map.get(), &rc), 0);
}

// The equalities a plan requires are those under ANDs only, column against text.
TEST_F(ConditionPlanRows, RequiredKeys) {
    struct Case {
        const char* where;
        const char* keys;  // column=text, each followed by ";"
    };
    const Case cases[] = {
        {"GROUPNAME = 'access'", "GROUPNAME=access;"},
        {"'access   ' = GROUPNAME", "GROUPNAME=access;"},
        {"GROUPNAME = grp AND FLDNAME = 'xacts'", "GROUPNAME=engine_0;FLDNAME=xacts;"},
        {"GROUPNAME LIKE 'e%' AND (FLDNAME = 'a' AND GROUPNAME ^= 'b')", "FLDNAME=a;"},
        {"GROUPNAME = 'a' OR FLDNAME = 'b'", ""},
        {"(NOT GROUPNAME = 'a')", ""},
        {"GROUPNAME = FLDNAME", ""},
        {"GROUPNAME = ' '", "GROUPNAME= ;"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.where);
        lex_block block = {};
        ASSERT_EQ(parse_where(k.where, "T", &block), 0);
        condition_plan plan;
        ASSERT_TRUE(plan.compile(block.rpn, t.get()));
        condition_plan::Key keys[condition_plan::MAX_KEYS];
        const int n = plan.required_keys(keys, condition_plan::MAX_KEYS);
        std::string got;
        for (int i = 0; i < n; ++i)
            got += std::string(keys[i].col->col_name) + "=" +
                   std::string(keys[i].text, keys[i].len) + ";";
        EXPECT_EQ(got, k.keys);
    }
}

// The index gives the rows whose field is the text as a comparison reads it, oldest first.
TEST_F(ConditionPlanRows, RowIndexKeysFieldsAsComparisonsReadThem) {
    curs* c = t.get();
    const columns* group = c->insert_columns;
    const columns* name = group->next;
    auto values = [&](const std::vector<row_data*>& rows) {
        std::string v;
        for (const row_data* r : rows) v += std::string(r->text + name->next->offset, 2) + ";";
        return v;
    };
    row_index index;
    EXPECT_EQ(values(index.rows_with(c, group, "access", 6)), "1 ;6 ;10;");
    EXPECT_EQ(values(index.rows_with(c, group, "acc", 3)), "5 ;");
    EXPECT_EQ(values(index.rows_with(c, group, " ", 1)), "4 ;");            // a field of blanks
    EXPECT_EQ(values(index.rows_with(c, group, "ab", 2)), "9 ;");           // up to the NUL
    EXPECT_EQ(values(index.rows_with(c, group, "engine_0_l", 10)), "7 ;");  // the width
    EXPECT_EQ(values(index.rows_with(c, group, "none", 4)), "");
    EXPECT_TRUE(index.has_empty(c, group));  // row 8
    EXPECT_TRUE(index.has_empty(c, name));   // row 10
    EXPECT_FALSE(index.has_empty(c, name->next));
    EXPECT_EQ(values(index.rows_with(c, name, "xacts", 5)), "1 ;4 ;8 ;");
    // Rows added later are seen: the cursor's last row differs.
    t.add({"access", "xacts", "11"});
    EXPECT_EQ(values(index.rows_with(c, group, "access", 6)), "1 ;6 ;10;11;");
    index.clear();
    EXPECT_EQ(values(index.rows_with(c, name, "xacts", 5)), "1 ;4 ;8 ;11;");
}

TEST_F(ConditionPlanRows, ConditionsOutOfReachGetNoPlan) {
    cursortest::cursor numeric("NUMMON", cursortest::sysmon_columns(2));
    int32_t limit = 3;
    declare_C_var("limit", 2, &limit);
    struct Case {
        const char* cursor;
        const char* where;
    };
    const Case cases[] = {
        {"NUMMON", "FLDVALUE = 'x'"},                // a numeric column
        {"T", "FLDVALUE > 5"},                       // a number
        {"T", "FLDVALUE < limit"},                   // a numeric variable
        {"T", "NUMMON.GROUPNAME = 'x'"},             // another cursor's column
        {"T", "GROUPNAME"},                          // no operation
        {"T", "GROUPNAME = 'a' AND FLDNAME"},        // a text has no truth value
        {"T", "(GROUPNAME = 'a') = 1"},              // a comparison of a result
        {"T", "GROUPNAME = 'a' AND unknown = 'b'"},  // an unbound name
        {"T", "SUM(FLDVALUE)"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.where);
        lex_block block = {};
        ASSERT_EQ(parse_where(k.where, k.cursor, &block), 0);
        condition_plan plan;
        EXPECT_FALSE(plan.compile(block.rpn, find_cursor(k.cursor)));
    }
}

// ---- The monitor texts over a small SYSMON, against a plain computation ----

struct Row {
    const char* group;
    const char* name;
    int value;
};

const Row kSysmon[] = {
    {"access", "xacts", 7},
    {"access", "ncinsert", 3},
    {"access", "cinsert", 4},
    {"access", "delete", 5},
    {"access", "locklastpage", 11},
    {"engine_0", "clock_ticks", 100},
    {"engine_0", "context_switches", 20},
    {"engine_1", "clock_ticks", 90},
    {"engine_1", "context_switches", 30},
    {"engine_10", "clock_ticks", 80},
    {"buffer_0", "bufgrab_2k", 1},
    {"buffer_0", "bufgrab_16k", 2},
    {"buffer_0", "bufgrab_dirty_2k", 3},
    {"buffer_0", "bufgrab_ref_2K", 4},
    {"buffer_0", "bufgrab_ref_16K", 5},
    {"buffer_1", "bufgrab_16k", 6},
    {"buffer_1", "prefetch_req", 8},
    {"disk_0", "total_reads", 12},
    {"disk_0", "total_writes", 13},
    {"disk_1", "total_reads", 14},
    {"lock", "granted_EX_TAB", 21},
    {"lock", "waited_EX_TAB", 22},
    {"lock", "waited_EX_ADDR", 23},
    {"lock", "deadlocks", 24},
    {"xls", "plc_flush_full", 31},
    {"xls", "plc_flush_unpin", 32},
    {"xls", "log_lock_waited", 33},
    {"kernel", "yields", 41},
};

using Test = std::function<bool(std::string_view group, std::string_view name)>;

bool starts(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool ends(std::string_view s, std::string_view x) {
    return s.size() >= x.size() && s.substr(s.size() - x.size()) == x;
}

struct MonitorCase {
    bool sum;
    const char* where;
    const char* variable;  // the text of tmp_grp, buffer_name and diskmon
    Test test;
};

const MonitorCase kMonitorCases[] = {
    {false, "GROUPNAME = \"access\" and FLDNAME = \"xacts\" ", "",
     [](auto g, auto n) { return g == "access" && n == "xacts"; }},
    {true, "GROUPNAME = buffer_name AND FLDNAME LIKE 'bufgrab_%k'", "buffer_0",
     [](auto g, auto n) { return g == "buffer_0" && starts(n, "bufgrab_") && ends(n, "k"); }},
    {true, "GROUPNAME = buffer_name AND FLDNAME LIKE 'bufgrab_%' AND FLDNAME ^= 'bufgrab_2k'",
     "buffer_0",
     [](auto g, auto n) { return g == "buffer_0" && starts(n, "bufgrab_") && n != "bufgrab_2k"; }},
    {true,
     "GROUPNAME = buffer_name AND FLDNAME LIKE 'bufgrab_ref_%K' AND FLDNAME ^= "
     "'bufgrab_ref_2K'",
     "buffer_0",
     [](auto g, auto n) {
         return g == "buffer_0" && starts(n, "bufgrab_ref_") && ends(n, "K") &&
                n != "bufgrab_ref_2K";
     }},
    {true, "GROUPNAME LIKE 'buffer_%' AND FLDNAME = 'bufgrab_16k'", "",
     [](auto g, auto n) { return starts(g, "buffer_") && n == "bufgrab_16k"; }},
    {true,
     "GROUPNAME = buffer_name AND ( FLDNAME = 'prefetch_as_requested' OR FLDNAME = "
     "'prefetch_req')",
     "buffer_1",
     [](auto g, auto n) {
         return g == "buffer_1" && (n == "prefetch_as_requested" || n == "prefetch_req");
     }},
    {true, "GROUPNAME LIKE 'disk_%' AND ( FLDNAME = 'total_reads' OR FLDNAME = 'total_writes')", "",
     [](auto g, auto n) {
         return starts(g, "disk_") && (n == "total_reads" || n == "total_writes");
     }},
    {false, "GROUPNAME = diskmon AND FLDNAME = 'total_reads'", "disk_1",
     [](auto g, auto n) { return g == "disk_1" && n == "total_reads"; }},
    {false, "GROUPNAME = diskmon AND FLDNAME = 'total_writes'", "disk_1",
     [](auto, auto) { return false; }},
    {true, "GROUPNAME LIKE 'engine_%' AND FLDNAME = 'clock_ticks'", "",
     [](auto g, auto n) { return starts(g, "engine_") && n == "clock_ticks"; }},
    {false, "GROUPNAME = tmp_grp AND FLDNAME = 'clock_ticks'", "engine_1",
     [](auto g, auto n) { return g == "engine_1" && n == "clock_ticks"; }},
    {true, "GROUPNAME = 'lock' AND ( FLDNAME LIKE 'granted%' OR FLDNAME LIKE 'waited%'        )",
     "",
     [](auto g, auto n) { return g == "lock" && (starts(n, "granted") || starts(n, "waited")); }},
    {true,
     "GROUPNAME = 'lock'         AND FLDNAME LIKE 'waited_%'             AND (NOT FLDNAME "
     "LIKE 'waited_%_ADDR')       ",
     "",
     [](auto g, auto n) {
         return g == "lock" && starts(n, "waited_") && !(starts(n, "waited_") && ends(n, "_ADDR"));
     }},
    {true,
     "GROUPNAME = 'xls' AND ( FLDNAME = 'plc_flush_unpin'      OR FLDNAME = "
     "'plc_flush_discard' OR FLDNAME = 'plc_flush_pmscan'        )",
     "",
     [](auto g, auto n) {
         return g == "xls" &&
                (n == "plc_flush_unpin" || n == "plc_flush_discard" || n == "plc_flush_pmscan");
     }},
    {true, "GROUPNAME = 'access' AND ( FLDNAME = 'ncinsert'     OR FLDNAME = 'cinsert'         )",
     "", [](auto g, auto n) { return g == "access" && (n == "ncinsert" || n == "cinsert"); }},
    {false, "GROUPNAME = 'kernel' AND FLDNAME = 'yields'", "",
     [](auto g, auto n) { return g == "kernel" && n == "yields"; }},
    {true, "GROUPNAME = 'sysind'     AND FLDNAME LIKE 'ind_bufguess%'", "",
     [](auto, auto) { return false; }},
};

class MonitorTexts : public Bracket {
  protected:
    MonitorTexts() {
        for (const Row& r : kSysmon) sysmon.add({r.group, r.name, std::to_string(r.value)});
        zemv.add({"3600", "3660"});
        for (const char* name : {"tmp_grp", "buffer_name", "diskmon"})
            declare_C_var(name, 1, &variable_ptr);
    }
    cursortest::cursor sysmon{"SYSMON", cursortest::sysmon_columns(2)};
    cursortest::cursor zemv{"ZEMV", {{"STARTTIME", 8, 1}, {"STOPTIME", 8, 1}}};
    char variable[32] = {};
    char* variable_ptr = variable;
};

TEST_F(MonitorTexts, EverySelectGivesThePlainAnswer) {
    // Twice over: the second round runs on texts already lexed and terms already bound.
    for (int round = 0; round < 2; ++round) {
        for (const MonitorCase& k : kMonitorCases) {
            SCOPED_TRACE(k.where);
            std::strcpy(variable, k.variable);
            int32_t expected = -7;
            bool any = false;
            for (const Row& r : kSysmon) {
                if (!k.test(r.group, r.name)) continue;
                expected = k.sum && any ? expected + r.value : r.value;
                any = true;
            }
            int32_t value = -7;
            const int rc = perform_select(k.sum ? "SUM(FLDVALUE)" : "FLDVALUE", "SYSMON", &value,
                                          k.where, SEL_TARGET_INT);
            EXPECT_EQ(rc, any ? 0 : 100);
            EXPECT_EQ(value, expected);
        }
    }
    int32_t start = 0, stop = 0;
    EXPECT_EQ(perform_select("STARTTIME", "ZEMV", &start, nullptr, SEL_TARGET_INT), 0);
    EXPECT_EQ(perform_select("STOPTIME", "ZEMV", &stop, nullptr, SEL_TARGET_INT), 0);
    EXPECT_EQ(stop - start, 60);
    EXPECT_EQ(log.text(), "");
}

// Rows that cannot be evaluated give the interpreter's messages, from the first such row
// only, and the same return codes, whether the condition has a plan or not.
struct FailureCase {
    const char* name;
    const char* list;
    const char* where;
    int rc;
    int32_t value;
    std::vector<const char*> once;  // ids written exactly once
};

const FailureCase kFailureCases[] = {
    {"SumOverANonNumber", "SUM(FLDVALUE)", "GROUPNAME = 'access'", 1, -7, {"INT0310", "SEL0100"}},
    {"UnknownColumn",
     "FLDVALUE",
     "SYSMON.NOSUCH = 'x'",
     100,
     -7,
     {"INT0052", "SEL0050", "SEL0320", "SEL0325"}},
    {"EmptyFieldCompared",
     "SUM(FLDVALUE)",
     "GROUPNAME = 'disk_0' OR FLDNAME = 'yields'",
     0,
     66,
     {"INT0180"}},
    // Rows the equality leaves out are read all the same where one would be reported.
    {"EmptyFieldBesideAnEquality",
     "SUM(FLDVALUE)",
     "GROUPNAME = 'disk_0' AND FLDNAME = 'total_reads'",
     0,
     12,
     {"INT0180"}},
    {"NumberComparedWithAText",
     "FLDVALUE",
     "GROUPNAME = 'kernel' AND FLDNAME > 5",
     100,
     -7,
     {"INT0190", "SEL0050", "SEL0320", "SEL0325"}},
};

class SelectFailures : public MonitorTexts, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SelectFailures, MessagesOfTheFirstFailingRowAndTheCode) {
    const FailureCase& k = GetParam();
    // The first access row holds no number; one row has an empty GROUPNAME.
    sysmon.clear_rows();
    sysmon.add({"access", "xacts", "12abc"});
    for (const Row& r : kSysmon) sysmon.add({r.group, r.name, std::to_string(r.value)});
    sysmon.add({"", "x", "1"});
    overwrite(sysmon, 0, "\0", 1);
    int32_t value = -7;
    EXPECT_EQ(perform_select(k.list, "SYSMON", &value, k.where, SEL_TARGET_INT), k.rc);
    EXPECT_EQ(value, k.value);
    const std::string text = log.text();
    for (const char* id : k.once) EXPECT_EQ(count_of(text, id), 1) << id << "\n" << text;
    EXPECT_TRUE(sysmon.rests_on_last_row());
}

INSTANTIATE_TEST_SUITE_P(Cases, SelectFailures, ::testing::ValuesIn(kFailureCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
