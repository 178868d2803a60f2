#include "tests/tds/tds_testenv.h"

#include <cstdlib>
#include <filesystem>

#include "tests/tds/temp_root.h"

namespace zovtds {

TestEnv::~TestEnv() {
    server.stop();
    if (!dir.empty()) {
        unsetenv("FREETDSCONF");
        std::error_code ec;
        std::filesystem::remove_all(dir, ec);
    }
}

bool TestEnv::start(const std::string& scenario_text, std::string& error) {
    Scenario sc;
    if (!parse_scenario(scenario_text, sc, error)) return false;
    std::string tmpl = test_temp_root() + "/zovtds.XXXXXX";
    if (mkdtemp(tmpl.data()) == nullptr) {
        error = "mkdtemp failed";
        return false;
    }
    dir = tmpl;
    conf_path = dir + "/freetds.conf";
    if (!server.start(sc, 0, error)) return false;
    if (!server.write_freetds_conf(conf_path, section)) {
        error = "cannot write " + conf_path;
        return false;
    }
    setenv("FREETDSCONF", conf_path.c_str(), 1);
    return true;
}

bool TestEnv::set_scenario(const std::string& scenario_text, std::string& error) {
    Scenario sc;
    if (!parse_scenario(scenario_text, sc, error)) return false;
    server.set_scenario(sc);
    return true;
}

}  // namespace zovtds
