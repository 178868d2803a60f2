// zemcoll serving zovprobe on rows collected from the scripted test server, over both
// transports.
#include <gtest/gtest.h>

// Built where the scripted test server is (freetds-dev installed).
#ifdef ZOVPROBE_PATH

#include <sys/sem.h>
#include <sys/shm.h>

#include <string>

#include "comm/ipc_idfile.h"
#include "testing/case_names.h"
#include "testing/zemcoll_tds.h"

namespace {

const char* const kScenario = R"(
batch select name, num from t1
  result NAME:varchar(8) NUM:int
  row 'alpha' 1
  row 'beta' 22
batch select v from d30
  result V:int
  row 30
batch select v from d0
  result V:int
  row 0
)";

const char* const kCursors = R"(cursor RQ;
  INSERT INTO RQ (NAME, NUM) VALUES (:NAME, :INT!NUM);
  insert_select select name, num from t1;
  interval 60;
  limit 100;
  class 1;
cursor DEM30;
  INSERT INTO DEM30 (V) VALUES (:INT!V);
  insert_select select v from d30;
  demand;
  stale 30;
  limit 10;
  class 1;
cursor DEM0;
  INSERT INTO DEM0 (V) VALUES (:INT!V);
  insert_select select v from d0;
  demand;
  stale 0;
  limit 10;
  class 1;
cursor PRM;
  INSERT INTO PRM (S, P) VALUES (:%sampleno, :%parm0);
  no_sql;
  demand;
  stale 0;
  limit 1;
  class 1;
end;
)";

struct transport_case {
    const char* name;
    bool shm;
};

class ServeTds : public ::testing::TestWithParam<transport_case> {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(coll_.start(kScenario, kCursors, GetParam().shm, 10, error)) << error;
    }
    // The collector ends on its own terms, removing what it made (a killed one would leave
    // its shared memory and semaphores).
    void TearDown() override {
        std::string error;
        EXPECT_TRUE(coll_.stop(error)) << error;
    }
    zemcoll_tds::Collector coll_;
};

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

TEST_P(ServeTds, RowsDemandCursorsParametersAndUnknownNames) {
    std::string out;
    ASSERT_EQ(coll_.probe({"-n", "2", "RQ", "DEM30", "DEM0", "PRM", "NOPE"}, out), 0) << out;
    // NAME varchar(8) then NUM, a 4-byte integer, in the cluster row.
    EXPECT_EQ(count(out, "*********Cursor:RQ, Rows:2\nalpha.......\n\nbeta........\n\n"), 2u)
        << out;
    EXPECT_EQ(count(out, "*********Cursor:NOPE, Rows:0\n<<No rows returned>>\n"), 2u) << out;
    // The first sample's parameter reaches %parm0 (behind the 16-byte sample number).
    EXPECT_NE(out.find("*********Cursor:PRM, Rows:1\n...............1parm1...........\n"),
              std::string::npos)
        << out;
    // Asked twice: the stale-30 cursor runs once, the stale-0 cursor each time.
    EXPECT_EQ(coll_.batches("from d30"), 1);
    EXPECT_EQ(coll_.batches("from d0"), 2);
}

TEST_P(ServeTds, CursorListAndDistributorStatusWithoutThePassword) {
    std::string out;
    ASSERT_EQ(coll_.probe({"-show"}, out), 0) << out;
    const size_t at = out.find("cursors: ");
    ASSERT_NE(at, std::string::npos) << out;
    for (const char* name : {"RQ ", "DEM30 ", "DEM0 ", "PRM "}) {
        EXPECT_EQ(count(out.substr(at), std::string(" ") + name), 1u) << name << " in " << out;
    }
    ASSERT_EQ(coll_.probe({"-n", "1", "D-STATUS"}, out), 0) << out;
    EXPECT_NE(out.find("*********Cursor:D-STATUS, Rows:2\n"), std::string::npos) << out;
    EXPECT_NE(out.find("collector"), std::string::npos) << out;
    EXPECT_EQ(out.find("secret"), std::string::npos) << out;
}

TEST_P(ServeTds, FiveNamesAreAnsweredInOneTurnThoughTheSleepTimeIsTen) {
    std::string out;
    long ms = -1;
    ASSERT_EQ(
        coll_.probe({"-n", "1", "RQ", "DEM30", "DEM0", "PRM", "NOPE"}, out, "Cursor:NOPE", &ms), 0)
        << out;
    EXPECT_GE(ms, 0) << out;
    EXPECT_LT(ms, 2000);
}

TEST_P(ServeTds, ShutdownEndsTheCollectorAndLeavesNothingBehind) {
    std::string out;
    ASSERT_EQ(coll_.probe({"-n", "1", "SHUTDOWN"}, out), 0) << out;
    EXPECT_EQ(coll_.wait_exit(30), 0) << coll_.output();
    const std::string log = coll_.output();
    EXPECT_NE(log.find("CIR1855"), std::string::npos) << log;
    EXPECT_NE(log.find("Quit request received."), std::string::npos) << log;
    bool idfile = false;
    for (const auto& e : std::filesystem::directory_iterator(coll_.dir())) {
        EXPECT_FALSE(e.is_fifo()) << e.path();
        zov_ipc_ids ids{};
        if (!e.is_regular_file() || !zov_ipc_read_idfile(e.path().c_str(), &ids)) continue;
        idfile = true;
        struct shmid_ds ds {};
        EXPECT_NE(shmctl(ids.request_shmid, IPC_STAT, &ds), 0) << "request segment left";
        EXPECT_NE(shmctl(ids.data_shmid, IPC_STAT, &ds), 0) << "data segment left";
        EXPECT_LT(semctl(ids.request_semid, 0, GETVAL), 0) << "semaphore set left";
        EXPECT_LT(semctl(ids.data_semid, 0, GETVAL), 0) << "semaphore set left";
    }
    EXPECT_EQ(idfile, GetParam().shm);
}

TEST_P(ServeTds, ATerminateEndsTheWaitForRequestsAtOnce) {
    std::string out;
    ASSERT_EQ(coll_.probe({"-n", "1", "NOPE"}, out), 0) << out;  // serving, and waiting again
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const auto sent = std::chrono::steady_clock::now();
    coll_.terminate();
    EXPECT_TRUE(coll_.wait_for("CIR5002", 7)) << coll_.output();
    // Well under the 10-second serving sleep; the margin is for a loaded sanitizer build.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(7000));
}

INSTANTIATE_TEST_SUITE_P(Transports, ServeTds,
                         ::testing::Values(transport_case{"pipes", false},
                                           transport_case{"shared_memory", true}),
                         case_names(&transport_case::name));

}  // namespace

#endif  // ZOVPROBE_PATH
