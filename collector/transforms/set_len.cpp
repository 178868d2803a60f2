// SET_LEN resolution and application.
#include "collector/transforms/set_len.h"

#include <cstring>

#include "defs/clause_exits.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "runtime/msg.h"

int init_set_len(curs* c, xSQLDA* d) {
    int rc = 0;
    for (set_len* s = c->set_len; s != nullptr; s = s->next) {
        size_t n = strnlen(s->col_name, sizeof s->col_name);
        int found = -1;
        for (int i = 0; d != nullptr && i < d->F && i < d->N; ++i) {
            if (d->C[i] == static_cast<int16_t>(n) && d->S[i] != nullptr &&
                std::memcmp(d->S[i], s->col_name, n) == 0) {
                found = i;
                break;
            }
        }
        if (found < 0) {
            PRINT('w', "pcl4570", "For cursor %s the set_len name (%.50s) not_found\n", c->cur_name,
                  s->col_name);
            PRINT('w', "pcl4575", "Holding cursor\n");
            hold(c);
            rc = 1;
            continue;
        }
        s->i = static_cast<int16_t>(found);
    }
    if (rc == 0) c->sets_are_set_up = 1;
    return rc;
}

int set_the_lengths(curs* c, xSQLDA* d) {
    if (d == nullptr) return 0;
    for (set_len* s = c->set_len; s != nullptr; s = s->next)
        if (s->i >= 0 && s->i < d->N) d->L[s->i] = s->len;
    return 0;
}
