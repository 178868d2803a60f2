// Two processes over FIFOs: a collector stub (initc, get, put) in a child, the requester
// in the test process.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstring>
#include <string>

#include "comm/request.h"
#include "runtime/alloc.h"
#include "testing/pipe_fixture.h"
#include "testing/stub_collector.h"

namespace {

constexpr int kRowLen = 12;

// The stub's answer for a cursor: "EMPTY" has no rows, "PARMS" one row holding the first
// parameter, any other name two rows "<name>:<n>"; "SLOW" is answered after 3 seconds.
void fill_answer(comm_anchor* a, curs_list* b) {
    if (strcmp(b->cursor, "EMPTY") == 0) return;
    if (strcmp(b->cursor, "SLOW") == 0) usleep(3000 * 1000);
    if (strcmp(b->cursor, "BIG") == 0) {  // larger than a pipe's buffer
        b->rows = 1000;
        b->len = 200;
        b->data = static_cast<char*>(U_MALLOC(200000));
        for (int i = 0; i < 200000; i++) b->data[i] = static_cast<char>('a' + i % 26);
        return;
    }
    int rows = strcmp(b->cursor, "PARMS") == 0 ? 1 : 2;
    b->rows = rows;
    b->len = kRowLen;
    b->data = static_cast<char*>(U_MALLOC(rows * kRowLen));
    for (int i = 0; i < rows; i++) {
        char row[kRowLen + 1];
        if (rows == 1) {
            snprintf(row, sizeof row, "%-12.12s", a->parm[0] ? a->parm[0] : "(none)");
        } else {
            snprintf(row, sizeof row, "%-12.12s",
                     (std::string(b->cursor) + ":" + std::to_string(i + 1)).c_str());
        }
        memcpy(b->data + i * kRowLen, row, kRowLen);
    }
}

// Forks a collector that serves `requests` requests (or runs 15 seconds) and ends. It
// reports its readiness through a plain pipe once its collector pipe is open.
pid_t start_collector(int requests) {
    ReadySignal ready;
    if (!ready.ok()) return -1;
    pid_t pid = fork();
    if (pid != 0) return ready.wait() ? pid : -1;
    StubCollector opt;
    opt.requests = requests;
    opt.check_gets = true;
    _exit(run_stub_collector(opt, ready, [](comm_anchor* a, curs_list* block) {
        fill_answer(a, block);
        return stub_put;  // a put to a requester that moved on fails; that is fine
    }));
}

std::string row_of(curs_list* b, int i) { return std::string(b->data + i * b->len, b->len); }

using Exchange = PipeFixture;

TEST_F(Exchange, EachBlockGetsItsOwnRowsAndZeroRowsAreAnAnswer) {
    pid_t pid = start_collector(6);
    ASSERT_GT(pid, 0);
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->type, 'P');
    EXPECT_STREQ(a->coll_pipe, collector_pipe().c_str());

    auto* chain = static_cast<curs_list*>(zovcomm("get", a, " AA,BB"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(a->return_code, 0);
    ASSERT_NE(chain->next, nullptr);
    EXPECT_EQ(chain->next->next, nullptr);
    EXPECT_STREQ(chain->cursor, "AA");
    EXPECT_EQ(chain->rows, 2);
    EXPECT_EQ(chain->len, kRowLen);
    EXPECT_EQ(row_of(chain, 0), "AA:1        ");
    EXPECT_EQ(row_of(chain, 1), "AA:2        ");
    EXPECT_STREQ(chain->next->cursor, "BB");
    EXPECT_EQ(row_of(chain->next, 1), "BB:2        ");

    chain = static_cast<curs_list*>(zovcomm("get", a, "BIG"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    ASSERT_EQ(chain->rows, 1000);
    ASSERT_EQ(chain->len, 200);
    for (int i = 0; i < 200000; i += 997) ASSERT_EQ(chain->data[i], 'a' + i % 26) << i;

    chain = static_cast<curs_list*>(zovcomm("get", a, "EMPTY"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(chain->rows, 0);
    EXPECT_EQ(chain->data, nullptr);

    // Parameters travel with the request; a repeated name text resends the record as built.
    a->parm[0] = const_cast<char*>("parm1");
    chain = static_cast<curs_list*>(zovcomm("get", a, "PARMS"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(row_of(chain, 0), "parm1       ");
    a->parm[0] = nullptr;

    // A reply pipe that someone removed is made again before the request goes out.
    unlink(a->ulv_pipe);
    chain = static_cast<curs_list*>(zovcomm("get", a, "PARMS"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(row_of(chain, 0), "parm1       ");

    EXPECT_EQ(zovcomm("term", a), nullptr);
    EXPECT_EQ(child_status(pid), 0);
}

TEST_F(Exchange, AnswersReadTogetherAreEachTakenWhole) {
    // Small answers around a large one: one read takes a header, its rows and what
    // follows; each block still gets exactly its own bytes.
    pid_t pid = start_collector(8);
    ASSERT_GT(pid, 0);
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    for (int round = 0; round < 2; round++) {
        auto* chain = static_cast<curs_list*>(zovcomm("get", a, "AA BIG EMPTY BB"));
        ASSERT_NE(chain, nullptr) << a->return_msg;
        EXPECT_EQ(row_of(chain, 1), "AA:2        ");
        curs_list* big = chain->next;
        ASSERT_EQ(big->rows, 1000);
        for (int i = 0; i < 200000; i += 997) ASSERT_EQ(big->data[i], 'a' + i % 26) << i;
        EXPECT_EQ(big->next->rows, 0);
        EXPECT_EQ(row_of(big->next->next, 0), "BB:1        ");
    }
    EXPECT_EQ(zovcomm("term", a), nullptr);
    EXPECT_EQ(child_status(pid), 0);
}

TEST_F(Exchange, AfterATimeOutTheNextRequestGetsItsOwnAnswer) {
    wait_timeout = 2;  // a second of margin on either side of the late answer
    pid_t pid = start_collector(2);
    ASSERT_GT(pid, 0);
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    std::string first_pipe = a->ulv_pipe;

    EXPECT_EQ(zovcomm("get", a, "SLOW"), nullptr);
    EXPECT_EQ(a->return_code, 1);
    EXPECT_STREQ(a->return_msg, "Data Collector Wait Timeout. Wait Time=2");

    auto* chain = static_cast<curs_list*>(zovcomm("get", a, "FAST"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_STREQ(chain->cursor, "FAST");
    EXPECT_EQ(row_of(chain, 0), "FAST:1      ");
    EXPECT_NE(first_pipe, a->ulv_pipe);  // a late answer cannot reach the new pipe

    EXPECT_EQ(zovcomm("term", a), nullptr);
    EXPECT_EQ(child_status(pid), 0);
}

// A collector of raw bytes: takes one request and answers with the given header bytes.
pid_t start_raw_collector(const std::string& pipe_name, const stream_header& h) {
    ReadySignal ready;
    if (!ready.ok()) return -1;
    pid_t pid = fork();
    if (pid != 0) return ready.wait() ? pid : -1;
    if (mkfifo(pipe_name.c_str(), 0600) != 0) _exit(2);
    int fd = open(pipe_name.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0 || !ready.signal()) _exit(3);
    data_request req{};
    struct pollfd p {
        fd, POLLIN, 0
    };
    if (poll(&p, 1, 10000) != 1 || read(fd, &req, sizeof req) < 4) _exit(4);
    unlink(pipe_name.c_str());
    if (comm_request_check(&req, nullptr) != 0) _exit(5);
    int out = open(comm_request_reply(&req), O_WRONLY | O_NONBLOCK);
    unsigned char hb[COMM_HEADER_BYTES];
    comm_header_encode(h, hb);
    if (out < 0 || write(out, hb, sizeof hb) != static_cast<ssize_t>(sizeof hb)) _exit(6);
    close(out);
    _exit(0);
}

TEST_F(Exchange, ARequesterReachesACollectorThatStartedAnew) {
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    for (const bool removed : {true, false}) {
        // The first collector ends; with removed false its FIFO stays behind, as after a
        // crash. The next one makes its own FIFO at the same name.
        pid_t first = start_collector(1);
        ASSERT_GT(first, 0);
        auto* chain = static_cast<curs_list*>(zovcomm("get", a, "ONE"));
        ASSERT_NE(chain, nullptr) << a->return_msg;
        EXPECT_EQ(child_status(first), 0);
        if (!removed) {
            ASSERT_EQ(mkfifo(collector_pipe().c_str(), 0600), 0);
        }
        pid_t second = start_collector(1);
        ASSERT_GT(second, 0);
        chain = static_cast<curs_list*>(zovcomm("get", a, "TWO"));
        ASSERT_NE(chain, nullptr) << a->return_msg;
        EXPECT_EQ(row_of(chain, 0), "TWO:1       ");
        EXPECT_EQ(child_status(second), 0);
    }
    zovcomm("term", a);
}

TEST_F(Exchange, AnImpossibleAnswerHeaderIsRefused) {
    const stream_header bad[] = {{-1, 5}, {5, -1}, {0x7fffffff, 0x7fffffff}};
    for (const auto& h : bad) {
        pid_t pid = start_raw_collector(collector_pipe(), h);
        ASSERT_GT(pid, 0);
        auto* a = static_cast<comm_anchor*>(zovcomm("init"));
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(zovcomm("get", a, "A"), nullptr);
        EXPECT_EQ(a->return_code, 4) << h.rows << "x" << h.len;
        EXPECT_EQ(a->return_msg, "Pipe read error. Pipe=" + std::string(a->ulv_pipe));
        zovcomm("term", a);
        EXPECT_EQ(child_status(pid), 0);
    }
}

TEST_F(Exchange, NoCollectorGivesError3) {
    u_platform_ops ops{};
    static int sleeps;
    sleeps = 0;
    ops.sleep_ms = [](long) { ++sleeps; };
    u_platform_set(ops);
    struct Case {
        const char* what;
        bool make_pipe;  // a collector pipe that nobody reads
        int err;
    } cases[] = {{"no collector pipe", false, ENOENT}, {"nobody reading", true, ENXIO}};
    for (const auto& c : cases) {
        sleeps = 0;
        if (c.make_pipe) {
            ASSERT_EQ(mkfifo(collector_pipe().c_str(), 0600), 0);
        }
        auto* a = static_cast<comm_anchor*>(zovcomm("init"));
        ASSERT_NE(a, nullptr);
        EXPECT_EQ(zovcomm("get", a, "ZEMENGD"), nullptr) << c.what;
        EXPECT_EQ(a->return_code, 3) << c.what;
        std::string msg = "Open Pipe error " + std::to_string(c.err) + ". Pipe=" + collector_pipe();
        EXPECT_EQ(a->return_msg, msg) << c.what;
        EXPECT_EQ(sleeps, 9) << c.what;  // ten attempts, a second apart
        zovcomm("term", a);
        unlink(collector_pipe().c_str());
    }
}

TEST_F(Exchange, RefusedNameTextsSendNothing) {
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    struct Case {
        std::string text;
        const char* msg_start;
    } cases[] = {
        {std::string(120, 'A'), "Cursor name text too long"},
        {"ZEMENGD ZEMLOCKSX", "Cursor name too long: ZEMLOCKSX"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zovcomm("get", a, c.text.c_str()), nullptr);
        EXPECT_EQ(a->return_code, 4);
        EXPECT_EQ(std::string(a->return_msg).rfind(c.msg_start, 0), 0u) << a->return_msg;
    }
    zovcomm("term", a);
}

TEST_F(Exchange, SigpipeDispositionIsRestoredAfterGet) {
    struct sigaction before {};
    sigaction(SIGPIPE, nullptr, &before);
    u_platform_ops ops{};
    ops.sleep_ms = [](long) {};
    u_platform_set(ops);
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    zovcomm("get", a, "X");
    struct sigaction after {};
    sigaction(SIGPIPE, nullptr, &after);
    EXPECT_EQ(after.sa_handler, before.sa_handler);
    zovcomm("term", a);
}

}  // namespace
