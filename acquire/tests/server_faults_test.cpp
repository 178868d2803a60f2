// The pass gate: one failed connect or time-out per pass, one reconnection per pass, and
// the back-off after refused logins.
#include "acquire/server_faults.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "acquire/ctlib/zemctutl.h"
#include "defs/distrib.h"
#include "model/engine_globals.h"
#include "testing/log_capture.h"

namespace {

class ServerFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        server_faults_reset();
        collector_at = distrib_new();
        std::memcpy(collector_at->server_id, "ZOVTDS  ", 8);
        collector_at->interval = 60;
    }
    void TearDown() override {
        server_faults_reset();
        distrib_free(collector_at);
        collector_at = nullptr;
    }
    // Cursors of one pass that may run, of `n` asked; `fail` says what the first attempt
    // meets (none: it succeeds).
    int pass(int n, zem_fault_kind fail) {
        server_pass_begin();
        int ran = 0;
        for (int i = 0; i < n; ++i) {
            if (!server_may_run(nullptr)) continue;
            ++ran;
            if (ran == 1 && fail != zem_fault_none)
                server_connect_failed(fail);
            else if (ran == 1)
                server_connect_succeeded();
        }
        server_pass_end();
        return ran;
    }
    LogCapture log;
};

TEST_F(ServerFaults, AFailedConnectSkipsTheRestOfThePassWithOneMessage) {
    struct fault_case {
        zem_fault_kind kind;
        const char* words;
    } cases[] = {{zem_fault_timeout, "time-out"},
                 {zem_fault_unreachable, "server unreachable"},
                 {zem_fault_refused, "refused login"}};
    for (const fault_case& k : cases) {
        server_faults_reset();
        LogCapture one;
        EXPECT_EQ(pass(4, k.kind), 1) << k.words;
        EXPECT_EQ(server_skipped(), 3);
        const std::string text = one.text();
        EXPECT_NE(text.find("YCD0140E"), std::string::npos) << text;
        EXPECT_NE(text.find("ZOVTDS: " + std::string(k.words) + "; 3 SQL cursors skipped"),
                  std::string::npos)
            << text;
        EXPECT_EQ(text.find("YCD0140E"), text.rfind("YCD0140E")) << text;
        // The next pass tries again.
        EXPECT_EQ(pass(4, zem_fault_none), 4) << k.words;
    }
}

TEST_F(ServerFaults, ALostConnectionIsMadeAgainOncePerPass) {
    server_pass_begin();
    EXPECT_TRUE(server_may_run(nullptr));
    server_connection_lost(zem_fault_dropped);
    EXPECT_TRUE(server_may_run(nullptr));  // logs in again
    server_connection_lost(zem_fault_dropped);
    EXPECT_FALSE(server_may_run(nullptr));
    server_pass_end();
    EXPECT_TRUE(log.has("connection lost twice; 1 SQL cursors skipped")) << log.text();

    server_pass_begin();
    server_connection_lost(zem_fault_dropped);
    EXPECT_TRUE(server_may_run(nullptr));
    server_pass_end();
}

TEST_F(ServerFaults, ATimeOutInAStatementClosesThePass) {
    server_pass_begin();
    server_connection_lost(zem_fault_timeout);
    EXPECT_FALSE(server_may_run(nullptr));
    EXPECT_FALSE(server_may_run(nullptr));
    server_pass_end();
    EXPECT_TRUE(log.has("time-out; 2 SQL cursors skipped")) << log.text();
    server_pass_begin();
    EXPECT_TRUE(server_may_run(nullptr));
    server_pass_end();
}

TEST_F(ServerFaults, RefusedLoginsAreTriedEveryFifthPassAfterThreeInARow) {
    std::string attempts;
    for (int p = 1; p <= 14; ++p) attempts += pass(3, zem_fault_refused) != 0 ? 'x' : '.';
    // Passes 1 to 3 try once each; then passes 8 and 13.
    EXPECT_EQ(attempts, "xxx....x....x.");
    EXPECT_TRUE(log.has("YCD0145E")) << log.text();
    EXPECT_TRUE(log.has("one attempt every 5 passes (300 seconds)")) << log.text();
    EXPECT_TRUE(log.has("next login attempt in 4 passes (240 seconds)")) << log.text();
    // A login that succeeds ends the back-off.
    while (pass(1, zem_fault_none) == 0) {
    }
    EXPECT_EQ(pass(3, zem_fault_refused), 1);
    EXPECT_EQ(pass(3, zem_fault_none), 3);
}

TEST_F(ServerFaults, ASkipOutsideAPassIsToldOnceAndAWholeIntervalReopens) {
    collector_at->interval = 0;  // a pass length of one second
    server_connect_failed(zem_fault_unreachable);
    EXPECT_FALSE(server_may_run(nullptr));
    EXPECT_FALSE(server_may_run(nullptr));
    const std::string text = log.text();
    EXPECT_NE(text.find("YCD0142E"), std::string::npos) << text;
    EXPECT_EQ(text.find("YCD0142E"), text.rfind("YCD0142E")) << text;
    // No pass came for an interval: a demand run may try again.
    for (int i = 0; i < 300 && !server_may_run(nullptr); ++i) usleep(10000);
    EXPECT_TRUE(server_may_run(nullptr));
}

}  // namespace
