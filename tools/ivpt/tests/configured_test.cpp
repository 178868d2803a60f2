// "confgured" as a process over a fixture configuration directory: which files give a
// re-run of the tool, with which words and which environment.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tools/ivpt/tests/ivpt_harness.h"

namespace {

using namespace ivpt_test;

std::string cfg(const char* sid, const char* type, const char* more = "",
                const char* status = "CONFIGSUCCESS", const char* password = "secretword") {
    return std::string("db_installstatus = ") + status + "\ndb_hostname = h1\ndb_sid = " + sid +
           "\ndb_login = sa\ndb_password = " + password + "\ndb_type = " + type + "\n" + more;
}

// A configuration directory of host h1, and one file of another host.
class Configured : public ::testing::Test {
  protected:
    void SetUp() override {
        write("h1_el_ORA1.cfg", cfg("ORA1", "QEL100", "db_home = /q/home\ndb_ver = 19\n"));
        write("h1_em_SRV1.cfg", cfg("SRV1", "ZEM100", "db_home = /z/home\n"));
        write("h1_em_SRV2.cfg", cfg("SRV2", "ZEM100", "", "CONFIGFAILED"));
        write("h1_im_INF1.cfg", cfg("INF1", "GIM100", "db_home = /g/home\n"));
        write("h2_em_SRV1.cfg", cfg("SRV1", "ZEM100"));
        write("h1_vk_VIK1.cfg", cfg("VIK1", "VIK100"));
    }
    void write(const std::string& name, const std::string& text) { t.write("cfg/" + name, text); }
    Result run(std::vector<std::string> words) {
        return t.run(words, {"ZOVCFGDIR=" + t.path() + "/cfg", "COLL_HOSTNAME=h1"});
    }
    // The words of each re-run, in order (the tool's own "-- run_cmd" lines for itself).
    static std::vector<std::string> reruns(const std::string& out) {
        std::vector<std::string> words;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);) {
            if (l.rfind("-- run_cmd cmd=", 0) != 0 ||
                l.find("zovivpt, parms=") == std::string::npos)
                continue;
            size_t p = l.find("parms=") + 6;
            words.push_back(l.substr(p, l.size() - p - 1));
        }
        return words;
    }
    // The output of the n-th re-run (from its run_cmd line to the next).
    static std::string section(const std::string& out, int n) {
        size_t p = 0;
        for (int k = 0; k <= n; ++k) {
            p = out.find("zovivpt, parms=", p + 1);
            if (p == std::string::npos) return "";
        }
        size_t end = out.find("zovivpt, parms=", p + 1);
        return out.substr(p, end == std::string::npos ? std::string::npos : end - p);
    }

    // The lines a re-run printed, as the tool echoes them, one a line.
    static std::string echoed(const std::string& text) {
        std::string out = "\n";
        std::istringstream in(text);
        for (std::string l; std::getline(in, l);)
            if (l.rfind("-- ->", 0) == 0 && l.size() >= 7) out += l.substr(5, l.size() - 7) + "\n";
        return out;
    }

    Ivpt t;
};

TEST_F(Configured, FilesChosenByTypeOrServer) {
    struct Case {
        const char* word;
        std::vector<std::string> reruns;
    };
    const Case cases[] = {
        {"all",
         {"-test -testpass -qel -qeldb", "-test -testpass -zem -zemdb",
          "-test -testpass -gim -gimdb"}},
        {"ZEM", {"-test -testpass -zem -zemdb"}},
        {"qel", {"-test -testpass -qel -qeldb"}},
        {"gim", {"-test -testpass -gim -gimdb"}},
        {"vik", {}},
        {"SRV1", {"-test -testpass -zem -zemdb"}},
        {"NOSUCH", {}},
    };
    for (const Case& c : cases) {
        Result r = run({"-test", "-confgured", c.word});
        EXPECT_EQ(r.status, 0) << c.word << "\n" << r.out;
        EXPECT_EQ(reruns(r.out), c.reruns) << c.word << "\n" << r.out;
        EXPECT_EQ(r.out.find("secretword"), std::string::npos) << r.out;
    }
    // The zem re-run ran with that database's server id (its test-mode echo shows it).
    Result r = run({"-test", "-confgured", "SRV1"});
    EXPECT_NE(r.out.find("zemsql -logon sa -rdbms SRV1 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("db_password = ***"), std::string::npos) << r.out;
}

TEST_F(Configured, SettingsPassedOn) {
    Result r = run({"-limit", "5", "-quiet", "2", "-test", "-subout", "-confgured", "SRV1"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(reruns(r.out),
              (std::vector<std::string>{"-test -out -limit 5 -quiet 2 -testpass -zem -zemdb"}));
}

TEST_F(Configured, EachRerunSeesOnlyItsOwnFile) {
    // Trace level 7 and fetch-exit debugging make each re-run show its environment.
    Result r = t.run({"-dddddddddd", "-setdebug", "-test", "-confgured", "all"},
                     {"ZOVCFGDIR=" + t.path() + "/cfg", "COLL_HOSTNAME=h1", "PATH=/usr/bin:/bin"});
    EXPECT_EQ(r.status, 0) << r.out;
    ASSERT_EQ(reruns(r.out).size(), 3u) << r.out;
    EXPECT_NE(reruns(r.out)[0].find("-setdebug -get_envs -test -testpass -qel"), std::string::npos);
    std::string qel = echoed(section(r.out, 0)), zem = echoed(section(r.out, 1)),
                gim = echoed(section(r.out, 2));
    EXPECT_NE(qel.find("\nCOLL_DBVERSION=19\n"), std::string::npos) << qel;
    EXPECT_NE(qel.find("\nORACLE_SID=ORA1\n"), std::string::npos) << qel;
    EXPECT_NE(qel.find("\nPATH=/usr/bin:/bin:/q/home/bin\n"), std::string::npos) << qel;
    EXPECT_NE(zem.find("\nDSQUERY=SRV1\n"), std::string::npos) << zem;
    EXPECT_NE(zem.find("\nPATH=/usr/bin:/bin:/z/home/bin\n"), std::string::npos) << zem;
    EXPECT_NE(gim.find("\nINFORMIXSERVER=INF1\n"), std::string::npos) << gim;
    EXPECT_NE(gim.find("\nPATH=/usr/bin:/bin:/g/home/bin\n"), std::string::npos) << gim;
    for (const std::string& later : {zem, gim}) {
        EXPECT_EQ(later.find("\nCOLL_DBVERSION="), std::string::npos) << later;
        EXPECT_EQ(later.find("\nORACLE_"), std::string::npos) << later;
        EXPECT_EQ(later.find("/q/home"), std::string::npos) << later;
    }
    EXPECT_EQ(gim.find("/z/home"), std::string::npos) << gim;
    EXPECT_EQ(gim.find("\nDSQUERY="), std::string::npos) << gim;
    EXPECT_EQ(r.out.find("secretword"), std::string::npos);
}

TEST_F(Configured, AFailureIsNotHiddenByALaterPass) {
    // The qel database's password cannot be read: its re-run ends with 21; the zem
    // database after it passes.
    write("h1_el_ORA1.cfg", cfg("ORA1", "QEL100", "", "CONFIGSUCCESS", "ABCDEF"));
    Result r = run({"-test", "-confgured", "all"});
    EXPECT_EQ(reruns(r.out).size(), 3u) << r.out;
    EXPECT_EQ(r.status, 21) << r.out;
    EXPECT_NE(r.out.find("-- Command confgured returned 21 -- quitting"), std::string::npos);
}

}  // namespace
