// Configuration files in-process: what setEnvFromCfg decides and what it exports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "runtime/env.h"
#include "testing/temp_dir.h"
#include "tools/ivpt/ivpt.h"

extern char** environ;

namespace {

const char* const kComplete =
    "# a monitored database\n"
    "db_installstatus = CONFIGSUCCESS\n"
    "db_hostname = h1\n"
    "db_sid = SRV1\n"
    "db_login = sa\n"
    "db_password = secretword\n"
    "db_type = ZEM100\n";

// Keeps the process environment and the env_vars fields a file may change.
class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        for (char** e = environ; *e; ++e) env_.emplace_back(*e);
        for (char** f : fields_)
            saved_.push_back(*f ? std::optional<std::string>(*f) : std::nullopt);
        u_env_set_field(&env_vars.hostname, "h1");
        for (char** f : fields_)
            if (f != &env_vars.hostname) u_env_set_field(f, nullptr);
        for (const char* v :
             {"COLL_SERVERID", "COLL_DBHOME", "COLL_LOGON", "COLL_PASSWORD", "COLL_VERSION",
              "COLL_DBVERSION", "SYBASE", "DSQUERY", "ORACLE_HOME", "ORACLE_SID"})
            unsetenv(v);
        setenv("PATH", "/usr/bin", 1);
    }
    void TearDown() override {
        clearenv();
        for (const std::string& e : env_) {
            size_t eq = e.find('=');
            setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
        }
        for (size_t k = 0; k < fields_.size(); ++k)
            u_env_set_field(fields_[k], saved_[k] ? saved_[k]->c_str() : nullptr);
    }
    std::string file(const std::string& text) {
        std::string name = "f" + std::to_string(count_++) + ".cfg";
        dir_.write(name, text);
        return dir_ / name;
    }
    static std::string env(const char* name) {
        const char* v = std::getenv(name);
        return v ? v : "(unset)";
    }

    CfgTempDir dir_;
    int count_ = 0;
    std::vector<std::string> env_;
    std::vector<char**> fields_ = {&env_vars.serverid, &env_vars.db_home, &env_vars.logonid,
                                   &env_vars.password, &env_vars.db_type, &env_vars.hostname};
    std::vector<std::optional<std::string>> saved_;
};

std::string replace(std::string text, const std::string& from, const std::string& to) {
    size_t p = text.find(from);
    if (p != std::string::npos) text.replace(p, from.size(), to);
    return text;
}

TEST_F(ConfigFile, Decisions) {
    std::string many = kComplete;
    while (std::count(many.begin(), many.end(), '\n') < 500) many += "# filler\n";
    struct Case {
        const char* name;
        std::string text;
        int rc;
        const char* serverid;  // COLL_SERVERID after a match
        const char* db_home;   // COLL_DBHOME after a match, null: not looked at
    };
    const Case cases[] = {
        {"blanks around =", kComplete, 0, "SRV1", nullptr},
        {"joined by =", replace(kComplete, "db_sid = SRV1", "db_sid=SRV2"), 0, "SRV2", nullptr},
        {"blank alone", replace(kComplete, "db_sid = SRV1", "db_sid SRV3"), 0, "SRV3", nullptr},
        {"quoted value", std::string(kComplete) + "db_home = \"/opt/my db\"\n", 0, "SRV1",
         "/opt/my db"},
        {"CRLF and trailing blanks",
         replace(replace(kComplete, "\n", "\r\n"), "db_sid = SRV1", "db_sid = SRV4  \t"), 0, "SRV4",
         nullptr},
        {"indented, repeated key", std::string(kComplete) + "   db_sid = SRV5\n", 0, "SRV5",
         nullptr},
        {"lower-case status", replace(kComplete, "CONFIGSUCCESS", "configsuccess"), 0, "SRV1",
         nullptr},
        {"key without value is ignored", std::string(kComplete) + "db_sid\ndb_sid =\n", 0, "SRV1",
         nullptr},
        {"not installed", replace(kComplete, "CONFIGSUCCESS", "CONFIGFAILED"), 1, nullptr, nullptr},
        {"another host", replace(kComplete, "= h1", "= h2"), 2, nullptr, nullptr},
        {"no db_hostname", replace(kComplete, "db_hostname = h1\n", ""), 3, nullptr, nullptr},
        {"no db_password", replace(kComplete, "db_password = secretword\n", ""), 3, nullptr,
         nullptr},
        {"password key alone", replace(kComplete, "db_password = secretword\n", "db_password\n"), 3,
         nullptr, nullptr},
        {"comment is no key", replace(kComplete, "db_login", "#db_login"), 3, nullptr, nullptr},
        {"other spellings are shown masked too",
         std::string(kComplete) + "DB_PASSWORD = secretword\n# db_password=secretword\n", 0, "SRV1",
         nullptr},
        {"500 lines", many, 0, "SRV1", nullptr},
        {"501 lines", many + "# one more\n", 3, nullptr, nullptr},
    };
    for (const Case& c : cases) {
        unsetenv("COLL_SERVERID");
        unsetenv("COLL_DBHOME");
        testing::internal::CaptureStdout();
        int rc = setEnvFromCfg(file(c.text).c_str());
        std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, c.rc) << c.name << "\n" << out;
        EXPECT_EQ(out.find("secretword"), std::string::npos) << c.name << "\n" << out;
        if (c.rc == 0) {
            EXPECT_EQ(env("COLL_SERVERID"), c.serverid) << c.name;
            EXPECT_EQ(std::string(env_vars.serverid ? env_vars.serverid : ""), c.serverid);
            // The file is shown with its password masked.
            EXPECT_NE(out.find("db_password = ***"), std::string::npos) << c.name << "\n" << out;
        } else {
            EXPECT_EQ(env("COLL_SERVERID"), "(unset)") << c.name;
        }
        if (c.db_home) {
            EXPECT_EQ(env("COLL_DBHOME"), c.db_home) << c.name;
        }
    }
    // A 501-line file says why it is not used.
    testing::internal::CaptureStdout();
    setEnvFromCfg(file(many + "#\n").c_str());
    EXPECT_NE(testing::internal::GetCapturedStdout().find("more than 500 lines"),
              std::string::npos);
}

TEST_F(ConfigFile, UnreadableGivesNine) {
    EXPECT_EQ(setEnvFromCfg((dir_ / "missing.cfg").c_str()), 9);
    std::string f = file(kComplete);
    chmod(f.c_str(), 0);
    if (access(f.c_str(), R_OK) != 0) {
        EXPECT_EQ(setEnvFromCfg(f.c_str()), 9);
    }
}

TEST_F(ConfigFile, ExportsByDatabaseType) {
    struct Case {
        const char* type;
        std::vector<std::pair<const char*, const char*>> exported;
    };
    const Case cases[] = {
        {"ZEM100",
         {{"SYBASE", "/db/home"},
          {"DSQUERY", "SRV1"},
          {"PATH", "/usr/bin:/db/home/bin"},
          {"COLL_DBHOME", "/db/home"},
          {"COLL_LOGON", "sa"},
          {"COLL_PASSWORD", "secretword"},
          {"COLL_VERSION", "ZEM100"},
          {"COLL_DBVERSION", "15.7"},
          {"ORACLE_HOME", "(unset)"}}},
        {"qel100",
         {{"ORACLE_HOME", "/db/home"},
          {"ORACLE_SID", "SRV1"},
          {"PATH", "/usr/bin:/db/home/bin"},
          {"COLL_VERSION", "qel100"},
          {"SYBASE", "(unset)"}}},
    };
    for (const Case& c : cases) {
        setenv("PATH", "/usr/bin", 1);
        std::string text =
            replace(kComplete, "ZEM100", c.type) + "db_home = /db/home\ndb_ver = 15.7\n";
        testing::internal::CaptureStdout();
        EXPECT_EQ(setEnvFromCfg(file(text).c_str()), 0) << c.type;
        testing::internal::GetCapturedStdout();
        for (const auto& [name, value] : c.exported)
            EXPECT_EQ(env(name), value) << c.type << " " << name;
        // The database type is kept whole.
        EXPECT_STREQ(env_vars.db_type, c.type);
        unsetenv("SYBASE");
        unsetenv("ORACLE_HOME");
    }
}

}  // namespace
