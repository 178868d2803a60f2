// The channel's request loop as a real child, with scripted operations:
//   connect: succeeds the first STUB_CONNECTS times (unset: always), never as "nobody";
//   statement "fail N": code N;  "rows N": N rows of one column, "!X X" headers;
//   "message": an error whose text holds a newline;  "wide": a row wider than a record;
//   "terminate": a SIGTERM to itself, then a row (the statement ends first);
//   anything else: code 0 and a row echoing the database and the text.
//   With STUB_SAY_RELEASE set, a release of the connection says so ("stb0003").
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dbaccess/common/dbaccess_util.h"
#include "dbaccess/common/pcc_ops.h"
#include "model/db_specifics.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/pcc.h"

db_specifics database_info;

namespace {

int connects_left = -1;

int stub_connect(const char*, const char* logon, const char*) {
    if (connects_left == 0 || std::strcmp(logon, "nobody") == 0) {
        PRINT('e', "stb0001", "Login refused.\n");
        return 2;
    }
    if (connects_left > 0) --connects_left;
    database_info.connected = 1;
    database_info.status = up;
    return 0;
}

int stub_run(const char* database, const char* text, int send_headers) {
    if (std::strncmp(text, "fail ", 5) == 0) return std::atoi(text + 5);
    if (std::strcmp(text, "message") == 0) {
        PRINT('e', "stb0002", "first line\nsecond\tline\n");
        return 0;
    }
    pcc_row_builder row;
    if (std::strcmp(text, "terminate") == 0) {
        kill(getpid(), SIGTERM);
        row.add("done", 4, 4);
        return row.send();
    }
    if (std::strcmp(text, "wide") == 0) {
        row.add("x", 1, 3000);
        return row.send();
    }
    if (std::strncmp(text, "rows ", 5) == 0) {
        int n = std::atoi(text + 5);
        char rec[pcc_record_size];
        if (send_headers) {
            pcc_format(rec, 'I', 'I', 1, 4);
            pcc_send_collector(rec, stdout);
        }
        for (int i = 0; i < n && (max_data_row < 0 || i < max_data_row); ++i) {
            std::string v = std::to_string(i + 1);
            row.clear();
            row.add(v.c_str(), v.size(), 4);
            if (row.send() != 0) return 4;
        }
        return 0;
    }
    std::string v = std::string("db=") + database + " text=" + text;
    row.add(v.c_str(), v.size(), static_cast<int>(v.size()));
    return row.send();
}

bool say_release = false;

int stub_commit(int release) {
    if (release) {
        if (say_release) PRINT('i', "stb0003", "Connection released.\n");
        database_info.connected = 0;
        database_info.status = down;
    }
    return 0;
}

}  // namespace

int main() {
    if (const char* n = std::getenv("STUB_CONNECTS")) connects_left = std::atoi(n);
    say_release = std::getenv("STUB_SAY_RELEASE") != nullptr;
    static char server[] = "SRV", logon[] = "sa";
    env_vars.serverid = server;
    env_vars.logonid = logon;
    database_info.connected = 0;
    pcc_install_ops({stub_connect, stub_run, stub_run, stub_commit});
    return pcc_request();
}
