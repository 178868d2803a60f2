#include "expr/row_index.h"

#include <cstring>

#include "expr/term_value.h"
#include "model/cursor.h"
#include "model/row_data.h"

row_index::rows_seen row_index::seen(const curs* c, const columns* col) {
    rows_seen s;
    s.first = c->first_row;
    s.last = c->last_row;
    s.first_rowno = c->first_row ? c->first_row->rowno : 0;
    s.last_rowno = c->last_row ? c->last_row->rowno : 0;
    s.count = c->count;
    s.rowno = c->rowno;
    s.sampleno = c->sampleno;
    s.offset = col->offset;
    s.width = col->len;
    return s;
}

row_index::column_index& row_index::index_of(curs* c, const columns* col) {
    column_index* ix = nullptr;
    const rows_seen now = seen(c, col);
    for (auto& k : indexes_) {
        if (k->c != c || k->col != col) continue;
        if (k->rows_of == now) return *k;
        ix = k.get();
        break;
    }
    if (ix == nullptr) {
        indexes_.push_back(std::make_unique<column_index>());
        ix = indexes_.back().get();
        ix->c = c;
        ix->col = col;
    }
    ix->rows_of = now;
    ix->empty = false;
    ix->rows.clear();
    const size_t width = col->len > 0 ? static_cast<size_t>(col->len) : 0;
    for (row_data* r = c->first_row; r; r = r->next) {
        const char* field = r->text + col->offset;
        const size_t n = width > 0 ? strnlen(field, width) : 0;
        if (n == 0) {
            ix->empty = true;
            continue;
        }
        ix->rows[std::string_view(field, less_blanks_len(field, n))].push_back(r);
    }
    return *ix;
}

const std::vector<row_data*>& row_index::rows_with(curs* c, const columns* col, const char* text,
                                                   size_t len) {
    const column_index& ix = index_of(c, col);
    const auto at = ix.rows.find(std::string_view(text, len));
    return at == ix.rows.end() ? none_ : at->second;
}

bool row_index::has_empty(curs* c, const columns* col) { return index_of(c, col).empty; }

void row_index::clear() { indexes_.clear(); }
