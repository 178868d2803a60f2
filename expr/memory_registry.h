// Memory registry: blocks and singly linked lists of blocks that live for the whole process,
// recorded so that they can all be freed at once with free_loose_memory.
//
// An entry holds one of three things:
//  - a single block (kind 1);
//  - a list of blocks, given by its first element and the byte offset, inside each element,
//    of the pointer to the next element (kind 2);
//  - a list reached through an owner cell (kind 3): a small block that always holds the
//    list's current first element. Term tables are recorded this way, because their first
//    term can be removed (a function name, a duplicate column reference) after the table is
//    recorded; the owner cell follows the head, so nothing freed is ever freed again.
// Every block is released with u_free. Single-threaded.
#pragma once

#include <cstdint>

class M_LINK {
  public:
    enum : int32_t { SINGLE = 1, LIST = 2, OWNED_LIST = 3 };

    explicit M_LINK(void* block);                     // single block (kind 1)
    M_LINK(void* block, long offset);                 // list, next pointer at offset (kind 2)
    M_LINK(void** owner, long offset, int32_t kind);  // kind 3: owner cell of a list
    ~M_LINK();                                        // frees what the entry holds; clears next
    M_LINK(const M_LINK&) = delete;
    M_LINK& operator=(const M_LINK&) = delete;

    void set_next_ptr(M_LINK* link) { next = link; }
    M_LINK* get_next_link() const { return next; }
    void* get_its_mem_chunk() const { return its_mem_chunk; }
    int32_t get_kind() const { return kind; }

    // Frees what the entry holds (block, list, or owner cell with its list) and clears the
    // block pointer. Any other kind frees nothing.
    void free_m_chunk();
    // Frees the elements of the entry's list, clearing each element's next pointer first.
    void free_m_list();
    // Forgets what the entry holds without freeing it.
    void drop_m_chunk() { its_mem_chunk = nullptr; }

  private:
    M_LINK* next = nullptr;
    void* its_mem_chunk = nullptr;
    int32_t kind = 0;
    int32_t offset = 0;
};

class M_CHAIN {
  public:
    M_CHAIN() = default;
    explicit M_CHAIN(void* block);      // a chain of one single-block entry
    M_CHAIN(void* block, long offset);  // a chain of one list entry
    ~M_CHAIN();                         // free_m_chain
    M_CHAIN(const M_CHAIN&) = delete;
    M_CHAIN& operator=(const M_CHAIN&) = delete;

    // A negative offset records a single block, 0 or more a list. 0 recorded, 1 no memory for
    // the entry, 2 the block is recorded already.
    int add_link(void* block, long offset);
    // Appends an entry: 0, or 2 when an entry for the same block exists (entry not added).
    int add_link(M_LINK* entry);
    // Deletes every entry (freeing what it holds) and clears anchor, current and last.
    void free_m_chain();
    // The owner entry whose cell holds `first` as its current first element, or null.
    M_LINK* find_owner(const void* first) const;
    // Takes an entry out of the chain without deleting it; false when it is not there.
    bool unlink(M_LINK* entry);

    void set_anchor(M_LINK* link) { anchor = link; }
    M_LINK* get_anchor() const { return anchor; }
    void set_current(M_LINK* link) { current = link; }
    void set_current() { current = current ? current->get_next_link() : nullptr; }
    M_LINK* get_current() const { return current; }
    void set_last(M_LINK* link) { last = link; }
    M_LINK* get_last() const { return last; }

  private:
    M_LINK* anchor = nullptr;
    M_LINK* current = nullptr;
    M_LINK* last = nullptr;
};

class M_MEM_HANDLER {
  public:
    // The process's registry; null after free_loose_memory.
    static M_CHAIN* get_chain() { return mem_chain; }
    static M_CHAIN* mem_chain;
};

// Records a block (negative offset) or a list whose next pointer lies at `offset`.
// 0 recorded, 1 no registry or no memory for the entry, 2 the block is recorded already.
int register_memory(void* block, long offset);

// Records a list through its owner cell: *owner is the list's first element, the next
// pointer lies at `offset`. The registry owns the cell from now on (u_malloc'd).
// Results as register_memory.
int register_memory_owner(void** owner, long offset);

// The list whose owner cell holds `old_first` now starts at `new_first`; a null new_first
// (the list is empty or released by its user) drops the entry and frees only the cell.
// 0 done, 1 no such entry (or no registry).
int update_memory_owner(const void* old_first, void* new_first);

// Frees every recorded block and list, every entry and the registry itself. No registration
// may follow.
void free_loose_memory();

// Test seam: the routine that releases recorded blocks (`what` names the pointer, as for
// u_free). A null routine restores u_free. Returns the previous routine.
using m_free_routine = void (*)(void* block, const char* what);
m_free_routine set_m_free_routine(m_free_routine routine);
