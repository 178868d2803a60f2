// The server's side of the protocol seen from a bare socket: packet reassembly, packet
// splitting, attention during a delay, logout, and free ports.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "tests/tds/tds_server.h"

namespace zovtds {
namespace {

class RawClient {
  public:
    explicit RawClient(int port) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ok_ = connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }
    ~RawClient() { close(fd_); }
    bool ok() const { return ok_; }

    // Sends a message in packets of at most `packet` bytes.
    void send_message(uint8_t type, const Bytes& payload, size_t packet = 512) {
        size_t off = 0;
        do {
            size_t n = std::min(packet - 8, payload.size() - off);
            bool last = off + n == payload.size();
            Bytes p = {type,
                       static_cast<uint8_t>(last ? 1 : 0),
                       static_cast<uint8_t>((n + 8) >> 8),
                       static_cast<uint8_t>((n + 8) & 0xFF),
                       0,
                       0,
                       0,
                       0};
            p.insert(p.end(), payload.begin() + static_cast<long>(off),
                     payload.begin() + static_cast<long>(off + n));
            ASSERT_EQ(write(fd_, p.data(), p.size()), static_cast<ssize_t>(p.size()));
            off += n;
        } while (off < payload.size());
    }
    // Reads one response message; `sizes` gets each packet's length. False at end of input.
    bool read_message(Bytes& payload, std::vector<size_t>* sizes = nullptr) {
        payload.clear();
        for (;;) {
            uint8_t h[8];
            if (!read_exact(h, 8)) return false;
            size_t len = (static_cast<size_t>(h[2]) << 8) | h[3];
            if (sizes) sizes->push_back(len);
            size_t at = payload.size();
            payload.resize(at + len - 8);
            if (!read_exact(payload.data() + at, len - 8)) return false;
            if (h[1] & 1) return true;
        }
    }
    bool at_eof() {
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, 2000) != 1) return false;
        char c;
        return read(fd_, &c, 1) == 0;
    }
    void login(const std::string& user) {
        Bytes b(603, 0);
        memcpy(&b[31], user.data(), user.size());
        b[31 + 30] = static_cast<uint8_t>(user.size());
        memcpy(&b[140], "raw", 3);
        b[170] = 3;
        b[458] = 5;
        send_message(kPacketLogin, b);
    }

  private:
    bool read_exact(uint8_t* p, size_t n) {
        size_t got = 0;
        while (got < n) {
            ssize_t r = read(fd_, p + got, n - got);
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }
    int fd_ = -1;
    bool ok_ = false;
};

Bytes language(const std::string& text) {
    Bytes b;
    put_u8(b, kTokLanguage);
    put_u32(b, static_cast<uint32_t>(text.size() + 1));
    put_u8(b, 0);
    put_bytes(b, text.data(), text.size());
    return b;
}

// The status of the final DONE-type token (the last 9 bytes of a response).
int final_done_status(const Bytes& r) {
    if (r.size() < 9) return -1;
    const uint8_t* d = &r[r.size() - 9];
    if (d[0] != kTokDone && d[0] != kTokDoneProc) return -1;
    return d[1] | (d[2] << 8);
}

class Raw : public ::testing::Test {
  protected:
    void start(const std::string& text) {
        Scenario sc;
        std::string error;
        ASSERT_TRUE(parse_scenario(text, sc, error)) << error;
        ASSERT_TRUE(server.start(sc, 0, error)) << error;
    }
    Server server;
};

TEST_F(Raw, LoginInTwoPacketsIsAcknowledged) {
    start("server RAWSERV\n");
    RawClient c(server.port());
    ASSERT_TRUE(c.ok());
    c.login("alice");
    Bytes r;
    ASSERT_TRUE(c.read_message(r));
    // ENVCHANGE database, ENVCHANGE language, LOGINACK (status 5), DONE.
    Bytes ack;
    put_loginack(ack, 5, "RAWSERV");
    EXPECT_NE(std::search(r.begin(), r.end(), ack.begin(), ack.end()), r.end());
    EXPECT_EQ(final_done_status(r), 0);
    EXPECT_EQ(server.log()[0].user, "alice");
    EXPECT_EQ(server.log()[0].app, "raw");
}

TEST_F(Raw, LongRequestAndLongAnswerCrossPackets) {
    std::string text = "select '" + std::string(3000, 'q') + "'";
    std::string sc = "batch " + text + "\n  result v:varchar(200)\n";
    for (int i = 0; i < 50; ++i) sc += "  row '" + std::string(200, 'a' + i % 26) + "'\n";
    start(sc);
    RawClient c(server.port());
    c.login("u");
    Bytes r;
    ASSERT_TRUE(c.read_message(r));
    c.send_message(kPacketTokens, language(text), 2048);
    std::vector<size_t> sizes;
    ASSERT_TRUE(c.read_message(r, &sizes));
    EXPECT_GT(sizes.size(), 10u);
    for (size_t s : sizes) EXPECT_LE(s, 512u);
    EXPECT_EQ(final_done_status(r), kDoneCount);
    EXPECT_EQ(server.log().back().text, text);
}

TEST_F(Raw, AttentionEndsADelayAtOnce) {
    start("batch select slow\n  result x:int\n  row 1\n  delay 5000\n  result y:int\n  row 2\n");
    RawClient c(server.port());
    c.login("u");
    Bytes r;
    ASSERT_TRUE(c.read_message(r));
    auto t0 = std::chrono::steady_clock::now();
    c.send_message(kPacketTokens, language("select slow"));
    usleep(100 * 1000);
    c.send_message(kPacketAttention, {});
    ASSERT_TRUE(c.read_message(r));
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(4000));  // < 5 s
    // The first result set went out before the delay; the answer ends with DONE(ATTN).
    EXPECT_EQ(final_done_status(r), kDoneAttention);
    EXPECT_EQ(server.log().back().kind, LogEntry::Attention);
    // An attention after a complete answer is acknowledged too.
    c.send_message(kPacketAttention, {});
    ASSERT_TRUE(c.read_message(r));
    EXPECT_EQ(final_done_status(r), kDoneAttention);
}

TEST_F(Raw, LogoutIsAnsweredAndClosed) {
    start("");
    RawClient c(server.port());
    c.login("u");
    Bytes r;
    ASSERT_TRUE(c.read_message(r));
    c.send_message(kPacketTokens, {kTokLogout, 0});
    ASSERT_TRUE(c.read_message(r));
    EXPECT_EQ(final_done_status(r), 0);
    EXPECT_TRUE(c.at_eof());
    EXPECT_EQ(server.log().back().kind, LogEntry::Logout);
}

TEST_F(Raw, LoginDropClosesWithoutAnswer) {
    start("login drop\n");
    RawClient c(server.port());
    c.login("u");
    EXPECT_TRUE(c.at_eof());
}

TEST_F(Raw, EachServerGetsAFreePortOfItsOwn) {
    start("");
    Server other;
    std::string error;
    ASSERT_TRUE(other.start(Scenario{}, 0, error)) << error;
    EXPECT_NE(server.port(), other.port());
    EXPECT_GT(other.port(), 0);
    Server same;
    EXPECT_FALSE(same.start(Scenario{}, server.port(), error));  // taken
}

}  // namespace
}  // namespace zovtds
