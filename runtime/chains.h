// Intrusive doubly linked chains.
//
// Two kinds share one idea: the anchor of a chain is a record of the same type as the
// link of its elements. In an anchor `next` is the first element and `prior` the last;
// in an element `next` is null for the last and `prior` null for the first.
//
// g_chain is a bare link that any record embeds. It is the record's first member, so a
// link's address and its record's address agree. The getters hand back the record (`me`)
// when it was given at linking, else the link itself.
//
// f_chain is a chain of text lines. The chain owns its elements and their line copies;
// the anchor is a zero-filled f_chain owned by the caller.
#pragma once

#include <cstdint>

struct g_chain {
    g_chain* next;   // element: next link (null for the last); anchor: first link
    g_chain* prior;  // element: previous link (null for the first); anchor: last link
    void* me;        // element: the record holding this link, or null
    int32_t count;   // anchor: number of elements
};

// --- g_chain getters (null in, null out) ---

// First element of the chain (record or link); null when empty.
void* g_getFirst(g_chain* anchor);
// Last element of the chain; null when empty.
void* g_getLast(g_chain* anchor);
// Element after the link; null at the end.
void* g_getNext(g_chain* link);
// Element before the link; null at the start.
void* g_getPrior(g_chain* link);
// The n-th link (n <= 1: the first); null for a null anchor, past the end, or when the
// link found was linked without a record (`me` null).
void* g_getNth(g_chain* anchor, int n);

// --- g_chain linking; each returns the new element, or null (nothing done) when the
// anchor or the new link is null ---

// Links `link` after `ref`; a null ref means after the last element. `ref` equal to the
// anchor links first.
void* g_linkAfter(g_chain* anchor, g_chain* ref, g_chain* link, void* me);
// Links `link` before `ref`; a null ref means before the first element.
void* g_linkBefore(g_chain* anchor, g_chain* ref, g_chain* link, void* me);
// Links first / last.
void* g_linkFirst(g_chain* anchor, g_chain* link, void* me);
void* g_linkLast(g_chain* anchor, g_chain* link, void* me);

// Unlinks `link` and clears its `next` and `prior` (its `me` stays). The direction letter
// (any case) chooses the result: "a"/"n" the old next element, "b"/"p" the old prior
// element, any other the unlinked element. A link that is not on the chain is left alone
// and gives null.
void* g_dlink(g_chain* anchor, g_chain* link, char direction);

struct f_chain {
    f_chain* next;    // next element (null for the last); anchor: first element
    f_chain* prior;   // previous element (null for the first); anchor: last element
    f_chain* anchor;  // the chain's anchor; null in the anchor and in unlinked elements
    int code;         // caller's code for the line
    int count;        // element: caller's count; anchor: number of elements
    void* nots;       // caller's pointer kept with the line
    int16_t lstartcol;
    int16_t lendcol;
    int size;    // length of `line` (0 when there is none)
    char* line;  // the element's own copy of the line, or null
};

// A new, unlinked element holding a copy of `line` (may be null); never null.
f_chain* f_chainAdd(const char* line, int code, int count, void* nots);
// f_chainAdd, then linked last on `anchor` (an anchor or any element of the chain).
// Null (nothing allocated) when `anchor` is null.
f_chain* f_chainAddLast(f_chain* anchor, const char* line, int code, int count, void* nots);

// Neighbours; null for a null element.
f_chain* f_getNext(f_chain* e);
f_chain* f_getPrior(f_chain* e);

// Each returns the new element, or null (nothing done) for a null argument.
// First / last on the chain of `x` (its anchor, or any element of it).
f_chain* f_linkFirst(f_chain* x, f_chain* e);
f_chain* f_linkLast(f_chain* x, f_chain* e);
// After / before `ref` (the anchor or an element).
f_chain* f_linkAfter(f_chain* ref, f_chain* e);
f_chain* f_linkBefore(f_chain* ref, f_chain* e);

// Unlinks `e` from its chain; its own `next` and `prior` are kept. Direction as g_dlink
// ("a"/"n" next, "b"/"p" prior, other: e). An element that is not linked is left alone
// and gives null.
f_chain* f_dlink(f_chain* e, char direction);
// f_dlink, then frees the line and the element (also an unlinked one). Returns the old
// next or prior for "a"/"n"/"b"/"p", else null.
f_chain* f_dlinkFree(f_chain* e, char direction);
// Frees every element of the chain of `x` (its anchor or any linked element) and leaves
// the anchor empty. Never pass an element that has been unlinked: it would be taken for
// an anchor.
void f_chainFreeAll(f_chain* x);
