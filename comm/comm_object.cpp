// The request and answer objects and the in-process request queue.
#include "comm/comm_object.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>

#include "comm/zovcomm.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

int g_nCount = 0;
ZOVCommObject* g_pCommObjectRequest = nullptr;
ZOVCommObject* g_pCommObjectData = nullptr;

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
