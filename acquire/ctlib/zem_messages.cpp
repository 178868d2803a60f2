// The two message callbacks, return-code mapping and the panic exit.
#include "acquire/ctlib/zemctutl.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace {
// FreeTDS's number for "Read from the server took too long".
constexpr CS_INT kFreeTdsTimeout = 20003;
}  // namespace

int zem_convert_retcode(CS_RETCODE rc) {
    switch (rc) {
        case CS_SUCCEED:
        case CS_END_DATA:
        case CS_END_RESULTS:
            return 0;
        case CS_FATAL:
        case CS_INTERRUPT:
        case CS_BUSY:
        case CS_PENDING:
            return 2;
        default:
            return 1;
    }
}

void zem_panic(const char* text) {
    PRINT('s', "ypm0010", "zem_panic: FATAL ERROR: %s\n", text != nullptr ? text : "");
    u_exit(1);
}

CS_RETCODE zem_clientmsg_cb(CS_CONTEXT*, CS_CONNECTION*, CS_CLIENTMSG* msg) {
    zem_fault_note_client(msg->msgnumber, msg->msgstring,
                          msg->osstringlen > 0 ? msg->osstring : nullptr);
    if (my_trace_all[3] != 0) {
        // Client-Library's own messages pack layer, origin, severity and number into
        // the four bytes; FreeTDS's network layer gives its plain number (20003 ...) and
        // its own severity. Both are logged as given.
        unsigned long number = static_cast<unsigned long>(msg->msgnumber);
        long layer = static_cast<long>((number >> 24) & 0xFF);
        long origin = static_cast<long>((number >> 16) & 0xFF);
        long severity = layer == 0 && origin == 0 ? static_cast<long>(msg->severity)
                                                  : static_cast<long>((number >> 8) & 0xFF);
        long num = layer == 0 && origin == 0 ? static_cast<long>(msg->msgnumber)
                                             : static_cast<long>(number & 0xFF);
        PRINT('e', "ycm0600",
              "Open Client Program Message Number: LAYER = (%ld) ORIGIN = (%ld) SEVERITY = "
              "(%ld) NUMBER = (%ld)\n",
              layer, origin, severity, num);
        PRINT('e', "ycm0610", " Message: %s\n", msg->msgstring);
        if (msg->osstringlen > 0)
            PRINT('e', "ycm0620", " Operating System Error: %s\n", msg->osstring);
    }
    if (msg->msgnumber != kFreeTdsTimeout) return CS_SUCCEED;
    // A time-out gives the command up (FreeTDS then closes the connection) rather than
    // wait on. During a login FreeTDS does not recover from that answer (it retries a
    // logout for ever), so there the socket is shut down instead: the login then ends at
    // once with "unexpected EOF" and fails.
    if (zem_abort_login()) return CS_SUCCEED;
    return CS_FAIL;
}

CS_RETCODE zem_servermsg_cb(CS_CONTEXT*, CS_CONNECTION*, CS_SERVERMSG* msg) {
    zem_fault_note_server(msg->msgnumber, msg->text);
    if (msg->severity == 10) return CS_SUCCEED;
    PRINT('e', "ysm0300",
          "Open Client Server Message Number: %ld, Severity: %ld, State: %ld, Line: %ld\n",
          static_cast<long>(msg->msgnumber), static_cast<long>(msg->severity),
          static_cast<long>(msg->state), static_cast<long>(msg->line));
    if (msg->svrnlen > 0) PRINT('e', "ysm0315", "  Server '%s'\n", msg->svrname);
    if (msg->proclen > 0) PRINT('e', "ysm0320", "  Procedure '%s'\n", msg->proc);
    PRINT('e', "ysm0330", "  Message: %s\n", msg->text);
    return CS_SUCCEED;
}
