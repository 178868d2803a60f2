// The request loop of the parent-child SQL channel, child side.
//
// The loop reads with a poll deadline (no alarm, no long jump), so a statement is never
// interrupted by the read time-out, and answers every complete request exactly once: a
// request that cannot be run whole (an overlong line, more lines than it may hold) is read
// through its !Z and refused with one status record.
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "dbaccess/common/pcc_ops.h"
#include "model/db_specifics.h"
#include "runtime/alloc.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/pcc.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

namespace {

pcc_ops g_ops{};
volatile sig_atomic_t g_signal_exit = 0;

// Return code of a refused request.
constexpr int kRefused = 12;

bool ok_to_run(const pcc_ops& ops) {
    return ops.db_connect && ops.process_a_sql && ops.process_a_sp && ops.commit_collect;
}

// Kept across requests.
struct loop_state {
    char database[pcc_database_max + 1] = "";
    char connected = 'Y';
    bool to_exit = false;
    int read_wait = 900;
};

// Per request.
struct request_state {
    int code = 0;
    char cursor[10] = "";
    int supplied_id = 0;
    int send_headers = 0;
    bool database_refused = false;
    bool write_failed = false;
};

int connect_now() {
    return g_ops.db_connect(env_vars.serverid ? env_vars.serverid : "",
                            env_vars.logonid ? env_vars.logonid : "",
                            env_vars.password ? env_vars.password : "");
}

void status_record(loop_state& st, request_state& rq) {
    if (print_return(rq.code, rq.supplied_id, rq.cursor, st.connected) != 0) rq.write_failed = true;
}

// !S S and !S P: a status record for what came before, a connection when there is none,
// then the statement.
void run_statement(loop_state& st, request_state& rq, const char* line, bool procedure) {
    status_record(st, rq);
    if (rq.write_failed) return;
    if (rq.database_refused) {
        // The named database was refused: never run the statement somewhere else.
        PRINT('e', "sqi2045", "Statement not run: the database name was refused.\n");
        rq.code = 1;
        return;
    }
    if (database_info.connected == 0) {
        int rc = connect_now();
        if (rc != 0) {
            st.connected = 'N';
            rq.code = rc;
            return;
        }
        st.connected = 'Y';
    }
    pcc_sql sql;
    pcc_parse_sql(line, &sql);
    rq.code = procedure ? g_ops.process_a_sp(st.database, sql.rest, rq.send_headers)
                        : g_ops.process_a_sql(st.database, sql.text, rq.send_headers);
}

void set_database(loop_state& st, request_state& rq, const char* line) {
    // The name is at byte 22; a sender that formats with pcc_format puts it at byte 5.
    pcc_sql sql;
    pcc_parse_sql(line, &sql);
    char work[pcc_record_size];
    std::snprintf(work, sizeof work, "%s", *sql.rest ? sql.rest : sql.text);
    char* name = u_stripx(work, 'B', " ");
    if (std::strlen(name) > static_cast<size_t>(pcc_database_max)) {
        PRINT('w', "sqi2035", "Database name longer than %d characters refused: '%.60s...'\n",
              pcc_database_max, name);
        rq.database_refused = true;
        return;
    }
    rq.database_refused = false;
    std::snprintf(st.database, sizeof st.database, "%s", name);
}

void options_record(const char* line) {
    // Counted first: a record of more words than the list holds is refused whole.
    const char* text = pcc_parse_text(line);
    int n = 0;
    for (const char* p = text; *p;) {
        while (*p == ' ' || *p == '\t') ++p;
        if (!*p) break;
        ++n;
        while (*p && *p != ' ' && *p != '\t') ++p;
    }
    if (n > pcc_option_words) {
        PRINT('w', "sqi2055", "Option record of %d words refused (at most %d).\n", n,
              pcc_option_words);
        return;
    }
    char* copy = static_cast<char*>(U_MALLOC(std::strlen(text) + 1));
    std::strcpy(copy, text);
    char* words[pcc_option_words + 2] = {};
    int count = u_tokenset(words, copy, " \t");
    parseHVMCmdline(count, words);  // keeps copies of what it takes
    U_FREE(copy);
}

void command_record(loop_state& st, request_state& rq, char* line) {
    pcc_command cmd;
    pcc_parse_command(line, &cmd);
    const char* parm = cmd.parms;
    switch (cmd.type) {
        case 'A':
            if (*parm) std::snprintf(rq.cursor, sizeof rq.cursor, "%s", cmd.name);
            break;
        case 'B':
            break;
        case 'C':
            rq.code = 0;
            st.connected = 'Y';
            if (database_info.connected == 0) {
                rq.code = connect_now();
                if (rq.code != 0) st.connected = 'N';
            }
            break;
        case 'D':
            rq.code = g_ops.commit_collect(1);
            st.connected = 'N';
            break;
        case 'F':
            if (*parm) {
                char work[pcc_record_size];
                std::snprintf(work, sizeof work, "%s", parm);
                char* name = u_stripx(work, 'B', " ");
                if (std::strlen(name) > static_cast<size_t>(pcc_data_file_max))
                    PRINT('w', "sqi2042", "Data file name longer than %d characters refused.\n",
                          pcc_data_file_max);
                else
                    std::snprintf(data_file, sizeof data_file, "%s", name);
            } else {
                PRINT('w', "sqi2040", "No data file specified with option F, output to stdout.\n");
            }
            break;
        case 'I':
            rq.supplied_id = std::atoi(parm);
            break;
        case 'O':
            g_ops.commit_collect(0);
            break;
        case 'R':
            if (*u_stripx(const_cast<char*>(parm), 'L', " ")) {
                max_data_row = std::atoi(parm);
            } else {
                PRINT('w', "sqi2030",
                      "Maximum number of rows to return not specified with option R, return all "
                      "rows.\n");
            }
            break;
        case 'S':
            g_ops.commit_collect(1);
            st.connected = 'N';
            st.to_exit = true;
            break;
        case 'T':
            trace_all = static_cast<int16_t>(~trace_all);
            for (int i = 0; i <= my_trace_all_l && i < 10; ++i) my_trace_all[i] = trace_all;
            break;
        case 'X':
            rq.send_headers = 1;
            break;
        default:
            PRINT('w', "sqi2050", "Invalid argument: '%c'\n", cmd.type);
            break;
    }
}

void free_lines(char** lines, int count) {
    for (int i = 0; i < count; ++i) {
        if (lines[i]) U_FREE(lines[i]);
        lines[i] = nullptr;
    }
}

// Handled, not left to the default action: the child ends its database session first.
// SIGTERM for the life of the loop: sqlin_sigh records it, and it is held blocked except
// while the loop waits for a request, so it never interrupts a statement and is never
// missed between two waits. The previous action and mask come back at the end.
class terminate_signal {
  public:
    terminate_signal() {
        g_signal_exit = 0;
        struct sigaction act {};
        act.sa_handler = sqlin_sigh;
        sigemptyset(&act.sa_mask);
        act.sa_flags = 0;
        if (sigaction(SIGTERM, &act, &old_action_) != 0) {
            PRINT('e', "sqi5921", "sigaction() terminate error: %d\n", errno);
            return;
        }
        installed_ = true;
        sigset_t term;
        sigemptyset(&term);
        sigaddset(&term, SIGTERM);
        if (sigprocmask(SIG_BLOCK, &term, &old_mask_) != 0) {
            // Unblocked, the handler still records; a signal just before a wait is then
            // seen only when that wait ends.
            PRINT('w', "sqi5931", "sigprocmask() block error: %d\n", errno);
            return;
        }
        blocked_ = true;
        sigset_t wait_mask = old_mask_;
        sigdelset(&wait_mask, SIGTERM);
        pcc_receive_collector_stop(&g_signal_exit, &wait_mask);
    }
    ~terminate_signal() { restore(); }
    terminate_signal(const terminate_signal&) = delete;
    terminate_signal& operator=(const terminate_signal&) = delete;
    void restore() {
        if (blocked_) {
            pcc_receive_collector_stop(nullptr, nullptr);
            if (sigprocmask(SIG_SETMASK, &old_mask_, nullptr) != 0)
                PRINT('w', "sqi5950", "sigprocmask() setmask error: %d", errno);
            blocked_ = false;
        }
        if (installed_) {
            if (sigaction(SIGTERM, &old_action_, nullptr) != 0)
                PRINT('w', "sqi5940", "sigaction() sigterm error: %d", errno);
            installed_ = false;
        }
    }

  private:
    struct sigaction old_action_ {};
    sigset_t old_mask_{};
    bool installed_ = false;
    bool blocked_ = false;
};

// What every end of the loop does: messages back to their usual place, the log closed.
void end_loop(bool old_channel) {
    u_msg_channel(old_channel);
    if (stder) {
        std::fclose(stder);
        stder = nullptr;
    }
}

void write_end(request_state& rq) {
    char rec[pcc_record_size];
    pcc_format(rec, 'Z');
    if (pcc_send_collector(rec, stdout) != 0) rq.write_failed = true;
}

}  // namespace

void pcc_install_ops(const pcc_ops& ops) { g_ops = ops; }

void sqlin_sigh(int sig) {
    // Only records: the wait for the next request ends on the flag, and the loop ends.
    if (sig == SIGTERM) g_signal_exit = 1;
}

char* u_gets(char* buffer, int wait_seconds, int* status) {
    if (u_trace_on(9)) PRINT('t', "sqi3010", "Read next input line from collector\n");
    int rc = pcc_receive_collector_wait(buffer, wait_seconds);
    if (status) *status = rc;
    if (rc != pcc_read_line) return nullptr;
    if (u_trace_on(8)) PRINT('t', "squ3020", "Read '%.40s'\n", buffer);
    return buffer;
}

int print_return(int code, int supplied_id, const char* cursor, int connected) {
    int rc;
    if (code == 0)
        rc = 0;
    else if (database_info.status == down)
        rc = 11;
    else if (pcc_db_error == 10)
        rc = 10;
    else
        rc = 12;
    char rec[pcc_record_size];
    pcc_format(rec, 'I', 'S', rc, supplied_id, code, cursor, connected);
    return pcc_send_collector(rec, stdout);
}

int pcc_get(char** lines, int* count, pcc_request_ids* ids, int wait_seconds) {
    *count = 0;
    ids->cursor[0] = '\0';
    ids->supplied_id = 0;
    bool dropped = false;
    char buf[pcc_record_size];
    for (;;) {
        int status = 0;
        if (!u_gets(buf, wait_seconds, &status)) {
            switch (status) {
                case pcc_read_toolong:
                    dropped = true;
                    continue;
                case pcc_read_timeout:
                    return -3;
                case pcc_read_eof:
                    return -1;
                case pcc_read_stopped:
                    return -5;
                default:
                    return -4;
            }
        }
        size_t len = std::strlen(buf);
        while (len > 0 && (buf[len - 1] == '\n' || buf[len - 1] == '\r')) buf[--len] = '\0';
        pcc_header h;
        if (pcc_parse_header(buf, &h) != 0 || h.id == '\0') {
            PRINT('w', "sqi1070", "Invalid argument: '%s'. Skipping line\n", buf);
            continue;
        }
        if (h.id == 'Z') return dropped ? -2 : 0;
        if (h.id != 'S' && h.id != 'O' && h.id != 'X') {
            PRINT('w', "sqi1080", "Invalid argument: '%s'. Skipping record.\n", buf);
            continue;
        }
        // The names a refusal is answered under.
        pcc_command cmd;
        if (pcc_parse_command(buf, &cmd) == 0 && *cmd.parms) {
            if (cmd.type == 'A')
                std::snprintf(ids->cursor, sizeof ids->cursor, "%s", cmd.name);
            else if (cmd.type == 'I')
                ids->supplied_id = std::atoi(cmd.parms);
        }
        if (dropped) continue;
        if (*count >= pcc_request_lines) {
            PRINT('e', "sqi1090", "Request of more than %d lines refused.\n", pcc_request_lines);
            free_lines(lines, *count);
            *count = 0;
            dropped = true;
            continue;
        }
        // One spare zero byte: a record of two characters reads as one with an empty
        // sub-type (byte 3) instead of whatever the allocation held.
        char* copy = static_cast<char*>(U_MALLOC(len + 2));
        std::memcpy(copy, buf, len + 1);
        copy[len + 1] = '\0';
        lines[(*count)++] = copy;
    }
}

int pcc_request() {
    loop_state st;
    if (!ok_to_run(g_ops)) {
        PRINT('e', "sqi2080", "No database operations installed.\n");
        return 0;
    }
    PRINT('@', "!M ", "%s", "");
    if (trace_all) u_openPRINTfile("sql.out");
    const bool old_channel = u_msg_channel(true);
    // A parent that has gone is a failed write, not the end of the process.
    std::signal(SIGPIPE, SIG_IGN);
    terminate_signal term;

    if (char* v = u_getenv("COLL_SQLIN_TIMEOUT", 0, nullptr)) {
        st.read_wait = std::atoi(v);
        if (st.read_wait < 0) st.read_wait = 0;
        U_FREE(v);
    }

    char* lines[pcc_request_lines] = {};
    while (!st.to_exit && !g_signal_exit) {
        int count = 0;
        pcc_request_ids ids{};
        int got = pcc_get(lines, &count, &ids, st.read_wait);
        if (got == -3) {
            PRINT('w', "sqi5939", "read timed out after %d seconds\n", st.read_wait);
            free_lines(lines, count);
            break;
        }
        if (got == -5) {
            free_lines(lines, count);
            break;  // the terminate request, below
        }
        if (got == -4) {
            // A read error ends the process with status 2, the connection released first.
            free_lines(lines, count);
            g_ops.commit_collect(1);
            end_loop(old_channel);
            u_exit(2);
        }
        if (got == -1) {
            // End of input: a request without its !Z is not run; the connection is released
            // as after !X S.
            free_lines(lines, count);
            g_ops.commit_collect(1);
            break;
        }
        request_state rq;
        max_data_row = -1;
        data_file[0] = '\0';
        pcc_db_error = 0;
        if (got == -2) {
            PRINT('e', "sqi1095", "Request refused: it was not received whole.\n");
            char rec[pcc_record_size];
            pcc_format(rec, 'I', 'S', kRefused, ids.supplied_id, 0, ids.cursor, st.connected);
            if (pcc_send_collector(rec, stdout) != 0) rq.write_failed = true;
            write_end(rq);
            free_lines(lines, count);
            if (rq.write_failed) {
                g_ops.commit_collect(1);
                break;
            }
            continue;
        }
        for (int i = 0; i < count && lines[i] && !rq.write_failed; ++i) {
            char* line = lines[i];
            pcc_header h;
            pcc_parse_header(line, &h);
            if (h.id == 'S') {
                switch (h.type) {
                    case 'D':
                        set_database(st, rq, line);
                        break;
                    case 'S':
                        run_statement(st, rq, line, false);
                        break;
                    case 'P':
                        run_statement(st, rq, line, true);
                        break;
                    case 'M':
                        status_record(st, rq);
                        break;
                    default:
                        break;
                }
            } else if (h.id == 'O') {
                options_record(line);
            } else if (h.id == 'X') {
                command_record(st, rq, line);
            }
        }
        if (!rq.write_failed) status_record(st, rq);
        if (!rq.write_failed) write_end(rq);
        free_lines(lines, count);
        if (rq.write_failed) {
            PRINT('e', "sqi2085", "Answer to the parent could not be written; ending.\n");
            if (!st.to_exit) g_ops.commit_collect(1);
            break;
        }
    }

    if (g_signal_exit) {
        // The parent asked the child to end: as after !X S, then status 0.
        if (u_trace_on(2)) PRINT('t', "sqi4010", "Signal handler for:%d\n", SIGTERM);
        PRINT('s', "sqi4040", "Terminate request received\n");
        if (!st.to_exit) g_ops.commit_collect(1);
        end_loop(old_channel);
        u_exit(0);
    }
    if (trace_all) PRINT('t', "sqi2070", "Noraml termination\n");
    end_loop(old_channel);
    return 0;
}
