// A ready-made test environment: a temporary directory, a server started on a free port
// with scenario text, and a freetds.conf in the directory that FREETDSCONF names for as
// long as the environment lives. One at a time per process (FREETDSCONF is global).
#pragma once

#include <string>

#include "tests/tds/tds_server.h"

namespace zovtds {

class TestEnv {
  public:
    TestEnv() = default;
    ~TestEnv();  // stops the server, unsets FREETDSCONF, removes the directory
    TestEnv(const TestEnv&) = delete;
    TestEnv& operator=(const TestEnv&) = delete;

    // Parses the scenario, starts the server and writes the configuration. False with
    // `error` set on any failure.
    bool start(const std::string& scenario_text, std::string& error);
    // Parses and installs a new scenario on the running server.
    bool set_scenario(const std::string& scenario_text, std::string& error);

    Server server;
    std::string dir;                 // the temporary directory (0700)
    std::string conf_path;           // dir + "/freetds.conf"
    std::string section = "ZOVTDS";  // the server name clients connect to
};

}  // namespace zovtds
