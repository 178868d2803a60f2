// The collector's wait for a request and the stop flag, over both transports: the wait
// ends as soon as a request waits (and the next get takes it without waiting), at its
// deadline, or within a step once the stop flag is set; a requester's wait ends on the
// flag as a time-out.
#include <chrono>
#include <cstring>
#include <thread>

#include "comm/tests/shm_fixture.h"
#include "runtime/alloc.h"
#include "testing/pipe_fixture.h"

namespace {

using Clock = std::chrono::steady_clock;

long ms_since(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// The collector end in a child. Each check that fails ends it with its own status.
int serve_one_request(bool shm, ReadySignal& ready) {
    if (shm) zovcomm("initsm");
    auto* a = static_cast<comm_anchor*>(zovcomm("initc"));
    if (!a) return 2;
    auto start = Clock::now();
    if (zovcomm_wait(a, 0) != 0 || ms_since(start) > 100) return 10;  // only looks
    start = Clock::now();
    if (zovcomm_wait(a, 300) != 0 || ms_since(start) < 250 || ms_since(start) > 1000) return 11;
    if (!ready.signal()) return 3;
    start = Clock::now();
    if (zovcomm_wait(a, 10000) != 1 || ms_since(start) > 3000) return 12;
    start = Clock::now();
    auto* block = static_cast<curs_list*>(zovcomm("get", a, nullptr));
    if (!block || strcmp(block->cursor, "ROWS") != 0) return 13;
    if (ms_since(start) > 200) return 14;  // the get did not wait again
    block->rows = 2;
    block->len = 5;
    block->data = static_cast<char*>(U_MALLOC(10));
    memcpy(block->data, "ab cdab cd", 10);
    if (zovcomm("put", a) != nullptr) return 15;
    // The requester has closed its end of the collector pipe: that is no request.
    start = Clock::now();
    if (zovcomm_wait(a, 400) != 0 || ms_since(start) < 350) return 16;
    zovcomm("term", a);
    if (shm) zovcomm("shut", static_cast<comm_anchor*>(nullptr));
    return 0;
}

// The requester's side of the exchange above.
void ask_rows(pid_t collector, ReadySignal& ready, bool shm, int* status) {
    ASSERT_TRUE(ready.wait());
    if (shm) zovcomm("initsm");
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    const auto start = Clock::now();
    auto* chain = static_cast<curs_list*>(zovcomm("get", a, "ROWS"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_LT(ms_since(start), 1000);
    EXPECT_EQ(chain->rows, 2);
    EXPECT_EQ(std::string(chain->data, 10), "ab cdab cd");
    zovcomm("term", a);
    *status = child_status(collector);
}

// Sets `flag` after `ms` milliseconds, from another thread (no signal ends the wait).
std::thread raise_later(volatile sig_atomic_t* flag, int ms) {
    return std::thread([flag, ms] {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        *flag = 1;
    });
}

volatile sig_atomic_t stop = 0;

// A collector's and a requester's wait, both ended by the flag within a step.
void waits_end_on_the_stop_flag(bool shm) {
    if (shm) zovcomm("initsm");
    auto* c = static_cast<comm_anchor*>(zovcomm("initc"));
    ASSERT_NE(c, nullptr);
    stop = 0;
    zovcomm_set_stop_flag(&stop);
    auto start = Clock::now();
    std::thread t = raise_later(&stop, 300);
    EXPECT_EQ(zovcomm_wait(c, 10000), 0);
    t.join();
    EXPECT_GE(ms_since(start), 290);
    EXPECT_LT(ms_since(start), 300 + COMM_STOP_CHECK_MS + 200);

    // A requester waiting for an answer nobody sends (wait_timeout is 3 seconds).
    stop = 0;
    auto* p = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(p, nullptr);
    start = Clock::now();
    t = raise_later(&stop, 300);
    EXPECT_EQ(zovcomm("get", p, "SILENT"), nullptr);
    t.join();
    EXPECT_LT(ms_since(start), 300 + COMM_STOP_CHECK_MS + 200);
    EXPECT_EQ(p->return_code, shm ? 20 : 1) << p->return_msg;
    zovcomm_set_stop_flag(nullptr);
    zovcomm("term", p);
    zovcomm("term", c);
}

using PipeWait = PipeFixture;
using ShmWait = ShmFixture;

TEST_F(PipeWait, EndsWhenARequestWaitsAtTheDeadlineAndNotForAClosedRequester) {
    ReadySignal ready;
    ASSERT_TRUE(ready.ok());
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) _exit(serve_one_request(false, ready));
    int status = -1;
    ask_rows(pid, ready, false, &status);
    EXPECT_EQ(status, 0);
}

TEST_F(ShmWait, EndsWhenARequestWaitsAndTheNextGetDoesNotWaitAgain) {
    ReadySignal ready;
    ASSERT_TRUE(ready.ok());
    const pid_t pid = spawn([&] { return serve_one_request(true, ready); });
    int status = -1;
    ask_rows(pid, ready, true, &status);
    EXPECT_EQ(status, 0);
    children_.clear();
    track_current();
    zovcomm("shut", static_cast<comm_anchor*>(nullptr));
}

TEST_F(PipeWait, TheStopFlagEndsTheWaitsOfBothEnds) { waits_end_on_the_stop_flag(false); }

TEST_F(ShmWait, TheStopFlagEndsTheWaitsOfBothEnds) {
    waits_end_on_the_stop_flag(true);
    track_current();
    zovcomm("shut", static_cast<comm_anchor*>(nullptr));
}

}  // namespace
