// A child printing 30000 lines of 200 bytes, read through u_exec_timed (wait and read with
// poll, lines split and copied into a chain) against a bare read loop over the same
// program's pipe. The "ratio" counter of BM_ExecTimedVsBareRead is u_exec_timed's time
// divided by the bare loop's, measured alternately in one run; it must stay under 2. Its
// "cpu_ratio" is the same for the parent's own CPU time (user and system, the child not
// counted); it must stay at or under 1.5. Both sides must read the same bytes.
//
// The process keeps its heap between runs (M_TRIM_THRESHOLD raised), as a long-running
// collector does: otherwise glibc hands the freed chain (about 7 MB) back to the system after
// every iteration and the next run spends its time in page faults, which measures the
// kernel (on a virtual machine, tens of microseconds per fault) rather than the reader.
// ZOV_BENCH_COLD_HEAP=1 keeps glibc's default to show that case.
//
// The child is the test helper xh_lines, found beside the runtime's test programs of the
// same build (../runtime/xh_lines from this program), or named by ZOV_XH_LINES.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <malloc.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <string>

#include "runtime/child.h"
#include "runtime/exec.h"

extern char** environ;

namespace {

// CPU seconds of this process (user and system), its children not counted.
double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

const std::string& helper() {
    static const std::string path = [] {
        if (const char* p = std::getenv("ZOV_XH_LINES")) return std::string(p);
        char self[4096];
        ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
        std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
        dir = dir.substr(0, dir.rfind('/'));
        return dir + "/../runtime/xh_lines";
    }();
    return path;
}

constexpr const char* kParms = "30000 200";

// u_exec_timed with the chain's release; returns the bytes of the lines collected, each
// counted with its newline (-1 when the run did not end well). *checkCpu (may be null)
// receives the CPU seconds of that count, which is the benchmark's check, not the reader's
// work.
long run_exec_timed(double* checkCpu = nullptr) {
    execopt o{};
    r_exec_chain* chain = u_exec_timed(helper().c_str(), kParms, 60, &o);
    const double c0 = checkCpu ? cpu_seconds() : 0;
    long bytes = 0;
    for (r_exec_chain* c = chain; c; c = c->next) bytes += c->size + 1;
    if (checkCpu) *checkCpu = cpu_seconds() - c0;
    u_free_r_chain(chain);
    return o.processRC == pRC_ok ? bytes : -1;
}

// Starts the same program the way the child layer does (posix_spawn), reads the pipe to its
// end with a 64 KB buffer and reaps it; returns the bytes read.
long run_bare_read() {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    char* argv[] = {const_cast<char*>("xh_lines"), const_cast<char*>("30000"),
                    const_cast<char*>("200"), nullptr};
    pid_t pid = -1;
    int e = posix_spawn(&pid, helper().c_str(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (e != 0) {
        close(fds[0]);
        return -1;
    }
    static char buf[65536];
    long total = 0;
    ssize_t n;
    while ((n = read(fds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) total += n;
    close(fds[0]);
    int status;
    waitpid(pid, &status, 0);
    return total;
}

void BM_ExecTimed(benchmark::State& state) {
    for (auto _ : state) {
        long bytes = run_exec_timed();
        if (bytes != 30000L * 201) state.SkipWithError("u_exec_timed did not return 30000 lines");
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_ExecTimed)->Unit(benchmark::kMillisecond);

void BM_BareRead(benchmark::State& state) {
    for (auto _ : state) {
        long bytes = run_bare_read();
        if (bytes != 30000L * 201) state.SkipWithError("bare read got a short output");
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_BareRead)->Unit(benchmark::kMillisecond);

void BM_ExecTimedVsBareRead(benchmark::State& state) {
    using clock = std::chrono::steady_clock;
    double execSeconds = 0, bareSeconds = 0, execCpu = 0, bareCpu = 0;
    for (auto _ : state) {
        auto t0 = clock::now();
        double c0 = cpu_seconds();
        double check = 0;
        long ours = run_exec_timed(&check);
        auto t1 = clock::now();
        double c1 = cpu_seconds();
        long bare = run_bare_read();
        auto t2 = clock::now();
        double c2 = cpu_seconds();
        if (ours != bare || bare != 30000L * 201) state.SkipWithError("the two sides differ");
        execSeconds += std::chrono::duration<double>(t1 - t0).count();
        bareSeconds += std::chrono::duration<double>(t2 - t1).count();
        // The check's CPU is taken from our side only; the bare side starts at c1.
        execCpu += c1 - c0 - check;
        bareCpu += c2 - c1;
    }
    state.counters["ratio"] = bareSeconds > 0 ? execSeconds / bareSeconds : 0;
    // The parent's own CPU (children not counted): reading, splitting and storing the lines
    // against reading the bytes.
    state.counters["cpu_ratio"] = bareCpu > 0 ? execCpu / bareCpu : 0;
    state.counters["cpu_ms_ours"] = execCpu * 1e3 / static_cast<double>(state.iterations());
    state.counters["cpu_ms_bare"] = bareCpu * 1e3 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ExecTimedVsBareRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("ZOV_BENCH_COLD_HEAP")) mallopt(M_TRIM_THRESHOLD, 256 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
