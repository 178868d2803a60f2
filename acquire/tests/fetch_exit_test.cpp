// Runs of fetch-exit cursors with the helper programs: host variables, no shell for values,
// time limits, no output, rows released.
#include "acquire/fetch_exit.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "defs/clause_loads.h"
#include "expr/internal_select.h"
#include "testing/exec_support.h"
#include "testing/exit_cursor.h"

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
            // The line printed before the limit is half an answer: no row is taken.
            EXPECT_EQ(rc, 1) << option;
            EXPECT_EQ(x.get()->sqlcode, -1);
            EXPECT_TRUE(x.rows().empty());
            EXPECT_LT(seconds_since(t0), 15.0) << option;  // far below the command's 30 s
            EXPECT_NE(log().find("FXR4030W"), std::string::npos) << log();
            EXPECT_NE(log().find("FXR4032E ("), std::string::npos) << log();
            EXPECT_NE(log().find("Fetch exit of cursor SLOW was ended at its time limit"),
                      std::string::npos)
                << log();
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

// A command that fails or prints what no text holds gives no rows: the run fails as a
// failed fetch does, without a dummy row, and the cursor keeps the rows it had.
TEST_F(FetchExitRun, FailedOrBinaryOutputYieldsNoRows) {
    struct Case {
        const char* name;
        std::string script;
        const char* id;
        const char* text;
    } cases[] = {
        {"exit 3", "/bin/sh -c 'echo a; echo b; exit 3'", "FXR4032E",
         "Fetch exit of cursor BAD ended with exit status 3"},
        {"signal", "/bin/sh <dir>/killed.sh", "FXR4032E",
         "Fetch exit of cursor BAD was ended by signal 9"},
        {"NUL byte", "/usr/bin/printf 'ab\\000cd\\n'", "FXR4033W",
         "Fetch exit of cursor BAD printed 1 bytes that are not text"},
        {"control bytes", "/usr/bin/printf 'a\\001b\\033c\\177\\n'", "FXR4033W",
         "Fetch exit of cursor BAD printed 3 bytes that are not text"},
        {"random bytes", "/usr/bin/head -c 4096 /dev/urandom", "FXR4033W",
         "Fetch exit of cursor BAD printed "},
    };
    {
        std::ofstream out(tmp_ / "killed.sh");
        out << "echo a\nkill -9 $$\n";
    }
    for (int option : {0, 1}) {
        for (const Case& k : cases) {
            const size_t mark = log().size();
            std::string script = k.script;
            if (size_t at = script.find("<dir>"); at != std::string::npos)
                script.replace(at, 5, tmp_.path());
            ExitCursor x("BAD", {{"LINE", 20, 1}}, 5, option, script);
            x.get()->conditional_dummy = 1;
            x.add({"kept"});
            EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 1) << k.name << option;
            EXPECT_EQ(x.get()->sqlcode, -1) << k.name;
            EXPECT_EQ(std::string(x.get()->ssqlcode, 16), "              -1");
            EXPECT_EQ(x.rows(), std::vector<std::string>{"kept"}) << k.name << option;
            const std::string said = log().substr(mark);
            EXPECT_NE(said.find(k.id), std::string::npos) << k.name << "\n" << said;
            EXPECT_NE(said.find(k.text), std::string::npos) << k.name << "\n" << said;
        }
    }
    // Text with TABs, carriage returns and the end mark is text.
    ExitCursor ok("GOOD", {{"A", 4, 1}, {"B", 4, 1}}, 3, 1,
                  "/usr/bin/printf 'a\\tb\\r\\nc\\td\\032\\n'");
    ASSERT_EQ(run_cursor_fetch_exit(ok.get(), kStamp), 0) << log();
    EXPECT_EQ(ok.rows().size(), 2u);
    EXPECT_TRUE(no_children());
}

// A command that leaves a grandchild of its own session holding its output ends its run
// once it has ended and the output stays quiet, not at its limit.
TEST_F(FetchExitRun, AGrandchildHoldingTheOutputDoesNotHoldTheRun) {
    const std::string pidfile = tmp_ / "gc.pid";
    const std::string script = tmp_ / "gc.sh";
    {
        std::ofstream out(script);
        out << "echo one\n"
            << "setsid /bin/sh -c 'echo $$ > " << pidfile << "; exec sleep 30' &\n"
            << "echo two\n";
    }
    for (int option : {0, 1}) {
        std::filesystem::remove(pidfile);
        ExitCursor x("HELD", {{"LINE", 20, 1}}, 5, option, "/bin/sh " + script, 20);
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << option << log();
        EXPECT_LT(seconds_since(t0), 10.0) << option;  // well before the 20-second limit
        EXPECT_EQ(x.rows(), (std::vector<std::string>{"one", "two"})) << option;
        EXPECT_EQ(log().find("FXR4030W"), std::string::npos) << log();
        pid_t grandchild = 0;
        ASSERT_TRUE(eventually([&] {
            std::ifstream in(pidfile);
            return static_cast<bool>(in >> grandchild) && grandchild > 0;
        }));
        kill(grandchild, SIGKILL);
        EXPECT_TRUE(eventually([&] { return !process_alive(grandchild); }, 5000));
    }
    EXPECT_TRUE(no_children());
}

// The stored password stays out of a fetch exit's environment, whatever the option.
TEST_F(FetchExitRun, AnExitThatPrintsItsEnvironmentShowsNoPassword) {
    const char* saved = std::getenv("COLL_PASSWORD");
    const std::string keep = saved ? saved : "";
    setenv("COLL_PASSWORD", "Sw0rdf1sh", 1);
    for (int option : {0, 1}) {
        ExitCursor x("ENV", {{"LINE", 200, 1}}, 5, option, "/usr/bin/env");
        x.get()->limit = 0;
        ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
        bool path = false;
        for (const std::string& r : x.rows()) {
            EXPECT_EQ(r.find("Sw0rdf1sh"), std::string::npos) << r;
            EXPECT_EQ(r.find("COLL_PASSWORD"), std::string::npos) << r;
            path = path || r.rfind("PATH=", 0) == 0;
        }
        EXPECT_TRUE(path) << "the rest of the environment is passed";
    }
    EXPECT_STREQ(std::getenv("COLL_PASSWORD"), "Sw0rdf1sh");  // the collector's own stays
    if (saved)
        setenv("COLL_PASSWORD", keep.c_str(), 1);
    else
        unsetenv("COLL_PASSWORD");
}

// Option 1 keeps twice the cursor's limit, at most 300 lines; without a limit the
// runtime's own bound of 30000.
TEST_F(FetchExitRun, TimedExitKeepsLinesByTheCursorLimit) {
    struct Case {
        int16_t limit;
        const char* dropped;  // the warning, or null when every line is kept
    } cases[] = {{0, nullptr},
                 {100, "cursor MANY: 800 output lines beyond 200 dropped"},
                 {200, "cursor MANY: 700 output lines beyond 300 dropped"}};
    for (const Case& k : cases) {
        const size_t mark = log().size();
        ExitCursor x("MANY", {{"LINE", 10, 1}}, 5, 1, xh("xh_lines") + " 1000 8");
        x.get()->limit = k.limit;
        ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
        const std::string said = log().substr(mark);
        if (k.dropped == nullptr) {
            EXPECT_EQ(x.rows().size(), 1000u);
            EXPECT_EQ(said.find("FXR4031W"), std::string::npos) << said;
        } else {
            EXPECT_NE(said.find(k.dropped), std::string::npos) << k.limit << "\n" << said;
        }
    }
}

// A line longer than the read block is one row, cut to the row, with a warning naming the
// cursor; a line that fits in one read gives none.
TEST_F(FetchExitRun, ALongLineIsOneRowCut) {
    for (int option : {0, 1}) {
        for (int length : {65535, 65536, 200000}) {
            const std::string script = tmp_.path() + "/long.sh";
            {
                std::ofstream out(script);
                out << "head -c " << length << " /dev/zero | tr '\\0' x\necho\necho after\n";
            }
            const size_t mark = log().size();
            ExitCursor x("LONG", {{"LINE", 20, 1}}, 5, option, "/bin/sh " + script);
            ASSERT_EQ(run_cursor_fetch_exit(x.get(), kStamp), 0) << log();
            EXPECT_EQ(x.rows(), (std::vector<std::string>{std::string(20, 'x'), "after"}))
                << length << " option " << option;
            const std::string said = log().substr(mark);
            const bool warned =
                said.find("FXR4034W") != std::string::npos &&
                said.find("Fetch exit of cursor LONG: 1 output lines longer than 65536 bytes") !=
                    std::string::npos;
            EXPECT_EQ(warned, length > 65536) << length << "\n" << said;
        }
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
