// zovcomm end to end over shared memory: a collector stub (initsm, initc, get, put, term,
// shut) in a child process and a requester in the test process.
#include <cstring>

#include "comm/shm_layout.h"
#include "comm/tests/shm_fixture.h"
#include "runtime/alloc.h"
#include "testing/stub_collector.h"

namespace {

void set_rows(curs_list* b, int rows, int len, const std::string& bytes) {
    b->rows = rows;
    b->len = len;
    b->data = static_cast<char*>(U_MALLOC(bytes.size() + 1));
    memcpy(b->data, bytes.data(), bytes.size());
}

std::string big(size_t n) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; i++) s[i] = static_cast<char>(i % 251);
    return s;
}

// The stub's answers by cursor name: ROWS two rows "ab cd"; EMPTY none; BIG 1 MB;
// PARM the first parameter (or "(none)") and the count of parm entries (the parameters
// and the two empty strings of the closing zero bytes); WRONG an answer for someone
// else's request.
void answer(comm_anchor* a, curs_list* b) {
    const std::string name = b->cursor;
    if (name == "ROWS") {
        set_rows(b, 2, 5, "ab cdab cd");
    } else if (name == "BIG") {
        set_rows(b, 1024, 1024, big(1 << 20));
    } else if (name == "PARM") {
        int n = 0;
        while (n < COMM_PARMS && a->parm[n]) n++;
        char row[40];
        snprintf(row, sizeof row, "%-16.16s%02d", a->parm[0] && *a->parm[0] ? a->parm[0] : "(none)",
                 n);
        set_rows(b, 1, 18, row);
    }
}

class ShmZovcomm : public ShmFixture {
  protected:
    // Starts the collector stub, which serves `requests` requests and then ends with
    // "term" and "shut"; returns once its objects are set up.
    void start_collector(int requests) {
        ReadySignal ready;
        ASSERT_TRUE(ready.ok());
        collector_ = spawn([&] {
            StubCollector opt;
            opt.requests = requests;
            opt.max_turns = 20;
            opt.shm = true;
            opt.check_gets = true;
            opt.check_puts = true;
            opt.idle_ms = 0;
            return run_stub_collector(opt, ready, [](comm_anchor* a, curs_list* block) {
                if (strcmp(block->cursor, "WRONG") == 0) {
                    if (g_pCommObjectData->SendData("SOMEONE-ELSE", 1, 1, "x", 5) != 0) return 7;
                    return static_cast<int>(stub_skip);
                }
                answer(a, block);
                return static_cast<int>(stub_put);
            });
        });
        ASSERT_TRUE(ready.wait());
    }
    comm_anchor* requester() {
        zovcomm("initsm");
        track_current();
        return static_cast<comm_anchor*>(zovcomm("init"));
    }
    pid_t collector_ = 0;
};

TEST_F(ShmZovcomm, EachNameGetsItsOwnRowsAndShutRemovesTheObjects) {
    start_collector(4);
    comm_anchor* a = requester();
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->coll_pipe, "COL");
    EXPECT_STREQ(a->ulv_pipe, "AGT");
    auto* chain = static_cast<curs_list*>(zovcomm("get", a, "ROWS, EMPTY"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_STREQ(chain->cursor, "ROWS");
    EXPECT_EQ(chain->rows, 2);
    EXPECT_EQ(chain->len, 5);
    EXPECT_EQ(std::string(chain->data, 10), "ab cdab cd");
    ASSERT_NE(chain->next, nullptr);
    EXPECT_STREQ(chain->next->cursor, "EMPTY");
    EXPECT_EQ(chain->next->rows, 0);
    EXPECT_EQ(chain->next->data, nullptr);

    chain = static_cast<curs_list*>(zovcomm("get", a, "BIG"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(chain->rows, 1024);
    EXPECT_TRUE(std::string(chain->data, 1 << 20) == big(1 << 20));

    static char p1[] = "parm1           ";
    a->parm[0] = p1;
    chain = static_cast<curs_list*>(zovcomm("get", a, "PARM"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(std::string(chain->data, 18), "parm1           03");
    EXPECT_EQ(zovcomm("term", a), nullptr);
    EXPECT_EQ(wait_child(collector_), 0);

    const zov_ipc_ids before = [&] {
        zov_ipc_ids i{};
        zov_ipc_read_idfile(idfile().c_str(), &i);
        return i;
    }();
    EXPECT_NE(g_pCommObjectRequest, nullptr) << "term keeps the objects attached";
    EXPECT_TRUE(shm_exists(before.request_shmid));
    zovcomm("shut", static_cast<comm_anchor*>(nullptr));
    EXPECT_EQ(g_pCommObjectRequest, nullptr);
    EXPECT_FALSE(shm_exists(before.request_shmid)) << "the last to shut removes them";
    EXPECT_FALSE(sem_exists(before.data_semid));
}

TEST_F(ShmZovcomm, FiveNamesInOneGetAreEachAnsweredInTurn) {
    start_collector(5);
    comm_anchor* a = requester();
    ASSERT_NE(a, nullptr);
    auto* chain = static_cast<curs_list*>(zovcomm("get", a, "ROWS EMPTY BIG NONE1 NONE2"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    const int rows[] = {2, 0, 1024, 0, 0};
    int i = 0;
    for (curs_list* b = chain; b; b = b->next, i++) {
        ASSERT_LT(i, 5);
        EXPECT_EQ(b->rows, rows[i]) << b->cursor;
    }
    EXPECT_EQ(i, 5);
    EXPECT_EQ(zovcomm("term", a), nullptr);
    EXPECT_EQ(wait_child(collector_), 0);
    zovcomm("shut", static_cast<comm_anchor*>(nullptr));
}

TEST_F(ShmZovcomm, ASecondGetWithTheSameNamesSendsTheFirstParameters) {
    start_collector(2);
    comm_anchor* a = requester();
    static char p1[] = "first";
    a->parm[0] = p1;
    auto* chain = static_cast<curs_list*>(zovcomm("get", a, "PARM"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    a->parm[0] = nullptr;
    chain = static_cast<curs_list*>(zovcomm("get", a, "PARM"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(std::string(chain->data, 18), "first           03");
    zovcomm("term", a);
    EXPECT_EQ(wait_child(collector_), 0);
}

TEST_F(ShmZovcomm, AnAnswerForSomeoneElseIsLeftUnreadForItsOwner) {
    start_collector(1);
    comm_anchor* a = requester();
    // Its own answer never comes: the requester waits out its time-out...
    EXPECT_EQ(zovcomm("get", a, "WRONG"), nullptr);
    EXPECT_EQ(a->return_code, 20);
    EXPECT_STREQ(a->return_msg, "Share memory time out");
    zovcomm("term", a);
    EXPECT_EQ(wait_child(collector_), 0);
    // ...and the other requester's answer is still there for it, whole.
    std::string found, data;
    int rows = 0, len = 0;
    ASSERT_EQ(g_pCommObjectData->GetData("SOMEONE-ELSE", found, rows, len, data, 1), 0);
    EXPECT_EQ(found, "SOMEONE-ELSE");
    EXPECT_EQ(rows, 1);
    EXPECT_EQ(data, "x");
}

TEST_F(ShmZovcomm, WithoutAnAnswerTheRequesterTimesOut) {
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    track_current();
    wait_timeout = 1;
    comm_anchor* a = static_cast<comm_anchor*>(zovcomm("init"));
    EXPECT_EQ(zovcomm("get", a, "ROWS"), nullptr);
    EXPECT_EQ(a->return_code, 20);
    EXPECT_STREQ(a->return_msg, "Share memory time out");
    zovcomm("term", a);
    zovcomm("shut", static_cast<comm_anchor*>(nullptr));
}

TEST_F(ShmZovcomm, AfterThreeMinutesWithoutASendOnlyStuckSetsAreReset) {
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);  // new sets: no operation has touched them
    track_current();
    auto* req = static_cast<ShareCommObject*>(g_pCommObjectRequest);
    auto* data = static_cast<ShareCommObject*>(g_pCommObjectData);
    unsigned short stuck[2] = {0, 0};
    zov_semun arg{};
    arg.array = stuck;
    wait_timeout = 1;
    comm_anchor* a = static_cast<comm_anchor*>(zovcomm("init"));
    struct Case {
        long idle;         // seconds since the last successful send
        const char* sent;  // the name found in the request segment afterwards
        int return_code;
        int data_available;  // the data set: reset only while no operation touched it
    } cases[] = {
        // Both sets reset (nothing touched them since they were made): the request goes
        // out and no answer comes.
        {181, "ROWS", 20, 1},
        // Looked stuck just after the sets were used: left alone, the requester waits
        // and times out without writing.
        {181, "", 20, 1},
        {60, "", 20, 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(semctl(req->GetSemID(), 0, SETALL, arg), 0);
        ASSERT_EQ(semctl(data->GetSemID(), 0, SETALL, arg), 0);
        memset(req->GetSegment() + shm::REQ_NAME, 0, shm::REQ_NAME_SIZE);
        last_succeed_sent_req_tm = static_cast<long>(time(nullptr)) - c.idle;
        EXPECT_EQ(zovcomm("get", a, "ROWS"), nullptr);
        EXPECT_EQ(a->return_code, c.return_code) << c.idle;
        EXPECT_STREQ(req->GetSegment() + shm::REQ_NAME, c.sent) << c.idle;
        EXPECT_EQ(data->SemValue(0), c.data_available) << c.idle;
    }
    zovcomm("term", a);
    zovcomm("shut", static_cast<comm_anchor*>(nullptr));
}

TEST_F(ShmZovcomm, TheCollectorsGetWithoutARequestIsTimeOut) {
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    track_current();
    wait_timeout = 1;
    comm_anchor* c = static_cast<comm_anchor*>(zovcomm("initc"));
    EXPECT_EQ(zovcomm("get", c, nullptr), nullptr);
    EXPECT_EQ(c->return_code, 20);
    // put on a requester's anchor leaves its chain alone.
    comm_anchor* p = static_cast<comm_anchor*>(zovcomm("init"));
    curs_list* b = get_cursor_block(p);
    EXPECT_EQ(zovcomm("put", p), b);
    EXPECT_EQ(p->return_code, 4);
    EXPECT_STREQ(p->return_msg, "Invalid request type for probe.");
    zovcomm("term", p);
    zovcomm("term", c);
    zovcomm("shut", static_cast<comm_anchor*>(nullptr));
}

TEST_F(ShmZovcomm, GetAndPutWithoutSharedObjectsGiveError21) {
    comm_anchor* c = static_cast<comm_anchor*>(zovcomm("initc"));
    get_cursor_block(c);
    EXPECT_NE(zovcomm("put", c), nullptr);
    EXPECT_EQ(c->return_code, 21);
    comm_anchor* p = static_cast<comm_anchor*>(zovcomm("init"));
    EXPECT_EQ(zovcomm("get", p, "A B"), nullptr);
    EXPECT_EQ(p->return_code, 21);
    zovcomm("term", p);
    zovcomm("term", c);
}

// An agent links the entry point: a set-up that fails must come back to it, never end it.
TEST_F(ShmZovcomm, AFailedSetUpIsReturnedAndTheCallerCarriesOn) {
    const std::string lock = idfile() + "-lk";
    ASSERT_EQ(symlink("/nonexistent", lock.c_str()), 0);  // the lock file cannot be opened
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    void* failed = zovcomm("initsm");
    std::string out = testing::internal::GetCapturedStdout();
    out += testing::internal::GetCapturedStderr();
    EXPECT_EQ(reinterpret_cast<intptr_t>(failed), 8);
    EXPECT_NE(out.find("Cannot open lock file"), std::string::npos) << out;
    EXPECT_EQ(out.find("quitting"), std::string::npos) << "the agent is not quitting: " << out;
    comm_anchor* p = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(zovcomm("get", p, "A"), nullptr);
    EXPECT_EQ(p->return_code, 21);
    zovcomm("term", p);
    unlink(lock.c_str());
}

TEST_F(ShmZovcomm, TheSharedMemoryDispatcherRunsTheSevenWordsByName) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    comm_anchor* p = static_cast<comm_anchor*>(zovcomm2("INIT", nullptr, nullptr));
    EXPECT_EQ(zovcomm2("gets", p, "A"), nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    out += testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("COM2100E"), std::string::npos) << out;
    EXPECT_NE(out.find("Invalid function code to ZOVCOMM2: gets"), std::string::npos) << out;
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->type, 'P');
    EXPECT_STREQ(p->coll_pipe, "COL");
    EXPECT_EQ(p->return_code, 0) << "an unknown word leaves the anchor alone";
    // "get" clears the last error first; without shared objects it fails with 21.
    p->return_code = 99;
    EXPECT_EQ(zovcomm2("get", p, "A"), nullptr);
    EXPECT_EQ(p->return_code, 21);
    comm_anchor* c = static_cast<comm_anchor*>(zovcomm2("initc", nullptr, nullptr));
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->type, 'C');
    EXPECT_EQ(zovcomm2("put", p, nullptr), p->curs) << "the chain stays";
    EXPECT_EQ(p->return_code, 4) << p->return_msg;
    EXPECT_EQ(zovcomm2("term", p, nullptr), nullptr);
    EXPECT_EQ(zovcomm2("term", c, nullptr), nullptr);
    EXPECT_EQ(zovcomm2("shut", nullptr, nullptr), nullptr);
}

TEST_F(ShmZovcomm, AnUnknownWordIsRefused) {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    EXPECT_EQ(zovcomm("gets"), nullptr);
    std::string out = testing::internal::GetCapturedStdout();
    out += testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("Invalid function code to ZOVCOMM: gets"), std::string::npos) << out;
}

}  // namespace
