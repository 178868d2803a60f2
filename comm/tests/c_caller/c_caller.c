/* Calls zovcomm from C, as the agent framework does: the records and the entry point
   must be usable from a C translation unit. Run with COLL_USESHM=0 and COLL_PREFIX set
   to a private directory; exits 0 when every step behaved. */
#include <stdio.h>
#include <string.h>

#include "comm/zovcomm.h"

int main(void) {
    comm_anchor* a = (comm_anchor*)zovcomm("INIT");
    if (!a) return 2;
    if (a->type != 'P' || a->ulv_pipe_fd < 0) return 3;
    if (zovcomm("nonsense") != NULL) return 4;
    /* A name of nine characters is refused before anything is sent. */
    if (zovcomm("get", a, "ABCDEFGHI") != NULL || a->return_code != 4) return 5;
    a = (comm_anchor*)zovcomm("term", a);
    if (a != NULL) return 6;
    puts("c caller ok");
    return 0;
}
