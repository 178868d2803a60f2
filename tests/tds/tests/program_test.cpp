// The zovtds program driven as scripts drive it, with tsql (freetds-bin) as the client.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "testing/program_runner.h"

namespace {

std::string read_file(const std::string& path) {
    std::ifstream f(path);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

class Program : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string tmpl = (std::filesystem::temp_directory_path() / "zovtdsprog.XXXXXX").string();
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl;
    }
    void TearDown() override {
        server.stop();
        std::filesystem::remove_all(dir);
    }
    // Starts zovtds; returns the port it reports on its first line (0 on failure).
    int start(const std::string& scenario) {
        std::ofstream(dir + "/s.scn") << scenario;
        testprog::program p;
        p.path = ZOVTDS_PROGRAM;
        p.args = {"-s", dir + "/s.scn", "-c", dir + "/freetds.conf", "-l", dir + "/server.log"};
        p.env = testprog::own_env();
        p.deadline = std::chrono::seconds(120);  // it serves while tsql (at most 20 s) runs
        if (!server.start(p) || !server.read_until("\n")) return 0;
        int port = 0;
        if (std::sscanf(server.out().c_str(), "port %d", &port) != 1) port = 0;
        return port;
    }
    std::string dir;
    testprog::started_program server;
};

TEST_F(Program, ReportsItsPortAndAnswersTsql) {
    int port = start(
        "batch select name from t\n"
        "  result name:varchar(10) n:int\n"
        "  row 'alpha' 1\n"
        "  row NULL 2\n"
        "  status 5\n");
    ASSERT_GT(port, 0);
    std::string conf = read_file(dir + "/freetds.conf");
    EXPECT_NE(conf.find("port = " + std::to_string(port)), std::string::npos);
    EXPECT_NE(conf.find("tds version = 5.0"), std::string::npos);

    testprog::program tsql;
    tsql.path = "/bin/sh";  // tsql as found on the PATH
    tsql.args = {"-c", "exec tsql -S ZOVTDS -U sa -P pw -o q"};
    tsql.env = testprog::own_env();
    tsql.env.push_back("FREETDSCONF=" + dir + "/freetds.conf");
    tsql.input = "select name\n  from t\ngo\nunknown thing\ngo\nexit\n";
    tsql.merge_stderr = true;
    tsql.deadline = std::chrono::seconds(20);
    const testprog::program_result client = testprog::run_program(tsql);
    const std::string& out = client.out;
    ASSERT_EQ(client.status, 0) << out;
    EXPECT_NE(out.find("alpha\t1"), std::string::npos) << out;
    EXPECT_NE(out.find("NULL\t2"), std::string::npos) << out;
    EXPECT_NE(out.find("severity 16"), std::string::npos) << out;

    ASSERT_EQ(kill(server.pid(), SIGTERM), 0);
    const testprog::program_result ended = server.finish();
    EXPECT_TRUE(ended.signal == 0 && ended.status == 0) << ended.status;
    std::string log = read_file(dir + "/server.log");
    EXPECT_NE(log.find("login conn=1 user=sa app=TSQL"), std::string::npos) << log;
    EXPECT_NE(log.find("batch conn=1 select name from t\n"), std::string::npos) << log;
    EXPECT_NE(log.find("batch conn=1 unknown thing\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("pw"), std::string::npos);
}

TEST_F(Program, BadScenarioIsAFailure) {
    EXPECT_EQ(start("row 1 2\n"), 0);
    const testprog::program_result ended = server.finish();
    EXPECT_TRUE(ended.signal == 0 && ended.status == 1) << ended.status;
}

}  // namespace
