// The zovprobe program as the probe tests run it, through the shared runner
// (testing/program_runner.h).
#pragma once

#include <string>
#include <vector>

#include "testing/program_runner.h"

#ifndef ZOVPROBE_PATH
#error "ZOVPROBE_PATH must name the zovprobe program"
#endif

// zovprobe with `words`, its environment `env` with the configuration of the tests (server
// SRV1, version ZEM100, host h1, TZ=UTC, LC_ALL=C) and PATH, HOME and the sanitizer options
// as the test has them; the runner's deadline.
inline testprog::program probe_program(const std::vector<std::string>& words,
                                       std::vector<std::string> env) {
    for (const char* set :
         {"COLL_SERVERID=SRV1", "COLL_VERSION=ZEM100", "COLL_HOSTNAME=h1", "TZ=UTC", "LC_ALL=C"}) {
        env.push_back(set);
    }
    for (auto& keep : testprog::inherited_env({"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "HOME"}))
        env.push_back(keep);
    testprog::program p;
    p.path = ZOVPROBE_PATH;
    p.argv0 = "zovprobe";
    p.args = words;
    p.env = std::move(env);
    return p;
}
