// zemcoll serving many zovprobe processes at once, and requesters that misbehave: every
// request of eight concurrent requesters is answered right over both transports; over
// named pipes a malformed record spoils only itself, a requester that never reads holds
// nobody else back, and the pipes of killed requesters are removed.
#include <gtest/gtest.h>

#ifdef ZOVPROBE_PATH

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "comm/request.h"
#include "testing/case_names.h"
#include "testing/program_runner.h"
#include "testing/zemcoll_tds.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const char* const kScenario = R"(
batch select name, num from t1
  result NAME:varchar(8) NUM:int
  row 'alpha' 1
  row 'beta' 22
batch select a from b1
  result A:char(255)
  repeat 256
  row 'a{i}'
)";

const char* const kCursors = R"(cursor RQ;
  INSERT INTO RQ (NAME, NUM) VALUES (:NAME, :INT!NUM);
  insert_select select name, num from t1;
  interval 60;
  limit 100;
  class 1;
cursor BIG;
  INSERT INTO BIG (A) VALUES (:A);
  insert_select select a from b1;
  interval 60;
  limit 300;
  class 1;
end;
)";

// RQ's answer as zovprobe prints it.
const char* const kRqAnswer = "*********Cursor:RQ, Rows:2\nalpha.......\n\nbeta........\n\n";

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// zovprobe processes started side by side, each writing into a file of its own.
class Probes {
  public:
    explicit Probes(const zemcoll_tds::Collector& coll) : coll_(coll) {}
    ~Probes() {
        for (pid_t p : pids_) {
            if (p <= 0) continue;
            kill(p, SIGKILL);
            waitpid(p, nullptr, 0);
        }
    }
    // Starts one; its index.
    size_t start(const std::vector<std::string>& words) {
        const std::string out = coll_.dir() + "/probe" + std::to_string(pids_.size()) + ".txt";
        std::vector<std::string> args = {ZOVPROBE_PATH};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<std::string> env = coll_.environment();
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        const std::string err = out.substr(0, out.size() - 4) + ".err";
        const pid_t pid = fork();
        if (pid == 0) {
            const int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            const int efd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            if (fd < 0 || dup2(fd, 1) < 0 || efd < 0 || dup2(efd, 2) < 0) _exit(120);
            execve(ZOVPROBE_PATH, argv.data(), envp.data());
            _exit(121);
        }
        pids_.push_back(pid);
        outs_.push_back(out);
        errs_.push_back(err);
        return pids_.size() - 1;
    }
    pid_t pid(size_t i) const { return pids_[i]; }
    // The exit status of probe i (100 + signal), waiting at most `seconds`; -1 when it is
    // still running then (it is killed).
    int finish(size_t i, int seconds) {
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            int status = 0;
            if (waitpid(pids_[i], &status, WNOHANG) == pids_[i]) {
                pids_[i] = 0;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
            }
            if (Clock::now() >= end) {
                kill(pids_[i], SIGKILL);
                waitpid(pids_[i], nullptr, 0);
                pids_[i] = 0;
                return -1;
            }
            usleep(20000);
        }
    }
    std::string output(size_t i) const { return zemcoll_tds::read_file(outs_[i]); }
    std::string errors(size_t i) const { return zemcoll_tds::read_file(errs_[i]); }

  private:
    const zemcoll_tds::Collector& coll_;
    std::vector<pid_t> pids_;
    std::vector<std::string> outs_;
    std::vector<std::string> errs_;
};

struct transport_case {
    const char* name;
    bool shm;
};

class ServeLoad : public ::testing::TestWithParam<transport_case> {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(coll_.start(kScenario, kCursors, GetParam().shm, 10, error)) << error;
    }
    void TearDown() override {
        // Asked to stop, the collector detaches last and its shared objects go with it; a
        // killed one would leave them behind.
        std::string out;
        if (coll_.pid() > 0 && coll_.probe({"-n", "1", "SHUTDOWN"}, out) == 0) coll_.wait_exit(30);
    }
    zemcoll_tds::Collector coll_;
};

TEST_P(ServeLoad, EightConcurrentRequestersEachGetAllOfTheirHundredAnswers) {
    // Four samples of 25 names: 100 requests a requester, 800 in all.
    std::string names;
    for (int i = 0; i < 25; ++i) names += "RQ ";
    Probes probes(coll_);
    for (int i = 0; i < 8; ++i) probes.start({"-n", "4", names});
    for (size_t i = 0; i < 8; ++i) {
        // Eight seconds of the probes' own pauses; the rest is room for a loaded machine.
        EXPECT_EQ(probes.finish(i, 180), 0) << probes.output(i) << coll_.output();
        const std::string out = probes.output(i);
        EXPECT_EQ(count(out, kRqAnswer), 100u) << "requester " << i << ":\n" << out;
        EXPECT_EQ(count(out, "*********Cursor:"), 100u) << "requester " << i << ":\n" << out;
    }
    const std::string log = coll_.output();
    EXPECT_EQ(log.find("CIR1880E"), std::string::npos) << log;
}

INSTANTIATE_TEST_SUITE_P(Transports, ServeLoad,
                         ::testing::Values(transport_case{"pipes", false},
                                           transport_case{"shared_memory", true}),
                         case_names(&transport_case::name));

// The pass times (seconds of the day) of the history file's lines, in file order.
std::vector<long> pass_seconds(const std::string& hst) {
    std::vector<long> times;
    size_t from = 0;
    for (size_t end; (end = hst.find('\n', from)) != std::string::npos; from = end + 1) {
        if (end - from < 14) continue;
        const std::string t = hst.substr(from + 8, 6);  // hhmmss of YYYYMMDDhhmmss
        times.push_back(std::stol(t.substr(0, 2)) * 3600 + std::stol(t.substr(2, 2)) * 60 +
                        std::stol(t.substr(4, 2)));
    }
    return times;
}

// Over shared memory, a requester killed after it took the request segment ("available")
// stalls nobody: eight requesters of three requests each, started at once after it, are
// all answered within their 10-second wait, the collection keeps its pace (one history
// record of SRVSTAT a pass, no pass missing) and one line names what was broken.
TEST(ServeShm, ARequesterKilledHoldingTheRequestSegmentStallsNobody) {
    const std::string scenario =
        std::string(kScenario) + "batch select num from s1\n  result NUM:int\n  row 7\n";
    const std::string cursors = std::string(kCursors).substr(0, strlen(kCursors) - 5) +
                                "cursor SRVSTAT;\n  INSERT INTO SRVSTAT (NUM) VALUES (:INT!NUM);\n"
                                "  insert_select select num from s1;\n  interval 2;\n  limit 1;\n"
                                "  class 1;\n  history;\nend;\n";
    // Collection every 2 seconds, requests served between passes, history written each
    // second.
    const std::string processes =
        "process collector;\n  type ctlib;\n  interval 2;\n  continuous Y;\n  class 1;\n"
        "  sleep 1;\nprocess historian;\n  type local;\n  interval 1;\n  class 1;\n"
        "process ulv;\n  type local;\n  interval 2;\n  class 1;\nend;\n";
    zemcoll_tds::Collector coll;
    std::string error;
    ASSERT_TRUE(coll.start(scenario, cursors, true, 1, error, {{"zemproc.ctl", processes}}))
        << error;
    const std::string hst_path = coll.dir() + "/SRVSTAT.HST";
    auto end = Clock::now() + std::chrono::seconds(30);
    while (pass_seconds(zemcoll_tds::read_file(hst_path)).size() < 2 && Clock::now() < end)
        usleep(50000);
    ASSERT_GE(pass_seconds(zemcoll_tds::read_file(hst_path)).size(), 2u) << coll.output();

    testprog::program dying;
    dying.path = SHM_DYING_REQUESTER_PATH;
    dying.args = {"available", "RQ"};
    dying.env = coll.environment();
    dying.deadline = std::chrono::seconds(30);
    const testprog::program_result died = testprog::run_program(dying);
    ASSERT_EQ(died.status, 100 + SIGKILL) << died.out << died.err;

    Probes probes(coll);
    for (int i = 0; i < 8; ++i) probes.start({"-n", "3", "RQ"});
    std::string lines;
    for (size_t i = 0; i < 8; ++i) {
        // Three requests with 2-second pauses: 6 seconds, and each request fails after 10.
        EXPECT_EQ(probes.finish(i, 60), 0) << probes.output(i) << probes.errors(i);
        EXPECT_EQ(count(probes.output(i), kRqAnswer), 3u) << "requester " << i << ":\n"
                                                          << probes.output(i);
        EXPECT_EQ(probes.output(i).find("USH"), std::string::npos) << probes.output(i);
        lines += probes.errors(i);
    }
    EXPECT_EQ(count(lines, "USH0041I"), 1u) << lines;
    EXPECT_NE(lines.find("Request RQ-"), std::string::npos) << "names the lost request:\n" << lines;

    // Two more passes after the requests, then the whole history: one record a pass, and
    // no gap where passes were lost (at 2 seconds a pass; the bound leaves room for a
    // loaded machine, far below the 45 seconds a stalled set used to cost).
    const size_t before = pass_seconds(zemcoll_tds::read_file(hst_path)).size();
    end = Clock::now() + std::chrono::seconds(30);
    while (pass_seconds(zemcoll_tds::read_file(hst_path)).size() < before + 2 && Clock::now() < end)
        usleep(50000);
    const std::string hst = zemcoll_tds::read_file(hst_path);
    const std::vector<long> times = pass_seconds(hst);
    ASSERT_GE(times.size(), before + 2) << hst << coll.output();
    for (size_t i = 1; i < times.size(); ++i) {
        const long gap = (times[i] - times[i - 1] + 86400) % 86400;
        EXPECT_GE(gap, 1) << "two records of one pass:\n" << hst;
        EXPECT_LE(gap, 8) << "passes lost:\n" << hst << coll.output();
    }
    const std::string log = coll.output();
    EXPECT_EQ(log.find("CIR1880E"), std::string::npos) << log;
}

// Over named pipes: the test writes raw records into the collector pipe and reads the
// answers from reply FIFOs of its own.
class ServePipes : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(coll_.start(kScenario, kCursors, false, 10, error)) << error;
        // The collector makes its pipe on its first serving turn.
        const auto end = Clock::now() + std::chrono::seconds(30);
        while (collector_pipe_.empty() && Clock::now() < end) {
            for (const auto& e : fs::directory_iterator(coll_.dir()))
                if (e.path().filename().string().rfind("col_", 0) == 0 && e.is_fifo())
                    collector_pipe_ = e.path();
            usleep(20000);
        }
        ASSERT_NE(collector_pipe_, "") << "no collector pipe in " << coll_.dir();
    }
    void TearDown() override {
        for (int fd : fds_) close(fd);
    }

    // A FIFO of the test in the pipe directory, open for reading (non-blocking).
    int reply_fifo(const std::string& name, std::string* path) {
        *path = coll_.dir() + "/" + name;
        if (mkfifo(path->c_str(), 0660) != 0) return -1;
        const int fd = open(path->c_str(), O_RDONLY | O_NONBLOCK);
        fds_.push_back(fd);
        return fd;
    }
    static std::string record(const char* name, const std::string& reply) {
        const char* parms[COMM_PARMS] = {};
        data_request req;
        if (comm_request_encode(name, static_cast<int>(strlen(name)), reply.c_str(), parms, &req,
                                nullptr) != 0)
            return "";
        std::string s(static_cast<size_t>(req.len), '\0');
        comm_request_to_bytes(&req, reinterpret_cast<unsigned char*>(s.data()));
        return s;
    }
    bool send(const std::string& bytes) {
        const int fd = open(collector_pipe_.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd < 0) return false;
        const bool ok = write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
        close(fd);
        return ok;
    }
    // Reads one answer (header and rows) within `seconds`; its row count, -1 on failure.
    static int read_answer(int fd, int seconds) {
        std::string bytes;
        int64_t want = COMM_HEADER_BYTES;
        stream_header h{};
        const auto end = Clock::now() + std::chrono::seconds(seconds);
        while (static_cast<int64_t>(bytes.size()) < want) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
            struct pollfd p {
                fd, POLLIN, 0
            };
            if (left <= 0 || poll(&p, 1, static_cast<int>(left)) <= 0) return -1;
            char buf[4096];
            const ssize_t n = read(
                fd, buf, std::min<size_t>(sizeof buf, static_cast<size_t>(want) - bytes.size()));
            if (n <= 0) continue;
            bytes.append(buf, static_cast<size_t>(n));
            if (bytes.size() == COMM_HEADER_BYTES && want == COMM_HEADER_BYTES) {
                int64_t rows = 0;
                if (comm_header_decode(reinterpret_cast<const unsigned char*>(bytes.data()), &h,
                                       &rows) != 0)
                    return -1;
                want += rows;
            }
        }
        return h.rows;
    }
    std::vector<std::string> reply_pipes() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(coll_.dir())) {
            const std::string n = e.path().filename().string();
            if (n.rfind("prb_", 0) == 0 && n.size() > 5 && n.substr(n.size() - 5) == "_pipe")
                names.push_back(n);
        }
        return names;
    }

    zemcoll_tds::Collector coll_;
    std::string collector_pipe_;
    std::vector<int> fds_;
};

TEST_F(ServePipes, AMalformedRecordIsRefusedAloneAndTheRecordsBehindItAreServed) {
    std::string reply;
    const int fd = reply_fifo("prb_test_a_pipe", &reply);
    ASSERT_GE(fd, 0);
    const std::string bad_offset = [] {
        std::string s(4, '\0');
        const int16_t len = 20, offset = 9;
        memcpy(s.data(), &len, 2);
        memcpy(s.data() + 2, &offset, 2);
        return s + std::string(16, 'x');
    }();
    const std::string too_long = [] {
        std::string s(4, '\0');
        const int16_t len = 500, offset = 2;
        memcpy(s.data(), &len, 2);
        memcpy(s.data() + 2, &offset, 2);
        return s + "RQ";
    }();
    struct Case {
        const char* what;
        std::string bad;
    } cases[] = {{"cursor name of 9", bad_offset}, {"length above 300", too_long}};
    for (const auto& c : cases) {
        // One write: the three records arrive together.
        ASSERT_TRUE(send(record("RQ", reply) + c.bad + record("BIG", reply))) << c.what;
        EXPECT_EQ(read_answer(fd, 20), 2) << c.what << coll_.output();
        EXPECT_EQ(read_answer(fd, 20), 256) << c.what << coll_.output();
    }
    EXPECT_NE(coll_.output().find("COM0204E"), std::string::npos) << coll_.output();
}

TEST_F(ServePipes, ARequesterThatNeverReadsHoldsNobodyElseBack) {
    std::string stuck;
    const int fd = reply_fifo("prb_stuck_pipe", &stuck);
    ASSERT_GE(fd, 0);
    // One page of room: BIG's first answer (256 rows of 255 bytes) fills it.
    ASSERT_GT(fcntl(fd, F_SETPIPE_SZ, 4096), 0);
    std::string queued;
    for (int i = 0; i < 40; ++i) queued += record("BIG", stuck);
    for (size_t at = 0; at < queued.size(); at += 4000) ASSERT_TRUE(send(queued.substr(at, 4000)));
    // Each of the 40 waiting out the collector's 5-second write time-out would take 200 s.
    std::string out;
    long ms = -1;
    const auto begun = Clock::now();
    EXPECT_EQ(coll_.probe({"-n", "1", "RQ"}, out, "Cursor:RQ", &ms), 0) << out << coll_.output();
    EXPECT_NE(out.find(kRqAnswer), std::string::npos) << out;
    EXPECT_LT(Clock::now() - begun, std::chrono::seconds(25));
    const std::string log = coll_.output();
    EXPECT_NE(log.find("COM0206W"), std::string::npos) << log;
    // The answer that stalled, and at most one taken before the pipe was marked.
    EXPECT_LE(count(log, "CIR1880E"), 2u) << log;
}

TEST_F(ServePipes, AKilledRequestersPipeGoesAtTheNextServeAndAtAProbesStart) {
    for (const bool by_probe : {false, true}) {
        Probes probes(coll_);
        const size_t i = probes.start({"-n", "100", "RQ"});
        const auto end = Clock::now() + std::chrono::seconds(30);
        while (reply_pipes().empty() && Clock::now() < end) usleep(20000);
        ASSERT_EQ(reply_pipes().size(), 1u);
        kill(probes.pid(i), SIGKILL);
        EXPECT_EQ(probes.finish(i, 10), 100 + SIGKILL);
        ASSERT_EQ(reply_pipes().size(), 1u) << "a killed requester cannot remove its pipe";
        if (by_probe) {
            std::string out;
            EXPECT_EQ(coll_.probe({"-n", "1", "RQ"}, out), 0) << out;
        } else {
            // The collector looks for such pipes at most once a second while it serves.
            usleep(1100000);
            std::string reply;
            const int fd = reply_fifo("prb_test_b" + std::to_string(by_probe) + "_pipe", &reply);
            ASSERT_GE(fd, 0);
            ASSERT_TRUE(send(record("RQ", reply)));
            EXPECT_EQ(read_answer(fd, 20), 2) << coll_.output();
            unlink(reply.c_str());
        }
        EXPECT_EQ(reply_pipes(), std::vector<std::string>{}) << (by_probe ? "probe" : "collector");
    }
}

}  // namespace

#endif  // ZOVPROBE_PATH
