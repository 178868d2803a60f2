#include "runtime/chains.h"

#include <cctype>
#include <cstdint>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

// Trace lines show addresses in 32-bit hexadecimal: the low half is enough to tell
// the records of one run apart.
unsigned addr(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p) & 0xffffffffu);
}

void* getter(g_chain* link) {
    if (!link) return nullptr;
    return link->me ? link->me : link;
}

// The element a direction letter names: "a"/"n" the next, "b"/"p" the prior, any
// other the element itself.
template <class T>
T* chosen(T* e, char direction) {
    switch (std::tolower(static_cast<unsigned char>(direction))) {
        case 'a':
        case 'n':
            return e->next;
        case 'b':
        case 'p':
            return e->prior;
        default:
            return e;
    }
}

}  // namespace

void* g_getFirst(g_chain* anchor) { return anchor ? getter(anchor->next) : nullptr; }
void* g_getLast(g_chain* anchor) { return anchor ? getter(anchor->prior) : nullptr; }
void* g_getNext(g_chain* link) { return link ? getter(link->next) : nullptr; }
void* g_getPrior(g_chain* link) { return link ? getter(link->prior) : nullptr; }

void* g_getNth(g_chain* anchor, int n) {
    if (!anchor) return nullptr;
    g_chain* link = anchor->next;
    for (int i = 1; link && i < n; ++i) link = link->next;
    if (!link || !link->me) return nullptr;
    return link;
}

void* g_linkAfter(g_chain* anchor, g_chain* ref, g_chain* link, void* me) {
    if (!anchor || !link) return nullptr;
    link->me = me;
    if (!ref) ref = anchor->prior ? anchor->prior : anchor;
    g_chain* succ = ref->next ? ref->next : anchor;
    link->next = ref->next;
    ref->next = link;
    link->prior = succ->prior;
    succ->prior = link;
    anchor->count++;
    if (u_trace_on(9))
        PRINT('t', "ugc0550", "anchor=%x, new=%x, prior=%x, next=%x.\n", addr(anchor), addr(link),
              addr(ref), addr(succ));
    return getter(link);
}

void* g_linkBefore(g_chain* anchor, g_chain* ref, g_chain* link, void* me) {
    if (!anchor || !link) return nullptr;
    link->me = me;
    if (!ref) ref = anchor->next ? anchor->next : anchor;
    g_chain* pred = ref->prior ? ref->prior : anchor;
    link->prior = ref->prior;
    ref->prior = link;
    link->next = pred->next;
    pred->next = link;
    anchor->count++;
    if (u_trace_on(9))
        PRINT('t', "ugc0560", "anchor=%x, new=%x, prior=%x, next=%x.\n", addr(anchor), addr(link),
              addr(pred), addr(ref));
    return getter(link);
}

void* g_linkFirst(g_chain* anchor, g_chain* link, void* me) {
    return g_linkBefore(anchor, nullptr, link, me);
}

void* g_linkLast(g_chain* anchor, g_chain* link, void* me) {
    return g_linkAfter(anchor, nullptr, link, me);
}

void* g_dlink(g_chain* anchor, g_chain* link, char direction) {
    if (!link || link == anchor) return nullptr;
    // A link with no neighbours is on the chain only as its single element; unlinking
    // anything else would empty the anchor.
    bool linked = link->next || link->prior || (anchor && anchor->next == link);
    if (!linked) return nullptr;
    g_chain* succ = link->next ? link->next : anchor;
    g_chain* pred = link->prior ? link->prior : anchor;
    if (pred) pred->next = link->next;
    if (succ) succ->prior = link->prior;
    if (anchor) anchor->count--;
    if (u_trace_on(9))
        PRINT('t', "ugc0570", "anchor=%x, old=%x, prior=%x, next=%x.\n", addr(anchor), addr(link),
              addr(pred), addr(succ));
    g_chain* result = chosen(link, direction);
    link->next = nullptr;
    link->prior = nullptr;
    return getter(result);
}

f_chain* f_chainAdd(const char* line, int code, int count, void* nots) {
    auto* e = static_cast<f_chain*>(U_MALLOC(sizeof(f_chain)));
    std::memset(e, 0, sizeof *e);
    e->code = code;
    e->count = count;
    e->nots = nots;
    if (line) {
        size_t n = std::strlen(line);
        e->line = static_cast<char*>(U_MALLOC(n + 1));
        std::memcpy(e->line, line, n + 1);
        e->size = static_cast<int>(n);
    }
    if (u_trace_on(5)) PRINT('t', "chainAdd ", "code=%d, line=%.40s.\n", code, line ? line : "");
    return e;
}

f_chain* f_chainAddLast(f_chain* anchor, const char* line, int code, int count, void* nots) {
    if (!anchor) return nullptr;
    return f_linkLast(anchor, f_chainAdd(line, code, count, nots));
}

f_chain* f_getNext(f_chain* e) { return e ? e->next : nullptr; }
f_chain* f_getPrior(f_chain* e) { return e ? e->prior : nullptr; }

f_chain* f_linkAfter(f_chain* ref, f_chain* e) {
    if (!ref || !e) return nullptr;
    f_chain* anchor = ref->anchor ? ref->anchor : ref;
    f_chain* succ = ref->next ? ref->next : (ref->anchor ? ref->anchor : ref);
    e->next = ref->next;
    ref->next = e;
    e->prior = succ->prior;
    succ->prior = e;
    e->anchor = anchor;
    anchor->count++;
    if (u_trace_on(8))
        PRINT('t', "ufl8033", "anchor=%x, new=%x, prior=%x, next=%x.\n", addr(anchor), addr(e),
              addr(ref), addr(succ));
    return e;
}

f_chain* f_linkBefore(f_chain* ref, f_chain* e) {
    if (!ref || !e) return nullptr;
    f_chain* anchor = ref->anchor ? ref->anchor : ref;
    f_chain* pred = ref->prior ? ref->prior : (ref->anchor ? ref->anchor : ref);
    e->prior = ref->prior;
    ref->prior = e;
    e->next = pred->next;
    pred->next = e;
    e->anchor = anchor;
    anchor->count++;
    if (u_trace_on(6))
        PRINT('t', "linkBefore ", "anchor=%x, new=%x, prior=%x, next=%x.\n", addr(anchor), addr(e),
              addr(pred), addr(ref));
    return e;
}

f_chain* f_linkFirst(f_chain* x, f_chain* e) {
    if (!x || !e) return nullptr;
    return f_linkAfter(x->anchor ? x->anchor : x, e);
}

f_chain* f_linkLast(f_chain* x, f_chain* e) {
    if (!x || !e) return nullptr;
    return f_linkBefore(x->anchor ? x->anchor : x, e);
}

f_chain* f_dlink(f_chain* e, char direction) {
    if (!e || !e->anchor) return nullptr;
    f_chain* a = e->anchor;
    f_chain* succ = e->next ? e->next : a;
    f_chain* pred = e->prior ? e->prior : a;
    e->anchor = nullptr;
    pred->next = e->next;
    succ->prior = e->prior;
    a->count--;
    if (u_trace_on(6))
        PRINT('t', "dlink ", "anchor=%x, old=%x, prior=%x, next=%x.\n", addr(a), addr(e),
              addr(pred), addr(succ));
    return chosen(e, direction);
}

f_chain* f_dlinkFree(f_chain* e, char direction) {
    if (!e) return nullptr;
    // An element that is not linked keeps stale neighbours; it only gets freed.
    bool linked = e->anchor != nullptr;
    f_dlink(e, 'x');
    f_chain* result = linked ? chosen(e, direction) : nullptr;
    if (result == e) result = nullptr;  // it is freed below
    U_FREE(e->line);
    U_FREE(e);
    return result;
}

void f_chainFreeAll(f_chain* x) {
    if (!x) return;
    f_chain* anchor = x->anchor ? x->anchor : x;
    f_chain* e = anchor->next;
    while (e) {
        f_chain* next = e->next;
        if (u_trace_on(6))
            PRINT('t', "chainFreeAll ", "anchor=%x,freeme=%x, next=%x\n", addr(x), addr(e),
                  addr(next));
        U_FREE(e->line);
        U_FREE(e);
        e = next;
    }
    anchor->next = nullptr;
    anchor->prior = nullptr;
    anchor->count = 0;
}
