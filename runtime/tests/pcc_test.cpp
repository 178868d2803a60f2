#include "runtime/pcc.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "testing/exec_support.h"

namespace {

// ---- pcc_format ------------------------------------------------------------------------

struct FormatCase {
    const char* name;
    std::string (*make)();
    std::string expected;
};
void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }

std::string fmt(void (*f)(char*)) {
    char buf[pcc_record_size + 2];
    std::memset(buf, '#', sizeof buf);
    f(buf);
    return std::string(buf);
}

#define RECORD(...) [] { return fmt([](char* b) { pcc_format(b, __VA_ARGS__); }); }

class FormatTest : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FormatTest, ByteForByte) { EXPECT_EQ(GetParam().make(), GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(
    Records, FormatTest,
    ::testing::Values(
        FormatCase{"A", RECORD('A'), "!A"}, FormatCase{"Z", RECORD('Z'), "!Z"},
        FormatCase{"D", RECORD('D', "row text  1"), "!D row text  1"},
        FormatCase{"O", RECORD('O', "-x y"), "!O -x y"},
        FormatCase{"C", RECORD('C', "col_name", 'c', 255),
                   "!C col_name" + std::string(24, ' ') + " C 0255"},
        FormatCase{"C_long_name_cut",
                   RECORD('C', "abcdefghijklmnopqrstuvwxyz0123456789ABCD", 'i', 4),
                   "!C abcdefghijklmnopqrstuvwxyz012345 I 0004"},
        FormatCase{"I_I", RECORD('I', 'I', 3, 120), "!I I 0003 0120"},
        FormatCase{"I_P", RECORD('I', 'P', 'c'), "!I P C"},
        FormatCase{"I_S_no_cursor", RECORD('I', 'S', 0, 3, 0, nullptr, 'y'),
                   "!I S 0000 0003 00000000" + std::string(10, ' ') + "Y"},
        FormatCase{"I_S_cursor", RECORD('I', 'S', 12, 7, 2601, "CUR", 'n'),
                   "!I S 0012 0007 00002601 CUR      N"},
        FormatCase{"I_S_long_cursor_cut", RECORD('I', 'S', 1, 2, 3, "LONGCURSOR", 'y'),
                   "!I S 0001 0002 00000003 LONGCURS Y"},
        FormatCase{"M", RECORD('M', 'w', "abc1234", "value %d of %s", 5, "x"),
                   "!M ABC1234W value 5 of x"},
        FormatCase{"S_S", RECORD('S', 'S', "select 1"), "!S S select 1"},
        FormatCase{"S_S_no_text", RECORD('S', 'S', nullptr), "!S S "},
        FormatCase{"S_D", RECORD('S', 'D', "sp_who"), "!S D sp_who          "},
        FormatCase{"S_P_rest", RECORD('S', 'P', "sp_help", "tab1, 2"),
                   "!S P sp_help          tab1, 2"},
        FormatCase{"S_P_no_rest", RECORD('S', 'P', "sp_help", ""), "!S P sp_help         "},
        FormatCase{"X_I", RECORD('X', 'I', 12), "!X I 0012" + std::string(46, ' ')},
        FormatCase{"X_R", RECORD('X', 'R', 500), "!X R 0500" + std::string(46, ' ')},
        FormatCase{"X_X", RECORD('X', 'X'), "!X X" + std::string(51, ' ')},
        FormatCase{"X_A", RECORD('X', 'A', "CURS1"), "!X A CURS1" + std::string(45, ' ')},
        FormatCase{"X_C_null", RECORD('X', 'C', nullptr), "!X C" + std::string(51, ' ')},
        FormatCase{"X_text_cut_at_50", RECORD('X', 'S', std::string(60, 'f').c_str()),
                   "!X S " + std::string(50, 'f')}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PccFormat, LetterWithoutBodyGetsOnlyTheHeader) {
    char buf[pcc_record_size];
    std::memset(buf, '#', sizeof buf);
    pcc_format(buf, 'Q');
    EXPECT_EQ(std::string(buf, 14), "!Q " + std::string(10, ' ') + "#");
    std::memset(buf, '#', sizeof buf);
    pcc_format(buf, 'q');
    EXPECT_EQ(std::string(buf, 14), "!q " + std::string(10, ' ') + "#");
    // I with an unlisted sub-type ends at byte 35, bytes 13-34 untouched.
    std::memset(buf, '#', sizeof buf);
    pcc_format(buf, 'I', 'Q');
    EXPECT_EQ(std::string(buf), "!I Q" + std::string(9, ' ') + std::string(22, '#'));
}

TEST(PccFormat, RecordsFillTheDocumentedFields) {
    parentChildComm rec;
    pcc_format(reinterpret_cast<char*>(&rec), 'I', 'S', 4, 17, 2601, "CURS1", 'y');
    EXPECT_EQ(std::string(rec.u.info.u.s.supplied_id, 4), "0017");
    EXPECT_EQ(std::string(rec.u.info.u.s.db_error_code, 8), "00002601");
    EXPECT_EQ(std::string(rec.u.info.u.s.cursor, 8), "CURS1   ");
    EXPECT_EQ(rec.u.info.u.s.connected, 'Y');
    pcc_format(reinterpret_cast<char*>(&rec), 'C', "name", 'c', 30);
    EXPECT_EQ(std::string(rec.u.col.length, 4), "0030");
    EXPECT_EQ(rec.u.col.type, 'C');
}

class PccLogTest : public ExecTest {};

TEST_F(PccLogTest, LongTextsAreCutToALineThatTravelsWhole) {
    char buf[pcc_record_size];
    std::string text(5000, 't');
    pcc_format(buf, 'D', text.c_str());
    EXPECT_EQ(std::strlen(buf), static_cast<size_t>(pcc_line_max));
    pcc_format(buf, 'M', 'e', "abc1234", "%s", text.c_str());
    EXPECT_EQ(std::strlen(buf), static_cast<size_t>(pcc_line_max));
    EXPECT_NE(log().find("UEX4910"), std::string::npos);
}

struct NumCase {
    int value;
    int width;
    std::string expected;
    bool logged;
};
void PrintTo(const NumCase& c, std::ostream* os) { *os << c.value << " in " << c.width; }

class FormatNumTest : public PccLogTest, public ::testing::WithParamInterface<NumCase> {};

TEST_P(FormatNumTest, Digits) {
    const NumCase& c = GetParam();
    char buf[16];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(pcc_format_1num(buf, c.value, c.width), 0);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(c.width)), c.expected);
    EXPECT_EQ(buf[c.width], '#');  // no terminator
    EXPECT_EQ(log().find("Truncated digits in conversion. was=") != std::string::npos, c.logged);
}

INSTANTIATE_TEST_SUITE_P(
    Values, FormatNumTest,
    ::testing::Values(NumCase{12, 4, "0012", false}, NumCase{0, 4, "0000", false},
                      NumCase{9999, 4, "9999", false}, NumCase{12345, 4, "1234", true},
                      NumCase{123456, 4, "1234", true}, NumCase{-5, 4, "00-5", false},
                      NumCase{2601, 8, "00002601", false}),
    [](const auto& info) {
        std::string v = std::to_string(info.param.value);
        if (v[0] == '-') v[0] = 'm';
        return v + "_in_" + std::to_string(info.param.width);
    });

// ---- the decoders ----------------------------------------------------------------------

// Every decoder's fields as one text, so that one table covers all record kinds: texts in
// brackets (blanks kept), a number field that does not read as "-", a refused record as
// "refused".
std::string decoded(const std::string& text) {
    const char* line = text.c_str();
    pcc_header h;
    if (pcc_parse_header(line, &h) != 0) return "no record";
    if (h.id == '\0') return "no letter";
    std::string out(1, h.id);
    if (h.type != '\0') out += std::string("/") + h.type;
    auto num = [](const std::optional<int>& v) { return v ? std::to_string(*v) : "-"; };
    switch (h.id) {
        case 'C': {
            pcc_column c;
            if (pcc_parse_column(line, &c) != 0) return out + " refused";
            return out + " name=[" + c.name + "] type=" + c.type +
                   " length=" + std::to_string(c.length);
        }
        case 'D':
        case 'O':
            return out + " text=[" + pcc_parse_text(line) + "]";
        case 'M': {
            pcc_message m;
            EXPECT_EQ(pcc_parse_message(line, &m), 0);
            return out + " type=" + (m.type ? std::string(1, m.type) : "0") + " text=[" + m.text +
                   "]";
        }
        case 'I':
            if (h.type == 'S') {
                pcc_status st;
                EXPECT_EQ(pcc_parse_status(line, &st), 0);
                return out + " rc=" + num(st.return_code) + " id=" + num(st.supplied_id) +
                       " db=" + num(st.db_error_code) + " cursor=[" + st.cursor + "] connected=[" +
                       st.connected + "]";
            }
            if (h.type == 'I') {
                pcc_sizes z;
                if (pcc_parse_sizes(line, &z) != 0) return out + " refused";
                return out + " cols=" + std::to_string(z.num_cols) +
                       " size=" + std::to_string(z.row_size);
            }
            return out;
        case 'S': {
            pcc_sql q;
            EXPECT_EQ(pcc_parse_sql(line, &q), 0);
            return out + " text=[" + q.text + "] rest=[" + q.rest + "]";
        }
        case 'X': {
            pcc_command x;
            EXPECT_EQ(pcc_parse_command(line, &x), 0);
            return out + " parms=[" + x.parms + "] name=[" + x.name + "]";
        }
        default:
            return out;
    }
}

struct ParseCase {
    const char* name;
    std::string (*make)();  // the line: formatted by pcc_format, or written by hand
    std::string expected;   // decoded(line)
};
void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }

#define LINE(text) [] { return std::string(text); }

class ParseTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseTest, FieldsComeBack) { EXPECT_EQ(decoded(GetParam().make()), GetParam().expected); }

const std::string blanks45(45, ' ');

INSTANTIATE_TEST_SUITE_P(
    RoundTrip, ParseTest,
    ::testing::Values(
        ParseCase{"A", RECORD('A'), "A"}, ParseCase{"Z", RECORD('Z'), "Z"},
        ParseCase{"D", RECORD('D', "row text  1 "), "D text=[row text  1 ]"},
        ParseCase{"O", RECORD('O', "-x y"), "O text=[-x y]"},
        ParseCase{"C", RECORD('C', "col_name", 'c', 255), "C name=[col_name] type=C length=255"},
        ParseCase{"C_name_of_32", RECORD('C', "abcdefghijklmnopqrstuvwxyz0123456789", 'i', 4),
                  "C name=[abcdefghijklmnopqrstuvwxyz012345] type=I length=4"},
        ParseCase{"I_I", RECORD('I', 'I', 3, 120), "I/I cols=3 size=120"},
        ParseCase{"I_P", RECORD('I', 'P', 'c'), "I/P"},
        ParseCase{"I_S", RECORD('I', 'S', 12, 7, 2601, "CUR", 'n'),
                  "I/S rc=12 id=7 db=2601 cursor=[CUR] connected=[N]"},
        ParseCase{"I_S_no_cursor", RECORD('I', 'S', 0, 3, 0, nullptr, 'y'),
                  "I/S rc=0 id=3 db=0 cursor=[] connected=[Y]"},
        ParseCase{"I_S_negative", RECORD('I', 'S', -1, 9999, -2601, "C8CHARS8", 'y'),
                  "I/S rc=-1 id=9999 db=-2601 cursor=[C8CHARS8] connected=[Y]"},
        ParseCase{"M", RECORD('M', 'w', "abc1234", "value %d", 5),
                  "M type=W text=[ABC1234W value 5]"},
        ParseCase{"S_S", RECORD('S', 'S', "select 1"), "S/S text=[select 1] rest=[]"},
        ParseCase{"S_P", RECORD('S', 'P', "sp_help", "tab1, 2"),
                  "S/P text=[sp_help          tab1, 2] rest=[tab1, 2]"},
        ParseCase{"X_A", RECORD('X', 'A', "CURS1"),
                  "X/A parms=[CURS1" + blanks45 + "] name=[CURS1    ]"},
        ParseCase{"X_I", RECORD('X', 'I', 12),
                  "X/I parms=[0012" + std::string(46, ' ') + "] name=[0012     ]"},
        ParseCase{"X_X", RECORD('X', 'X'),
                  "X/X parms=[" + std::string(50, ' ') + "] name=[" + std::string(9, ' ') + "]"}),
    [](const auto& info) { return std::string(info.param.name); });

// Lines no formatter writes: short, garbled or no record at all.
INSTANTIATE_TEST_SUITE_P(
    Malformed, ParseTest,
    ::testing::Values(ParseCase{"message_line", LINE("SQI2035W a message"), "no record"},
                      ParseCase{"empty_line", LINE(""), "no record"},
                      ParseCase{"bang_alone", LINE("!"), "no letter"},
                      ParseCase{"D_without_body", LINE("!D"), "D text=[]"},
                      ParseCase{"M_without_body", LINE("!M"), "M type=0 text=[]"},
                      ParseCase{"M_short", LINE("!M ABC12"), "M type=0 text=[ABC12]"},
                      ParseCase{"I_without_type", LINE("!I"), "I"},
                      ParseCase{"I_S_codes_only", LINE("!I S 0001 0002"),
                                "I/S rc=1 id=2 db=- cursor=[] connected=[ ]"},
                      ParseCase{"I_S_garbled_code", LINE("!I S 00x1 0002 0000000z CURS     Y"),
                                "I/S rc=- id=2 db=- cursor=[CURS] connected=[Y]"},
                      ParseCase{"I_S_code_cut", LINE("!I S 001"),
                                "I/S rc=- id=- db=- cursor=[] connected=[ ]"},
                      ParseCase{"I_S_blanks_passed_over", LINE("!I S  1 2 0003    00-12 CUR"),
                                "I/S rc=12 id=3 db=-12 cursor=[CUR] connected=[ ]"},
                      ParseCase{"I_S_minus_after_digits", LINE("!I S 01-2 0003"),
                                "I/S rc=- id=3 db=- cursor=[] connected=[ ]"},
                      ParseCase{"I_I_short", LINE("!I I 0003"), "I/I refused"},
                      ParseCase{"I_I_garbled", LINE("!I I 0003 01a0"), "I/I refused"},
                      ParseCase{"C_short", LINE("!C name  C 0004"), "C refused"},
                      ParseCase{"C_garbled_length",
                                LINE("!C col" + std::string(29, ' ') + " C 0x04"), "C refused"},
                      ParseCase{"S_without_type", LINE("!S"), "S text=[] rest=[]"},
                      ParseCase{"X_without_type", LINE("!X "), "X parms=[] name=[]"},
                      ParseCase{"X_A_name_of_9", LINE("!X A ABCDEFGHIJKL"),
                                "X/A parms=[ABCDEFGHIJKL] name=[ABCDEFGHI]"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PccParse, EachDecoderRefusesAnotherKind) {
    char line[pcc_record_size];
    pcc_format(line, 'D', "0003 0120 CUR x");
    pcc_status st;
    pcc_sizes z;
    pcc_column c;
    pcc_message m;
    pcc_sql q;
    pcc_command x;
    EXPECT_EQ(pcc_parse_status(line, &st), 1);
    EXPECT_EQ(pcc_parse_sizes(line, &z), 1);
    EXPECT_EQ(pcc_parse_column(line, &c), 1);
    EXPECT_EQ(pcc_parse_message(line, &m), 1);
    EXPECT_EQ(pcc_parse_sql(line, &q), 1);
    EXPECT_EQ(pcc_parse_command(line, &x), 1);
    pcc_format(line, 'I', 'I', 3, 120);
    EXPECT_EQ(pcc_parse_status(line, &st), 1);
    pcc_format(line, 'I', 'S', 0, 1, 0, "CUR", 'y');
    EXPECT_EQ(pcc_parse_sizes(line, &z), 1);
    // A refused record leaves no field of an earlier one behind.
    EXPECT_STREQ(st.cursor, "");
    EXPECT_FALSE(st.return_code.has_value());
}

TEST(PccParse, DataTextIsPaddedWhereItLies) {
    char line[pcc_record_size];
    std::memset(line, '#', sizeof line);
    std::memcpy(line, "!D", 3);
    char* text = pcc_parse_data(line);
    EXPECT_EQ(text, line + 3);
    EXPECT_STREQ(text, "");
    pcc_format(line, 'D', "ab");
    EXPECT_EQ(pcc_parse_data(line), line + 3);
    EXPECT_STREQ(pcc_parse_data(line), "ab");
}

// ---- getReadWaitTime -------------------------------------------------------------------

struct WaitCase {
    const char* value;  // null: unset
    bool trace7;
    int expected;
};
void PrintTo(const WaitCase& c, std::ostream* os) { *os << (c.value ? c.value : "unset"); }

class ReadWaitTimeTest : public ::testing::TestWithParam<WaitCase> {
  protected:
    void TearDown() override {
        unsetenv("COLL_WAIT_TIMEOUT");
        my_trace_all[7] = 0;
        grwtSec = 0;
    }
};

TEST_P(ReadWaitTimeTest, Seconds) {
    const WaitCase& c = GetParam();
    if (c.value) {
        setenv("COLL_WAIT_TIMEOUT", c.value, 1);
    } else {
        unsetenv("COLL_WAIT_TIMEOUT");
    }
    my_trace_all[7] = c.trace7 ? 1 : 0;
    grwtSec = 0;
    EXPECT_EQ(getReadWaitTime(), c.expected);
    setenv("COLL_WAIT_TIMEOUT", "77", 1);
    EXPECT_EQ(getReadWaitTime(), c.expected) << "kept for the life of the process";
}

INSTANTIATE_TEST_SUITE_P(Values, ReadWaitTimeTest,
                         ::testing::Values(WaitCase{nullptr, false, 5}, WaitCase{"1", false, 1},
                                           WaitCase{"120", false, 120}, WaitCase{"121", false, 5},
                                           WaitCase{"0", false, 5}, WaitCase{"abc", false, 5},
                                           WaitCase{nullptr, true, 20}, WaitCase{"30", true, 30}),
                         [](const auto& info) {
                             return std::string(info.param.value ? info.param.value : "unset") +
                                    (info.param.trace7 ? "_trace7" : "");
                         });

// ---- the channel with a real child -----------------------------------------------------

class ChannelTest : public ExecTest {
  protected:
    void SetUp() override {
        ExecTest::SetUp();
        marker_ = tmp_ / "eof.txt";
        ASSERT_EQ(u_exec_perm(xh("xh_pcc").c_str(), marker_.c_str(), &o_), 0);
    }
    void TearDown() override {
        u_exec_term(&o_);
        EXPECT_TRUE(no_children());
        unsetenv("COLL_WAIT_TIMEOUT");
        grwtSec = 0;
        ExecTest::TearDown();
    }
    int send(char* line) { return pcc_send_sql(line, &o_); }
    // Receives one line; returns "<letter>|<line>".
    std::string receive() {
        char buf[pcc_record_size];
        int id = pcc_receive_sql(buf, &o_);
        return std::string(1, id ? static_cast<char>(id) : '0') + "|" + (id ? buf : "");
    }

    execopt o_{};
    std::string marker_;
};

TEST_F(ChannelTest, RoundTripThroughAnEchoChild) {
    char line[pcc_record_size];
    pcc_format(line, 'X', 'A', "CURS1");
    EXPECT_EQ(send(line), 0);
    pcc_format(line, 'S', 'S', "select name from sysdatabases");
    EXPECT_EQ(send(line), 0);
    pcc_format(line, 'Z');
    EXPECT_EQ(send(line), 0);
    EXPECT_EQ(receive(), "D|!D !X A CURS1" + std::string(45, ' '));
    EXPECT_EQ(receive(), "D|!D !S S select name from sysdatabases");
    EXPECT_EQ(receive(), "I|!I S 0000 0002 00000000 CURS1    Y");
    EXPECT_EQ(receive(), "Z|!Z");
    EXPECT_EQ(o_.processRC, pRC_ok);
}

TEST_F(ChannelTest, EndOfInputGivesZero) {
    u_exec_term(&o_);
    EXPECT_EQ(cfg_read_file(marker_), "eof\n");
    ASSERT_EQ(u_exec_perm(xh("xh_args").c_str(), "", &o_), 0);  // prints nothing, ends
    EXPECT_EQ(receive(), "0|");
    EXPECT_EQ(receive(), "0|");
}

TEST_F(ChannelTest, TimeOutReadsAsZAndTheCallerCanTell) {
    setenv("COLL_WAIT_TIMEOUT", "1", 1);
    grwtSec = 0;
    char line[pcc_record_size];
    pcc_format(line, 'S', 'S', "silent");
    ASSERT_EQ(send(line), 0);
    pcc_format(line, 'Z');
    ASSERT_EQ(send(line), 0);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(receive().substr(0, 1), "Z");
    double took = seconds_since(t0);
    EXPECT_GE(took, 0.9);
    EXPECT_LT(took, 4.5);  // below the default of five seconds, with room for load
    EXPECT_EQ(o_.processRC, pRC_timedout);
    // The next answer is complete again.
    pcc_format(line, 'Z');
    ASSERT_EQ(send(line), 0);
    EXPECT_EQ(receive(), "I|!I S 0000 0000 00000000 CURS1    Y");
    EXPECT_EQ(o_.processRC, pRC_ok);
}

TEST_F(ChannelTest, OverlongLineIsSkippedNotReadAsARecord) {
    char line[pcc_record_size];
    pcc_format(line, 'S', 'S', "long");
    ASSERT_EQ(send(line), 0);
    EXPECT_EQ(receive(), "D|!D after");
    EXPECT_EQ(receive(), "Z|!Z");
    EXPECT_NE(log().find("longer than a record"), std::string::npos);
}

TEST_F(ChannelTest, ChildSkipsAnOverlongRequestLine) {
    // 5000 characters in one line: the child must not read its tail as a second record.
    int in = -1;
    ASSERT_EQ(u_exec_get_fh(&in, nullptr, &o_) & 1, 0);
    std::string longLine = "!S S " + std::string(4995, 'x') + "\n";
    ASSERT_EQ(write(in, longLine.data(), longLine.size()), static_cast<ssize_t>(longLine.size()));
    char line[pcc_record_size];
    pcc_format(line, 'X', 'A', "C2");
    ASSERT_EQ(send(line), 0);
    pcc_format(line, 'Z');
    ASSERT_EQ(send(line), 0);
    // The child has no log: its report of the skipped line comes as a message line.
    std::string report = receive();
    EXPECT_EQ(u_ismessage(report.c_str() + 2), 1) << report;
    EXPECT_NE(report.find("longer than a record"), std::string::npos);
    EXPECT_EQ(receive(), "D|!D !X A C2" + std::string(48, ' '));
    EXPECT_EQ(receive(), "I|!I S 0000 0001 00000000 CURS1    Y");
    EXPECT_EQ(receive(), "Z|!Z");
}

TEST_F(ChannelTest, SendToAChildThatHasGone) {
    u_exec_term(&o_);
    ASSERT_EQ(u_exec_perm(xh("xh_args").c_str(), "", &o_), 0);
    createProcessComm* cpc = o_.ihandle;
    // Wait until it has ended; its end of the pipe is then closed.
    ASSERT_TRUE(eventually([&] {
        siginfo_t info{};
        return waitid(P_PID, static_cast<id_t>(cpc->pid), &info, WEXITED | WNOHANG | WNOWAIT) ==
                   0 &&
               info.si_pid != 0;
    }));
    char line[pcc_record_size];
    pcc_format(line, 'Z');
    EXPECT_EQ(send(line), 104);
}

TEST_F(ChannelTest, NoRecordOrPipe) {
    execopt none{};
    char line[pcc_record_size];
    pcc_format(line, 'Z');
    EXPECT_EQ(pcc_send_sql(line, &none), 10);
    EXPECT_EQ(pcc_receive_sql(line, &none), 0);
    EXPECT_NE(log().find("No pipe handle for child stdin."), std::string::npos);
    EXPECT_NE(log().find("Could not get fd"), std::string::npos);
}

TEST_F(ChannelTest, FullPipeIsRetriedForAboutEightSecondsThen104) {
    u_exec_term(&o_);
    ASSERT_EQ(u_exec_perm(xh("xh_slow").c_str(), "0 30", &o_), 0);  // never reads
    char line[pcc_record_size];
    int rc = 0;
    int sent = 0;
    auto t0 = std::chrono::steady_clock::now();
    while ((rc = send((pcc_format(line, 'D', std::string(2000, 'd').c_str()), line))) == 0) ++sent;
    double took = seconds_since(t0);
    EXPECT_EQ(rc, 104);
    EXPECT_GT(sent, 10);  // a pipe's worth went through first
    EXPECT_GE(took, 6.5);
    EXPECT_LT(took, 25.0);  // well before the child's 30 seconds are up
}

TEST(PccCollectorSide, SendToAClosedStreamFails) {
    signal(SIGPIPE, SIG_IGN);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    FILE* out = fdopen(fds[1], "w");
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(pcc_send_collector("!Z", out), 4);
    fclose(out);

    ASSERT_EQ(pipe(fds), 0);
    out = fdopen(fds[1], "w");
    EXPECT_EQ(pcc_send_collector("!A", out), 0);
    fclose(out);
    char got[8] = {};
    EXPECT_EQ(read(fds[0], got, sizeof got), 3);
    EXPECT_STREQ(got, "!A\n");
    close(fds[0]);
}

}  // namespace
