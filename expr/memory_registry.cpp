#include "expr/memory_registry.h"

#include <new>

#include "runtime/alloc.h"

namespace {

void default_free(void* block, const char* what) { u_free(block, "zovmemz", __LINE__, what); }

m_free_routine free_routine = default_free;

void release(void* block, const char* what) { free_routine(block, what); }

void** next_slot(void* element, int32_t offset) {
    return reinterpret_cast<void**>(static_cast<char*>(element) + offset);
}

}  // namespace

m_free_routine set_m_free_routine(m_free_routine routine) {
    m_free_routine previous = free_routine;
    free_routine = routine ? routine : default_free;
    return previous;
}

// ---- M_LINK ----

M_LINK::M_LINK(void* block) : its_mem_chunk(block), kind(SINGLE), offset(0) {}

M_LINK::M_LINK(void* block, long off)
    : its_mem_chunk(block), kind(LIST), offset(static_cast<int32_t>(off)) {}

M_LINK::M_LINK(void** owner, long off, int32_t k)
    : its_mem_chunk(owner), kind(k), offset(static_cast<int32_t>(off)) {}

M_LINK::~M_LINK() {
    free_m_chunk();
    next = nullptr;
}

void M_LINK::free_m_chunk() {
    if (!its_mem_chunk) return;
    switch (kind) {
        case SINGLE:
            release(its_mem_chunk, "its_mem_chunk");
            break;
        case LIST:
            free_m_list();
            break;
        case OWNED_LIST:
            free_m_list();
            release(its_mem_chunk, "its_mem_chunk");
            break;
        default:
            break;
    }
    its_mem_chunk = nullptr;
}

void M_LINK::free_m_list() {
    if (!its_mem_chunk) return;
    void* element = its_mem_chunk;
    if (kind == OWNED_LIST) {
        void** owner = static_cast<void**>(its_mem_chunk);
        element = *owner;
        *owner = nullptr;
    }
    while (element) {
        void** slot = next_slot(element, offset);
        void* following = *slot;
        *slot = nullptr;
        release(element, "m_ptr");
        element = following;
    }
}

// ---- M_CHAIN ----

M_CHAIN::M_CHAIN(void* block) { add_link(block, -1); }

M_CHAIN::M_CHAIN(void* block, long offset) { add_link(block, offset); }

M_CHAIN::~M_CHAIN() { free_m_chain(); }

int M_CHAIN::add_link(void* block, long offset) {
    M_LINK* entry =
        offset >= 0 ? new (std::nothrow) M_LINK(block, offset) : new (std::nothrow) M_LINK(block);
    if (!entry) return 1;
    int rc = add_link(entry);
    if (rc != 0) {
        entry->drop_m_chunk();  // the block belongs to the entry already recorded
        delete entry;
    }
    return rc;
}

int M_CHAIN::add_link(M_LINK* entry) {
    for (M_LINK* l = anchor; l; l = l->get_next_link())
        if (l->get_its_mem_chunk() == entry->get_its_mem_chunk()) return 2;
    entry->set_next_ptr(nullptr);
    if (!anchor) {
        anchor = current = last = entry;
    } else {
        last->set_next_ptr(entry);
        last = entry;
    }
    return 0;
}

void M_CHAIN::free_m_chain() {
    current = anchor;
    while (current) {
        M_LINK* present = current;
        set_current();
        delete present;
    }
    anchor = current = last = nullptr;
}

M_LINK* M_CHAIN::find_owner(const void* first) const {
    for (M_LINK* l = anchor; l; l = l->get_next_link()) {
        if (l->get_kind() != M_LINK::OWNED_LIST || !l->get_its_mem_chunk()) continue;
        if (*static_cast<void**>(l->get_its_mem_chunk()) == first) return l;
    }
    return nullptr;
}

bool M_CHAIN::unlink(M_LINK* entry) {
    M_LINK* before = nullptr;
    for (M_LINK* l = anchor; l; before = l, l = l->get_next_link()) {
        if (l != entry) continue;
        M_LINK* after = l->get_next_link();
        if (before)
            before->set_next_ptr(after);
        else
            anchor = after;
        if (last == l) last = before;
        if (current == l) current = after;
        l->set_next_ptr(nullptr);
        return true;
    }
    return false;
}

// ---- the registry ----

M_CHAIN* M_MEM_HANDLER::mem_chain = new (std::nothrow) M_CHAIN();

int register_memory(void* block, long offset) {
    M_CHAIN* chain = M_MEM_HANDLER::get_chain();
    if (!chain) return 1;
    return chain->add_link(block, offset);
}

int register_memory_owner(void** owner, long offset) {
    M_CHAIN* chain = M_MEM_HANDLER::get_chain();
    if (!chain) return 1;
    M_LINK* entry = new (std::nothrow) M_LINK(owner, offset, M_LINK::OWNED_LIST);
    if (!entry) return 1;
    int rc = chain->add_link(entry);
    if (rc != 0) {
        entry->drop_m_chunk();
        delete entry;
    }
    return rc;
}

int update_memory_owner(const void* old_first, void* new_first) {
    M_CHAIN* chain = M_MEM_HANDLER::get_chain();
    if (!chain || !old_first) return 1;
    M_LINK* entry = chain->find_owner(old_first);
    if (!entry) return 1;
    void** owner = static_cast<void**>(entry->get_its_mem_chunk());
    if (new_first) {
        *owner = new_first;
        return 0;
    }
    chain->unlink(entry);
    entry->drop_m_chunk();
    delete entry;
    release(owner, "its_mem_chunk");
    return 0;
}

void free_loose_memory() {
    M_CHAIN* chain = M_MEM_HANDLER::mem_chain;
    if (!chain) return;
    M_MEM_HANDLER::mem_chain = nullptr;
    delete chain;
}
