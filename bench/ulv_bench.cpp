// The request server end to end: zemcoll collects two interval cursors from the scripted
// test server once (K1: one row of 1024 bytes, M1: 1024 such rows) and serves them; this
// process asks for one of them through zovcomm as zovprobe does (init, get, no printing).
// Each iteration runs one such request and one bare exchange of the same bytes
// (bench/bare_exchange.h, as BM_BareSemaphore and BM_BarePipe of comm_bench): over
// shared memory against the semaphore ping-pong, over named pipes against the pipe pair.
// The counters are the mean microseconds of each and "ratio", the request's time over
// the bare exchange's; the targets are at most 1.5 at 1 MB and 2 at 1 KB on both
// transports. The bare pipe has the reply pipe's 1 MB of room. Both exchanges of a
// measurement run on one CPU (this process, the collector and the bare child pinned to the
// CPU this process is on): where the scheduler puts each peer is its own choice, and on a
// virtual machine a wake-up across CPUs costs several times a whole round trip on one, so
// a ratio of unlike placements measures the placement, not the work. BM_UlvConcurrent runs
// eight requester processes at once, each asking 50 times for five cursors (K1 to K5, one
// 1 KB row each: 250 requests), and counts failures, wrong answers, requests a second, the
// median and the slowest get; at the end the shared-memory requests a second are
// printed as a share of the named pipes' of the same run. At the end each collector is asked to
// shut down ("SHUTDOWN") and this process detaches, so no process or IPC object is left.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bare_exchange.h"
#include "comm/zovcomm.h"
#include "runtime/env.h"
#include "testing/zemcoll_tds.h"

namespace {

// Four char(255) columns and one char(4): 1024 bytes a row.
const char* const kScenario = R"(
batch select a, b, c, d, e from k1
  result A:char(255) B:char(255) C:char(255) D:char(255) E:char(4)
  row 'a' 'b' 'c' 'd' 'e'
batch select a, b, c, d, e from m1
  result A:char(255) B:char(255) C:char(255) D:char(255) E:char(4)
  repeat 1024
  row 'a{i}' 'b' 'c' 'd' 'e'
)";

std::string cursor(const char* name, const char* table, int limit) {
    return std::string("cursor ") + name + ";\n  INSERT INTO " + name +
           " (A, B, C, D, E) VALUES (:A, :B, :C, :D, :E);\n  insert_select select a, b, c, d, e "
           "from " +
           table + ";\n  interval 3600;\n  limit " + std::to_string(limit) + ";\n  class 1;\n";
}

// One collector per transport, started on first use and kept for the run; the requester
// is this process.
struct Serving {
    zemcoll_tds::Collector coll;
    comm_anchor* anchor = nullptr;
    std::string error;
};

std::unique_ptr<Serving> made[2];
// BM_UlvConcurrent's requests a second: named pipes, shared memory.
double per_second[2] = {0, 0};

void use_transport(bool shm) {
    static char useshm[2];
    useshm[0] = shm ? '1' : '0';
    env_vars.useshm = useshm;
}

// Asks each collector to shut down, waits for it, and lets go of the channel.
void end_serving() {
    for (const bool shm : {false, true}) {
        std::unique_ptr<Serving>& s = made[shm ? 1 : 0];
        if (!s) continue;
        use_transport(shm);
        if (s->anchor) {
            zovcomm("get", s->anchor, "SHUTDOWN");
            if (s->coll.wait_exit(30) == -1) fprintf(stderr, "collector did not shut down\n");
            zovcomm("term", s->anchor);
            s->anchor = nullptr;
        }
        if (shm) zovcomm("shut", static_cast<comm_anchor*>(nullptr));
        s.reset();
    }
}

Serving* serving(bool shm) {
    std::unique_ptr<Serving>& s = made[shm ? 1 : 0];
    if (s) return s.get();
    s = std::make_unique<Serving>();
    std::string cursors;
    for (const char* k : {"K1", "K2", "K3", "K4", "K5"}) cursors += cursor(k, "k1", 10);
    if (!s->coll.start(kScenario, cursors + cursor("M1", "m1", 2000) + "end;\n", shm, 10, s->error))
        return s.get();
    // The requester reads the same configuration from its environment.
    for (const std::string& e : s->coll.environment()) {
        const size_t eq = e.find('=');
        setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
    }
    env_vars = ENV_VARS{};
    get_envs(&env_vars);
    wait_timeout = 0;
    if (shm) zovcomm("initsm");
    s->anchor = static_cast<comm_anchor*>(zovcomm("init"));
    if (!s->anchor) s->error = "zovcomm init failed";
    // The collection runs at start: wait until M1 has its rows.
    for (int i = 0; i < 100 && s->anchor; ++i) {
        auto* chain = static_cast<curs_list*>(zovcomm("get", s->anchor, "M1"));
        if (chain && chain->rows == 1024) return s.get();
        usleep(100000);
    }
    if (s->error.empty()) s->error = "M1 never had its rows";
    return s.get();
}

// Pins this process and `peer` to the CPU this process is on, until destroyed; children
// forked meanwhile inherit it.
class OneCpu {
  public:
    explicit OneCpu(pid_t peer) : peer_(peer) {
        sched_getaffinity(0, sizeof was_, &was_);
        const int cpu = sched_getcpu();
        if (cpu < 0) return;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        sched_setaffinity(0, sizeof one, &one);
        if (peer_ > 0) sched_setaffinity(peer_, sizeof one, &one);
    }
    ~OneCpu() {
        sched_setaffinity(0, sizeof was_, &was_);
        if (peer_ > 0) sched_setaffinity(peer_, sizeof was_, &was_);
    }
    OneCpu(const OneCpu&) = delete;
    OneCpu& operator=(const OneCpu&) = delete;

  private:
    pid_t peer_;
    cpu_set_t was_{};
};

double seconds_of(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void BM_UlvVsBare(benchmark::State& state, bool shm) {
    Serving* s = serving(shm);
    if (!s->error.empty()) {
        state.SkipWithError(s->error.c_str());
        return;
    }
    use_transport(shm);
    const char* name = state.range(0) == 1 ? "K1" : "M1";
    auto* chain = static_cast<curs_list*>(zovcomm("get", s->anchor, name));
    if (!chain || chain->rows != state.range(0)) {
        state.SkipWithError(chain ? "wrong row count" : s->anchor->return_msg);
        return;
    }
    const long bytes = static_cast<long>(chain->rows) * chain->len;
    const OneCpu pinned(s->coll.pid());
    bare::Semaphore* sem = shm ? new bare::Semaphore : nullptr;
    bare::Pipe* pipe = shm ? nullptr : new bare::Pipe(1 << 20);
    std::string out;
    double ulv = 0, bare_time = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        chain = static_cast<curs_list*>(zovcomm("get", s->anchor, name));
        auto t1 = std::chrono::steady_clock::now();
        if (!chain || static_cast<long>(chain->rows) * chain->len != bytes) {
            state.SkipWithError(s->anchor->return_msg);
            break;
        }
        if (shm)
            sem->round_trip(bytes, out);
        else
            pipe->round_trip(bytes, out);
        auto t2 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(out.data());
        ulv += seconds_of(t1 - t0);
        bare_time += seconds_of(t2 - t1);
    }
    delete sem;
    delete pipe;
    const double n = static_cast<double>(state.iterations());
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["ulv_us"] = ulv / n * 1e6;
    state.counters["bare_us"] = bare_time / n * 1e6;
    state.counters["ratio"] = bare_time > 0 ? ulv / bare_time : 0;
}

constexpr int kGets = 50;  // gets of each requester
constexpr int kNames = 5;  // cursors a get asks for
constexpr int kRequests = kGets * kNames;

// One requester process: 50 gets of K1 to K5, each answer checked; writes its failed
// requests, wrong answers and the microseconds of each get (five answers) to `fd`.
[[noreturn]] void concurrent_requester(int fd) {
    wait_timeout = 0;
    auto* anchor = static_cast<comm_anchor*>(zovcomm("init"));
    std::vector<int32_t> record(2 + kGets, 0);
    for (int i = 0; i < kGets; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        auto* chain =
            anchor ? static_cast<curs_list*>(zovcomm("get", anchor, "K1 K2 K3 K4 K5")) : nullptr;
        record[2 + i] = static_cast<int32_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                                 std::chrono::steady_clock::now() - t0)
                                                 .count());
        if (!chain) {
            record[0] += kNames;
            continue;
        }
        int n = 0;
        for (curs_list* c = chain; c; c = c->next, ++n) {
            if (c->rows != 1 || c->len != 1024 || c->data[0] != 'a' || c->data[255] != 'b' ||
                c->cursor[0] != 'K' || c->cursor[1] != '1' + n)
                record[1]++;
        }
        if (n != kNames) record[1] += kNames;
    }
    if (anchor) zovcomm("term", anchor);
    const ssize_t n = write(fd, record.data(), record.size() * sizeof(int32_t));
    _exit(n == static_cast<ssize_t>(record.size() * sizeof(int32_t)) ? 0 : 1);
}

void BM_UlvConcurrent(benchmark::State& state, bool shm) {
    Serving* s = serving(shm);
    if (!s->error.empty()) {
        state.SkipWithError(s->error.c_str());
        return;
    }
    use_transport(shm);
    long requests = 0, failures = 0, wrong = 0;
    std::vector<int32_t> times;
    const auto begun = std::chrono::steady_clock::now();
    for (auto _ : state) {
        std::vector<std::pair<pid_t, int>> kids;
        for (int k = 0; k < 8; ++k) {
            int fds[2];
            if (pipe(fds) != 0) std::abort();
            const pid_t pid = fork();
            if (pid == 0) {
                close(fds[0]);
                concurrent_requester(fds[1]);
            }
            close(fds[1]);
            kids.emplace_back(pid, fds[0]);
        }
        for (auto& [pid, fd] : kids) {
            std::vector<int32_t> record(2 + kGets, 0);
            size_t got = 0;
            char* at = reinterpret_cast<char*>(record.data());
            for (ssize_t n;
                 got < record.size() * 4 && (n = read(fd, at + got, record.size() * 4 - got)) > 0;)
                got += static_cast<size_t>(n);
            close(fd);
            int status = 0;
            waitpid(pid, &status, 0);
            requests += kRequests;
            if (got != record.size() * 4) {
                failures += kRequests;
                continue;
            }
            failures += record[0];
            wrong += record[1];
            times.insert(times.end(), record.begin() + 2, record.end());
        }
    }
    const double seconds = seconds_of(std::chrono::steady_clock::now() - begun);
    std::sort(times.begin(), times.end());
    per_second[shm ? 1 : 0] = seconds > 0 ? static_cast<double>(requests) / seconds : 0;
    state.counters["requests"] = static_cast<double>(requests);
    state.counters["req_per_s"] = per_second[shm ? 1 : 0];
    state.counters["failures"] = static_cast<double>(failures);
    state.counters["wrong"] = static_cast<double>(wrong);
    // A get is five answers: its time bounds the slowest of them.
    state.counters["median_get_ms"] = times.empty() ? 0 : times[times.size() / 2] / 1000.0;
    state.counters["max_get_ms"] = times.empty() ? 0 : times.back() / 1000.0;
}

void BM_UlvConcurrentShm(benchmark::State& state) { BM_UlvConcurrent(state, true); }
void BM_UlvConcurrentPipe(benchmark::State& state) { BM_UlvConcurrent(state, false); }

void BM_UlvShm(benchmark::State& state) { BM_UlvVsBare(state, true); }
void BM_UlvPipe(benchmark::State& state) { BM_UlvVsBare(state, false); }

}  // namespace

// The argument is the row count: 1 (1 KB) or 1024 (1 MB).
BENCHMARK(BM_UlvShm)->Arg(1)->Arg(1024)->UseRealTime();
BENCHMARK(BM_UlvPipe)->Arg(1)->Arg(1024)->UseRealTime();
BENCHMARK(BM_UlvConcurrentShm)->Iterations(1)->UseRealTime();
BENCHMARK(BM_UlvConcurrentPipe)->Iterations(1)->UseRealTime();

int main(int argc, char** argv) {
    // As zovprobe: a reader that went away is seen as EPIPE, never as a signal (so the
    // transport need not set a handler around every get).
    signal(SIGPIPE, SIG_IGN);
    // As in comm_bench: large buffers from the heap, not fresh mappings each time.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    if (per_second[0] > 0 && per_second[1] > 0) {
        printf("UlvConcurrent: shared memory %.0f requests/s, named pipes %.0f: %.0f%%\n",
               per_second[1], per_second[0], 100.0 * per_second[1] / per_second[0]);
    }
    end_serving();
    benchmark::Shutdown();
    return 0;
}
