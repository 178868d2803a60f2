#include "dbaccess/zemsql/zemsql.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acquire/ctlib/zemctutl.h"
#include "dbaccess/common/dbaccess_util.h"
#include "dbaccess/common/pcc_ops.h"
#include "model/db_specifics.h"
#include "runtime/child.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/password.h"
#include "runtime/tempnames.h"
#include "runtime/trace.h"

extern char** environ;

db_specifics database_info;
int16_t call_type = 0;
int pid = 0;

namespace {

constexpr size_t kProcNameMax = 63;
// The environment is rebuilt when more than this many databases were handled since the
// start or the last periodic rebuild.
constexpr int kRebuildAfter = 24;

bool contains(const char* text, const char* word) { return std::strstr(text, word) != nullptr; }

int64_t decimal_of(const char* text) { return std::strtoll(text, nullptr, 10); }
// Fractions kept: "1.5 MB" read as 1 would drop a third of the fragment from the report.
double size_of(const char* text) { return std::strtod(text, nullptr); }

// Runs a statement on a fresh command: the command made, the database switched to, the
// work done, the store freed and the command dropped.
template <class Work>
int on_new_command(const char* database, Work work) {
    if (!connection || ct_cmd_alloc(connection, &cmd) != CS_SUCCEED) {
        PRINT('e', "esq0110", "ct_cmd_alloc failed\n");
        cmd = nullptr;
        return 1;
    }
    int code = 0;
    if (database && *database) {
        std::string db = database;
        code = DB_to_use(db.data());
    }
    if (code == 0) code = work();
    free_results();
    drop_cmd();
    if (code) forget_dead_connection();
    return code;
}

}  // namespace

int db_connect(const char* server, const char* login, const char* password) {
    // A connection still open goes first: one context and one connection at a time.
    drop_cmd();
    clean_up_connection(0);
    clean_up_context(0);
    int code = init_CT_env();
    if (code == 0) code = connect_to_server(server, login, password);
    if (code) {
        clean_up_context(0);
        database_info.connected = 0;
    }
    return code;
}

int process_a_sql(const char* database, const char* sql, int send_headers) {
    return on_new_command(database, [&] {
        if (DoSQL(sql) != 0) {
            PRINT('e', "jup0003", "Error on process sql:'%s'\n", sql);
            return 1;
        }
        return process_row_results(send_headers);
    });
}

int process_a_sp(const char* database, const char* text, int send_headers) {
    procedure_call call;
    if (!read_procedure_call(text, call, "jup0001", "jup0002")) return 1;
    if (std::strlen(call.name) > kProcNameMax) {
        PRINT('e', "jup0004", "Stored procedure name longer than %d characters\n",
              static_cast<int>(kProcNameMax));
        return 1;
    }
    return on_new_command(database, [&] {
        if (DoRPC(call.name, call.params, call.count) != 0) {
            PRINT('e', "jup0003", "Error on process stored procedure:'%s'\n", call.name);
            return 1;
        }
        return process_row_results(send_headers);
    });
}

int commit_collect(int release) {
    if (database_info.status == down) return 0;
    if (connection && zem_execute_cmd(connection, "commit transaction ") != CS_SUCCEED) {
        if (trace_all) PRINT('e', "ycc0120", "commit_collect: zem_execute_cmd(commit) failed\n");
        release = 1;
    }
    if (release) {
        drop_cmd();
        if (connection) zem_con_cleanup(connection, 300);
        if (context) zem_ctx_cleanup(context, 300);
        connection = nullptr;
        context = nullptr;
        database_info.status = down;
        database_info.connected = 0;
    }
    return 0;
}

int helpdb_out() {
    const _set_desc* s1 = results_set_anchor;
    if (!s1) {
        PRINT('e', "esq0390", "No output data\n");
        return 1;
    }
    if (!s1->first_row) {
        PRINT('e', "esq0400", "No row in result set #1\n");
        return 1;
    }
    if (s1->num_columns < 1) {
        PRINT('e', "esq0410", "No columns in a row in result set #1\n");
        return 1;
    }
    if (s1->num_columns < 4) {
        PRINT('e', "esq0412", "Not enough columns in result set #1\n");
        return 1;
    }
    const char* name = stored_value(s1, 0, 1);
    const char* id = stored_value(s1, 0, 4);
    const _set_desc* frags = s1->next;
    while (frags && frags->num_columns != 4) frags = frags->next;
    if (!frags) {
        PRINT('e', "esq0420", "Set #2 not found\n");
        return 1;
    }
    double log_mb = 0, data_mb = 0;
    int64_t log_free = 0, data_free = 0;
    int16_t mixed = 0;
    bool log_free_missing = false;
    int r = 0;
    for (const _results_set_row* row = frags->first_row; row; row = row->next, ++r) {
        const char* usage = stored_value(frags, r, 3);
        const char* free_text = stored_value(frags, r, 4);
        bool data = contains(usage, "data"), log = contains(usage, "log");
        if (data) {
            data_mb += size_of(stored_value(frags, r, 2));
            data_free += decimal_of(free_text);
        }
        if (log) {
            log_mb += size_of(stored_value(frags, r, 2));
            if (contains(free_text, "not")) {
                if (trace_all) PRINT('t', "dbg0312", "log is not applicapable\n");
                log_free_missing = true;
            } else {
                log_free += decimal_of(free_text);
            }
        }
        if (data && log) mixed = 1;
    }
    if (log_free_missing) {
        const _set_desc* s3 = frags->next;
        if (!s3 || !s3->first_row) {
            PRINT('e', "esq0400", "No row in result set #3\n");
            return 1;
        }
        if (s3->num_columns < 1) {
            PRINT('e', "esq0410", "No columns in a row in result set #3\n");
            return 1;
        }
        const char* eq = std::strchr(stored_value(s3, 0, 1), '=');
        if (eq) log_free += decimal_of(eq + 1);
    }
    std::printf("%s %s %lld %lld %lld %lld %hi\n", name, id, static_cast<long long>(log_mb * 1024),
                static_cast<long long>(data_mb * 1024), static_cast<long long>(log_free),
                static_cast<long long>(data_free), mixed);
    std::fflush(stdout);
    return 0;
}

int process_multiple_db_req(int n, char** words) {
    if (n < 1) {
        PRINT('e', "esq0094", "No procedure named for the space report\n");
        return 1;
    }
    const char* proc = words[0];
    if (n == 1) {
        if (DoRPC(proc, nullptr, 0) != 0) return 1;
        int code = process_row_results(0);
        if (code == 0) code = helpdb_out();
        free_results();
        return code;
    }
    int code = 0;
    int handled = 0;
    bool rebuild = false;
    for (int i = 1; i < n; ++i) {
        if (rebuild || !cmd) {
            int rc = reinit_CT_env();
            if (rc) {
                // Every later database tries again and fails with the code.
                if (rc > code) code = rc;
                rebuild = true;
                continue;
            }
            rebuild = false;
        }
        std::string db = words[i];
        int rc = DB_to_use(db.data());
        if (rc == 0) {
            char* param[1] = {db.data()};
            rc = DoRPC(proc, param, 1);
        }
        if (rc == 0) {
            rc = process_row_results(0);
            if (rc) free_results();
        }
        if (rc == 0) rc = helpdb_out();
        free_results();
        if (rc > code) code = rc;
        if (rc) {
            rebuild = true;
        } else if (handled > kRebuildAfter) {
            rebuild = true;
            handled = 0;
            continue;
        }
        ++handled;
    }
    return code;
}

int process_sp_w_parms(int n, char** words) {
    if (n < 2) {
        PRINT('e', "jup0001", "Stored procedure: no procedure name given\n");
        return 1;
    }
    std::string db = words[0];
    int code = DB_to_use(db.data());
    if (code) return code;
    // Every operand after the name is a parameter.
    code = DoRPC(words[1], words + 2, n - 2);
    if (code == 0) code = process_row_results(0);
    return code;
}

int process_sql(int n, char** words) {
    if (n < 1) return 1;
    std::string db = words[0];
    int code = DB_to_use(db.data());
    if (code) return code;
    for (int i = 1; i < n; ++i) {
        if (!cmd) {
            // A failed batch dropped the command: the next one gets a new one.
            if (!connection || ct_cmd_alloc(connection, &cmd) != CS_SUCCEED) {
                cmd = nullptr;
                PRINT('e', "esq0110", "ct_cmd_alloc failed\n");
                return 1;
            }
        }
        int rc = DoSQL(words[i]);
        if (rc == 0) rc = process_row_results(0);
        if (rc > code) code = rc;
    }
    return code;
}

int get_sqladdr() {
    const char* ocs = std::getenv("SYBASE_OCS");
    if (!ocs || !*ocs) {
        PRINT('e', "esq1006", "SYBASE_OCS is not set; isql cannot be found\n");
        return 1;
    }
    char name[1024];
    u_createTempFileName(name, "SQL", ' ');
    int fd = u_createTempFile(name);
    if (fd < 0) {
        std::printf("unable to open file for write %s \n", name);
        std::fflush(stdout);
        return 1;
    }
    char sql[128];
    int len = std::snprintf(sql, sizeof sql, "dbcc traceon(3604)\ndbcc pktmemshow(%d)\ngo\n", pid);
    bool written = write(fd, sql, static_cast<size_t>(len)) == len;
    close(fd);
    if (!written) {
        std::printf("unable to open file for write %s \n", name);
        std::fflush(stdout);
        unlink(name);
        return 1;
    }
    std::string program = std::string(ocs) + "/bin/isql";
    std::vector<std::string> args = {program, std::string("-U") + env_vars.logonid,
                                     std::string("-S") + env_vars.serverid,
                                     std::string("-i") + name};
    // LD_LIBRARY_PATH for isql only, without an empty entry (the current directory).
    std::vector<std::string> env;
    const char* old_path = std::getenv("LD_LIBRARY_PATH");
    std::string lib = std::string(ocs) + "/lib";
    if (old_path && *old_path) lib += std::string(":") + old_path;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "LD_LIBRARY_PATH=", 16) != 0) env.emplace_back(*e);
    env.push_back("LD_LIBRARY_PATH=" + lib);
    // The plain password goes on isql's standard input, where isql asks for it.
    std::string input;
    char* plain = env_vars.password ? fok(env_vars.password) : nullptr;
    if (plain && std::strncmp(plain, "Error ", 6) == 0) {
        std::memset(plain, 0, std::strlen(plain));
        PRINT('e', "esq0605", "Stored password for SYBASE Server connection cannot be read\n");
        unlink(name);
        return 1;
    }
    if (plain) {
        input = std::string(plain) + "\n";
        std::memset(plain, 0, std::strlen(plain));
    }
    std::vector<char*> argv, envp;
    for (auto& w : args) argv.push_back(w.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    execopt opts{};
    opts.envchain = envp.data();
    opts.retstderr = 1;
    r_exec_chain* chain = u_exec_argv(argv.data(), input.c_str(), 0, &opts, nullptr);
    std::fill(input.begin(), input.end(), '\0');
    unlink(name);
    std::vector<std::string> lines;
    for (r_exec_chain* c = chain; c; c = c->next)
        lines.emplace_back(c->line, static_cast<size_t>(c->size));
    u_free_r_chain(chain);
    if (lines.empty()) {
        PRINT('e', "esq1004", "u_exec failed to return data\n");
        return 1;
    }
    std::string taken;
    bool found = false;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        if (contains(lines[i].c_str(), "Invalid")) {
            PRINT('e', "esq1000", "%s\n", lines[i].c_str());
            return 1;
        }
        if (contains(lines[i].c_str(), "READ BUFFER")) {
            taken = lines[i];
            found = true;
            break;
        }
    }
    if (!found) taken = lines.back();
    taken = taken.substr(0, 100);
    size_t eq = taken.find('=');
    if (eq == std::string::npos) {
        PRINT('e', "esq1008", "No address in the isql line: %s\n", taken.c_str());
        return 1;
    }
    size_t b = eq + 1;
    while (b < taken.size() && taken[b] == ' ') ++b;
    size_t e = taken.find(' ', b);
    std::string address = taken.substr(b, e == std::string::npos ? std::string::npos : e - b);
    std::printf("%s  %d \n", address.c_str(), pid);
    std::fflush(stdout);
    return 0;
}

int copy_cur_env() {
    get_envs(&env_vars);
    std::string missing;
    if (!env_vars.serverid || !*env_vars.serverid) missing += "Server ID ";
    if (!env_vars.logonid || !*env_vars.logonid) missing += "Database Logon ID ";
    if (!env_vars.password || !*env_vars.password) missing += "Database password ID ";
    if (!missing.empty()) {
        PRINT('e', "esq0400", "Missing required vars (%s)\n", missing.c_str());
        return 1;
    }
    return 0;
}

int zemsql_run(int argc, char** argv) {
    int32_t consumed = parseHVMCmdline(argc - 1, argv + 1);
    std::vector<std::string> operands;
    for (int i = consumed; i < Argc; ++i) operands.emplace_back(Argv[i]);
    if (u_trace_on(0)) {
        PRINT('t', "esq0096", "number parms preprocessed %d. Total parms %d\n", consumed, Argc);
        for (int i = 0; i < Argc; ++i) PRINT('t', "esq0098", "Parm # %d value: %s\n", i, Argv[i]);
    }
    if (operands.empty()) {
        PRINT('e', "esq0080", "zemsql called without call-type parm, ignored\n");
        return 80;
    }
    if (copy_cur_env() != 0) {
        if (trace_all) PRINT('t', "esq0090", "Exiting.\n");
        return 1;
    }
    const int n = static_cast<int>(operands.size());
    if (trace_all)
        PRINT('t', "esq0100", "Server:%s. LoginID:%s. NumParms:%d.\n", env_vars.serverid,
              env_vars.logonid, n);
    database_info.connected = 0;
    std::vector<char*> words;
    for (auto& w : operands) words.push_back(w.data());
    words.push_back(nullptr);
    call_type = static_cast<int16_t>(operands[0][0]);
    if (call_type != '1' && call_type != '2' && call_type != '3' && call_type != '4' &&
        call_type != 'I') {
        PRINT('e', "esq0015", "invalid call type '%s'. Exiting.\n", operands[0].c_str());
        return 4;
    }
    if (call_type == '4') {
        if (n < 2) {
            PRINT('e', "esq0093", "It's option 4, but process id is not passed\n");
            return 1;
        }
        char* end = nullptr;
        errno = 0;
        long value = std::strtol(operands[1].c_str(), &end, 10);
        if (errno || end == operands[1].c_str() || *end || value < 0 || value > 0x7fffffff) {
            PRINT('e', "esq0093", "It's option 4, but process id is not passed\n");
            return 1;
        }
        pid = static_cast<int>(value);
        return get_sqladdr();
    }
    int code = 0;
    if (call_type == 'I') {
        pcc_install_ops({db_connect, process_a_sql, process_a_sp, commit_collect});
        pcc_request();
        commit_collect(1);
        return 0;
    }
    // The first connection is made as every later one: its closing of an earlier
    // connection finds none.
    code = reinit_CT_env();
    if (code) return code;
    if (call_type == '1')
        code = process_multiple_db_req(n - 2, words.data() + 2);
    else if (call_type == '2')
        code = process_sp_w_parms(n - 1, words.data() + 1);
    else
        code = process_sql(n - 1, words.data() + 1);
    drop_cmd();
    free_results();
    commit_collect(1);
    return code;
}
