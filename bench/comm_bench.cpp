// Round trip of one request with a 1 KB and a 1 MB answer through zovcomm, over shared
// memory and over FIFOs, each against a bare exchange of the same bytes between two
// processes in the same run: a semaphore ping-pong through one 99000-byte chunk area
// (the transport's own chunking) and a pipe ping-pong. A collector stub runs in a child
// process; the requester is this process. Compare the times of
//   BM_ShmZovcomm/N with BM_BareSemaphore/N, and BM_FifoZovcomm/N with BM_BarePipe/N.
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/bare_exchange.h"
#include "comm/zovcomm.h"
#include "runtime/alloc.h"
#include "runtime/env.h"

namespace {

const std::string& payload() {
    static const std::string bytes = [] {
        std::string s(1 << 20, '\0');
        for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<char>('a' + i % 26);
        return s;
    }();
    return bytes;
}

// A private directory for the id file and the FIFOs, under $TMPDIR when it is set (else
// /tmp), and the configuration that points there. Removed at exit.
char bench_dir_path[4096] = "";

char* bench_dir() {
    if (!bench_dir_path[0]) {
        const char* tmp = std::getenv("TMPDIR");
        if (tmp == nullptr || *tmp == '\0') tmp = "/tmp";
        const int n =
            snprintf(bench_dir_path, sizeof bench_dir_path, "%s/zovcomm_bench_XXXXXX", tmp);
        if (n < 0 || static_cast<size_t>(n) >= sizeof bench_dir_path) std::abort();
        if (!mkdtemp(bench_dir_path)) std::abort();
        std::atexit([] {  // children end with _exit and never run this
            std::error_code ec;
            std::filesystem::remove_all(bench_dir_path, ec);
        });
    }
    return bench_dir_path;
}

void configure(const char* useshm) {
    static char useshm_text[16];
    snprintf(useshm_text, sizeof useshm_text, "%s", useshm ? useshm : "");
    env_vars.coll_home = bench_dir();
    env_vars.localtmpdir = bench_dir();
    env_vars.tmpdir = bench_dir();
    env_vars.useshm = useshm ? useshm_text : nullptr;
    env_vars.serverid = const_cast<char*>("BENCH");
    env_vars.db_type = const_cast<char*>("ZEM100");
    env_vars.hostname = const_cast<char*>("h1");
    wait_timeout = 10;
}

// The collector stub: answers "K1" with one 1024-byte row and "M1" with 1024 of them,
// until "STOP". Over FIFOs it waits on its pipe with poll (the pipe "get" never waits).
[[noreturn]] void collector(int ready_fd, bool shm) {
    if (shm) zovcomm("initsm");
    auto* a = static_cast<comm_anchor*>(zovcomm("initc"));
    if (!a || write(ready_fd, "r", 1) != 1) _exit(2);
    close(ready_fd);
    for (;;) {
        if (!shm) {
            struct pollfd p = {a->coll_pipe_fd, POLLIN, 0};
            poll(&p, 1, 1000);
        }
        auto* chain = static_cast<curs_list*>(zovcomm("get", a, nullptr));
        if (!chain) continue;
        const bool stop = strcmp(chain->cursor, "STOP") == 0;
        chain->len = 1024;
        chain->rows = strcmp(chain->cursor, "M1") == 0 ? 1024 : stop ? 0 : 1;
        if (chain->rows > 0) {
            chain->data = static_cast<char*>(U_MALLOC(chain->rows * 1024));
            memcpy(chain->data, payload().data(), static_cast<size_t>(chain->rows) * 1024);
        }
        zovcomm("put", a);
        if (stop) break;
    }
    zovcomm("term", a);
    if (shm) zovcomm("shut", static_cast<comm_anchor*>(nullptr));
    _exit(0);
}

void zovcomm_round_trip(benchmark::State& state, bool shm) {
    configure(shm ? nullptr : "0");
    int ready[2];
    if (pipe(ready) != 0) std::abort();
    pid_t child = fork();
    if (child == 0) {
        close(ready[0]);
        collector(ready[1], shm);
    }
    close(ready[1]);
    char c;
    if (read(ready[0], &c, 1) != 1) state.SkipWithError("collector did not start");
    close(ready[0]);
    if (shm) zovcomm("initsm");
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    const char* name = state.range(0) == 1024 ? "K1" : "M1";
    for (auto _ : state) {
        auto* chain = static_cast<curs_list*>(zovcomm("get", a, name));
        if (!chain || static_cast<long>(chain->rows) * chain->len != state.range(0)) {
            state.SkipWithError(a->return_msg);
            break;
        }
        benchmark::DoNotOptimize(chain->data);
    }
    zovcomm("get", a, "STOP");
    zovcomm("term", a);
    if (shm) zovcomm("shut", static_cast<comm_anchor*>(nullptr));
    waitpid(child, nullptr, 0);
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_ShmZovcomm(benchmark::State& state) { zovcomm_round_trip(state, true); }
void BM_FifoZovcomm(benchmark::State& state) { zovcomm_round_trip(state, false); }

// The bare exchanges (bench/bare_exchange.h) of the same bytes.
void BM_BareSemaphore(benchmark::State& state) {
    bare::Semaphore exchange;
    std::string out;
    for (auto _ : state) {
        exchange.round_trip(state.range(0), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_BarePipe(benchmark::State& state) {
    bare::Pipe exchange;
    std::string out;
    for (auto _ : state) {
        exchange.round_trip(state.range(0), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_ShmZovcomm)->Arg(1024)->Arg(1 << 20)->UseRealTime();
BENCHMARK(BM_BareSemaphore)->Arg(1024)->Arg(1 << 20)->UseRealTime();
BENCHMARK(BM_FifoZovcomm)->Arg(1024)->Arg(1 << 20)->UseRealTime();
BENCHMARK(BM_BarePipe)->Arg(1024)->Arg(1 << 20)->UseRealTime();

int main(int argc, char** argv) {
    // Both ends are long-running processes that keep their heap between requests: large
    // answer buffers come from the heap, not from fresh mappings whose first touch costs a
    // page fault per 4 KB (tens of microseconds each on a virtual machine). The bare
    // exchanges reuse one buffer; this gives the transport the same footing.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
