// zemcoll running fetch exits: COLL_PASSWORD reaches an exit that is one of the suite's
// database access programs (they log in with it) and no other.
#include <gtest/gtest.h>

// Built where the scripted test server is (freetds-dev installed).
#ifdef ZOVPROBE_PATH

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "testing/zemcoll_tds.h"

namespace {

// Says whether the password reached it: on its standard output, or into the file named by
// its first argument (a detached run has no output to read).
const char* const kStub = R"(#!/bin/sh
if [ -n "${COLL_PASSWORD+x}" ]; then got=pw_yes; else got=pw_no; fi
if [ $# -gt 0 ]; then echo $got > "$1.tmp" && mv "$1.tmp" "$1"; else echo $got; fi
)";

struct exit_case {
    const char* cursor;
    const char* program;  // the stub's name
    const char* exit;     // fetchx5: waited for; fetchx5p: detached
    const char* rest;     // what follows the program in the script
    bool detached;
    const char* expected;
};

const exit_case kCases[] = {
    {"DBWAIT", "zemsql", "fetchx5", "", false, "pw_yes"},
    {"DBDET", "zemsql", "fetchx5p", " DBDET.txt", true, "pw_yes"},
    {"OTWAIT", "report", "fetchx5", "", false, "pw_no"},
    {"OTDET", "report", "fetchx5p", " OTDET.txt", true, "pw_no"},
    // Through a shell the password would reach every program of the line.
    {"DBSHELL", "zemsql", "fetchx5", " | cat", false, "pw_no"},
};

std::string cursors(const std::string& dir) {
    std::string text;
    for (const exit_case& k : kCases) {
        std::string rest = k.rest;
        if (k.detached) rest = " " + dir + "/" + rest.substr(1);
        text += std::string("cursor ") + k.cursor + ";\n  INSERT INTO " + k.cursor +
                " (PW) VALUES (:PW);\n  fetch_exit " + k.exit + ";\n  script " + dir + "/bin/" +
                k.program + rest + ";\n  insert_select SELECT PW FROM script;\n  interval 60;\n" +
                "  limit 10;\n  class 1;\n\n";
    }
    return text + "end;\n";
}

TEST(FetchExitPassword, OnlyTheDatabaseAccessProgramsGetIt) {
    zemcoll_tds::Collector coll;
    std::string error;
    std::string dir;
    const std::string dict =
        "name SITE;\n  type CHAR(16);\n  initial test;\nname PW;\n  type CHAR(8);\nend;\n";
    ASSERT_TRUE(coll.start("", "", false, 1, error, {{"zemdict.ctl", dict}},
                           [&](const std::string& d) {
                               dir = d;
                               ASSERT_EQ(mkdir((d + "/bin").c_str(), 0700), 0);
                               for (const char* name : {"zemsql", "report"}) {
                                   const std::string path = d + "/bin/" + name;
                                   std::ofstream(path) << kStub;
                                   ASSERT_EQ(chmod(path.c_str(), 0755), 0);
                               }
                               std::ofstream(d + "/zemcoll.ctl") << cursors(d);
                           }))
        << error;
    for (const exit_case& k : kCases) {
        std::string got;
        if (k.detached) {
            const std::string file = dir + "/" + std::string(k.rest).substr(1);
            for (int i = 0; i < 600 && access(file.c_str(), F_OK) != 0; ++i) usleep(50000);
            got = zemcoll_tds::read_file(file);
        } else {
            ASSERT_EQ(coll.probe({"-n", "1", k.cursor}, got), 0) << got;
        }
        EXPECT_NE(got.find(k.expected), std::string::npos) << k.cursor << ": " << got;
    }
}

}  // namespace

#endif  // ZOVPROBE_PATH
