// The cursor chain of an anchor and the helpers both transports share.
#include "comm/chain.h"

#include <cstdio>
#include <cstring>

#include "comm/comm_support.h"
#include "comm/request.h"
#include "runtime/alloc.h"

curs_list* get_cursor_block(comm_anchor* anchor) {
    auto* block = static_cast<curs_list*>(U_MALLOC(sizeof(curs_list)));
    memset(block, 0, sizeof *block);
    curs_list** tail = &anchor->curs;
    while (*tail) tail = &(*tail)->next;
    *tail = block;
    return block;
}

void free_cursor_blocks(comm_anchor* anchor) {
    curs_list* block = anchor->curs;
    while (block) {
        curs_list* next = block->next;
        pipe_list* p = block->pipe;
        while (p) {
            pipe_list* pn = p->next;
            U_FREE(p);
            p = pn;
        }
        U_FREE(block->pipe_buf);
        U_FREE(block->data);
        U_FREE(block);
        block = next;
    }
    anchor->curs = nullptr;
}

curs_list* scan_cursor_blocks(comm_anchor* anchor, const data_request* request) {
    const char* req_reply = request->data + request->offset;
    const char* req_rest = req_reply + strlen(req_reply) + 1;
    const long rest_len = (request->data + request->len - 4) - req_rest;
    for (curs_list* b = anchor->curs; b; b = b->next) {
        const data_request* own = b->pipe_buf;
        if (!own || own->len != request->len) continue;
        if (strncmp(b->cursor, request->data, request->offset) != 0) continue;
        if (b->cursor[request->offset] != '\0') continue;
        const char* own_reply = own->data + own->offset;
        const char* own_rest = own_reply + strlen(own_reply) + 1;
        const long own_len = (own->data + own->len - 4) - own_rest;
        if (own_len == rest_len && memcmp(own_rest, req_rest, rest_len) == 0) return b;
    }
    return nullptr;
}

void add_reply_pipe(curs_list* block, const char* name) {
    size_t n = strnlen(name, COMM_NAME_SIZE - 1);
    auto* entry = static_cast<pipe_list*>(U_MALLOC(sizeof(pipe_list) + n + 1));
    entry->next = nullptr;
    entry->len = static_cast<int16_t>(n);
    entry->pipe = reinterpret_cast<char*>(entry + 1);
    memcpy(entry->pipe, name, n);
    entry->pipe[n] = '\0';
    pipe_list** tail = &block->pipe;
    while (*tail) tail = &(*tail)->next;
    *tail = entry;
}

int get_curs_name(const char* text, char* name) {
    memset(name, 0, COMM_CURSOR_MAX + 1);
    while (*text == ' ' || *text == ',') text++;
    int n = 0;
    while (n < COMM_CURSOR_MAX && text[n] && text[n] != ' ' && text[n] != ',') {
        name[n] = text[n];
        n++;
    }
    return n;
}

namespace {

// (Re)builds the requester's blocks for the name text; 0, or 1 with the error set.
int build_blocks(comm_anchor* anchor, const char* names) {
    snprintf(anchor->prev_curs, sizeof anchor->prev_curs, "%s", names);
    free_cursor_blocks(anchor);
    const char* p = names;
    for (;;) {
        while (*p == ' ' || *p == ',') p++;
        char name[COMM_CURSOR_MAX + 1];
        const int n = get_curs_name(p, name);
        if (n == 0) break;
        p += n;
        curs_list* block = get_cursor_block(anchor);
        memcpy(block->cursor, name, sizeof block->cursor);
        block->pipe_buf = static_cast<data_request*>(U_MALLOC(sizeof(data_request)));
        const char* why = "";
        if (comm_request_encode(name, n, anchor->ulv_pipe, anchor->parm, block->pipe_buf, &why) !=
            0) {
            comm_set_error(anchor, 4, "Request record error (%s). Cursor=%s", why, name);
            anchor->prev_curs[0] = '\0';  // rebuild next time
            return 1;
        }
    }
    return 0;
}

}  // namespace

bool comm_requester_blocks(comm_anchor* anchor, const char* names) {
    if (!names) names = "";
    if (strcmp(names, anchor->prev_curs) != 0 || !anchor->curs) {
        if (build_blocks(anchor, names) != 0) return false;
    }
    return anchor->curs != nullptr;
}

curs_list* comm_file_request(comm_anchor* anchor, data_request* req) {
    curs_list* block = scan_cursor_blocks(anchor, req);
    if (block) {
        U_FREE(req);  // the block holds the same bytes
    } else {
        block = get_cursor_block(anchor);
        memcpy(block->cursor, req->data, static_cast<size_t>(req->offset));
        block->cursor[req->offset] = '\0';
        block->pipe_buf = req;
    }
    // The parameters point into the record the block keeps.
    comm_request_point_parms(block->pipe_buf, anchor->parm);
    add_reply_pipe(block, anchor->ulv_pipe);
    return anchor->curs;
}

void comm_drop_requests(comm_anchor* anchor) {
    free_cursor_blocks(anchor);
    for (char*& p : anchor->parm) p = nullptr;
}

bool comm_put_allowed(comm_anchor* anchor) {
    if (anchor->type == 'P') {
        comm_set_error(anchor, 4, "Invalid request type for probe.");
        return false;
    }
    if (anchor->type != 'C') {
        comm_set_error(anchor, 4, "Invalid IPC anchor for put request.");
        return false;
    }
    return true;
}

comm_anchor* comm_new_anchor(char type) {
    auto* anchor = static_cast<comm_anchor*>(U_MALLOC(sizeof(comm_anchor)));
    memset(anchor, 0, sizeof *anchor);
    anchor->type = type;
    anchor->ulv_pipe_fd = -1;
    anchor->coll_pipe_fd = -1;
    return anchor;
}

void comm_free_anchor(comm_anchor* anchor) {
    if (!anchor) return;
    free_cursor_blocks(anchor);
    U_FREE(anchor);
}
