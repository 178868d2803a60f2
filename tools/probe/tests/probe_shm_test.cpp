// zovprobe as a shared-memory requester (COLL_USESHM unset) against a collector stub.
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "comm/ipc_idfile.h"
#include "comm/zovcomm.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "testing/child_support.h"
#include "testing/program_runner.h"
#include "testing/stub_collector.h"
#include "tools/probe/tests/probe_exec.h"

namespace {

class ProbeShm : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = make_test_dir("zovprobe_shm_");
        ASSERT_NE(dir_, "");
    }
    void TearDown() override {
        if (stub_ > 0) {
            kill(stub_, SIGKILL);
            waitpid(stub_, nullptr, 0);
        }
        expect_no_objects_left();
        remove_test_dir(dir_);
    }

    // The segments and semaphore sets named in the IPC id file are gone (any left is
    // removed, so that the next case starts clean).
    void expect_no_objects_left() {
        zov_ipc_ids ids{};
        if (zov_ipc_read_idfile((dir_ + "/h1_EM100_SRV1_SRV1_ZEM100_h1").c_str(), &ids)) {
            struct shmid_ds ds {};
            for (int id : {ids.request_shmid, ids.data_shmid}) {
                EXPECT_NE(shmctl(id, IPC_STAT, &ds), 0) << "segment " << id << " left behind";
                shmctl(id, IPC_RMID, nullptr);
            }
            for (int id : {ids.request_semid, ids.data_semid}) {
                EXPECT_LT(semctl(id, 0, GETVAL), 0) << "semaphore set " << id << " left behind";
                semctl(id, 0, IPC_RMID);
            }
        }
    }

    // A shared-memory collector child: answers ROWS with two rows "ab cd" and anything
    // else with no rows, `requests` times, then "term" and "shut".
    void start_stub(int requests) {
        ReadySignal ready;
        ASSERT_TRUE(ready.ok());
        asked_ = std::make_unique<ReadySignal>();
        ReadySignal* asked = asked_.get();
        stub_ = fork();
        ASSERT_GE(stub_, 0);
        if (stub_ == 0) {
            use_test_config(dir_.data(), nullptr);
            wait_timeout = 5;
            StubCollector opt;
            opt.requests = requests;
            opt.max_turns = 10;
            opt.shm = true;
            opt.check_puts = true;
            opt.idle_ms = 0;
            _exit(run_stub_collector(opt, ready, [asked](comm_anchor*, curs_list* block) {
                if (strcmp(block->cursor, "NOANSWER") == 0) {
                    asked->signal();  // the probe now waits for an answer that never comes
                    return stub_skip;
                }
                if (strcmp(block->cursor, "ROWS") == 0) {
                    block->rows = 2;
                    block->len = 5;
                    block->data = static_cast<char*>(U_MALLOC(10));
                    memcpy(block->data, "ab cdab cd", 10);
                }
                return stub_put;
            }));
        }
        ASSERT_TRUE(ready.wait());
    }

    int stub_status() {
        const int status = child_status(stub_);
        if (status != -1) stub_ = 0;
        return status;
    }

    // Runs zovprobe over shared memory; returns its exit status, output in output_. With
    // interrupt_after_ms, `signal` goes to it that long after the stub got its request
    // (a NOANSWER); interrupted_ms is
    // then how long it took to end from there. At the runner's deadline it is killed.
    int run_probe(const std::vector<std::string>& words, int interrupt_after_ms = 0,
                  int signal = SIGINT) {
        const std::string wait = interrupt_after_ms > 0 ? "30" : "5";
        testprog::started_program probe;
        output_.clear();
        if (!probe.start(probe_program(words, {"WAIT_TIMEOUT=" + wait, "COLL_PREFIX=" + dir_})))
            return -1;
        std::chrono::steady_clock::time_point sent;
        if (interrupt_after_ms > 0) {
            // Once the stub has its request, however slowly the probe started.
            EXPECT_TRUE(asked_->wait()) << "the request never came";
            std::this_thread::sleep_for(std::chrono::milliseconds(interrupt_after_ms));
            sent = std::chrono::steady_clock::now();
            kill(probe.pid(), signal);
        }
        const testprog::program_result r = probe.finish();
        if (interrupt_after_ms > 0) {
            interrupted_ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - sent)
                                 .count();
        }
        output_ = r.out;
        errors_ = r.err;
        return r.status;
    }

    long interrupted_ms = 0;
    std::string dir_;
    std::string output_;
    std::string errors_;  // zovprobe's standard error, for the failure messages
    pid_t stub_ = 0;
    std::unique_ptr<ReadySignal> asked_;  // the stub got a NOANSWER request
};

TEST_F(ProbeShm, SamplesOverSharedMemoryAndLeavesNoObjects) {
    start_stub(2);  // one request per name
    EXPECT_EQ(run_probe({"rows", "empty"}), 0) << output_ << errors_;
    EXPECT_NE(output_.find("*********Cursor:ROWS, Rows:2\nab.cd\n\nab.cd\n\n"), std::string::npos)
        << output_ << errors_;
    EXPECT_NE(output_.find("*********Cursor:EMPTY, Rows:0\n<<No rows returned>>\n"),
              std::string::npos)
        << output_ << errors_;
    EXPECT_EQ(stub_status(), 0);
}

// SIGINT, and SIGTERM as a stopping service sends it: the probe ends its wait, detaches and,
// as the last process attached, removes the segments and semaphore sets.
TEST_F(ProbeShm, AnInterruptEndsAWaitForASilentCollectorAtOnce) {
    for (const int signal : {SIGINT, SIGTERM}) {
        start_stub(1);
        EXPECT_EQ(run_probe({"noanswer"}, 300, signal), 0) << signal << output_ << errors_;
        EXPECT_LT(interrupted_ms, 10000);  // far below the 30-second wait, with room for load
        EXPECT_NE(output_.find("Process interrupted\n"), std::string::npos)
            << signal << output_ << errors_;
        EXPECT_EQ(stub_status(), 0) << signal;
        expect_no_objects_left();
    }
}

// The communication layer's lines (here its traces, and the set-up's information line)
// go to standard error: standard output holds the answer alone.
TEST_F(ProbeShm, TheRequestersOwnLinesNeverGoIntoTheAnswer) {
    start_stub(1);
    EXPECT_EQ(run_probe({"-dddddddd", "rows"}), 0) << output_ << errors_;
    EXPECT_EQ(output_,
              "\n--------------------- Sample #1 -------------------------\n"
              "*********Cursor:ROWS, Rows:2\nab.cd\n\nab.cd\n\n")
        << errors_;
    EXPECT_NE(errors_.find("USH0120T"), std::string::npos) << errors_;
    EXPECT_NE(errors_.find("USH0035I"), std::string::npos) << errors_;
    EXPECT_EQ(stub_status(), 0);
}

}  // namespace
