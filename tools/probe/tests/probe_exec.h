// Starting the zovprobe program from a test's child process (through the shared runner's
// exec, testing/program_runner.h).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testing/program_runner.h"

#ifndef ZOVPROBE_PATH
#error "ZOVPROBE_PATH must name the zovprobe program"
#endif

// In a forked child: runs zovprobe with `words`, its standard output on the write end of
// the pipe `out` (both ends closed here). Its environment is `env` with the configuration
// of the tests (server SRV1, version ZEM100, host h1, TZ=UTC, LC_ALL=C) and PATH, HOME and
// the sanitizer options as the test has them. Never returns (127 when exec fails).
[[noreturn]] inline void exec_probe(const std::vector<std::string>& words,
                                    std::vector<std::string> env, const int out[2]) {
    dup2(out[1], 1);
    close(out[0]);
    close(out[1]);
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
    testprog::exec_program(p);
}
