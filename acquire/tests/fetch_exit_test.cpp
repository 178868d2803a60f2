// Runs of fetch-exit cursors with the helper programs: host variables, no shell for values,
// time limits, no output, rows released.
#include "acquire/fetch_exit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "acquire/tests/exit_cursor.h"
#include "defs/clause_loads.h"
#include "expr/internal_select.h"
#include "testing/exec_support.h"

namespace {

using exit_test::ExitCursor;

constexpr const char* kStamp = "20260101120000";

class FetchExitRun : public ExecTest {};

// A cursor whose rows are the lines of the argument-printing helper, whole (format 5).
std::string args_script(const std::string& parms) { return xh("xh_args") + " " + parms; }

TEST_F(FetchExitRun, HostVariablesOfOwnAndOtherCursorAndInList) {
    ExitCursor other("OTHER", {{"K", 10, 1}}, 5, 0, "true");
    other.add({"k1 k2"});
    in_list list{};
    std::strcpy(list.name, "L");
    char text[] = "('a b','c')";
    list.text = text;
    list.len = static_cast<int32_t>(std::strlen(text));
    other.get()->in_list = &list;

    ExitCursor x("ARGS", {{"LINE", 40, 1}}, 5, 0,
                 args_script("[LINE] [OTHER.K], [ OTHER.L] x[LINE]y"));
    x.add({"own"});
    ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
    EXPECT_EQ(x.rows(), (std::vector<std::string>{"own", "arg:own", "arg:k1 k2,", "arg:a b",
                                                  "arg:c", "arg:xowny"}));
    EXPECT_EQ(x.get()->sqlcode, 100);
    other.get()->in_list = nullptr;
}

TEST_F(FetchExitRun, UnresolvedHostVariableStartsNothing) {
    const std::string marker = tmp_ / "started";
    struct Case {
        std::string script;
        const char* id;
    } cases[] = {
        {"[NOPE]", "FXR4015E"},
        {"[EMPTY.K]", "FXR4020E"},
        {"[" + std::string(50, 'N') + "]", "FXR4016E"},
        {std::string(16000, 'p'), "FXR4018E"},
    };
    ExitCursor empty("EMPTY", {{"K", 4, 1}}, 5, 0, "true");
    for (const Case& k : cases) {
        ExitCursor x("ARGS", {{"LINE", 40, 1}}, 5, 0,
                     "/bin/sh -c 'touch " + marker + "' " + k.script);
        x.add({"kept"});
        EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 1) << k.script;
        EXPECT_TRUE(log().find(k.id) != std::string::npos) << k.id << "\n" << log();
        EXPECT_EQ(x.get()->sqlcode, -1);
        EXPECT_EQ(x.rows(), std::vector<std::string>{"kept"});
        EXPECT_FALSE(std::filesystem::exists(marker));
    }
}

TEST_F(FetchExitRun, CommandThatCannotStartFailsAndKeepsRows) {
    for (int option : {0, 1, 2}) {
        ExitCursor x("GONE", {{"LINE", 10, 1}}, 5, option, "/nonexistent/program a b");
        x.add({"kept"});
        EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 1) << option;
        EXPECT_EQ(x.get()->sqlcode, -1);
        EXPECT_EQ(x.rows(), std::vector<std::string>{"kept"});
        EXPECT_TRUE(x.rests_on_last_row());
    }
    EXPECT_NE(log().find("FXR4029E"), std::string::npos) << log();
    EXPECT_TRUE(no_children());
}

TEST_F(FetchExitRun, RowValuesNeverReachAShell) {
    const std::string pwned = tmp_ / "pwned";
    const std::string evil = "x'; touch " + pwned + "; echo $(id)";
    // Plain words, and scripts of their own shell syntax with the value bare or in quotes.
    for (const std::string& tail :
         {std::string("[OTHER.K]"), std::string("[OTHER.K] | cat"),
          std::string("\"[OTHER.K]\" | cat"), std::string("'[OTHER.K]' | cat")}) {
        ExitCursor other("OTHER", {{"K", 200, 1}}, 5, 0, "true");
        other.add({evil});
        ExitCursor x("ARGS", {{"LINE", 250, 1}}, 5, 0, args_script(tail));
        ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << tail << log();
        EXPECT_EQ(x.rows(), std::vector<std::string>{"arg:" + evil}) << tail;
        EXPECT_FALSE(std::filesystem::exists(pwned)) << tail;
    }
}

TEST_F(FetchExitRun, EveryOptionEndsAnOverrunningCommandAtItsLimit) {
    for (int option : {0, 1, 2}) {
        const std::string pidfile = tmp_ / ("pid" + std::to_string(option));
        ExitCursor x("SLOW", {{"LINE", 20, 1}}, 5, option,
                     xh("xh_slow") + " 1 30 grandchild " + pidfile, 1);
        auto t0 = std::chrono::steady_clock::now();
        int rc = run_cursor_fetch_exit(x.get(), kStamp);
        if (option == 2) {
            EXPECT_EQ(rc, 1);  // detached: no rows, no dummy asked for
            EXPECT_LT(seconds_since(t0), 1.0);
        } else {
            EXPECT_EQ(rc, 0) << option;  // the line read before the limit
            EXPECT_EQ(x.rows(), std::vector<std::string>{"line 1"});
            EXPECT_LT(seconds_since(t0), 15.0) << option;  // far below the command's 30 s
            EXPECT_NE(log().find("FXR4030W"), std::string::npos) << log();
        }
        ASSERT_TRUE(eventually([&] { return std::filesystem::exists(pidfile); }));
        pid_t grandchild = 0;
        ASSERT_TRUE(eventually([&] {
            std::ifstream in(pidfile);
            return static_cast<bool>(in >> grandchild) && grandchild > 0;
        }));
        // The command's whole group is gone at the limit, long before its 30 seconds.
        EXPECT_TRUE(eventually([&] { return !process_alive(grandchild); }, 15000)) << option;
        EXPECT_TRUE(no_children()) << option;
    }
}

TEST_F(FetchExitRun, NoOutputGivesDummyLayoutOrFailure) {
    ExitCursor x("QUIET", {{"A", 6, 1}, {"B", 4, 2}, {"C", 3, 1}}, 2, 0, xh("xh_lines") + " 0 10");
    x.get()->conditional_dummy = 1;
    EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
    EXPECT_EQ(x.get()->sqlcode, 100);
    EXPECT_NE(x.get()->held, 'Y');
    int expected_offset = 0;
    for (columns* col = x.get()->insert_columns; col; col = col->next) {
        EXPECT_EQ(col->offset, expected_offset) << col->col_name;
        expected_offset += col->len + 1;
    }
    EXPECT_EQ(x.get()->length, expected_offset);

    ExitCursor y("QUIET2", {{"A", 6, 1}}, 2, 0, xh("xh_lines") + " 0 10");
    EXPECT_EQ(run_cursor_fetch_exit(y.get(), kStamp), 1);
    EXPECT_EQ(y.get()->sqlcode, -1);
    EXPECT_EQ(std::string(y.get()->ssqlcode, 16), "              -1");
}

TEST_F(FetchExitRun, AfterARunColumnsReadTheLastStoredRow) {
    ExitCursor x("WORDS", {{"A", 8, 1}, {"B", 8, 1}}, 2, 0, xh("xh_args") + " one two");
    ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
    EXPECT_EQ(x.rows(), (std::vector<std::string>{"arg:one|", "arg:two|"}));
    EXPECT_TRUE(x.rests_on_last_row());
    auto* d = static_cast<_anchorDBdata*>(x.get()->db_data);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(ROW_DATA_get_first(d), nullptr);  // the result set's rows are gone
    EXPECT_EQ(d->ncols, 2);                     // its columns stay for the next run
    // The next run resolves again and appends after the stored rows.
    ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0);
    EXPECT_EQ(x.rows().size(), 4u);
    EXPECT_EQ(x.get()->totalDataRowsReturned, 4);
}

TEST_F(FetchExitRun, LongParametersTravelAsEachOptionReadsThem) {
    const std::string parms(1100, 'q');
    ExitCursor timed("LONG1", {{"LINE", 60, 1}}, 5, 1, args_script(parms));
    ASSERT_EQ(run_cursor_fetch_exit(timed.get(), kStamp), 0) << log();
    std::vector<std::string> rows = timed.rows();
    ASSERT_GE(rows.size(), 2u);
    EXPECT_EQ(rows[0], "arg:--");                        // on standard input
    EXPECT_EQ(rows[1], "stdin:" + parms.substr(0, 54));  // cut to the column

    ExitCursor plain("LONG0", {{"LINE", 60, 1}}, 5, 0, args_script(parms));
    ASSERT_EQ(run_cursor_fetch_exit(plain.get(), kStamp), 0) << log();
    rows = plain.rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], "arg:-filein");  // in a file named after -filein, removed after the run
    EXPECT_FALSE(std::filesystem::exists(rows[1].substr(4)));
}

TEST_F(FetchExitRun, SelectColumnReadsTheLastRowAfterARun) {
    ExitCursor x("NUMS", {{"A", 4, 1}, {"B", 4, 1}}, 2, 0, "/bin/echo 41 42");
    ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
    x.set_script("/bin/echo 51 52");
    ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
    start_exec_sql(nullptr);
    int32_t v = 0;
    EXPECT_EQ(select_column("B", "NUMS", &v, SEL_TARGET_INT, nullptr, nullptr), 0) << log();
    TERM_TABLE* table = nullptr;
    end_exec_sql(&table);
    EXPECT_EQ(v, 52);
}

}  // namespace
