// Starting the zovprobe program from a test's child process.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

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
    for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "HOME"}) {
        if (const char* v = getenv(keep)) env.push_back(std::string(keep) + "=" + v);
    }
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = {"zovprobe"};
    args.insert(args.end(), words.begin(), words.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    execve(ZOVPROBE_PATH, argv.data(), envp.data());
    _exit(127);
}
