// Requests and answers through the segments, between two processes where the protocol
// needs both ends at once (answers of more than one chunk).
#include <chrono>
#include <cstring>
#include <thread>

#include "comm/shm_layout.h"
#include "comm/tests/shm_fixture.h"

namespace {

class ShmExchange : public ShmObjectsFixture {
  protected:
    void set_word(char* seg, int offset, int32_t value) { memcpy(seg + offset, &value, 4); }
};

std::string pattern(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>('a' + (i * 7 + i / 99000) % 26);
    return s;
}

TEST_F(ShmExchange, PayloadsOfEverySizeCrossBetweenProcesses) {
    struct Case {
        const char* what;
        int rows, len;
    } cases[] = {
        {"no rows (NONE)", 0, 80},
        {"one whole chunk", 99, 1000},
        {"one byte into a second chunk", 1, 99001},
        {"1 MB, eleven chunks", 1024, 1024},
    };
    for (const Case& c : cases) {
        const std::string rows = pattern(static_cast<size_t>(c.rows) * c.len);
        pid_t collector = spawn([&] {
            std::string name, unique, data;
            std::list<std::string> params;
            if (req_->GetRequest(name, unique, params, data, 10) != 0) return 1;
            if (name != "CUR" || params != std::list<std::string>{"p1"}) return 2;
            return data_->SendData(unique, c.rows, c.len, rows.data(), 10) == 0 ? 0 : 3;
        });
        std::string unique, got, data;
        ASSERT_EQ(req_->SendRequest("CUR", {"p1"}, unique, nullptr, 10), 0);
        int r = -1, l = -1;
        ASSERT_EQ(data_->GetData(unique, got, r, l, data, 10), 0) << c.what;
        EXPECT_EQ(got, unique);
        EXPECT_EQ(r, c.rows);
        EXPECT_EQ(l, c.len);
        if (c.rows == 0) {
            EXPECT_EQ(data, "NONE");
        } else {
            EXPECT_TRUE(data == rows) << c.what << ": " << data.size() << " bytes";
        }
        EXPECT_EQ(wait_child(collector), 0) << c.what;
        EXPECT_EQ(data_->SemValue(0), 1);
        EXPECT_EQ(data_->SemValue(1), 0);
    }
}

TEST_F(ShmExchange, ALateRequestIsConsumedAndItsAnswerDropped) {
    std::string unique;
    ASSERT_EQ(req_->SendRequest("CUR", {}, unique, nullptr, 0), 0);
    set_word(req_->GetSegment(), shm::REQ_WRITTEN, shm::now32() - 46);
    std::string name, got, data;
    std::list<std::string> params;
    EXPECT_EQ(req_->GetRequest(name, got, params, data, 0), -1);
    EXPECT_EQ(req_->SemValue(0), 1) << "the request was consumed";
    EXPECT_EQ(req_->SemValue(1), 0);
    EXPECT_EQ(data_->SendData(got, 1, 3, "abc", 0), 0) << "dropped counts as sent";
    EXPECT_EQ(data_->SemValue(1), 0) << "nothing was written";
    EXPECT_EQ(shm::get32(data_->GetSegment(), shm::DATA_READER_DONE), 1);

    // 45 seconds is still in time.
    ASSERT_EQ(req_->SendRequest("CUR", {}, unique, nullptr, 0), 0);
    set_word(req_->GetSegment(), shm::REQ_WRITTEN, shm::now32() - 45);
    EXPECT_EQ(req_->GetRequest(name, got, params, data, 0), 0);
}

TEST_F(ShmExchange, AStaleAnswerIsCleanedByTheNextSend) {
    std::string unique;
    ASSERT_EQ(req_->SendRequest("OLD", {}, unique, nullptr, 0), 0);
    std::string name, got, data;
    std::list<std::string> params;
    ASSERT_EQ(req_->GetRequest(name, got, params, data, 0), 0);
    ASSERT_EQ(data_->SendData(got, 1, 3, "old", 0), 0);  // nobody reads it
    set_word(req_->GetSegment(), shm::REQ_DATA_WRITTEN, shm::now32() - 31);

    std::string fresh;
    ASSERT_EQ(req_->SendRequest("NEW", {}, fresh, nullptr, 0), 0);
    ASSERT_EQ(req_->GetRequest(name, got, params, data, 0), 0);
    ASSERT_EQ(data_->SendData(got, 1, 3, "new", 0), 0);
    int rows = 0, len = 0;
    std::string found;
    ASSERT_EQ(data_->GetData(fresh, found, rows, len, data, 0), 0);
    EXPECT_EQ(found, fresh);
    EXPECT_EQ(data, "new");
}

TEST_F(ShmExchange, WaitsGiveUpAtTheirLimit) {
    std::string name, unique, data;
    std::list<std::string> params;
    int rows = 0, len = 0;
    EXPECT_EQ(req_->GetRequest(name, unique, params, data, 0), -10);
    EXPECT_EQ(data_->GetData("U", unique, rows, len, data, 0), -10);
    EXPECT_EQ(req_->WaitForRead(0), -1);
    EXPECT_EQ(req_->WaitForWrite(0), 0);
    ASSERT_EQ(req_->SendRequest("A", {}, unique, nullptr, 0), 0);
    EXPECT_EQ(req_->WaitForRead(0), 0);
    EXPECT_EQ(req_->SendRequest("B", {}, unique, nullptr, 0), -10) << "one request at a time";
    EXPECT_EQ(req_->SemValue(1), 1) << "the first request is still there";
}

TEST_F(ShmExchange, AStuckRequestSetIsFreedOnlyWhenNobodyTouchedItForALifeTime) {
    std::string unique;
    // Freshly used set in the stuck-looking state: a partner may be writing right now.
    ASSERT_EQ(req_->SendRequest("A", {}, unique, nullptr, 0), 0);
    set_sems(req_, 0, 0);
    EXPECT_EQ(req_->SendRequest("B", {}, unique, nullptr, 0), -10);
    EXPECT_EQ(req_->SemValue(0), 0);
    EXPECT_EQ(req_->SemValue(1), 0) << "left alone";
    EXPECT_FALSE(req_->ResetIfStuck());

    // A set no operation ever touched since it was made: long idle, so "filled" is posted
    // and the stuck request can be read away.
    ShareCommObject idle(ZOV_SHARE_REQUEST, shm::REQ_SIZE, IPC_PRIVATE, 1, ZOV_SHM_CREATE_FLAGS,
                         ZOV_SHM_CREATE_FLAGS);
    ASSERT_TRUE(idle.IsGood());
    track(&idle);
    set_sems(&idle, 0, 0);
    EXPECT_TRUE(idle.ResetIfStuck());
    EXPECT_EQ(idle.SemValue(0), 1);
    EXPECT_EQ(idle.SemValue(1), 0);
    set_sems(&idle, 0, 0);
    EXPECT_EQ(idle.SendRequest("C", {}, unique, nullptr, 0), -10);
    EXPECT_EQ(idle.SemValue(1), 1);
    g_pRequest = req_->GetSegment();  // `idle` took the process's request segment over
}

TEST_F(ShmExchange, CheckCleansOnlyAnOldPendingAnswer) {
    ASSERT_EQ(data_->SendData("U", 1, 1, "x", 0), 0);
    EXPECT_EQ(data_->Check(), 0);
    set_word(req_->GetSegment(), shm::REQ_DATA_WRITTEN, shm::now32() - 31);
    EXPECT_EQ(data_->Check(), 1);
    EXPECT_EQ(data_->SemValue(0), 1);
    EXPECT_EQ(data_->SemValue(1), 0);
    EXPECT_EQ(shm::get32(req_->GetSegment(), shm::REQ_DATA_WRITTEN), -1);
    EXPECT_EQ(data_->Check(), 0);
}

TEST_F(ShmExchange, AnAnswerWhoseRequesterIsGoneIsCleanedAtOnce) {
    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) _exit(0);
    ASSERT_EQ(child_status(gone), 0);
    const std::string old_id = zov_form_unique("OLD", shm::now32(), 1, gone);
    ASSERT_EQ(data_->SendData(old_id, 1, 3, "old", 0), 0);  // nobody will read it
    EXPECT_TRUE(data_->AnswerReaderGone());

    const std::string fresh = zov_form_unique("NEW", shm::now32(), 2, getpid());
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(data_->SendData(fresh, 1, 3, "new", 0), 0);
    // Below the 3-second wait for a reader, with room for a loaded machine.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
    EXPECT_FALSE(data_->AnswerReaderGone()) << "our own answer is not taken for gone";
    int rows = 0, len = 0;
    std::string found, data;
    ASSERT_EQ(data_->GetData(fresh, found, rows, len, data, 0), 0);
    EXPECT_EQ(found, fresh);
    EXPECT_EQ(data, "new");
}

// Only an id of our own four-field form ends in a process id. An agent forms its ids as
// name-time-count: their last field is a count, which must never be taken for a process.
TEST_F(ShmExchange, OnlyOurOwnIdsAreReadForTheProcessOfTheReader) {
    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) _exit(0);
    ASSERT_EQ(child_status(gone), 0);
    char agent[64], agent_dashed[64];
    snprintf(agent, sizeof agent, "ABC-000946684800-%04d", static_cast<int>(gone));
    snprintf(agent_dashed, sizeof agent_dashed, "C-STATUS-000946684800-%04d",
             static_cast<int>(gone));
    const struct {
        std::string id;
        long pid;   // zov_unique_pid
        bool gone;  // AnswerReaderGone with that id's answer unread
    } cases[] = {
        {zov_form_unique("ABC", 946684800, 1, gone), gone, true},
        {zov_form_unique("C-STATUS", 946684800, 1, gone), gone, true},
        {zov_form_unique("ABC", 946684800, 1, getpid()), getpid(), false},
        {"ABC-000946684800-0001", 0, false},
        {agent, 0, false},
        {agent_dashed, 0, false},
        {"ABC-0001-" + std::to_string(gone), 0, false},
        {"-000946684800-0001-" + std::to_string(gone), 0, false},
        {"ABC-000946684800-0001-", 0, false},
        {"", 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zov_unique_pid(c.id), c.pid) << c.id;
        ASSERT_EQ(data_->SendData(c.id, 1, 3, "old", 0), 0) << c.id;  // left unread
        EXPECT_EQ(data_->AnswerReaderGone(), c.gone) << c.id;
        set_word(req_->GetSegment(), shm::REQ_DATA_WRITTEN, shm::now32() - 31);
        ASSERT_EQ(data_->Check(), 1) << "cleaned for the next case";
    }
}

// The answer for an agent's id is not wiped at once: it waits for its reader, who reads
// it although no process has the number its id ends in.
TEST_F(ShmExchange, AnAgentsAnswerWaitsForItsReader) {
    const pid_t gone = fork();
    ASSERT_GE(gone, 0);
    if (gone == 0) _exit(0);
    ASSERT_EQ(child_status(gone), 0);
    char agent[64];
    snprintf(agent, sizeof agent, "ABC-%012d-%04d", static_cast<int>(shm::now32()),
             static_cast<int>(gone));
    ASSERT_EQ(data_->SendData(agent, 1, 3, "abc", 0), 0);
    // The next answer waits for the reader instead of wiping it; the stop flag ends the
    // wait here.
    static volatile sig_atomic_t stop = 0;
    stop = 0;
    zovcomm_set_stop_flag(&stop);
    std::thread stopper([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stop = 1;
    });
    const std::string next = zov_form_unique("NEW", shm::now32(), 2, getpid());
    EXPECT_EQ(data_->SendData(next, 1, 3, "new", 1), -10);
    stopper.join();
    zovcomm_set_stop_flag(nullptr);
    int rows = 0, len = 0;
    std::string found, data;
    ASSERT_EQ(data_->GetData(agent, found, rows, len, data, 0), 0);
    EXPECT_EQ(found, agent);
    EXPECT_EQ(data, "abc");
}

}  // namespace
