// Fetch exits: command, run, output layouts, merge.
#include "acquire/fetch_exit.h"

#include <sys/wait.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "acquire/fetch_merge.h"
#include "acquire/result_sets.h"
#include "acquire/script_text.h"
#include "collector/rows/column_lookup.h"
#include "collector/rows/dummy_rows.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_store.h"
#include "collector/rows/trace_control.h"
#include "collector/transforms/column_exits.h"
#include "collector/transforms/decode.h"
#include "expr/select_cursor.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/child.h"
#include "runtime/dates.h"
#include "runtime/env.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

constexpr char kSqlcodeZero[] = "               0";
constexpr char kSqlcodeFail[] = "              -1";
constexpr int kFill = CVD_PAD | CVD_LEFTNUM;

void set_sqlcode(curs* c, int code) {
    c->sqlcode = code;
    if (code == -1) std::memcpy(c->ssqlcode, kSqlcodeFail, sizeof c->ssqlcode);
}

// The cursor's result set, made and described on its first use.
_anchorDBdata* result_set(fetchExitGlobal* g) {
    curs* c = g->cursor;
    auto* d = static_cast<_anchorDBdata*>(c->db_data);
    if (d != nullptr) {
        g->anchor->current = d;
        return d;
    }
    d = DB_DATA_init(g->anchor, nullptr, 1);
    c->db_data = d;
    convert_2_column_data(c, d);
    return d;
}

// After every run: the result set's rows go, the cursor's columns read its last stored row.
void finish_run(curs* c) {
    if (auto* d = static_cast<_anchorDBdata*>(c->db_data)) freeDBresults(d, 'r');
    if (c->last_row != nullptr) {
        point_columns(c, c->last_row);
        c->cols_set = 0;
    }
}

// Whether the output of a finished run may become rows. A command that overran its limit,
// failed, or printed bytes that no text holds gives none: half an answer, or noise, is no
// data. (The runners themselves still hand back what such a command printed.)
bool output_usable(const curs* c, const script_outcome& o) {
    char why[64] = "";
    const int st = o.wait_status;
    if (o.process_rc == pRC_timedout) {
        std::snprintf(why, sizeof why, "was ended at its time limit");
    } else if (o.process_rc == pRC_ok && st != -1 && WIFEXITED(st) && WEXITSTATUS(st) != 0) {
        std::snprintf(why, sizeof why, "ended with exit status %d", WEXITSTATUS(st));
    } else if (o.process_rc == pRC_ok && st != -1 && WIFSIGNALED(st)) {
        std::snprintf(why, sizeof why, "was ended by signal %d", WTERMSIG(st));
    }
    if (why[0] != '\0') {
        PRINT('e', "fxr4032", "Fetch exit of cursor %s %s: no rows are taken from this run\n",
              c->cur_name, why);
        return false;
    }
    if (o.odd_bytes > 0) {
        PRINT('w', "fxr4033",
              "Fetch exit of cursor %s printed %d bytes that are not text (NUL or control "
              "bytes): its output is refused\n",
              c->cur_name, static_cast<int>(o.odd_bytes));
        return false;
    }
    return true;
}

// Most output lines a run keeps: the runtime's own bound (30000) for a cursor without a
// row limit, else twice the limit and at most 300.
int option1_lines(const curs* c) {
    if (c->limit <= 0) return 30000;
    const int twice = c->limit * 2;
    return twice > 300 ? 300 : twice;
}

// Severity letter of a relayed message line: after the digits of "ABC1234E" or "ABCD1234W".
char message_type(const char* line) { return line[8] == ' ' ? line[7] : line[8]; }

// Length of a fixed-width field at `at`: len, or less when the line ends first.
int field_length(size_t line_len, size_t at, int len) {
    if (at >= line_len || len <= 0) return 0;
    size_t left = line_len - at;
    return static_cast<int>(left < static_cast<size_t>(len) ? left : static_cast<size_t>(len));
}

}  // namespace

int u_getWord(parsed_word* w) {
    if (w->text == nullptr) return -1;
    if (w->end == nullptr) w->end = w->text + std::strlen(w->text);
    if (w->next == nullptr) w->next = w->text;
    char* p = w->next;
    char* const end = w->end;
    w->quoted = 0;
    // ASCII blanks tested inline (the same set in every locale), other bytes by isspace: the
    // library call per byte was the largest single cost of splitting an exit's output.
    auto space = [](char ch) {
        const auto u = static_cast<unsigned char>(ch);
        return u < 0x80 ? u == ' ' || (u >= '\t' && u <= '\r') : std::isspace(u) != 0;
    };
    while (p < end && space(*p)) ++p;
    if (p < end && *p == ',') {
        ++p;
        while (p < end && space(*p)) ++p;
    }
    if (p >= end) {
        w->next = end;
        return -1;
    }
    if (*p == '\'' || *p == '"') {
        char* close = static_cast<char*>(std::memchr(p + 1, *p, static_cast<size_t>(end - p - 1)));
        if (close != nullptr) {
            w->start = p + 1;
            w->quoted = 1;
            w->next = close + 1 < end ? close + 1 : end;
            return static_cast<int>(close - (p + 1));
        }
        w->start = p;  // unclosed: to the end, opening quote kept
        w->next = end;
        return static_cast<int>(end - p);
    }
    char* q = p;
    while (q < end && !space(*q) && *q != ',') ++q;
    w->start = p;
    w->next = q < end ? q + 1 : end;
    return static_cast<int>(q - p);
}

int simpleParsing(curs* /*c*/, _anchorDBdata* d, char* line) {
    parsed_word w{line, nullptr, nullptr, nullptr, 0};
    parsed_word peek = w;
    if (d->ncols == 0 || u_getWord(&peek) < 0) return 0;  // no word: no row
    _rowData* row = ROW_DATA_init(d);
    int i = 0;
    while (i < d->ncols && i < row->ncols) {
        int len = u_getWord(&w);
        if (len < 0) break;
        const _columnData& cd = d->Acoldata[i];
        int k = len < cd.length ? len : cd.length;
        row->col[i].length = convertData(cd.length, row->col[i].value, 1, k, w.start, 1, kFill);
        ++i;
    }
    return i;
}

int syntaxParsing(curs* /*c*/, _anchorDBdata* d, char* line) {
    if (d->ncols == 0) return 0;
    _rowData* row = ROW_DATA_init(d);
    const size_t line_len = std::strlen(line);
    size_t at = 0;
    for (int i = 0; i < d->ncols && i < row->ncols; ++i) {
        const _columnData& cd = d->Acoldata[i];
        const int width = cd.type == 2 ? cd.width : cd.length;
        int k = field_length(line_len, at, width);
        if (k > cd.length) k = cd.length;
        row->col[i].length =
            convertData(cd.length, row->col[i].value, 1, k, k > 0 ? line + at : "", 1, kFill);
        at += width > 0 ? static_cast<size_t>(width) : 0;
    }
    return d->ncols;
}

int tabbedParsing(curs* /*c*/, _anchorDBdata* d, char* line) {
    if (d->ncols == 0) return 0;
    _rowData* row = ROW_DATA_init(d);
    const char* p = line;
    bool at_end = false;
    for (int i = 0; i < d->ncols && i < row->ncols; ++i) {
        const _columnData& cd = d->Acoldata[i];
        int len = 0;
        const char* field = "";
        if (!at_end) {
            const char* tab = std::strchr(p, '\t');
            size_t n = tab != nullptr ? static_cast<size_t>(tab - p) : std::strlen(p);
            field = p;
            len = static_cast<int>(n);
            if (tab != nullptr)
                p = tab + 1;
            else
                at_end = true;
        }
        if (len > cd.length) len = cd.length;
        row->col[i].length = convertData(cd.length, row->col[i].value, 1, len, field, 1, kFill);
    }
    return d->ncols;
}

int cformatParsing(curs* /*c*/, _anchorDBdata* d, char* line) {
    if (d->ncols == 0) return 0;
    _rowData* row = ROW_DATA_init(d);
    const int line_len = static_cast<int>(std::strlen(line));
    for (int i = 0; i < d->ncols && i < row->ncols; ++i) {
        const _columnData& cd = d->Acoldata[i];
        int k = line_len < cd.length ? line_len : cd.length;
        row->col[i].length =
            convertData(cd.length, row->col[i].value, 1, k, line, 1, CVD_LEFTNUM | CVD_TRIM);
    }
    return d->ncols;
}

int internal_fetchx_i1() { return 0; }
int internal_fetchx_i2() { return 0; }

int setCurs4exit(fetchExitGlobal* g, curs* c, const char* time_stamp, fetch_ex* x) {
    g->time_stamp = time_stamp;
    g->format_type = x != nullptr ? x->format_type : 0;
    g->option = x != nullptr ? x->option : 0;
    g->cursor = c;
    if (c->cur_memory == nullptr)
        c->cur_memory = DBX_init(env_vars.serverid, env_vars.logonid, env_vars.password);
    g->anchor = static_cast<_anchorDBX*>(c->cur_memory);
    g->skip = c->start_after;
    g->limit = c->stop_after;
    std::memcpy(c->ssqlcode, kSqlcodeZero, sizeof c->ssqlcode);
    if (c->show_cursor || my_trace_all[5])
        PRINT('i', "fxr5505", "Calling Fetch Exit (%.16s) for cursor %s at time %s \n",
              x != nullptr ? x->name : "", c->cur_name, u_get_time(nullptr, 2));
    return 0;
}

int formatCommand(fetchExitGlobal* g) {
    curs* c = g->cursor;
    if (build_script_command(c, c->script, hv_style::fetch_exit, fx_command_size,
                             fx_parameters_size, &g->cmd) != 0)
        return 1;
    std::snprintf(g->command, sizeof g->command, "%s", g->cmd.command.c_str());
    std::snprintf(g->parameters, sizeof g->parameters, "%s", g->cmd.parameters.c_str());
    return 0;
}

int parseCmdResults(fetchExitGlobal* g) {
    curs* c = g->cursor;
    _anchorDBdata* d = result_set(g);
    const bool trace = c->trace || my_trace_all[5];
    int rows = 0;
    r_exec_chain* e = g->results;
    while (e != nullptr) {
        char* line = e->line;
        bool data = true;
        if (line[0] == '-' && line[1] == '>') {
            line += 2;
        } else if (u_ismessage(line)) {
            PRINT(static_cast<char>(std::tolower(static_cast<unsigned char>(message_type(line)))),
                  ".>", "%s\n", line);
            data = false;
        }
        if (data) {
            if (trace) PRINT('t', "fxr4026", "Exit returned:\"%.200s\"\n", line);
            if (g->skip > 0) {
                --g->skip;
            } else {
                int filled = 0;
                switch (g->format_type) {
                    case 1:
                    case 4:
                        filled = syntaxParsing(c, d, line);
                        break;
                    case 2:
                        filled = simpleParsing(c, d, line);
                        break;
                    case 3:
                        filled = tabbedParsing(c, d, line);
                        break;
                    case 5:
                        filled = cformatParsing(c, d, line);
                        break;
                    default:
                        break;
                }
                if (filled > 0) {
                    ++rows;
                    if (g->limit != 0 && --g->limit < 1) {
                        r_exec_chain* next = e->next;
                        e->next = nullptr;
                        u_free_r_chain(e);
                        e = next;
                        break;
                    }
                }
            }
        }
        r_exec_chain* next = e->next;
        e->next = nullptr;
        u_free_r_chain(e);
        e = next;
    }
    u_free_r_chain(e);
    g->results = nullptr;
    if (my_trace_all[3]) PRINT('t', "fxr4028", "Exit returned %d rows\n", rows);
    return rows;
}

int merge_DB_DATA2curs(fetchExitGlobal* g, curs* c) {
    static char row_buffer[ccmr_buffer_size];
    _anchorDBdata* d = static_cast<_anchorDBdata*>(c->db_data);
    if (d == nullptr) d = DB_DATA_get_first_c(g->anchor);
    if (d == nullptr) return 0;
    int rc = 0;
    for (_rowData* row = ROW_DATA_get_first(d); row != nullptr; row = ROW_DATA_get_next(row)) {
        ++c->rowno;
        row_buffer[0] = '\0';
        if (ccmr_mergeResults(row_buffer, c, d, row, g->time_stamp) == 0) {
            PRINT('w', "fxr4035", "Time = %s For cursor %s, merge failed after = %d rows\n",
                  u_get_time(nullptr, 1), c->cur_name, c->rowno);
            PRINT('w', "fxr4040", "Holding cursor\n");
            set_sqlcode(c, -1);
            rc = 1;
            break;
        }
        ++c->totalDataRowsReturned;
        ++c->tiCount;
        if ((c->trace && c->show_row) || my_trace_all[6]) proded(c->count, row_buffer, c->length);
    }
    freeDBresults(d, 'r');
    return rc;
}

int run_cursor_fetch_exit(curs* c, const char* time_stamp) {
    static fetchExitGlobal g;
    g.results = nullptr;
    std::memset(g.parameters, 0, sizeof g.parameters);
    std::memset(g.command, 0, sizeof g.command);
    g.cmd = script_command{};
    setCurs4exit(&g, c, time_stamp, c->fetch_exit);
    const fetch_ex* x = c->fetch_exit;
    int n = 0;
    if (g.format_type != 9) {
        if (formatCommand(&g) != 0) {
            set_sqlcode(c, -1);
            finish_run(c);
            return 1;
        }
        if (c->trace || my_trace_all[5])
            PRINT('t', "fxr4024", "Call Exit %s, Parms %.200s.\n", g.command, g.parameters);
        const int limit_s = x != nullptr && x->optval > 0 ? x->optval : fx_default_limit;
        if (g.option == 2) {
            run_script_command(c, g.cmd, script_run::detached, limit_s, 0);
            n = 0;
        } else {
            script_outcome outcome;
            if (g.option == 1)
                g.results = run_script_command(c, g.cmd, script_run::timed, limit_s,
                                               option1_lines(c), &outcome);
            else
                g.results =
                    run_script_command(c, g.cmd, script_run::wait, limit_s, 10000, &outcome);
            if (!output_usable(c, outcome)) {
                // The run fails as a fetch that failed does: no rows, no dummy row.
                u_free_r_chain(g.results);
                g.results = nullptr;
                set_sqlcode(c, -1);
                finish_run(c);
                return 1;
            }
            n = parseCmdResults(&g);
        }
    } else {
        switch (g.option) {
            case 1:
                internal_fetchx_i1();
                break;
            case 2:
                internal_fetchx_i2();
                break;
            case 7:
                return parse_script_text(c, time_stamp, 9);
            default:
                PRINT('e', "fxr4025", "Invalid internal exit option %d\n", g.option);
                break;
        }
    }
    int rc;
    if (n == 0) {
        if (c->dummy_text == nullptr && (c->conditional_dummy || c->dummy)) {
            // The columns of the exit's output describe the dummy row.
            _anchorDBdata* d = result_set(&g);
            ccmr_setup_dummy(c, d->Acoldata, d->ncols);
            c->sqlcode = 100;
            rc = c->held == 'Y' ? 1 : 0;
        } else if (c->dummy_text != nullptr && (c->conditional_dummy || c->dummy)) {
            c->sqlcode = 100;
            rc = 0;
        } else {
            set_sqlcode(c, -1);
            rc = 1;
        }
    } else if (merge_DB_DATA2curs(&g, c) != 0) {
        set_sqlcode(c, -1);
        rc = 1;
    } else {
        c->sqlcode = 100;
        rc = 0;
    }
    finish_run(c);
    return rc;
}

void fetch_exit_release(curs* c) {
    if (c == nullptr || c->fetch_exit == nullptr) return;
    DBX_free(static_cast<_anchorDBX*>(c->cur_memory));  // its result sets with it
    c->cur_memory = nullptr;
    c->db_data = nullptr;
}
