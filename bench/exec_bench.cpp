// A child printing 30000 lines of 200 bytes, read through u_exec_timed (wait and read with
// poll, lines split and copied into a chain) against a bare read loop over the same
// program's pipe. The "ratio" counter of BM_ExecTimedVsBareRead is u_exec_timed's time
// divided by the bare loop's, measured alternately in one run; it must stay under 2. Its
// "cpu_ratio" is the same for the parent's own CPU time (user and system, the child not
// counted); its target is 1.5 at most. Its "cpu_ratio_hand" compares the same CPU with a
// third side that builds the same chain by hand (blocking reads, memchr, lines copied into
// 64 KB blocks, one walk to release it): the least any reader returning these lines must
// spend beside the bare read. All sides must read the same bytes; our chain and the
// hand-built one must hold the same lines.
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
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/child_pipe.h"
#include "runtime/child.h"
#include "runtime/exec.h"

namespace {

using benchpipe::cpu_seconds;

const std::string& helper() {
    static const std::string path = [] {
        if (const char* p = std::getenv("ZOV_XH_LINES")) return std::string(p);
        return benchpipe::self_dir() + "/../runtime/xh_lines";
    }();
    return path;
}

constexpr const char* kParms = "30000 200";

// Appends the lines of a chain to *lines.
void chain_lines(const r_exec_chain* chain, std::vector<std::string>* lines) {
    for (const r_exec_chain* c = chain; c; c = c->next)
        lines->emplace_back(c->line, static_cast<size_t>(c->size));
}

// u_exec_timed with the chain's release; returns the bytes of the lines collected, each
// counted with its newline (-1 when the run did not end well). *checkCpu (may be null)
// receives the CPU seconds of that count, which is the benchmark's check, not the reader's
// work; lines (may be null) receives the lines.
long run_exec_timed(double* checkCpu = nullptr, std::vector<std::string>* lines = nullptr) {
    execopt o{};
    r_exec_chain* chain = u_exec_timed(helper().c_str(), kParms, 60, &o);
    const double c0 = checkCpu ? cpu_seconds() : 0;
    long bytes = 0;
    for (r_exec_chain* c = chain; c; c = c->next) bytes += c->size + 1;
    if (checkCpu) *checkCpu = cpu_seconds() - c0;
    if (lines) chain_lines(chain, lines);
    u_free_r_chain(chain);
    return o.processRC == pRC_ok ? bytes : -1;
}

// Starts the same program the way the child layer does (posix_spawn), reads the pipe to its
// end with a 64 KB buffer and reaps it; returns the bytes read.
long run_bare_read() {
    char* argv[] = {const_cast<char*>("xh_lines"), const_cast<char*>("30000"),
                    const_cast<char*>("200"), nullptr};
    pid_t pid = -1;
    const int fd = benchpipe::spawn_reading(helper().c_str(), argv, &pid);
    if (fd < 0) return -1;
    static char buf[65536];
    long total = 0;
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) total += n;
    close(fd);
    int status;
    waitpid(pid, &status, 0);
    return total;
}

// The same chain built by hand, as cheaply as it can be: the pipe read to its end with the
// same blocking 64 KB reads as the bare loop, each line found with memchr and copied with
// its record into 64 KB blocks, linked in order; after the same check as our side, the
// release walks the chain once and frees the blocks. What any reader must do beside the
// bare read to hand back this output. Returns the bytes as run_exec_timed does.
long run_hand_chain(double* checkCpu = nullptr, std::vector<std::string>* lines = nullptr) {
    char* argv[] = {const_cast<char*>("xh_lines"), const_cast<char*>("30000"),
                    const_cast<char*>("200"), nullptr};
    pid_t pid = -1;
    const int fd = benchpipe::spawn_reading(helper().c_str(), argv, &pid);
    if (fd < 0) return -1;
    constexpr size_t kBlock = 65536;
    std::vector<char*> blocks;
    char* block = nullptr;
    size_t block_size = 0;
    size_t used = 0;
    r_exec_chain* head = nullptr;
    r_exec_chain** tail = &head;
    benchpipe::read_lines(fd, [&](const char* p, const char* nl) {
        const size_t len = static_cast<size_t>(nl - p);
        const size_t need = (sizeof(r_exec_chain) + len + 1 + 7) & ~size_t{7};
        if (used + need > block_size) {
            block_size = std::max(kBlock, need + 16);  // a longer line gets a block of its own
            block = static_cast<char*>(std::malloc(block_size));
            blocks.push_back(block);
            used = 16;
        }
        auto* el = reinterpret_cast<r_exec_chain*>(block + used);
        used += need;
        el->next = nullptr;
        el->size = static_cast<int32_t>(len);
        std::memcpy(el->line, p, len);
        el->line[len] = '\0';
        *tail = el;
        tail = &el->next;
    });
    int status;
    waitpid(pid, &status, 0);
    const double c0 = checkCpu ? cpu_seconds() : 0;
    long bytes = 0;
    for (r_exec_chain* c = head; c; c = c->next) bytes += c->size + 1;
    if (checkCpu) *checkCpu = cpu_seconds() - c0;
    if (lines) chain_lines(head, lines);
    long released = 0;
    for (r_exec_chain* c = head; c;) {
        r_exec_chain* next = c->next;
        ++released;
        c = next;
    }
    benchmark::DoNotOptimize(released);
    for (char* b : blocks) std::free(b);
    return bytes;
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
    {
        // Our chain and the hand-built one hold the same lines.
        std::vector<std::string> ours, hand;
        run_exec_timed(nullptr, &ours);
        run_hand_chain(nullptr, &hand);
        if (ours != hand || ours.size() != 30000) {
            state.SkipWithError("our chain and the hand-built one differ");
            return;
        }
    }
    double execSeconds = 0, bareSeconds = 0, execCpu = 0, bareCpu = 0, handCpu = 0;
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
        double handCheck = 0;
        long hand = run_hand_chain(&handCheck);
        double c3 = cpu_seconds();
        if (ours != bare || hand != bare || bare != 30000L * 201)
            state.SkipWithError("the sides differ");
        execSeconds += std::chrono::duration<double>(t1 - t0).count();
        bareSeconds += std::chrono::duration<double>(t2 - t1).count();
        // The checks' CPU is taken from the side that ran them.
        execCpu += c1 - c0 - check;
        bareCpu += c2 - c1;
        handCpu += c3 - c2 - handCheck;
    }
    state.counters["ratio"] = bareSeconds > 0 ? execSeconds / bareSeconds : 0;
    // The parent's own CPU (children not counted): reading, splitting and storing the lines
    // against reading the bytes ...
    state.counters["cpu_ratio"] = bareCpu > 0 ? execCpu / bareCpu : 0;
    // ... and against building the same chain by hand with blocking reads.
    state.counters["cpu_ratio_hand"] = handCpu > 0 ? execCpu / handCpu : 0;
    const double iters = static_cast<double>(state.iterations());
    state.counters["cpu_ms_ours"] = execCpu * 1e3 / iters;
    state.counters["cpu_ms_bare"] = bareCpu * 1e3 / iters;
    state.counters["cpu_ms_hand"] = handCpu * 1e3 / iters;
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
