// The run of one cursor on the collector's connection.
#include "acquire/sql_cursor.h"

#include <ctpublic.h>

#include <cstdio>
#include <cstring>

#include "acquire/ctlib/zemctutl.h"
#include "acquire/fetch_exit.h"
#include "acquire/server_faults.h"
#include "collector/rows/dummy_rows.h"
#include "collector/rows/row_store.h"
#include "collector/rows/server_status.h"
#include "collector/rows/trace_control.h"
#include "collector/transforms/age_to.h"
#include "collector/transforms/host_vars.h"
#include "collector/transforms/in_lists.h"
#include "collector/transforms/loads.h"
#include "collector/transforms/set_len.h"
#include "defs/distrib.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

// The fetch memory of an SQL cursor, hung on its cur_memory on the first row result and
// kept across runs. The value buffer and null table (the cursor's buffer and nulls) are
// made with each description and sized by it.
struct memdata {
    ZEM_COLUMN_DATA* coldata;  // numCols entries
    CS_DATAFMT* datafmt;       // numCols formats: described, then rewritten for text
    int32_t* orig_type;        // numCols: 1 character column, 2 any other
    xSQLDA* lda;               // 60 entries
    int32_t numCols;
    CS_INT* copied;  // numCols: the byte count each fetch copied (L[i] keeps the width)
};

// Describes (once), binds and fetches the current row result of cmd, merging every row.
// CS_SUCCEED at the end of the rows, else the failing code (CS_FAIL also for a row that
// could not be merged, no columns or too many; -1 when memory could not be made).
CS_RETCODE zem_fetch_rows(curs* c, const char* time_stamp, int* rows_for_insert, char* row_buffer,
                          CS_COMMAND* cmd);

statement_buffer statement;
sql_comm_area sqlca;

namespace {

// Rows the running statement has delivered over all its row results: the first one
// replaces the stored rows (pre_age, empty), the failure messages count them.
int statement_rows = 0;

// Type codes of a cursor without a descriptor: none is read.
int32_t scratch_types[1] = {1};

void* zero_block(size_t n) {
    void* p = U_MALLOC(n);
    std::memset(p, 0, n);
    return p;
}

void free_memdata(memdata* m) {
    if (m == nullptr) return;
    U_FREE(m->coldata);
    U_FREE(m->datafmt);
    U_FREE(m->orig_type);
    U_FREE(m->copied);
    if (m->lda != nullptr) zovldau(&m->lda);
    U_FREE(m);
}

// Throws the cursor's fetch memory away; with_values also its value buffer and null
// table. The columns pointed into that memory: they are resolved again.
void drop_memory(curs* c, bool with_values) {
    free_memdata(static_cast<memdata*>(c->cur_memory));
    c->cur_memory = nullptr;
    if (with_values) {
        U_FREE(c->buffer);
        c->buffer = nullptr;
        U_FREE(c->nulls);
        c->nulls = nullptr;
    }
    c->cols_set = 0;
}

void mark_failed() {
    get_time(collector_at->time);
    std::memcpy(collector_at->status, "FAIL", 5);
}

// Makes the missing parts of the fetch memory: true when done (fresh set when anything was
// made), else false with the code to return in rc (the memory freed). CS_FAIL is 0.
bool make_memory(curs* c, CS_COMMAND* cmd, memdata*& m, bool& fresh, CS_RETCODE& rc) {
    m = static_cast<memdata*>(c->cur_memory);
    fresh = false;
    if (m == nullptr) {
        // Never null: u_malloc ends the process when memory runs out (no yfr0308 to
        // yfr0320 for the parts below).
        m = static_cast<memdata*>(zero_block(sizeof(memdata)));
        c->cur_memory = m;
        fresh = true;
    }
    if (m->numCols == 0) {
        CS_INT n = 0;
        rc = ct_res_info(cmd, CS_NUMDATA, &n, CS_UNUSED, nullptr);
        if (rc != CS_SUCCEED) {
            PRINT('e', "yfr0300", "zem_fetch_rows: ct_res_info() failed.Ret = %d\n", rc);
            drop_memory(c, false);
            return false;
        }
        if (n < 1) {
            PRINT('w', "yfr0305", "zem_fetch_rows: ct_res_info() returned zero columns\n");
            drop_memory(c, false);
            rc = CS_FAIL;
            return false;
        }
        // The descriptor holds 60 entries; a wider result is never bound past it.
        if (n > max_sql_columns) {
            PRINT('e', "yfr0302",
                  "zem_fetch_rows: cursor %s: %d columns, at most %d can be fetched\n", c->cur_name,
                  n, max_sql_columns);
            drop_memory(c, false);
            rc = CS_FAIL;
            return false;
        }
        m->numCols = n;
        fresh = true;
    }
    const size_t n = static_cast<size_t>(m->numCols);
    struct part {
        void** at;
        size_t size;
    } parts[] = {
        {reinterpret_cast<void**>(&m->coldata), n * sizeof(ZEM_COLUMN_DATA)},
        {reinterpret_cast<void**>(&m->datafmt), n * sizeof(CS_DATAFMT)},
        {reinterpret_cast<void**>(&m->orig_type), n * sizeof(int32_t)},
        {reinterpret_cast<void**>(&m->copied), n * sizeof(CS_INT)},
    };
    if (m->lda == nullptr) {
        m->lda = zovldal(max_sql_columns, 30, 30);
        if (m->lda == nullptr) {
            PRINT('e', "yfr0308", "zem_fetch_rows: malloc lda failed.\n");
            drop_memory(c, false);
            rc = -1;
            return false;
        }
        m->lda->N = max_sql_columns;
        fresh = true;
    }
    for (const part& p : parts) {
        if (*p.at != nullptr) continue;
        *p.at = zero_block(p.size);
        fresh = true;
    }
    return true;
}

// Describes every column and rewrites its format for fetching it as blank-padded text.
// The byte sum of the widths, or -1 after a failing describe (reported).
long describe(memdata* m, CS_COMMAND* cmd) {
    long sum = 0;
    for (int32_t i = 0; i < m->numCols; ++i) {
        CS_DATAFMT* f = &m->datafmt[i];
        CS_RETCODE rc = ct_describe(cmd, i + 1, f);
        if (rc != CS_SUCCEED) {
            PRINT('w', "yfr0325", "zem_fetch_rows: ct_describe() column %d failed. ret=%d\n", i,
                  rc);
            return -1;
        }
        m->orig_type[i] = f->datatype == CS_CHAR_TYPE || f->datatype == CS_LONGCHAR_TYPE ||
                                  f->datatype == CS_VARCHAR_TYPE
                              ? 1
                              : 2;
        CS_INT w = zem_display_dlen(f);
        f->maxlength = w > 256 ? 256 : w;
        f->datatype = CS_CHAR_TYPE;
        f->format = CS_FMT_PADBLANK;
        f->scale = CS_SRC_VALUE;
        f->precision = CS_SRC_VALUE;
        f->count = 0;
        sum += f->maxlength;
    }
    return sum;
}

// Why the last connect or statement failed, in words, with the library's own text:
// "time-out after 60 seconds (...)", "login refused (Login failed.)", ...; `otherwise`
// names it when the library said nothing that tells.
const char* fault_reason(char* out, size_t size, zem_fault_kind otherwise = zem_fault_none) {
    const zem_fault_kind why = zem_fault() != zem_fault_none ? zem_fault() : otherwise;
    const char* detail = zem_fault_text();
    char head[64];
    if (why == zem_fault_timeout)
        std::snprintf(head, sizeof head, "time-out after %d seconds", zem_db_timeout());
    else
        std::snprintf(head, sizeof head, "%s", zem_fault_name(why));
    if (*detail != '\0')
        std::snprintf(out, size, "%s (%s)", head, detail);
    else
        std::snprintf(out, size, "%s (see the messages above)", head);
    return out;
}

// True when the statement that just failed lost its connection: a time-out (the library
// gives the connection up) or a connection the library holds dead.
bool connection_lost() {
    if (zem_fault() == zem_fault_timeout) return true;
    return zem_connection_dead(static_cast<CS_CONNECTION*>(collector_at->syb_connection));
}

// Closes a lost connection on our side (its command already dropped), says what happened
// in place of the library's bare return code and tells the gate: the next SQL cursor logs
// in again, or, after a time-out, none does in this pass. Kept open until the commit, a
// connection the library holds dead would fail every later cursor of the pass.
void close_lost_connection(const curs* c) {
    const zem_fault_kind why =
        zem_fault() == zem_fault_timeout ? zem_fault_timeout : zem_fault_dropped;
    char reason[400];
    if (why == zem_fault_timeout)
        PRINT('e', "ypp0242",
              "prep_l_fetch: cursor %s: no answer from the server within %d seconds (time-out)\n",
              c->cur_name, zem_db_timeout());
    else
        PRINT('e', "ypp0243", "prep_l_fetch: cursor %s: %s\n", c->cur_name,
              fault_reason(reason, sizeof reason, zem_fault_dropped));
    zem_con_cleanup(static_cast<CS_CONNECTION*>(collector_at->syb_connection), 300);
    zem_ctx_cleanup(static_cast<CS_CONTEXT*>(collector_at->syb_context), 300);
    collector_at->syb_connection = nullptr;
    collector_at->syb_context = nullptr;
    database_info.connected = 0;
    if (database_info.status != reDoInit) database_info.status = down;
    server_connection_lost(why);
}

CS_RETCODE end_fetch(curs* c, CS_RETCODE code, int rows, const char* id) {
    char when[24];
    form_time(when);
    PRINT('w', id, "Time = %s For cursor %s, fetch failed after = %d rows\n", when, c->cur_name,
          rows);
    mark_failed();
    return code;
}

}  // namespace

int connect_to_DB(distrib* d) {
    if (trace_all != 0) PRINT('t', "ycd0100", "entered connect_to_sybase in zovsyb\n");
    if (d == nullptr) {  // no collector distributor to hold a connection
        sqlca.sqlcode = 1;
        set_status(1);
        return 1;
    }
    std::memcpy(database_info.type, "SYB", 4);
    std::memset(database_info.name, 0, sizeof database_info.name);
    u_chr2str(database_info.name, machine_id.me, sizeof machine_id.me);

    CS_CONTEXT* context = nullptr;
    CS_RETCODE rc = zem_init(&context);
    if (rc != CS_SUCCEED) {
        PRINT('e', "ycd0105", "Unable to set context for SYBASE at %s, RC=%d\n", d->distrib_name,
              rc);
        d->syb_context = nullptr;
        sqlca.sqlcode = 1;
        set_status(1);
        server_connect_failed(zem_fault_none);  // its two tries cost 10 seconds: once a pass
        return 1;
    }
    d->syb_context = context;
    if (trace_all != 0)
        PRINT('t', "ycd0115", "serverid=%s, loginid=%s.\n", d->server_id, d->logon_id);
    // The password is never traced, not even in its stored form.
    if (my_trace_all[2] != 0) PRINT('t', "ycd0125", "Encryped password=%s\n", "***");

    // The server id is blank-padded; the library looks the name up as given.
    char server[sizeof d->server_id + 1];
    u_chr2str(server, d->server_id, static_cast<int>(strnlen(d->server_id, sizeof d->server_id)));
    CS_CONNECTION* connection = nullptr;
    rc = zem_connect(context, &connection, d->distrib_name, d->logon_id, d->password,
                     server[0] != '\0' ? server : nullptr);
    if (rc != CS_SUCCEED) {
        // The library's reason in place of its return code, which is 0 for every failure.
        const zem_fault_kind why = zem_fault();
        char reason[400];
        PRINT('e', "ycd0130", "Unable to connect to SYBASE server:%s, id:%s, %s\n", server,
              d->logon_id, fault_reason(reason, sizeof reason));
        server_connect_failed(why);
        sqlca.sqlcode = 1;
        set_status(1);
        zem_ctx_cleanup(context, rc);
        d->syb_context = nullptr;
        return 1;
    }
    server_connect_succeeded();
    database_info.status = up;
    d->syb_connection = connection;
    // SERVSTAT's SQLRC shows the outcome of the last connection, not the first failure.
    set_status(0);
    return 0;
}

void after_fetch_steps(curs* c, int count) {
    if (c->loadp != nullptr) process_loads(c, count);
    if (c->in_list != nullptr) build_in_list(c);
    if (c->dummy != 0) build_dummy_last_row(c);
    if (c->conditional_dummy != 0 && c->count == 0) build_dummy_last_row(c);
    c->this_iteration_end = static_cast<int32_t>(now_relative_sec());
    c->execution_time = c->this_iteration_end - c->this_iteration_start;
}

CS_RETCODE zem_fetch_rows(curs* c, const char* time_stamp, int* rows_for_insert, char* row_buffer,
                          CS_COMMAND* cmd) {
    memdata* m = nullptr;
    bool fresh = false;
    if (CS_RETCODE code = CS_SUCCEED; !make_memory(c, cmd, m, fresh, code)) return code;
    xSQLDA* lda = m->lda;
    lda->F = m->numCols;

    if (fresh) {
        // A new description: the columns are resolved again, the value buffer and the
        // null table are sized by it.
        c->cols_set = 0;
        long sum = describe(m, cmd);
        if (sum < 0) {
            drop_memory(c, false);
            return CS_FAIL;
        }
        U_FREE(c->buffer);
        c->buffer = static_cast<char*>(U_MALLOC(sum + 1));
        U_FREE(c->nulls);
        c->nulls = static_cast<int16_t*>(U_MALLOC(sizeof(int16_t) * m->numCols));
        std::memset(c->buffer, ' ', static_cast<size_t>(sum));
        c->buffer[sum] = '\0';
        std::memset(c->nulls, 0, sizeof(int16_t) * m->numCols);
    }

    long offset = 0;
    for (int32_t i = 0; i < lda->F; ++i) {
        CS_DATAFMT* f = &m->datafmt[i];
        lda->L[i] = f->maxlength;
        lda->C[i] = static_cast<int16_t>(f->namelen & 0xffff);
        lda->S[i] = f->name;
        lda->T[i] = 1;
        lda->V[i] = c->buffer + offset;
        lda->I[i] = &c->nulls[i];
        offset += lda->L[i];
        m->copied[i] = 0;
        CS_RETCODE rc = ct_bind(cmd, i + 1, f, lda->V[i], &m->copied[i], &c->nulls[i]);
        if (rc != CS_SUCCEED) {
            PRINT('e', "yfr0340", "zem_fetch_rows: ct_bind() column %d failed\n", i);
            PRINT('e', "yfr0345", "zem_fetch_rows failed. Ret = %d\n", rc);
            drop_memory(c, true);
            return rc;
        }
    }

    if (c->set_len != nullptr && c->sets_are_set_up == 0) init_set_len(c, lda);
    if (c->sets_are_set_up != 0) set_the_lengths(c, lda);

    int rows = 0;
    bool row_fail_told = false;
    CS_INT count = 0;
    CS_RETCODE rc;
    while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &count)) == CS_SUCCEED ||
           rc == CS_ROW_FAIL) {
        if (rc == CS_ROW_FAIL && !row_fail_told) {
            // A value the library could not convert whole; what it gave is kept.
            PRINT('w', "yfr0352", "zem_fetch_rows: cursor %s: a row was fetched incomplete\n",
                  c->cur_name);
            row_fail_told = true;
        }
        ++rows;
        if (statement_rows++ == 0 && c->pre_age != 0) {
            do_copy(c);
            if (c->empty != 0) delete_all(c);
        }
        ++c->rowno;
        for (int32_t j = 0; j < lda->F; ++j)
            if (m->orig_type[j] == 2) just_right(lda->V[j], m->datafmt[j].maxlength);
        if (merge_text(row_buffer, lda, c, m->orig_type, time_stamp) <= 0) {
            rc = CS_FAIL;
            char when[24];
            form_time(when);
            PRINT('e', "yfr0350", "Time = %s For cursor %s, merge failed after = %d rows\n", when,
                  c->cur_name, rows);
            PRINT('e', "yfr0355", "Holding cursor\n");
            hold(c);
            break;
        }
        if (c->trace != 0) proded(rows, row_buffer, c->length);
    }

    // The library ends the rows as if they were all there when the server closed the
    // connection or stopped answering in the middle of them: those rows are not a sample.
    if (rc == CS_END_DATA &&
        (zem_fault() != zem_fault_none ||
         zem_connection_dead(static_cast<CS_CONNECTION*>(collector_at->syb_connection))))
        rc = CS_FAIL;
    if (rc == CS_END_DATA) {
        if (c->cols_set == 0 && (c->conditional_dummy != 0 || c->dummy != 0))
            setup_dummy(c, lda, m->orig_type);
        if (c->post_age != 0) do_copy(c);
        if (rows_for_insert != nullptr) *rows_for_insert += rows;
        if (c->trace != 0)
            PRINT('t', "yfr0360", "Rows collected for cursor %s for insert = %d\n", c->cur_name,
                  rows);
        if (c->iterate == nullptr) after_fetch_steps(c, rows);
        return CS_SUCCEED;
    }
    return end_fetch(c, rc, rows, rc == CS_FAIL ? "yfr0365" : "yfr0370");
}

namespace {

// The run's bookkeeping on the cursor before anything is fetched: its start time (of the
// iteration when it does not iterate), sample and row numbers.
void start_run(curs* c, bool iterating) {
    // The run's time stays local: nothing else reads it.
    char xtime[15];
    get_time(xtime);
    const auto itime = static_cast<int32_t>(relative_sec(xtime));
    if (!iterating) {
        c->last_iteration_start = c->this_iteration_start;
        c->this_iteration_start = itime;
        c->current_interval = c->this_iteration_start - c->last_iteration_start;
    }
    if (c->trace != 0) PRINT('t', "ypp0200", "Doing prep_l_fetch for cursor %s\n", c->cur_name);
    ++c->sampleno;
    if (!iterating) c->rowno = 0;
    sqlca.sqlcode = 0;
    c->now_sec = itime;
}

// A cursor without SQL: one row built from its own column definitions.
int build_no_sql_row(curs* c, const char* time_stamp, int* rows_for_insert, bool iterating) {
    if (merge_text(engine_alloc_work_buff(), nullptr, c, scratch_types, time_stamp) <= 0) return 1;
    if (c->trace != 0) proded(1, work_buff, c->length);
    if (rows_for_insert != nullptr) ++*rows_for_insert;
    if (!iterating) after_fetch_steps(c, 1);
    return 0;
}

// The cursor's statement text into `statement`: the select with its host variables set,
// or the plain select. False when there is none to send this run (reported).
bool build_statement(curs* c) {
    int n = 0;
    if (c->has_hvs_in_sel != 0) {
        n = set_hvs_in_sel(c, statement.text);
        if (n < 0) return false;  // this run only: nothing is sent
        if (n == 0) c->has_hvs_in_sel = 0;
    }
    if (n > 0) {
        statement.len = n;
        return true;
    }
    sel* s = c->insert_select;
    int len = s != nullptr ? s->len - 1 : 0;
    if (len < 0) len = 0;
    if (len > static_cast<int>(sizeof statement.text) - 1) {
        PRINT('e', "ypp0207", "prep_l_fetch: statement of cursor %s longer than %d bytes\n",
              c->cur_name, static_cast<int>(sizeof statement.text) - 1);
        return false;
    }
    if (len > 0) std::memcpy(statement.text, s->text, static_cast<size_t>(len));
    statement.text[len] = '\0';
    // The text may end in its own NUL inside the length.
    statement.len = static_cast<int32_t>(std::strlen(statement.text));
    return true;
}

// Ends a statement that failed: the command is cancelled and dropped, a lost connection
// closed.
void abandon_statement(const curs* c, CS_COMMAND* cmd) {
    const bool lost = connection_lost();
    ct_cancel(nullptr, cmd, CS_CANCEL_ALL);
    ct_cmd_drop(cmd);
    if (lost) close_lost_connection(c);
}

// Sends the statement as a language command; CS_SUCCEED with the command in *cmd, else
// the failing code (reported, the command gone).
CS_RETCODE send_statement(const curs* c, CS_COMMAND** cmd) {
    auto* conn = static_cast<CS_CONNECTION*>(collector_at->syb_connection);
    zem_fault_clear();
    CS_RETCODE rc = ct_cmd_alloc(conn, cmd);
    if (rc != CS_SUCCEED) {
        PRINT('e', "ypp0205", "ct_cmd_alloc() failed. Ret = %d\n", rc);
        return rc;
    }
    rc = ct_command(*cmd, CS_LANG_CMD, statement.text, CS_NULLTERM, CS_UNUSED);
    if (rc != CS_SUCCEED) {
        PRINT('e', "ypp0210", "ct_command() failed. Ret = %d\n", rc);
        ct_cmd_drop(*cmd);
        return rc;
    }
    rc = ct_send(*cmd);
    if (rc != CS_SUCCEED) {
        PRINT('e', "ypp0215", "ct_send() failed. Ret = %d\n", rc);
        abandon_statement(c, *cmd);
    }
    return rc;
}

// One result of the statement; false when it ends the statement as failed (reported).
bool take_result(curs* c, CS_COMMAND* cmd, CS_INT type, const char* time_stamp,
                 int* rows_for_insert, char* rows_buffer) {
    switch (type) {
        case CS_CMD_SUCCEED:
        case CS_CMD_DONE:
            return true;
        case CS_STATUS_RESULT:
            // A procedure's return status says nothing about its rows.
            ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
            return true;
        case CS_ROW_RESULT:
            if (zem_fetch_rows(c, time_stamp, rows_for_insert, rows_buffer, cmd) == CS_SUCCEED)
                return true;
            PRINT('w', "ypp0220", "prep_l_fetch: zem_fetch_rows() failed\n");
            return false;
        case CS_CMD_FAIL: {
            mark_failed();
            PRINT('e', "ypp0230", "prep_l_fetch: ct_results() returned CS_CMD_FAIL\n");
            char when[24];
            form_time(when);
            PRINT('w', "ypp0225", "Time= %s, For cursor %s, fetch failed after %d rows\n", when,
                  c->cur_name, statement_rows);
            return false;
        }
        default:
            PRINT('w', "ypp0235", "prep_l_fetch: ct_results() unexpected type:%d\n", type);
            return false;
    }
}

// Takes every result of the sent statement and drops the command. The converted code.
int take_results(curs* c, CS_COMMAND* cmd, const char* time_stamp, int* rows_for_insert) {
    char* rows_buffer = engine_alloc_work_buff();
    statement_rows = 0;
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
        if (!take_result(c, cmd, type, time_stamp, rows_for_insert, rows_buffer)) {
            abandon_statement(c, cmd);
            return zem_convert_retcode(CS_FAIL);
        }
    }
    // A lost connection is told by close_lost_connection: "failed:0" would say nothing.
    const bool lost = rc != CS_END_RESULTS && connection_lost();
    if (!lost && rc == CS_FAIL)
        PRINT('w', "ypp0240", "prep_l_fetch: ct_results() failed:%d\n", rc);
    else if (!lost && rc != CS_END_RESULTS)
        PRINT('w', "ypp0245", "prep_l_fetch: ct_results() unexpected rc:%d\n", rc);
    ct_cmd_drop(cmd);
    if (lost) close_lost_connection(c);
    return zem_convert_retcode(rc);
}

}  // namespace

int prep_l_fetch(curs* c, const char* time_stamp, int* rows_for_insert) {
    if (c->once != 0 && c->first_row != nullptr) return 0;
    const bool iterating = c->iterate != nullptr;
    start_run(c, iterating);

    if (c->fetch_exit != nullptr) {
        int r = run_cursor_fetch_exit(c, time_stamp);
        if (r != 0) return r;
        if (!iterating) after_fetch_steps(c, c->rowno);
        return 0;
    }
    if (c->no_sql != 0) return build_no_sql_row(c, time_stamp, rows_for_insert, iterating);
    if (!build_statement(c)) return 1;
    CS_COMMAND* cmd = nullptr;
    if (CS_RETCODE rc = send_statement(c, &cmd); rc != CS_SUCCEED) return zem_convert_retcode(rc);
    return take_results(c, cmd, time_stamp, rows_for_insert);
}

int commit_collect(int release) {
    if (database_info.status == down || collector_at == nullptr ||
        collector_at->syb_connection == nullptr)
        return 0;
    bool redo = database_info.status == reDoInit;
    auto* conn = static_cast<CS_CONNECTION*>(collector_at->syb_connection);
    if (zem_execute_cmd(conn, "commit transaction ") != 1) {
        if (trace_all != 0)
            PRINT('e', "ycc0120", "commit_collect: zem_execute_cmd(commit) failed\n");
        release = 1;
    }
    if (release != 0) {
        zem_con_cleanup(conn, 300);
        zem_ctx_cleanup(static_cast<CS_CONTEXT*>(collector_at->syb_context), 300);
        collector_at->syb_connection = nullptr;
        collector_at->syb_context = nullptr;
        database_info.status = down;
        database_info.connected = 0;
    }
    if (redo) database_info.status = reDoInit;
    return 0;
}

int freeDBcurMem(curs* c) {
    if (c->cur_memory != nullptr) drop_memory(c, false);
    return 0;
}
