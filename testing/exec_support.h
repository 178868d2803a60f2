// Shared fixtures of the child-process, command-runner and channel tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "runtime/child.h"
#include "runtime/env.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/trace.h"
#include "testing/temp_dir.h"

// Full path of a helper program of runtime/tests/helpers.
inline std::string xh(const char* name) { return std::string(ZOV_TEST_HELPER_DIR) + "/" + name; }

// Lines of a chain.
inline std::vector<std::string> chain_lines(const r_exec_chain* c) {
    std::vector<std::string> out;
    for (; c; c = c->next) out.emplace_back(c->line, static_cast<size_t>(c->size));
    return out;
}

// Owns a chain for the length of a test.
struct ChainGuard {
    r_exec_chain* c;
    explicit ChainGuard(r_exec_chain* chain) : c(chain) {}
    ~ChainGuard() { u_free_r_chain(c); }
    ChainGuard(const ChainGuard&) = delete;
    ChainGuard& operator=(const ChainGuard&) = delete;
};

// True when the process has no child left at all: nothing to reap, no zombie.
inline bool no_children() {
    int status;
    return waitpid(-1, &status, WNOHANG) == -1 && errno == ECHILD;
}

// True while pid names a living process (a zombie counts as gone).
inline bool process_alive(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    if (text.empty()) return false;
    size_t close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

// Waits up to ms for cond() to hold.
template <class F>
bool eventually(F cond, int ms = 10000) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

inline double seconds_since(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

// Every test of these suites: a private temporary directory for the runners' files, the
// log captured in a file, trace levels off; all put back afterwards.
class ExecTest : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_env_ = env_vars;
        env_vars.localtmpdir = const_cast<char*>(tmp_.path().c_str());
        env_vars.hostname = nullptr;
        env_vars.db_type = nullptr;
        env_vars.serverid = nullptr;
        for (auto& l : my_trace_all) l = 0;
        trace_all = 0;
        saved_log_ = stder;
        log_name_ = tmp_ / "log.txt";
        stder = std::fopen(log_name_.c_str(), "w+");
    }
    void TearDown() override {
        if (stder) std::fclose(stder);
        stder = saved_log_;
        for (auto& l : my_trace_all) l = 0;
        env_vars = saved_env_;
    }
    // What the runners logged so far.
    std::string log() {
        std::fflush(stder);
        return cfg_read_file(log_name_);
    }
    // Files left in the temporary directory, the log excepted.
    std::vector<std::string> temp_files() const {
        std::vector<std::string> out;
        for (auto& e : std::filesystem::directory_iterator(tmp_.path()))
            if (e.path().filename() != "log.txt") out.push_back(e.path().string());
        return out;
    }

    CfgTempDir tmp_;

  private:
    ENV_VARS saved_env_{};
    FILE* saved_log_ = nullptr;
    std::string log_name_;
};
