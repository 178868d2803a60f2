// zovivpt as a process for the tests: the programs it runs are the stand-ins of
// tests/standins (found through COLL_BINPATH), each scripted per case in a scratch
// directory.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "testing/program_runner.h"
#include "testing/temp_dir.h"

#ifndef ZOVIVPT_PATH
#error "ZOVIVPT_PATH must name the zovivpt program"
#endif

namespace ivpt_test {

struct Result {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
};

// Plans the stand-ins' behaviour in a scratch directory and runs the tool there.
class Ivpt {
  public:
    Ivpt() { dir_.write("plan/.keep", ""); }

    void plan(const std::string& program, const std::string& what, const std::string& text) {
        dir_.write("plan/" + program + "." + what, text);
    }
    // Writes a file under the scratch directory; returns its path.
    std::string write(const std::string& name, const std::string& text, mode_t mode = 0644) {
        return dir_.write(name, text, mode);
    }
    std::string calls() const { return cfg_read_file(dir_ / "calls.log"); }
    const std::string& path() const { return dir_.path(); }

    // Starts the tool; `during` (when given) runs with its pid while it runs.
    Result run(const std::vector<std::string>& words, std::vector<std::string> env = {},
               const std::function<void(pid_t, const Ivpt&)>& during = {}) const {
        // The case's own settings come first: the first of two entries wins.
        std::vector<std::string> full = env;
        std::vector<std::string> base = {"COLL_BINPATH=" IVPT_STANDINS,
                                         "IVPT_LOG=" + (dir_ / "calls.log"),
                                         "IVPT_PLAN=" + (dir_ / "plan"),
                                         "COLL_HOME=" + dir_.path(),
                                         "COLL_SERVERID=SRV1",
                                         "COLL_HOSTNAME=h1",
                                         "TZ=UTC",
                                         "LC_ALL=C"};
        full.insert(full.end(), base.begin(), base.end());
        for (auto& keep :
             testprog::inherited_env({"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "HOME"}))
            full.push_back(keep);
        testprog::program p;
        p.path = ZOVIVPT_PATH;
        p.argv0 = "zovivpt";
        p.args = words;
        p.env = std::move(full);
        p.dir = dir_.path();
        testprog::started_program child;
        if (!child.start(p)) return {};
        std::thread side;
        if (during) side = std::thread([&] { during(child.pid(), *this); });
        const testprog::program_result got = child.finish();
        if (side.joinable()) side.join();
        // Its standard error stays in the test's log, as it always has.
        std::fwrite(got.err.data(), 1, got.err.size(), stderr);
        Result r;
        r.out = got.out;
        // This harness counts a signal as 128 + its number, as a shell does.
        r.status = got.signal != 0 ? 128 + got.signal : got.status;
        return r;
    }

  private:
    CfgTempDir dir_;
};

inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace ivpt_test
