#include "defs/dictionary.h"

#include "runtime/alloc.h"

dictionary* dict_anchor = nullptr;

void dict_free_all() {
    for (dictionary* d = dict_anchor; d != nullptr;) {
        dictionary* next = d->next;
        U_FREE(d->initial);
        U_FREE(d);
        d = next;
    }
    dict_anchor = nullptr;
}
