// execDBcommand in-process against the scripted server: its own connection, the rows in a
// log layout, and its refusals.
#include <gtest/gtest.h>

#include <string>

#include "dbaccess/zem2sql/zem2util.h"
#include "runtime/env.h"
#include "testing/log_capture.h"
#include "tests/tds/tds_testenv.h"

namespace {

class ExecCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env.start(R"(
batch select small
  result name:varchar(8) id:int
  row 'a b' 1
)",
                              error))
            << error;
        saved_ = env_vars;
        env_vars.serverid = server_;
        env_vars.logonid = logon_;
        env_vars.password = password_;
    }
    void TearDown() override { env_vars = saved_; }

    zovtds::TestEnv env;
    ENV_VARS saved_{};
    char server_[8] = "ZOVTDS";
    char logon_[4] = "sa";
    char password_[8] = "secret";
};

TEST_F(ExecCommand, RunsAndLogsTheRows) {
    LogCapture log;
    EXPECT_EQ(execDBcommand("select small", 3), 0);
    // Layout 13: a row mark, then the fields as layout 3 prints them.
    EXPECT_TRUE(log.has("row (1) \"a b\" " + std::string(12, ' ') + "1 \n")) << log.text();
    EXPECT_EQ(dbx, nullptr);
    int logouts = 0;
    for (const auto& e : env.server.log()) logouts += e.kind == zovtds::LogEntry::Logout;
    EXPECT_EQ(logouts, 1);
}

TEST_F(ExecCommand, Refusals) {
    LogCapture log;
    EXPECT_EQ(execDBcommand("select small", 7), 1);  // runs, but layout 17 is refused
    EXPECT_TRUE(log.has("SDU1010E"));
    env_vars.password = nullptr;
    EXPECT_EQ(execDBcommand("select small", 0), -2);
    env_vars.password = password_;
    zovtds::Scenario refuse;
    refuse.refuse_all = true;
    env.server.set_scenario(refuse);
    EXPECT_EQ(execDBcommand("select small", 0), -4);
}

}  // namespace
