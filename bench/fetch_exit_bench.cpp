// A fetch-exit cursor (words, plain option, limit 1000) whose command prints 1000 lines of
// six words, run by run_cursor_fetch_exit with its rows stored, against the same work done
// by hand: a bare posix_spawn of the same program, its output read to the end, split into
// lines and words, and each line stored as the cursor's row text (each word blank-padded to
// its column) in a table kept from run to run. The "ratio" counter of
// BM_FetchExitVsBareSpawn is the exit run's time divided by the bare one's, measured
// alternately in one run; it must stay at or under 1.2. Its "cpu_ratio" compares the
// parent's own CPU time (the child not counted). Both sides must store the same rows.
//
// The program is the test helper xh_words, found beside the runtime's test programs of the
// same build (../runtime/xh_words from this program), or named by ZOV_XH_WORDS.
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

#include "acquire/fetch_exit.h"
#include "bench/child_pipe.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"

namespace {

using benchpipe::cpu_seconds;

const std::string& helper() {
    static const std::string path = [] {
        if (const char* p = std::getenv("ZOV_XH_WORDS")) return std::string(p);
        return benchpipe::self_dir() + "/../runtime/xh_words";
    }();
    return path;
}

constexpr int kLines = 1000;

// The exit cursor: six character columns of 12 bytes.
class ExitCursor {
  public:
    ExitCursor()
        : rows_("WORDS", {{"A", 12, 1},
                          {"B", 12, 1},
                          {"C", 12, 1},
                          {"D", 12, 1},
                          {"E", 12, 1},
                          {"F", 12, 1}}) {
        curs* c = rows_.get();
        c->fetch_exit = static_cast<fetch_ex*>(U_MALLOC(sizeof(fetch_ex)));
        *c->fetch_exit = fetch_ex{};
        c->fetch_exit->type = 1;
        c->fetch_exit->format_type = 2;
        std::string script = helper() + " " + std::to_string(kLines) + " 6";
        c->script = static_cast<char*>(U_MALLOC(script.size() + 1));
        std::memcpy(c->script, script.c_str(), script.size() + 1);
        c->limit = kLines;
        c->cols_set = 0;
        for (columns* col = c->insert_columns; col; col = col->next) col->from = nullptr;
    }
    ~ExitCursor() {
        curs* c = rows_.get();
        fetch_exit_release(c);
        U_FREE(c->fetch_exit);
        U_FREE(c->script);
        c->fetch_exit = nullptr;
        c->script = nullptr;
    }
    // One run; the rows it stored.
    long run() {
        curs* c = rows_.get();
        int before = c->totalDataRowsReturned;
        if (run_cursor_fetch_exit(c, "20260101120000") != 0) return -1;
        return c->totalDataRowsReturned - before;
    }
    const curs* get() const { return rows_.get(); }
    // The texts of the last n rows the cursor holds, oldest first, one after the other.
    std::string last_rows(long n) const {
        const curs* c = rows_.get();
        std::vector<const row_data*> all;
        for (const row_data* r = c->first_row; r != nullptr; r = r->next) all.push_back(r);
        std::string out;
        for (size_t i = all.size() > static_cast<size_t>(n) ? all.size() - static_cast<size_t>(n)
                                                            : 0;
             i < all.size(); ++i)
            out.append(all[i]->text, static_cast<size_t>(c->length));
        return out;
    }

  private:
    cursortest::cursor rows_;
};

// The same work by hand: the program started with posix_spawn, its output read with a 64 KB
// buffer and split as it comes (a partial line carried to the next read), each line's
// blank-separated words written into a row of the table in the cursor's layout (each value
// left-aligned, blank-padded to its column, a NUL behind it), the program reaped. The table
// is kept from run to run, as a careful hand-written reader would keep it. Returns the rows.
class BareReader {
  public:
    explicit BareReader(const curs* layout) : width_(static_cast<size_t>(layout->length)) {
        for (const columns* col = layout->insert_columns; col != nullptr; col = col->next)
            cols_.push_back({static_cast<size_t>(col->offset), static_cast<size_t>(col->len)});
        blank_.assign(width_, '\0');
        for (const Col& k : cols_) std::memset(blank_.data() + k.offset, ' ', k.len);
    }

    long run() {
        rows_ = 0;
        std::string lines = std::to_string(kLines);
        char* argv[] = {const_cast<char*>("xh_words"), lines.data(), const_cast<char*>("6"),
                        nullptr};
        pid_t pid = -1;
        const int fd = benchpipe::spawn_reading(helper().c_str(), argv, &pid);
        if (fd < 0) return -1;
        benchpipe::read_lines(fd, [this](const char* p, const char* nl) { store(p, nl); });
        int status;
        waitpid(pid, &status, 0);
        return rows_;
    }

    // The stored rows, one after the other.
    std::string rows() const { return std::string(table_.data(), rows_ * width_); }

  private:
    struct Col {
        size_t offset;
        size_t len;
    };

    void store(const char* p, const char* end) {
        if (p == end) return;
        if (table_.size() < (rows_ + 1) * width_) table_.resize((rows_ + 1) * width_);
        char* row = table_.data() + rows_ * width_;
        std::memcpy(row, blank_.data(), width_);
        for (const Col& k : cols_) {
            while (p < end && (*p == ' ' || *p == '\t')) ++p;
            const char* w = p;
            while (p < end && *p != ' ' && *p != '\t') ++p;
            const size_t len = static_cast<size_t>(p - w);
            std::memcpy(row + k.offset, w, len < k.len ? len : k.len);
        }
        ++rows_;
    }

    size_t width_;
    std::vector<Col> cols_;
    std::string blank_;
    std::vector<char> table_;
    long rows_ = 0;
};

void BM_FetchExit(benchmark::State& state) {
    ExitCursor x;
    for (auto _ : state) {
        long rows = x.run();
        if (rows != kLines) state.SkipWithError("the exit did not store 1000 rows");
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_FetchExit)->Unit(benchmark::kMillisecond);

void BM_BareSpawn(benchmark::State& state) {
    ExitCursor x;
    BareReader bare(x.get());
    for (auto _ : state) {
        long rows = bare.run();
        if (rows != kLines) state.SkipWithError("the bare reader did not store 1000 rows");
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_BareSpawn)->Unit(benchmark::kMillisecond);

void BM_FetchExitVsBareSpawn(benchmark::State& state) {
    using clock = std::chrono::steady_clock;
    ExitCursor x;
    BareReader bare(x.get());
    double exitSeconds = 0, bareSeconds = 0, exitCpu = 0, bareCpu = 0;
    bool checked = false;
    for (auto _ : state) {
        auto t0 = clock::now();
        double c0 = cpu_seconds();
        long rows = x.run();
        auto t1 = clock::now();
        double c1 = cpu_seconds();
        long bareRows = bare.run();
        auto t2 = clock::now();
        double c2 = cpu_seconds();
        if (rows != kLines || bareRows != kLines) state.SkipWithError("a side lost rows");
        if (!checked) {
            // Once (outside the timing would not matter: the first run is the same work).
            checked = true;
            if (x.last_rows(kLines) != bare.rows())
                state.SkipWithError("the two sides stored different rows");
        }
        exitSeconds += std::chrono::duration<double>(t1 - t0).count();
        bareSeconds += std::chrono::duration<double>(t2 - t1).count();
        exitCpu += c1 - c0;
        bareCpu += c2 - c1;
    }
    state.counters["ratio"] = bareSeconds > 0 ? exitSeconds / bareSeconds : 0;
    state.counters["cpu_ratio"] = bareCpu > 0 ? exitCpu / bareCpu : 0;
    state.counters["cpu_ms_ours"] = exitCpu * 1e3 / static_cast<double>(state.iterations());
    state.counters["cpu_ms_bare"] = bareCpu * 1e3 / static_cast<double>(state.iterations());
}
BENCHMARK(BM_FetchExitVsBareSpawn)->Unit(benchmark::kMillisecond)->MinTime(2.0);

}  // namespace

int main(int argc, char** argv) {
    mallopt(M_TRIM_THRESHOLD, 256 << 20);  // a long-running collector keeps its heap
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
