// zemsql's Client-Library work: the context, the connection and the command, switching
// database, sending a batch or a procedure call, walking the results and fetching rows
// (printed, sent as channel records, or kept in the row store).
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "acquire/ctlib/zemctutl.h"
#include "dbaccess/common/dbaccess_util.h"
#include "dbaccess/common/pcc_ops.h"
#include "dbaccess/zemsql/zemsql.h"
#include "model/db_specifics.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/password.h"
#include "runtime/pcc.h"
#include "runtime/trace.h"

CS_CONTEXT* context = nullptr;
CS_CONNECTION* connection = nullptr;
CS_COMMAND* cmd = nullptr;

namespace {

constexpr int kUseNameMax = 45;
constexpr int kPrintField = 1025;

// What the library and the server said during the last ct_connect (the callbacks fill it).
login_reason g_login;
bool g_connecting = false;

void cancel_all(const char* tag) {
    if (cmd && ct_cancel(nullptr, cmd, CS_CANCEL_ALL) != CS_SUCCEED)
        PRINT('e', tag, "ct_cancel failed\n");
}

}  // namespace

void drop_cmd() {
    if (cmd) {
        ct_cmd_drop(cmd);
        cmd = nullptr;
    }
}

void forget_dead_connection() {
    if (!connection) return;
    CS_INT status = 0;
    if (ct_con_props(connection, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) !=
            CS_SUCCEED ||
        !(status & CS_CONSTAT_DEAD))
        return;
    drop_cmd();
    ct_close(connection, CS_FORCE_CLOSE);
    ct_con_drop(connection);
    connection = nullptr;
    database_info.connected = 0;
}

namespace zemsql {

CS_RETCODE zem_clientmsg_cb(CS_CONTEXT*, CS_CONNECTION*, CS_CLIENTMSG* msg) {
    if (g_connecting && msg)
        g_login.library(static_cast<long>(msg->msgnumber), msg->msgstring,
                        msg->osstringlen > 0 ? msg->osstring : nullptr);
    if (!u_trace_on(3) || !msg) return CS_SUCCEED;
    PRINT('i', "esq0480", "Open Client Message\n");
    auto number = static_cast<unsigned long>(msg->msgnumber);
    PRINT('i', "esq0490", "Message number: LAYER=(%ld) ORIGIN=(%ld)SEVERITY=(%ld) NUMBER=(%ld)\n",
          static_cast<long>((number >> 24) & 0xff), static_cast<long>((number >> 16) & 0xff),
          static_cast<long>((number >> 8) & 0xff), static_cast<long>(number & 0xff));
    PRINT('i', "esq0510", "Message String: %s\n", msg->msgstring);
    if (msg->osstringlen > 0) PRINT('e', "esq0520", "Operating System error: %s\n", msg->osstring);
    return CS_SUCCEED;
}

CS_RETCODE zem_servermsg_cb(CS_CONTEXT*, CS_CONNECTION*, CS_SERVERMSG* msg) {
    if (g_connecting && msg) g_login.server(static_cast<long>(msg->msgnumber), msg->text);
    if (!msg || msg->severity == 10) return CS_SUCCEED;
    PRINT('i', "esq0530", "Server Message\n");
    PRINT('i', "esq0540", "Message number: (%ld), Severity (%ld)\n",
          static_cast<long>(msg->msgnumber), static_cast<long>(msg->severity));
    PRINT('i', "esq0550", "State %ld, Line %ld\n", static_cast<long>(msg->state),
          static_cast<long>(msg->line));
    if (msg->svrnlen > 0) PRINT('i', "esq0560", "Server '%s'\n", msg->svrname);
    if (msg->proclen > 0) PRINT('i', "esq0570", "Procedure '%s'\n", msg->proc);
    PRINT('i', "esq0580", "Message String: %s\n", msg->text);
    return CS_SUCCEED;
}

}  // namespace zemsql

int init_CT_env() {
    context = nullptr;
    if (cs_ctx_alloc(CS_VERSION_110, &context) != CS_SUCCEED) {
        PRINT('e', "esq0430", "cs_ctx_alloc() failed \n");
        context = nullptr;
        return 1;
    }
    bool ready = false;
    for (int attempt = 0; attempt < 2 && !ready; ++attempt) {
        ready = ct_init(context, CS_VERSION_110) == CS_SUCCEED;
        if (!ready) PRINT('i', "esq0440", "ct_init() failed...Trying again \n");
    }
    if (!ready) {
        PRINT('e', "esq0450", "ct_init() failed...Inspite of 2 try's\n");
        cs_ctx_drop(context);
        context = nullptr;
        return 1;
    }
    int code = 0;
    if (ct_callback(context, nullptr, CS_SET, CS_CLIENTMSG_CB,
                    reinterpret_cast<CS_VOID*>(zemsql::zem_clientmsg_cb)) != CS_SUCCEED) {
        PRINT('e', "esq0460", "ct_callback(clientmsg) failed\n");
        code = 1;
    }
    if (ct_callback(context, nullptr, CS_SET, CS_SERVERMSG_CB,
                    reinterpret_cast<CS_VOID*>(zemsql::zem_servermsg_cb)) != CS_SUCCEED) {
        PRINT('e', "esq0470", "ct_callback(servermsg) failed\n");
        code = 1;
    }
    return code;
}

int reinit_CT_env() {
    commit_collect(1);
    int code = init_CT_env();
    if (code) return code;
    const char* password = env_vars.password ? env_vars.password : "";
    code = connect_to_server(env_vars.serverid, env_vars.logonid, password);
    if (code) {
        clean_up_context(0);
        return code;
    }
    if (ct_cmd_alloc(connection, &cmd) != CS_SUCCEED) {
        PRINT('e', "esq0110", "ct_cmd_alloc failed\n");
        cmd = nullptr;
        clean_up_connection(0);
        clean_up_context(0);
        return 1;
    }
    return 0;
}

int connect_to_server(const char* server, const char* user, const char* password) {
    CS_CONNECTION* conn = nullptr;
    if (!context || ct_con_alloc(context, &conn) != CS_SUCCEED) {
        PRINT('e', "esq0590", "Can't allocate memory to establish SYBASE Server connection\n");
        return 1;
    }
    CS_RETCODE rc = CS_SUCCEED;
    if (user && *user) {
        rc = ct_con_props(conn, CS_SET, CS_USERNAME, const_cast<char*>(user), CS_NULLTERM, nullptr);
        if (rc != CS_SUCCEED)
            PRINT('e', "esq0600", "Setting user logon ID for SYBASE Server connection failed\n");
    }
    if (rc == CS_SUCCEED && password && *password) {
        char* plain = fok(password);
        if (plain && std::strncmp(plain, "Error ", 6) == 0) {
            // Neither the stored nor the plain text goes into the message.
            std::memset(plain, 0, std::strlen(plain));
            PRINT('e', "esq0605", "Stored password for SYBASE Server connection cannot be read\n");
            rc = CS_FAIL;
        } else if (plain) {
            rc = ct_con_props(conn, CS_SET, CS_PASSWORD, plain, CS_NULLTERM, nullptr);
            std::memset(plain, 0, std::strlen(plain));
            if (rc != CS_SUCCEED)
                PRINT('e', "esq0610", "Setting password for SYBASE Server connection failed\n");
        }
    }
    if (rc == CS_SUCCEED) {
        rc = ct_con_props(conn, CS_SET, CS_APPNAME, const_cast<char*>("ctlib"), CS_NULLTERM,
                          nullptr);
        if (rc != CS_SUCCEED)
            PRINT('e', "esq0620", "Setting application name for SYBASE Server connection failed\n");
    }
    if (rc == CS_SUCCEED) {
        g_login.clear();
        g_connecting = true;
        rc = ct_connect(conn, const_cast<char*>(server), server ? CS_NULLTERM : 0);
        g_connecting = false;
        // The library's reason goes with the failure: otherwise it shows only under tracing.
        if (rc != CS_SUCCEED) {
            std::string why = g_login.text();
            PRINT('e', "esq0630", "Failed to open SYBASE Server connection%s%s\n",
                  why.empty() ? "" : ": ", why.c_str());
        }
    }
    if (rc != CS_SUCCEED) {
        ct_con_drop(conn);
        connection = nullptr;
        database_info.connected = 0;
        return 1;
    }
    connection = conn;
    database_info.connected = 1;
    database_info.status = up;
    return 0;
}

int clean_up_connection(int option) {
    if (!connection) return 0;
    int code = 0;
    drop_cmd();
    if (ct_close(connection, option == 1 ? CS_UNUSED : CS_FORCE_CLOSE) != CS_SUCCEED) {
        PRINT('e', "esq0640", "ct_close() failed\n");
        code = 1;
    }
    if (ct_con_drop(connection) != CS_SUCCEED) {
        PRINT('e', "esq0650", "ct_con_drop() failed\n");
        code = 1;
    }
    connection = nullptr;
    return code;
}

int clean_up_context(int option) {
    if (!context) return 0;
    int code = 0;
    if (ct_exit(context, option == 1 ? CS_UNUSED : CS_FORCE_EXIT) != CS_SUCCEED) {
        PRINT('e', "esq0660", "ct_exit() failed\n");
        code = 1;
    }
    if (cs_ctx_drop(context) != CS_SUCCEED) {
        PRINT('e', "esq0670", "cs_ctx_drop() failed\n");
        code = 1;
    }
    context = nullptr;
    return code;
}

int DB_to_use(char* name) {
    if (!name) return 0;
    char clean[256];
    int check = use_name_check(name, clean, sizeof clean);
    if (check == 0) return 0;
    if (check < 0 || std::strlen(clean) > static_cast<size_t>(kUseNameMax)) {
        // Refused, never cut or sent as it is.
        PRINT('e', "esq0030", "ct_command failed connecting to database %.60s\n", name);
        drop_cmd();
        return 1;
    }
    // The caller's text becomes the stripped name.
    std::memmove(name, clean, std::strlen(clean) + 1);
    if (!cmd) return 1;
    std::string use = std::string("use ") + clean;
    char* text = use.data();
    if (ct_command(cmd, CS_LANG_CMD, text, CS_NULLTERM, CS_UNUSED) != CS_SUCCEED) {
        PRINT('e', "esq0030", "ct_command failed connecting to database %s\n", clean);
        drop_cmd();
        return 1;
    }
    if (ct_send(cmd) != CS_SUCCEED) {
        PRINT('e', "esq0040", "ct_send failed connecting to database %s\n", clean);
        cancel_all("esq0050");
        drop_cmd();
        return 1;
    }
    CS_INT type = 0;
    CS_RETCODE rc;
    while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
        if (type == CS_CMD_SUCCEED || type == CS_CMD_DONE) continue;
        if (type == CS_CMD_FAIL)
            PRINT('e', "esq0060", "The server encountered an error connecting to database %s \n",
                  clean);
        else
            PRINT('e', "esq0070",
                  "ct_result returned unexpected result type connecting to database %s\n", clean);
        cancel_all("esq0080");
        drop_cmd();
        return 1;
    }
    if (rc == CS_END_RESULTS) return 0;
    if (rc == CS_FAIL)
        PRINT('e', "esq0090", "ct_result failed connecting to database %s \n", clean);
    else
        PRINT('e', "esq0100",
              "ct_result returned unexpected return code connecting to database %s \n", clean);
    cancel_all("esq0080");
    drop_cmd();
    return 1;
}

int DoRPC(const char* name, char** params, int count) {
    if (trace_all) PRINT('t', "esq0200", " Execute stored proceedure:%s.\n", name);
    if (!cmd) return 1;
    if (ct_command(cmd, CS_RPC_CMD, const_cast<char*>(name), CS_NULLTERM, CS_NO_RECOMPILE) !=
        CS_SUCCEED) {
        PRINT('e', "esq0110", "ct_command failed for stored procedure %s\n", name);
        drop_cmd();
        return 1;
    }
    for (int i = 0; i < count; ++i) {
        CS_DATAFMT fmt;
        std::memset(&fmt, 0, sizeof fmt);
        fmt.datatype = CS_CHAR_TYPE;
        fmt.status = CS_INPUTVALUE;
        CS_INT len = static_cast<CS_INT>(std::strlen(params[i]));
        fmt.maxlength = len;
        fmt.namelen = 0;
        if (ct_param(cmd, &fmt, params[i], len, 0) != CS_SUCCEED) {
            PRINT('e', "esq0120", "ct_param failed for stored procedure %s\n", name);
            cancel_all("esq0140");
            drop_cmd();
            return 1;
        }
    }
    if (ct_send(cmd) != CS_SUCCEED) {
        PRINT('e', "esq0130", "ct_send failed for stored procedure %s\n", name);
        cancel_all("esq0140");
        drop_cmd();
        return 1;
    }
    return 0;
}

int DoSQL(const char* text) {
    if (trace_all) PRINT('t', "esq0200", " Execute SQL(40): %.40s.\n", text);
    if (!cmd) return 1;
    if (ct_command(cmd, CS_LANG_CMD, const_cast<char*>(text), CS_NULLTERM, CS_UNUSED) !=
        CS_SUCCEED) {
        PRINT('e', "esq0160", "ct_command failed for SQL\n%s\n", text);
        drop_cmd();
        return 1;
    }
    if (ct_send(cmd) != CS_SUCCEED) {
        PRINT('e', "esq0170", "ct_send failed for SQL\n%s\n", text);
        cancel_all("esq0180");
        drop_cmd();
        return 1;
    }
    return 0;
}

int process_row_results(int send_headers) {
    if (!cmd) return 1;
    int code = 0;
    int set_number = 1;
    CS_INT type = 0;
    CS_RETCODE rc;
    while (code == 0 && (rc = ct_results(cmd, &type)) == CS_SUCCEED) {
        switch (type) {
            case CS_ROW_RESULT: {
                int r = fetch_data(send_headers, set_number++);
                if (r > code) code = r;
                break;
            }
            case CS_STATUS_RESULT:
                if (ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT) != CS_SUCCEED) {
                    PRINT('e', "esq0190", "ct_cancel failed\n");
                    code = 1;
                }
                break;
            case CS_CMD_DONE:
            case CS_CMD_SUCCEED:
                break;
            case CS_CMD_FAIL:
                PRINT('e', "esq0200", "The server encountered an error processing command \n");
                code = 1;
                break;
            default:
                PRINT('e', "esq0210",
                      "ct_results returned unexpected result type processing command\n");
                code = 1;
                break;
        }
        if (!cmd) break;  // the fetch cancelled and dropped it
    }
    if (code == 0) {
        if (rc == CS_END_RESULTS) return 0;
        if (rc == CS_FAIL)
            PRINT('e', "esq0230", "ct_results failed processing command\n");
        else
            PRINT('e', "esq0240",
                  "ct_results returned unexpected return code processing command\n");
        code = 1;
    }
    cancel_all("esq0220");
    drop_cmd();
    forget_dead_connection();
    return code;
}

namespace {

// Writes a row of call types 2 and 3: every value but the last in a field of its width + 1,
// the last followed by one blank.
void print_row(const std::vector<fetched_value>& values, const std::vector<CS_INT>& widths) {
    std::string line;
    const size_t n = values.size();
    for (size_t c = 0; c < n; ++c) {
        size_t len = static_cast<size_t>(values[c].length);
        if (len > static_cast<size_t>(kPrintField - 1)) len = kPrintField - 1;
        if (c + 1 < n) {
            size_t field = static_cast<size_t>(widths[c]) + 1;
            std::string v(values[c].text, len < field ? len : field);
            v.resize(field, ' ');
            line += v;
        } else {
            line.append(values[c].text, len);
            line += ' ';
        }
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

}  // namespace

namespace {

// The columns of the current row result, described and bound as null-terminated text.
struct bound_result {
    std::vector<ZEM_COLUMN_DATA> cols;
    std::vector<CS_DATAFMT> fmts;
    std::vector<std::vector<char>> buffers;
    std::vector<CS_INT> widths;  // display width of each column bound
    CS_INT row_width = 0;
};

// Describes and binds the num_cols columns. False after a message (the columns bound
// so far stay in b).
bool bind_columns(bound_result& b, CS_INT num_cols) {
    const auto n = static_cast<size_t>(num_cols);
    b.cols.resize(n);
    b.fmts.resize(n);
    b.buffers.resize(n);
    for (CS_INT i = 0; i < num_cols; ++i) {
        CS_DATAFMT& f = b.fmts[static_cast<size_t>(i)];
        std::memset(&f, 0, sizeof f);
        if (ct_describe(cmd, i + 1, &f) != CS_SUCCEED) {
            PRINT('e', "esq0290", "ct_describe() failed\n");
            return false;
        }
        CS_INT width = zem_display_dlen(&f);
        f.maxlength = width + 1;
        f.datatype = CS_CHAR_TYPE;
        f.format = CS_FMT_NULLTERM;
        f.scale = CS_SRC_VALUE;
        f.precision = CS_SRC_VALUE;
        auto& buf = b.buffers[static_cast<size_t>(i)];
        buf.assign(static_cast<size_t>(f.maxlength), '\0');
        ZEM_COLUMN_DATA& c = b.cols[static_cast<size_t>(i)];
        c.value = buf.data();
        if (ct_bind(cmd, i + 1, &f, c.value, &c.valuelen, &c.indicator) != CS_SUCCEED) {
            PRINT('e', "esq0310", "ct_bind() failed\n");
            return false;
        }
        b.widths.push_back(width);
        b.row_width += width;
    }
    return true;
}

// Call type I: the result's shape to the collector, then one record a column. After a
// failed bind (all_bound false) the shape of the columns bound so far goes alone. False
// when a send failed or not all were bound.
bool send_column_headers(const bound_result& b, bool all_bound) {
    char rec[pcc_record_size];
    pcc_format(rec, 'I', 'I', static_cast<int>(b.widths.size()), static_cast<int>(b.row_width));
    if (pcc_send_collector(rec, stdout) || !all_bound) return false;
    pcc_format(rec, 'I', 'P', 'C');
    if (pcc_send_collector(rec, stdout)) return false;
    for (size_t c = 0; c < b.widths.size(); ++c) {
        char name[CS_MAX_NAME + 1];
        std::snprintf(name, sizeof name, "%.*s", static_cast<int>(sizeof b.fmts[c].name),
                      b.fmts[c].name);
        pcc_format(rec, 'C', name, 'C', static_cast<int>(b.widths[c]));
        if (pcc_send_collector(rec, stdout)) return false;
    }
    return true;
}

// The fetched row's values. A NULL is an empty value: the bound buffer may still hold
// the previous row's.
void take_values(const bound_result& b, std::vector<fetched_value>& values) {
    for (size_t c = 0; c < values.size(); ++c) {
        const ZEM_COLUMN_DATA& d = b.cols[c];
        values[c].text = d.value;
        values[c].length =
            (d.indicator == -1 || d.valuelen <= 0)
                ? 0
                : static_cast<CS_INT>(strnlen(d.value, static_cast<size_t>(d.valuelen)));
    }
}

// Hands one row on by call type: stored (1), sent to the collector (I) or printed.
// Non-zero ends the fetch with that code.
int deliver_row(const bound_result& b, const std::vector<fetched_value>& values, int set_number,
                int row_number, pcc_row_builder& row) {
    if (call_type == '1')
        return store_row(set_number, row_number, static_cast<int>(values.size()), values.data());
    if (call_type != 'I') {
        print_row(values, b.widths);
        return 0;
    }
    if (max_data_row != -1 && row_number > max_data_row) return 1;
    row.clear();
    for (size_t c = 0; c < values.size(); ++c)
        row.add(values[c].text, static_cast<size_t>(values[c].length),
                static_cast<int>(b.widths[c]));
    return row.send();
}

// Ends the command after a failure and returns code.
int abandon_fetch(int code) {
    cancel_all("esq0050");
    drop_cmd();
    return code;
}

}  // namespace

int fetch_data(int send_headers, int set_number) {
    CS_INT num_cols = 0;
    if (ct_res_info(cmd, CS_NUMDATA, &num_cols, CS_UNUSED, nullptr) != CS_SUCCEED) {
        PRINT('e', "esq0250", "ct_res_info failed \n");
        return 1;
    }
    if (num_cols <= 0) {
        PRINT('e', "esq0260", "ct_res_info returned zero number of columns\n");
        return 1;
    }
    bound_result b;
    bool ok = bind_columns(b, num_cols);
    if (call_type == 'I' && send_headers) ok = send_column_headers(b, ok);
    if (trace_all) PRINT('t', "esq0312", "Bound %d columns\n", static_cast<int>(b.widths.size()));
    if (!ok) return abandon_fetch(1);

    pcc_row_builder row;
    std::vector<fetched_value> values(static_cast<size_t>(num_cols));
    int row_number = 0;
    CS_INT rows_read = 0;
    CS_RETCODE rc;
    int code = 0;
    while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &rows_read)) == CS_SUCCEED ||
           rc == CS_ROW_FAIL) {
        row_number += rows_read;
        if (rc == CS_ROW_FAIL) {
            PRINT('w', "esq0320", "Error on row %d.\n", row_number);
            continue;
        }
        take_values(b, values);
        code = deliver_row(b, values, set_number, row_number, row);
        if (code == 0) continue;
        if (call_type != '1') return abandon_fetch(code);
        break;  // a refused store ends the rows as counted so far
    }
    if (trace_all) PRINT('t', "esq0312", "Processed %d rows\n", row_number);
    if (code != 0) return abandon_fetch(code);
    if (rc == CS_END_DATA) return 0;
    if (rc == CS_FAIL)
        PRINT('e', "esq0330", "ct_fetch() failed\n");
    else
        PRINT('e', "esq0340", "ct_fetch() unexpected return code\n");
    return 1;
}

CS_INT column_max_len(CS_DATAFMT* fmt) { return zem_display_dlen(fmt); }
