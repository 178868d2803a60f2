// Context set-up and tear-down.
#include <cerrno>
#include <cstdlib>

#include "acquire/ctlib/zemctutl.h"
#include "runtime/msg.h"
#include "runtime/platform.h"

CS_INT zem_cs_version = CS_VERSION_100;

int zem_db_timeout() {
    const char* text = getenv("COLL_DB_TIMEOUT");
    if (text == nullptr || *text == '\0') return 60;
    errno = 0;
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v > 86400 || v < -86400) return 60;
    return v <= 0 ? 0 : static_cast<int>(v);
}

CS_RETCODE zem_init(CS_CONTEXT** ctx) {
    *ctx = nullptr;
    CS_RETCODE rc = cs_ctx_alloc(zem_cs_version, ctx);
    if (rc != CS_SUCCEED) {
        PRINT('e', "yem0100", "zem_init: cs_ctx_alloc() failed\n");
        *ctx = nullptr;
        return rc;
    }
    for (int attempt = 1; attempt <= 2; ++attempt) {
        rc = ct_init(*ctx, zem_cs_version);
        if (rc == CS_SUCCEED) break;
        PRINT('w', "yem0105", "zem_init: ct_init() failed...Trying again\n");
        u_sleep_ms(5000);
    }
    if (rc != CS_SUCCEED) {
        PRINT('e', "yem0110", "zem_init: ct_init() failed.\n");
        cs_ctx_drop(*ctx);
        *ctx = nullptr;
        return rc;
    }
    rc = ct_callback(*ctx, nullptr, CS_SET, CS_CLIENTMSG_CB,
                     reinterpret_cast<CS_VOID*>(zem_clientmsg_cb));
    if (rc != CS_SUCCEED) PRINT('e', "yem0120", "zem_init: ct_callback(clientmsg) failed\n");
    if (rc == CS_SUCCEED) {
        rc = ct_callback(*ctx, nullptr, CS_SET, CS_SERVERMSG_CB,
                         reinterpret_cast<CS_VOID*>(zem_servermsg_cb));
        if (rc != CS_SUCCEED) PRINT('e', "yem0125", "zem_init: ct_callback(servermsg) failed\n");
    }
    if (rc == CS_SUCCEED) {
        CS_INT netio = CS_SYNC_IO;
        rc = ct_config(*ctx, CS_SET, CS_NETIO, &netio, CS_UNUSED, nullptr);
        if (rc != CS_SUCCEED) PRINT('e', "yem0130", "zem_init: ct_config(netio) failed\n");
    }
    if (rc == CS_SUCCEED) {
        // A server that stops answering must not freeze the caller: both the login and
        // every command are bounded.
        int seconds = zem_db_timeout();
        CS_INT limit = seconds > 0 ? seconds : CS_NO_LIMIT;
        rc = ct_config(*ctx, CS_SET, CS_LOGIN_TIMEOUT, &limit, CS_UNUSED, nullptr);
        if (rc == CS_SUCCEED) rc = ct_config(*ctx, CS_SET, CS_TIMEOUT, &limit, CS_UNUSED, nullptr);
        if (rc != CS_SUCCEED) PRINT('e', "yem0132", "zem_init: ct_config(timeout) failed\n");
    }
    if (rc != CS_SUCCEED) {
        ct_exit(*ctx, CS_FORCE_EXIT);
        cs_ctx_drop(*ctx);
        *ctx = nullptr;
    }
    return rc;
}

CS_RETCODE zem_ctx_cleanup(CS_CONTEXT* ctx, int option) {
    if (ct_exit(ctx, option == 1 ? CS_UNUSED : CS_FORCE_EXIT) != CS_SUCCEED)
        PRINT('e', "yem0170", "zem_ctx_cleanup: ct_exit() failed\n");
    CS_RETCODE rc = cs_ctx_drop(ctx);
    if (rc != CS_SUCCEED) PRINT('e', "yem0175", "zem_ctx_cleanup: cs_ctx_drop() failed\n");
    return rc;
}
