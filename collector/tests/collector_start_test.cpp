// zemcoll's start against what it finds in its directory: shared memory that cannot be set
// up, a live collector for the same server (serving, or still in its first pass), and the
// claim, pipe or IPC id file of one that is gone.
#include <gtest/gtest.h>

// Built where the scripted test server is (freetds-dev installed).
#ifdef ZOVPROBE_PATH

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/case_names.h"
#include "testing/zemcoll_tds.h"

namespace {

const char* const kScenario = R"(
batch select name, num from t1
  result NAME:varchar(8) NUM:int
  row 'alpha' 1
)";

const char* const kCursors = R"(cursor RQ;
  INSERT INTO RQ (NAME, NUM) VALUES (:NAME, :INT!NUM);
  insert_select select name, num from t1;
  interval 60;
  limit 100;
  class 1;
end;
)";

const char* const kRows = "*********Cursor:RQ, Rows:1\nalpha.......\n";

// The IPC id file and the collector pipe of the configuration zemcoll_tds sets up (host
// h1, database type syb).
std::string idfile(const std::string& dir, const std::string& server) {
    return dir + "/h1_yb_" + server + "_" + server + "_syb_h1";
}
std::string collector_pipe(const std::string& dir, const std::string& server) {
    return dir + "/col_" + server + "_syb_pipe";
}

// A process id that no process has: a child that ended and was reaped.
pid_t gone_pid() {
    const pid_t pid = fork();
    if (pid == 0) _exit(0);
    waitpid(pid, nullptr, 0);
    return pid;
}

// With no shared memory to serve through, the collector says so once and ends (status 8)
// instead of polling for requests that can never come.
TEST(CollectorStart, SharedMemoryThatCannotBeSetUpEndsItWithStatusEight) {
    zemcoll_tds::Collector coll;
    std::string error;
    std::string lock;
    // It may end before its start is seen: the result of start is not what is tested.
    coll.start(kScenario, kCursors, true, 1, error, [&](const std::string& dir) {
        lock = idfile(dir, coll.serverid()) + "-lk";
        ASSERT_EQ(symlink("/nonexistent", lock.c_str()), 0);  // the lock cannot be opened
    });
    ASSERT_FALSE(lock.empty()) << error;
    EXPECT_EQ(coll.wait_exit(30), 8) << coll.output();
    const std::string log = coll.output();
    EXPECT_NE(log.find("Cannot open lock file"), std::string::npos) << log;
    EXPECT_NE(log.find("COM31400S"), std::string::npos) << log;
    EXPECT_NE(log.find("could not establish shared memory, quitting"), std::string::npos) << log;
    EXPECT_EQ(log.find("CIR1835"), std::string::npos) << "no serving turn: " << log;
    unlink(lock.c_str());
}

struct transport_case {
    const char* name;
    bool shm;
};

class SecondCollector : public ::testing::TestWithParam<transport_case> {};

// A second collector for the same server and directory ends at once, says who serves,
// and leaves the first one serving with its pipe and its log.
TEST_P(SecondCollector, EndsWithStatusOneNamingTheLiveOne) {
    zemcoll_tds::Collector first;
    std::string error;
    ASSERT_TRUE(first.start(kScenario, kCursors, GetParam().shm, 1, error)) << error;
    std::string out;
    ASSERT_EQ(first.probe({"-n", "1", "RQ"}, out), 0) << out;  // serving (and in the id file)

    std::string second;
    EXPECT_EQ(first.run_another({}, second, 30), 1) << second;
    EXPECT_NE(second.find("CML1533S"), std::string::npos) << second;
    const std::string who = "Collector process " + std::to_string(first.pid()) +
                            " already serves server " + first.serverid() + " in directory " +
                            first.dir() + ";";
    EXPECT_NE(second.find(who), std::string::npos) << second;

    EXPECT_EQ(first.wait_exit(0), -1) << "the first one runs on";
    EXPECT_NE(first.output().find("CML1530I"), std::string::npos) << "its log is kept";
    ASSERT_EQ(first.probe({"-n", "1", "RQ"}, out), 0) << out;
    EXPECT_NE(out.find(kRows), std::string::npos) << out;
    if (!GetParam().shm) {
        struct stat st {};
        EXPECT_EQ(lstat(collector_pipe(first.dir(), first.serverid()).c_str(), &st), 0);
    }
}

// What a collector that is gone left behind is taken over.
TEST_P(SecondCollector, TakesOverThePipeOrIdFileOfOneThatIsGone) {
    zemcoll_tds::Collector coll;
    std::string error;
    const bool shm = GetParam().shm;
    ASSERT_TRUE(coll.start(kScenario, kCursors, shm, 1, error, [&](const std::string& dir) {
        // The claim file of a collector that was killed: no process locks it.
        std::ofstream(dir + "/col_" + coll.serverid() + "_syb_claim");
        if (shm) {
            // Written by a collector that ended without its clean-up; its objects are gone.
            std::ofstream(idfile(dir, coll.serverid())) << "-1 " << gone_pid() << " -1 -1 -1 -1\n";
        } else {
            ASSERT_EQ(mkfifo(collector_pipe(dir, coll.serverid()).c_str(), 0660), 0);
        }
    })) << error;
    std::string out;
    ASSERT_EQ(coll.probe({"-n", "1", "RQ"}, out), 0) << out;
    EXPECT_NE(out.find(kRows), std::string::npos) << out;
    EXPECT_EQ(coll.output().find("CML1533"), std::string::npos) << coll.output();
}

// The first pass's cursor: a fetch exit that says it began and then waits until the test
// lets it go, so that the second collector starts while the first is in its first pass.
const char* const kHeldExit = R"(#!/bin/sh
: > "$1.began"
while [ ! -e "$1" ]; do sleep 0.05; done
echo alpha 1
)";

std::string held_cursor(const std::string& dir) {
    return "cursor RQ;\n  INSERT INTO RQ (FX_NAME, FX_NUM) VALUES (:FX_NAME, :INT!FX_NUM);\n"
           "  fetch_exit fetchx2t60;\n  script " +
           dir + "/held " + dir +
           "/go;\n  insert_select SELECT FX_NAME, FX_NUM FROM script;\n  interval 60;\n"
           "  limit 10;\n  class 1;\nend;\n";
}

const char* const kHeldDict =
    "name SITE;\n  type CHAR(16);\n  initial test;\nname FX_NAME;\n  type CHAR(8);\n"
    "name FX_NUM;\n  type INTEGER;\nend;\n";

std::string claim_file(const std::string& dir, const std::string& server) {
    return dir + "/col_" + server + "_syb_claim";
}

bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

ino_t inode_of(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_ino : 0;
}

struct window_case {
    const char* name;
    bool other_prefix;  // the second's COLL_PREFIX is another directory
    bool other_home;    // the second's COLL_HOME and COLL_OUT are another directory
};

class FirstPassWindow : public ::testing::TestWithParam<window_case> {};

// A collector holds its claim from its start: a second one started while the first is
// still in its first pass (nothing served yet, no collector pipe) ends with status 1,
// names the directory they share, and leaves the first one's log where it was.
TEST_P(FirstPassWindow, TheSecondCollectorIsRefusedAndTheFirstLogKept) {
    const window_case& k = GetParam();
    zemcoll_tds::Collector first;
    std::string error;
    std::string dir;
    ASSERT_TRUE(first.start("", "", false, 1, error, {{"zemdict.ctl", kHeldDict}},
                            [&](const std::string& d) {
                                dir = d;
                                std::ofstream(d + "/zemcoll.ctl") << held_cursor(d);
                                std::ofstream(d + "/held") << kHeldExit;
                                ASSERT_EQ(chmod((d + "/held").c_str(), 0755), 0);
                            }))
        << error;
    const std::string server = first.serverid();
    for (int i = 0; i < 600 && !exists(dir + "/go.began"); ++i) usleep(50000);
    ASSERT_TRUE(exists(dir + "/go.began")) << first.output();
    ASSERT_FALSE(exists(collector_pipe(dir, server))) << "still in the first pass";
    EXPECT_TRUE(exists(claim_file(dir, server)));
    const std::string log = dir + "/h1_yb_" + server + "_col.out";
    const ino_t log_inode = inode_of(log);
    ASSERT_NE(log_inode, 0u) << first.output();

    const std::string other = dir + "/other";
    ASSERT_EQ(mkdir(other.c_str(), 0700), 0);
    std::vector<std::string> env;
    if (k.other_prefix) env.push_back("COLL_PREFIX=" + other);
    if (k.other_home) {
        env.push_back("COLL_HOME=" + other);
        env.push_back("COLL_OUT=" + other);
    }
    std::string second;
    EXPECT_EQ(first.run_another({}, second, 30, env), 1) << second;
    EXPECT_NE(second.find("CML1533S"), std::string::npos) << second;
    const std::string who = "Collector process " + std::to_string(first.pid()) +
                            " already serves server " + server + " in directory " + dir + ";";
    EXPECT_NE(second.find(who), std::string::npos) << second;
    EXPECT_EQ(inode_of(log), log_inode) << "the first one's log was rotated";
    EXPECT_NE(zemcoll_tds::read_file(log).find("CML1530I"), std::string::npos);
    EXPECT_FALSE(exists(collector_pipe(dir, server)));
    // The second leaves nothing in its own directory: no log, no claim.
    EXPECT_TRUE(std::filesystem::is_empty(other));

    std::ofstream(dir + "/go").put('\n');
    std::string out;
    ASSERT_EQ(first.probe({"-n", "1", "RQ"}, out), 0) << out;
    EXPECT_NE(out.find("alpha"), std::string::npos) << out;
    ASSERT_TRUE(first.stop(error)) << error;
    EXPECT_FALSE(exists(claim_file(dir, server))) << "the claim goes with its collector";
}

INSTANTIATE_TEST_SUITE_P(Configurations, FirstPassWindow,
                         ::testing::Values(window_case{"same", false, false},
                                           window_case{"other_prefix", true, false},
                                           window_case{"other_home_and_log", false, true}),
                         case_names(&window_case::name));

INSTANTIATE_TEST_SUITE_P(Transports, SecondCollector,
                         ::testing::Values(transport_case{"pipes", false},
                                           transport_case{"shared_memory", true}),
                         case_names(&transport_case::name));

}  // namespace

#endif  // ZOVPROBE_PATH
