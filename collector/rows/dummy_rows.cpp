// Dummy rows.
#include "collector/rows/dummy_rows.h"

#include <cstring>

#include "collector/rows/row_builder.h"
#include "collector/rows/row_store.h"
#include "collector/rows/trace_control.h"
#include "defs/xsqlda.h"
#include "expr/percent_vars.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

// setup_dummy's messages; a dummy layout reads no other cursor's rows and fills no buffer.
const row_messages dummy_messages =
    dummy_row_messages({'e', "cdu4530", "Name (%s) not resolved in non_sql cursor %s\n",
                        row_args::column_cursor, true},
                       {'e', "cdu4535", "No sqlda entry found for %s.%s (%d)\n",
                        row_args::cursor_column_length, false},
                       {'e', "cdu4525", "Occurance (%d) exceeds sqlda limit (%d)\n",
                        row_args::position_limit_cursor, false});

}  // namespace

int setup_dummy(curs* c, xSQLDA* d, const int32_t* types) {
    return lay_out_dummy(c, row_source::of_descriptor(d, types), dummy_messages);
}

int build_dummy_last_row(curs* c) {
    if (c->length <= 0) return 0;
    size_t n = static_cast<size_t>(c->length);
    if (c->dummy_text == nullptr || std::strlen(c->dummy_text) != n) {
        U_FREE(c->dummy_text);
        c->dummy_text = static_cast<char*>(U_MALLOC(n + 1));
        std::memset(c->dummy_text, ' ', n);
        c->dummy_text[n] = '\0';
        for (const columns* col = c->insert_columns; col != nullptr; col = col->next) {
            if (col->len <= 0 || col->offset < 0 || col->offset + col->len > c->length) continue;
            char* at = c->dummy_text + col->offset;
            if (col->orig_type == 2)
                at[col->len - 1] = '0';
            else
                std::memcpy(at, "N/A", col->len < 3 ? static_cast<size_t>(col->len) : 3);
        }
    }
    ++c->rowno;
    row_data* r = row_append(c, c->dummy_text, c->length);
    r->len = c->length;
    if (c->trace != 0) {
        PRINT('t', "cdu4515", "Added dummy last row\n");
        proded(c->count, r->text, c->length);
    }
    return 0;
}
