#include "defs/distrib.h"

#include <cstring>

#include "model/cursor.h"
#include "runtime/alloc.h"

distrib* distrib_anchor = nullptr;
distrib* collector_at = nullptr;
int32_t have_evaluator = 0;
int32_t sleep_time = 10;

distrib* distrib_new() {
    auto* d = static_cast<distrib*>(U_MALLOC(sizeof(distrib)));
    std::memset(d, 0, sizeof(distrib));
    d->classes[0] = 1;
    d->state = 1;
    return d;
}

namespace {

void free_chain(operate* o) {
    while (o != nullptr && o != &full_day) {
        operate* next = o->next;
        U_FREE(o);
        o = next;
    }
}

}  // namespace

void distrib_free(distrib* d) {
    if (d == nullptr) return;
    free_chain(d->saturday_start);
    free_chain(d->sunday_start);
    free_chain(d->mon_fri_start);
    U_FREE(d);
}

int distrib_free_all() {
    distrib* d = distrib_anchor;
    distrib_anchor = nullptr;
    collector_at = nullptr;
    while (d != nullptr) {
        distrib* next = d->next;
        distrib_free(d);
        d = next;
    }
    return 0;
}
