// Running language commands: without rows, with printed rows, and "use <database>".
#include <cstdio>

#include "acquire/ctlib/zemctutl.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

// The message ids of one runner.
struct RunnerIds {
    const char* alloc;
    const char* command;
    const char* send;
    const char* cancel_all;
};

// Allocates, fills and sends a language command; CS_SUCCEED with *cmd set, or the failing
// code with nothing left allocated.
CS_RETCODE send_command(CS_CONNECTION* conn, const char* text, CS_COMMAND** cmd, const char* fn,
                        const RunnerIds& ids) {
    CS_RETCODE rc = ct_cmd_alloc(conn, cmd);
    if (rc != CS_SUCCEED) {
        PRINT('e', ids.alloc, "%s: ct_cmd_alloc() failed\n", fn);
        return rc;
    }
    rc = ct_command(*cmd, CS_LANG_CMD, const_cast<char*>(text), CS_NULLTERM, CS_UNUSED);
    if (rc != CS_SUCCEED) {
        PRINT('e', ids.command, "%s: ct_command() failed\n", fn);
        ct_cmd_drop(*cmd);
        return rc;
    }
    rc = ct_send(*cmd);
    if (rc != CS_SUCCEED) {
        PRINT('e', ids.send, "%s: ct_send() failed\n", fn);
        ct_cmd_drop(*cmd);
        return rc;
    }
    return CS_SUCCEED;
}

// Cancels what is left when the result loop stopped early, drops the command and gives
// the runner's result.
int finish(CS_COMMAND* cmd, int ok, bool stopped_early, CS_RETCODE last, const char* fn,
           const RunnerIds& ids) {
    if (stopped_early && ct_cancel(nullptr, cmd, CS_CANCEL_ALL) != CS_SUCCEED)
        PRINT('e', ids.cancel_all, "%s: ct_cancel() failed\n", fn);
    if (last == CS_END_RESULTS) {
        if (ct_cmd_drop(cmd) != CS_SUCCEED) ok = 0;
    } else {
        ct_cmd_drop(cmd);
        ok = 0;
    }
    return ok;
}

// Sends a language command and reads its results until the end, a failure or a result
// `on_result(cmd, type)` refuses (false); CS_CMD_SUCCEED and CS_CMD_DONE pass by
// themselves. The runner's result, or the failing code when the command could not be sent.
template <class OnResult>
int run_command(CS_CONNECTION* conn, const char* text, const char* fn, const RunnerIds& ids,
                OnResult on_result) {
    CS_COMMAND* cmd = nullptr;
    CS_RETCODE rc = send_command(conn, text, &cmd, fn, ids);
    if (rc != CS_SUCCEED) return rc;
    int ok = 1;
    CS_INT type = 0;
    while (ok == 1 && (rc = ct_results(cmd, &type)) == CS_SUCCEED) {
        if (type == CS_CMD_SUCCEED || type == CS_CMD_DONE) continue;
        if (!on_result(cmd, type)) ok = 0;
    }
    return finish(cmd, ok, ok == 0 && rc == CS_SUCCEED, rc, fn, ids);
}

}  // namespace

int zem_execute_cmd(CS_CONNECTION* conn, const char* text) {
    static const RunnerIds ids{"yem0180", "yem0185", "yem0190", "yem0200"};
    if (conn == nullptr) return 1;
    return run_command(conn, text, "zem_execute_cmd", ids, [](CS_COMMAND* cmd, CS_INT type) {
        // CS_CMD_FAIL, rows, parameters, compute, message and format results end the run.
        if (type != CS_STATUS_RESULT) return false;
        // A procedure's return status is no failure: it is discarded.
        if (ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT) != CS_SUCCEED) {
            PRINT('e', "yem0195", "zem_execute_cmd: ct_cancel() failed\n");
            return false;
        }
        return true;
    });
}

int zem_execute_cmd_show(CS_CONNECTION* conn, const char* text) {
    static const RunnerIds ids{"yem0182", "yem0187", "yem0192", "yem0202"};
    if (conn == nullptr) {
        PRINT('i', "yem0181", "zem_execute_cmd_show: connection not established\n");
        return 1;
    }
    return run_command(conn, text, "zem_execute_cmd_show", ids, [](CS_COMMAND* cmd, CS_INT type) {
        switch (type) {
            case CS_ROW_RESULT:
                if (zem_fetch_data(cmd) != CS_SUCCEED) {
                    PRINT('e', "yem0197", "zem_execute_cmd_show: fetch data failed\n");
                    return false;
                }
                return true;
            case CS_STATUS_RESULT:
                ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
                return true;
            default:
                return false;
        }
    });
}

int zem_use_db(CS_CONNECTION* conn, const char* name) {
    // Never null: u_malloc ends the process when memory runs out (no yem0250).
    char* buffer = static_cast<char*>(U_MALLOC(ZEM_BUFSIZE));
    int n = snprintf(buffer, ZEM_BUFSIZE, "use %s\n", name != nullptr ? name : "");
    int result = 0;
    // A name that does not fit is refused, never cut.
    if (n >= 0 && n < ZEM_BUFSIZE) result = zem_execute_cmd(conn, buffer);
    if (result != 1) PRINT('e', "yem0255", "zem_use_db: zem_execute_cmd(use db) failed\n");
    U_FREE(buffer);
    return result;
}
