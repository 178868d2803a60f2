// The collector's cost while it waits, and its memory over many collections.
//
// BM_IdleCollector: zemcoll on a copy of the example definitions, once as they are (with
// the request server "ulv") and once without "ulv", beside a sleeping child; the counters
// are the CPU seconds each used over the same wall time (from /proc/<pid>/stat) and the
// collector's share of one core, which must stay under 0.5%. The wall time is
// ZOV_BENCH_IDLE_SECONDS (default 60). The program is ZEMCOLL (default: bin/zemcoll beside
// this program's build directory), the examples ZOV_EXAMPLES (default: the source tree's).
//
// BM_CollectMemory: 10,000 interval collections in-process on a fixed clock that the
// passes advance, over a cursor with a fetch exit and a virtual cursor; the counters are
// the resident size growth from pass 500 to pass 10,000 in bytes per pass (0 after the
// warm-up) beside the growth of as many bare u_exec_timed runs. Until the fetch-exit and
// virtual-cursor runs are installed, a collection runs the do-nothing cursor runs of the
// engine's hook table.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "collector/engine_hooks.h"
#include "collector/schedule.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/child.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/platform.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

std::string self_dir() {
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
    return dir.substr(0, dir.rfind('/'));
}

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

pid_t spawn(const std::vector<std::string>& args, const std::vector<std::string>& env,
            const std::string& dir) {
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(120);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        dup2(null, 2);
        std::vector<char*> argv, envp;
        for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        for (auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        execve(argv[0], argv.data(), envp.data());
        _exit(121);
    }
    return pid;
}

void idle_run(benchmark::State& state, bool with_ulv) {
    const int seconds = std::getenv("ZOV_BENCH_IDLE_SECONDS") != nullptr
                            ? std::atoi(std::getenv("ZOV_BENCH_IDLE_SECONDS"))
                            : 60;
    std::string dir = fs::temp_directory_path().string() + "/zovidleXXXXXX";
    if (mkdtemp(dir.data()) == nullptr) {
        state.SkipWithError("no scratch directory");
        return;
    }
    for (const auto& e : fs::directory_iterator(examples_dir()))
        fs::copy(e.path(), dir + "/" + e.path().filename().string());
    if (!with_ulv) {
        std::ifstream in(dir + "/zemproc.ctl");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t at = text.find("process ulv;");
        if (at != std::string::npos) text = text.substr(0, at) + "end;\n";
        std::ofstream(dir + "/zemproc.ctl", std::ios::trunc) << text;
    }
    const std::vector<std::string> env = {
        "COLL_HOME=" + dir, "COLL_OUT=" + dir,  "COLL_PREFIX=" + dir,
        "COLL_LOGONID=sa",  "COLL_PASSWORD=pw", "COLL_SERVERID=SRV1",
        "COLL_VERSION=syb", "COLL_USESHM=0",    "PATH=/usr/bin:/bin"};
    double coll_cpu = 0, sleeper_cpu = 0;
    for (auto _ : state) {
        pid_t coll = spawn({zemcoll_path()}, env, dir);
        pid_t sleeper = spawn({"/bin/sleep", std::to_string(seconds + 5)}, env, dir);
        // Start-up (reading the definitions) is not idling: count from a second in.
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const double c0 = cpu_seconds(coll), s0 = cpu_seconds(sleeper);
        std::this_thread::sleep_for(std::chrono::seconds(seconds));
        coll_cpu = cpu_seconds(coll) - c0;
        sleeper_cpu = cpu_seconds(sleeper) - s0;
        kill(coll, SIGKILL);
        kill(sleeper, SIGKILL);
        waitpid(coll, nullptr, 0);
        waitpid(sleeper, nullptr, 0);
    }
    fs::remove_all(dir);
    state.counters["collector_cpu_s"] = coll_cpu;
    state.counters["sleeper_cpu_s"] = sleeper_cpu;
    state.counters["core_percent"] = 100.0 * coll_cpu / seconds;
}

void BM_IdleCollector(benchmark::State& state) { idle_run(state, state.range(0) != 0); }
BENCHMARK(BM_IdleCollector)->Arg(1)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

long resident_bytes() {
    std::ifstream in("/proc/self/statm");
    long size = 0, resident = 0;
    in >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

time_t fake_now = 1796913000;

void BM_CollectMemory(benchmark::State& state) {
    install_engine_hooks();
    u_platform_set(u_platform_ops{[](struct timespec* out) {
                                      out->tv_sec = fake_now;
                                      out->tv_nsec = 0;
                                  },
                                  [](long ms) { fake_now += ms / 1000; }, nullptr});
    FILE* log = std::fopen("/dev/null", "w");
    stder = log;
    distrib* coll = distrib_new();
    std::strcpy(coll->distrib_name, "collector");
    coll->saturday_start = coll->sunday_start = coll->mon_fri_start = &full_day;
    curs* fetch = curs_new();
    std::strcpy(fetch->cur_name, "DISKFREE");
    fetch->fetch_exit = static_cast<fetch_ex*>(U_MALLOC(sizeof(fetch_ex)));
    std::memset(fetch->fetch_exit, 0, sizeof(fetch_ex));
    curs* virt = curs_new();
    std::strcpy(virt->cur_name, "PTOTAL");
    virt->cvirtual = 1;
    fetch->next = virt;
    for (curs* c : {fetch, virt}) {
        c->interval = 1;
        c->saturday_start = c->sunday_start = c->mon_fri_start = &full_day;
    }
    cur_anchor = fetch;
    const int passes = 10000, warm = 500;
    long at_warm = 0, at_end = 0, exec_warm = 0, exec_end = 0;
    for (auto _ : state) {
        for (int i = 1; i <= passes; ++i) {
            collect(coll);
            ++fake_now;
            if (i == warm) at_warm = resident_bytes();
        }
        at_end = resident_bytes();
        for (int i = 1; i <= passes; ++i) {
            execopt o{};
            u_free_r_chain(u_exec_timed("/bin/true", "", 10, &o));
            if (i == warm) exec_warm = resident_bytes();
        }
        exec_end = resident_bytes();
    }
    cur_anchor = nullptr;
    U_FREE(fetch->fetch_exit);
    U_FREE(fetch);
    U_FREE(virt);
    distrib_free(coll);
    stder = nullptr;
    std::fclose(log);
    u_platform_reset();
    state.counters["collect_bytes_per_pass"] =
        static_cast<double>(at_end - at_warm) / (passes - warm);
    state.counters["exec_bytes_per_run"] =
        static_cast<double>(exec_end - exec_warm) / (passes - warm);
    state.counters["resident_kb"] = static_cast<double>(at_end) / 1024;
}
BENCHMARK(BM_CollectMemory)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
