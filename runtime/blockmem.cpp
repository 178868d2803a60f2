#include "runtime/blockmem.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace {

FILE* memout = nullptr;  // the dump stream: null until the first dump, then stderr

unsigned addr(const void* p) {
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p) & 0xffffffffu);
}

hvm_chain* find_from_last(g_chain* anchor, void* block) {
    if (!anchor) return nullptr;
    for (auto* r = static_cast<hvm_chain*>(g_getLast(anchor)); r;
         r = static_cast<hvm_chain*>(g_getPrior(&r->link)))
        if (r->newalloc == block) return r;
    return nullptr;
}

// A record for `block`; shared by u2_memAlcLink and u2_newBlockMemory, which knows the
// block even when the caller keeps no variable for it.
hvm_chain* make_record(g_chain* anchor, void** var, void* block, int32_t size, int opt,
                       const char* what) {
    if (opt & U2_NORECORD) return nullptr;
    if (opt & U2_EXACT) opt |= U2_NOGUARD;
    auto* r = static_cast<hvm_chain*>(u2_malloc(sizeof(hvm_chain), nullptr, U2_EXACT));
    if (!r) return nullptr;
    std::memset(r, 0, sizeof *r);
    std::snprintf(r->what, sizeof r->what, "%s", what ? what : "");
    r->opt = static_cast<uint16_t>(opt);
    r->size = size;
    r->actSize = size;
    r->allocp = var;
    r->newalloc = block;
    r->anchor = anchor;
    if (anchor) u2_memLink(anchor, r);
    return r;
}

}  // namespace

void* u2_malloc(int32_t size, int32_t* actual, int opt) {
    if (size < 0) return nullptr;
    long act = size;
    if (opt & U2_EXACT)
        opt |= U2_NOGUARD;
    else
        act = u_alloc_rounded(size);
    auto* block = static_cast<unsigned char*>(std::malloc(static_cast<size_t>(act ? act : 1)));
    if (!block) return nullptr;
    if ((opt & U2_ZERO) || u_zero_mem()) std::memset(block, 0, static_cast<size_t>(size));
    if (!(opt & U2_NOGUARD)) std::memset(block + size, tracememuc, static_cast<size_t>(act - size));
    if (actual) *actual = static_cast<int32_t>(act);
    return block;
}

void u2_free(void* block, int opt) {
    if ((opt & U2_KEEP) && !(opt & U2_FORCE)) return;
    std::free(block);
}

void* u2_newBlockMemory(g_chain* anchor, void** var, int32_t size, int opt, const char* file,
                        int line, const char* what) {
    if (opt & U2_EXACT) opt |= U2_NOGUARD;
    int32_t act = 0;
    void* block = u2_malloc(size, &act, opt);
    if (!block) {
        PRINT('s', "utt5400", "Memory allocation error at:%s.%d - %s for %d bytes \n",
              file ? file : "?", line, what ? what : "?", size);
        u_exit(4);
    }
    if (var) *var = block;
    if (hvm_chain* r = make_record(anchor, var, block, size, opt, what)) r->actSize = act;
    return block;
}

char* u2_dupBlockMemory(g_chain* anchor, void** var, const char* text, int opt, const char* file,
                        int line, const char* what) {
    if (!text) text = "";
    size_t n = std::strlen(text);
    auto* copy = static_cast<char*>(
        u2_newBlockMemory(anchor, var, static_cast<int32_t>(n + 1), opt, file, line, what));
    std::memcpy(copy, text, n + 1);
    return copy;
}

void u2_freeBlockMemory(g_chain* anchor, void** var, int opt, const char* file, int line,
                        const char* what) {
    if (!var || !*var) return;
    void* block = *var;
    if (!(opt & U2_NORECORD)) {
        if (hvm_chain* r = find_from_last(anchor, block)) {
            opt |= r->opt;
            u2_dump1_tracem(r);
            g_dlink(anchor, &r->link, 'x');
            u2_free(r, 0);
        } else {
            PRINT('w', "utt3500", "Could not find hvm_chain entry. %s(%d) %s\n", file ? file : "?",
                  line, what ? what : "");
            opt |= U2_NOGUARD;
        }
    }
    if (opt & U2_FORCE) opt &= ~U2_KEEP;
    if (opt & U2_KEEP) return;
    u2_free(block, opt);
    if (!(opt & U2_KEEPVAR)) *var = nullptr;
}

hvm_chain* u2_memAlcLink(g_chain* anchor, void** var, int32_t size, int opt, const char*, int,
                         const char* what) {
    return make_record(anchor, var, var ? *var : nullptr, size, opt, what);
}

hvm_chain* u2_memDelink(g_chain* anchor, void* block) {
    if (!anchor) return nullptr;
    for (auto* r = static_cast<hvm_chain*>(g_getFirst(anchor)); r;
         r = static_cast<hvm_chain*>(g_getNext(&r->link))) {
        if (r->newalloc == block) {
            g_dlink(anchor, &r->link, 'x');
            r->allocp = nullptr;
            return r;
        }
    }
    return nullptr;
}

void u2_memLink(g_chain* anchor, hvm_chain* record) {
    if (!anchor || !record) return;
    record->anchor = anchor;
    if (record->opt & U2_FIRST)
        g_linkFirst(anchor, &record->link, record);
    else
        g_linkLast(anchor, &record->link, record);
}

void u2_free_all(g_chain* anchor) {
    if (!anchor) return;
    auto* r = static_cast<hvm_chain*>(g_getFirst(anchor));
    while (r) {
        auto* next = static_cast<hvm_chain*>(g_getNext(&r->link));
        u2_dump1_tracem(r);
        g_dlink(anchor, &r->link, 'x');
        u2_free(r->newalloc, r->opt);
        u2_free(r, 0);
        r = next;
    }
}

void u2_dump_tracem(g_chain* anchor) {
    if (!anchor) return;
    for (auto* r = static_cast<hvm_chain*>(g_getFirst(anchor)); r;
         r = static_cast<hvm_chain*>(g_getNext(&r->link)))
        u2_dump1_tracem(r);
    if (memout) {
        std::fflush(memout);
        if (memout != stderr) {
            std::fclose(memout);
            memout = nullptr;
        }
    }
}

void u2_dump1_tracem(hvm_chain* record) {
    if (!record) return;
    if (!memout) memout = stderr;
    if (u_trace_on(8))
        std::fprintf(memout, "-+ malloc %8.8x - %5d(%5d) bytes ->%s\n", addr(record->newalloc),
                     record->size, record->actSize, record->what);
    u2_mem_orcheck(record);
}

void u2_mem_orcheck(hvm_chain* record) {
    if (!record || (record->opt & U2_NOGUARD) || !record->newalloc) return;
    const auto* block = static_cast<const unsigned char*>(record->newalloc);
    int guard = record->actSize - record->size;
    bool overrun = false;
    for (int i = 0; i < guard; ++i)
        if (block[record->size + i] != tracememuc) overrun = true;
    if (!overrun) return;
    char readable[152];
    u_printable(readable, block + record->size, guard < 119 ? guard : 119, "c");
    if (memout) {
        std::fprintf(memout, "=== memory overrun- %5d bytes ->%s\n", guard, readable);
        std::fflush(memout);
    } else {
        PRINT('e', "utt5500", "Memory overrun- %5d bytes ->%s\n", guard, readable);
    }
}
