// The zovcomm words over the shared-memory transport.
#include "comm/shm_transport.h"

#include <algorithm>
#include <cstring>
#include <list>
#include <string>
#include <vector>

#include "comm/chain.h"
#include "comm/comm_support.h"
#include "comm/ipc_idfile.h"
#include "comm/request.h"
#include "comm/share_comm_object.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

long last_succeed_sent_req_tm = 0;

namespace {

// Attempts to find the answer that carries a block's own unique id.
constexpr int kAnswerAttempts = 5;
// Seconds without a successful send after which a requester looks for stuck semaphores.
constexpr long kResetAfter = 180;
// Seconds the collector waits for the reader of the previous answer, and of each chunk.
// Three, not ten: an answer nobody reads must not hold the collector (and its next
// collection pass) for long; a live reader takes its answer within a second, even one
// that looks once a second.
constexpr int kPutTimeout = 3;

bool objects_present() {
    return g_pCommObjectRequest && g_pCommObjectData && g_pCommObjectRequest->IsGood() &&
           g_pCommObjectData->IsGood();
}

// Without the shared objects nothing can travel: error 21 with a message that says why.
bool require_objects(comm_anchor* anchor) {
    if (objects_present()) return true;
    PRINT('e', "com2110",
          "No shared memory objects in this process (\"initsm\" not run or failed)\n");
    SetError(-1, anchor);
    return false;
}

comm_anchor* new_anchor(char type) {
    comm_anchor* anchor = comm_new_anchor(type);
    snprintf(anchor->coll_pipe, sizeof anchor->coll_pipe, "COL");
    snprintf(anchor->ulv_pipe, sizeof anchor->ulv_pipe, "AGT");
    return anchor;
}

comm_anchor* init_probe() {
    if (last_succeed_sent_req_tm == 0) last_succeed_sent_req_tm = static_cast<long>(u_time_now());
    comm_set_wait_timeout("WAIT_TIMEOUT", 45);
    return new_anchor('P');
}

comm_anchor* init_collector() {
    comm_set_wait_timeout("COLL_WAIT_TIMEOUT", 5);
    return new_anchor('C');
}

// The parameters of a request record, in order (the closing empty strings left out).
std::list<std::string> record_parms(const data_request* req) {
    const char* parms[COMM_PARMS];
    const int n = comm_request_parms(req, parms);
    return std::list<std::string>(parms, parms + n);
}

curs_list* get_probe_reqs(comm_anchor* anchor) {
    if (u_trace_on(5)) PRINT('t', "ush0400", "Entering: get_probe_reqs\n");
    anchor->return_code = 0;
    comm_drop_requests(anchor);
    if (!require_objects(anchor)) return nullptr;
    std::string name, unique, data;
    std::list<std::string> params;
    // A request the collector's wait took is read at once (the object holds it).
    const int rc = g_pCommObjectRequest->GetRequest(name, unique, params, data, wait_timeout);
    if (rc < 0) {
        SetError(rc, anchor);
        if (u_trace_on(5)) PRINT('t', "ush0410", "Call get_probe_reqs: No request\n");
        return nullptr;
    }
    snprintf(anchor->unique_name, sizeof anchor->unique_name, "%s", unique.c_str());
    const int name_len = static_cast<int>(std::min<size_t>(name.size(), COMM_CURSOR_MAX));
    const char* parms[COMM_PARMS] = {};
    int i = 0;
    for (const std::string& p : params) {
        if (i == COMM_PARMS) break;
        parms[i++] = p.c_str();
    }
    auto* req = static_cast<data_request*>(U_MALLOC(sizeof(data_request)));
    const char* why = "";
    if (comm_request_encode(name.c_str(), name_len, anchor->ulv_pipe, parms, req, &why) != 0) {
        PRINT('e', "com2120", "Request '%s' for cursor '%.14s' refused (%s)\n", unique.c_str(),
              name.c_str(), why);
        U_FREE(req);
        SetError(-1, anchor);
        return nullptr;
    }
    return comm_file_request(anchor, req);
}

int send_a_request(comm_anchor* anchor, curs_list* block, std::string& unique) {
    const long now = static_cast<long>(u_time_now());
    if (u_trace_on(5)) {
        PRINT('t', "ush0420", "Time now:%ld, last succeed:%ld\n", now, last_succeed_sent_req_tm);
    }
    if (now - last_succeed_sent_req_tm > kResetAfter) {
        // Long without a successful send: a partner may have died holding a semaphore.
        // Reset only a set that is confirmed stuck, never one a partner is using.
        bool reset = false;
        for (ZOVCommObject* o : {g_pCommObjectRequest, g_pCommObjectData}) {
            if (auto* s = dynamic_cast<ShareCommObject*>(o)) reset = s->ResetIfStuck() || reset;
        }
        if (reset && u_trace_on(4)) PRINT('i', "ush0430", "Reseting semaphores...\n");
    }
    const int rc = g_pCommObjectRequest->SendRequest(block->cursor, record_parms(block->pipe_buf),
                                                     unique, nullptr, wait_timeout);
    if (rc != 0) {
        SetError(rc, anchor);
        return anchor->return_code;
    }
    last_succeed_sent_req_tm = static_cast<long>(u_time_now());
    snprintf(anchor->unique_name, sizeof anchor->unique_name, "%s", unique.c_str());
    return 0;
}

curs_list* get_cursor_data(comm_anchor* anchor, const char* names) {
    if (!comm_requester_blocks(anchor, names)) return nullptr;
    if (!require_objects(anchor)) return nullptr;
    // One request at a time, its answer read before the next is sent: the collector waits
    // for an answer to be read before it writes the next one.
    for (curs_list* b = anchor->curs; b; b = b->next) {
        U_FREE(b->data);
        b->data = nullptr;
        b->rows = 0;
        b->len = 0;
    }
    for (curs_list* b = anchor->curs; b; b = b->next) {
        const long start = static_cast<long>(u_time_now());
        std::string own;
        if (send_a_request(anchor, b, own) != 0) return nullptr;
        long left = wait_timeout - (static_cast<long>(u_time_now()) - start);
        if (left < 0) left = 0;
        // The answer is read straight into the block's own buffer.
        struct BlockSink : AnswerSink {
            ~BlockSink() override { U_FREE(bytes); }
            void start(size_t total) override {
                U_FREE(bytes);
                bytes = static_cast<char*>(U_MALLOC(total));
                size = 0;
            }
            void append(const char* p, size_t n) override {
                memcpy(bytes + size, p, n);
                size += n;
            }
            char* bytes = nullptr;
            size_t size = 0;
        } data;
        auto* shared = dynamic_cast<ShareCommObject*>(g_pCommObjectData);
        if (!shared) {
            SetError(-1, anchor);
            return nullptr;
        }
        std::string found;
        int rows = 0, len = 0;
        for (int attempt = 0; attempt < kAnswerAttempts; attempt++) {
            const long begun = static_cast<long>(u_time_now());
            const int rc = shared->GetDataInto(own, found, rows, len, data, static_cast<int>(left));
            if (rc < 0) {
                SetError(rc, anchor);
                return nullptr;
            }
            if (found == own) break;
            left -= static_cast<long>(u_time_now()) - begun;
            if (left < 0) left = 0;
            PRINT('i', "tsh0010", "Continue waiting...\n");
        }
        if (found != own) {
            // Someone else's answer to the end: never hand it out as ours.
            PRINT('e', "com2130", "No answer for request %s after %d attempts (last for %s)\n",
                  own.c_str(), kAnswerAttempts, found.c_str());
            SetError(-1, anchor);
            return nullptr;
        }
        const long long bytes = static_cast<long long>(rows) * len;
        if (rows > 0 && bytes > 0) {
            if (static_cast<long long>(data.size) != bytes) {
                PRINT('e', "com2140", "Answer for %s incomplete (%zu of %lld bytes)\n", own.c_str(),
                      data.size, bytes);
                SetError(-1, anchor);
                return nullptr;
            }
            b->data = data.bytes;
            data.bytes = nullptr;
        }
        b->rows = rows;
        b->len = len;
    }
    return anchor->curs;
}

curs_list* get_request(comm_anchor* anchor, const char* names) {
    curs_list* chain = nullptr;
    if (anchor->type == 'P') {
        chain = get_cursor_data(anchor, names);
    } else if (anchor->type == 'C') {
        chain = get_probe_reqs(anchor);
    } else {
        comm_set_error(anchor, 8, "Invalid IPC anchor for get request.");
        return nullptr;
    }
    if (u_trace_on(5)) {
        PRINT('t', "com2010", "get_request() %8s %s\n", anchor->prev_curs,
              anchor->type == 'P' ? anchor->ulv_pipe : anchor->coll_pipe);
    }
    return chain;
}

curs_list* put_request(comm_anchor* anchor) {
    if (!comm_put_allowed(anchor)) return anchor->curs;
    if (!require_objects(anchor)) return anchor->curs;
    for (curs_list* b = anchor->curs; b; b = b->next) {
        for (pipe_list* p = b->pipe; p; p = p->next) {
            snprintf(anchor->ulv_pipe, sizeof anchor->ulv_pipe, "%s", p->pipe);
            const int rows = b->data ? b->rows : 0;
            const int rc = g_pCommObjectData->SendData(anchor->unique_name, rows, b->len, b->data,
                                                       kPutTimeout);
            if (rc < 0) {
                SetError(rc, anchor);
                return anchor->curs;  // the unsent chain stays with the anchor
            }
        }
    }
    comm_drop_requests(anchor);
    if (u_trace_on(5)) {
        PRINT('t', "com2010", "put_request() %8s pipe=%s\n", anchor->prev_curs, anchor->ulv_pipe);
    }
    return anchor->curs;
}

// 0 when the shared objects are set up (or named pipes are chosen), else 8. The set-up
// has logged why; the caller decides whether to quit (the collector logs com31400 and
// ends), since an agent that links this library must never be ended by it.
int init_sm_comm() {
    if (!comm_use_shm()) return 0;
    return InitShare(env_vars.serverid, env_vars.ctl_home) != 0 ? 8 : 0;
}

curs_list* shm_get(comm_anchor* anchor, const char* names) {
    if (!anchor) return nullptr;
    anchor->return_code = 0;
    return get_request(anchor, names);
}

curs_list* shm_put(comm_anchor* anchor) {
    if (!anchor) return nullptr;
    anchor->return_code = 0;
    return put_request(anchor);
}

int shm_wait(comm_anchor* anchor, int timeout_ms) {
    anchor->return_code = 0;
    anchor->return_msg[0] = '\0';
    if (!require_objects(anchor)) return -1;
    auto* request = dynamic_cast<ShareCommObject*>(g_pCommObjectRequest);
    if (!request) {
        SetError(-1, anchor);
        return -1;
    }
    // 0 at once for a request the last wait saw and no "get" took yet.
    const int rc = request->WaitRequest(timeout_ms);
    if (rc == 0) return 1;
    if (rc == -10) return 0;
    SetError(rc, anchor);
    return -1;
}

int shm_term(comm_anchor* anchor) {
    if (anchor && anchor->type == 'C') {
        // A request a wait took and no "get" read: free the segment for the next one.
        if (auto* request = dynamic_cast<ShareCommObject*>(g_pCommObjectRequest)) {
            request->DropHeldRequest();
        }
    }
    if (anchor && (anchor->type == 'P' || anchor->type == 'C')) comm_free_anchor(anchor);
    return 0;
}

void shm_shut() {
    if (comm_use_shm()) DestroyShareCommObject();
}

}  // namespace

void SetError(int result, comm_anchor* anchor) {
    if (result == -10) comm_set_error(anchor, 20, "Share memory time out");
    if (result == -1) comm_set_error(anchor, 21, "Share memory generic error");
}

const comm_transport shm_transport_ops = {
    init_probe, init_collector, shm_get, shm_put, shm_term, shm_shut, init_sm_comm, shm_wait,
};

void* zovcomm2(const char* word, comm_anchor* anchor, const char* names) {
    const int code = zovcomm_code_of(word);
    if (code == 0) {
        PRINT('e', "com2100", "Invalid function code to ZOVCOMM2: %s\n", word ? word : "(null)");
        return nullptr;
    }
    return comm_run_operation(shm_transport_ops, code, anchor, names);
}
