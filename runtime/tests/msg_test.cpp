#include "runtime/msg.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/clock_fixture.h"
#include "testing/temp_dir.h"

namespace {

struct Output {
    std::string log;
    std::string out;
    std::string err;
    int result = 0;
};

// Runs one writer call with or without an open log and collects what reached the log,
// standard output and standard error.
class MsgWriters : public zovtest::FixedClock {
  protected:
    void SetUp() override {
        FixedClock::SetUp();
        for (auto& l : my_trace_all) l = 0;
        NumberOfCollectors = 0;
    }
    void TearDown() override {
        for (auto& l : my_trace_all) l = 0;
        NumberOfCollectors = 0;
        PRINT('@', "", "%s", "");  // a case that set a message prefix must not leave it
        FixedClock::TearDown();
    }

    Output run(bool with_log, const std::function<int()>& call) {
        Output o;
        FILE* log = with_log ? std::tmpfile() : nullptr;
        stder = log;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        o.result = call();
        std::fflush(stdout);
        o.out = testing::internal::GetCapturedStdout();
        o.err = testing::internal::GetCapturedStderr();
        if (log) {
            std::fflush(log);
            std::rewind(log);
            char buf[9000];
            size_t n = std::fread(buf, 1, sizeof buf, log);
            o.log.assign(buf, n);
            std::fclose(log);
        }
        stder = nullptr;
        return o;
    }
};

TEST_F(MsgWriters, WorkedExampleByteForByte) {
    // 09:30:15 local time (TZ=UTC).
    u_platform_set(u_platform_ops{[](struct timespec* t) {
                                      t->tv_sec = 1796895015;  // 2026-12-10 09:30:15
                                      t->tv_nsec = 0;
                                  },
                                  nullptr, nullptr});
    Output o = run(true, [] {
        return u_msg(nullptr, "zovutil.c", 1676, "t", "uen0021",
                     "'%s' not set, using default of %d\n", "MAXREADSZ_ERRORLOG", 20480000);
    });
    EXPECT_EQ(o.log,
              "UEN0021T (093015) ZOVUTIL(1676) 'MAXREADSZ_ERRORLOG' not set, using default of "
              "20480000\n");
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, "");
    EXPECT_EQ(o.result, 56);
}

// ---- Routing of u_msg ----

struct MsgRoute {
    const char* options;
    bool log_open;
    int trace_level;  // level switched on for the call, -1 none
    const char* to_log;
    const char* to_out;
    const char* to_err;
};

class MsgRouting : public MsgWriters, public ::testing::WithParamInterface<MsgRoute> {};

TEST_P(MsgRouting, Routes) {
    const MsgRoute& c = GetParam();
    if (c.trace_level >= 0) my_trace_all[c.trace_level] = 1;
    Output o = run(c.log_open, [&] {
        return u_msg(nullptr, "/src/zovutil.c", 12, c.options, "abc1234", "hello %s\n", "x");
    });
    EXPECT_EQ(o.log, c.to_log) << "options " << (c.options ? c.options : "null");
    EXPECT_EQ(o.out, c.to_out) << "options " << (c.options ? c.options : "null");
    EXPECT_EQ(o.err, c.to_err) << "options " << (c.options ? c.options : "null");
}

#define T_LINE "ABC1234T (143005) ZOVUTIL(12) hello x\n"
INSTANTIATE_TEST_SUITE_P(
    Table, MsgRouting,
    ::testing::Values(MsgRoute{nullptr, true, -1, T_LINE, "", ""},
                      MsgRoute{"t", true, -1, T_LINE, "", ""},
                      MsgRoute{"i", true, -1, "ABC1234I ZOVUTIL(12) hello x\n", "", ""},
                      MsgRoute{"w", true, -1, "ABC1234W ZOVUTIL(12) hello x\n", "", ""},
                      MsgRoute{"e", true, -1, "ABC1234E ZOVUTIL(12) hello x\n", "",
                               "ABC1234E ZOVUTIL(12) hello x\n"},
                      MsgRoute{"eL", true, -1, "ABC1234E ZOVUTIL(12) hello x\n", "", ""},
                      MsgRoute{"s", true, -1, "ABC1234S ZOVUTIL(12) hello x\n", "",
                               "ABC1234S ZOVUTIL(12) hello x\n"},
                      MsgRoute{"a", true, -1, "ABC1234I ZOVUTIL(12) hello x\n", "",
                               "ABC1234I ZOVUTIL(12) hello x\n"},
                      MsgRoute{"q", true, -1, "ABC1234Q ZOVUTIL(12) hello x\n", "",
                               "ABC1234Q ZOVUTIL(12) hello x\n"},
                      MsgRoute{"il", true, -1, "ABC1234I ZOVUTIL(12) hello x\n", "",
                               "ABC1234I ZOVUTIL(12) hello x\n"},
                      MsgRoute{"h3", true, -1, "", "", ""}, MsgRoute{"h3", true, 3, T_LINE, "", ""},
                      MsgRoute{"h3", true, 2, "", "", ""}, MsgRoute{"h", true, -1, "", "", ""},
                      MsgRoute{"h", true, 0, T_LINE, "", ""},
                      MsgRoute{"-", true, -1, "hello x\n", "", ""},
                      MsgRoute{"i-", true, -1, "", "", ""},
                      MsgRoute{"iP", true, -1, "ABC1234I hello x\n", "", ""},
                      MsgRoute{"itp", true, -1, "ABC1234I (143005) ZOVUTIL(12) hello x\n", "", ""},
                      MsgRoute{"tT", true, -1, "ABC1234T ZOVUTIL(12) hello x\n", "", ""},
                      MsgRoute{"iu", true, -1, "abc1234I zovutil(12) hello x\n", "", ""},
                      MsgRoute{"iH", true, -1, "hello x\n", "", ""},
                      MsgRoute{"-h", true, -1, "ABC1234- ZOVUTIL(12) hello x\n", "", ""},
                      // No log: standard output, or standard error alone when echoed.
                      MsgRoute{"i", false, -1, "", "ABC1234I ZOVUTIL(12) hello x\n", ""},
                      MsgRoute{"t", false, -1, "", T_LINE, ""},
                      MsgRoute{"e", false, -1, "", "", "ABC1234E ZOVUTIL(12) hello x\n"},
                      MsgRoute{"el", false, -1, "", "", "ABC1234E ZOVUTIL(12) hello x\n"},
                      MsgRoute{"eL", false, -1, "", "ABC1234E ZOVUTIL(12) hello x\n", ""}),
    case_names(&MsgRoute::options));
#undef T_LINE

TEST_F(MsgWriters, MsgResults) {
    EXPECT_EQ(run(true, [] { return u_msg(nullptr, "f.c", 1, "i", "a", "12345"); }).result, 5);
    EXPECT_EQ(run(true, [] { return u_msg(nullptr, "f.c", 1, "h4", "a", "x"); }).result, 1);
    EXPECT_EQ(run(true, [] { return u_msg(nullptr, "f.c", 1, "i-", "a", "x"); }).result, 0);
    EXPECT_EQ(run(true, [] { return u_msg(nullptr, "f.c", 1, "@", "", "x"); }).result, 0);
}

TEST_F(MsgWriters, MsgIdForms) {
    struct Case {
        const char* id;
        const char* expected;
    } cases[] = {
        {".abc1234", "ABC1234I F(3) t\n"}, {" abc1234", "t\n"}, {"", "t\n"}, {nullptr, "t\n"}};
    for (const Case& c : cases) {
        Output o = run(true, [&] { return u_msg(nullptr, "d/f.cpp", 3, "i", c.id, "t"); });
        EXPECT_EQ(o.log, c.expected) << (c.id ? c.id : "null");
    }
}

TEST_F(MsgWriters, CollectorNameWhenSeveralOrTraced) {
    auto call = [] { return u_msg("coll1", "f.c", 3, "i", "abc1234", "t\n"); };
    EXPECT_EQ(run(true, call).log, "ABC1234I F(3) t\n");
    NumberOfCollectors = 2;
    EXPECT_EQ(run(true, call).log, "ABC1234I F(3) coll1 t\n");
    NumberOfCollectors = 0;
    my_trace_all[6] = 1;
    EXPECT_EQ(run(true, call).log, "ABC1234I F(3) coll1 t\n");
}

TEST_F(MsgWriters, ReadyTextTakesItsSeverity) {
    Output o =
        run(true, [] { return u_msg(nullptr, "f.c", 3, "x", "abc1234", "CAT1234E ready body"); });
    EXPECT_EQ(o.log, "ABC1234CAT1234E F(3) ready body\n");
    EXPECT_EQ(o.err, "ABC1234CAT1234E F(3) ready body\n");
    EXPECT_EQ(o.result, 10);
    // A ready trace line is shown only at its level.
    o = run(true, [] { return u_msg(nullptr, "f.c", 3, "x2", "abc1234", "CAT1234H traced"); });
    EXPECT_EQ(o.log, "");
    EXPECT_EQ(o.result, 1);
    my_trace_all[2] = 1;
    o = run(true, [] { return u_msg(nullptr, "f.c", 3, "x2", "abc1234", "CAT1234H traced"); });
    EXPECT_EQ(o.log, "ABC1234CAT1234H (143005) F(3) traced\n");
    // Without a header the ready text is the whole body.
    o = run(true, [] { return u_msg(nullptr, "f.c", 3, "x", "", "CAT1234I ready"); });
    EXPECT_EQ(o.log, "CAT1234I ready\n");
}

TEST_F(MsgWriters, PrefixGoesBeforeStandardOutputLinesOnly) {
    run(false, [] { return u_msg(nullptr, nullptr, 0, "@", "pfx> ", "%s", ""); });
    ASSERT_NE(msgPrefix, nullptr);
    Output o = run(false, [] { return u_msg(nullptr, nullptr, 0, "i", "abc1234", "t\n"); });
    EXPECT_EQ(o.out, "pfx> ABC1234I t\n");
    o = run(true, [] { return u_msg(nullptr, nullptr, 0, "i", "abc1234", "t\n"); });
    EXPECT_EQ(o.log, "ABC1234I t\n");
    o = run(false, [] { return PRINT('i', "tag0001", "p\n"); });
    EXPECT_EQ(o.out, "pfx> TAG0001I (143005) p\n");
    run(false, [] { return PRINT('@', "", "x"); });
    EXPECT_EQ(msgPrefix, nullptr);
    o = run(false, [] { return u_msg(nullptr, nullptr, 0, "i", "abc1234", "t\n"); });
    EXPECT_EQ(o.out, "ABC1234I t\n");
}

TEST_F(MsgWriters, FormatErrorAndCutLine) {
    Output o = run(true, [] { return u_msg(nullptr, nullptr, 0, "i", "abc1234", "%s", ""); });
    EXPECT_EQ(o.log, "ABC1234I  *** vsprintf error **** \n");
    o = run(true, [] { return PRINT('i', "abc1234", "%s", ""); });
    EXPECT_EQ(o.log, "ABC1234I (143005)  *** vsprintf error **** ");

    std::string big(9000, 'b');
    o = run(true, [&] { return u_msg(nullptr, nullptr, 0, "i", "abc1234", "%s", big.c_str()); });
    EXPECT_EQ(o.result, 9000);
    EXPECT_LT(o.log.size(), 7000u + 88u);
    EXPECT_EQ(o.log.substr(o.log.size() - 5), "b...\n");
    o = run(true, [&] { return PRINT('i', "abc1234", "%s", big.c_str()); });
    EXPECT_LT(o.log.size(), 4000u + 50u);
    EXPECT_EQ(o.log.substr(o.log.size() - 5), "b...\n");
}

// In channel mode every message without a log, errors too, is one line on standard output
// only: control characters as blanks, cut to a record with "..." at its end.
TEST_F(MsgWriters, ChannelModeWritesOneLinePerMessage) {
    run(false, [] { return PRINT('@', "!M ", "%s", ""); });
    const bool old = u_msg_channel(true);
    Output o = run(false, [] { return PRINT('e', "abc1234", "one\ntwo\tthree\n"); });
    EXPECT_EQ(o.out, "!M ABC1234E (143005) one two three\n");
    EXPECT_EQ(o.err, "");
    o = run(false, [] { return u_msg(nullptr, nullptr, 0, "s", "abc1235", "severe\r\n"); });
    EXPECT_EQ(o.out, "!M ABC1235S severe\n");
    EXPECT_EQ(o.err, "");
    std::string big(3500, 'b');
    o = run(false, [&] { return PRINT('w', "abc1236", "%s\n", big.c_str()); });
    EXPECT_EQ(o.out.size(), 3001u);
    EXPECT_EQ(o.out.substr(2994), "bbb...\n");
    // With a log the log takes the message, as always.
    o = run(true, [] { return PRINT('e', "abc1237", "logged\n"); });
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.log, "ABC1237E (143005) logged\n");
    u_msg_channel(old);
    run(false, [] { return PRINT('@', "", "%s", ""); });
}

// Muted writers drop everything but severe and always messages, and say "suppressed".
TEST_F(MsgWriters, MutedWritersKeepOnlySevereAndAlways) {
    ASSERT_FALSE(u_msg_mute(true));
    Output o = run(true, [] {
        int r = PRINT('e', "err0001", "dropped\n");
        r += u_msg(nullptr, "f.c", 1, "w", "wrn0001", "dropped\n");
        PRINT('s', "sev0001", "kept\n");
        PRINT('a', "alw0001", "kept\n");
        return r;
    });
    EXPECT_TRUE(u_msg_mute(false));
    EXPECT_EQ(o.result, 2);
    EXPECT_EQ(o.log.find("dropped"), std::string::npos) << o.log;
    EXPECT_NE(o.log.find("SEV0001S"), std::string::npos) << o.log;
    EXPECT_NE(o.log.find("ALW0001I"), std::string::npos) << o.log;
    EXPECT_NE(run(true, [] { return PRINT('e', "err0001", "back\n"); }).log.find("back"),
              std::string::npos);
}

TEST_F(MsgWriters, FailedLogWriteFallsBackToStandardError) {
    FILE* readonly = std::fopen("/dev/null", "r");
    ASSERT_NE(readonly, nullptr);
    stder = readonly;
    testing::internal::CaptureStderr();
    u_msg(nullptr, nullptr, 0, "i", "abc1234", "lost\n");
    PRINT('i', "tag0001", "lost too\n");
    std::string err = testing::internal::GetCapturedStderr();
    stder = nullptr;
    std::fclose(readonly);
    EXPECT_EQ(err, "+ ABC1234I lost\n+ TAG0001I (143005) lost too\n");
}

TEST_F(MsgWriters, LinesLostOnAClosedStreamAreNotReportedOnTheNextOne) {
    // freopen keeps the FILE address, as a new stream may take a closed one's: the lines
    // the read-only stream lost are not the new file's to report.
    FILE* stream = std::fopen("/dev/null", "r");
    ASSERT_NE(stream, nullptr);
    stder = stream;
    testing::internal::CaptureStderr();
    PRINT('i', "tag0001", "lost\n");
    testing::internal::GetCapturedStderr();
    std::string name = test_temp_template("msglost");
    int fd = mkstemp(name.data());
    ASSERT_GE(fd, 0);
    close(fd);
    ASSERT_EQ(std::freopen(name.c_str(), "w+", stream), stream);
    PRINT('i', "tag0002", "kept\n");
    std::fflush(stream);
    std::fclose(stream);
    stder = nullptr;
    std::ifstream in(name);
    std::stringstream content;
    content << in.rdbuf();
    std::remove(name.c_str());
    EXPECT_EQ(content.str(), "TAG0002I (143005) kept\n");
}

TEST(MsgWritersDeathTest, StarOptionAbortsBeforeWriting) {
    std::string templ = test_temp_template("msgabort");
    char* name = templ.data();
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EXIT(
        {
            stder = std::fopen(name, "w");
            u_msg(nullptr, nullptr, 0, "i*", "abc1234", "never\n");
        },
        ::testing::KilledBySignal(SIGABRT), "");
    std::ifstream in(name);
    std::stringstream content;
    content << in.rdbuf();
    EXPECT_EQ(content.str(), "");
    std::remove(name);
}

// ---- Routing of PRINT ----

struct PrintRoute {
    char type;
    const char* tag;
    bool log_open;
    bool level0;
    const char* to_log;
    const char* to_out;
    const char* to_err;
    int result;
};

class PrintRouting : public MsgWriters, public ::testing::WithParamInterface<PrintRoute> {};

TEST_P(PrintRouting, Routes) {
    const PrintRoute& c = GetParam();
    my_trace_all[0] = c.level0 ? 1 : 0;
    Output o = run(c.log_open, [&] { return PRINT(c.type, c.tag, "v=%d\n", 7); });
    EXPECT_EQ(o.log, c.to_log) << "type " << c.type;
    EXPECT_EQ(o.out, c.to_out) << "type " << c.type;
    EXPECT_EQ(o.err, c.to_err) << "type " << c.type;
    EXPECT_EQ(o.result, c.result) << "type " << c.type;
}

INSTANTIATE_TEST_SUITE_P(
    Table, PrintRouting,
    ::testing::Values(
        PrintRoute{'i', "cgn0100", true, false, "CGN0100I (143005) v=7\n", "", "", 22},
        PrintRoute{'w', "cgn0100", true, false, "CGN0100W (143005) v=7\n", "", "", 22},
        PrintRoute{'t', "cgn0100", true, false, "CGN0100T (143005) v=7\n", "", "", 22},
        PrintRoute{'e', "cgn0100", true, false, "CGN0100E (143005) v=7\n", "",
                   "CGN0100E (143005) v=7\n", 22},
        PrintRoute{'s', "cgn0100", true, false, "CGN0100S (143005) v=7\n", "",
                   "CGN0100S (143005) v=7\n", 22},
        PrintRoute{'a', "cgn0100", true, false, "CGN0100I (143005) v=7\n", "",
                   "CGN0100I (143005) v=7\n", 22},
        PrintRoute{'z', "cgn0100", true, false, "CGN0100Z (143005) v=7\n", "",
                   "CGN0100Z (143005) v=7\n", 22},
        PrintRoute{'h', "cgn0100", true, false, "", "", "", 1},
        PrintRoute{'h', "cgn0100", true, true, "CGN0100T (143005) v=7\n", "", "", 22},
        PrintRoute{'-', "cgn0100", true, false, "v=7\n", "", "", 4},
        PrintRoute{'i', ".abc", true, false, "abcv=7\n", "", "", 7},
        PrintRoute{'e', ".abc", true, false, "abcv=7\n", "", "abcv=7\n", 7},
        PrintRoute{'i', "cgn0100", false, false, "", "CGN0100I (143005) v=7\n", "", 22},
        PrintRoute{'e', "cgn0100", false, false, "", "", "CGN0100E (143005) v=7\n", 22},
        PrintRoute{'@', "cgn0100", false, false, "", "", "", 0}),
    case_names(&PrintRoute::tag));

TEST_F(MsgWriters, PrintAddsNoNewline) {
    Output o = run(true, [] {
        PRINT('i', "abc0001", "part one, ");
        return PRINT('-', "abc0001", "part two\n");
    });
    EXPECT_EQ(o.log, "ABC0001I (143005) part one, part two\n");
    run(false, [] { return PRINT('@', "", "%s", ""); });
}

}  // namespace
