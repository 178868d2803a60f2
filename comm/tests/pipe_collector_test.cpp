// The collector's side in one process: the test writes raw request records into the
// collector pipe and reads the answers from a reply FIFO of its own.
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstring>
#include <string>

#include "comm/request.h"
#include "runtime/alloc.h"
#include "testing/log_capture.h"
#include "testing/pipe_fixture.h"

namespace {

class Collector : public PipeFixture {
  protected:
    void SetUp() override {
        PipeFixture::SetUp();
        anchor_ = static_cast<comm_anchor*>(zovcomm("initc"));
        ASSERT_NE(anchor_, nullptr);
        reply_ = path("prb_test_pipe");
        ASSERT_EQ(mkfifo(reply_.c_str(), 0600), 0);
        reply_fd_ = open(reply_.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(reply_fd_, 0);
    }
    void TearDown() override {
        if (anchor_) zovcomm("term", anchor_);
        close(reply_fd_);
        unlink(reply_.c_str());
        PipeFixture::TearDown();
    }

    void write_raw(const std::string& bytes) {
        int fd = open(collector_pipe().c_str(), O_WRONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(fd);
    }
    // A record whose len field counts exactly the bytes given.
    static std::string rec(int16_t offset, const std::string& body) {
        return raw(static_cast<int16_t>(4 + body.size()), offset, body);
    }
    static std::string raw(int16_t len, int16_t offset, const std::string& body) {
        std::string s(4, '\0');
        memcpy(s.data(), &len, 2);
        memcpy(s.data() + 2, &offset, 2);
        return s + body;
    }
    std::string good_record(const char* name, const char* parm = nullptr,
                            const std::string& reply = "") {
        const char* parms[COMM_PARMS] = {parm};
        data_request req;
        EXPECT_EQ(
            comm_request_encode(name, static_cast<int>(strlen(name)),
                                (reply.empty() ? reply_ : reply).c_str(), parms, &req, nullptr),
            0);
        std::string s(req.len, '\0');
        comm_request_to_bytes(&req, reinterpret_cast<unsigned char*>(s.data()));
        return s;
    }
    // Reads one answer from the reply pipe: header, then rows * len bytes.
    bool read_answer(stream_header* h, std::string* rows) {
        unsigned char hb[COMM_HEADER_BYTES];
        if (read(reply_fd_, hb, sizeof hb) != static_cast<ssize_t>(sizeof hb)) return false;
        int64_t bytes = 0;
        if (comm_header_decode(hb, h, &bytes) != 0) return false;
        rows->assign(bytes, '\0');
        return bytes == 0 || read(reply_fd_, rows->data(), bytes) == bytes;
    }

    comm_anchor* anchor_ = nullptr;
    std::string reply_;
    int reply_fd_ = -1;
};

TEST_F(Collector, InitcMakesAPrivateFifo) {
    struct stat st;
    ASSERT_EQ(stat(collector_pipe().c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0660u);
    EXPECT_EQ(anchor_->type, 'C');
}

TEST_F(Collector, NoRequestIsNotAnError) {
    EXPECT_EQ(zovcomm("get", anchor_), nullptr);
    EXPECT_EQ(anchor_->return_code, 0);
}

TEST_F(Collector, TakesARequestAndAnswersIt) {
    write_raw(good_record("ZEMENGD", "parm1           "));
    auto* chain = static_cast<curs_list*>(zovcomm("get", anchor_));
    ASSERT_NE(chain, nullptr) << anchor_->return_msg;
    EXPECT_STREQ(chain->cursor, "ZEMENGD");
    EXPECT_STREQ(anchor_->ulv_pipe, reply_.c_str());
    ASSERT_NE(chain->pipe, nullptr);
    EXPECT_STREQ(chain->pipe->pipe, reply_.c_str());
    EXPECT_STREQ(anchor_->parm[0], "parm1           ");
    EXPECT_STREQ(anchor_->parm[1], "");
    EXPECT_STREQ(anchor_->parm[2], "");
    EXPECT_EQ(anchor_->parm[3], nullptr);

    chain->rows = 3;
    chain->len = 4;
    chain->data = static_cast<char*>(U_MALLOC(12));
    memcpy(chain->data, "r1  r2  r3  ", 12);
    EXPECT_EQ(zovcomm("put", anchor_), nullptr);
    EXPECT_EQ(anchor_->return_code, 0);
    EXPECT_EQ(anchor_->curs, nullptr);
    stream_header h;
    std::string rows;
    ASSERT_TRUE(read_answer(&h, &rows));
    EXPECT_EQ(h.rows, 3);
    EXPECT_EQ(h.len, 4);
    EXPECT_EQ(rows, "r1  r2  r3  ");

    // A 0-row answer is the header alone.
    write_raw(good_record("EMPTY"));
    ASSERT_NE(zovcomm("get", anchor_), nullptr);
    EXPECT_EQ(zovcomm("put", anchor_), nullptr);
    ASSERT_TRUE(read_answer(&h, &rows));
    EXPECT_EQ(h.rows, 0);
    char extra;
    EXPECT_LE(read(reply_fd_, &extra, 1), 0);  // nothing behind the header
}

TEST_F(Collector, MalformedRecordsAreRefusedAndTheNextValidOneIsServed) {
    const std::string tail = std::string("pipe") + '\0' + '\0' + '\0';
    const std::string reply150 = path(std::string(150 - dir_.size() - 1, 'r'));
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"len 301", raw(301, 3, "ABC" + std::string(297, 'x'))},
        {"len 3", raw(3, 3, "ABC")},
        {"offset 9", rec(9, "ABCDEFGHI" + tail)},
        {"offset -1", rec(-1, "ABC" + tail)},
        {"no NUL", rec(3, "ABC" + std::string(20, 'x'))},
        {"150-character reply name", rec(3, "ABC" + reply150 + '\0' + '\0' + '\0')},
        {"reply pipe outside the pipe directory",
         rec(3, std::string("ABC/tmp/elsewhere_pipe") + '\0' + '\0' + '\0')},
        {"reply name without the closing zero bytes", rec(3, "ABC" + std::string("pipe") + '\0')},
        {"len longer than the bytes sent", raw(60, 3, "ABC" + tail)},
        {"a bad record followed by more bytes", rec(9, "ABC" + tail) + "junkjunkjunk"},
    };
    for (const auto& c : cases) {
        write_raw(c.bytes);
        EXPECT_EQ(zovcomm("get", anchor_), nullptr) << c.what;
        EXPECT_EQ(anchor_->return_code, 4) << c.what;
        EXPECT_EQ(anchor_->curs, nullptr) << c.what;

        write_raw(good_record("NEXT"));
        auto* chain = static_cast<curs_list*>(zovcomm("get", anchor_));
        ASSERT_NE(chain, nullptr) << c.what << ": " << anchor_->return_msg;
        EXPECT_STREQ(chain->cursor, "NEXT") << c.what;
        EXPECT_EQ(anchor_->return_code, 0) << c.what;
    }
}

// The requests queued for a reply pipe that stopped reading are passed over; when they
// fill a whole read of the collector pipe (which may hold more than one read takes), the
// record cut at the end of that read is completed from the pipe, not refused.
TEST_F(Collector, RequestsBehindARecordCutByAFullReadAreServed) {
    wait_timeout = 1;
    const std::string stalled = path("prb_stalled_pipe");
    ASSERT_EQ(mkfifo(stalled.c_str(), 0600), 0);
    const int stalled_fd = open(stalled.c_str(), O_RDONLY | O_NONBLOCK);  // never read
    ASSERT_GE(stalled_fd, 0);
    write_raw(good_record("ABC", nullptr, stalled));
    auto* chain = static_cast<curs_list*>(zovcomm("get", anchor_));
    ASSERT_NE(chain, nullptr) << anchor_->return_msg;
    chain->rows = 2048;  // 2 MB: more than the reply pipe holds
    chain->len = 1024;
    chain->data = static_cast<char*>(U_MALLOC(2048 * 1024));
    memset(chain->data, 'x', 2048 * 1024);
    LogCapture log;
    EXPECT_EQ(zovcomm("put", anchor_), nullptr);
    ASSERT_TRUE(log.has("COM0206W")) << log.text();

    const std::string queued = good_record("ABC", nullptr, stalled);
    std::string bytes;
    while (bytes.size() < 70000) bytes += queued;
    ASSERT_NE(65536 % queued.size(), 0u);  // a record spans the end of the first read
    bytes += good_record("NEXT");
    const int fd = open(collector_pipe().c_str(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_GE(fcntl(fd, F_SETPIPE_SZ, 1 << 20), static_cast<int>(bytes.size()));
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    close(fd);
    chain = static_cast<curs_list*>(zovcomm("get", anchor_));
    ASSERT_NE(chain, nullptr) << anchor_->return_msg << "\n" << log.text();
    EXPECT_STREQ(chain->cursor, "NEXT");
    EXPECT_EQ(anchor_->return_code, 0);
    EXPECT_FALSE(log.has("COM0204E")) << log.text();
    close(stalled_fd);
    unlink(stalled.c_str());
}

TEST_F(Collector, AReplyPipeThatIsNotOurFifoIsNeverWritten) {
    const std::string file = path("prb_file_pipe");
    const std::string link = path("prb_link_pipe");
    struct Case {
        const char* what;
        std::string reply;
    } cases[] = {{"regular file", file}, {"symbolic link to a FIFO", link}};
    for (const auto& c : cases) {
        int fd = open(file.c_str(), O_CREAT | O_WRONLY, 0600);
        ASSERT_GE(fd, 0);
        close(fd);
        ASSERT_EQ(symlink(reply_.c_str(), link.c_str()), 0);

        const char* parms[COMM_PARMS] = {};
        data_request req;
        ASSERT_EQ(comm_request_encode("ABC", 3, c.reply.c_str(), parms, &req, nullptr), 0);
        std::string bytes(req.len, '\0');
        comm_request_to_bytes(&req, reinterpret_cast<unsigned char*>(bytes.data()));
        write_raw(bytes);
        auto* chain = static_cast<curs_list*>(zovcomm("get", anchor_));
        ASSERT_NE(chain, nullptr) << c.what;
        chain->rows = 1;
        chain->len = 3;
        chain->data = static_cast<char*>(U_MALLOC(3));
        memcpy(chain->data, "xyz", 3);
        EXPECT_EQ(zovcomm("put", anchor_), chain) << c.what;  // the unsent chain comes back
        EXPECT_EQ(anchor_->return_code, 3) << c.what;
        EXPECT_EQ(std::string(anchor_->return_msg).rfind("Open Probe pipe error ", 0), 0u)
            << anchor_->return_msg;
        struct stat st;
        ASSERT_EQ(stat(file.c_str(), &st), 0);
        EXPECT_EQ(st.st_size, 0) << c.what;
        char b;
        EXPECT_LE(read(reply_fd_, &b, 1), 0) << c.what;  // nothing reached the FIFO
        unlink(file.c_str());
        unlink(link.c_str());
    }
}

// In a child that takes the group of user `member` as its own: a reply FIFO of `member`
// is answered, one of `stranger` (not of that group) is refused with error 3.
TEST_F(Collector, AReplyFifoOfAGroupMemberIsAnsweredAndAStrangersIsNot) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to own FIFOs as other users";
    // getpwnam's record is overwritten by the next call: take the ids at once.
    const struct passwd* pw = getpwnam("nobody");
    if (!pw) GTEST_SKIP() << "no user nobody";
    const uid_t member = pw->pw_uid;
    const gid_t group = pw->pw_gid;
    pw = getpwnam("daemon");
    if (!pw || pw->pw_gid == group) GTEST_SKIP() << "no user daemon outside nobody's group";
    const uid_t stranger = pw->pw_uid;
    struct Case {
        const char* name;
        uid_t owner;
        int return_code;
    } cases[] = {{"prb_member_pipe", member, 0}, {"prb_stranger_pipe", stranger, 3}};
    for (const auto& c : cases) {
        const std::string fifo = path(c.name);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0660), 0);
        ASSERT_EQ(chown(fifo.c_str(), c.owner, group), 0);
        const int fd = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        ASSERT_GE(fd, 0);
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(group) != 0) _exit(90);
            const char* parms[COMM_PARMS] = {};
            data_request req;
            if (comm_request_encode("ABC", 3, fifo.c_str(), parms, &req, nullptr) != 0) _exit(91);
            std::string bytes(req.len, '\0');
            comm_request_to_bytes(&req, reinterpret_cast<unsigned char*>(bytes.data()));
            const int w = open(collector_pipe().c_str(), O_WRONLY | O_NONBLOCK);
            if (w < 0 || write(w, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
                _exit(92);
            close(w);
            auto* chain = static_cast<curs_list*>(zovcomm("get", anchor_));
            if (!chain) _exit(93);
            zovcomm("put", anchor_);
            _exit(anchor_->return_code);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status)) << c.name;
        EXPECT_EQ(WEXITSTATUS(status), c.return_code) << c.name;
        char header[COMM_HEADER_BYTES];
        const ssize_t got = read(fd, header, sizeof header);
        if (c.return_code == 0) {
            EXPECT_EQ(got, 8) << c.name;
        } else {
            EXPECT_LE(got, 0) << c.name;  // nothing was written to it
        }
        close(fd);
        unlink(fifo.c_str());
    }
}

TEST_F(Collector, ARemovedCollectorPipeIsMadeAgain) {
    unlink(collector_pipe().c_str());
    EXPECT_EQ(zovcomm("get", anchor_), nullptr);
    EXPECT_EQ(anchor_->return_code, 0);
    write_raw(good_record("AGAIN"));
    auto* chain = static_cast<curs_list*>(zovcomm("get", anchor_));
    ASSERT_NE(chain, nullptr) << anchor_->return_msg;
    EXPECT_STREQ(chain->cursor, "AGAIN");
}

TEST_F(Collector, WrongAnchorTypes) {
    comm_anchor* p = comm_new_anchor('P');
    EXPECT_EQ(zovcomm("put", p), nullptr);
    EXPECT_EQ(p->return_code, 4);
    EXPECT_STREQ(p->return_msg, "Invalid request type for probe.");
    p->type = 'X';
    EXPECT_EQ(zovcomm("put", p), nullptr);
    EXPECT_STREQ(p->return_msg, "Invalid IPC anchor for put request.");
    EXPECT_EQ(zovcomm("get", p, "A"), nullptr);
    EXPECT_EQ(p->return_code, 8);
    EXPECT_STREQ(p->return_msg, "Invalid IPC anchor for get request.");
    EXPECT_EQ(zovcomm("term", p), nullptr);  // frees nothing for a foreign type
    comm_free_anchor(p);
    // A null anchor does nothing.
    EXPECT_EQ(zovcomm("get", static_cast<comm_anchor*>(nullptr)), nullptr);
    EXPECT_EQ(zovcomm("put", static_cast<comm_anchor*>(nullptr)), nullptr);
}

using Names = PipeFixture;

TEST_F(Names, ReplyPipesAreFreshPrivateAndCarryThePid) {
    // A fixed clock makes the names predictable.
    u_platform_ops ops{};
    ops.clock_now = [](struct timespec* ts) {
        ts->tv_sec = 1700000000;  // 2023-11-14 22:13:20 UTC
        ts->tv_nsec = 0;
    };
    u_platform_set(ops);
    for (mode_t mask : {mode_t{0}, mode_t{077}}) {
        mode_t old = umask(mask);
        auto* a = static_cast<comm_anchor*>(zovcomm("init"));
        umask(old);
        ASSERT_NE(a, nullptr);
        const std::string prefix =
            path("prb_SRV1_ZEM100_h1_14221320_" + std::to_string(getpid()) + "_");
        EXPECT_EQ(std::string(a->ulv_pipe).rfind(prefix, 0), 0u) << a->ulv_pipe;
        EXPECT_EQ(std::string(a->ulv_pipe).substr(prefix.size() + 4), "_pipe");
        struct stat st;
        ASSERT_EQ(stat(a->ulv_pipe, &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
        EXPECT_EQ(st.st_mode & 0777, 0660u) << "umask " << mask;
        zovcomm("term", a);
    }

    // A name that exists already is skipped.
    char first[COMM_NAME_SIZE];
    char second[COMM_NAME_SIZE];
    ASSERT_EQ(make_pipe_name("prb", first), 0);
    std::string s = first;
    int counter = std::stoi(s.substr(s.size() - 9, 4));
    char next[16];
    snprintf(next, sizeof next, "%04d", counter + 1);
    std::string taken = s.substr(0, s.size() - 9) + next + "_pipe";
    int fd = open(taken.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(make_pipe_name("prb", second), 0);
    snprintf(next, sizeof next, "%04d", counter + 2);
    EXPECT_EQ(std::string(second), s.substr(0, s.size() - 9) + next + "_pipe");
    unlink(taken.c_str());
}

TEST_F(Names, CollectorPipeNameTable) {
    struct Case {
        const char* server;
        const char* db;
        const char* preset;
        std::string expected;
    } cases[] = {
        {"SRV1", "ZEM100", "", path("col_SRV1_ZEM100_pipe")},
        {"", "ZEM100", "", path("col_ZEM100_pipe")},
        {nullptr, nullptr, "", path("col_pipe")},
        {"SRV1", "ZEM100", "/other/place/col_x_pipe", "/other/place/col_x_pipe"},
    };
    for (const auto& c : cases) {
        comm_pipe_reset_names();
        snprintf(col_pipe_name, sizeof col_pipe_name, "%s", c.preset);
        env_vars.serverid = const_cast<char*>(c.server);
        env_vars.db_type = const_cast<char*>(c.db);
        char out[COMM_NAME_SIZE];
        ASSERT_EQ(make_pipe_name("col", out), 0);
        EXPECT_EQ(std::string(out), c.expected);
    }
}

TEST_F(Names, ATrailingSlashOnThePipeDirectoryChangesNothing) {
    std::string slashed = dir_ + "//";
    env_vars.localtmpdir = slashed.data();
    auto* c = static_cast<comm_anchor*>(zovcomm("initc"));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(c->coll_pipe, collector_pipe().c_str());
    auto* p = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(std::string(p->ulv_pipe).rfind(dir_ + "/prb_", 0), 0u) << p->ulv_pipe;

    // The requester's own name passes the collector's directory check.
    const char* parms[COMM_PARMS] = {};
    data_request req;
    ASSERT_EQ(comm_request_encode("A", 1, p->ulv_pipe, parms, &req, nullptr), 0);
    unsigned char bytes[COMM_REQUEST_MAX];
    comm_request_to_bytes(&req, bytes);
    int fd = open(c->coll_pipe, O_WRONLY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, bytes, req.len), req.len);
    close(fd);
    auto* chain = static_cast<curs_list*>(zovcomm("get", c));
    ASSERT_NE(chain, nullptr) << c->return_msg;
    EXPECT_STREQ(chain->pipe->pipe, p->ulv_pipe);
    zovcomm("term", p);
    zovcomm("term", c);
}

TEST_F(Names, NamesThatDoNotFitAreRefused) {
    std::string long_server(90, 'S');
    env_vars.serverid = long_server.data();
    EXPECT_EQ(zovcomm("init"), nullptr);
    EXPECT_EQ(zovcomm("initc"), nullptr);
    comm_pipe_reset_names();
    std::string long_pipe(150, 'p');
    snprintf(col_pipe_name, sizeof col_pipe_name, "%s", long_pipe.c_str());
    char out[COMM_NAME_SIZE];
    EXPECT_EQ(make_pipe_name("col", out), 1);
}

}  // namespace
