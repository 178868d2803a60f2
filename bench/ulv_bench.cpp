// The request server end to end: zemcoll collects two interval cursors from the scripted
// test server once (K1: one row of 1024 bytes, M1: 1024 such rows) and serves them; this
// process asks for one of them through zovcomm as zovprobe does (init, get, no printing).
// The baseline is a bare exchange of the same bytes (bench/bare_exchange.h, as
// BM_BareSemaphore and BM_BarePipe of comm_bench): over shared memory the semaphore
// ping-pong, over named pipes the pipe pair (with the reply pipe's 1 MB of room).
//
// Each benchmark makes 2 x kMeasurements measurements, alternately unpinned and pinned;
// one measurement is a number of requests and as many bare exchanges, alternated one by
// one (which of the two goes first swaps every round), and its ratio is the requests' mean
// time over the bare exchanges'. Counters: `unpinned_ratio`, the median ratio of the
// unpinned measurements, as users run requester and collector (where the scheduler puts
// each process is its own choice, for the baseline too); `pinned_ratio`, the same with
// this process, the collector and the bare child pinned to the CPU this process is on (a
// wake-up across CPUs then costs nothing: what is left is the work of each side);
// `ulv_us` and `bare_us`, the median mean times of the unpinned measurements. Targets
// unpinned: named pipes at most 2.5 at 1 KB and 1.5 at 1 MB, shared memory at most 2.5 at
// 1 KB and 2 at 1 MB. BM_UlvConcurrent runs eight requester processes at once, each asking
// 50 times for five cursors (K1 to K5, one 1 KB row each: 250 requests), and counts
// failures, wrong answers, requests a second, the median and the slowest get; at the end
// the shared-memory requests a second are printed as a share of the named pipes' of the
// same run. At the end each collector is asked to shut down ("SHUTDOWN") and this process
// detaches, so no process or IPC object is left.
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

// Pins this process and `peers` to the CPU this process is on, until destroyed; each
// gets back the CPUs it had.
class OneCpu {
  public:
    explicit OneCpu(std::vector<pid_t> peers) : peers_(std::move(peers)) {
        const int cpu = sched_getcpu();
        if (cpu < 0) return;
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(cpu, &one);
        peers_.insert(peers_.begin(), 0);
        was_.resize(peers_.size());
        for (size_t i = 0; i < peers_.size(); ++i) {
            if (peers_[i] < 0) continue;
            sched_getaffinity(peers_[i], sizeof was_[i], &was_[i]);
            sched_setaffinity(peers_[i], sizeof one, &one);
        }
    }
    ~OneCpu() {
        for (size_t i = 0; i < was_.size(); ++i)
            if (peers_[i] >= 0) sched_setaffinity(peers_[i], sizeof was_[i], &was_[i]);
    }
    OneCpu(const OneCpu&) = delete;
    OneCpu& operator=(const OneCpu&) = delete;

  private:
    std::vector<pid_t> peers_;
    std::vector<cpu_set_t> was_;
};

double seconds_of(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Measurements of each kind (unpinned and pinned) per benchmark: the ratios' median is
// reported.
constexpr int kMeasurements = 7;

// A bare exchange of either kind.
struct Bare {
    std::unique_ptr<bare::Semaphore> sem;
    std::unique_ptr<bare::Pipe> pipe;
    pid_t child() const { return sem ? sem->child() : pipe->child(); }
    void round_trip(long bytes, std::string& out) {
        if (sem)
            sem->round_trip(bytes, out);
        else
            pipe->round_trip(bytes, out);
    }
};

struct Measurement {
    double ulv_us = 0;
    double bare_us = 0;
    double ratio() const { return bare_us > 0 ? ulv_us / bare_us : 0; }
};

// `rounds` requests for `name` and as many bare exchanges of `bytes`, alternated, after one
// of each untimed. False (error in the anchor) when a request failed or came back short.
bool measure(Serving* s, const char* name, long bytes, Bare& bare_exchange, int rounds,
             Measurement* m) {
    std::string out;
    double ulv = 0, bare_time = 0;
    for (int i = -1; i < rounds; ++i) {
        const bool bare_first = i % 2 != 0;
        auto t0 = std::chrono::steady_clock::now();
        if (bare_first) bare_exchange.round_trip(bytes, out);
        auto t1 = std::chrono::steady_clock::now();
        auto* chain = static_cast<curs_list*>(zovcomm("get", s->anchor, name));
        auto t2 = std::chrono::steady_clock::now();
        if (!bare_first) bare_exchange.round_trip(bytes, out);
        auto t3 = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(out.data());
        if (!chain || static_cast<long>(chain->rows) * chain->len != bytes ||
            out.size() != static_cast<size_t>(bytes))
            return false;
        if (i < 0) continue;
        ulv += seconds_of(t2 - t1);
        bare_time += seconds_of(bare_first ? t1 - t0 : t3 - t2);
    }
    m->ulv_us = ulv / rounds * 1e6;
    m->bare_us = bare_time / rounds * 1e6;
    return true;
}

double median_of(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t h = v.size() / 2;
    return v.size() % 2 ? v[h] : (v[h - 1] + v[h]) / 2;
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
    // About a tenth of a second a measurement.
    const int rounds = bytes > (64 << 10) ? 40 : 400;
    Bare bare_exchange;
    if (shm)
        bare_exchange.sem = std::make_unique<bare::Semaphore>();
    else
        bare_exchange.pipe = std::make_unique<bare::Pipe>(1 << 20);
    std::vector<double> unpinned, pinned, ulv_us, bare_us;
    int k = 0;
    for (auto _ : state) {
        const bool pin = k++ % 2 != 0;
        std::unique_ptr<OneCpu> one_cpu;
        if (pin)
            one_cpu =
                std::make_unique<OneCpu>(std::vector<pid_t>{s->coll.pid(), bare_exchange.child()});
        Measurement m;
        if (!measure(s, name, bytes, bare_exchange, rounds, &m)) {
            state.SkipWithError(s->anchor->return_msg);
            return;
        }
        (pin ? pinned : unpinned).push_back(m.ratio());
        if (!pin) {
            ulv_us.push_back(m.ulv_us);
            bare_us.push_back(m.bare_us);
        }
    }
    state.counters["bytes"] = static_cast<double>(bytes);
    state.counters["ulv_us"] = median_of(ulv_us);
    state.counters["bare_us"] = median_of(bare_us);
    state.counters["unpinned_ratio"] = median_of(unpinned);
    state.counters["pinned_ratio"] = median_of(pinned);
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
BENCHMARK(BM_UlvShm)->Arg(1)->Arg(1024)->Iterations(2 * kMeasurements)->UseRealTime();
BENCHMARK(BM_UlvPipe)->Arg(1)->Arg(1024)->Iterations(2 * kMeasurements)->UseRealTime();
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
