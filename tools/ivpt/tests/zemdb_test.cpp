// zemdb end to end: the tool runs the real zemsql against the scripted test server, on
// its command line, from a parameter file and as its channel child. Passwords must show
// nowhere: not in the tool's output, on no child's command line, in no parameter file.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/env.h"
#include "runtime/password.h"
#include "tests/tds/tds_scenario.h"
#include "tests/tds/tds_testenv.h"
#include "tools/ivpt/tests/ivpt_harness.h"

#ifndef ZEMSQL_PATH
#error "ZEMSQL_PATH must name the zemsql program"
#endif

namespace {

using namespace ivpt_test;

const char* kPlain = "Pw_s3cret_xyz";

// Answers for the six statements of the zem set; the test_B entry is given apart.
const char* kScenario = R"(
server TESTSERV
match ^select @@version$
  result version:varchar(60)
  row 'Adaptive Server Enterprise/16.0 zovtds'
rpc sp_helpdb master
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'master' '2.5 MB' 'sa' 1
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:varchar(20)
  row 'master' '2.5 MB' 'data and log' '1000'
rpc sp_helpdb tempdb
  result name:varchar(30) db_size:varchar(20) owner:varchar(10) dbid:int
  row 'tempdb' '2.5 MB' 'sa' 2
  result device_fragments:varchar(20) size:varchar(20) usage:varchar(20) free_kbytes:varchar(20)
  row 'tempdev' '2.5 MB' 'data and log' '300'
match ^select DEVNAME = .* from master\.dbo\.sysdevices .*order by phyname$
  result DEVNAME:varchar(30) OSNAME:varchar(60) DISKMON:varchar(20)
  row 'master' '/dev/master.dat' 'disk_0'
match ^select CACHENAME = .* from master\.dbo\.sysconfigures where parent = 19 and config = 19$
  result CACHENAME:varchar(30) BUFFERNAME:varchar(30)
  row 'default data cache' 'buffer_8192'
match ^select MAXLOCKS = .*@@timeticks from master\.\.syscurconfigs .*$
  result MAXLOCKS:int PROCCPCT:int LOGONMAX:int TIMETICKS:int
  row 5000 10 25 31250
)";

const char* kTestB = R"(
match ^select name, s32 = .* into #dbd3 .* drop table #dbd3$
  result NUMERRST:int NUMRO:int NUMDBO:int NUMSING:int NUMNOFRSP:int
  row 0 1 0 0 0
)";

const char* kTestBFails = R"(
match ^select name, s32 = .* into #dbd3 .* drop table #dbd3$
  error 208 16 1 #dbd3 not found
)";

std::string dir_of(const std::string& path) { return path.substr(0, path.rfind('/')); }

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// What the tool's children showed while they ran: their command lines and the parameter
// files they were given.
struct Watch {
    std::mutex m;
    std::set<std::string> cmdlines;
    std::vector<std::string> files;  // contents of each -filein file seen

    static bool ended(pid_t pid) {
        std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
        size_t p = stat.rfind(')');
        return p == std::string::npos || p + 2 >= stat.size() || stat[p + 2] == 'Z';
    }
    void scan(pid_t parent) {
        DIR* d = opendir("/proc");
        if (!d) return;
        while (dirent* e = readdir(d)) {
            if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
            std::string base = std::string("/proc/") + e->d_name;
            std::string stat = slurp(base + "/stat");
            size_t p = stat.rfind(')');
            if (p == std::string::npos) continue;
            std::istringstream in(stat.substr(p + 2));
            std::string state;
            pid_t ppid = 0;
            in >> state >> ppid;
            if (ppid != parent) continue;
            std::string raw = slurp(base + "/cmdline");
            std::vector<std::string> words;
            for (size_t s = 0; s < raw.size();) {
                size_t z = raw.find('\0', s);
                if (z == std::string::npos) z = raw.size();
                words.push_back(raw.substr(s, z - s));
                s = z + 1;
            }
            // A child not yet past its exec still shows the tool's own words, which are
            // the user's.
            if (words.empty() || words[0] == "zovivpt") continue;
            std::string line;
            for (const auto& w : words) line += w + " ";
            std::lock_guard<std::mutex> lock(m);
            cmdlines.insert(line);
            for (size_t k = 0; k + 1 < words.size(); ++k)
                if (words[k] == "-filein") {
                    std::string text = slurp(words[k + 1]);
                    if (!text.empty()) files.push_back(text);
                }
        }
        closedir(d);
    }
    void follow(pid_t tool) {
        while (!ended(tool)) {
            scan(tool);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
};

class Zemdb : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env.start(std::string(kScenario) + kTestB, error)) << error;
        // The stored form under the ids zemsql is given.
        u_env_set_field(&env_vars.logonid, "sa");
        u_env_set_field(&env_vars.serverid, env.section.c_str());
        stored = fod(kPlain);
        u_env_set_field(&env_vars.logonid, nullptr);
        u_env_set_field(&env_vars.serverid, nullptr);
        ASSERT_EQ(stored.size(), 88u) << stored;
    }
    Result run(const std::vector<std::string>& words, std::vector<std::string> more) {
        std::vector<std::string> e = {"COLL_BINPATH=" + dir_of(ZEMSQL_PATH),
                                      "COLL_SERVERID=" + env.section, "COLL_LOGON=sa",
                                      "FREETDSCONF=" + env.conf_path};
        e.insert(e.end(), more.begin(), more.end());
        return t.run(words, e, [this](pid_t pid, const Ivpt&) { watch.follow(pid); });
    }
    std::vector<zovtds::LogEntry> log() { return env.server.log(); }
    // Nothing the test could see holds the password in either form.
    void no_password(const Result& r) {
        for (const std::string& secret : {stored, std::string(kPlain)}) {
            EXPECT_EQ(r.out.find(secret), std::string::npos) << r.out;
            std::lock_guard<std::mutex> lock(watch.m);
            for (const auto& c : watch.cmdlines) EXPECT_EQ(c.find(secret), std::string::npos) << c;
            for (const auto& f : watch.files) EXPECT_EQ(f.find(secret), std::string::npos) << f;
        }
    }
    // The parameter file named in the output, which must be gone.
    static std::string filein(const std::string& out) {
        size_t p = out.find("parms=-filein ");
        if (p == std::string::npos) return "";
        p += 14;
        return out.substr(p, out.find_first_of(" .\n", out.find('/', p) + 1) - p);
    }

    zovtds::TestEnv env;
    std::string stored;
    Ivpt t;
    Watch watch;
};

TEST_F(Zemdb, AllThreeModes) {
    Result r = run({"-zemdb"}, {"COLL_PASSWORD=" + stored});
    EXPECT_EQ(r.status, 0) << r.out;
    no_password(r);

    // The answers, in the order asked.
    std::vector<std::string> order = {
        "-- ->Adaptive Server Enterprise/16.0 zovtds",
        "-- ->master 1 2560 2560 1000 1000 1",
        "/dev/master.dat",  // the device row of the parameter-file run
        "-- (I) ->!C CACHENAME",
        "-- (I) ->!D default data cache",
        "-- (I) ->!C NUMRO",
        "-- (I) ->!D 0",
        "-- (I) ->!I S 0000 0002",  // the commit-and-release answer
        "-- (I) ->!D 5000",
        "-- (I) ->!I S 0000 0004",  // the stop answer
    };
    size_t at = 0;
    for (const std::string& line : order) {
        size_t p = r.out.find(line, at);
        EXPECT_NE(p, std::string::npos) << line << "\n" << r.out;
        if (p != std::string::npos) at = p + 1;
    }
    EXPECT_NE(r.out.find("-- interactive sql 'select CACHENAME"), std::string::npos);

    // The server saw every statement, and a new login after the release.
    int login_after_release = -1, release = -1, test_c = -1, batches = 0;
    auto entries = log();
    for (size_t k = 0; k < entries.size(); ++k) {
        const auto& e = entries[k];
        if (e.kind == zovtds::LogEntry::Login) {
            EXPECT_EQ(e.password, kPlain);
        }
        if (e.kind == zovtds::LogEntry::Batch) {
            for (const char* s :
                 {"select @@version", "sysdevices", "CACHENAME", "#dbd3", "MAXLOCKS"})
                batches += e.text.find(s) != std::string::npos;
            if (e.text.find("#dbd3") != std::string::npos) release = static_cast<int>(k);
            if (e.text.find("MAXLOCKS") != std::string::npos) test_c = static_cast<int>(k);
        }
        if (e.kind == zovtds::LogEntry::Login && release >= 0 && login_after_release < 0)
            login_after_release = static_cast<int>(k);
    }
    EXPECT_EQ(batches, 5);
    EXPECT_GT(login_after_release, release);
    EXPECT_LT(login_after_release, test_c);
    int rpcs = 0;
    for (const auto& e : entries) rpcs += e.kind == zovtds::LogEntry::Rpc;
    EXPECT_EQ(rpcs, 2);

    // The children were seen, the channel child among them; the parameter file is gone.
    {
        std::lock_guard<std::mutex> lock(watch.m);
        bool channel = false;
        for (const auto& c : watch.cmdlines)
            channel = channel || c.find(" I ") != std::string::npos;
        EXPECT_TRUE(channel) << ::testing::PrintToString(watch.cmdlines);
    }
    std::string file = filein(r.out);
    ASSERT_FALSE(file.empty()) << r.out;
    EXPECT_NE(access(file.c_str(), F_OK), 0) << file;
}

TEST_F(Zemdb, PasswordFromTheToolsCommandLine) {
    Result r = run({"-password", stored, "-quiet", "2", "-zemdb"}, {});
    EXPECT_EQ(r.status, 0) << r.out;
    no_password(r);
    int logins = 0;
    for (const auto& e : log())
        if (e.kind == zovtds::LogEntry::Login) {
            ++logins;
            EXPECT_EQ(e.password, kPlain);
        }
    EXPECT_GE(logins, 5);
    // At quiet 2 the file and statement lines are not shown; the answers are.
    EXPECT_EQ(r.out.find("-- temp file contents"), std::string::npos);
    EXPECT_EQ(r.out.find("-- interactive sql"), std::string::npos);
    EXPECT_NE(r.out.find("-- (I) ->!D default data cache"), std::string::npos);
}

TEST_F(Zemdb, FailingStatementFailsTheTest) {
    std::string error;
    ASSERT_TRUE(env.set_scenario(std::string(kScenario) + kTestBFails, error)) << error;
    Result r = run({"-zemdb"}, {"COLL_PASSWORD=" + stored});
    EXPECT_NE(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("-- interactive mode of zemsql failed, return code " +
                         std::to_string(r.status) + "\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("-- Command zemdb returned " + std::to_string(r.status)),
              std::string::npos);
    // test_C still ran.
    EXPECT_NE(r.out.find("-- (I) ->!D 5000"), std::string::npos) << r.out;
}

// The demo's server (examples/demo-server.scn) answers every statement of the check, so a
// new user can run it against the demo as against a real server.
TEST_F(Zemdb, TheDemoServerAnswersEveryStatement) {
    const std::string path = std::filesystem::path(ZOV_SOURCE_DIR) / "examples" / "demo-server.scn";
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string error;
    ASSERT_TRUE(env.set_scenario(text.str(), error)) << error;
    Result r = run({"-zemdb"}, {"COLL_PASSWORD=" + stored});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find("99001"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-- ->master 1 "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("-- (I) ->!D default data cache"), std::string::npos) << r.out;
}

// Channel children that fail after answering the first request: one ends, one goes
// silent. Either way the test fails with 12, the child's failure is seen once, and
// nothing more is sent to it.
TEST(ZemdbChannel, ChildThatStopsAnswering) {
    struct Case {
        const char* name;
        const char* after_first;  // what the stand-in does once it answered
        const char* seen;
    };
    const Case cases[] = {
        {"ends", "exit 0", "-- end of input from zemsql"},
        {"goes silent", "", "-- no answer from zemsql in time"},
    };
    for (const Case& c : cases) {
        Ivpt t;
        const std::string got = t.path() + "/got";
        t.write("bin/zemsql",
                "#!/bin/sh\n"
                "for a in \"$@\"; do [ \"$a\" = I ] && chan=1; done\n"
                "[ -z \"$chan\" ] && { echo 'one row'; exit 0; }\n"
                "n=0\n"
                "while read -r line; do\n"
                "  printf '%s\\n' \"$line\" >>'" +
                    got +
                    "'\n"
                    "  case \"$line\" in '!Z'*) n=$((n+1)); if [ $n = 1 ]; then\n"
                    "    printf '!I S 0000 0000 00000000 test_A   Y\\n!Z\\n'; " +
                    c.after_first +
                    "\n  fi;; esac\n"
                    "done\n",
                0755);
        auto started = std::chrono::steady_clock::now();
        Result r = t.run({"-zemdb"}, {"COLL_BINPATH=" + t.path() + "/bin", "COLL_LOGON=sa",
                                      "COLL_WAIT_TIMEOUT=2"});
        EXPECT_EQ(r.status, 12) << c.name << "\n" << r.out;
        EXPECT_NE(r.out.find("-- (I) ->!I S 0000 0000 00000000 test_A   Y<-\n-- (I) ->!Z<-"),
                  std::string::npos)
            << c.name << "\n"
            << r.out;
        EXPECT_NE(r.out.find("-- interactive mode of zemsql failed, return code 12\n"),
                  std::string::npos)
            << c.name << "\n"
            << r.out;
        size_t first = r.out.find(c.seen);
        EXPECT_NE(first, std::string::npos) << c.name << "\n" << r.out;
        EXPECT_EQ(r.out.find(c.seen, first + 1), std::string::npos) << c.name << "\n" << r.out;
        // Nothing after test_B's request reached the child.
        std::string lines = cfg_read_file(got);
        EXPECT_EQ(lines.find("!X D"), std::string::npos) << c.name << "\n" << lines;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    }
}

// qelsql and gimsql are stand-ins: what they are given, and that an empty logon id drops
// its option instead of shifting the words behind it.
TEST(DbStandins, WordsGivenAndTestMode) {
    Ivpt t;
    Result r = t.run({"-limit", "200", "-qeldb"}, {"COLL_PASSWORD=secretword"});
    EXPECT_EQ(r.status, 0) << r.out;
    std::string calls = t.calls();
    EXPECT_EQ(calls.rfind("qelsql [-rdbms] [SRV1] [3] [ ] [SELECT DISTINCT BANNER FROM V$VERSION "
                          "WHERE BANNER LIKE 'Oracle%']\n",
                          0),
              0u)
        << calls;
    EXPECT_NE(calls.find("[3] [ ] [select OSPROCID = osprocid, SRVSTARTT = starttime from "
                         "master..sysengines where engine = 0]\n"),
              std::string::npos)
        << calls;
    EXPECT_NE(calls.find("qelsql [-filein] ["), std::string::npos) << calls;
    EXPECT_NE(calls.find("qelsql [-rdbms] [SRV1] [I]\n"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("-null-"), std::string::npos) << calls;
    EXPECT_EQ(calls.find("secretword"), std::string::npos) << calls;
    EXPECT_EQ((r.out + calls).find("-password"), std::string::npos) << r.out;
    // A stand-in is no channel child: the test fails, and says so.
    EXPECT_NE(r.out.find("-- interactive mode of qelsql failed, return code 12"), std::string::npos)
        << r.out;

    // Test mode starts nothing, the channel child included.
    Ivpt u;
    r = u.run({"-test", "-gimdb", "-qeldb", "-zemdb"}, {"COLL_LOGON=sa"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(u.calls(), "");
    EXPECT_NE(r.out.find("-- ->gimsql -logon sa -rdbms SRV1 3 \" \" \"SELECT DISTINCT NAME"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("-- start child=gimsql, parms=-logon sa -rdbms SRV1 I."),
              std::string::npos);
    EXPECT_EQ(r.out.find("recieved from"), std::string::npos) << r.out;
}

}  // namespace
