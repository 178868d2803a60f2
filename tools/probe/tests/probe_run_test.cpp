// The zovprobe program against a stub collector (initc, get, put) in a child process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "comm/pipe_transport.h"
#include "comm/zovcomm.h"
#include "model/cursor.h"
#include "model/cursor_status.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "testing/child_support.h"
#include "testing/program_runner.h"
#include "testing/stub_collector.h"
#include "tools/probe/tests/probe_exec.h"

namespace {

void set_rows(curs_list* b, int rows, int len, const void* bytes) {
    b->rows = rows;
    b->len = len;
    if (rows > 0) {
        b->data = static_cast<char*>(U_MALLOC(rows * len));
        memcpy(b->data, bytes, rows * len);
    }
}

// The stub's answers: "C-STATUS" three status records; ROWS two rows "ab cd"; EMPTY none;
// BIN one row of mixed bytes; PARM one row holding the first parameter or "(none)".
void answer(comm_anchor* a, curs_list* b) {
    const std::string name = b->cursor;
    if (name == "C-STATUS") {
        std::vector<unsigned char> recs(3 * CURS_STATUS_LEN);
        const char* names[] = {"ZEMENGD", "zemlckd", "OTHER"};
        for (int i = 0; i < 3; i++) {
            curs* c = curs_new();
            snprintf(c->cur_name, sizeof c->cur_name, "%s", names[i]);
            curs_status_encode(c, recs.data() + i * CURS_STATUS_LEN);
            U_FREE(c);
        }
        set_rows(b, 3, static_cast<int>(CURS_STATUS_LEN), recs.data());
    } else if (name == "ROWS") {
        set_rows(b, 2, 5, "ab cdab cd");
    } else if (name == "BIN") {
        const char bytes[] = {'x', '\0', '\0', '\x01', 'y', ' ', ' ', 'z'};
        set_rows(b, 1, 8, bytes);
    } else if (name == "PARM") {
        char row[17];
        snprintf(row, sizeof row, "%-16.16s", a->parm[0] && *a->parm[0] ? a->parm[0] : "(none)");
        set_rows(b, 1, 16, row);
    }
}

class ProbeRun : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = make_test_dir("zovprobe_test_");
        ASSERT_NE(dir_, "");
    }
    void TearDown() override {
        probe_.stop();  // a probe a failed test left running goes before its directory
        if (stub_ > 0) {
            kill(stub_, SIGTERM);
            waitpid(stub_, nullptr, 0);
        }
        EXPECT_EQ(dir_entries(dir_), std::vector<std::string>{}) << "files left in " << dir_;
        remove_test_dir(dir_);
    }

    // A collector child that serves `requests` requests, then ends with "term".
    void start_stub(int requests) {
        ReadySignal ready;
        ASSERT_TRUE(ready.ok());
        ASSERT_TRUE(asked_.ok());
        stub_ = fork();
        ASSERT_GE(stub_, 0);
        if (stub_ == 0) {
            static char pipes[] = "0";
            use_test_config(dir_.data(), pipes);
            comm_pipe_reset_names();
            wait_timeout = 5;
            StubCollector opt;
            opt.requests = requests;
            opt.max_turns = 2000;
            _exit(run_stub_collector(opt, ready, [this](comm_anchor* a, curs_list* block) {
                answer(a, block);
                if (strcmp(block->cursor, "NOANSWER") != 0) return stub_put;
                asked_.signal();
                return stub_skip;
            }));
        }
        ASSERT_TRUE(ready.wait());
    }

    int stub_status() {
        const int status = child_status(stub_);
        if (status != -1) stub_ = 0;
        return status;
    }

    // Starts zovprobe with the words; its output is read by probe_.read_until and
    // finish_probe.
    void start_probe(const std::vector<std::string>& words, const char* useshm = "0",
                     bool env_prefix = true) {
        std::vector<std::string> env = {"WAIT_TIMEOUT=" + wait_};
        if (useshm) env.push_back(std::string("COLL_USESHM=") + useshm);
        if (env_prefix) env.push_back("COLL_PREFIX=" + dir_);
        output_.clear();
        errors_.clear();
        ASSERT_TRUE(probe_.start(probe_program(words, env)));
    }

    // Reads the rest of the output and returns the probe's exit status; at the runner's
    // deadline the probe is killed.
    int finish_probe() {
        const testprog::program_result r = probe_.finish();
        output_ = r.out;
        errors_ = r.err;
        return r.status;
    }

    int run_probe(const std::vector<std::string>& words, const char* useshm = "0",
                  bool env_prefix = true) {
        start_probe(words, useshm, env_prefix);
        return finish_probe();
    }

    static size_t count(const std::string& text, const std::string& what) {
        size_t n = 0;
        for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
        return n;
    }

    std::string dir_;
    ReadySignal asked_;  // told by the stub when the unanswered request came
    std::string wait_ = "5";
    pid_t stub_ = 0;
    testprog::started_program probe_;
    std::string output_;
    std::string errors_;  // zovprobe's standard error, for the failure messages
};

TEST_F(ProbeRun, TwoSamplesPlainExitZeroAndLeaveNoFifo) {
    start_stub(6);
    EXPECT_EQ(run_probe({"-n", "2", "rows,empty", "parm"}), 0) << output_ << errors_;
    EXPECT_EQ(stub_status(), 0);
    EXPECT_NE(output_.find("\n--------------------- Sample #1 -------------------------\n"),
              std::string::npos)
        << output_ << errors_;
    EXPECT_NE(output_.find("Sample #2"), std::string::npos);
    EXPECT_EQ(count(output_, "*********Cursor:ROWS, Rows:2\nab.cd\n\nab.cd\n\n"), 2u)
        << output_ << errors_;
    EXPECT_EQ(count(output_, "*********Cursor:EMPTY, Rows:0\n<<No rows returned>>\n\n"), 2u);
    // Sample 1 carries the two parameters; sample 2 resends the records built for it.
    EXPECT_EQ(count(output_, "*********Cursor:PARM, Rows:1\nparm1...........\n\n"), 2u)
        << output_ << errors_;
}

TEST_F(ProbeRun, CompressedAndHexPrinting) {
    start_stub(2);
    EXPECT_EQ(run_probe({"-c", "-pref", dir_, "bin"}, "0", false), 0);  // -pref names the directory
    EXPECT_NE(output_.find("*********Cursor:BIN, Rows:1\nx~y z|\n\n"), std::string::npos)
        << output_ << errors_;
    EXPECT_EQ(run_probe({"-hex", "bin"}), 0);
    EXPECT_NE(output_.find("78000001"), std::string::npos) << output_ << errors_;
    EXPECT_EQ(stub_status(), 0);
}

TEST_F(ProbeRun, CursorNameListingWithPrefix) {
    start_stub(1);
    EXPECT_EQ(run_probe({"-show", "-curs", "zem", "-pipe", dir_ + "/col_SRV1_ZEM100_pipe",
                         "-serverOTHER"}),
              0);  // -pipe wins over the name the configuration would give
    EXPECT_EQ(output_, "\ncursors: ZEMENGD zemlckd \n");
    EXPECT_EQ(stub_status(), 0);
}

TEST_F(ProbeRun, InterruptEndsTheCommunication) {
    start_stub(1);
    start_probe({"-n", "5", "ROWS"});
    ASSERT_TRUE(probe_.read_until("ab.cd\n\nab.cd\n\n")) << probe_.out();
    kill(probe_.pid(), SIGINT);  // during the pause after the first sample
    EXPECT_EQ(finish_probe(), 0);
    EXPECT_NE(output_.find("Process interrupted\n"), std::string::npos) << output_ << errors_;
    EXPECT_EQ(output_.find("Sample #2"), std::string::npos);
    EXPECT_EQ(stub_status(), 0);
}

TEST_F(ProbeRun, AnInterruptEndsAWaitForASilentCollectorAtOnce) {
    wait_ = "30";
    start_stub(1);
    start_probe({"noanswer"});
    // Once the stub has the request, zovprobe waits for the answer (not after a fixed
    // pause: a loaded machine may not have it waiting yet).
    ASSERT_TRUE(asked_.wait());
    const auto sent = std::chrono::steady_clock::now();
    kill(probe_.pid(), SIGINT);
    EXPECT_EQ(finish_probe(), 0);
    // Far below the 30-second wait; the margin is for a loaded sanitizer build.
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(10000));
    EXPECT_NE(output_.find("Process interrupted\n"), std::string::npos) << output_ << errors_;
    EXPECT_EQ(stub_status(), 0);
}

TEST_F(ProbeRun, AFailedSampleIsReportedAndTheRunFails) {
    wait_ = "1";
    start_stub(2);
    EXPECT_EQ(run_probe({"-n", "2", "noanswer"}), 1) << output_ << errors_;
    EXPECT_EQ(count(output_, "Data Collector Wait Timeout. Wait Time=1"), 2u) << output_ << errors_;
    EXPECT_EQ(stub_status(), 0);
}

TEST_F(ProbeRun, NoSampleAndHeadersExitZero) {
    // -n 0: init and term, no request; -headers: nothing is asked at all.
    for (std::vector<std::string> words :
         {std::vector<std::string>{"-n", "0", "A"}, std::vector<std::string>{"-headers", "A"}}) {
        EXPECT_EQ(run_probe(words), 0) << output_ << errors_;
        EXPECT_EQ(output_, "");
    }
}

TEST_F(ProbeRun, RefusalsExitOne) {
    struct Case {
        std::vector<std::string> words;
        const char* useshm;
        const char* text;
    } cases[] = {
        {{}, "0", "Must specifiy one or more cursor names.\n\nEnter the name(s)"},
        {{"-c"}, "0", "Must specifiy one or more CURSOR names for request.\n"},
        {{"A", "-n"}, "0", "Enter the name(s) of the cursor(s) to be tested\n"},
        {{"-help"}, "0", "   -pipe %s   = pipe name  (/tmp/userid/col_server_db_pipe)\n\n\n"},
        // The communication layer's limit and message for the cursor-name text.
        {{std::string(60, 'A'), std::string(40, 'B')},
         "0",
         "Cursor name text too long (102 characters, at most 99)\n\nEnter the name(s)"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(run_probe(c.words, c.useshm), 1) << output_ << errors_;
        EXPECT_NE(output_.find(c.text), std::string::npos) << output_ << errors_;
    }
}

}  // namespace
