// The launch and read path of a fetch exit: a child printing 10,000 lines of 200 bytes, run
// by run_script_command as a plain fetch exit runs it (u_exec_argv_status: no shell, a
// time limit, at most 10,000 lines kept), the lines split and copied into a chain, against
// two baselines over the same program's pipe, alternately in one run:
// - "hand": the same chain built by hand, as cheaply as it can be (blocking 64 KB reads,
//   memchr, lines copied with their records into 64 KB blocks, one walk to release it): the
//   least any reader handing back these lines must spend. The headline counters compare with
//   it: "ratio" (wall time) and "cpu_ratio" (the parent's own CPU, user and system, the child
//   not counted).
// - "bare": a read loop that only reads the bytes, splitting nothing: "ratio_bare_read" and
//   "cpu_ratio_bare_read" (a floor, not a fair comparison: it hands back no lines).
// All sides must read the same bytes; our chain and the hand-built one must hold the same
// lines.
//
// The process keeps its heap between runs (M_TRIM_THRESHOLD raised), as a long-running
// collector does: otherwise glibc hands the freed chain (about 2 MB) back to the system after
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

#include "acquire/script_words.h"
#include "bench/child_pipe.h"
#include "model/cursor.h"
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

constexpr int kLines = 10000;  // the most lines a plain fetch exit keeps
constexpr const char* kLinesText = "10000";
constexpr long kBytes = kLines * 201L;

// Appends the lines of a chain to *lines.
void chain_lines(const r_exec_chain* chain, std::vector<std::string>* lines) {
    for (const r_exec_chain* c = chain; c; c = c->next)
        lines->emplace_back(c->line, static_cast<size_t>(c->size));
}

// The fetch exit's run with the chain's release; returns the bytes of the lines collected,
// each counted with its newline (-1 when the run did not end well). *checkCpu (may be null)
// receives the CPU seconds of that count, which is the benchmark's check, not the reader's
// work; lines (may be null) receives the lines.
long run_fetch_exit(double* checkCpu = nullptr, std::vector<std::string>* lines = nullptr) {
    static curs cursor = [] {
        curs c{};
        std::memcpy(c.cur_name, "EXECB", 6);
        return c;
    }();
    script_command cmd;
    cmd.command = helper();
    cmd.parameters = std::string(kLinesText) + " 200";
    cmd.words = {helper(), kLinesText, "200"};
    script_outcome outcome;
    r_exec_chain* chain = run_script_command(&cursor, cmd, script_run::wait, 60, kLines, &outcome);
    const double c0 = checkCpu ? cpu_seconds() : 0;
    long bytes = 0;
    for (r_exec_chain* c = chain; c; c = c->next) bytes += c->size + 1;
    if (checkCpu) *checkCpu = cpu_seconds() - c0;
    if (lines) chain_lines(chain, lines);
    u_free_r_chain(chain);
    return outcome.process_rc == pRC_ok && outcome.wait_status == 0 ? bytes : -1;
}

// Starts the same program the way the child layer does (posix_spawn), reads the pipe to its
// end with a 64 KB buffer and reaps it; returns the bytes read.
long run_bare_read() {
    char* argv[] = {const_cast<char*>("xh_lines"), const_cast<char*>(kLinesText),
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
    char* argv[] = {const_cast<char*>("xh_lines"), const_cast<char*>(kLinesText),
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

void BM_FetchExitRead(benchmark::State& state) {
    for (auto _ : state) {
        long bytes = run_fetch_exit();
        if (bytes != kBytes) state.SkipWithError("the fetch exit's run lost lines");
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_FetchExitRead)->Unit(benchmark::kMillisecond);

void BM_HandChain(benchmark::State& state) {
    for (auto _ : state) {
        long bytes = run_hand_chain();
        if (bytes != kBytes) state.SkipWithError("the hand-built chain lost lines");
        benchmark::DoNotOptimize(bytes);
    }
}
BENCHMARK(BM_HandChain)->Unit(benchmark::kMillisecond);

void BM_FetchExitVsHandChain(benchmark::State& state) {
    using clock = std::chrono::steady_clock;
    {
        // Our chain and the hand-built one hold the same lines.
        std::vector<std::string> ours, hand;
        run_fetch_exit(nullptr, &ours);
        run_hand_chain(nullptr, &hand);
        if (ours != hand || ours.size() != static_cast<size_t>(kLines)) {
            state.SkipWithError("our chain and the hand-built one differ");
            return;
        }
    }
    double oursSeconds = 0, handSeconds = 0, bareSeconds = 0;
    double oursCpu = 0, handCpu = 0, bareCpu = 0;
    for (auto _ : state) {
        auto t0 = clock::now();
        double c0 = cpu_seconds();
        double check = 0;
        long ours = run_fetch_exit(&check);
        auto t1 = clock::now();
        double c1 = cpu_seconds();
        double handCheck = 0;
        long hand = run_hand_chain(&handCheck);
        auto t2 = clock::now();
        double c2 = cpu_seconds();
        long bare = run_bare_read();
        auto t3 = clock::now();
        double c3 = cpu_seconds();
        if (ours != bare || hand != bare || bare != kBytes) state.SkipWithError("the sides differ");
        oursSeconds += std::chrono::duration<double>(t1 - t0).count();
        handSeconds += std::chrono::duration<double>(t2 - t1).count();
        bareSeconds += std::chrono::duration<double>(t3 - t2).count();
        // The checks' CPU is taken from the side that ran them.
        oursCpu += c1 - c0 - check;
        handCpu += c2 - c1 - handCheck;
        bareCpu += c3 - c2;
    }
    // The headline: against the hand-built chain, which hands back the same lines ...
    state.counters["ratio"] = handSeconds > 0 ? oursSeconds / handSeconds : 0;
    state.counters["cpu_ratio"] = handCpu > 0 ? oursCpu / handCpu : 0;
    // ... and against reading the bytes only, a floor that splits nothing.
    state.counters["ratio_bare_read"] = bareSeconds > 0 ? oursSeconds / bareSeconds : 0;
    state.counters["cpu_ratio_bare_read"] = bareCpu > 0 ? oursCpu / bareCpu : 0;
    const double iters = static_cast<double>(state.iterations());
    state.counters["cpu_ms_ours"] = oursCpu * 1e3 / iters;
    state.counters["cpu_ms_hand"] = handCpu * 1e3 / iters;
    state.counters["cpu_ms_bare"] = bareCpu * 1e3 / iters;
}
BENCHMARK(BM_FetchExitVsHandChain)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("ZOV_BENCH_COLD_HEAP")) mallopt(M_TRIM_THRESHOLD, 256 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
