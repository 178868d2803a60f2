// zemcoll's start against what it finds in its directory: shared memory that cannot be set
// up, a live collector for the same server, and the pipe or IPC id file of one that is gone.
#include <gtest/gtest.h>

// Built where the scripted test server is (freetds-dev installed).
#ifdef ZOVPROBE_PATH

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

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

INSTANTIATE_TEST_SUITE_P(Transports, SecondCollector,
                         ::testing::Values(transport_case{"pipes", false},
                                           transport_case{"shared_memory", true}),
                         case_names(&transport_case::name));

}  // namespace

#endif  // ZOVPROBE_PATH
