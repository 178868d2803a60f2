#include "collector/transforms/loads.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "collector/rows/virtual_cursors.h"
#include "defs/clause_decode.h"
#include "defs/clause_loads.h"
#include "testing/case_names.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"
#include "testing/reader_support.h"

namespace {

using enginetest::column;
using enginetest::value;

using Rows = std::vector<std::vector<std::string>>;

// The virtual cursor VT laid out from the dictionary, and the loading cursor PROCS with
// NAME, CPU (numeric), STATUS and BIG (numeric); the loads are read by parse_loads and
// their predicates bound as the load edit binds them.
class load_world {
  public:
    explicit load_world(const Rows& rows) {
        enginetest::read_dict(
            "name NAME; type CHAR(8); name CNT; type INTEGER; name AVG; type INTEGER; "
            "name SUM; type INTEGER; name SHORT; type CHAR(5); initial xy; "
            "name NUM4; type CHAR(4); name TOTAL; type INTEGER; initial 7; end;");
        enginetest::read_cursors(
            "cursor VT;\nINSERT INTO VT (NAME, CNT, AVG, SUM, SHORT, NUM4, TOTAL) VALUES "
            "(:NAME, :CNT, :AVG, :SUM, :SHORT, :NUM4, :TOTAL);\nvirtual;\n");
        init_virtuals_pass();
        vt = enginetest::cursor("VT");
        procs_ = std::make_unique<cursortest::cursor>(
            "PROCS", std::vector<cursortest::col_spec>{
                         {"NAME", 8, 1}, {"CPU", 6, 2}, {"STATUS", 8, 1}, {"BIG", 8, 2}});
        for (const auto& r : rows) procs_->add(r);
        procs = procs_->get();
    }
    ~load_world() {
        free_load_processes(procs->loadp);
        procs->loadp = nullptr;
        for (load_text* l = procs->loadt; l != nullptr;) {
            load_text* n = l->next;
            U_FREE(l->text);
            U_FREE(l);
            l = n;
        }
        procs->loadt = nullptr;
    }
    // Adds the load texts and parses them; 0 or parse_loads' result.
    int loads(const std::vector<std::string>& texts) {
        load_text** tail = &procs->loadt;
        for (const std::string& t : texts) {
            auto* l = static_cast<load_text*>(U_MALLOC(sizeof(load_text)));
            l->next = nullptr;
            l->text = static_cast<char*>(U_MALLOC(t.size() + 5));
            std::memcpy(l->text, t.c_str(), t.size());
            std::memcpy(l->text + t.size(), "    ", 5);
            *tail = l;
            tail = &l->next;
        }
        const int rc = parse_loads();
        for (load_process* l = procs->loadp; l != nullptr; l = l->next)
            if (l->decode_ptr != nullptr) l->test_column = column(procs, l->decode_ptr->col_name);
        return rc;
    }
    std::string target(const char* name) const { return value(vt->last_row, column(vt, name)); }

    curs* vt = nullptr;
    curs* procs = nullptr;

  private:
    std::unique_ptr<cursortest::cursor> procs_;
};

std::string right(const std::string& s, size_t w) { return std::string(w - s.size(), ' ') + s; }
std::string left(const std::string& s, size_t w) { return s + std::string(w - s.size(), ' '); }

const Rows kFive = {{"a", "1.5", "RUN", "1"},
                    {"b", "2.25", "RUN", "2"},
                    {"c", "3", "IDLE", "3"},
                    {"d", "4", "RUN", "4"},
                    {"e", "5", "IDLE", "5"}};

struct load_case {
    const char* what;
    Rows rows;
    std::string load;
    const char* target;
    std::string expected;
};

class Loads : public ::testing::TestWithParam<load_case> {};

TEST_P(Loads, RowsToTarget) {
    const load_case& k = GetParam();
    LogCapture log;
    load_world w(k.rows);
    ASSERT_EQ(w.loads({k.load}), 0) << log.text();
    w.vt->changed = w.vt->needs_history = 0;
    w.procs->changed = w.procs->needs_history = 0;
    const char after =
        w.vt->last_row->text[column(w.vt, k.target)->offset + column(w.vt, k.target)->len];
    EXPECT_EQ(process_loads(w.procs, 1), 0) << log.text();
    EXPECT_EQ(w.target(k.target), k.expected) << log.text();
    EXPECT_EQ(w.vt->last_row->text[column(w.vt, k.target)->offset + column(w.vt, k.target)->len],
              after);
    EXPECT_EQ(w.vt->changed, 1);
    EXPECT_EQ(w.vt->needs_history, 1);
    EXPECT_EQ(w.procs->changed, 1);
    EXPECT_EQ(w.procs->needs_history, 1);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Loads,
    ::testing::Values(
        load_case{"count where 3 of 5", kFive, "COUNT NAME -> VT.CNT WHERE STATUS = 'RUN'", "CNT",
                  right("3", 16)},
        load_case{"average where none passes", kFive, "AVERAGE CPU -> VT.AVG WHERE STATUS = 'NONE'",
                  "AVG", right("0.0", 16)},
        load_case{"average where", kFive, "AVERAGE CPU -> VT.AVG WHERE STATUS = 'IDLE'", "AVG",
                  right("4.00", 16)},
        load_case{"sum where",
                  {{"a", " 1.5", "RUN"}, {"b", "2.25", "RUN"}, {"c", "9", "IDLE"}},
                  "SUM CPU -> VT.SUM WHERE STATUS = 'RUN'",
                  "SUM",
                  right("3.75", 16)},
        load_case{"first passing row", kFive, "NAME -> VT.NAME WHERE STATUS = 'IDLE'", "NAME",
                  left("c", 8)},
        load_case{"no passing row leaves the target", kFive,
                  "NAME -> VT.NAME WHERE STATUS = 'NONE'", "NAME", std::string(8, ' ')},
        load_case{"count without where counts every row", kFive, "COUNT NAME -> VT.CNT", "CNT",
                  right("5", 16)},
        load_case{"sum without where adds every row", kFive, "SUM CPU -> VT.SUM", "SUM",
                  right("15.75", 16)},
        load_case{"current row", kFive, "NAME -> VT.NAME", "NAME", left("e", 8)},
        load_case{"max from tie keeps the earlier",
                  {{"a", "5"}, {"b", "7"}, {"c", "7"}, {"d", "6"}},
                  "NAME -> VT.NAME FROM MAX CPU",
                  "NAME",
                  left("b", 8)},
        load_case{"max from by value",
                  {{"a", "9.75"}, {"b", "10.5"}, {"c", "2"}},
                  "NAME -> VT.NAME FROM MAX CPU",
                  "NAME",
                  left("b", 8)},
        load_case{"min from by value",
                  {{"a", "9.75"}, {"b", "10.5"}, {"c", "12"}},
                  "NAME -> VT.NAME FROM MIN CPU",
                  "NAME",
                  left("a", 8)},
        load_case{"min from tie keeps the earlier",
                  {{"a", "3"}, {"b", "1"}, {"c", "1"}},
                  "NAME -> VT.NAME FROM MIN CPU",
                  "NAME",
                  left("b", 8)},
        load_case{"max occurance ABBA first row",
                  {{"r1", "", "A"}, {"r2", "", "B"}, {"r3", "", "B"}, {"r4", "", "A"}},
                  "NAME -> VT.NAME FROM MAX_OCCURANCE STATUS",
                  "NAME",
                  left("r1", 8)},
        load_case{"max occurance ABB second row",
                  {{"r1", "", "A"}, {"r2", "", "B"}, {"r3", "", "B"}},
                  "NAME -> VT.NAME FROM MAX_OCCURANCE STATUS",
                  "NAME",
                  left("r2", 8)},
        load_case{"column function", kFive, "SUM!CPU -> VT.SUM", "SUM", right("15.75", 16)},
        load_case{
            "character cut to the field", {{"abcdefgh"}}, "NAME -> VT.SHORT", "SHORT", "abcde"},
        load_case{"character padded", {{"abc"}}, "NAME -> VT.SHORT", "SHORT", "abc  "},
        load_case{"number keeps its last characters",
                  {{"a", "", "", "12345678"}},
                  "BIG -> VT.NUM4",
                  "NUM4",
                  "5678"},
        load_case{"number right-aligned", {{"a", "", "", "42"}}, "BIG -> VT.NUM4", "NUM4", "  42"},
        load_case{
            "blanks and tabs stripped", {{"\t ab \t"}}, "NAME -> VT.SHORT", "SHORT", "ab   "}),
    case_names(&load_case::what));

// A run without rows: each target takes its dictionary initial value (numbers right-aligned
// as at start-up), or blanks.
TEST(LoadsWithoutRows, InitialValuesOrBlanks) {
    LogCapture log;
    load_world w({{"a", "1", "RUN", "99"}});
    ASSERT_EQ(w.loads({"NAME -> VT.SHORT", "BIG -> VT.TOTAL", "NAME -> VT.NAME"}), 0);
    ASSERT_EQ(process_loads(w.procs, 1), 0);
    EXPECT_EQ(w.target("SHORT"), "a    ");
    EXPECT_EQ(w.target("TOTAL"), right("99", 16));
    w.procs->trace = 1;
    ASSERT_EQ(process_loads(w.procs, 0), 0);
    EXPECT_EQ(w.target("SHORT"), "xy   ");
    EXPECT_EQ(w.target("TOTAL"), right("7", 16));
    EXPECT_EQ(w.target("NAME"), std::string(8, ' '));
    EXPECT_TRUE(log.has("Setting defaults at loads for cur = PROCS"));
}

// A target whose row was deleted (a decode can empty a virtual cursor) is skipped with a
// warning; the other loads still run.
TEST(LoadsEmptiedTarget, SkippedWithAWarning) {
    LogCapture log;
    load_world w({{"a", "1", "RUN", "5"}});
    cursortest::cursor other("VX", {cursortest::col_spec{"V", 4, 1}});
    other.get()->cvirtual = 1;
    ASSERT_EQ(w.loads({"NAME -> VX.V", "NAME -> VT.SHORT"}), 0) << log.text();
    ASSERT_EQ(other.get()->last_row, nullptr);
    EXPECT_EQ(process_loads(w.procs, 1), 0);
    EXPECT_TRUE(log.has("PLO3112W")) << log.text();
    EXPECT_EQ(w.target("SHORT"), "a    ");
    EXPECT_EQ(process_loads(w.procs, 0), 0);
}

TEST(LoadsBadDirective, ReportedAndSkipped) {
    LogCapture log;
    load_world w({{"a", "1", "RUN", "5"}});
    ASSERT_EQ(w.loads({"NAME -> VT.NAME FROM MAX CPU", "NAME -> VT.SHORT"}), 0);
    w.procs->loadp->load_max = 0;  // FROM without min, max or max_occurance
    EXPECT_EQ(process_loads(w.procs, 1), 0);
    EXPECT_TRUE(log.has("PLO3110E")) << log.text();
    EXPECT_TRUE(log.has("Bad load directive PROCS"));
    EXPECT_EQ(w.target("NAME"), std::string(8, ' '));
    EXPECT_EQ(w.target("SHORT"), "a    ");
}

TEST(LoadsColumnFunction, FailureStopsTheLoads) {
    LogCapture log;
    load_world w({{"a", "1", "RUN", "5"}});
    ASSERT_EQ(w.loads({"SUM!NAME -> VT.SUM", "NAME -> VT.SHORT"}), 0) << log.text();
    EXPECT_NE(process_loads(w.procs, 1), 0);  // SUM over a character column
    EXPECT_TRUE(log.has("PLO3105E")) << log.text();
    EXPECT_TRUE(log.has("Col_function failed for load, cur = PROCS, load = SUM"));
    EXPECT_EQ(w.target("SHORT"), "xy   ");
}

// The load's column is refreshed from its source on every run: a new layout moves it.
TEST(LoadsColumnFunction, SourceLayoutFollowedOnEveryRun) {
    LogCapture log;
    load_world w({{"a", "1", "RUN", "5"}});
    ASSERT_EQ(w.loads({"SUM!BIG -> VT.SUM"}), 0) << log.text();
    ASSERT_EQ(process_loads(w.procs, 1), 0);
    EXPECT_EQ(w.target("SUM"), right("5", 16));
    column(w.procs, "BIG")->offset = column(w.procs, "CPU")->offset;
    column(w.procs, "BIG")->len = column(w.procs, "CPU")->len;
    ASSERT_EQ(process_loads(w.procs, 1), 0);
    EXPECT_EQ(w.target("SUM"), right("1", 16));
}

TEST(BorinLoad, Results) {
    LogCapture log;
    load_world w({});
    cursortest::cursor plain("PLAIN", {cursortest::col_spec{"V", 4, 1}});
    columns* source = column(w.procs, "NAME");
    char value[] = "hello   ";
    char vt[] = "VT", pl[] = "PLAIN", nope[] = "NOPE", longname[] = "VTVTVTVTVT",
         shortc[] = "SHORT", none[] = "NONE";
    w.vt->changed = 0;
    EXPECT_EQ(borin_load(source, nope, shortc, value), 2);
    EXPECT_EQ(borin_load(source, longname, shortc, value), 2);
    EXPECT_EQ(borin_load(source, pl, shortc, value), 3);
    EXPECT_EQ(borin_load(source, vt, none, value), 4);
    EXPECT_EQ(borin_load(source, vt, shortc, value), 0);
    EXPECT_EQ(w.target("SHORT"), "hello");
    EXPECT_EQ(w.vt->changed, 1);
    EXPECT_EQ(w.vt->needs_history, 1);
}

TEST(MaxOccurance, ManyDistinctValuesAndNoRows) {
    load_world w({});
    EXPECT_EQ(get_max_occurance(w.procs, column(w.procs, "STATUS")), nullptr);
    Rows rows;
    for (int i = 0; i < 3000; ++i) rows.push_back({"n", "", std::to_string(i)});
    rows.push_back({"n", "", "2999"});
    load_world big(rows);
    row_data* r = get_max_occurance(big.procs, column(big.procs, "STATUS"));
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(value(r, column(big.procs, "STATUS")), left("2999", 8));
    rows.pop_back();
    load_world distinct(rows);
    EXPECT_EQ(get_max_occurance(distinct.procs, column(distinct.procs, "STATUS")),
              distinct.procs->first_row);
}

}  // namespace
