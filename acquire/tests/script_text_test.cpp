// Script texts: each output line's words into the descriptor, rows built by the row store;
// internal exits.
#include "acquire/script_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "acquire/fetch_exit.h"
#include "acquire/monitor/smon_driver.h"
#include "defs/xsqlda.h"
#include "expr/internal_select.h"
#include "testing/exec_support.h"
#include "testing/exit_cursor.h"

namespace {

using exit_test::ExitCursor;

constexpr const char* kStamp = "20260101120000";

// A descriptor over the cursor's columns (names, lengths, types), with value buffers.
class Described {
  public:
    explicit Described(curs* c) : c_(c) {
        int n = 0;
        for (columns* col = c->insert_columns; col; col = col->next) ++n;
        x_ = xsqlda_with_indicators(n);
        values_.resize(static_cast<size_t>(n));
        int i = 0;
        for (columns* col = c->insert_columns; col; col = col->next, ++i) {
            values_[static_cast<size_t>(i)].assign(static_cast<size_t>(col->len) + 1, '\0');
            x_->V[i] = values_[static_cast<size_t>(i)].data();
            x_->L[i] = col->len;
            x_->T[i] = col->orig_type == 2 ? 2 : 1;
            x_->S[i] = col->col_name;
            x_->C[i] = col->col_name_ll;
        }
        c->xlda = x_;
    }
    ~Described() {
        c_->xlda = nullptr;
        zovldau(&x_);
    }

  private:
    curs* c_;
    xSQLDA* x_;
    std::vector<std::string> values_;
};

class ScriptText : public ExecTest {};

TEST_F(ScriptText, SkipStopAndAlignment) {
    ExitCursor x("LINES", {{"L", 9, 1}, {"N", 5, 2}}, 2, 0, xh("xh_lines") + " 5 9");
    Described d(x.get());
    x.get()->start_after = 1;
    x.get()->stop_after = 2;
    ASSERT_EQ(parse_script_text(x.get(), kStamp, 2), 0) << log();
    // Columns without a word stay NULL: a number shows 0.
    EXPECT_EQ(x.rows(), (std::vector<std::string>{"0000002xx|    0", "0000003xx|    0"}));
    EXPECT_EQ(x.get()->sqlcode, 100);

    ExitCursor y("WORDS", {{"L", 4, 1}, {"N", 5, 2}}, 2, 0, xh("xh_args") + " 'ab 12'");
    Described e(y.get());
    ASSERT_EQ(parse_script_text(y.get(), kStamp, 2), 0) << log();
    // Quoted word's quotes gone, cut to the field; a number right-aligned.
    ASSERT_EQ(y.rows().size(), 1u);
    const char* text = y.get()->last_row->text;
    EXPECT_EQ(std::string(text, 4), "arg:");
    EXPECT_EQ(std::string(text + 5, 5), "   12");
}

TEST_F(ScriptText, HostVariableEndsOnlyAtBlankCommaOrEnd) {
    ExitCursor x("HV", {{"K", 6, 1}}, 2, 0, xh("xh_args") + " [K]");
    x.add({"ab"});
    Described d(x.get());
    EXPECT_EQ(parse_script_text(x.get(), kStamp, 2), 1);
    EXPECT_NE(log().find("CCC4015E"), std::string::npos) << log();
    EXPECT_NE(log().find("(K])"), std::string::npos);

    ExitCursor y("HV2", {{"K", 12, 1}}, 2, 0, xh("xh_args") + " [K,z");
    y.add({"ab"});
    Described e(y.get());
    ASSERT_EQ(parse_script_text(y.get(), kStamp, 2), 0) << log();
    // The whole field, blanks included, then the comma that ended the name.
    EXPECT_EQ(y.rows().back(), "arg:ab");
    EXPECT_EQ(y.rows().size(), 2u);
}

TEST_F(ScriptText, MonitorCursorUnknownGivesNoRowsAndFails) {
    ExitCursor x("MON", {{"A", 4, 1}}, 9, 7, "internal ZEMNONE   ");
    Described d(x.get());
    EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 1);
    EXPECT_NE(log().find("SMON010E"), std::string::npos);
    EXPECT_NE(log().find("cursor ZEMNONE\n"), std::string::npos) << log();
    EXPECT_EQ(x.get()->sqlcode, -1);

    x.get()->conditional_dummy = 1;  // a dummy row stands in
    EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0);
    EXPECT_EQ(x.get()->sqlcode, 100);
}

TEST_F(ScriptText, InternalOptionsOneAndTwoDeliverNoRows) {
    for (int option : {1, 2, 5}) {
        ExitCursor x("INT", {{"A", 4, 1}}, 9, option, "none");
        EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 1) << option;
        EXPECT_EQ(x.get()->sqlcode, -1);
    }
    EXPECT_NE(log().find("FXR4025E"), std::string::npos);
}

// A monitor cursor: the driver's TAB-framed values fill the columns in order, numbers with
// their leading blanks.
TEST_F(ScriptText, MonitorCursorGetsTheProceduresLines) {
    reset_internal_select();
    {
        cursortest::cursor sysmon("SYSMON", cursortest::sysmon_columns());
        cursortest::cursor zemv("ZEMV", {{"STARTTIME", 8, 1}, {"STOPTIME", 8, 1}});
        for (const auto& [name, value] :
             std::vector<std::pair<std::string, std::string>>{{"plc_flush_full", "6"},
                                                              {"plc_flush_endxact", "4"},
                                                              {"plc_lock_calls", "10"},
                                                              {"plc_lock_waits", "4"}})
            sysmon.add({"xls", name, value});
        sysmon.add({"access", "xacts", "30"});
        zemv.add({"3600", "3660"});
        sysmon.point_at_fetch_area();
        zemv.point_at_fetch_area();
        ExitCursor x(
            "LOGD",
            {{"LABEL", 30, 1}, {"PER_S", 8, 2}, {"PER_X", 8, 2}, {"N", 8, 2}, {"PCT", 8, 2}}, 9, 7,
            "zemsmon ZEMLOGD ");
        Described d(x.get());
        ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
        const auto rows = x.rows();
        ASSERT_EQ(rows.size(), 12u) << log();
        EXPECT_EQ(rows[0], "Total PLC Flushes|    0.17|    0.33|      10|     100");
        EXPECT_EQ(rows[3], "Flushes by Full PLC|    0.10|    0.20|       6|   60.00");
        EXPECT_EQ(rows[8], "Granted PLC Semaphore Req|    0.10|    0.20|       6|   60.00");
    }
    reset_internal_select();
    free_perm_term_tb(lx_sql_handler);
    lx_sql_handler = nullptr;
}

}  // namespace
