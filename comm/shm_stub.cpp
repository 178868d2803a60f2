// Stand-in for the shared-memory transport until it is built: every word is refused with
// a message and, where an anchor is given, error 21 in it. Nothing is attached or created.
#include <cstring>

#include "comm/zovcomm.h"
#include "comm/zovcomm2.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/platform.h"

bool zovcomm_shm_available() { return false; }

void* zovcomm2(const char* word, comm_anchor* anchor, const char* /*names*/) {
    const int code = zovcomm_code_of(word);
    PRINT('e', "com2190",
          "Shared memory transport not available (COLL_USESHM=%s); \"%s\" refused\n",
          env_vars.useshm ? env_vars.useshm : "(unset)", word ? word : "(null)");
    switch (code) {
        case ZOVCOMM_GET:
        case ZOVCOMM_PUT:
            comm_set_error(anchor, 21, "Share memory generic error");
            // "put" hands back the unsent chain, as after any failed send.
            return code == ZOVCOMM_PUT && anchor ? anchor->curs : nullptr;
        case ZOVCOMM_TERM:
            if (anchor && (anchor->type == 'P' || anchor->type == 'C')) comm_free_anchor(anchor);
            return nullptr;
        case ZOVCOMM_INITSM:
            PRINT('s', "com31400", "could not establish shared memory, quitting\n");
            u_exit(8);
        default:
            return nullptr;
    }
}
