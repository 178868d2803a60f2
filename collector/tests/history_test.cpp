// The historian, the log distributors and the row dump.
#include "collector/history.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <string>

#include "collector/log_distributors.h"
#include "defs/distrib.h"
#include "runtime/env.h"
#include "testing/log_capture.h"
#include "testing/row_cursor.h"
#include "testing/temp_dir.h"

namespace {

using select_test::RowCursor;

constexpr const char* pass1 = "20261211093000";
constexpr const char* pass2 = "20261211093500";

// A cursor in its window for the whole day, its length set as the row store sets it.
void ready(RowCursor& rc, int16_t history = 1) {
    curs* c = rc.get();
    int32_t length = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        length = col->offset + col->len;
    c->length = length;
    c->window_start = 0;
    c->window_end = 0x7fffffff;
    c->history = history;
    c->needs_history = 1;
}

class History : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = env_vars.coll_home;
        env_vars.coll_home = home_.data();
    }
    void TearDown() override { env_vars.coll_home = saved_; }
    std::string file(const char* name) {
        return cfg_read_file(dir_ / (std::string(name) + ".HST"));
    }
    CfgTempDir dir_;
    std::string home_ = dir_.path();
    char* saved_ = nullptr;
};

TEST_F(History, WritesTheCurrentSampleOnceWithThePassTime) {
    RowCursor a("HA", {{"N", 3, 1}, {"V", 2, 2}});
    a.add({"x", "1"});
    a.add({"yy", "22"});
    ready(a);
    RowCursor s("HS", {{"N", 2, 1}});
    s.add({"o"});
    s.get()->first_row->sampleno = 1;
    s.add({"n"});
    s.get()->last_row->sampleno = 2;
    ready(s);
    s.get()->samples = 2;
    s.get()->sampleno = 2;
    RowCursor quiet("HQ", {{"N", 2, 1}});
    quiet.add({"q"});
    ready(quiet, 0);

    LogCapture log;
    ASSERT_EQ(do_history(pass1), 0) << log.text();
    // NUL bytes between the columns go out as blanks.
    EXPECT_EQ(file("HA"), std::string(pass1) + "x   1 \n" + pass1 + "yy  22\n");
    EXPECT_EQ(file("HS"), std::string(pass1) + "n \n");
    EXPECT_FALSE(std::filesystem::exists(dir_ / "HQ.HST"));
    EXPECT_EQ(a.get()->needs_history, 0);

    // Nothing new: nothing written; a new row rewrites every stored row.
    ASSERT_EQ(do_history(pass2), 0);
    EXPECT_EQ(file("HA").size(), 14u * 2 + 7 * 2);
    a.add({"z", "3"});
    a.get()->needs_history = 1;
    ASSERT_EQ(do_history(pass2), 0);
    EXPECT_EQ(file("HA").substr(42),
              std::string(pass2) + "x   1 \n" + pass2 + "yy  22\n" + pass2 + "z   3 \n");
}

TEST_F(History, AFailedFileIsFailedAndItsRowsGoOutNextPass) {
    RowCursor a("HA", {{"N", 3, 1}});
    a.add({"a"});
    ready(a);
    RowCursor b("HB", {{"N", 3, 1}});
    b.add({"b"});
    ready(b);
    std::filesystem::create_directories(dir_ / "sub");
    home_ = dir_ / "sub/none";
    env_vars.coll_home = home_.data();
    {
        LogCapture log;
        EXPECT_EQ(do_history(pass1), 1);
        EXPECT_TRUE(log.has("CHI1630")) << log.text();
        EXPECT_EQ(a.get()->needs_history, 1);
    }
    std::filesystem::create_directories(home_);
    ASSERT_EQ(do_history(pass2), 0);
    EXPECT_EQ(cfg_read_file(home_ + "/HA.HST"), std::string(pass2) + "a  \n");

    // A full device: FAIL, and the other cursor is still written.
    home_ = dir_.path();
    env_vars.coll_home = home_.data();
    ASSERT_EQ(symlink("/dev/full", (dir_ / "HA.HST").c_str()), 0);
    a.get()->needs_history = 1;
    b.get()->needs_history = 1;
    LogCapture log;
    EXPECT_EQ(do_history(pass1), 1);
    EXPECT_TRUE(log.has("CHI1632")) << log.text();
    EXPECT_EQ(a.get()->needs_history, 1);
    EXPECT_EQ(b.get()->needs_history, 0);
    EXPECT_EQ(file("HB"), std::string(pass1) + "b  \n");
}

TEST_F(History, ARecordCutByTheFileSizeLimitIsTakenBack) {
    RowCursor a("HA", {{"N", 30, 1}});
    for (int i = 0; i < 3; ++i) a.add({"row" + std::to_string(i)});
    ready(a);
    const std::string before(100, 'p');
    dir_.write("HA.HST", before);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim{150, 150};
        setrlimit(RLIMIT_FSIZE, &lim);
        LogCapture log;
        _exit(do_history(pass1) == 1 && a.get()->needs_history == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(file("HA"), before);
}

TEST(SendARow, OneLinePerColumnByConversion) {
    RowCursor rc("SR", {{"T", 4, 1}, {"B", 3, 1}, {"I", 4, 2}, {"F", 8, 2}, {"Z", 2, 1}});
    curs* c = rc.get();
    char insert[] = "INSERT INTO T (T, B, I, F, Z)";
    c->insert = insert;
    columns* col = c->insert_columns;
    const int16_t convert[] = {CONV_NONE, CONV_NONE, CONV_INT, CONV_FLOAT, CONV_NOSEND};
    const int16_t offset[] = {0, 4, 8, 16, 0};
    for (int i = 0; col != nullptr; col = col->next, ++i) {
        col->convert = convert[i];
        col->row_offset = offset[i];
    }
    alignas(8) char row[25] = {};
    std::memcpy(row, "ab     ", 7);
    // Numbers at offsets a cluster row need not keep aligned for the reader.
    const int32_t n = -123;
    const double f = 2.5;
    std::memcpy(row + 8, &n, 4);
    std::memcpy(row + 16, &f, 8);
    LogCapture log;
    ASSERT_EQ(send_a_row(c, row), 0);
    EXPECT_TRUE(log.has("INSERT INTO T (T, B, I, F, Z)")) << log.text();
    for (const char* line :
         {"#=1,n=T,l=2,o=0,ll=4:ab\n", "#=2,n=B,l=1,o=4,ll=3: \n", "#=3,n=I,l=4,o=8,ll=4:-123\n",
          "#=4,n=F,l=8,o=16,ll=8:2.500000\n", "#=5,n=Z,l=3,o=0,ll=0:ZIP\n"})
        EXPECT_TRUE(log.has(line)) << line << log.text();
}

TEST(LogDistributors, NulvLogsTheRowsOfItsClassesAndDistributeItsName) {
    RowCursor in("NI", {{"V", 3, 1}});
    in.add({"one"});
    in.add({"two"});
    ready(in, 0);
    in.get()->klass = 3;
    RowCursor out("NO", {{"V", 3, 1}});
    out.add({"out"});
    ready(out, 0);
    out.get()->klass = 4;
    distrib d{};
    std::strcpy(d.distrib_name, "printer");
    d.classes[3] = 1;
    LogCapture log;
    EXPECT_EQ(do_nulv(&d, pass1), 0);
    EXPECT_TRUE(log.has("Nulv for NI")) << log.text();
    EXPECT_TRUE(log.has(":one\n"));
    EXPECT_TRUE(log.has(":two\n"));
    EXPECT_FALSE(log.has("Nulv for NO"));
    EXPECT_EQ(distribute(&d, pass1), 0);
    EXPECT_TRUE(log.has("Dist for printer at 20261211093000\n"));
}

TEST(Proded, FirstFourRowsWholeLaterOnesAbbreviated) {
    char data[] = "row text";
    LogCapture log;
    proded(5, data, 8);
    EXPECT_TRUE(log.has("CAT1609")) << log.text();
    EXPECT_FALSE(log.has("CAT1610"));
    proded(4, data, 0);
    EXPECT_TRUE(log.has("CAT1610")) << log.text();
}

}  // namespace
