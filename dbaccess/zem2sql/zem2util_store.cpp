// The anchor and the result store of zem2sql: DB-Library calls and the rows kept as text.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dbaccess/common/dbaccess_util.h"
#include "dbaccess/common/pcc_ops.h"
#include "dbaccess/zem2sql/zem2util.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/password.h"
#include "runtime/trace.h"

_anchor_db* dbx = nullptr;
_anchor_db* errorDBX = nullptr;

namespace {

int g_db_timeout = -1;  // not read until the first anchor is made

bool dead(const _anchor_db* a) { return a && (a->state_flags & dbx_dead); }

bool is_character(int type) {
    switch (type) {
        case SYBCHAR:
        case SYBVARCHAR:
        case SYBTEXT:
        case SYBNTEXT:
        case SYBNVARCHAR:
        case 175:  // long char
        case 167:
        case 239:
        case 231:
            return true;
        default:
            return false;
    }
}

bool is_binary(int type) {
    return type == SYBIMAGE || type == SYBVARBINARY || type == SYBBINARY || type == 225;
}

// Bytes of a binary value that are converted: their hexadecimal text fills the limit.
constexpr int kBinaryBytes = dbx_max_text / 2;

void free_set_rows(db_data* s) {
    for (int i = 0; i < s->num_rows; ++i) {
        if (!s->rows[i]) continue;
        std::free(s->rows[i]->buffer);
        std::free(s->rows[i]->columns);
        std::free(s->rows[i]);
        s->rows[i] = nullptr;
    }
    s->num_rows = 0;
    s->next_row = 0;
}

void unlink_from_list(_anchor_db* a, db_data* s) {
    for (db_data** p = &a->first_set; *p; p = &(*p)->list_next) {
        if (*p == s) {
            *p = s->list_next;
            return;
        }
    }
}

// Zeroes a plain password wherever fok left it, then forgets it.
void wipe_plain(char* plain) {
    if (plain) std::memset(plain, 0, std::strlen(plain));
}

// What the library and the server said during the last login (the handlers fill it).
login_reason g_login;
bool g_logging_in = false;

DBPROCESS* open_login(const char* user, const char* plain, const char* server) {
    LOGINREC* login = dblogin();
    if (!login) return nullptr;
    if (user && *user) DBSETLUSER(login, user);
    if (plain && *plain) DBSETLPWD(login, plain);
    DBSETLAPP(login, "zem2sql");
    if (env_vars.hostname) DBSETLHOST(login, env_vars.hostname);
    g_login.clear();
    g_logging_in = true;
    DBPROCESS* p = dbopen(login, server);
    g_logging_in = false;
    dbloginfree(login);
    return p;
}

}  // namespace

int dbx_display_width(int type, int server_length, int precision, bool* converted) {
    *converted = true;
    if (is_binary(type)) return 2 * std::clamp(server_length, 1, kBinaryBytes);
    switch (type) {
        case SYBINT1:
            return 3;
        case SYBBIT:
            return 1;
        case SYBINT2:
            return 6;
        case SYBINT4:
            return 11;
        case SYBINT8:
            return 20;
        case SYBINTN:
            return server_length <= 1 ? 3 : server_length == 2 ? 6 : server_length == 4 ? 11 : 20;
        case SYBREAL:
        case SYBFLT8:
        case SYBFLTN:
            // 24, not 20: 17 digits and an exponent; 20 cut -1.2345678901234567e+100 to -1.23...e
            return 24;
        case SYBMONEY:
        case SYBMONEY4:
        case SYBMONEYN:
            return 24;
        case SYBDATETIME:
        case SYBDATETIME4:
        case SYBDATETIMN:
            return 26;
        case SYBDECIMAL:
        case SYBNUMERIC:
            return std::max(precision, 1) + 2;
        default:
            break;
    }
    if (is_character(type)) {
        *converted = false;
        return server_length > 0 ? std::min(server_length, dbx_max_text) : dbx_max_text;
    }
    return 40;  // any other type: its text
}

_anchor_db* db_dbx_init(distrib* record) {
    auto* a = static_cast<_anchor_db*>(std::calloc(1, sizeof(_anchor_db)));
    if (!a) return nullptr;
    if (record) {
        a->server = record->server_id;
        a->user = record->logon_id;
        a->password = record->password;
        a->owner = record;
    }
    errorDBX = a;
    return a;
}

_anchor_db* init_dbx_env(distrib* record) {
    int rc = dbinit();
    if (rc == FAIL) return nullptr;
    if (g_db_timeout < 0) {
        g_db_timeout = 15;
        if (char* v = u_getenv("COLL_DB_TIMEOUT", 0, nullptr)) {
            g_db_timeout = std::atoi(v);
            std::free(v);
        }
        if (g_db_timeout > 0) dbsettime(g_db_timeout);
    }
    dbmsghandle(msg_handler);
    dberrhandle(err_handler);
    _anchor_db* a = db_dbx_init(record);
    if (!a) return nullptr;
    if (record) record->dbx = a;
    a->init_code = rc;
    dbx = a;
    return a;
}

int connect_to_server(_anchor_db* a) {
    if (!a) return 1;
    errorDBX = a;
    if (dead(a)) {
        clean_up_dbx(a, 0);
    } else if (a->open_flags & dbx_open) {
        return 0;
    }
    const char* user = a->user ? a->user : "";
    char* plain = nullptr;
    if (a->password && *a->password) {
        plain = fok(a->password);
        if (plain && std::strncmp(plain, "Error ", 6) == 0) {
            wipe_plain(plain);
            PRINT('e', "sdu0912", "Stored password could not be read. Server: %s User:%s.\n",
                  a->server, user);
            a->open_flags &= static_cast<uint16_t>(~dbx_open);
            return 1;
        }
    }
    DBPROCESS* p = open_login(user, plain, a->server);
    wipe_plain(plain);
    if (p) {
        if (trace_all)
            PRINT('t', "sdu0910", "Opened Sybase SQL Server connection: %s User:%s.\n", a->server,
                  user);
    } else if (g_login.refused()) {
        // A trusted login needs neither: tried once, and said so.
        PRINT('w', "sdu0906", "Login as %s refused; trying once without user and password.\n",
              user);
        p = open_login("", nullptr, a->server);
        if (p && u_trace_on(2))
            PRINT('t', "sdu0905", "Opened Sybase SQL Server trusted connection: %s.\n", a->server);
    } else {
        // Retried only after the server refused the login: a server that cannot be reached,
        // or a login it broke off, would fail the second try the same way.
        std::string why = g_login.text();
        PRINT('e', "sdu0907", "Login to %s failed: %s\n", a->server,
              why.empty() ? "no reason given by the library" : why.c_str());
    }
    if (!p) {
        PRINT('e', "sdu0915", "Database open failed. Server: %s User:%s.\n", a->server, user);
        a->open_flags &= static_cast<uint16_t>(~dbx_open);
        a->state_flags = 0;
        return 1;
    }
    a->dbproc = p;
    a->open_flags = 3;
    a->state_flags = 0;
    return 0;
}

void clean_up_dbx(_anchor_db* a, int mode) {
    if (!a) return;
    if (dead(a)) {
        // A dead connection is closed too: nothing can be read from it again.
        a->state_flags &= static_cast<uint16_t>(~dbx_dead);
        if (a->dbproc) dbclose(a->dbproc);
    } else if (mode == 1 && a->dbproc) {
        dbclose(a->dbproc);
    } else {
        dbexit();
    }
    a->open_flags &= static_cast<uint16_t>(~dbx_open);
    a->dbproc = nullptr;
}

int DB_to_use(_anchor_db* a, const char* name) {
    if (dead(a)) return 2;
    errorDBX = a;
    char clean[256];
    int check = use_name_check(name, clean, sizeof clean);
    if (check == 0) return 0;
    if (check < 0) {
        PRINT('e', "sdu0205", "dbuse() command failed, database= %s\n", name);
        return 1;
    }
    if (!a->dbproc && connect_to_server(a) != 0) return 4;
    int rc = 0;
    if (dbuse(a->dbproc, clean) == FAIL) {
        PRINT('e', "sdu0205", "dbuse() command failed, database= %s\n", clean);
        rc = 1;
    }
    dbCancel(a);
    return dead(a) ? 2 : rc;
}

int DoSQL(_anchor_db* a, const char* text) {
    if (dead(a)) return 1;
    errorDBX = a;
    if (!a->dbproc && connect_to_server(a) != 0) return 4;
    a->cut_warned = 0;
    if (dbcmd(a->dbproc, text) != SUCCEED) return 2;
    if (dbsqlsend(a->dbproc) == FAIL) {
        PRINT('e', "sdu0605", "dbsqlsend() failed for SQL\n%s\n", text);
        dbCancel(a);
        return dead(a) ? 1 : 5;
    }
    return 0;
}

int DoRPC(_anchor_db* a, const char* name, char** params, int count) {
    if (dead(a)) return 2;
    errorDBX = a;
    if (!a->dbproc && connect_to_server(a) != 0) return 1;
    a->cut_warned = 0;
    if (dbrpcinit(a->dbproc, name, 0) == FAIL) {
        PRINT('e', "sdu0305", "dbrpcinit() failed for stored procedure %s\n", name);
        return dead(a) ? 2 : 1;
    }
    for (int i = 0; i < count; ++i) {
        char* p = params[i];
        if (*p == '\'') ++p;
        size_t len = std::strlen(p);
        if (len > 0 && p[len - 1] == '\'') p[--len] = '\0';
        if (dbrpcparam(a->dbproc, nullptr, 0, SYBCHAR, -1, static_cast<DBINT>(len),
                       reinterpret_cast<BYTE*>(p)) == FAIL) {
            PRINT('e', "sdu0310", "dbrpcparam() failed for stored procedure %s\n", name);
            dbrpcinit(a->dbproc, name, DBRPCRESET);
            return dead(a) ? 2 : 1;
        }
    }
    if (dbrpcsend(a->dbproc) == FAIL) {
        PRINT('e', "sdu0315", "dbrpcsend() failed for stored procedure %s\n", name);
        dbCancel(a);
        return dead(a) ? 2 : 1;
    }
    return 0;
}

db_data* db_data_init(_anchor_db* a, db_data* previous, int number) {
    if (previous) {
        for (db_data* s = previous; s; s = s->next_set) {
            if (s->in_use && s->set_number == number) {
                a->current_set = s;
                return s;
            }
        }
    }
    auto* s = static_cast<db_data*>(std::calloc(1, sizeof(db_data)));
    if (!s) return nullptr;
    s->set_number = static_cast<int16_t>(number);
    s->anchor = a;
    if (previous) {
        db_data* last = previous;
        while (last->next_set) last = last->next_set;
        last->next_set = s;
    } else {
        db_data** p = &a->first_set;
        while (*p) p = &(*p)->list_next;
        *p = s;
    }
    a->current_set = s;
    return s;
}

column_data* column_data_init(db_data* set, int n) {
    if (!set || n <= 0) return nullptr;
    if (set->columns && set->num_columns == n) return set->columns;
    std::free(set->columns);
    set->columns =
        static_cast<column_data*>(std::calloc(static_cast<size_t>(n), sizeof(column_data)));
    set->num_columns = set->columns ? static_cast<int16_t>(n) : 0;
    set->row_size = 0;
    return set->columns;
}

int column_info_copy(_anchor_db* a, column_data* col, int number) {
    if (dead(a)) return 1;
    errorDBX = a;
    db_data* set = a->current_set;
    col->type = dbcoltype(a->dbproc, number);
    col->server_length = dbcollen(a->dbproc, number);
    int precision = 0;
    if (col->type == SYBDECIMAL || col->type == SYBNUMERIC) {
        if (DBTYPEINFO* ti = dbcoltypeinfo(a->dbproc, number)) precision = ti->precision;
    }
    bool converted = false;
    col->width = dbx_display_width(col->type, col->server_length, precision, &converted);
    col->kind = converted ? 2 : 1;
    col->conversion = converted ? 4 : 0;
    col->format = 1;
    col->column_number = static_cast<int16_t>(number);
    col->offset = set->row_size;
    set->row_size += col->width + 1;
    return dead(a) ? 1 : 0;
}

int column_data_copy(_anchor_db* a, column_data* col, row_column* entry, char* buffer) {
    if (dead(a)) return -2;
    const int n = col->column_number;
    BYTE* data = dbdata(a->dbproc, n);
    DBINT len = dbdatlen(a->dbproc, n);
    char* pos = buffer + col->offset;
    entry->value = pos;
    entry->length = 0;
    if (!data) {
        col->null_indicator = -1;
        std::memset(pos, 0, static_cast<size_t>(col->width));
        return 0;
    }
    col->null_indicator = 0;
    if (col->kind == 2) {
        char text[2 * kBinaryBytes + 64];
        DBINT from = is_binary(col->type) ? std::min<DBINT>(len, kBinaryBytes) : len;
        DBINT got = dbconvert(a->dbproc, col->type, data, from, SYBCHAR,
                              reinterpret_cast<BYTE*>(text), static_cast<DBINT>(sizeof text - 1));
        if (got < 0) {
            PRINT('w', "sdu0840", "Value of column %s could not be converted to text.\n",
                  col->name);
            return -1;
        }
        got = std::min<DBINT>(got, static_cast<DBINT>(sizeof text - 1));
        // The library's text, without its padding, right-aligned in the width.
        int b = 0, e = got;
        while (b < e && text[b] == ' ') ++b;
        while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\0')) --e;
        int tlen = std::min(e - b, col->width);
        std::memset(pos, ' ', static_cast<size_t>(col->width - tlen));
        pcc_blank_controls(pos + col->width - tlen, text + b, static_cast<size_t>(tlen));
        pos[col->width] = '\0';
        entry->length = col->width;
        return col->width;
    }
    int take = std::min<int>(len, col->width);
    if (len > col->width && !a->cut_warned) {
        a->cut_warned = 1;
        PRINT('w', "sdu0835", "Value of column %s cut to %d characters.\n", col->name, col->width);
    }
    pcc_blank_controls(pos, reinterpret_cast<const char*>(data), static_cast<size_t>(take));
    pos[take] = '\0';
    entry->length = take;
    return take;
}

row_column* row_data_copy(_anchor_db* a) {
    db_data* set = a->current_set;
    if (!set || set->num_rows >= dbx_max_rows) return nullptr;
    auto* r = static_cast<row_data*>(std::calloc(1, sizeof(row_data)));
    r->buffer = static_cast<char*>(std::calloc(static_cast<size_t>(set->row_size) + 1, 1));
    r->columns = static_cast<row_column*>(
        std::calloc(static_cast<size_t>(std::max<int>(set->num_columns, 1)), sizeof(row_column)));
    set->rows[set->num_rows++] = r;
    set->next_row = set->num_rows;
    set->in_use = 1;
    for (int i = 0; i < set->num_columns; ++i) {
        r->columns[i].column = static_cast<int16_t>(i + 1);
        if (column_data_copy(a, &set->columns[i], &r->columns[i], r->buffer) < -1) break;
    }
    if (u_trace_on(8)) {
        PRINT('t', "sdu0150", "Dump of our formatted database row %d\n", set->num_rows);
        u_print_dumpx("sdu0150", r->buffer, set->row_size);
    }
    return r->columns;
}

int fetch_data(_anchor_db* a) {
    if (dead(a)) return 6;
    errorDBX = a;
    db_data* set = a->current_set;
    int n = dbnumcols(a->dbproc);
    if (n <= 0 || !set || !set->columns) {
        PRINT('w', "sdu0805", "No columns in result set\n");
        return 1;
    }
    if (set->row_size == 0) {
        for (int i = 0; i < set->num_columns; ++i) {
            const char* name = dbcolname(a->dbproc, i + 1);
            std::snprintf(set->columns[i].name, sizeof set->columns[i].name, "%s",
                          name ? name : "");
            if (column_info_copy(a, &set->columns[i], i + 1) != 0) return 6;
        }
    }
    // With a row limit of the channel (up to the store's size) the rows past it are read
    // and dropped; otherwise a set larger than the store fails its statement.
    const bool limited = max_data_row >= 0 && max_data_row <= dbx_max_rows;
    for (int row = 1;; ++row) {
        STATUS st = dbnextrow(a->dbproc);
        if (st == NO_MORE_ROWS) return 0;
        if (dead(a)) return 6;
        if (st == FAIL) {
            PRINT('w', "sdu0820", "dbnextrow() error on row %d.\n", row);
            return dead(a) || DBDEAD(a->dbproc) ? 6 : 4;
        }
        if (st != REG_ROW) {
            PRINT('w', "sdu0825", "dbnextrow() row %d is not a REG_ROW.\n", row);
            continue;
        }
        if (limited && set->num_rows >= max_data_row) continue;
        if (!row_data_copy(a)) {
            PRINT('e', "sdu0830", "row_data_copy() failed: more than %d rows in a result set\n",
                  dbx_max_rows);
            return 3;
        }
        if (dead(a)) return 6;
    }
}

int process_row_results(_anchor_db* a, db_data* previous, const char* text) {
    if (dead(a)) return 6;
    errorDBX = a;
    a->current_set = previous;
    if (dbsqlok(a->dbproc) == FAIL) {
        if (text)
            PRINT('e', "sdu0705", "dbsqlok() failed:%s\n", text);
        else
            PRINT('e', "sdu0705", "dbsqlok() failed\n");
        dbCancel(a);
        return dead(a) ? 6 : 1;
    }
    db_data* first = previous;
    int code = 0;
    int number = 0;
    RETCODE rc;
    for (;;) {
        rc = dbresults(a->dbproc);
        if (rc == FAIL) {
            code = 1;
            break;
        }
        if (rc == NO_MORE_RESULTS) break;
        if (rc != SUCCEED) {
            code = 2;
            break;
        }
        int n = dbnumcols(a->dbproc);
        if (n <= 0) continue;
        db_data* set = db_data_init(a, first, ++number);
        if (!first) first = set;
        set->in_use = 1;
        if (!column_data_init(set, n)) {
            PRINT('e', "sdu0710", "Initialization of COLUMN_DATA array failed\n");
            code = 3;
            break;
        }
        code = fetch_data(a);
        if (code != 0) {
            if (u_trace_on(1)) PRINT('t', "sdu0715", "Fetch data failed. (%d)\n", code);
            break;
        }
    }
    a->current_set = first;
    if (rc == FAIL) {
        PRINT('e', "sdu0725", "dbresults() failed processing command\n");
        dbCancel(a);
    } else if (rc != SUCCEED && rc != NO_MORE_RESULTS) {
        PRINT('e', "sdu0720", "dbresults() returned unexpected return code: %d\n", rc);
        dbCancel(a);
    } else if (code != 0) {
        dbCancel(a);
    }
    // A connection that died under the command: its own code, whatever failed first.
    if (dead(a)) code = 6;
    return code;
}

int process_rpc_results(_anchor_db* a, db_data* set) {
    if (dead(a)) return 1;
    errorDBX = a;
    a->current_set = set;
    int n = dbnumrets(a->dbproc);
    if (u_trace_on(2))
        PRINT('t', "sdu0405", "process_rpc_results() %d values from dbnumrets().\n", n);
    if (n > 0) {
        PRINT('i', "sdu0410", "%-8.8s %-8.8s %-8.8s %-8.8s\n", "Name", "Type", "Length", "Value");
        PRINT('i', "sdu0415", "%-8.8s %-8.8s %-8.8s %-8.8s\n", "------------", "------------",
              "------------", "------------");
        for (int i = 1; i <= n; ++i) {
            const char* name = dbretname(a->dbproc, i);
            const char* type = dbprtype(dbrettype(a->dbproc, i));
            DBINT len = dbretlen(a->dbproc, i);
            int32_t value = 0;
            if (BYTE* d = dbretdata(a->dbproc, i))
                std::memcpy(&value, d, static_cast<size_t>(std::clamp<DBINT>(len, 0, 4)));
            std::printf("%-8.8s %-8.8s %8.8ld %8.8ld\n", name ? name : "", type ? type : "",
                        static_cast<long>(len), static_cast<long>(value));
        }
        std::fflush(stdout);
    }
    if (dbhasretstat(a->dbproc))
        PRINT('i', "sdu0420", "RPC returned a status of: %ld\n",
              static_cast<long>(dbretstatus(a->dbproc)));
    else if (u_trace_on(2))
        PRINT('i', "sdu0425", "No RPC status returned.\n");
    return 0;
}

void freeDBresults(_anchor_db* a, char mode) {
    if (!a) return;
    mode = static_cast<char>(std::tolower(static_cast<unsigned char>(mode)));
    db_data* s = a->current_set;
    if (!s) {
        if (u_trace_on(3)) PRINT('t', "sbu0205", "freeDBresults() no db_data pointer in dbx\n");
    }
    const bool descriptions = mode == 'c' || mode == 'a' || mode == 'x';
    const bool sets = mode == 'a' || mode == 'x';
    if (s && sets) unlink_from_list(a, s);
    while (s) {
        db_data* next = s->next_set;
        free_set_rows(s);
        if (descriptions) {
            std::free(s->columns);
            s->columns = nullptr;
            s->num_columns = 0;
            s->row_size = 0;
        }
        if (sets) std::free(s);
        s = next;
    }
    if (sets) a->current_set = nullptr;
    if (mode == 'x') {
        // The anchor goes, and every set still listed with it.
        while (a->first_set) {
            a->current_set = a->first_set;
            freeDBresults(a, 'a');
        }
        if (a->owner && a->owner->dbx == a) a->owner->dbx = nullptr;
        if (dbx == a) dbx = nullptr;
        if (errorDBX == a) errorDBX = nullptr;
        std::free(a);
    }
}

void dbCancel(_anchor_db* a) {
    if (!a || dead(a) || !a->dbproc) return;
    if (DBDEAD(a->dbproc)) {
        // The library gave the connection up (a time-out does): nothing to cancel.
        a->state_flags |= dbx_dead;
        a->open_flags &= static_cast<uint16_t>(~dbx_open);
        return;
    }
    if (dbcancel(a->dbproc) == FAIL) PRINT('e', "sdu0505", "dbcancel failed\n");
}

int num_columns(_anchor_db* a) { return a && a->dbproc ? dbnumcols(a->dbproc) : 0; }

int msg_handler(DBPROCESS*, DBINT msgno, int msgstate, int severity, char* msgtext, char* srvname,
                char*, int) {
    if (g_logging_in) g_login.server(static_cast<long>(msgno), msgtext);
    char type;
    if (severity >= 16)
        type = 'e';
    else if (trace_something)
        type = 't';
    else
        return 0;
    PRINT(type, "sdu1105", "Msg No(%ld) Severity(%d) State(%d) Server(%s).\n",
          static_cast<long>(msgno), severity, msgstate, srvname ? srvname : "");
    if (msgtext && *msgtext) PRINT(type, "sdu1110", "  %s\n", msgtext);
    return 0;
}

int err_handler(DBPROCESS* dbproc, int severity, int dberr, int oserr, char* dberrstr,
                char* oserrstr) {
    if (g_logging_in) g_login.library(dberr, dberrstr, oserr > 0 ? oserrstr : nullptr);
    char type = 0;
    if (severity >= 4)
        type = 'e';
    else if (trace_something)
        type = 't';
    if (type) {
        PRINT(type, "sdu1205", "DB-LIBRARY Error - Error No(%d), Severity(%d), OS Error No(%d)\n",
              dberr, severity, oserr);
        if (dberrstr && *dberrstr) PRINT(type, "sdu1210", "  %s\n", dberrstr);
        if (oserr > 0 && oserrstr && *oserrstr) PRINT(type, "sdu1215", "  %s\n", oserrstr);
    }
    // FreeTDS gives server errors (20018) a high severity too: only a connection the
    // library holds dead (or one not yet open) is marked dead.
    if (severity >= 9 && errorDBX && (!dbproc || DBDEAD(dbproc))) {
        errorDBX->state_flags |= dbx_dead;
        errorDBX->open_flags &= static_cast<uint16_t>(~dbx_open);
    }
    return INT_CANCEL;
}

int execDBcommand(const char* text, int layout) {
    if (!env_vars.serverid || !env_vars.logonid || !env_vars.password) return -2;
    auto* record = static_cast<distrib*>(std::calloc(1, sizeof(distrib)));
    if (!record) return -3;
    std::snprintf(record->server_id, sizeof record->server_id, "%s", env_vars.serverid);
    std::snprintf(record->logon_id, sizeof record->logon_id, "%s", env_vars.logonid);
    std::snprintf(record->password, sizeof record->password, "%s", env_vars.password);
    _anchor_db* saved = dbx;
    _anchor_db* a = init_dbx_env(record);
    dbx = saved;
    if (!a) {
        std::free(record);
        return -3;
    }
    int code;
    if (connect_to_server(a) != 0) {
        code = -4;
    } else {
        code = DoSQL(a, text);
        if (code == 0) code += process_row_results(a, nullptr, text);
        if (code != 0) dbCancel(a);
        clean_up_dbx(a, 1);
        if (layout != 0) code += formatDBresults(a, layout + 10);
    }
    freeDBresults(a, 'x');
    std::memset(record->password, 0, sizeof record->password);
    std::free(record);
    return code;
}
