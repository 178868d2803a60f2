// zemcoll collecting from the scripted test server and asked by zovprobe: the server runs
// in this process (tests/tds), the collector is a child started on definition files the
// caller writes into the server's temporary directory, and zovprobe runs in children with
// the same configuration. The benchmark of the request server uses it too.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/tds/tds_testenv.h"

namespace zemcoll_tds {

// The process file: the collector every 60 seconds, `sleep_time` between serving turns,
// and the request server.
inline std::string process_file(int sleep_time) {
    return "process collector;\n  type ctlib;\n  interval 60;\n  continuous Y;\n  class 1;\n"
           "  sleep " +
           std::to_string(sleep_time) +
           ";\nprocess ulv;\n  type local;\n  interval 60;\n  class 1;\nend;\n";
}

inline std::string read_file(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class Collector {
  public:
    ~Collector() {
        std::string error;
        stop(error);
    }

    // Ends a collector that still runs the way a user would, so that it removes its pipes,
    // shared memory and semaphores: SHUTDOWN through zovprobe (unless terminate() sent a
    // stopping signal already), then up to 60 seconds for it to end. A collector still
    // there then is killed and the result is false with `error` set.
    bool stop(std::string& error) {
        if (pid_ <= 0) return true;
        if (!terminated_) {
            std::string out;
            probe({"-n", "1", "SHUTDOWN"}, out);
        }
        if (wait_exit(60) != -1) return true;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        error = "zemcoll did not end within 60 seconds of being stopped:\n" + output();
        return false;
    }

    // Sends SIGTERM: the collector reports the signal, waits, releases its IPC objects and
    // ends; stop() waits for that.
    void terminate() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        terminated_ = true;
    }

    // Starts the server on `scenario` and zemcoll on the cursor file `cursors` over the
    // transport (shared memory or named pipes). False with `error` set when either fails
    // to start or the collector does not reach its schedule within 30 seconds.
    bool start(const std::string& scenario, const std::string& cursors, bool shm, int sleep_time,
               std::string& error) {
        if (!env_.start(scenario, error)) return false;
        shm_ = shm;
        write("zemproc.ctl", process_file(sleep_time));
        write("zemcoll.ctl", cursors);
        write("zemdict.ctl", "name SITE;\n  type CHAR(16);\n  initial test;\nend;\n");
        pid_ = fork();
        if (pid_ < 0) return false;
        if (pid_ == 0) {
            if (chdir(dir().c_str()) != 0) _exit(120);
            const int out =
                open((dir() + "/stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            close(out);
            exec_with(ZEMCOLL_PATH, {}, {});
        }
        if (!wait_for("CML1530I", 30, true)) {
            error = "zemcoll did not start:\n" + output();
            return false;
        }
        return true;
    }

    const std::string& dir() const { return env_.dir; }
    zovtds::Server& server() { return env_.server; }
    pid_t pid() const { return pid_; }
    bool shm() const { return shm_; }

    // The configuration both programs share.
    std::vector<std::string> environment() const {
        std::vector<std::string> env = {"COLL_HOME=" + dir(),
                                        "COLL_OUT=" + dir(),
                                        "COLL_PREFIX=" + dir(),
                                        "COLL_LOGONID=sa",
                                        "COLL_PASSWORD=secret",
                                        "COLL_VERSION=syb",
                                        "COLL_HOSTNAME=h1",
                                        "COLL_SERVERID=" + env_.section,
                                        "FREETDSCONF=" + env_.conf_path,
                                        std::string("COLL_USESHM=") + (shm_ ? "1" : "0"),
                                        "WAIT_TIMEOUT=10",
                                        "TZ=UTC",
                                        "LC_ALL=C",
                                        "PATH=/usr/bin:/bin",
                                        "ASAN_OPTIONS=detect_leaks=0"};
        return env;
    }

    // Runs zovprobe with `words`; its status (100 + 9 when it ran 30 seconds and was
    // killed), its output in `out`. With `mark`, *mark_ms is the time from the start until
    // the output first held it (-1 never).
    int probe(const std::vector<std::string>& words, std::string& out, const char* mark = nullptr,
              long* mark_ms = nullptr) {
        const auto begun = std::chrono::steady_clock::now();
        if (mark_ms) *mark_ms = -1;
        int fds[2];
        if (pipe(fds) != 0) return -1;
        const pid_t pid = fork();
        if (pid < 0) return -1;
        if (pid == 0) {
            dup2(fds[1], 1);
            close(fds[0]);
            close(fds[1]);
            exec_with(ZOVPROBE_PATH, words, {});
        }
        close(fds[1]);
        out.clear();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            struct pollfd p {
                fds[0], POLLIN, 0
            };
            if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
                kill(pid, SIGKILL);
                break;
            }
            char buf[65536];
            const ssize_t n = read(fds[0], buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<size_t>(n));
            if (mark && mark_ms && *mark_ms < 0 && out.find(mark) != std::string::npos) {
                *mark_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - begun)
                                                 .count());
            }
        }
        close(fds[0]);
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }

    // Everything the collector wrote: its standard output and its log files.
    std::string output() const {
        std::string all;
        for (const auto& e : std::filesystem::directory_iterator(dir()))
            if (e.path().extension() == ".out" || e.path().filename() == "stdout.txt")
                all += read_file(e.path());
        return all;
    }

    // Waits until the output holds `text`; with while_running, false as soon as the
    // collector has ended.
    bool wait_for(const std::string& text, int seconds, bool while_running = false) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < end) {
            if (output().find(text) != std::string::npos) return true;
            if (while_running && wait_exit(0) != -1) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Exit status (100 + signal), or -1 when it is still running after `seconds`.
    int wait_exit(int seconds) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        for (;;) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
            }
            if (std::chrono::steady_clock::now() >= end) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    // The batches the server received whose text holds `text`.
    int batches(const std::string& text) {
        int n = 0;
        for (const auto& e : env_.server.log())
            if (e.kind == zovtds::LogEntry::Batch && e.text.find(text) != std::string::npos) ++n;
        return n;
    }

  private:
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir() + "/" + name, std::ios::binary | std::ios::trunc) << text;
    }

    [[noreturn]] void exec_with(const char* program, const std::vector<std::string>& words,
                                std::vector<std::string> extra) const {
        std::vector<std::string> env = environment();
        env.insert(env.end(), extra.begin(), extra.end());
        std::vector<std::string> args = {program};
        args.insert(args.end(), words.begin(), words.end());
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        execve(program, argv.data(), envp.data());
        _exit(121);
    }

    zovtds::TestEnv env_;
    pid_t pid_ = -1;
    bool shm_ = false;
    bool terminated_ = false;
};

}  // namespace zemcoll_tds
