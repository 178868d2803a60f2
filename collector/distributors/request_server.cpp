// The request server.
#include "collector/distributors/request_server.h"

#include <unistd.h>

#include <cstring>
#include <string>

#include "collector/rows/cluster.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/trace_control.h"
#include "collector/run/cursor_answer.h"
#include "collector/run/schedule.h"
#include "collector/run/signals.h"
#include "comm/comm_anchor.h"
#include "comm/zovcomm.h"
#include "defs/distrib.h"
#include "defs/distrib_status.h"
#include "model/cursor.h"
#include "model/cursor_status.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/sleep.h"
#include "runtime/trace.h"

namespace {

bool traced(const char* name) {
    const curs* c = find_cursor(name);
    return c != nullptr && c->trace != 0;
}

// The parameters of a request block: the strings behind the reply-pipe name, up to 16.
void request_parms(const data_request* block, const char* parm[COMM_PARMS]) {
    for (int i = 0; i < COMM_PARMS; ++i) parm[i] = nullptr;
    if (block == nullptr || block->len <= 4 || block->offset < 0) return;
    const char* at = block->data + block->offset;
    const char* end = block->data + (block->len - 4);
    if (end > block->data + sizeof block->data) end = block->data + sizeof block->data;
    if (at >= end) return;
    const void* nul = std::memchr(at, '\0', static_cast<size_t>(end - at));
    if (nul == nullptr) return;
    at = static_cast<const char*>(nul) + 1;
    for (int k = 0; k < COMM_PARMS && at < end; ++k) {
        const void* stop = std::memchr(at, '\0', static_cast<size_t>(end - at));
        if (stop == nullptr) break;  // an unterminated string is no parameter
        parm[k] = at;
        at = static_cast<const char*>(stop) + 1;
    }
}

void set_data(curs_list* request, char* data, int rows, int len) {
    U_FREE(request->data);
    request->data = data;
    request->rows = rows;
    request->len = len;
}

}  // namespace

int status_answer(curs_list* request, bool cursors) {
    size_t count = 0;
    if (cursors)
        for (curs* c = cur_anchor; c != nullptr; c = c->next) ++count;
    else
        for (distrib* d = distrib_anchor; d != nullptr; d = d->next) ++count;
    const size_t len = cursors ? CURS_STATUS_LEN : DISTRIB_STATUS_LEN;
    auto* data = static_cast<unsigned char*>(U_MALLOC(static_cast<long>(count * len + 1)));
    std::memset(data, 0, count * len + 1);
    unsigned char* at = data;
    // The encoders write pointers as zero and a distributor's password blank.
    if (cursors)
        for (curs* c = cur_anchor; c != nullptr; c = c->next, at += len) curs_status_encode(c, at);
    else
        for (distrib* d = distrib_anchor; d != nullptr; d = d->next, at += len)
            distrib_status_encode(d, at);
    set_data(request, reinterpret_cast<char*>(data), static_cast<int>(count),
             static_cast<int>(len));
    return 0;
}

int get_probe_data(curs_list* request) {
    char now_text[15];
    get_time(now_text);
    const int64_t now = relative_sec(now_text);
    curs* c = find_cursor(request->cursor);
    if (c == nullptr) return 1;

    const char* parm[COMM_PARMS];
    request_parms(request->pipe_buf, parm);
    if (auto* anchor = static_cast<comm_anchor*>(ipc_ptr))
        for (int i = 0; i < COMM_PARMS; ++i) anchor->parm[i] = const_cast<char*>(parm[i]);
    // Copied: the block goes with the next "get".
    pcnt_set_parms(parm);

    if (c->window_end <= now) set_window_c(c, now);
    if (c->window_start > now) return 0;
    std::memcpy(c->last_time, now_text, sizeof c->last_time);

    if (open_is_stored_rows(c)) {
        // The stored rows go into the answer block as they are made: no cluster to copy.
        int32_t count = 0;
        int32_t len = 0;
        char* rows = make_rows_block(c, &count, &len);
        if (rows == nullptr) return 1;
        if (trace_something != 0)
            PRINT('t', "cpr1885", "Build return data block, cur= %s, rows= %d, len= %d\n",
                  c->cur_name, count, len);
        set_data(request, rows, count, len);
        return 0;
    }
    cluster* cl = open_cursor(c);
    if (cl == nullptr) return 1;
    if (cl->count <= 0 || cl->len <= 0) {
        close_cur(cl);
        return 1;
    }
    if (trace_something != 0)
        PRINT('t', "cpr1885", "Build return data block, cur= %s, rows= %d, len= %d\n", c->cur_name,
              cl->count, cl->len);
    const size_t bytes = static_cast<size_t>(cl->count) * static_cast<size_t>(cl->len);
    auto* data = static_cast<char*>(U_MALLOC(static_cast<long>(bytes)));
    set_data(request, data, cl->count, cl->len);
    // The cluster's rows lie one after another: one copy takes them all.
    std::memcpy(data, cl->text, bytes);
    close_cur(cl);
    return 0;
}

namespace {

// The collection is due: the serving turn ends.
bool collection_due() {
    if (collector_at == nullptr) return false;
    char now_text[15];
    get_time(now_text);
    return relative_sec(now_text) >= collector_at->next_time;
}

// One request: get, answer, put. 0 served, -1 failed, 100 nothing was there after all.
int serve_one(comm_anchor* anchor) {
    auto* chain = static_cast<curs_list*>(zovcomm("get", anchor));
    if (chain == nullptr) {
        int rc = 100;
        if (anchor->return_code != 0 && anchor->return_code != 20) {
            PRINT('e', "cir1835", "%s\n", anchor->return_msg);
            rc = -1;
        }
        return rc;
    }
    pcnt_set_parms(anchor->parm);
    if (my_trace_all[0] != 0) {
        int n = 0;
        for (curs_list* r = chain; r != nullptr; r = r->next) ++n;
        PRINT('t', "cir1845", " Requests=%d\n", n);
    }
    int rc = 0;
    for (curs_list* r = chain; r != nullptr; r = r->next) {
        if (std::strcmp(r->cursor, "RETRACE") == 0) {
            reset_trace = 1;
            PRINT('i', "cir1850", "Reseting trace.\n");
            continue;
        }
        if (std::strcmp(r->cursor, "SHUTDOWN") == 0) {
            go_home = 1;
            PRINT('a', "cir1855", "SHUTDOWN request recieved.\n");
            continue;
        }
        if (my_trace_all[0] != 0 || traced(r->cursor))
            PRINT('t', "cir1860", "Demand request. Cursor=%s\n", r->cursor);
        if (std::strcmp(r->cursor, "C-STATUS") == 0 || std::strcmp(r->cursor, "D-STATUS") == 0) {
            // A status dump that cannot be made is answered empty like a failed cursor: the
            // put below must still come, or the requester waits for its time-out.
            if (status_answer(r, r->cursor[0] == 'C') != 0) rc = -1;
            continue;
        }
        if (get_probe_data(r) != 0) {
            if (my_trace_all[1] != 0)
                PRINT('e', "cir1870", "Get ULV data failed. Cursor=%s\n", r->cursor);
            rc = -1;
        }
        if (trace_something != 0 && traced(r->cursor))
            PRINT('t', "cir1875", "Returning Cur %s, %d Rows, %d bytes in length.\n", r->cursor,
                  r->rows, r->len);
    }
    if (zovcomm("put", anchor) != nullptr || anchor->return_code != 0)
        PRINT('e', "cir1880", "%s\n", anchor->return_msg);
    return rc;
}

}  // namespace

int do_ulv() {
    if (ipc_ptr == nullptr) {
        // Without the shared objects no request can ever be served: quit rather than poll.
        if (zovcomm("initsm") != nullptr) {
            PRINT('s', "com31400", "could not establish shared memory, quitting\n");
            u_exit(8);
        }
        for (int attempt = 1; attempt <= 3 && ipc_ptr == nullptr; ++attempt) {
            ipc_ptr = zovcomm("initc");
            if (ipc_ptr != nullptr) break;
            PRINT('e', "iir1510", "Error building ULV IPC environment. Try %d failed\n", attempt);
            if (attempt < 3) u_sleep(3);
        }
        if (ipc_ptr == nullptr) {
            PRINT('e', "iir1510", "Error building ULV IPC environment\n");
            quitting(-1004);
            return -1;
        }
    }
    auto* anchor = static_cast<comm_anchor*>(ipc_ptr);
    if (my_trace_all[0] != 0) PRINT('t', "cir1830", "Check ULV request queue...\n");
    // Every request that waits is answered in this turn, unless the collection falls due
    // or the collector is stopping.
    int rc = 100;
    for (int turn = 0;; ++turn) {
        const int waiting = zovcomm_wait(anchor, 0);
        if (waiting < 0) {
            PRINT('e', "cir1835", "%s\n", anchor->return_msg);
            return -1;
        }
        if (waiting == 0) {
            if (turn == 0 && my_trace_all[0] != 0) PRINT('t', "cir1840", " No requests!\n");
            break;
        }
        const int served = serve_one(anchor);
        if (served == 100) break;  // it was refused or gone: no loop on it
        if (rc != -1) rc = served;
        if (go_home != 0 || collection_due()) break;
    }
    return rc;
}

void ulv_wait(int32_t seconds) {
    if (seconds <= 0) return;
    auto* anchor = static_cast<comm_anchor*>(ipc_ptr);
    if (anchor != nullptr && zovcomm_wait(anchor, seconds * 1000) >= 0) return;
    // No channel, or it cannot be waited on: the turn sleeps instead.
    if (anchor != nullptr) PRINT('e', "cir1835", "%s\n", anchor->return_msg);
    u_sleep(static_cast<unsigned>(seconds));
}
