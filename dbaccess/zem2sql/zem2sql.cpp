#include "dbaccess/zem2sql/zem2sql.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dbaccess/common/dbaccess_util.h"
#include "dbaccess/common/pcc_ops.h"
#include "dbaccess/zem2sql/zem2util.h"
#include "model/db_specifics.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/pcc.h"
#include "runtime/trace.h"

db_specifics database_info;
int16_t call_type = 0;

namespace {

constexpr int kMaxOperands = 98;

// Text of a stored value, or "" when the row or column is missing.
const char* value_of(const db_data* s, int row, int column) {
    if (!s || row >= s->num_rows || column > s->num_columns) return "";
    const row_data* r = s->rows[row];
    return r && r->columns[column - 1].value ? r->columns[column - 1].value : "";
}

int64_t integer_of(const char* text) { return std::strtoll(text, nullptr, 10); }

// Frees every result set of the anchor.
void free_all_results(_anchor_db* a) {
    if (!a) return;
    while (a->first_set) {
        a->current_set = a->first_set;
        freeDBresults(a, 'a');
    }
}

// Frees the sets of the last command only (its first set is the anchor's current set).
void drop_last_command(_anchor_db* a) {
    if (a && a->current_set) freeDBresults(a, 'a');
}

// After a statement: a connection that died is closed, and the next statement logs in.
void close_if_dead(_anchor_db* a) {
    if (a && (a->state_flags & dbx_dead)) {
        PRINT('w', "sdb0008", "Connection to %s lost; the next statement logs in again.\n",
              a->server ? a->server : "");
        clean_up_dbx(a, 1);
        database_info.connected = 0;
    }
}

bool header_traced = false;

}  // namespace

int db_connect(const char* server, const char* login, const char* password) {
    if (dbx) {
        // Every connect makes a new anchor; the old one goes with its record.
        _anchor_db* old = dbx;
        distrib* rec = old->owner;
        if (old->dbproc) clean_up_dbx(old, 1);
        freeDBresults(old, 'x');
        if (rec) {
            std::memset(rec->password, 0, sizeof rec->password);
            std::free(rec);
        }
    }
    auto* rec = static_cast<distrib*>(std::calloc(1, sizeof(distrib)));
    if (!rec) return 1;
    if (std::strlen(server) > 32 || std::strlen(login) > 32 || std::strlen(password) > 99) {
        PRINT('e', "sdb0206", "Server id, logon id or stored password too long.\n");
        std::free(rec);
        return 1;
    }
    std::snprintf(rec->server_id, sizeof rec->server_id, "%s", server);
    std::snprintf(rec->logon_id, sizeof rec->logon_id, "%s", login);
    std::snprintf(rec->password, sizeof rec->password, "%s", password);
    _anchor_db* a = init_dbx_env(rec);
    if (!a) {
        std::free(rec);
        return 1;
    }
    if (connect_to_server(a) != 0) {
        clean_up_dbx(a, 1);
        database_info.connected = 0;
        return 2;
    }
    database_info.status = up;
    database_info.connected = 1;
    if (u_trace_on(1)) PRINT('t', "sdb0205", "database version: %s\n", dbversion());
    return 0;
}

int commit_collect(int release) {
    if (trace_all) PRINT('t', "ycc0115", "commit_collect(): release=%d\n", release);
    if (database_info.status == down) return 0;
    if (release) {
        if (dbx) clean_up_dbx(dbx, 1);
        if (database_info.status != reDoInit) database_info.status = down;
        database_info.connected = 0;
    }
    return 0;
}

int formatIresult(int send_headers) {
    _anchor_db* a = dbx;
    if (!a) return 0;
    // A row wider than a record fails the statement before anything of it is sent.
    for (db_data* s = a->current_set; s; s = s->next_set) {
        int width = 0;
        for (int c = 0; c < s->num_columns; ++c) width += s->columns[c].width;
        if (s->num_rows > 0 && max_data_row != 0 && width > pcc_row_max) {
            PRINT('e', "sdb0720", "Row of %d characters is wider than a record (%d).\n", width,
                  pcc_row_max);
            return 1;
        }
    }
    char rec[pcc_record_size];
    pcc_row_builder row;
    for (db_data* s = a->current_set; s; s = s->next_set) {
        if (send_headers) {
            int width = 0;
            for (int c = 0; c < s->num_columns; ++c) width += s->columns[c].width;
            pcc_format(rec, 'I', 'I', s->num_columns, width);
            if (pcc_send_collector(rec, stdout)) return 4;
            pcc_format(rec, 'I', 'P', 'C');
            if (pcc_send_collector(rec, stdout)) return 4;
            for (int c = 0; c < s->num_columns; ++c) {
                const column_data& col = s->columns[c];
                int letter =
                    (col.type == SYBINT1 || col.type == SYBINT2 || col.type == SYBINT4) ? 'I' : 'C';
                pcc_format(rec, 'C', col.name, letter, col.width);
                if (pcc_send_collector(rec, stdout)) return 4;
            }
        }
        for (int r = 0; r < s->num_rows && (max_data_row < 0 || r < max_data_row); ++r) {
            row.clear();
            for (int c = 0; c < s->num_columns; ++c) {
                const row_column& e = s->rows[r]->columns[c];
                row.add(e.value, static_cast<size_t>(e.length), s->columns[c].width);
            }
            int rc = row.send();
            if (rc) return rc;
        }
    }
    return 0;
}

namespace {

// One request of the channel on the database (switched to first when one is named): run(a)
// sends it and takes its rows; then the results are freed and a dead connection closed.
template <typename Run>
int on_database(const char* database, Run&& run) {
    _anchor_db* a = dbx;
    if (!a) return 4;
    if (database && *database) {
        int rc = DB_to_use(a, database);
        if (rc) {
            close_if_dead(a);
            return rc;
        }
    }
    int code = run(a);
    free_all_results(a);
    close_if_dead(a);
    return code;
}

}  // namespace

int process_a_sql(const char* database, const char* sql, int send_headers) {
    return on_database(database, [&](_anchor_db* a) {
        int code = DoSQL(a, sql);
        if (code) {
            PRINT('e', "sdb0003", "Error on process sql:'%s'\n", sql);
            return code;
        }
        code = process_row_results(a, nullptr, sql);
        return code == 0 ? formatIresult(send_headers) : code;
    });
}

int process_a_sp(const char* database, const char* text, int send_headers) {
    return on_database(database, [&](_anchor_db* a) {
        procedure_call call;
        if (!read_procedure_call(text, call, "sdb0001", "sdb0002")) return 1;
        int code = DoRPC(a, call.name, call.params, call.count);
        if (code) {
            PRINT('e', "sdb0003", "Error on process stored procedure:'%s'\n", call.name);
            return code;
        }
        code = process_row_results(a, nullptr, call.name);
        return code == 0 ? formatIresult(send_headers) : code;
    });
}

int helpdb_out(int64_t totalfree, int64_t data_used, int64_t index_used) {
    _anchor_db* a = dbx;
    db_data* s = a ? a->current_set : nullptr;
    if (!s || s->num_rows == 0) {
        PRINT('e', "sdb0505", "No output data\n");
        return 1;
    }
    if (!s->rows[0]) {
        PRINT('e', "sdb0510", "No row in result set #1\n");
        return 1;
    }
    if (s->num_columns < 1 || !*value_of(s, 0, 1)) {
        PRINT('e', "edb0511", "No columns in a row in result set #1\n");
        return 1;
    }
    if (s->num_columns < 4) {
        PRINT('e', "sdb0512", "Not enough columns in result set #1\n");
        return 1;
    }
    std::string name = value_of(s, 0, 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    int64_t id = integer_of(value_of(s, 0, 4));
    db_data* frags = s->next_set;
    while (frags && frags->num_columns != 4) frags = frags->next_set;
    if (!frags) {
        PRINT('e', "sdb0515", "Set #2 not found\n");
        return 1;
    }
    int64_t log_size = 0, data_size = 0, log_free = 0, data_free = 0;
    int16_t mixed = 0;
    for (int r = 0; r < frags->num_rows; ++r) {
        const char* usage = value_of(frags, r, 3);
        bool data = std::strstr(usage, "data") != nullptr;
        bool log = std::strstr(usage, "log") != nullptr;
        int64_t size = size_text_kb(value_of(frags, r, 2));
        int64_t free_kb = integer_of(value_of(frags, r, 4));
        if (data) {
            data_size += size;
            data_free += free_kb;
        }
        if (log) {
            log_size += size;
            log_free += free_kb;
        }
        if (data && log) mixed = 1;
    }
    if (u_trace_on(4) && !header_traced) {
        header_traced = true;
        PRINT('t', "sdb0516",
              "db_name1, db_id, logsize, datasize, logfree, datafree, flag_logdata, totalfree, "
              "data_used, index_used\n");
    }
    std::printf("%s %lld %lld %lld %lld %lld %hi %lld %lld %lld\n", name.c_str(),
                static_cast<long long>(id), static_cast<long long>(log_size),
                static_cast<long long>(data_size), static_cast<long long>(log_free),
                static_cast<long long>(data_free), mixed, static_cast<long long>(totalfree),
                static_cast<long long>(data_used), static_cast<long long>(index_used));
    std::fflush(stdout);
    return 0;
}

int process_multiple_db_req(int n, char** words) {
    _anchor_db* a = dbx;
    if (n < 1 || !a) {
        PRINT('e', "sdb0001", "Stored procedure: no procedure name given\n");
        return 1;
    }
    const char* proc = words[0];
    if (n == 1) {
        if (DoRPC(a, proc, nullptr, 0) != 0) return 1;
        int code = process_row_results(a, nullptr, proc);
        if (code == 0) code = helpdb_out(0, 0, 0);
        free_all_results(a);
        return code;
    }
    int code = 0;
    for (int i = 1; i < n; ++i) {
        int64_t n1 = 0, n2 = 0, n3 = 0, n4 = 0;
        int rc = DB_to_use(a, words[i]);
        if (rc) {
            code = std::max(code, rc);
            continue;
        }
        rc = DoRPC(a, "sp_spaceused", nullptr, 0);
        if (rc == 0) rc = process_row_results(a, nullptr, "sp_spaceused");
        if (rc == 0) {
            db_data* s1 = a->current_set;
            if (!s1 || s1->num_rows == 0)
                PRINT('e', "sdb0405", "No row in result set #1\n");
            else if (s1->num_columns <= 1)
                PRINT('e', "sdb0405", "Incorrect number of columns in result set #1\n");
            else
                n1 = size_text_kb(value_of(s1, 0, 2));
            db_data* s2 = s1 ? s1->next_set : nullptr;
            if (!s2 || s2->num_rows == 0) {
                PRINT('e', "sdb0410", "No row in result set #2\n");
            } else if (s2->num_columns <= 3) {
                PRINT('e', "sdb0405", "Incorrect number of columns in result set #2\n");
            } else {
                n2 = size_text_kb(value_of(s2, 0, 2));
                n3 = size_text_kb(value_of(s2, 0, 3));
                n4 = size_text_kb(value_of(s2, 0, 4));
            }
        }
        code = std::max(code, rc);
        free_all_results(a);
        char* param[1] = {words[i]};
        std::string db = words[i];
        param[0] = db.data();
        rc = DoRPC(a, proc, param, 1);
        if (rc == 0) rc = process_row_results(a, nullptr, proc);
        if (rc == 0) rc = helpdb_out(n1 + n4, n2, n3);
        code = std::max(code, rc);
        free_all_results(a);
    }
    return code;
}

int process_sp_w_parms(int n, char** words) {
    _anchor_db* a = dbx;
    if (n < 2 || !a) {
        PRINT('e', "sdb0001", "Stored procedure: no procedure name given\n");
        return 1;
    }
    int code = DB_to_use(a, words[0]);
    if (code) return code;
    // Every operand after the name is a parameter (at most the operand list holds).
    int count = n - 2;
    // The send and fetch codes count too: a failing procedure is not a success.
    code = DoRPC(a, words[1], words + 2, count);
    if (code == 0) code = process_row_results(a, nullptr, words[1]);
    if (code == 3) drop_last_command(a);
    int rc = process_rpc_results(a, a->first_set);
    if (rc == 0 && code != 3) rc = formatResults(2);
    free_all_results(a);
    return std::max(code, rc);
}

int process_sql(int n, char** words) {
    _anchor_db* a = dbx;
    if (n < 1 || !a) return 1;
    int code = DB_to_use(a, words[0]);
    if (code) return code;
    for (int i = 1; i < n; ++i) {
        int rc = DoSQL(a, words[i]);
        if (rc == 0) {
            rc = process_row_results(a, nullptr, words[i]);
            // A set over the store's size: nothing of that batch is printed.
            if (rc == 3) drop_last_command(a);
        }
        code = std::max(code, rc);
        if (a->state_flags & dbx_dead) break;
    }
    for (db_data* s = a->first_set; s; s = s->list_next) {
        a->current_set = s;
        formatDBresults(a, 3);
    }
    free_all_results(a);
    return code;
}

int formatResults(int kind) {
    _anchor_db* a = dbx;
    if (a) a->current_set = a->first_set;
    switch (kind) {
        case 1:
            return helpdb_out(0, 0, 0);
        case 2:
        case 3:
        case 4:
            return formatDBresults(a, kind);
        default:
            PRINT('e', "sdb0705", "formatResults() Invalid format type %d\n", kind);
            return 1;
    }
}

int zem2sql_run(int argc, char** argv) {
    int32_t consumed = parseHVMCmdline(argc - 1, argv + 1);
    std::vector<std::string> operands;
    for (int i = consumed; i < Argc; ++i) operands.emplace_back(Argv[i]);
    if (u_trace_on(0)) {
        PRINT('t', "sdb0096", "number parms preprocessed %d. Total parms %d\n", consumed, Argc);
        for (int i = 0; i < Argc; ++i) PRINT('t', "sdb0098", "Parm # %d value: %s\n", i, Argv[i]);
    }
    int envs = get_envs(&env_vars);
    if (!env_vars.serverid || !*env_vars.serverid || !env_vars.logonid || !*env_vars.logonid) {
        PRINT('e', "sdb0107", "Missing an environment variable\n");
        return envs;
    }
    if (operands.size() > static_cast<size_t>(kMaxOperands)) {
        PRINT('e', "sdb0109", "More than %d operands; nothing run.\n", kMaxOperands);
        return 4;
    }
    database_info.connected = 0;
    std::vector<char*> words;
    for (auto& w : operands) words.push_back(w.data());
    words.push_back(nullptr);
    call_type = operands.empty() ? 0 : static_cast<int16_t>(operands[0][0]);
    const char* server = env_vars.serverid;
    const char* logon = env_vars.logonid;
    const char* password = env_vars.password ? env_vars.password : "";
    int code = 0;
    const int rest = static_cast<int>(operands.size()) - 1;
    switch (call_type) {
        case '1':
        case '2':
        case '3':
            code = db_connect(server, logon, password);
            if (code) break;
            if (call_type == '1')
                code = process_multiple_db_req(rest - 1, words.data() + 2);
            else if (call_type == '2')
                code = process_sp_w_parms(rest, words.data() + 1);
            else
                code = process_sql(rest, words.data() + 1);
            break;
        case 'I':
            pcc_install_ops({db_connect, process_a_sql, process_a_sp, commit_collect});
            pcc_request();
            code = envs;
            break;
        case 'G':
        case 'V':
        case 'g':
        case 'v':
            code = envs;
            break;
        default:
            PRINT('e', "sdb0150", "Unknown function request %s\n",
                  operands.empty() ? "(none)" : operands[0].c_str());
            code = 4;
            break;
    }
    if (dbx) {
        distrib* rec = dbx->owner;
        if (dbx->dbproc || code != 0) clean_up_dbx(dbx, code == 0 ? 1 : 0);
        freeDBresults(dbx, 'x');
        if (rec) {
            std::memset(rec->password, 0, sizeof rec->password);
            std::free(rec);
        }
    }
    return code;
}
