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
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "testing/program_runner.h"
#include "tests/tds/tds_testenv.h"

namespace zemcoll_tds {

// The process file: the collector every `interval` seconds, `sleep_time` between serving
// turns, and the request server at the same interval.
inline std::string process_file(int sleep_time, int interval = 60) {
    const std::string every = std::to_string(interval);
    return "process collector;\n  type ctlib;\n  interval " + every +
           ";\n  continuous Y;\n  class 1;\n"
           "  sleep " +
           std::to_string(sleep_time) + ";\nprocess ulv;\n  type local;\n  interval " + every +
           ";\n  class 1;\nend;\n";
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
    // there then is killed (with its group) and the result is false with `error` set.
    bool stop(std::string& error) {
        if (pid() <= 0) return true;
        if (!terminated_) {
            std::string out;
            probe({"-n", "1", "SHUTDOWN"}, out);
        }
        if (wait_exit(60) != -1) return true;
        coll_.stop();
        error = "zemcoll did not end within 60 seconds of being stopped:\n" + output();
        return false;
    }

    // Sends SIGTERM: the collector reports the signal, waits, releases its IPC objects and
    // ends; stop() waits for that.
    void terminate() {
        if (pid() <= 0) return;
        kill(pid(), SIGTERM);
        terminated_ = true;
    }

    // Starts the server on `scenario` and zemcoll on the cursor file `cursors` over the
    // transport (shared memory or named pipes). False with `error` set when either fails
    // to start or the collector does not reach its schedule within 30 seconds.
    // files: more files for the directory, written last (a zemproc.ctl or zemdict.ctl there
    // takes the place of the default one). `prepare`, when given, runs on the directory
    // before the collector starts.
    bool start(const std::string& scenario, const std::string& cursors, bool shm, int sleep_time,
               std::string& error, const std::function<void(const std::string& dir)>& prepare) {
        return start(scenario, cursors, shm, sleep_time, error, {}, prepare);
    }
    bool start(const std::string& scenario, const std::string& cursors, bool shm, int sleep_time,
               std::string& error,
               const std::vector<std::pair<std::string, std::string>>& files = {},
               const std::function<void(const std::string& dir)>& prepare = nullptr) {
        if (!env_.start(scenario, error)) return false;
        shm_ = shm;
        write("zemproc.ctl", process_file(sleep_time, interval));
        write("zemcoll.ctl", cursors);
        write("zemdict.ctl", "name SITE;\n  type CHAR(16);\n  initial test;\nend;\n");
        for (const auto& [name, text] : files) write(name, text);
        if (prepare) prepare(dir());
        // It runs on while the test reads its files: its output goes to stdout.txt.
        testprog::program p = program_of(ZEMCOLL_PATH, {}, dir() + "/stdout.txt");
        p.env.insert(p.env.end(), collector_env.begin(), collector_env.end());
        if (!coll_.start(p)) return false;
        if (!wait_for("CML1530I", 30, true)) {
            error = "zemcoll did not start:\n" + output();
            return false;
        }
        return true;
    }

    // Set before start: the collector's interval (and the request server's), and more
    // environment for the collector alone.
    int interval = 60;
    std::vector<std::string> collector_env;

    const std::string& dir() const { return env_.dir; }
    // The server id of the configuration (COLL_SERVERID).
    const std::string& serverid() const { return env_.section; }
    // Replaces the server's answers (requests under way keep theirs).
    bool set_scenario(const std::string& text, std::string& error) {
        return env_.set_scenario(text, error);
    }
    zovtds::Server& server() { return env_.server; }
    pid_t pid() const { return coll_.pid(); }
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
        testprog::program p = program_of(ZOVPROBE_PATH, words, "");
        p.dir.clear();  // zovprobe runs where the test runs
        p.deadline = std::chrono::seconds(30);
        const testprog::program_result r = testprog::run_program(p, [&](const std::string& so_far) {
            if (mark && mark_ms && *mark_ms < 0 && so_far.find(mark) != std::string::npos) {
                *mark_ms = static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                                 std::chrono::steady_clock::now() - begun)
                                                 .count());
            }
        });
        out = r.out;
        return r.status;
    }

    // Runs one more zemcoll with the same configuration and `words`, its standard output
    // and error in `out`; its status (100 + 9 when it ran `seconds` and was killed). Each
    // "NAME=value" of `env` replaces that variable of the configuration.
    int run_another(const std::vector<std::string>& words, std::string& out, int seconds,
                    const std::vector<std::string>& env = {}) {
        testprog::program p = program_of(ZEMCOLL_PATH, words, "");
        for (const std::string& e : env) {
            const std::string name = e.substr(0, e.find('=') + 1);
            std::erase_if(p.env, [&](const std::string& v) { return v.starts_with(name); });
            p.env.push_back(e);
        }
        p.merge_stderr = true;
        p.deadline = std::chrono::seconds(seconds);
        const testprog::program_result r = testprog::run_program(p);
        out = r.out;
        return r.status;
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
            // Ended: what it wrote last may hold the text all the same.
            if (while_running && wait_exit(0) != -1)
                return output().find(text) != std::string::npos;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }

    // Exit status (100 + signal), or -1 when it is still running after `seconds`.
    int wait_exit(int seconds) { return coll_.wait_exit(std::chrono::seconds(seconds)); }

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

    // A program of ours run in the directory with the shared configuration; argv[0] is
    // its path. Without `output_file` its output is captured.
    testprog::program program_of(const char* path, const std::vector<std::string>& words,
                                 const std::string& output_file) const {
        testprog::program p;
        p.path = path;
        p.args = words;
        p.env = environment();
        p.dir = dir();
        p.output_file = output_file;
        return p;
    }

    zovtds::TestEnv env_;
    bool shm_ = false;
    bool terminated_ = false;
    // Last: dropped first, the collector ends (with its group) before the server goes.
    testprog::started_program coll_;
};

}  // namespace zemcoll_tds
