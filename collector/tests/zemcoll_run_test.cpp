// The real program on copies of the example definitions.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/case_names.h"
#include "testing/program_runner.h"
#include "testing/temp_dir.h"

namespace {

namespace fs = std::filesystem;

std::string read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_all(const fs::path& p, const std::string& text) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << text;
}

void replace_in(const fs::path& p, const std::string& from, const std::string& to) {
    std::string text = read_all(p);
    const size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    write_all(p, text);
}

// A copy of examples/ and a zemcoll started in it.
class Collector {
  public:
    Collector() {
        for (const auto& e : fs::directory_iterator(EXAMPLES_DIR))
            fs::copy(e.path(), dir_.path() + "/" + e.path().filename().string());
    }
    fs::path file(const std::string& name) const { return dir_.path() + "/" + name; }
    const std::string& dir() const { return dir_.path(); }

    void start(std::vector<std::string> args = {},
               std::vector<std::string> env = {"COLL_SERVERID=SRV1"}) {
        std::vector<std::string> environment = {"COLL_HOME=" + dir(),
                                                "COLL_OUT=" + dir(),
                                                "COLL_PREFIX=" + dir(),
                                                "COLL_LOGONID=sa",
                                                "COLL_PASSWORD=secret",
                                                "COLL_VERSION=syb",
                                                "COLL_HOSTNAME=h1",
                                                "COLL_USESHM=0",
                                                "TZ=UTC",
                                                "PATH=/usr/bin:/bin",
                                                "ASAN_OPTIONS=detect_leaks=0"};
        for (auto& e : env) {
            // A variable given here replaces the default of the same name.
            const std::string name = e.substr(0, e.find('=') + 1);
            std::erase_if(environment, [&](const std::string& d) { return d.starts_with(name); });
            environment.push_back(e);
        }
        testprog::program p;
        p.path = ZEMCOLL_PATH;
        p.args = std::move(args);
        p.env = std::move(environment);
        p.dir = dir();
        p.output_file = dir() + "/stdout.txt";
        coll_.start(p);
    }

    // Exit status, 100 + signal, or -1 after the time limit.
    int wait_exit(int seconds = 60) { return coll_.wait_exit(std::chrono::seconds(seconds)); }

    // Everything the program wrote: its standard output and every log file.
    std::string output() const {
        std::string all;
        for (const auto& e : fs::directory_iterator(dir()))
            if (e.path().extension() == ".out" || e.path().filename() == "stdout.txt")
                all += read_all(e.path());
        return all;
    }

    bool wait_for(const std::string& text, int seconds = 60) {
        for (int i = 0; i < seconds * 20; ++i) {
            if (output().find(text) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    bool fifo_left() const {
        for (const auto& e : fs::recursive_directory_iterator(dir()))
            if (e.is_fifo()) return true;
        return false;
    }

    pid_t pid() const { return coll_.pid(); }

  private:
    CfgTempDir dir_;
    testprog::started_program coll_;  // ends (with its group) before the directory goes
};

struct broken_case {
    const char* name;
    std::function<void(Collector&)> breakage;
    const char* message;
};

class BrokenDefinitions : public ::testing::TestWithParam<broken_case> {};

TEST_P(BrokenDefinitions, StopTheStartUpWithStatusOne) {
    const broken_case& c = GetParam();
    Collector coll;
    c.breakage(coll);
    coll.start();
    EXPECT_EQ(coll.wait_exit(), 1);
    const std::string out = coll.output();
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_NE(out.find("GGN1505S"), std::string::npos) << out;
    EXPECT_NE(out.find("COL9999S"), std::string::npos) << out;
    EXPECT_EQ(out.find("CML1530"), std::string::npos) << out;
    EXPECT_FALSE(coll.fifo_left());
}

INSTANTIATE_TEST_SUITE_P(
    Files, BrokenDefinitions,
    ::testing::Values(
        broken_case{"no_process_file", [](Collector& c) { fs::remove(c.file("zemproc.ctl")); },
                    "UOI0055E"},
        broken_case{"no_collector",
                    [](Collector& c) {
                        replace_in(c.file("zemproc.ctl"), "process collector;",
                                   "process gatherer;");
                        replace_in(c.file("zemproc.ctl"), "continuous Y;", "");
                    },
                    "PPC1230E"},
        broken_case{
            "unknown_keyword",
            [](Collector& c) { replace_in(c.file("zemproc.ctl"), "interval 60;", "bogus 60;"); },
            "PPC0780E"},
        broken_case{
            "duplicate_dictionary_name",
            [](Collector& c) { replace_in(c.file("zemdict.ctl"), "name FS_KB;", "name FS_NAME;"); },
            "PDC2105E"},
        broken_case{"cursor_file_without_end",
                    [](Collector& c) {
                        std::string text = read_all(c.file("zemcoll.ctl"));
                        text.erase(text.rfind("end;"));
                        write_all(c.file("zemcoll.ctl"), text);
                    },
                    "PCC0730E"},
        broken_case{"evaluation_file_missing",
                    [](Collector& c) { fs::remove(c.file("zemeval.ctl")); }, "UOI0055E"}),
    case_names(&broken_case::name));

struct identity_case {
    const char* name;
    std::vector<std::string> args;
    std::vector<std::string> env;
};

class EmptyIdentity : public ::testing::TestWithParam<identity_case> {};

// A logon id or server id that is empty, from the environment (the process definitions
// then give an empty one) or the command line, stops the start-up as a missing one does:
// such a collector could never log in.
TEST_P(EmptyIdentity, StopsTheStartUpAsMissingConfiguration) {
    const identity_case& c = GetParam();
    Collector coll;
    coll.start(c.args, c.env);
    EXPECT_EQ(coll.wait_exit(30), 1);
    const std::string out = coll.output();
    EXPECT_NE(out.find("CML1528S"), std::string::npos) << out;
    EXPECT_EQ(out.find("CML1530"), std::string::npos) << out;
    EXPECT_FALSE(coll.fifo_left());
}

INSTANTIATE_TEST_SUITE_P(
    Sources, EmptyIdentity,
    ::testing::Values(
        identity_case{"logon_id_environment", {}, {"COLL_SERVERID=SRV1", "COLL_LOGONID="}},
        identity_case{"server_id_environment", {}, {"COLL_SERVERID="}},
        identity_case{"logon_id_command_line", {"-logonid", ""}, {"COLL_SERVERID=SRV1"}},
        identity_case{"server_id_command_line", {"-rdbms", ""}, {"COLL_SERVERID=SRV1"}}),
    case_names(&identity_case::name));

TEST(Zemcoll, RunsUntilTerminatedThoughTheTraceFileAndTheLogFail) {
    Collector coll;
    write_all(coll.file("zemtrac.ctl"), "bogus SRVSTAT;\nend;\n");
    // A log directory below a plain file cannot be made or written.
    write_all(coll.file("plain"), "x");
    coll.start({}, {"COLL_SERVERID=SRV1", "COLL_OUT=" + coll.dir() + "/plain/logs"});
    ASSERT_TRUE(coll.wait_for("CML1530I")) << coll.output();
    EXPECT_NE(coll.output().find("CAT2014E"), std::string::npos) << coll.output();
    EXPECT_NE(coll.output().find("PTC4640E"), std::string::npos) << coll.output();

    // Every descriptor above the standard three is closed on exec.
    const std::string fdinfo = "/proc/" + std::to_string(coll.pid()) + "/fdinfo";
    for (const auto& e : fs::directory_iterator(fdinfo)) {
        const int fd = std::atoi(e.path().filename().c_str());
        if (fd <= 2) continue;
        const std::string info = read_all(e.path());
        // The collector runs its cursors meanwhile: a descriptor may close between the
        // listing and the read.
        if (info.empty()) continue;
        const size_t at = info.find("flags:");
        ASSERT_NE(at, std::string::npos);
        const long flags = std::strtol(info.c_str() + at + 6, nullptr, 8);
        EXPECT_NE(flags & O_CLOEXEC, 0) << "descriptor " << fd;
    }

    kill(coll.pid(), SIGTERM);
    EXPECT_EQ(coll.wait_exit(), 0);
    const std::string out = coll.output();
    EXPECT_NE(out.find("CIR5005I"), std::string::npos) << out;
    EXPECT_NE(out.find("GGN1505S"), std::string::npos) << out;
    EXPECT_EQ(out.find("COL9999"), std::string::npos) << out;
}

TEST(Zemcoll, WithoutSignalHandlingATerminateEndsItAtOnce) {
    Collector coll;
    // The server id comes from an argument file through the general pass.
    write_all(coll.file("args"), "-rdbms SRVF\n");
    coll.start({"@args"}, {"COLL_NOSIGNALS=4"});
    ASSERT_TRUE(coll.wait_for("CML1530I")) << coll.output();
    EXPECT_TRUE(fs::exists(coll.file("h1_yb_SRVF_col.out"))) << coll.output();
    kill(coll.pid(), SIGTERM);
    EXPECT_EQ(coll.wait_exit(10), 100 + SIGTERM);
    EXPECT_EQ(coll.output().find("GGN1505"), std::string::npos) << coll.output();
}

TEST(Zemcoll, VersionListsAndEndsBeforeAnyFileIsRead) {
    Collector coll;
    fs::remove(coll.file("zemproc.ctl"));
    coll.start({"-version", ZEMCOLL_PATH});
    EXPECT_EQ(coll.wait_exit(), 0);
    const std::string out = coll.output();
    EXPECT_NE(out.find("startup.cpp"), std::string::npos) << out;
    EXPECT_EQ(out.find("UOI0055"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(coll.file("h1_yb_SRV1_col.out")));
}

}  // namespace
