// What the message callbacks saw go wrong with the server, for the callers that must say
// why a connect or a statement failed.
#include <cstdio>
#include <cstring>

#include "acquire/ctlib/zemctutl.h"

namespace {

// FreeTDS's numbers for the network faults it reports as client messages.
constexpr CS_INT kTimeout = 20003;      // "... connection timed out"
constexpr CS_INT kNoServer = 20009;     // "Unable to connect: ... unavailable or does not exist"
constexpr CS_INT kConnFailed = 20002;   // "Adaptive Server connection failed"
constexpr CS_INT kReadFailed = 20004;   // "Read from the server failed"
constexpr CS_INT kWriteFailed = 20006;  // "Write to the server failed"
constexpr CS_INT kEof = 20017;          // "Unexpected EOF from the server"
// The server's "Login failed." and the client's "Login incorrect".
constexpr CS_INT kLoginFailed = 4002;
constexpr CS_INT kLoginIncorrect = 20014;

zem_fault_kind kind = zem_fault_none;
char text[256];

// A time-out explains what follows it (the library closes the connection); a refusal
// explains the failed login; otherwise the first fault seen is the reason.
int rank(zem_fault_kind k) {
    switch (k) {
        case zem_fault_timeout:
            return 3;
        case zem_fault_refused:
            return 2;
        case zem_fault_unreachable:
        case zem_fault_dropped:
            return 1;
        default:
            return 0;
    }
}

void note(zem_fault_kind k, const char* message, const char* os_text) {
    if (rank(k) <= rank(kind)) return;
    kind = k;
    if (os_text != nullptr && *os_text != '\0')
        std::snprintf(text, sizeof text, "%s (%s)", message != nullptr ? message : "", os_text);
    else
        std::snprintf(text, sizeof text, "%s", message != nullptr ? message : "");
    // One line in the log: the library's texts may end in a newline.
    for (char* p = text; *p != '\0'; ++p)
        if (*p == '\n' || *p == '\r') *p = ' ';
    size_t n = std::strlen(text);
    while (n > 0 && text[n - 1] == ' ') text[--n] = '\0';
}

}  // namespace

void zem_fault_clear() {
    kind = zem_fault_none;
    text[0] = '\0';
}

zem_fault_kind zem_fault() { return kind; }

const char* zem_fault_text() { return text; }

void zem_fault_note_client(CS_INT number, const char* message, const char* os_text) {
    switch (number) {
        case kTimeout:
            note(zem_fault_timeout, message, nullptr);
            break;
        case kNoServer:
            note(zem_fault_unreachable, message, os_text);
            break;
        case kConnFailed:
        case kReadFailed:
        case kWriteFailed:
        case kEof:
            note(zem_login_pending ? zem_fault_unreachable : zem_fault_dropped, message, os_text);
            break;
        case kLoginIncorrect:
            note(zem_fault_refused, message, nullptr);
            break;
        default:
            break;
    }
}

void zem_fault_note_server(CS_INT number, const char* message) {
    if (number == kLoginFailed) note(zem_fault_refused, message, nullptr);
}

const char* zem_fault_name(zem_fault_kind k) {
    switch (k) {
        case zem_fault_timeout:
            return "time-out";
        case zem_fault_refused:
            return "login refused";
        case zem_fault_unreachable:
            return "server unreachable";
        case zem_fault_dropped:
            return "connection lost";
        default:
            return "failed";
    }
}

bool zem_connection_dead(CS_CONNECTION* conn) {
    if (conn == nullptr) return true;
    CS_INT status = 0;
    if (ct_con_props(conn, CS_GET, CS_CON_STATUS, &status, CS_UNUSED, nullptr) != CS_SUCCEED)
        return true;
    return (status & CS_CONSTAT_DEAD) != 0;
}
