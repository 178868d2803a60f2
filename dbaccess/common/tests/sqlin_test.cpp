// The request loop as a real child (tests/helpers/pcc_stub_child.cpp): requests in through
// its standard input, answers read back as the parent reads them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <string>
#include <vector>

#include "dbaccess/common/dbaccess_util.h"
#include "runtime/child.h"
#include "runtime/pcc.h"
#include "testing/case_names.h"
#include "testing/program_runner.h"

namespace {

const std::string kBlank8(8, ' ');

class Child {
  public:
    explicit Child(const char* connects = nullptr, const char* timeout = nullptr,
                   bool say_release = false) {
        if (connects) setenv("STUB_CONNECTS", connects, 1);
        if (timeout) setenv("COLL_SQLIN_TIMEOUT", timeout, 1);
        if (say_release) setenv("STUB_SAY_RELEASE", "1", 1);
        started_ = u_exec_perm(PCC_STUB_CHILD, "", &o_) == 0;
        unsetenv("STUB_CONNECTS");
        unsetenv("COLL_SQLIN_TIMEOUT");
        unsetenv("STUB_SAY_RELEASE");
    }
    ~Child() { u_exec_term(&o_); }
    bool started() const { return started_; }
    int signal(int sig) { return kill(o_.ihandle->pid, sig); }
    // Ends the child as its parent does and gives its exit status (100 + the signal that
    // ended it).
    int finish() {
        u_exec_term(&o_);
        int st = o_.exitStatus;
        return WIFEXITED(st) ? WEXITSTATUS(st) : 100 + WTERMSIG(st);
    }
    int send(const std::string& text) {
        std::string line = text;
        line.append(2, '\0');  // pcc_send_sql puts a newline and a NUL behind it
        return pcc_send_sql(line.data(), &o_);
    }
    // One line; "" at the end of the child's output.
    std::string receive() {
        char buf[pcc_record_size];
        return pcc_receive_sql(buf, &o_) ? std::string(buf) : std::string();
    }
    // The lines of one answer up to its !Z: messages apart, the rest in order. False when
    // the output ended first.
    bool answer(std::vector<std::string>& records, std::vector<std::string>& messages) {
        for (;;) {
            std::string l = receive();
            if (l.empty()) return false;
            if (l.rfind("!M ", 0) == 0) {
                messages.push_back(l);
                continue;
            }
            records.push_back(l);
            if (l == "!Z") return true;
        }
    }
    void close_input() {
        int fd = -1;
        u_exec_get_fh(&fd, nullptr, &o_);
        if (fd >= 0) closePipeHandle(&o_.ihandle->stdinPipe[1]);
    }

  private:
    execopt o_{};
    bool started_ = false;
};

std::string status(int rc, int id, int dberr, const std::string& cursor, char letter) {
    char rec[pcc_record_size];
    pcc_format(rec, 'I', 'S', rc, id, dberr, cursor.c_str(), letter);
    return rec;
}

struct RequestCase {
    const char* name;
    const char* connects;               // STUB_CONNECTS, null: unlimited
    std::vector<std::string> lines;     // sent in order
    std::vector<std::string> expected;  // answer records of every request, in order
    std::vector<std::string> messages;  // message ids that must arrive, in order
};

std::string pcc(int id, int sub, const char* text) {
    char rec[pcc_record_size];
    pcc_format(rec, id, sub, text);
    return rec;
}

std::vector<RequestCase> request_cases() {
    const std::string overlong = "!S S " + std::string(3100, 'x');
    std::string many_words;  // with the two option words, 102 in all
    for (int i = 0; i < 100; ++i) many_words += " x";
    std::vector<std::string> twenty_one(21, "!X B");
    twenty_one.insert(twenty_one.end(), {"!X A CUR", "!X I 5", "!Z", "!Z"});
    return {
        {"lone_end", nullptr, {"!Z"}, {status(0, 0, 0, "", 'Y'), "!Z"}, {}},
        {"cursor_cut",
         nullptr,
         {"!X A ABCDEFGHIJKL", "!Z"},
         {status(0, 0, 0, "ABCDEFGH", 'Y'), "!Z"},
         {}},
        {"failing_statement",
         nullptr,
         {"!X I 7", "!S S fail 1", "!Z"},
         {status(0, 7, 0, "", 'Y'), status(12, 7, 1, "", 'Y'), "!Z"},
         {}},
        {"release_then_failing_reconnect",
         "1",
         {"!S S hello", "!X D", "!Z", "!X I 7", "!S S select 1", "!Z"},
         {status(0, 0, 0, "", 'Y'), "!D db= text=hello", status(0, 0, 0, "", 'N'), "!Z",
          status(0, 7, 0, "", 'N'), status(11, 7, 2, "", 'N'), "!Z"},
         {"STB0001E"}},
        {"row_limits",
         nullptr,
         {"!X R", "!S S rows 3", "!Z", "!X R 2", "!S S rows 3", "!Z", "!X R 0", "!S S rows 3",
          "!Z"},
         {status(0, 0, 0, "", 'Y'), "!D 1   ", "!D 2   ", "!D 3   ", status(0, 0, 0, "", 'Y'), "!Z",
          status(0, 0, 0, "", 'Y'), "!D 1   ", "!D 2   ", status(0, 0, 0, "", 'Y'), "!Z",
          status(0, 0, 0, "", 'Y'), status(0, 0, 0, "", 'Y'), "!Z"},
         {"SQI2030W"}},
        {"bad_lines_skipped",
         nullptr,
         {"!X Q", "!Q x", "no mark", "", "!S M", "!X F", "!Z"},
         {status(0, 0, 0, "", 'Y'), status(0, 0, 0, "", 'Y'), "!Z"},
         {"SQI1080W", "SQI1070W", "SQI1070W", "SQI2050W", "SQI2040W"}},
        {"twenty_one_lines_refused",
         nullptr,
         twenty_one,
         {status(12, 5, 0, "CUR", 'Y'), "!Z", status(0, 0, 0, "", 'Y'), "!Z"},
         {"SQI1090E", "SQI1095E"}},
        {"overlong_line_refused",
         nullptr,
         {"!X A LONG", overlong, "!S S hello", "!Z", "!Z"},
         {status(12, 0, 0, "LONG", 'Y'), "!Z", status(0, 0, 0, "", 'Y'), "!Z"},
         {"UEX5915W", "SQI1095E"}},
        {"database_at_byte_5_and_22",
         nullptr,
         {pcc('S', 'D', "mydb"), "!S S one", "!S D" + std::string(18, ' ') + "other", "!S S two",
          "!Z"},
         {status(0, 0, 0, "", 'Y'), "!D db=mydb text=one", status(0, 0, 0, "", 'Y'),
          "!D db=other text=two", status(0, 0, 0, "", 'Y'), "!Z"},
         {}},
        {"long_database_name_refused",
         nullptr,
         {"!S D" + std::string(18, ' ') + std::string(53, 'd'), "!S S one", "!Z"},
         {status(0, 0, 0, "", 'Y'), status(12, 0, 1, "", 'Y'), "!Z"},
         {"SQI2035W", "SQI2045E"}},
        {"row_wider_than_a_record",
         nullptr,
         {"!S S wide", "!Z"},
         {status(0, 0, 0, "", 'Y'), status(12, 0, 1, "", 'Y'), "!Z"},
         {"SQI2100E"}},
        {"options_take_effect",
         nullptr,
         {"!O -logonid nobody", "!X C", "!Z"},
         {status(12, 0, 2, "", 'N'), "!Z"},
         {"STB0001E"}},
        {"options_of_too_many_words_refused",
         nullptr,
         {"!O -logonid nobody" + many_words, "!X C", "!Z"},
         {status(0, 0, 0, "", 'Y'), "!Z"},
         {"SQI2055W"}},
        {"refused_login", "0", {"!X C", "!Z"}, {status(12, 0, 2, "", 'N'), "!Z"}, {"STB0001E"}},
        // Records of two characters have an empty sub-type and no text.
        {"two_character_records",
         nullptr,
         {"!O", "!S", "!X", "!Z"},
         {status(0, 0, 0, "", 'Y'), "!Z"},
         {"SQI2050W"}},
    };
}

class Requests : public ::testing::TestWithParam<RequestCase> {};

TEST_P(Requests, AnswersExactly) {
    const RequestCase& c = GetParam();
    Child child(c.connects);
    ASSERT_TRUE(child.started());
    for (const auto& l : c.lines) ASSERT_EQ(child.send(l), 0) << l.substr(0, 40);
    std::vector<std::string> records, messages;
    while (records.size() < c.expected.size())
        ASSERT_TRUE(child.answer(records, messages)) << "output ended after " << records.size();
    EXPECT_EQ(records, c.expected);
    ASSERT_EQ(messages.size(), c.messages.size()) << ::testing::PrintToString(messages);
    for (size_t i = 0; i < messages.size(); ++i)
        EXPECT_EQ(messages[i].substr(3, c.messages[i].size()), c.messages[i]) << messages[i];
    // Nothing more: stop and see the loop end.
    ASSERT_EQ(child.send("!X S"), 0);
    ASSERT_EQ(child.send("!Z"), 0);
    records.clear();
    ASSERT_TRUE(child.answer(records, messages));
    EXPECT_EQ(records.back(), "!Z");
    EXPECT_EQ(child.receive(), "");
}

INSTANTIATE_TEST_SUITE_P(Loop, Requests, ::testing::ValuesIn(request_cases()),
                         case_names(&RequestCase::name));

TEST(Loop, EndOfInputInsideARequestEndsTheChildUnanswered) {
    Child child;
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.send("!S S hello"), 0);
    child.close_input();
    std::vector<std::string> records, messages;
    EXPECT_FALSE(child.answer(records, messages));
    EXPECT_TRUE(records.empty()) << records.front();
}

TEST(Loop, IdleChildEndsAfterItsTimeOut) {
    Child child(nullptr, "1");
    ASSERT_TRUE(child.started());
    // Timed from an answer, when the child is up and waits again: its start under load
    // is no part of the idle time.
    ASSERT_EQ(child.send("!S S hello"), 0);
    ASSERT_EQ(child.send("!Z"), 0);
    std::vector<std::string> records, messages;
    ASSERT_TRUE(child.answer(records, messages));
    messages.clear();
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.answer(records, messages));
    double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_GT(s, 0.9);
    EXPECT_LT(s, 3.5);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_NE(messages[0].find("SQI5939W"), std::string::npos) << messages[0];
}

TEST(Loop, AMessageWithANewlineArrivesAsOneRecord) {
    Child child;
    ASSERT_TRUE(child.started());
    ASSERT_EQ(child.send("!S S message"), 0);
    ASSERT_EQ(child.send("!Z"), 0);
    std::vector<std::string> records, messages;
    ASSERT_TRUE(child.answer(records, messages));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].substr(0, 12), "!M STB0002E ");
    EXPECT_NE(messages[0].find(") first line second line"), std::string::npos) << messages[0];
    EXPECT_EQ(records.size(), 3u);
}

// A terminate request from the parent ends the child with status 0 and the message, the
// connection released; one that comes during a statement lets the request be answered
// whole first.
TEST(Loop, TerminateRequestEndsTheChildWithStatusZero) {
    struct Case {
        const char* name;
        const char* statement;
        bool signal_from_test;  // else the statement sends it
        std::vector<std::string> answer;
    };
    char row[pcc_record_size];
    pcc_format(row, 'D', "done");
    const std::vector<Case> cases = {
        {"while_waiting", "hello", true, {}},
        {"during_a_statement",
         "terminate",
         false,
         {status(0, 0, 0, "", 'Y'), row, status(0, 0, 0, "", 'Y'), "!Z"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Child child(nullptr, nullptr, true);
        ASSERT_TRUE(child.started());
        std::vector<std::string> records, messages;
        if (c.signal_from_test) {
            // Answered first, so the child is at (or on its way to) its next wait.
            ASSERT_EQ(child.send("!S S " + std::string(c.statement)), 0);
            ASSERT_EQ(child.send("!Z"), 0);
            ASSERT_TRUE(child.answer(records, messages));
            records.clear();
            ASSERT_EQ(child.signal(SIGTERM), 0);
        } else {
            ASSERT_EQ(child.send("!S S " + std::string(c.statement)), 0);
            ASSERT_EQ(child.send("!Z"), 0);
            ASSERT_TRUE(child.answer(records, messages));
            EXPECT_EQ(records, c.answer);
            records.clear();
        }
        // Then nothing but the two messages, and the end of its output.
        EXPECT_FALSE(child.answer(records, messages));
        EXPECT_TRUE(records.empty()) << records.front();
        ASSERT_EQ(messages.size(), 2u) << ::testing::PrintToString(messages);
        EXPECT_EQ(messages[0].substr(0, 12), "!M SQI4040S ") << messages[0];
        EXPECT_NE(messages[0].find("Terminate request received"), std::string::npos);
        EXPECT_EQ(messages[1].substr(0, 12), "!M STB0003I ") << messages[1];
        EXPECT_EQ(child.finish(), 0);
    }
}

// A read error on standard input (here a directory in its place) ends the child with
// status 2 after releasing the connection.
TEST(Loop, ReadErrorOnStandardInputEndsTheChildWithStatusTwo) {
    testprog::program p;
    p.path = PCC_STUB_CHILD;
    p.env = testprog::own_env();
    p.env.push_back("STUB_SAY_RELEASE=1");
    p.input_path = "/";
    const testprog::program_result r = testprog::run_program(p);
    const std::string& text = r.out;
    ASSERT_FALSE(r.timed_out) << text;
    ASSERT_EQ(r.signal, 0) << r.status;
    EXPECT_EQ(r.status, 2) << text;
    EXPECT_NE(text.find("!M UEX5993E"), std::string::npos) << text;
    EXPECT_NE(text.find("!M STB0003I"), std::string::npos) << text;
    EXPECT_EQ(text.find("!I S"), std::string::npos) << text;
}

}  // namespace
