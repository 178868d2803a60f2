#include "model/row_data.h"

#include <cstring>

#include "runtime/alloc.h"

row_data* row_data_new(long text_len) {
    long size = row_data_size(text_len < 0 ? 0 : text_len);
    auto* r = static_cast<row_data*>(U_MALLOC(size));
    std::memset(r, 0, static_cast<size_t>(size));
    return r;
}

row_data* row_data_copy(const row_data* r, long text_len) {
    row_data* d = row_data_new(text_len);
    d->len = r->len;
    d->age = r->age;
    d->sampleno = r->sampleno;
    d->rowno = r->rowno;
    if (text_len > 0) std::memcpy(d->text, r->text, static_cast<size_t>(text_len));
    return d;
}
