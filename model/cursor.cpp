#include "model/cursor.h"

#include <cstddef>
#include <cstring>

#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"

operate full_day = {nullptr, 0, 86400};

void free_operates(operate* o) {
    while (o != nullptr && o != &full_day) {
        operate* next = o->next;
        U_FREE(o);
        o = next;
    }
}

curs* curs_new() {
    auto* c = static_cast<curs*>(U_MALLOC(sizeof(curs)));
    std::memset(c, 0, sizeof(curs));
    std::memcpy(c->last_time, base_time, sizeof(base_time));
    c->cur_version_list = c;
    c->if_tree_place = c;
    return c;
}

columns* columns_new() {
    auto* col = static_cast<columns*>(U_MALLOC(sizeof(columns)));
    std::memset(col, 0, sizeof(columns));
    return col;
}

namespace {

// ---- freeing one owned block by its type --------------------------------------------------
// Each returns true; the catch-all answers false for a type the record does not free.

bool free_block(char*& p) {
    U_FREE(p);
    p = nullptr;
    return true;
}
bool free_block(sel*& p) {
    U_FREE(p);
    p = nullptr;
    return true;
}
bool free_block(fetch_ex*& p) {
    U_FREE(p);
    p = nullptr;
    return true;
}
bool free_block(int16_t*& p) {
    U_FREE(p);
    p = nullptr;
    return true;
}
bool free_block(operate*& p) {
    free_operates(p);
    p = nullptr;
    return true;
}
bool free_block(columns*& p) {
    for (columns* col = p; col != nullptr;) {
        columns* next = col->next;
        U_FREE(col->water_ptr);
        U_FREE(col);
        col = next;
    }
    p = nullptr;
    return true;
}
template <class T>
void free_chain(T*& p) {
    for (T* r = p; r != nullptr;) {
        T* next = r->next;
        U_FREE(r);
        r = next;
    }
    p = nullptr;
}
bool free_block(host_cols*& p) {
    free_chain(p);
    return true;
}
bool free_block(row_data*& p) {
    free_chain(p);
    return true;
}
bool free_block(load_text*& p) {
    for (load_text* l = p; l != nullptr; l = l->next) U_FREE(l->text);
    free_chain(p);
    return true;
}
template <class T>
bool free_block(T*&) {
    return false;
}

// ---- copying one definition block by its type -------------------------------------------

template <class T>
T* dup_block(const T* s, size_t size = sizeof(T)) {
    if (s == nullptr) return nullptr;
    auto* d = static_cast<T*>(U_MALLOC(size));
    std::memcpy(static_cast<void*>(d), static_cast<const void*>(s), size);
    return d;
}

bool dup_owned(char*& p) {
    if (p != nullptr) p = dup_block(p, std::strlen(p) + 1);
    return true;
}
bool dup_owned(sel*& p) {
    if (p != nullptr) p = dup_block(p, offsetof(sel, text) + static_cast<size_t>(p->len) + 1);
    return true;
}
bool dup_owned(fetch_ex*& p) {
    p = dup_block(p);
    return true;
}
// A chain copied record by record; fix clears what the copy must not share.
template <class T, class Fix>
T* dup_chain(const T* head, Fix fix) {
    T* first = nullptr;
    T** tail = &first;
    for (const T* r = head; r != nullptr; r = r->next) {
        T* d = dup_block(r);
        d->next = nullptr;
        fix(d);
        *tail = d;
        tail = &d->next;
    }
    return first;
}
bool dup_owned(host_cols*& p) {
    p = dup_chain(p, [](host_cols*) {});
    return true;
}
// A copied column starts without a water mark and unbound: the editing passes bind it.
bool dup_owned(columns*& p) {
    p = dup_chain(p, [](columns* d) {
        d->water_ptr = nullptr;
        d->decode_op = nullptr;
        d->m_anch = nullptr;
        d->cxl_ptr = nullptr;
    });
    return true;
}
// The windows up to full_day, which the copy shares.
bool dup_owned(operate*& p) {
    operate* head = nullptr;
    operate** tail = &head;
    for (const operate* o = p; o != nullptr; o = o->next) {
        if (o == &full_day) {
            *tail = &full_day;
            break;
        }
        operate* d = dup_block(o);
        d->next = nullptr;
        *tail = d;
        tail = &d->next;
    }
    p = head;
    return true;
}
template <class T>
bool dup_owned(T*&) {
    return false;
}

}  // namespace

void curs_free_owned(curs* c) {
    del_curs_clauses_hook(c);
    curs_for_each_owned([c](auto field, const curs_owned& how) {
        if (how.freer == curs_freer::record) free_block(c->*field);
    });
    c->last_row = nullptr;
}

void curs_copy_definition(curs* c) {
    curs_for_each_owned([c](auto field, const curs_owned& how) {
        if (how.life == curs_life::definition)
            dup_owned(c->*field);
        else if (how.life == curs_life::run)
            c->*field = nullptr;
    });
    c->last_row = nullptr;  // it pointed into the rows, which stay with the source
}
