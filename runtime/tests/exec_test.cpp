#include "runtime/exec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/exec_support.h"

namespace {

using Lines = std::vector<std::string>;

// ---- u_blockread -----------------------------------------------------------------------

struct ReadCase {
    const char* name;
    std::string input;
    int32_t maxBuffSize;
    Lines expected;
};
void PrintTo(const ReadCase& c, std::ostream* os) { *os << c.name; }

// Reads every line of input through a pipe; the buffer is exactly as large as the contract
// asks, so the address sanitizer sees any write behind it.
Lines read_all(const std::string& input, int32_t maxBuffSize) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    EXPECT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
    close(fds[1]);
    std::vector<char> buf(static_cast<size_t>(2 * maxBuffSize - 1));
    readBuff rb{};
    rb.buff = buf.data();
    rb.maxBuffSize = maxBuffSize;
    Lines out;
    while (char* line = u_blockread(fds[0], &rb)) {
        EXPECT_EQ(static_cast<size_t>(rb.curLineLen), std::strlen(line));
        out.emplace_back(line);
    }
    EXPECT_EQ(u_blockread(fds[0], &rb), nullptr);  // stays at the end
    close(fds[0]);
    return out;
}

class BlockReadTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BlockReadTest, Lines) {
    EXPECT_EQ(read_all(GetParam().input, GetParam().maxBuffSize), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, BlockReadTest,
    ::testing::Values(ReadCase{"empty_lines_skipped", "x\n\n\ny\n", 1025, {"x", "y"}},
                      ReadCase{"nul_ends_a_line", std::string("a\0b\n", 4), 1025, {"a", "b"}},
                      ReadCase{"last_line_without_newline", "one\nlast", 1025, {"one", "last"}},
                      ReadCase{"nothing", "", 1025, {}},
                      ReadCase{"partial_lines_carried", "ab\ncdef\ngh", 5, {"ab", "cdef", "gh"}},
                      ReadCase{"long_line_cut", "abcdefgh\nij\n", 5, {"abcd", "efgh", "ij"}},
                      ReadCase{"carried_line_grows_past_a_read", "a\nbcd\n", 4, {"a", "bcd"}},
                      ReadCase{"long_line_1025",
                               std::string(3000, 'z') + "\nend\n",
                               1025,
                               {std::string(1024, 'z'), std::string(1024, 'z'),
                                std::string(952, 'z'), "end"}}),
    [](const auto& info) { return std::string(info.param.name); });

// Random output over the bytes that matter to the scan (newline, NUL, TAB, the end mark,
// control bytes, DEL, text), in lines shorter than a read so that none is cut: the lines
// are the runs between newlines and NULs, the empty ones left out, and every odd byte is
// counted once, also in a line carried from one read to the next. The sizes put lines
// and group edges (16, 32, 64 bytes) at every offset of a read.
TEST(BlockRead, RandomOutputSplitAndCounted) {
    const char alphabet[] = {'a',  'b',    ' ',    '\n',   '\0',   '\t',
                             '\r', '\x1a', '\x01', '\x1f', '\x7f', '\xe9'};
    auto odd = [](unsigned char u) {
        return (u < 0x20 && u != '\t' && u != '\n' && u != '\r' && u != 0x1a) || u == 0x7f;
    };
    unsigned seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 16) & 0x7fff;
    };
    for (int32_t maxBuffSize : {200, 301, 1025}) {
        for (int round = 0; round < 20; ++round) {
            std::string input;
            Lines expected;
            int32_t expectedOdd = 0;
            std::string line;
            const size_t total = 500 + next() % 3000;
            // Mostly text, so that lines run over several groups; now and then a run of
            // one byte of the alphabet.
            while (input.size() < total) {
                char c = next() % 4 == 0 ? alphabet[next() % sizeof alphabet] : 'x';
                if (line.size() + 2 >= static_cast<size_t>(maxBuffSize - 1)) c = '\n';
                input += c;
                expectedOdd += odd(static_cast<unsigned char>(c));
                if (c == '\n' || c == '\0') {
                    if (!line.empty()) expected.push_back(line);
                    line.clear();
                } else {
                    line += c;
                }
            }
            if (!line.empty()) expected.push_back(line);

            int fds[2];
            ASSERT_EQ(pipe(fds), 0);
            ASSERT_EQ(write(fds[1], input.data(), input.size()),
                      static_cast<ssize_t>(input.size()));
            close(fds[1]);
            std::vector<char> buf(static_cast<size_t>(2 * maxBuffSize - 1));
            readBuff rb{};
            rb.buff = buf.data();
            rb.maxBuffSize = maxBuffSize;
            Lines got;
            while (char* l = u_blockread(fds[0], &rb)) got.emplace_back(l, rb.curLineLen);
            close(fds[0]);
            EXPECT_EQ(got, expected) << "read size " << maxBuffSize - 1 << ", round " << round;
            EXPECT_EQ(rb.oddBytes, expectedOdd)
                << "read size " << maxBuffSize - 1 << ", round " << round;
        }
    }
}

// A line longer than one read comes in pieces: the first unmarked, every later one marked as
// continuing it, and the line after it unmarked again (also when the cut fell on its end).
TEST(BlockRead, PiecesOfALongLineAreMarkedAsContinuing) {
    for (size_t length : {1023u, 1024u, 1025u, 3000u}) {
        const std::string line(length, 'y');
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const std::string input = line + "\nnext\n";
        ASSERT_EQ(write(fds[1], input.data(), input.size()), static_cast<ssize_t>(input.size()));
        close(fds[1]);
        std::vector<char> buf(2 * 1025 - 1);
        readBuff rb{};
        rb.buff = buf.data();
        rb.maxBuffSize = 1025;
        std::vector<std::pair<std::string, int32_t>> pieces;
        while (char* l = u_blockread(fds[0], &rb)) pieces.emplace_back(l, rb.curLineCont);
        close(fds[0]);
        ASSERT_GE(pieces.size(), 2u) << length;
        EXPECT_EQ(pieces.back(), std::make_pair(std::string("next"), 0)) << length;
        std::string joined;
        for (size_t i = 0; i + 1 < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].second, i == 0 ? 0 : 1) << length << " piece " << i;
            joined += pieces[i].first;
        }
        EXPECT_EQ(joined, line);
        EXPECT_EQ(pieces.size() > 2, length > 1024) << length;
    }
}

// A read that returns less than it asked for finds the pipe drained: the would-block comes
// without a read that could only fail, and the call after it reads again.
TEST(BlockReadNb, ShortReadEndsTheDrain) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    char buf[2049];
    readBuff rb{};
    rb.buff = buf;
    rb.maxBuffSize = 1025;
    int32_t state = -1;
    ASSERT_EQ(write(fds[1], "one\n", 4), 4);
    char* line = u_blockread_nb(fds[0], &rb, &state);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "one");
    ASSERT_EQ(write(fds[1], "two\n", 4), 4);  // after the short read: seen on the next poll
    EXPECT_EQ(u_blockread_nb(fds[0], &rb, &state), nullptr);
    EXPECT_EQ(state, u_br_wouldblock);
    line = u_blockread_nb(fds[0], &rb, &state);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "two");
    EXPECT_EQ(state, u_br_line);
    close(fds[1]);
    EXPECT_EQ(u_blockread_nb(fds[0], &rb, &state), nullptr);
    EXPECT_EQ(state, u_br_wouldblock);  // the read of "two" was short too
    EXPECT_EQ(u_blockread_nb(fds[0], &rb, &state), nullptr);
    EXPECT_EQ(state, u_br_eof);
    close(fds[0]);
}

TEST(BlockReadNb, WouldBlockKeepsThePartialLine) {
    int fds[2];
    ASSERT_EQ(pipe2(fds, O_NONBLOCK), 0);
    char buf[2049];
    readBuff rb{};
    rb.buff = buf;
    rb.maxBuffSize = 1025;
    int32_t state = -1;
    EXPECT_EQ(u_blockread_nb(fds[0], &rb, &state), nullptr);
    EXPECT_EQ(state, u_br_wouldblock);
    ASSERT_EQ(write(fds[1], "par", 3), 3);
    EXPECT_EQ(u_blockread_nb(fds[0], &rb, &state), nullptr);
    EXPECT_EQ(state, u_br_wouldblock);
    ASSERT_EQ(write(fds[1], "tial\nnext", 9), 9);
    char* line = u_blockread_nb(fds[0], &rb, &state);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "partial");
    EXPECT_EQ(state, u_br_line);
    EXPECT_EQ(u_blockread_nb(fds[0], &rb, &state), nullptr);
    EXPECT_EQ(state, u_br_wouldblock);
    close(fds[1]);
    line = u_blockread_nb(fds[0], &rb, &state);
    ASSERT_NE(line, nullptr);
    EXPECT_STREQ(line, "next");
    EXPECT_EQ(u_blockread_nb(fds[0], &rb, &state), nullptr);
    EXPECT_EQ(state, u_br_eof);
    close(fds[0]);
}

// ---- u_ismessage -----------------------------------------------------------------------

struct MsgCase {
    const char* line;
    int expected;
};
void PrintTo(const MsgCase& c, std::ostream* os) { *os << '"' << c.line << '"'; }

class IsMessageTest : public ::testing::TestWithParam<MsgCase> {};

TEST_P(IsMessageTest, Shape) { EXPECT_EQ(u_ismessage(GetParam().line), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Lines, IsMessageTest,
    ::testing::Values(MsgCase{"UEX4100E Command not found", 1}, MsgCase{"ENGD0390W some text", 1},
                      MsgCase{"ABC1234I x", 1}, MsgCase{"ABC1234S x", 1}, MsgCase{"ABC1234T x", 1},
                      MsgCase{"uex4100E Command not found", 0}, MsgCase{"engd0390W some text", 0},
                      MsgCase{"UEX4100X Command not found", 0},
                      MsgCase{"ABC1234E ", 0},  // nine characters
                      MsgCase{"AB12345E text", 0}, MsgCase{"ABCD123E text", 0},
                      MsgCase{"!D data row", 0}, MsgCase{"", 0}),
    [](const auto& info) {
        std::string name = std::to_string(info.index) + "_";
        for (char ch : std::string(info.param.line).substr(0, 9))
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        return name;
    });

// ---- u_exec ----------------------------------------------------------------------------

class UExecTest : public ExecTest, public ::testing::WithParamInterface<const char*> {
  protected:
    void SetUp() override {
        ExecTest::SetUp();
        env_vars.db_type = const_cast<char*>(GetParam());  // "zem": through a file
    }
};

TEST_P(UExecTest, EmptyLinesSkipped) {
    ChainGuard out(u_exec("printf", "'a\\n\\nb\\n'"));
    EXPECT_EQ(chain_lines(out.c), (Lines{"a", "b"}));
    ASSERT_NE(out.c, nullptr);
    EXPECT_EQ(out.c->size, 1);
    EXPECT_EQ(out.c->next->size, 1);
    EXPECT_TRUE(temp_files().empty());
    EXPECT_TRUE(no_children());
}

TEST_P(UExecTest, StopsAfter10000Lines) {
    ChainGuard out(u_exec(xh("xh_lines").c_str(), "12000 10"));
    Lines got = chain_lines(out.c);
    ASSERT_EQ(got.size(), 10000u);
    EXPECT_EQ(got.back(), "0010000xxx");
}

TEST_P(UExecTest, LongParametersTravelInAFile) {
    std::string parms(2000, 'q');
    ChainGuard out(u_exec(xh("xh_args").c_str(), parms.c_str()));
    Lines got = chain_lines(out.c);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0], "arg:-filein");
    std::string file = got[1].substr(4);
    EXPECT_NE(file.find("rexecp"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_TRUE(temp_files().empty());

    my_trace_all[9] = 1;  // kept for inspection
    ChainGuard kept(u_exec(xh("xh_args").c_str(), parms.c_str()));
    got = chain_lines(kept.c);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(cfg_read_file(got[1].substr(4)), parms);
}

TEST_P(UExecTest, StandardErrorOnlyThroughTheFile) {
    ChainGuard out(u_exec("sh", "-c 'echo out; echo err 1>&2'"));
    if (std::strcmp(GetParam(), "zem") == 0) {
        EXPECT_EQ(chain_lines(out.c), (Lines{"out", "err"}));
    } else {
        EXPECT_EQ(chain_lines(out.c), (Lines{"out"}));
    }
}

TEST_P(UExecTest, ExitStatusIsLoggedAndNothingPrintedIsNull) {
    EXPECT_EQ(u_exec("exit", "7"), nullptr);
    EXPECT_NE(log().find("ended with exit status 7"), std::string::npos) << log();
}

INSTANTIATE_TEST_SUITE_P(Paths, UExecTest, ::testing::Values("qel", "zem"), [](const auto& info) {
    return std::string(info.param) == "zem" ? "file" : "pipe";
});

}  // namespace
