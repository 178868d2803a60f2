// The System V wrappers, the lock classes, the request and answer objects and the
// in-process request queue.
#include <sys/sem.h>

#include <chrono>
#include <cstring>

#include "comm/shm_layout.h"
#include "comm/shm_locks.h"
#include "comm/tests/shm_fixture.h"

namespace {

using ShmWrappers = ShmFixture;

TEST_F(ShmWrappers, TheLastOfTwoAttachedWrappersRemovesSegmentAndSet) {
    ZOVSemaphore sem(IPC_PRIVATE, 2, IPC_CREAT | 0600);
    ASSERT_TRUE(sem.IsSemGood());
    sem_ids_.insert(sem.GetSemID());
    auto* first = new ZOVShareMemory(4096, IPC_PRIVATE, IPC_CREAT | 0600, 1);
    ASSERT_TRUE(first->IsShmGood());
    const int id = first->GetShmID();
    shm_ids_.insert(id);
    first->SetSemID(sem.GetSemID());
    auto* second = new ZOVShareMemory(id, ZOV_SHARE_BY_ID);
    ASSERT_TRUE(second->IsShmGood());
    second->SetSemID(sem.GetSemID());
    EXPECT_EQ(shm::get32(second->GetAddress(), 0), 2) << "attach count in the segment";
    delete first;
    EXPECT_TRUE(shm_exists(id));
    EXPECT_TRUE(sem_exists(sem.GetSemID()));
    EXPECT_EQ(shm::get32(second->GetAddress(), 0), 1);
    delete second;
    EXPECT_FALSE(shm_exists(id));
    EXPECT_FALSE(sem_exists(sem.GetSemID()));
}

TEST_F(ShmWrappers, AProcessThatDiesAttachedDoesNotKeepTheSegment) {
    // The count in the segment says 2 after the child dies without detaching; the
    // system's count decides, so our detach still removes the segment.
    auto* mine = new ZOVShareMemory(4096, IPC_PRIVATE, IPC_CREAT | 0600, 1);
    ASSERT_TRUE(mine->IsShmGood());
    const int id = mine->GetShmID();
    shm_ids_.insert(id);
    pid_t child = spawn([id] {
        ZOVShareMemory* other = new ZOVShareMemory(id, ZOV_SHARE_BY_ID);
        return other->IsShmGood() ? 0 : 1;  // never deleted: the process just ends
    });
    ASSERT_EQ(wait_child(child), 0);
    EXPECT_EQ(shm::get32(mine->GetAddress(), 0), 2);
    delete mine;
    EXPECT_FALSE(shm_exists(id));
}

TEST_F(ShmWrappers, FailuresLeaveTheWrappersNotGood) {
    ZOVShareMemory missing(-1, ZOV_SHARE_BY_ID);
    EXPECT_FALSE(missing.IsShmGood());
    ZOVShareMemory by_key(0x7a6f7601, ZOV_SHARE_BY_KEY);  // no such key
    EXPECT_FALSE(by_key.IsShmGood());
    ZOVSemaphore no_set(0x7a6f7601, 2, ZOV_SHARE_BY_KEY);
    EXPECT_FALSE(no_set.IsSemGood());
    ZOVSemaphore zero(0, 2, ZOV_SHARE_BY_ID);
    EXPECT_TRUE(zero.IsSemGood()) << "id 0 is a good id";
}

TEST_F(ShmWrappers, ProbesAndBoundedWaits) {
    ZOVSemaphore sem(IPC_PRIVATE, 2, IPC_CREAT | 0600);
    ASSERT_TRUE(sem.IsSemGood());
    sem_ids_.insert(sem.GetSemID());
    unsigned short values[2] = {1, 0};
    zov_semun arg{};
    arg.array = values;
    ASSERT_EQ(sem.SemCtl(0, SETALL, arg), 0);
    struct sembuf probe = {0, 0, IPC_NOWAIT};
    testing::internal::CaptureStdout();
    EXPECT_EQ(sem.SemOp(&probe, 1), -1) << "value 1: a zero test would block";
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "and says nothing";
    struct sembuf take = {1, -1, 0};
    struct timespec t0 {
    }, t1{};
    clock_gettime(CLOCK_MONOTONIC, &t0);
    EXPECT_EQ(sem.SemTimedOp(&take, 1, 0), -10) << "nothing filled: gives up at once";
    EXPECT_EQ(sem.SemTimedOp(&take, 1, 1), -10);
    clock_gettime(CLOCK_MONOTONIC, &t1);
    const double waited = (t1.tv_sec - t0.tv_sec) + (t1.tv_nsec - t0.tv_nsec) / 1e9;
    EXPECT_GE(waited, 0.9);
    EXPECT_LT(waited, 3.0);
    struct sembuf avail = {0, -1, 0};
    EXPECT_EQ(sem.SemTimedOp(&avail, 1, 0), 0);
    semctl(sem.GetSemID(), 0, IPC_RMID);
    EXPECT_EQ(sem.SemTimedOp(&avail, 1, 0), -1) << "a removed set is a failure";
}

TEST_F(ShmWrappers, BinarySemaphoreTakesAndGivesWithoutWaiting) {
    ZOVSemaphore sem(IPC_PRIVATE, 1, IPC_CREAT | 0600);
    ASSERT_TRUE(sem.IsSemGood());
    sem_ids_.insert(sem.GetSemID());
    ZOVBinarySemaphore lock(sem.GetSemID());
    auto value = [&] { return semctl(sem.GetSemID(), 0, GETVAL); };
    lock.Lock();
    EXPECT_EQ(value(), 1);
    lock.Lock();
    EXPECT_EQ(value(), 1) << "a second Lock does nothing";
    lock.Unlock();
    EXPECT_EQ(value(), 0);
    lock.Unlock();
    EXPECT_EQ(value(), 0);
    semctl(sem.GetSemID(), 0, IPC_RMID);
}

TEST(ZOVRequestId, FormsNameTimeCountAndProcess) {
    struct Case {
        const char* name;
        long long now;
        int count;
        long pid;
        const char* id;
    } cases[] = {
        {"ABC", 946684800, 1, 4242, "ABC-000946684800-0001-4242"},
        {"ABC", 946684800, 10000, 7, "ABC-000946684800-10000-7"},
        {"ABCDEFGHIJKLMNOPQ", 1, 2, 1, "ABCDEFGHIJKLMN-000000000001-0002-1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(zov_form_unique(c.name, c.now, c.count, c.pid), c.id);
    }
    // Two requesters in the same second with the same count still differ.
    EXPECT_NE(zov_form_unique("A", 5, 1, 100), zov_form_unique("A", 5, 1, 101));
}

TEST(ZOVRequestId, EachRequestTakesTheNextCount) {
    const int before = g_nCount;
    ZOVRequest a("X", {});
    ZOVRequest b("X", {"p"});
    EXPECT_EQ(g_nCount, before + 2);
    EXPECT_NE(a.GetRequestStr(), b.GetRequestStr());
    ZOVRequest copy("X", a.GetRequestStr(), {"p"}, "d");
    EXPECT_EQ(g_nCount, before + 2) << "a copy forms no id";
    EXPECT_EQ(copy.GetRequestStr(), a.GetRequestStr());
    EXPECT_EQ(copy.GetData(), "d");
}

TEST(ZOVDataRowTest, KeepsRowsTimesLengthBytesOnlyForRows) {
    const char buffer[] = "abcdefghij";
    EXPECT_EQ(ZOVDataRow(2, 3, buffer).GetData(), "abcdef");
    EXPECT_EQ(ZOVDataRow(0, 3, buffer).GetData(), "");
    EXPECT_EQ(ZOVDataRow(-1, 3, buffer).GetData(), "");
}

TEST(ThreadCommObject, QueuesRequestsInOrderAndAnswersNowhere) {
    ZOVThreadCommObject q;
    std::string name, unique = "stale", data, u1, u2, u3;
    std::list<std::string> params;
    // Empty: -1 at once, whatever the timeout (a wait would take 30 seconds here).
    const auto begun = std::chrono::steady_clock::now();
    EXPECT_EQ(q.GetRequest(name, unique, params, data, 30), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - begun, std::chrono::seconds(10));
    EXPECT_EQ(unique, "") << "the id is cleared";
    ASSERT_EQ(q.SendRequest("A", {"p1"}, u1, nullptr, 0), 0);
    ASSERT_EQ(q.SendRequest("B", {}, u2, "text", 0), 0);
    ASSERT_EQ(q.SendRequest(new ZOVRequest("C", "C-given", {"x", "y"}, nullptr)), 0);
    EXPECT_NE(u1, u2);
    ASSERT_EQ(q.GetRequest(name, unique, params, data, 0), 0);
    EXPECT_EQ(name, "A");
    EXPECT_EQ(unique, u1);
    EXPECT_EQ(params, std::list<std::string>{"p1"});
    EXPECT_EQ(data, "");
    ASSERT_EQ(q.GetRequest(name, unique, params, data, 0), 0);
    EXPECT_EQ(name, "B");
    EXPECT_EQ(unique, u2);
    EXPECT_EQ(data, "text");
    ASSERT_EQ(q.GetRequest(name, unique, params, data, 0), 0);
    EXPECT_EQ(name, "C");
    EXPECT_EQ(unique, "C-given");
    EXPECT_EQ(params, (std::list<std::string>{"x", "y"}));
    EXPECT_EQ(q.GetRequest(name, unique, params, data, 0), -1) << "all taken";
    EXPECT_EQ(q.SendData(u2, 1, 1, "x", 0), 0);
    std::string got;
    int rows = 0, len = 0;
    EXPECT_EQ(q.GetData(u2, got, rows, len, data, 0), -1) << "answers go nowhere";
    EXPECT_EQ(q.IsGood(), 1);
    EXPECT_EQ(q.ResetSemaphore(ZOV_SHARE_DATA), 0);
}

TEST(ThreadCommObject, ServesAsBothObjectsOfTheProcessUntilDestroyed) {
    ASSERT_EQ(g_pCommObjectRequest, nullptr);
    ASSERT_TRUE(CreateThreadCommObject());
    ASSERT_NE(g_pCommObjectRequest, nullptr);
    EXPECT_EQ(g_pCommObjectData, g_pCommObjectRequest);
    std::string unique, name, got, data;
    std::list<std::string> params;
    ASSERT_EQ(g_pCommObjectRequest->SendRequest("Q", {}, unique, nullptr, 0), 0);
    EXPECT_EQ(g_pCommObjectData->GetRequest(name, got, params, data, 0), 0);
    EXPECT_EQ(got, unique);
    DestroyThreadCommObject();
    EXPECT_EQ(g_pCommObjectRequest, nullptr);
    EXPECT_EQ(g_pCommObjectData, nullptr);
    // The process-wide queue and the do-nothing set-up are there in every program.
    InitRequestQueue();
    EXPECT_EQ(g_sCommQueue.IsGood(), 1);
    EXPECT_EQ(g_sCommQueue.GetRequest(name, got, params, data, 0), -1);
}

}  // namespace
