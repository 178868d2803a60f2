// The request and answer objects and the in-process request queue.
#include "comm/comm_object.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>

#include "comm/comm_support.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

int g_nCount = 0;
ZOVCommObject* g_pCommObjectRequest = nullptr;
ZOVCommObject* g_pCommObjectData = nullptr;
ZOVThreadCommObject g_sCommQueue;

ZOVDataObject::ZOVDataObject() : created_(u_time_now()) {}

std::string zov_form_unique(const std::string& name, long long now, int count, long pid) {
    char tail[64];
    snprintf(tail, sizeof tail, "-%012lld-%04d-%ld", now, count, pid);
    std::string id = name.substr(0, 14) + tail;
    if (id.size() > ZOV_UNIQUE_MAX) id.resize(ZOV_UNIQUE_MAX);
    return id;
}

ZOVRequest::ZOVRequest(const std::string& name, const std::list<std::string>& params,
                       const char* data)
    : name_(name), data_(data ? data : ""), params_(params) {
    FormRequest();
}

ZOVRequest::ZOVRequest(const std::string& name, const std::string& unique,
                       const std::list<std::string>& params, const char* data)
    : name_(name), unique_(unique), data_(data ? data : ""), params_(params) {}

namespace {

// The process id that ends every id, asked once per process rather than per request; a
// forked child asks anew (its ids must not repeat its parent's).
pid_t own_pid = 0;

pid_t id_pid() {
    static const bool registered = pthread_atfork(nullptr, nullptr, [] { own_pid = 0; }) == 0;
    if (own_pid == 0 || !registered) own_pid = getpid();
    return own_pid;
}

}  // namespace

void ZOVRequest::FormRequest() {
    g_nCount++;
    unique_ = zov_form_unique(name_, static_cast<long long>(u_time_now()), g_nCount,
                              static_cast<long>(id_pid()));
}

ZOVDataRow::ZOVDataRow(int numrow, int lenrow, const char* data)
    : numrow_(numrow), lenrow_(lenrow) {
    if (numrow >= 1 && lenrow > 0 && data) {
        data_.assign(data, static_cast<size_t>(numrow) * static_cast<size_t>(lenrow));
    }
}

int ZOVThreadCommObject::SendRequest(const char* name, const std::list<std::string>& params,
                                     std::string& unique, const char* data, int /*timeout*/) {
    auto* request = new ZOVRequest(name ? name : "", params, data);
    unique = request->GetRequestStr();
    return SendRequest(request);
}

int ZOVThreadCommObject::SendRequest(ZOVRequest* request) {
    ZOVThreadLock guard(&request_lock_);
    queue_.push_back(request);
    return 0;
}

int ZOVThreadCommObject::GetRequest(std::string& name, std::string& unique,
                                    std::list<std::string>& params, std::string& data,
                                    int timeout) {
    if (u_trace_on(5)) PRINT('t', "ush0100", "GetRequest, timeout=%d\n", timeout);
    int rc = -1;
    {
        ZOVThreadLock guard(&request_lock_);
        unique.clear();
        if (!queue_.empty()) {
            ZOVRequest* r = queue_.front();
            queue_.pop_front();
            name = r->GetName();
            unique = r->GetRequestStr();
            params = r->GetParam();
            data = r->GetData();
            delete r;
            rc = 0;
        }
    }
    if (u_trace_on(5)) PRINT('t', "ush0110", "Leaving GetRequest\n");
    return rc;
}

int ZOVThreadCommObject::SendData(const std::string& unique, int numrow, int lenrow,
                                  const char* data, int /*timeout*/) {
    if (u_trace_on(5) && unique.empty()) {
        PRINT('e', "tsh0001", "Unique name is not supplied\n");
        return -1;
    }
    ZOVDataRow row(numrow, lenrow, data);
    ZOVThreadLock guard(&data_lock_);
    return 0;
}

int ZOVThreadCommObject::GetData(const std::string&, std::string&, int&, int&, std::string&,
                                 int /*timeout*/) {
    ZOVThreadLock guard(&data_lock_);
    return -1;
}

bool CreateThreadCommObject() {
    auto* object = new ZOVThreadCommObject;
    g_pCommObjectRequest = object;
    g_pCommObjectData = object;
    return true;
}

void DestroyThreadCommObject() {
    if (g_pCommObjectData == g_pCommObjectRequest) g_pCommObjectData = nullptr;
    delete g_pCommObjectRequest;
    g_pCommObjectRequest = nullptr;
    delete g_pCommObjectData;
    g_pCommObjectData = nullptr;
}

void* GetProbeRequest(void* /*arg*/) {
    for (;;) {
        std::string name, unique, data;
        std::list<std::string> params;
        if (!g_pCommObjectRequest ||
            g_pCommObjectRequest->GetRequest(name, unique, params, data, wait_timeout) != 0) {
            u_sleep_ms(1000);  // an in-process queue answers at once; do not spin
            continue;
        }
        g_sCommQueue.SendRequest(new ZOVRequest(name, unique, params, data.c_str()));
    }
    return nullptr;
}

void InitRequestQueue() {}
