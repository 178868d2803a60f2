#include "model/row_data.h"

#include <cstring>

#include "runtime/alloc.h"

row_data* row_data_new(long text_len) {
    long size = row_data_size(text_len < 0 ? 0 : text_len);
    auto* r = static_cast<row_data*>(U_MALLOC(size));
    std::memset(r, 0, static_cast<size_t>(size));
    return r;
}
