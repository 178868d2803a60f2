#include "comm/request.h"

#include <cstring>

namespace {

constexpr int kHeader = 4;

}  // namespace

int comm_request_encode(const char* name, int name_len, const char* reply, const char* const* parms,
                        data_request* out, const char** why) {
    const char* dummy;
    if (!why) why = &dummy;
    if (!name || name_len < 1 || name_len > COMM_CURSOR_MAX) {
        *why = "cursor name must be 1 to 8 characters";
        return 1;
    }
    size_t reply_len = reply ? strnlen(reply, COMM_NAME_SIZE) : 0;
    if (reply_len == 0 || reply_len >= static_cast<size_t>(COMM_NAME_SIZE)) {
        *why = "reply pipe name must be 1 to 99 characters";
        return 1;
    }
    size_t total = kHeader + name_len + reply_len + 1 + 2;
    if (parms) {
        for (int i = 0; i < COMM_PARMS; i++) {
            if (parms[i]) total += strnlen(parms[i], COMM_REQUEST_MAX) + 1;
        }
    }
    if (total > static_cast<size_t>(COMM_REQUEST_MAX)) {
        *why = "request longer than 300 bytes";
        return 1;
    }
    memset(out, 0, sizeof *out);
    out->len = static_cast<int16_t>(total);
    out->offset = static_cast<int16_t>(name_len);
    char* p = out->data;
    memcpy(p, name, name_len);
    p += name_len;
    memcpy(p, reply, reply_len);
    p += reply_len + 1;
    if (parms) {
        for (int i = 0; i < COMM_PARMS; i++) {
            if (!parms[i]) continue;
            size_t n = strlen(parms[i]);
            memcpy(p, parms[i], n);
            p += n + 1;
        }
    }
    // The two closing zero bytes are already there from the memset.
    return 0;
}

int comm_request_check_header(int16_t len, int16_t offset, const char** why) {
    const char* dummy;
    if (!why) why = &dummy;
    if (offset < 1 || offset > COMM_CURSOR_MAX) {
        *why = "cursor name length";
        return 1;
    }
    if (len > COMM_REQUEST_MAX || len < kHeader + offset + 1 + 2) {
        *why = "record length";
        return 1;
    }
    return 0;
}

int comm_request_check(const data_request* req, const char** why) {
    const char* dummy;
    if (!why) why = &dummy;
    if (comm_request_check_header(req->len, req->offset, why)) return 1;
    const int body = req->len - kHeader;  // bytes of data[] in use
    if (memchr(req->data, '\0', req->offset)) {
        *why = "NUL in cursor name";
        return 1;
    }
    const char* reply = req->data + req->offset;
    // The reply name's NUL must leave room for the two closing zero bytes.
    const int room = body - req->offset - 2;
    const void* nul = memchr(reply, '\0', room);
    if (!nul) {
        *why = "reply pipe name not terminated";
        return 1;
    }
    long reply_len = static_cast<const char*>(nul) - reply;
    if (reply_len == 0 || reply_len >= COMM_NAME_SIZE) {
        *why = "reply pipe name length";
        return 1;
    }
    if (req->data[body - 1] != '\0' || req->data[body - 2] != '\0') {
        *why = "record not closed by two zero bytes";
        return 1;
    }
    return 0;
}

const char* comm_request_reply(const data_request* req) { return req->data + req->offset; }

int comm_request_point_parms(data_request* req, char** parm) {
    const int body = req->len - kHeader;
    char* p = req->data + req->offset;
    p += strlen(p) + 1;  // behind the reply name
    char* end = req->data + body;
    int n = 0;
    while (p < end && n < COMM_PARMS) {
        parm[n++] = p;
        p += strnlen(p, end - p) + 1;
    }
    for (int i = n; i < COMM_PARMS; i++) parm[i] = nullptr;
    return n;
}

int comm_request_parms(const data_request* req, const char** parms) {
    const int body = req->len - kHeader;
    const char* p = req->data + req->offset;
    p += strlen(p) + 1;
    const char* end = req->data + body - 2;  // before the two closing zero bytes
    int n = 0;
    while (p < end && n < COMM_PARMS) {
        parms[n++] = p;
        p += strnlen(p, end - p) + 1;
    }
    for (int i = n; i < COMM_PARMS; i++) parms[i] = nullptr;
    return n;
}

void comm_request_to_bytes(const data_request* req, unsigned char* out) {
    memcpy(out, &req->len, 2);
    memcpy(out + 2, &req->offset, 2);
    memcpy(out + kHeader, req->data, req->len - kHeader);
}

void comm_request_header_from_bytes(const unsigned char* in, int16_t* len, int16_t* offset) {
    memcpy(len, in, 2);
    memcpy(offset, in + 2, 2);
}

void comm_header_encode(const stream_header& h, unsigned char* out) {
    memcpy(out, &h.rows, 4);
    memcpy(out + 4, &h.len, 4);
}

int comm_header_decode(const unsigned char* in, stream_header* h, int64_t* bytes) {
    memcpy(&h->rows, in, 4);
    memcpy(&h->len, in + 4, 4);
    if (h->rows < 0 || h->len < 0) return 1;
    int64_t total = int64_t{h->rows} * int64_t{h->len};
    if (total > COMM_ANSWER_MAX) return 1;
    *bytes = total;
    return 0;
}
