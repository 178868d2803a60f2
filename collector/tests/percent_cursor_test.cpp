// The percent cursor: its columns and the values its row holds.
#include "collector/rows/percent_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "acquire/server_faults.h"
#include "collector/rows/row_store.h"
#include "collector/run/cursor_run.h"
#include "collector/tests/row_test_support.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/decode.h"
#include "collector/transforms/math.h"
#include "collector/transforms/row_builder.h"
#include "expr/percent_vars.h"
#include "model/db_specifics.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::Desc;
using rowtest::parse_one;
using E = std::vector<Desc::entry>;

class PercentCursor : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        // A gate closed or a back-off left by an earlier test would skip the runs here.
        server_faults_reset();
        saved_db = database_info;
        saved_id = machine_id;
        std::memset(&machine_id, ' ', sizeof machine_id);
        std::memcpy(machine_id.mach, "host1", 5);
        std::memcpy(machine_id.me, "SRV1", 4);
        std::memcpy(machine_id.machine_me, "host1_SRV1", 10);
        LogCapture log;
        ASSERT_NE(parse_one(block("A", "V") + block("B", "V"), "A"), nullptr) << log.text();
        ASSERT_EQ(build_percent_cursor(), 0);
        pc = pcnt_cursor();
        ASSERT_NE(pc, nullptr);
    }
    void TearDown() override {
        pcnt_forget();
        database_info = saved_db;
        machine_id = saved_id;
    }
    // The value of a percent column as other cursors read it: the last row plus offset.
    std::string through_row(const char* name) {
        columns* col = find_pcnt_col(name);
        EXPECT_NE(col, nullptr) << name;
        if (col == nullptr) return "";
        EXPECT_EQ(col->from, pc->last_row->text + col->offset) << name;
        return std::string(pc->last_row->text + col->offset, static_cast<size_t>(col->len));
    }
    curs* pc = nullptr;
    db_specifics saved_db{};
    machine_ident saved_id{};
};

TEST_F(PercentCursor, IsTheLastHeldCursorWithOneRow) {
    EXPECT_STREQ(pc->cur_name, "%CURSOR");
    EXPECT_EQ(pc->next, nullptr);
    EXPECT_EQ(pc->held, 'Y');
    EXPECT_EQ(pc->no_sql, 1);
    EXPECT_EQ(pc->demand, 1);
    EXPECT_EQ(pc->cols_set, 1);
    EXPECT_EQ(pc->first_row, pc->last_row);
    EXPECT_EQ(pc->column_data, pc->last_row);
    EXPECT_EQ(pc->cur_version_list, pc);
    int sum = 0;
    for (columns* col = pc->insert_columns; col != nullptr; col = col->next) sum += col->len;
    EXPECT_EQ(pc->length, sum);
    EXPECT_EQ(pc->last_row->len, sum);
}

TEST_F(PercentCursor, ColumnNames) {
    EXPECT_EQ(find_pcnt_col("%ROWNO"), find_pcnt_col("%rowno"));
    ASSERT_NE(find_pcnt_col("%sqlcode_A"), nullptr);
    EXPECT_EQ(find_pcnt_col("%sqlcode_A")->len, 16);
    EXPECT_EQ(find_pcnt_col("%sqlcode_B")->len, 16);
    EXPECT_EQ(find_pcnt_col("%sqlcode_%CURSOR"), nullptr);
    const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 16; ++i) {
        std::string name = std::string("%parm") + digits[i];
        EXPECT_NE(find_pcnt_col(name.c_str()), nullptr) << name;
    }
    EXPECT_EQ(find_pcnt_col("%parm10"), nullptr);

    std::strcpy(database_info.type, "SYB");
    EXPECT_EQ(find_pcnt_col("%machine_me")->len, 64);
    std::strcpy(database_info.type, "ORA");
    EXPECT_EQ(find_pcnt_col("%machine_me")->len, 72);
    EXPECT_STREQ(find_pcnt_col("%machine_me")->col_name, "%machine_me_ora");
}

TEST_F(PercentCursor, EveryColumnReadsItsLiveValue) {
    EXPECT_EQ(through_row("%me"), std::string(machine_id.me, 32));
    EXPECT_EQ(through_row("%machine"), std::string(machine_id.mach, 64));
    EXPECT_EQ(through_row("%machine_me_ora"),
              std::string(machine_id.mach, 64) + std::string(machine_id.me, 8));

    curs* a = curstest::find("A");
    a->rowno = 12;
    a->sampleno = 70000;
    a->execution_time = 3;
    pcnt_set_work(a, "20261211093000");
    EXPECT_EQ(through_row("%now_time"), "2026121109300000");
    EXPECT_EQ(through_row("%rowno"), "              12");
    EXPECT_EQ(through_row("%sampleno"), "           70000");
    EXPECT_EQ(through_row("%execution_time"), "               3");
    EXPECT_EQ(through_row("%now_time"), std::string(fetch_time_stamp, 16));
}

TEST_F(PercentCursor, SqlCodeAfterAFailedConnect) {
    curs* a = curstest::find("A");
    database_info.connected = 0;
    LogCapture log;
    EXPECT_EQ(run_cursor(a, "20261211093000"), 1);
    EXPECT_EQ(std::string(a->ssqlcode, 16), "               1");
    EXPECT_EQ(through_row("%sqlcode_A"), "               1");
    EXPECT_EQ(through_row("%sqlcode_B"), std::string(16, ' '));
}

TEST_F(PercentCursor, ParametersAreCopiedAndFewerReadBlank) {
    LogCapture log;
    const char* first[16] = {};
    char* p0 = static_cast<char*>(std::malloc(8));
    char* p1 = static_cast<char*>(std::malloc(400));
    std::strcpy(p0, "alpha");
    std::memset(p1, 'x', 399);
    p1[399] = '\0';
    first[0] = p0;
    first[1] = p1;
    first[2] = "gamma";
    first[3] = "";
    pcnt_set_parms(first);
    // The request block goes before the values are read.
    std::free(p0);
    std::free(p1);
    // Each column is as long as its parameter; a longer one keeps the place's 256 bytes.
    EXPECT_EQ(through_row("%parm0"), "alpha");
    EXPECT_EQ(through_row("%parm1"), std::string(256, 'x'));
    EXPECT_EQ(through_row("%parm2"), "gamma");
    EXPECT_EQ(through_row("%parm3"), "");
    columns* p1col = find_pcnt_col("%parm1");
    EXPECT_EQ(std::string(p1col->from, 257), std::string(256, 'x') + '\0');
    EXPECT_TRUE(log.has("PCV4630W")) << log.text();
    EXPECT_TRUE(log.has("%parm1 keeps the first 256")) << log.text();

    const char* fewer[16] = {"one"};
    pcnt_set_parms(fewer);
    EXPECT_EQ(through_row("%parm0"), "one");
    EXPECT_EQ(through_row("%parm1"), std::string(16, ' '));
    EXPECT_EQ(through_row("%parm2"), std::string(16, ' '));
    // The cursor's length stays the sum the columns had when it was built.
    EXPECT_EQ(pc->length, pc->last_row->len);
}

// The parameter columns as the readers of other cursors see them: CUST and ORD (based on
// CUST, its STATUS decoded against %parm1, its math column M twice %parm1) and P, a cursor
// without SQL whose row holds %parm1.
class PercentParameters : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        engine_alloc_work_buff();
        LogCapture log;
        const std::string ord_clauses =
            "base CUST on CUST_ID -> ID;\n"
            "decode STATUS = %parm1 , 'MATCH';\n"
            "math M %CURSOR.%parm1 * 2;\n";
        ASSERT_NE(
            parse_one(block("CUST", "ID, NAME") + block("ORD", "CUST_ID, STATUS, M", ord_clauses) +
                          block("P", "%rowno, %parm1", "no_sql;\n"),
                      "CUST"),
            nullptr)
            << log.text();
        ASSERT_EQ(build_percent_cursor(), 0);
        ASSERT_EQ(bind_decodes(), 0) << log.text();
        ASSERT_EQ(edit_bases_pass(), 0) << log.text();
        ASSERT_EQ(edit_math_pass(), 0) << log.text();
        cust = curstest::find("CUST");
        ord = curstest::find("ORD");
        p = curstest::find("P");
        Desc c7(E{{"ID", "7   "}, {"NAME", "SEVEN "}});
        Desc c8(E{{"ID", "8   "}, {"NAME", "EIGHT "}});
        ASSERT_GT(merge(cust, &c7), 0) << log.text();
        ASSERT_GT(merge(cust, &c8), 0) << log.text();
    }
    void TearDown() override { pcnt_forget(); }
    int merge(curs* c, Desc* d) {
        return merge_text(work_buff, d != nullptr ? d->get() : nullptr, c,
                          d != nullptr ? d->types.data() : nullptr, "20261211093000");
    }
    static void set_parm1(const std::string& v) {
        const char* parm[16] = {"", v.c_str()};
        pcnt_set_parms(parm);
    }
    curs* cust = nullptr;
    curs* ord = nullptr;
    curs* p = nullptr;
};

TEST_F(PercentParameters, ARowHoldsTheWholeParameter) {
    const struct {
        size_t length;
        bool warned;
    } cases[] = {{3, false}, {256, false}, {300, true}};
    for (const auto& k : cases) {
        LogCapture log;
        // A new layout for each parameter: the cursor takes the column's length anew.
        p->cols_set = 0;
        delete_all(p);
        std::string v(k.length, 'y');
        v.back() = 'z';
        set_parm1(v);
        ASSERT_GT(merge(p, nullptr), 0) << log.text();
        const size_t kept = std::min<size_t>(k.length, 256);
        EXPECT_EQ(rowtest::value(p->last_row, rowtest::column(p, 2)), v.substr(0, kept))
            << k.length;
        EXPECT_EQ(log.has("PCV4630W"), k.warned) << log.text();
    }
}

TEST_F(PercentParameters, DecodeAndMathOfABasedCursorReadTheParameter) {
    LogCapture log;
    set_parm1("21");
    Desc row(E{{"CUST_ID", "8   "}, {"STATUS", "21   "}});
    ASSERT_GT(merge(ord, &row), 0) << log.text();
    auto text = [&](const char* name) {
        for (columns* col = ord->insert_columns; col != nullptr; col = col->next)
            if (std::string(col->col_name) == name) return rowtest::value(ord->last_row, col);
        return std::string("(none)");
    };
    EXPECT_EQ(text("STATUS"), "MATCH");
    EXPECT_EQ(text("M"), "           42.00");
    EXPECT_FALSE(log.has("CDE4365W") || log.has("CMA3530E")) << log.text();

    // %parm1 lies beyond the sum of the column lengths: it is read all the same.
    const columns* parm1 = find_pcnt_col("%parm1");
    EXPECT_GE(parm1->offset, pcnt_cursor()->length);
    EXPECT_EQ(locate_base(pcnt_cursor(), ord, parm1->offset), parm1->from);
    EXPECT_EQ(locate_base(pcnt_cursor(), ord, pcnt_row_extent()), nullptr);
}

}  // namespace
