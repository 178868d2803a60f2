// A cursor (limit 9999, the largest allowed) run by prep_l_fetch on a result of 100000
// rows (int, char(30), float, datetime) from the scripted test server, against a bare
// Client-Library loop with the same binds that keeps nothing. Both run alternately in one
// iteration; the counters give each one's rows per second and "ratio", the cursor's rate
// divided by the bare loop's, which must stay at or above 0.8.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <string>

#include "acquire/ctlib/zemctutl.h"
#include "acquire/sql_cursor.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"
#include "tests/tds/tds_testenv.h"

namespace {

constexpr int kRows = 100000;
const char* kSql = "select i, c, f, d from big";

const std::string kScenario = std::string("batch ") + kSql + R"(
  result i:int c:char(30) f:float d:datetime
  repeat 100000
  row {i} 'row number {i}' 1234.5 '2026-01-02 03:04:05'
)";

// The same binds as the cursor's: every column as blank-padded text of its display width.
long bare_fetch(CS_CONNECTION* conn) {
    CS_COMMAND* cmd = nullptr;
    if (ct_cmd_alloc(conn, &cmd) != CS_SUCCEED) return -1;
    ct_command(cmd, CS_LANG_CMD, const_cast<char*>(kSql), CS_NULLTERM, CS_UNUSED);
    ct_send(cmd);
    long rows = 0;
    CS_INT type = 0;
    char buffer[60 * 256];
    CS_DATAFMT fmt[60];
    CS_INT copied[60];
    CS_SMALLINT nulls[60];
    while (ct_results(cmd, &type) == CS_SUCCEED) {
        if (type != CS_ROW_RESULT) continue;
        CS_INT n = 0;
        ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr);
        long offset = 0;
        for (CS_INT i = 0; i < n && i < 60; ++i) {
            std::memset(&fmt[i], 0, sizeof fmt[i]);
            ct_describe(cmd, i + 1, &fmt[i]);
            fmt[i].maxlength = zem_display_dlen(&fmt[i]);
            fmt[i].datatype = CS_CHAR_TYPE;
            fmt[i].format = CS_FMT_PADBLANK;
            fmt[i].scale = fmt[i].precision = CS_SRC_VALUE;
            fmt[i].count = 0;
            ct_bind(cmd, i + 1, &fmt[i], buffer + offset, &copied[i], &nulls[i]);
            offset += fmt[i].maxlength;
        }
        CS_INT count = 0;
        CS_RETCODE rc;
        while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &count)) == CS_SUCCEED ||
               rc == CS_ROW_FAIL)
            ++rows;
    }
    ct_cmd_drop(cmd);
    return rows;
}

void BM_PrepLFetchVsBareFetch(benchmark::State& state) {
    zovtds::TestEnv env;
    std::string error;
    if (!env.start(kScenario, error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    engine_alloc_work_buff();
    collector_at = distrib_new();
    std::strcpy(collector_at->distrib_name, "collector");
    std::strcpy(collector_at->logon_id, "sa");
    std::strcpy(collector_at->password, "secret");
    std::memcpy(collector_at->server_id, "ZOVTDS  ", 8);
    if (connect_to_DB(collector_at) != 0) {
        state.SkipWithError("no connection");
        return;
    }
    database_info.connected = 1;
    auto* conn = static_cast<CS_CONNECTION*>(collector_at->syb_connection);

    cursortest::cursor rc("BIG", {{"i", 11, 2}, {"c", 30, 1}, {"f", 24, 2}, {"d", 30, 1}});
    curs* c = rc.get();
    rc.set_sql(kSql);
    rc.unresolve();
    c->limit = 9999;

    double bare_s = 0, cursor_s = 0;
    long bare_rows = 0, cursor_rows = 0;
    for (auto _ : state) {
        auto t0 = std::chrono::steady_clock::now();
        bare_rows += bare_fetch(conn);
        auto t1 = std::chrono::steady_clock::now();
        int n = 0;
        if (prep_l_fetch(c, "20260101120000", &n) != 0) {
            state.SkipWithError("prep_l_fetch failed");
            break;
        }
        auto t2 = std::chrono::steady_clock::now();
        cursor_rows += n;
        bare_s += std::chrono::duration<double>(t1 - t0).count();
        cursor_s += std::chrono::duration<double>(t2 - t1).count();
    }
    if (bare_rows > 0 && cursor_rows > 0) {
        double bare_rate = bare_rows / bare_s, cursor_rate = cursor_rows / cursor_s;
        state.counters["bare_rows_per_s"] = bare_rate;
        state.counters["cursor_rows_per_s"] = cursor_rate;
        state.counters["ratio"] = cursor_rate / bare_rate;
    }
    state.counters["rows_per_run"] = kRows;

    freeDBcurMem(c);
    U_FREE(c->buffer);
    U_FREE(c->nulls);
    c->buffer = nullptr;
    c->nulls = nullptr;
    commit_collect(1);
    distrib_free(collector_at);
    collector_at = nullptr;
}
BENCHMARK(BM_PrepLFetchVsBareFetch)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
