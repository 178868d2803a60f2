// The shared-memory exchange when a partner dies or does not read: a requester that dies
// holding the request segment stalls nobody, a collector frees a set whose writer died
// without the undo, and an answer nobody reads holds the collector only for the put's
// time-out.
#include <signal.h>

#include <chrono>
#include <cstring>

#include "comm/shm_layout.h"
#include "comm/tests/shm_fixture.h"
#include "testing/log_capture.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point t) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count());
}

class ShmFailures : public ShmObjectsFixture {
  protected:
    void TearDown() override {
        zov_shm_test_step = nullptr;
        ShmObjectsFixture::TearDown();
    }
    // Runs `body` in a child process and waits for it; its status (100 + signal).
    template <class Body>
    int in_child(Body body) {
        const pid_t pid = fork();
        if (pid == 0) {
            body();
            _exit(0);
        }
        return child_status(pid);
    }
};

TEST_F(ShmFailures, ARequesterThatDiesHoldingTheRequestSegmentFreesItAtOnce) {
    // Killed after it took "available" (and wrote its request's id): the system gives
    // "available" back at once.
    zov_shm_test_step = [](const char* step) {
        if (strcmp(step, "available") == 0) raise(SIGKILL);
    };
    std::string unique;
    ASSERT_EQ(in_child([&] { req_->SendRequest("LOST", {}, unique, nullptr, 0); }), 100 + SIGKILL);
    zov_shm_test_step = nullptr;
    EXPECT_EQ(req_->SemValue(shm::SEM_AVAILABLE), 1);
    EXPECT_EQ(req_->SemValue(shm::SEM_FILLED), 0);
    std::string name, got, data;
    std::list<std::string> params;
    {
        // The next writer gets the segment at once and names the request that was lost.
        LogCapture log;
        const auto begun = Clock::now();
        ASSERT_EQ(req_->SendRequest("NEXT", {}, unique, nullptr, 5), 0);
        EXPECT_LT(ms_since(begun), 1000);
        EXPECT_NE(log.text().find("USH0041I"), std::string::npos) << log.text();
        EXPECT_NE(log.text().find("Request LOST-"), std::string::npos) << log.text();
    }
    ASSERT_EQ(req_->GetRequest(name, got, params, data, 0), 0);
    EXPECT_EQ(name, "NEXT");
    EXPECT_EQ(got, unique);
    // A whole exchange: the collector cleared the id it read, the next writer finds none.
    EXPECT_EQ(shm::get_text(req_->GetSegment(), shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE), "");
    {
        LogCapture log;
        ASSERT_EQ(req_->SendRequest("B", {}, unique, nullptr, 0), 0);
        EXPECT_EQ(log.text().find("USH0041I"), std::string::npos) << log.text();
    }
    ASSERT_EQ(req_->GetRequest(name, got, params, data, 0), 0);
    // The undo of each exchange was cancelled by its post: the set is at rest.
    EXPECT_EQ(req_->SemValue(shm::SEM_AVAILABLE), 1);
    EXPECT_EQ(req_->SemValue(shm::SEM_FILLED), 0);
}

TEST_F(ShmFailures, ACollectorFreesWithinASecondASetWhoseWriterDiedWithoutTheUndo) {
    // A partner of the plain protocol takes "available" and dies.
    const int semid = req_->GetSemID();
    pid_t writer = 0;
    {
        const pid_t pid = fork();
        if (pid == 0) {
            struct sembuf take = {0, -1, 0};
            _exit(semop(semid, &take, 1) == 0 ? 0 : 1);
        }
        writer = pid;
        ASSERT_EQ(child_status(pid), 0);
    }
    EXPECT_EQ(req_->SemValue(shm::SEM_AVAILABLE), 0);
    LogCapture log;
    const auto begun = Clock::now();
    EXPECT_EQ(req_->WaitRequest(1500), -10);
    EXPECT_EQ(req_->SemValue(shm::SEM_AVAILABLE), 1);
    EXPECT_EQ(req_->SemValue(shm::SEM_FILLED), 0);
    EXPECT_NE(log.text().find("USH0042I"), std::string::npos) << log.text();
    EXPECT_NE(log.text().find("process " + std::to_string(writer)), std::string::npos)
        << log.text();
    EXPECT_LT(ms_since(begun), 5000);

    // A holder that lives (this process) is left alone.
    struct sembuf take = {0, -1, 0};
    ASSERT_EQ(semop(semid, &take, 1), 0);
    EXPECT_FALSE(req_->FreeDeadWriter());
    EXPECT_EQ(req_->SemValue(shm::SEM_AVAILABLE), 0);
    set_sems(req_, 1, 0);
}

// The previous answer in the data slot, and what becomes of the next one.
TEST_F(ShmFailures, TheNextAnswerWaitsForAReaderOnlyForThePutsTimeOut) {
    const std::string next = zov_form_unique("NEXT", shm::now32(), 2, getpid());
    struct Case {
        const char* what;
        int taken;         // "filled" of the old answer taken by a reader (that holds it)
        int read_whole;    // its reader finished and ended before freeing the slot
        int sent;          // SendData's result
        const char* line;  // the one line about it
        long at_least_ms;  // how long SendData waited
    } cases[] = {
        {"nobody took it", 0, 0, 0, "USH0044I", 900},
        {"a reader holds it", 1, 0, -10, "USH0043I", 900},
        {"read whole, slot not freed", 1, 1, 0, "USH0045I", 200},
    };
    for (const Case& c : cases) {
        // An agent's answer (no process in its id), left unread.
        ASSERT_EQ(data_->SendData("OLD-000946684800-0001", 1, 3, "old", 0), 0) << c.what;
        if (c.taken) {
            struct sembuf take = {shm::SEM_FILLED, -1, IPC_NOWAIT};
            ASSERT_EQ(semop(data_->GetSemID(), &take, 1), 0);
        }
        if (c.read_whole) shm::put32(data_->GetSegment(), shm::DATA_READER_DONE, 1);
        LogCapture log;
        const auto begun = Clock::now();
        EXPECT_EQ(data_->SendData(next, 1, 3, "new", 1), c.sent) << c.what;
        const long waited = ms_since(begun);
        EXPECT_GE(waited, c.at_least_ms) << c.what;
        EXPECT_LT(waited, 3000) << c.what;
        size_t lines = 0;
        for (size_t p = log.text().find(c.line); p != std::string::npos;
             p = log.text().find(c.line, p + 1))
            ++lines;
        EXPECT_EQ(lines, 1u) << c.what << "\n" << log.text();
        int rows = 0, len = 0;
        std::string found, data;
        if (c.sent == 0) {
            ASSERT_EQ(data_->GetData(next, found, rows, len, data, 0), 0) << c.what;
            EXPECT_EQ(data, "new") << c.what;
        } else {
            EXPECT_EQ(data_->SemValue(shm::SEM_FILLED), 0) << c.what << ": left to its reader";
            set_sems(data_, 1, 0);
            shm::put32(data_->GetSegment(), shm::DATA_READER_DONE, 1);
        }
    }
}

// Eight requesters each send a request and wait; the collector answers them in the order
// their requests came, and each reads only its own answer, well within its time.
TEST_F(ShmFailures, ConcurrentRequestersEachReadTheirOwnAnswer) {
    constexpr int kChildren = 8;
    constexpr int kRounds = 20;
    std::vector<pid_t> kids;
    for (int k = 0; k < kChildren; ++k) {
        const pid_t pid = fork();
        if (pid == 0) {
            for (int r = 0; r < kRounds; ++r) {
                std::string unique, found, data;
                const std::string name = "K" + std::to_string(k);
                if (req_->SendRequest(name.c_str(), {}, unique, nullptr, 10) != 0) _exit(10);
                int rows = 0, len = 0;
                if (data_->GetData(unique, found, rows, len, data, 10) != 0) _exit(11);
                if (found != unique || data != name + "-" + unique) _exit(12);
            }
            _exit(0);
        }
        kids.push_back(pid);
    }
    for (int served = 0; served < kChildren * kRounds; ++served) {
        std::string name, unique, data;
        std::list<std::string> params;
        ASSERT_EQ(req_->GetRequest(name, unique, params, data, 10), 0) << served;
        const std::string answer = name + "-" + unique;
        ASSERT_EQ(data_->SendData(unique, 1, static_cast<int>(answer.size()), answer.c_str(), 3),
                  0);
    }
    for (pid_t pid : kids) EXPECT_EQ(child_status(pid), 0);
    // The last answer was read: the slot is at rest.
    EXPECT_EQ(data_->SemValue(shm::SEM_AVAILABLE), 1);
    EXPECT_EQ(data_->SemValue(shm::SEM_FILLED), 0);
}

}  // namespace
