// zemcoll on the scripted test server, end to end: the rows of a fetch exit reach the
// history file, a resetdb raised in a demand run is committed before the restart, and the
// bundled example set is served as its users see it.
#include <gtest/gtest.h>

// Built where the scripted test server is (freetds-dev installed).
#ifdef ZOVPROBE_PATH

#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "testing/zemcoll_tds.h"

namespace {

using zemcoll_tds::read_file;

// The lines of the history file `name` in the collector's directory that hold `text`.
int history_lines(const std::string& dir, const char* name, const std::string& text) {
    const std::string all = read_file(dir + "/" + name + ".HST");
    int n = 0;
    size_t from = 0;
    for (size_t end; (end = all.find('\n', from)) != std::string::npos; from = end + 1)
        n += all.substr(from, end - from).find(text) != std::string::npos;
    return n;
}

// A cursor filled by a fetch exit's script and kept in the history: its rows are stored
// through the result-set merge, which must mark the cursor for the historian.
TEST(FetchExitHistory, TheRowsOfAFetchExitReachTheHistoryFile) {
    const std::string cursors = R"(cursor FXH;
  INSERT INTO FXH (FX_NAME, FX_NUM) VALUES (:FX_NAME, :INT!FX_NUM);
  fetch_exit fetchx2t60;
  script echo alpha 41;
  insert_select SELECT FX_NAME, FX_NUM FROM script;
  interval 60;
  limit 10;
  history;
  class 1;
end;
)";
    const std::string processes =
        "process collector;\n  type ctlib;\n  interval 60;\n  continuous Y;\n  class 1;\n"
        "  sleep 1;\nprocess historian;\n  type local;\n  interval 1;\n  class 1;\n"
        "process ulv;\n  type local;\n  interval 60;\n  class 1;\nend;\n";
    const std::string dict =
        "name SITE;\n  type CHAR(16);\n  initial test;\nname FX_NAME;\n  type CHAR(8);\n"
        "name FX_NUM;\n  type INTEGER;\nend;\n";
    zemcoll_tds::Collector coll;
    std::string error;
    ASSERT_TRUE(coll.start("", cursors, false, 1, error,
                           {{"zemproc.ctl", processes}, {"zemdict.ctl", dict}}))
        << error;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (history_lines(coll.dir(), "FXH", "alpha") == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string hst = read_file(coll.dir() + "/FXH.HST");
    EXPECT_GE(history_lines(coll.dir(), "FXH", "alpha"), 1) << hst << coll.output();
    EXPECT_NE(hst.find("41"), std::string::npos) << hst;
}

// A decode of a demand cursor asks for a new connection (resetdb): the collector restarts,
// and commits the demand run's work on the old connection first.
TEST(ResetdbRestart, TheDemandRunIsCommittedBeforeTheRestart) {
    const std::string scenario = "batch select v from rdb\n  result V:varchar(16)\n  row 'go'\n";
    const std::string cursors = R"(cursor RDB;
  INSERT INTO RDB (V) VALUES (:V);
  insert_select select v from rdb;
  demand;
  stale 0;
  limit 10;
  class 1;
  decode V = 'go' , 'hold resetdb';
end;
)";
    zemcoll_tds::Collector coll;
    std::string error;
    // The collection every 2 seconds: the restart comes at the next one.
    const std::string processes =
        "process collector;\n  type ctlib;\n  interval 2;\n  continuous Y;\n  class 1;\n"
        "  sleep 1;\nprocess ulv;\n  type local;\n  interval 60;\n  class 1;\nend;\n";
    ASSERT_TRUE(coll.start(scenario, cursors, false, 1, error, {{"zemproc.ctl", processes}}))
        << error;
    std::string out;
    ASSERT_EQ(coll.probe({"-n", "1", "RDB"}, out), 0) << out;
    ASSERT_TRUE(coll.wait_for("CGN1522S", 30)) << coll.output();
    // The commit follows the demand run's statement on the connection it ran on.
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (coll.batches("commit transaction") == 0 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int statement = -1, commit = -1, i = 0;
    for (const auto& e : coll.server().log()) {
        if (e.kind == zovtds::LogEntry::Batch && e.text.find("rdb") != std::string::npos &&
            statement < 0)
            statement = i;
        if (e.kind == zovtds::LogEntry::Batch && e.text.find("commit transaction") == 0 &&
            commit < 0)
            commit = i;
        ++i;
    }
    EXPECT_GE(statement, 0) << coll.output();
    std::string seen;
    for (const auto& e : coll.server().log()) seen += zovtds::log_line(e) + "\n";
    EXPECT_GT(commit, statement) << seen << coll.output();
}

// The example definitions with the demo's short intervals: every process interval and the
// cursors' 60-second ones become `seconds`.
std::vector<std::pair<std::string, std::string>> example_files(int seconds) {
    static const std::regex process_interval("(\n  interval )[0-9]+;");
    static const std::regex cursor_interval("(\n  interval )60;");
    const std::string short_one = "$01" + std::to_string(seconds) + ";";
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& e : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
        const std::string name = e.path().filename();
        if (name == "README.md" || name == "demo-server.scn") continue;
        std::string text = read_file(e.path());
        if (name == "zemproc.ctl") text = std::regex_replace(text, process_interval, short_one);
        if (name == "zemcoll.ctl") text = std::regex_replace(text, cursor_interval, short_one);
        files.emplace_back(name, text);
    }
    return files;
}

// The bundled example set against the demo server, as a requester sees it after three
// collections: DBSPACE serves its five databases (an evaluation's column function does not
// turn them into one summary row), and PROCS and BLOCKED hold the last sample only.
TEST(ExampleSetServed, EachCursorsRowsOfTheLastSample) {
    const std::vector<std::pair<std::string, std::string>> files = example_files(2);
    std::string cursors;
    for (const auto& [name, text] : files)
        if (name == "zemcoll.ctl") cursors = text;
    zemcoll_tds::Collector coll;
    std::string error;
    ASSERT_TRUE(coll.start(read_file(std::string(EXAMPLES_DIR) + "/demo-server.scn"), cursors,
                           false, 2, error, files))
        << error;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (coll.batches("commit transaction") < 3 && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_GE(coll.batches("commit transaction"), 3) << coll.output();
    std::string out;
    ASSERT_EQ(coll.probe({"-n", "1", "DBSPACE", "PROCS", "BLOCKED"}, out), 0) << out;
    EXPECT_NE(out.find("Cursor:DBSPACE, Rows:5\n"), std::string::npos) << out;
    for (const char* db : {"master", "tempdb", "sybsystemprocs", "salesdb", "hrdb"})
        EXPECT_NE(out.find(db), std::string::npos) << db << "\n" << out;
    // The six processes of the common version, once.
    EXPECT_NE(out.find("Cursor:PROCS, Rows:6\n"), std::string::npos) << out;
    // The blocked process and the dummy last row.
    EXPECT_NE(out.find("Cursor:BLOCKED, Rows:2\n"), std::string::npos) << out;
}

}  // namespace

#endif  // ZOVPROBE_PATH
