// Least forms of the engine services built elsewhere (see the header).
#include "collector/least_forms_rows.h"

#include <cstring>

#include "model/cursor.h"
#include "model/row_data.h"

int set_bases(curs*, xSQLDA*) { return 0; }

char* locate_base(curs* src, curs*, int offset) {
    if (src == nullptr || src->last_row == nullptr) return nullptr;
    return src->last_row->text + offset;
}

int do_math(curs*, columns* col, char* row) {
    if (col == nullptr || row == nullptr || col->len <= 0) return 0;
    std::memset(row + col->offset, ' ', static_cast<size_t>(col->len));
    row[col->offset + col->len - 1] = '0';
    return 0;
}

int proded(int, char*, int) { return 0; }

cluster* make_cluster(curs*) { return nullptr; }

cluster* do_column_func(curs*, int) { return nullptr; }
