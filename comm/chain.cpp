// The cursor chain of an anchor and the helpers both transports share.
#include <cstring>

#include "comm/zovcomm.h"
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
