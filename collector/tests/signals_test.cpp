// Signals delivered in-process: the handler records, test_go_home reports and stops.
#include "collector/run/signals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <iterator>
#include <vector>

#include "collector/startup/engine_hooks.h"
#include "collector/tests/engine_test_support.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "runtime/env.h"
#include "testing/log_capture.h"

namespace {

using colltest::fake_time;
using colltest::FakeClock;
using colltest::quit_called;
using colltest::QuitTrap;

int commits = 0;
int count_commit(int release) {
    if (release == -1) ++commits;
    return 0;
}

void (*disposition(int sig))(int) {
    struct sigaction now = {};
    sigaction(sig, nullptr, &now);
    return now.sa_handler;
}

// The signals the collector installs or ignores. A program started in the background by a
// shell without job control inherits SIGINT and SIGQUIT ignored; the cases compare against
// the default, so each starts from it and the inherited actions come back at the end.
const int kSignals[] = {SIGINT,  SIGTERM, SIGHUP,  SIGQUIT, SIGTTOU,
                        SIGABRT, SIGUSR1, SIGUSR2, SIGPIPE};

class Signals : public ::testing::Test {
  protected:
    void SetUp() override {
        for (size_t i = 0; i < std::size(kSignals); ++i) {
            struct sigaction dfl = {};
            dfl.sa_handler = SIG_DFL;
            sigemptyset(&dfl.sa_mask);
            sigaction(kSignals[i], &dfl, &inherited_[i]);
        }
        saved_level_ = env_vars.nosignals;
        saved_commit_ = engine_runs.commit_collect;
        engine_runs.commit_collect = count_commit;
        commits = 0;
        go_home = 0;
    }
    void TearDown() override {
        set_signal(0);
        env_vars.nosignals = saved_level_;
        engine_runs.commit_collect = saved_commit_;
        go_home = 0;
        database_info.connected = 0;
        for (size_t i = 0; i < std::size(kSignals); ++i)
            sigaction(kSignals[i], &inherited_[i], nullptr);
    }
    void install(int level) {
        env_vars.nosignals = static_cast<int16_t>(level);
        set_signal(1);
    }
    struct sigaction inherited_[std::size(kSignals)] = {};
    int16_t saved_level_ = 0;
    int (*saved_commit_)(int) = nullptr;
    FakeClock clock_{1796913000};
    LogCapture log_;
};

TEST_F(Signals, UserSignalOneIsReportedAndTheCollectorGoesOn) {
    install(0);
    std::raise(SIGUSR1);
    std::raise(SIGUSR1);  // the handler stays installed
    EXPECT_FALSE(test_go_home());
    EXPECT_TRUE(log_.has("CIR5002I")) << log_.text();
    EXPECT_TRUE(log_.has("Signal captured type: 10")) << log_.text();
    EXPECT_TRUE(log_.has("CIR5003I")) << log_.text();
    EXPECT_TRUE(log_.has("Received interupt (10). Returning")) << log_.text();
    EXPECT_FALSE(test_go_home());
    EXPECT_TRUE(fake_time::sleeps.empty());
}

TEST_F(Signals, TerminateStopsAtTheNextTestWithItsPausesCommitAndQuitting) {
    QuitTrap trap;
    install(0);
    database_info.connected = 1;
    std::raise(SIGTERM);
    EXPECT_EQ(go_home, 1);
    EXPECT_TRUE(log_.text().empty());  // the handler itself writes nothing
    try {
        test_go_home();
        ADD_FAILURE() << "no stop";
    } catch (const quit_called& q) {
        EXPECT_EQ(q.code, 0);
    }
    EXPECT_EQ(fake_time::sleeps, (std::vector<long>{10, 10}));
    EXPECT_EQ(commits, 1);
    EXPECT_TRUE(log_.has("Received interupt (15). Quitting.")) << log_.text();
    EXPECT_FALSE(log_.has("CGN1524")) << log_.text();
}

TEST_F(Signals, EachStoppingSignalStops) {
    QuitTrap trap;
    install(0);
    for (int sig : {SIGINT, SIGQUIT, SIGABRT, SIGUSR2}) {
        go_home = 0;
        std::raise(sig);
        EXPECT_EQ(go_home, 1) << sig;
        EXPECT_THROW(test_go_home(), quit_called) << sig;
    }
}

TEST_F(Signals, HangUpTerminalOutputAndPipeAreIgnoredBelowLevelThree) {
    install(0);
    EXPECT_EQ(disposition(SIGHUP), SIG_IGN);
    EXPECT_EQ(disposition(SIGTTOU), SIG_IGN);
    EXPECT_EQ(disposition(SIGPIPE), SIG_IGN);
    std::raise(SIGHUP);
    EXPECT_FALSE(test_go_home());
    set_signal(0);
    EXPECT_EQ(disposition(SIGHUP), SIG_DFL);
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
}

TEST_F(Signals, LevelThreeHandlesOnlyInterruptAndTerminate) {
    QuitTrap trap;
    install(3);
    EXPECT_EQ(disposition(SIGQUIT), SIG_DFL);
    EXPECT_EQ(disposition(SIGUSR1), SIG_DFL);
    EXPECT_EQ(disposition(SIGHUP), SIG_DFL);
    std::raise(SIGTERM);
    EXPECT_THROW(test_go_home(), quit_called);
}

TEST_F(Signals, LevelFourInstallsNothing) {
    install(4);
    EXPECT_EQ(disposition(SIGTERM), SIG_DFL);
    EXPECT_EQ(disposition(SIGINT), SIG_DFL);
}

}  // namespace
