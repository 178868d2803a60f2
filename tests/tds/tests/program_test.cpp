// The zovtds program driven as scripts drive it, with tsql (freetds-bin) as the client.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

extern char** environ;

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
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        std::filesystem::remove_all(dir);
    }
    // Starts zovtds; returns the port it reports on its first line (0 on failure).
    int start(const std::string& scenario) {
        std::ofstream(dir + "/s.scn") << scenario;
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) return 0;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        std::string s = dir + "/s.scn", c = dir + "/freetds.conf", l = dir + "/server.log";
        const char* argv[] = {ZOVTDS_PROGRAM, "-s", s.c_str(), "-c",
                              c.c_str(),      "-l", l.c_str(), nullptr};
        int rc = posix_spawn(&pid, ZOVTDS_PROGRAM, &fa, nullptr, const_cast<char**>(argv), environ);
        posix_spawn_file_actions_destroy(&fa);
        close(fds[1]);
        if (rc != 0) return 0;
        FILE* out = fdopen(fds[0], "r");
        int port = 0;
        if (fscanf(out, "port %d", &port) != 1) port = 0;
        fclose(out);
        return port;
    }
    std::string dir;
    pid_t pid = -1;
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

    std::string cmd = "FREETDSCONF=" + dir + "/freetds.conf timeout 20 tsql -S ZOVTDS -U sa -P pw" +
                      " -o q < " + dir + "/in.sql > " + dir + "/out.txt 2>&1";
    std::ofstream(dir + "/in.sql") << "select name\n  from t\ngo\nunknown thing\ngo\nexit\n";
    ASSERT_EQ(system(cmd.c_str()), 0);
    std::string out = read_file(dir + "/out.txt");
    EXPECT_NE(out.find("alpha\t1"), std::string::npos) << out;
    EXPECT_NE(out.find("NULL\t2"), std::string::npos) << out;
    EXPECT_NE(out.find("severity 16"), std::string::npos) << out;

    ASSERT_EQ(kill(pid, SIGTERM), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    std::string log = read_file(dir + "/server.log");
    EXPECT_NE(log.find("login conn=1 user=sa app=TSQL"), std::string::npos) << log;
    EXPECT_NE(log.find("batch conn=1 select name from t\n"), std::string::npos) << log;
    EXPECT_NE(log.find("batch conn=1 unknown thing\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("pw"), std::string::npos);
}

TEST_F(Program, BadScenarioIsAFailure) {
    EXPECT_EQ(start("row 1 2\n"), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    pid = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
}

}  // namespace
