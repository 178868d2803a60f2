// Clusters: snapshots of a cursor's rows in the binary row layout, and their registry.
#include "collector/rows/cluster.h"

#include <cstddef>
#include <cstring>

#include "collector/rows/column_functions.h"
#include "collector/rows/row_format.h"
#include "collector/rows/row_store.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/alloc.h"

namespace {

// The open clusters, newest first.
struct cluster_list {
    cluster_list* next;
    cluster* cl_ptr;
};
cluster_list* cl_anchor = nullptr;

cluster_list* entry_of(const cluster* cl) {
    for (cluster_list* e = cl_anchor; e != nullptr; e = e->next)
        if (e->cl_ptr == cl) return e;
    return nullptr;
}

// A zero-filled cluster with room for n rows of len bytes.
cluster* new_cluster(int32_t n, int32_t len) {
    const long bytes = static_cast<long>(offsetof(cluster, text)) +
                       static_cast<long>(n) * static_cast<long>(len) + 1;
    auto* cl = static_cast<cluster*>(U_MALLOC(bytes));
    std::memset(cl, 0, static_cast<size_t>(bytes));
    cl->count = n;
    cl->len = len;
    cl->next_row = cl->text;
    cl->end = cl->text + static_cast<ptrdiff_t>(n) * len;
    return cl;
}

// The cursor's row size, laid out on first use; -1 when the layout is refused.
int32_t row_size_of(curs* c) {
    if (c->row_size == 0) {
        const int size = get_row_size(c);
        if (size < 0) return -1;
        c->row_size = size;
    }
    return c->row_size;
}

}  // namespace

int fetch_cur(cluster* cl) {
    if (!find_cl(cl)) {
        cl->sql_code = 100;
        return 100;
    }
    if (cl->count != 0 && cl->next_row < cl->end) {
        if (cl->did_first_row == 0) {
            cl->did_first_row = 1;
        } else {
            cl->next_row += cl->len;
            if (cl->next_row >= cl->end) cl->sql_code = 100;
        }
    } else {
        cl->sql_code = 100;
        cl->did_first_row = 1;
    }
    return cl->sql_code;
}

int close_cur(cluster* cl) {
    cluster_list** link = &cl_anchor;
    while (*link != nullptr && (*link)->cl_ptr != cl) link = &(*link)->next;
    cluster_list* e = *link;
    if (e == nullptr) return 0;
    *link = e->next;
    U_FREE(e);
    U_FREE(cl);
    return 0;
}

namespace {

// The rows make_cluster holds: how many, and their size (-1 when the layout is refused).
int32_t stored_rows(curs* c, int32_t* len) {
    int32_t n = 0;
    for (row_data* r = c->first_row; r != nullptr; r = r->next)
        if (c->samples == 0 || r->sampleno == c->sampleno) ++n;
    *len = row_size_of(c);
    return n;
}

// Makes those rows one after another from `slot` (zero-filled beforehand).
void fill_rows(curs* c, char* slot, int32_t len) {
    for (row_data* r = c->first_row; r != nullptr; r = r->next) {
        if (c->samples != 0 && r->sampleno != c->sampleno) continue;
        make_row(c, slot, r->text);
        slot += len;
    }
}

}  // namespace

cluster* make_cluster(curs* c) {
    if (c->count == 0 || c->first_row == nullptr) return nullptr;
    int32_t len = 0;
    const int32_t n = stored_rows(c, &len);
    if (len < 0) return nullptr;
    cluster* cl = new_cluster(n, len);
    fill_rows(c, cl->text, len);
    return register_cl(cl);
}

bool open_is_stored_rows(const curs* c) {
    if (c->held == 'Y') return false;
    // An age-to copy holds the rows its source handed over; it never runs by itself.
    if (c->cvirtual != 0 || c->aged_to != 0) return true;
    if (c->demand != 0 && static_cast<int32_t>(now_relative_sec()) >= c->stale_time) return false;
    return c->has_col_funct == 0;
}

char* make_rows_block(curs* c, int32_t* count, int32_t* len) {
    *count = 0;
    *len = 0;
    if (c->count == 0 || c->first_row == nullptr) return nullptr;
    const int32_t n = stored_rows(c, len);
    if (*len < 0 || n <= 0 || *len == 0) return nullptr;
    const size_t bytes = static_cast<size_t>(n) * static_cast<size_t>(*len);
    auto* block = static_cast<char*>(U_MALLOC(static_cast<long>(bytes)));
    std::memset(block, 0, bytes);
    fill_rows(c, block, *len);
    *count = n;
    return block;
}

cluster* make_cluster_1(curs* c) {
    if (c->column_data == nullptr) return nullptr;
    const int32_t len = row_size_of(c);
    if (len < 0) return nullptr;
    cluster* cl = new_cluster(1, len);
    make_row(c, cl->text, c->column_data->text);
    return register_cl(cl);
}

cluster* register_cl(cluster* cl) {
    if (cl == nullptr) return nullptr;
    auto* e = static_cast<cluster_list*>(U_MALLOC(sizeof(cluster_list)));
    e->cl_ptr = cl;
    e->next = cl_anchor;
    cl_anchor = e;
    return cl;
}

bool find_cl(const cluster* cl) { return cl != nullptr && entry_of(cl) != nullptr; }
