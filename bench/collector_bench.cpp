// The collector's cost while it waits, and its memory over many collections.
//
// BM_IdleCollector: zemcoll on a copy of the example definitions, collecting from zovtds
// playing the demo server (examples/demo-server.scn), once as they are (with the request
// server "ulv") and once without "ulv", beside a sleeping child; the counters are the CPU
// seconds each used over the same wall time (from /proc/<pid>/stat), the collector's share
// of one core, which must stay under 0.5%, and "error_lines", the collector log's error and
// severe lines, which must be 0 (every cursor succeeds: a pass whose cursors fail measures
// the error path; the run fails otherwise). The wall time is ZOV_BENCH_IDLE_SECONDS
// (default 60). The program is ZEMCOLL (default: bin/zemcoll beside this program's build
// directory), the examples ZOV_EXAMPLES (default: the source tree's).
//
// BM_CollectMemory: zemcoll's own main, in a child process, collects the example set from
// zovtds playing the demo server (examples/demo-server.scn) with every interval at one
// second: 300 passes of warm-up, then 2,000 measured passes. Its sleeps advance its clock
// at once instead of waiting, so the passes follow each other as fast as the server
// answers; the request server is left out, since its wait for requests runs on the real
// clock. Counters: the growth of the heap's bytes in use (mallinfo2) per measured pass,
// which must be 0, and the collector log's error and severe lines, which must be none (a
// pass whose cursors fail measures the error path). Either failure fails the program.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/child_pipe.h"
#include "collector/startup/startup.h"
#include "runtime/platform.h"
#include "testing/program_runner.h"
#include "tests/tds/tds_testenv.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

using benchpipe::self_dir;

std::string zemcoll_path() {
    if (const char* p = std::getenv("ZEMCOLL")) return p;
    return self_dir() + "/../bin/zemcoll";
}

std::string examples_dir() {
    if (const char* p = std::getenv("ZOV_EXAMPLES")) return p;
    return ZOV_SOURCE_DIR "/examples";
}

// User plus system CPU seconds of a process so far.
double cpu_seconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::atol(field.c_str());
        if (i == 15) stime = std::atol(field.c_str());
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Starts the program with its output discarded; it runs until the bench stops it (the
// deadline only guards a bench that never does).
bool spawn(testprog::started_program& child, const std::string& path,
           const std::vector<std::string>& args, const std::vector<std::string>& env,
           const std::string& dir, int seconds) {
    testprog::program p;
    p.path = path;
    p.args = args;
    p.env = env;
    p.dir = dir;
    p.output_file = "/dev/null";
    p.deadline = std::chrono::seconds(seconds + 60);
    return child.start(p);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The log a collector of the benchmarks writes in dir.
std::string collector_log(const std::string& dir) { return dir + "/benchhost_em_ZOVTDS_col.out"; }

// The error and severe lines of a collector log (the first few are printed).
long error_lines(const std::string& log_path) {
    long errors = 0;
    std::istringstream log(read_file(log_path));
    static const std::regex failure("^[A-Z]+[0-9]{4}[ES] \\(");
    for (std::string line; std::getline(log, line);)
        // GGN1505S is the collector's own last line at its end.
        if (std::regex_search(line, failure) && line.compare(0, 7, "GGN1505") != 0) {
            if (errors++ < 5) std::fprintf(stderr, "collector: %s\n", line.c_str());
        }
    return errors;
}

bool g_failed = false;

void idle_run(benchmark::State& state, bool with_ulv) {
    const int seconds = std::getenv("ZOV_BENCH_IDLE_SECONDS") != nullptr
                            ? std::atoi(std::getenv("ZOV_BENCH_IDLE_SECONDS"))
                            : 60;
    zovtds::TestEnv server;
    std::string error;
    if (!server.start(read_file(examples_dir() + "/demo-server.scn"), error)) {
        state.SkipWithError(("zovtds: " + error).c_str());
        g_failed = true;
        return;
    }
    const std::string dir = server.dir;
    for (const auto& e : fs::directory_iterator(examples_dir()))
        fs::copy(e.path(), dir + "/" + e.path().filename().string());
    if (!with_ulv) {
        std::ifstream in(dir + "/zemproc.ctl");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t at = text.find("process ulv;");
        if (at != std::string::npos) text = text.substr(0, at) + "end;\n";
        std::ofstream(dir + "/zemproc.ctl", std::ios::trunc) << text;
    }
    const std::vector<std::string> env = {"FREETDSCONF=" + server.conf_path,
                                          "COLL_HOME=" + dir,
                                          "COLL_CTL_HOME=" + dir,
                                          "COLL_OUT=" + dir,
                                          "COLL_PREFIX=" + dir,
                                          "TMPDIR=" + dir,
                                          "COLL_SERVERID=ZOVTDS",
                                          "COLL_LOGONID=demo",
                                          "COLL_PASSWORD==zovdemo",
                                          "COLL_VERSION=zem",
                                          "COLL_HOSTNAME=benchhost",
                                          "COLL_USESHM=0",
                                          "COLL_WRAPLINES=0",
                                          "PATH=/usr/bin:/bin"};
    double coll_cpu = 0, sleeper_cpu = 0;
    for (auto _ : state) {
        testprog::started_program coll, sleeper;
        if (!spawn(coll, zemcoll_path(), {}, env, dir, seconds) ||
            !spawn(sleeper, "/bin/sleep", {std::to_string(seconds + 5)}, env, dir, seconds)) {
            state.SkipWithError("cannot start the programs");
            break;
        }
        // Start-up (reading the definitions) is not idling: count from a second in.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double c0 = cpu_seconds(coll.pid()), s0 = cpu_seconds(sleeper.pid());
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        coll_cpu = cpu_seconds(coll.pid()) - c0;
        sleeper_cpu = cpu_seconds(sleeper.pid()) - s0;
        coll.stop();
        sleeper.stop();
    }
    // A log without the start line would count no errors for the wrong reason.
    if (read_file(collector_log(dir)).find("CML1530I") == std::string::npos) {
        state.SkipWithError("the collector's log has no start line");
        g_failed = true;
        return;
    }
    const long errors = error_lines(collector_log(dir));
    state.counters["collector_cpu_s"] = coll_cpu;
    state.counters["sleeper_cpu_s"] = sleeper_cpu;
    state.counters["core_percent"] = 100.0 * coll_cpu / seconds;
    state.counters["error_lines"] = static_cast<double>(errors);
    if (errors > 0) {
        state.SkipWithError("a cursor failed: the run measured an error path");
        g_failed = true;
    }
}

void BM_IdleCollector(benchmark::State& state) { idle_run(state, state.range(0) != 0); }
BENCHMARK(BM_IdleCollector)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

// The collector's own main, run in a child process: its sleeps advance its clock at once
// instead of waiting, each pass's sleep of whole seconds is counted, the bytes in use on
// the heap are taken at the end of the warm-up and after the measured passes, and then the
// collector is asked to stop as a signal would.
constexpr long kWarmPasses = 300;
constexpr long kMeasuredPasses = 2000;
long g_offset_ms = 0;
long g_passes = 0;
size_t g_heap_warm = 0;
int g_report_fd = -1;

void shifted_clock(struct timespec* out) {
    clock_gettime(CLOCK_REALTIME, out);
    out->tv_sec += g_offset_ms / 1000;
}

void counted_sleep(long ms) {
    g_offset_ms += ms;
    // Only the schedule sleeps whole seconds between passes.
    if (ms < 1000 || ms % 1000 != 0) return;
    ++g_passes;
    if (g_passes == kWarmPasses) g_heap_warm = mallinfo2().uordblks;
    if (g_passes == kWarmPasses + kMeasuredPasses) {
        const std::string report =
            std::to_string(g_heap_warm) + " " + std::to_string(mallinfo2().uordblks) + "\n";
        if (write(g_report_fd, report.data(), report.size()) < 0) _exit(122);
        raise(SIGTERM);
    }
}

void quick_exit_process(int status) {
    std::fflush(nullptr);
    _exit(status);
}

[[noreturn]] void collector_child(const std::string& dir, const std::string& conf) {
    if (chdir(dir.c_str()) != 0) _exit(120);
    const int out = open((dir + "/zemcoll.stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, 1);
    dup2(out, 2);
    const std::pair<const char*, std::string> vars[] = {
        {"FREETDSCONF", conf},          {"COLL_HOME", dir},
        {"COLL_CTL_HOME", dir},         {"COLL_OUT", dir},
        {"COLL_PREFIX", dir},           {"TMPDIR", dir},
        {"COLL_SERVERID", "ZOVTDS"},    {"COLL_LOGONID", "demo"},
        {"COLL_PASSWORD", "=zovdemo"},  {"COLL_VERSION", "zem"},
        {"COLL_HOSTNAME", "benchhost"}, {"COLL_USESHM", "0"},
        {"COLL_WRAPLINES", "0"}};
    for (const auto& [name, value] : vars) setenv(name, value.c_str(), 1);
    u_platform_set(u_platform_ops{shifted_clock, counted_sleep, quick_exit_process});
    char name[] = "zemcoll";
    char* argv[] = {name, nullptr};
    zemcoll_main(1, argv);
}

// The example set with every interval at one second, without the request server (its wait
// for requests runs on the real clock).
bool prepare_example_set(const std::string& dir) {
    for (const auto& e : fs::directory_iterator(examples_dir()))
        fs::copy(e.path(), dir + "/" + e.path().filename().string());
    for (const char* file : {"zemproc.ctl", "zemcoll.ctl"}) {
        std::ifstream in(dir + "/" + file);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        text = std::regex_replace(text, std::regex("\n(  interval )[0-9]+;"), "\n$011;");
        text = std::regex_replace(text, std::regex("\n(  sleep )[0-9]+;"), "\n$011;");
        if (std::string(file) == "zemproc.ctl") {
            const size_t at = text.find("process ulv;");
            if (at == std::string::npos) return false;
            text = text.substr(0, at) + "end;\n";
        }
        std::ofstream(dir + "/" + file, std::ios::trunc) << text;
    }
    return true;
}

void BM_CollectMemory(benchmark::State& state) {
    zovtds::TestEnv env;
    std::string error;
    if (!env.start(read_file(examples_dir() + "/demo-server.scn"), error)) {
        state.SkipWithError(("zovtds: " + error).c_str());
        g_failed = true;
        return;
    }
    if (!prepare_example_set(env.dir)) {
        state.SkipWithError("the example set has no process ulv");
        g_failed = true;
        return;
    }
    double per_pass = 0;
    long errors = 0;
    for (auto _ : state) {
        int report[2];
        if (pipe(report) != 0) break;
        const pid_t child = fork();
        if (child == 0) {
            close(report[0]);
            g_report_fd = report[1];
            collector_child(env.dir, env.conf_path);
        }
        close(report[1]);
        std::string text;
        char buf[128];
        for (ssize_t n; (n = read(report[0], buf, sizeof buf)) > 0;) text.append(buf, n);
        close(report[0]);
        int status = 0;
        waitpid(child, &status, 0);
        size_t warm = 0, end = 0;
        if (std::sscanf(text.c_str(), "%zu %zu", &warm, &end) != 2 || !WIFEXITED(status) ||
            WEXITSTATUS(status) != 0) {
            state.SkipWithError("the collector ended before its passes were done");
            g_failed = true;
            return;
        }
        per_pass = (static_cast<double>(end) - static_cast<double>(warm)) / kMeasuredPasses;
        // Every cursor of the set must succeed: an error or severe line means a pass
        // measured a failure path.
        errors += error_lines(collector_log(env.dir));
    }
    state.counters["heap_bytes_per_pass"] = per_pass;
    state.counters["passes"] = static_cast<double>(kMeasuredPasses);
    state.counters["error_lines"] = static_cast<double>(errors);
    std::fprintf(stderr, "heap bytes per pass %.2f over %ld passes, %ld error lines\n", per_pass,
                 kMeasuredPasses, errors);
    if (per_pass > 0 || errors > 0) {
        state.SkipWithError("the heap grew over the passes, or a pass failed");
        g_failed = true;
    }
}
BENCHMARK(BM_CollectMemory)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

// The memory and error checks fail the program, so that a run by hand or by a script sees it.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return g_failed ? 1 : 0;
}
