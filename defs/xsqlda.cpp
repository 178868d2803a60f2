// One block per descriptor: the header, then the arrays, the widest elements first so that
// each starts aligned, then the indicators and the indicator-name buffers.
#include "defs/xsqlda.h"

#include <cstddef>
#include <cstring>

#include "runtime/alloc.h"

namespace {

size_t round4(int k) { return k > 0 ? (static_cast<size_t>(k) + 3) & ~size_t{3} : 0; }

xSQLDA* allocate(int n, int max_ind_name, bool indicators) {
    if (n < 0) return nullptr;
    const size_t un = static_cast<size_t>(n);
    const size_t ind_room = indicators ? 0 : round4(max_ind_name);
    size_t size = sizeof(xSQLDA);
    size += un * (sizeof(char*) * (indicators ? 2 : 3) + sizeof(int16_t*));  // V S [X], I
    size += un * sizeof(int32_t);                                            // L
    size += un * sizeof(int16_t) * 5;                                        // T M C Y Z
    if (indicators) size += un * sizeof(int16_t);
    size += un * ind_room;

    auto* block = static_cast<char*>(U_MALLOC(size));
    std::memset(block, 0, sizeof(xSQLDA));
    auto* d = reinterpret_cast<xSQLDA*>(block);
    char* p = block + sizeof(xSQLDA);
    auto take = [&p](size_t bytes) {
        char* at = p;
        p += bytes;
        return at;
    };
    d->N = n;
    d->V = reinterpret_cast<char**>(take(un * sizeof(char*)));
    d->S = reinterpret_cast<char**>(take(un * sizeof(char*)));
    d->I = reinterpret_cast<int16_t**>(take(un * sizeof(int16_t*)));
    if (!indicators) d->X = reinterpret_cast<char**>(take(un * sizeof(char*)));
    d->L = reinterpret_cast<int32_t*>(take(un * sizeof(int32_t)));
    d->T = reinterpret_cast<int16_t*>(take(un * sizeof(int16_t)));
    d->M = reinterpret_cast<int16_t*>(take(un * sizeof(int16_t)));
    d->C = reinterpret_cast<int16_t*>(take(un * sizeof(int16_t)));
    if (indicators) {
        take(un * sizeof(int16_t) * 2);  // Y and Z are not set for a script exit
        auto* ind = reinterpret_cast<int16_t*>(take(un * sizeof(int16_t)));
        for (size_t i = 0; i < un; ++i) {
            ind[i] = 1;
            d->I[i] = &ind[i];
        }
    } else {
        d->Y = reinterpret_cast<int16_t*>(take(un * sizeof(int16_t)));
        d->Z = reinterpret_cast<int16_t*>(take(un * sizeof(int16_t)));
        for (size_t i = 0; i < un; ++i) d->X[i] = take(ind_room);
    }
    return d;
}

}  // namespace

xSQLDA* zovldal(int n, int /*max_name*/, int max_ind_name) {
    return allocate(n, max_ind_name, false);
}

xSQLDA* xsqlda_with_indicators(int n) {
    if (n < 1) return nullptr;
    xSQLDA* d = allocate(n, 0, true);
    d->F = n;
    return d;
}

int zovldau(xSQLDA** p) {
    if (p != nullptr && *p != nullptr) U_FREE(*p);
    return 0;
}
