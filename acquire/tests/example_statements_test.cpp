// Every SQL cursor of the example set, each of its versions, run through the SQL cursor path
// against the demo's server script (examples/demo-server.scn): the server knows every
// statement the set sends, so the demo shows rows and no "statement not in the scenario".
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "acquire/server_faults.h"
#include "acquire/sql_cursor.h"
#include "collector/rows/virtual_cursors.h"
#include "collector/startup/engine_hooks.h"
#include "collector/startup/reference_passes.h"
#include "defs/clause_decode.h"
#include "defs/clause_loads.h"
#include "defs/cursor_versions.h"
#include "defs/distrib.h"
#include "defs/process_file.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "testing/example_set.h"
#include "testing/log_capture.h"
#include "testing/reader_support.h"
#include "tests/tds/tds_testenv.h"

namespace fs = std::filesystem;

namespace {

using exampleset::examples_dir;
using exampleset::read_example;

std::string read_text(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(ExampleStatements, EveryVersionOfEverySqlCursorIsAnsweredByTheDemoServer) {
    LogCapture log;
    install_engine_hooks();
    curstest::set_aside();
    // The example cursors and dictionary are set aside again at the end, so that tests that
    // look cursors up by name (SYSMON, ZEMV) find their own.
    struct set_aside_at_end {
        ~set_aside_at_end() {
            curstest::set_aside();
            enginetest::read_dict("");
            dict_anchor = nullptr;
        }
    } restore;
    ASSERT_EQ(read_example(parse_distributor_file, "proc"), 0) << log.text();
    ASSERT_EQ(enginetest::read_dict(""), 0);  // a fresh dictionary
    dict_anchor = nullptr;
    ASSERT_EQ(read_example(parse_dict_file, "dict"), 0) << log.text();
    ASSERT_EQ(exampleset::read_example_cursors(), 0) << log.text();
    ASSERT_TRUE(exampleset::run_start_up_passes()) << log.text();

    zovtds::TestEnv env;
    std::string error;
    ASSERT_TRUE(env.start(read_text(examples_dir() / "demo-server.scn"), error)) << error;
    ASSERT_NE(collector_at, nullptr);
    engine_alloc_work_buff();
    std::strcpy(collector_at->logon_id, "demo");
    std::strcpy(collector_at->password, "demo");
    std::memcpy(collector_at->server_id, "ZOVTDS  ", 8);
    database_info.connected = 0;
    database_info.status = down;
    // A gate closed or a back-off left by an earlier test would skip the runs here.
    server_faults_reset();
    ASSERT_EQ(connect_to_DB(collector_at), 0) << log.text();
    database_info.connected = 1;

    // In file order, so that a cursor whose statement holds another's values (DBSPACE and
    // DBLIST's in-list) runs after it; every version of a cursor with versions.
    std::set<std::string> ran;
    int statements = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        // A cursor with versions keeps them in a ring apart from its slot in the chain.
        curs* const first = c->cur_version_list != nullptr ? c->cur_version_list : c;
        curs* v = first;
        for (int n = 0; n < max_cursor_versions; ++n) {
            if (v->insert_select != nullptr && v->fetch_exit == nullptr && v->cvirtual == 0 &&
                v->no_sql == 0) {
                int rows = 0;
                EXPECT_EQ(prep_l_fetch(v, "20260101120000", &rows), 0) << v->cur_name << "\n"
                                                                       << log.text();
                EXPECT_GT(rows, 0) << v->cur_name;
                after_fetch_steps(v, rows);
                ran.insert(v->cur_name);
                ++statements;
            }
            v = v->cur_version_list;
            if (v == nullptr || v == first) break;
        }
    }
    commit_collect(1);

    // The example set as the demo shows it: the @@ counters, the processes in both
    // versions, the databases, the monitor counters and what the monitor cursors read.
    for (const char* name : {"SRVSTAT", "SRVINFO", "DBLIST", "PROCS", "BLOCKED", "DBSPACE", "LOCKS",
                             "SYSMON", "ZEMV", "SYSCCONF", "SYSDEV"})
        EXPECT_TRUE(ran.count(name)) << name;
    zovtds::Scenario sc;
    ASSERT_TRUE(zovtds::parse_scenario(read_text(examples_dir() / "demo-server.scn"), sc, error));
    int batches = 0;
    for (const auto& e : env.server.log()) {
        if (e.kind != zovtds::LogEntry::Batch) continue;
        ++batches;
        const std::string text = zovtds::normalise_sql(e.text);
        const bool known = zovtds::find_batch(sc, text) != nullptr || text == "select @@spid" ||
                           text == "commit transaction";
        EXPECT_TRUE(known) << text;
    }
    EXPECT_GE(batches, statements);
    // Both versions of PROCS: the busy server's leaves the system processes out.
    int procs_versions = 0;
    for (const auto& e : env.server.log())
        procs_versions += zovtds::normalise_sql(e.text).find(
                              "BLOCKED = blocked FROM master..sysprocesses") != std::string::npos;
    EXPECT_EQ(procs_versions, 2);
    EXPECT_EQ(log.text().find("99001"), std::string::npos) << log.text();
}

}  // namespace
