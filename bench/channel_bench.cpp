// A cursor (limit 10000) run through the parent-child SQL channel on a result of 10000 rows
// of five columns (character and integer) from the scripted test server, against zemsql
// printing the same rows (call type 3) into a pipe that is read to its end.
//
// BM_ChannelVsPrint: each iteration runs both. Measured: a fresh channel child, StartDBAP,
// run_cursor_DB, get_cursor_DB merging every row into the cursor, StopDBAP mode 2. "ratio"
// is the channel's time divided by the printing run's; it must stay at or below 1.5.
// BM_RequestToRunningChild: one request and its answer to a child that keeps running.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "acquire/channel_parent.h"
#include "acquire/result_sets.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/pcc.h"
#include "testing/cursor_builder.h"
#include "tests/tds/tds_testenv.h"

extern char** environ;

namespace {

constexpr int kRows = 10000;
const char* kSql = "select a, b, c, d, e from big";

const std::string kScenario = std::string("batch ") + kSql + R"(
  result a:int b:char(20) c:int d:varchar(16) e:int
  repeat 10000
  row {i} 'name {i}' 7 'v{i}' -{i}
batch use master
)";

// zemsql 3 with the statement; its standard output read to the end. Bytes read, -1 on
// failure.
long print_run() {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    posix_spawn_file_actions_addclose(&fa, fds[1]);
    std::string prog = ZEMSQL_PATH, type = "3", db = "master", sql = kSql;
    char* argv[] = {prog.data(), type.data(), db.data(), sql.data(), nullptr};
    pid_t pid = 0;
    int rc = posix_spawn(&pid, prog.c_str(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (rc != 0) {
        close(fds[0]);
        return -1;
    }
    long total = 0;
    char buf[65536];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) total += n;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? total : -1;
}

// The test server, the program placed as the channel's child, a distributor and a cursor.
struct Setup {
    zovtds::TestEnv env;
    std::string dir;
    distrib* d = nullptr;
    cursortest::cursor* cursor = nullptr;
    std::string error;

    bool start() {
        if (!env.start(kScenario, error)) return false;
        dir = env.dir + "/bin";
        std::filesystem::create_directories(dir);
        std::filesystem::create_symlink(ZEMSQL_PATH, dir + "/" + u_db_type(0) + "sql");
        u_env_set_field(&env_vars.bin_home, dir.c_str());
        setenv("COLL_SERVERID", env.section.c_str(), 1);
        setenv("COLL_LOGON", "sa", 1);
        setenv("COLL_PASSWORD", "secret", 1);
        grwtSec = 60;
        d = distrib_new();
        std::strcpy(d->logon_id, "sa");
        std::strcpy(d->password, "secret");
        std::memcpy(d->server_id, env.section.c_str(), env.section.size());
        cursor = new cursortest::cursor(
            "BIG", {{"a", 11, 2}, {"b", 20, 1}, {"c", 11, 2}, {"d", 16, 1}, {"e", 11, 2}});
        curs* c = cursor->get();
        cursor->set_sql(kSql);
        cursor->unresolve();
        c->limit = kRows;
        return true;
    }
    // One request and its answer; the rows merged, -1 on failure.
    long request() {
        curs* c = cursor->get();
        cursor->clear_rows();
        const int before = c->tiCount;
        char stamp[] = "20260101120000";
        if (run_cursor_DB(d, c, stamp) != 0) return -1;
        if (get_cursor_DB(d, c) != 0) return -1;
        return c->tiCount - before;
    }
    ~Setup() {
        if (d != nullptr) {
            StopDBAP(d, 2);
            U_FREE(d->dbapsa);
            if (d->dbx) DBX_free(static_cast<_anchorDBX*>(d->dbx));
            d->dbapsa = d->dbx = nullptr;
            distrib_free(d);
        }
        if (cursor != nullptr) {
            curs* c = cursor->get();
            channel_release_cursor(c);
            U_FREE(c->buffer);
            U_FREE(c->nulls);
            c->buffer = nullptr;
            c->nulls = nullptr;
            delete cursor;
        }
    }
};

void BM_ChannelVsPrint(benchmark::State& state) {
    Setup s;
    if (!s.start()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    double print_s = 0, channel_s = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        if (print_run() <= 0) {
            state.SkipWithError("zemsql 3 failed");
            break;
        }
        auto t1 = std::chrono::steady_clock::now();
        long rows = s.request();
        StopDBAP(s.d, 2);
        auto t2 = std::chrono::steady_clock::now();
        if (rows != kRows) {
            state.SkipWithError(("channel rows: " + std::to_string(rows)).c_str());
            break;
        }
        print_s += std::chrono::duration<double>(t1 - t0).count();
        channel_s += std::chrono::duration<double>(t2 - t1).count();
    }
    if (print_s > 0 && channel_s > 0) {
        const double n = static_cast<double>(state.iterations());
        state.counters["print_ms"] = print_s / n * 1000;
        state.counters["channel_ms"] = channel_s / n * 1000;
        state.counters["ratio"] = channel_s / print_s;
    }
    state.counters["rows_per_run"] = kRows;
}
BENCHMARK(BM_ChannelVsPrint)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_RequestToRunningChild(benchmark::State& state) {
    Setup s;
    if (!s.start()) {
        state.SkipWithError(s.error.c_str());
        return;
    }
    if (s.request() != kRows) {  // the child starts and the layout is known
        state.SkipWithError("first request failed");
        return;
    }
    for (auto _ : state) {
        if (s.request() != kRows) {
            state.SkipWithError("request failed");
            break;
        }
    }
    state.counters["rows_per_s"] = benchmark::Counter(
        static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RequestToRunningChild)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
