// zovivpt as a process for the tests: the programs it runs are the stand-ins of
// tests/standins (found through COLL_BINPATH), each scripted per case in a scratch
// directory.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

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
        for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "HOME"})
            if (const char* v = getenv(keep)) full.push_back(std::string(keep) + "=" + v);
        int out[2];
        if (pipe(out) != 0) return {};
        pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            if (chdir(dir_.path().c_str()) != 0) _exit(126);
            std::vector<std::string> args = {"zovivpt"};
            args.insert(args.end(), words.begin(), words.end());
            std::vector<char*> argv, envp;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            for (auto& e : full) envp.push_back(e.data());
            envp.push_back(nullptr);
            execve(ZOVIVPT_PATH, argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        std::thread side;
        if (during) side = std::thread([&] { during(pid, *this); });
        Result r;
        char buf[4096];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0) r.out.append(buf, n);
        close(out[0]);
        int st = 0;
        waitpid(pid, &st, 0);
        if (side.joinable()) side.join();
        r.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        return r;
    }

  private:
    CfgTempDir dir_;
};

inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace ivpt_test
