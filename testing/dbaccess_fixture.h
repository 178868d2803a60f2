// The fixture of the process tests of the database-access programs (zemsql, zem2sql): the
// scripted server started with the test file's scenario, each run of the program with the
// connection's configuration in its environment (the password only in COLL_PASSWORD), and
// after every test the check that no output and no server log line holds the password.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <vector>

#include "testing/program_runner.h"
#include "tests/tds/tds_scenario.h"
#include "tests/tds/tds_testenv.h"

extern char** environ;

namespace testprog {

inline const char* const dbaccess_password = "Pw_s3cret_xyz";

// The program a fixture runs and what differs between the two.
struct dbaccess_program {
    const char* path;  // the program file
    const char* name;  // for messages
    // Variables of the test's own environment left out besides COLL_* and DSQUERY: those
    // that would point the program's other paths (isql, the client library) elsewhere.
    std::vector<std::string> also_dropped;
    int channel_status;              // the exit status after a channel run that went well
    zovtds::Scenario (*scenario)();  // what the server answers
};

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

class dbaccess_test : public ::testing::Test {
  protected:
    explicit dbaccess_test(dbaccess_program program) : program_(std::move(program)) {}

    void SetUp() override {
        std::string error;
        ASSERT_TRUE(env.start("server TESTSERV\n", error)) << error;
        env.server.set_scenario(program_.scenario());
    }
    void TearDown() override {
        for (const auto& r : runs) {
            EXPECT_EQ(r.out.find(dbaccess_password), std::string::npos);
            EXPECT_EQ(r.err.find(dbaccess_password), std::string::npos);
        }
        for (const auto& e : env.server.log())
            EXPECT_EQ(zovtds::log_line(e).find(dbaccess_password), std::string::npos);
    }

    // The test's environment without the program's configuration, then the configuration
    // of the test server; `env_over` entries "NAME=value" replace (or with "NAME=" remove)
    // a configuration entry.
    std::vector<std::string> program_env(const std::vector<std::string>& env_over) const {
        std::vector<std::string> envs;
        for (char** e = environ; *e; ++e) {
            std::string v = *e;
            auto starts = [&](const std::string& p) { return v.rfind(p, 0) == 0; };
            if (starts("COLL_") || starts("DSQUERY=") ||
                std::any_of(program_.also_dropped.begin(), program_.also_dropped.end(), starts))
                continue;
            envs.push_back(v);
        }
        std::vector<std::string> mine = {"COLL_HOME=" + env.dir, "COLL_SERVERID=" + env.section,
                                         "COLL_LOGON=sa",
                                         std::string("COLL_PASSWORD=") + dbaccess_password};
        for (const auto& o : env_over) {
            std::string name = o.substr(0, o.find('=') + 1);
            std::erase_if(mine, [&](const std::string& m) { return m.rfind(name, 0) == 0; });
            if (o.size() > name.size()) mine.push_back(o);
        }
        envs.insert(envs.end(), mine.begin(), mine.end());
        return envs;
    }

    // Runs the program with `args` and `input` on standard input; `env_over` as for
    // program_env.
    program_result run(const std::vector<std::string>& args, const std::string& input = "",
                       const std::vector<std::string>& env_over = {}) {
        program p;
        p.path = program_.path;
        p.args = args;
        p.env = program_env(env_over);
        p.input = input;
        p.deadline = std::chrono::seconds(60);
        program_result r = run_program(p);
        if (r.timed_out) ADD_FAILURE() << program_.name << " did not end";
        runs.push_back(r);
        return r;
    }
    // The channel: requests (each line as sent), then its standard output as lines.
    std::vector<std::string> channel(const std::vector<std::string>& requests,
                                     program_result* run_out = nullptr) {
        std::string input;
        for (const auto& l : requests) input += l + "\n";
        program_result r = run({"I"}, input);
        if (run_out) *run_out = r;
        EXPECT_EQ(r.status, program_.channel_status) << r.err;
        return lines_of(r.out);
    }
    std::vector<std::string> log_of(zovtds::LogEntry::Kind kind) {
        std::vector<std::string> out;
        for (const auto& e : env.server.log())
            if (e.kind == kind) out.push_back(e.text);
        return out;
    }
    static int count_prefix(const std::vector<std::string>& lines, const std::string& prefix) {
        int n = 0;
        for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
        return n;
    }

    zovtds::TestEnv env;
    std::vector<program_result> runs;

  private:
    dbaccess_program program_;
};

}  // namespace testprog
