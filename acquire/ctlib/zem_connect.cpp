// Opening and closing the server connection.
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "acquire/ctlib/zemctutl.h"
#include "runtime/msg.h"
#include "runtime/password.h"

bool zem_login_pending = false;

namespace {

// The connected TCP sockets of the process (Client-Library does not tell which descriptor
// a connection uses).
std::set<int> tcp_sockets() {
    std::set<int> out;
    DIR* d = opendir("/proc/self/fd");
    if (d == nullptr) return out;
    int skip = dirfd(d);
    while (dirent* e = readdir(d)) {
        char* end = nullptr;
        long fd = strtol(e->d_name, &end, 10);
        if (*end != '\0' || end == e->d_name || fd == skip) continue;
        sockaddr_storage a{};
        socklen_t len = sizeof a;
        if (getsockname(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&a), &len) != 0) continue;
        if (a.ss_family != AF_INET && a.ss_family != AF_INET6) continue;
        len = sizeof a;
        if (getpeername(static_cast<int>(fd), reinterpret_cast<sockaddr*>(&a), &len) != 0) continue;
        out.insert(static_cast<int>(fd));
    }
    closedir(d);
    return out;
}

std::set<int> sockets_before_login;

// Overwrites a plain password (all of it) once it has been handed over.
void wipe(char* plain) {
    if (plain == nullptr) return;
    volatile char* p = plain;
    while (*p != '\0') *p++ = '\0';
}
}  // namespace

CS_RETCODE zem_connect(CS_CONTEXT* ctx, CS_CONNECTION** conn, const char* app, const char* user,
                       const char* password, const char* server) {
    *conn = nullptr;
    zem_fault_clear();
    CS_RETCODE rc = ct_con_alloc(ctx, conn);
    if (rc != CS_SUCCEED) {
        PRINT('e', "yem0135", "Can't allocate memory to establish SYBASE Server connection\n");
        *conn = nullptr;
        return rc;
    }
    if (user != nullptr) {
        rc =
            ct_con_props(*conn, CS_SET, CS_USERNAME, const_cast<char*>(user), CS_NULLTERM, nullptr);
        if (rc != CS_SUCCEED)
            PRINT('e', "yem0140", "Setting user logon ID for SYBASE Server connection failed\n");
    }
    if (rc == CS_SUCCEED && password != nullptr && *password != '\0') {
        char* plain = fok(password);
        if (plain != nullptr && strncmp(plain, "Error ", 6) == 0) {
            // The stored form cannot be read: the connect fails, and the message says so
            // without repeating anything of the stored or plain text.
            wipe(plain);
            PRINT('e', "yem0146", "Stored password for SYBASE Server connection cannot be read\n");
            rc = CS_FAIL;
        } else if (plain != nullptr) {
            rc = ct_con_props(*conn, CS_SET, CS_PASSWORD, plain, CS_NULLTERM, nullptr);
            wipe(plain);
            if (rc != CS_SUCCEED)
                PRINT('e', "yem0145", "Setting password for SYBASE Server connection failed\n");
        }
    }
    if (rc == CS_SUCCEED && app != nullptr) {
        rc = ct_con_props(*conn, CS_SET, CS_APPNAME, const_cast<char*>(app), CS_NULLTERM, nullptr);
        if (rc != CS_SUCCEED)
            PRINT('e', "yem0150", "Setting application name for SYBASE Server connection failed\n");
    }
    if (rc == CS_SUCCEED) {
        sockets_before_login = tcp_sockets();
        zem_login_pending = true;
        rc = ct_connect(*conn, const_cast<char*>(server), server != nullptr ? CS_NULLTERM : 0);
        zem_login_pending = false;
        if (rc != CS_SUCCEED) PRINT('e', "yem0155", "Failed to open SYBASE Server connection\n");
    }
    if (rc != CS_SUCCEED) {
        ct_con_drop(*conn);
        *conn = nullptr;
    }
    return rc;
}

bool zem_abort_login() {
    if (!zem_login_pending) return false;
    bool any = false;
    for (int fd : tcp_sockets()) {
        if (sockets_before_login.count(fd) == 0) {
            shutdown(fd, SHUT_RDWR);
            any = true;
        }
    }
    return any;
}

CS_RETCODE zem_con_cleanup(CS_CONNECTION* conn, int option) {
    if (ct_close(conn, option == 1 ? CS_UNUSED : CS_FORCE_CLOSE) != CS_SUCCEED)
        PRINT('e', "yem0160", "zem_con_cleanup: ct_close() failed\n");
    CS_RETCODE rc = ct_con_drop(conn);
    if (rc != CS_SUCCEED) PRINT('e', "yem0165", "zem_con_cleanup: ct_con_drop() failed\n");
    return rc;
}
