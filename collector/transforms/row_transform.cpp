// The transforms of a built row: math, decodes, column exits.
#include "collector/transforms/row_transform.h"

#include "collector/transforms/column_exits.h"
#include "collector/transforms/decode.h"
#include "collector/transforms/math.h"
#include "model/cursor.h"

namespace {

bool is_math(const columns* col) { return col->m_anch != nullptr; }

}  // namespace

void row_transform(curs* c, char* buffer) {
    if (c->m_anch != nullptr) {
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
            if (!is_math(col)) continue;
            col->orig_type = 2;
            do_math(c, col, buffer);
            buffer[col->offset + col->len] = '\0';
        }
    }
    if (c->decode != nullptr) {
        for (columns* col = c->insert_columns; col != nullptr; col = col->next)
            if (col->decode_op != nullptr)
                do_decode(col, buffer + col->offset, buffer,
                          col->indicator != nullptr ? *col->indicator : 0, c);
    }
    if (c->cxl_ptr != nullptr) {
        for (columns* col = c->insert_columns; col != nullptr; col = col->next)
            if (col->cxl_ptr != nullptr) column_exit_driver(c, col, buffer, col->cxl_ptr);
    }
}
