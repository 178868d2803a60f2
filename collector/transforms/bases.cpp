#include "collector/transforms/bases.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "collector/rows/percent_cursor.h"
#include "collector/rows/run_notes.h"
#include "defs/clause_loads.h"
#include "defs/xsqlda.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

char prev_col_name[50] = {};

namespace {

// The cursor whose row set_bases chose base rows for, until that row ends.
const curs* building = nullptr;

const char* const count_id = "cba3366";

// Over the shorter of the value and the column the bytes are equal, and the column holds
// nothing but blanks beyond the value.
bool value_matches(const char* field, int width, const char* value, int32_t len) {
    const int n = static_cast<int>(std::min<int32_t>(len, width));
    if (std::memcmp(field, value, static_cast<size_t>(n)) != 0) return false;
    for (int i = n; i < width; ++i)
        if (field[i] != ' ') return false;
    return true;
}

// A value as the match rule sees it: its first n bytes (the shorter of the value and the
// column) without trailing blanks. A field and a value match exactly when their keys are
// equal, so one hash look-up finds what the rule would.
std::string_view match_key(const char* text, int32_t n) {
    while (n > 0 && text[n - 1] == ' ') --n;
    return {text, static_cast<size_t>(n)};
}

// The rows of a base cursor by the key of one column: for every key the first row in chain
// order (of the current sample when the cursor keeps samples), the row the search in chain
// order finds. It is rebuilt once the cursor's rows are no longer those it was built over:
// every fetch moves sampleno, an append or a retention moves count or the first row (its
// address or, should a freed row's place be taken again, its rowno). (Indexed,
// not walked for every row built: a walk costs as many compares as the base cursor has rows.)
struct row_index {
    const curs* bc = nullptr;
    const columns* col = nullptr;
    int32_t offset = 0;  // the column's place when the index was built
    int16_t width = 0;
    const row_data* first = nullptr;
    int32_t first_rowno = 0;
    int32_t count = -1;
    int32_t sampleno = 0;
    int16_t samples = 0;
    std::unordered_map<std::string_view, row_data*> rows;

    bool current() const {
        return offset == col->offset && width == col->len && first == bc->first_row &&
               count == bc->count && sampleno == bc->sampleno && samples == bc->samples &&
               (first == nullptr || first_rowno == first->rowno);
    }
    void build() {
        rows.clear();
        offset = col->offset;
        width = col->len;
        first = bc->first_row;
        first_rowno = first != nullptr ? first->rowno : 0;
        count = bc->count;
        sampleno = bc->sampleno;
        samples = bc->samples;
        rows.reserve(static_cast<size_t>(std::max(count, 0)));
        for (row_data* r = bc->first_row; r != nullptr; r = r->next) {
            // Rows hold the whole sample number: compared whole, not by its low 16 bits (which
            // matched no row once the count passed 32767).
            if (samples != 0 && r->sampleno != sampleno) continue;
            rows.emplace(match_key(r->text + offset, width), r);  // the first row of a key stays
        }
    }
};

// One index per base cursor and column, whichever cursors base on it. Forgotten by the
// editing pass, which binds the bases anew.
std::vector<std::unique_ptr<row_index>>& indexes() {
    static std::vector<std::unique_ptr<row_index>> all;
    return all;
}

row_index& index_of(const curs* bc, const columns* col) {
    for (auto& ix : indexes())
        if (ix->bc == bc && ix->col == col) return *ix;
    auto ix = std::make_unique<row_index>();
    ix->bc = bc;
    ix->col = col;
    indexes().push_back(std::move(ix));
    return *indexes().back();
}

// The first row of bc (of its current sample when it keeps samples) whose column col
// matches the value; null when none does. traced: every comparison is traced ("cmr3331"),
// so the rows are walked one by one.
row_data* find_base_row(curs* bc, const columns* col, const char* value, int32_t len, bool traced) {
    if (!traced && bc != pcnt_cursor()) {
        row_index& ix = index_of(bc, col);
        if (!ix.current()) ix.build();
        const auto at = ix.rows.find(match_key(value, std::min<int32_t>(len, col->len)));
        return at != ix.rows.end() ? at->second : nullptr;
    }
    // The percent cursor's one row changes its text in place: it is searched, not indexed.
    for (row_data* r = bc->first_row; r != nullptr; r = r->next) {
        if (bc->samples != 0 && r->sampleno != bc->sampleno) continue;
        if (traced)
            PRINT('t', "cmr3331", "Base Compare s_ptr=%.*s t_ptr=%.*s\n", static_cast<int>(len),
                  value, static_cast<int>(col->len), r->text + col->offset);
        if (value_matches(r->text + col->offset, col->len, value, len)) return r;
    }
    return nullptr;
}

bool descriptor_value(const void* row, const base* b, const char** text, int32_t* len,
                      bool* is_null) {
    const auto* d = static_cast<const xSQLDA*>(row);
    for (int32_t i = 0; i < d->F; ++i) {
        if (d->C[i] != b->this_col_ll || d->S[i] == nullptr) continue;
        if (std::memcmp(d->S[i], b->this_col, static_cast<size_t>(b->this_col_ll)) != 0) continue;
        *text = d->V[i];
        *len = d->L[i];
        *is_null = d->I != nullptr && d->I[i] != nullptr && *d->I[i] < 0;
        return true;
    }
    return false;
}

void report_no_name(base_rows_from kind, const base* b) {
    if (kind == base_rows_from::descriptor)
        PRINT('e', "cba3330", "Failed to find SQLDA name %s. Using 'last_row'\n", b->this_col);
    else
        PRINT('e', "cmr3330", "Failed to find database column %s using 'last_row'\n", b->this_col);
}

void report_no_row(base_rows_from kind, const base* b) {
    if (kind == base_rows_from::descriptor)
        PRINT('e', "cba3365", "Have no base row in cursor %s\n", b->cur_name);
    else
        PRINT('e', "cmr3365", "Have no base row in cursor %s\n", b->cur_name);
}

// The unmatched value falls back to the base cursor's last row, with the traces of the
// search when c is traced.
void report_unmatched(base_rows_from kind, const curs* c, const base* b, const char* value,
                      int32_t len) {
    const curs* bc = b->curs;
    if (bc->dummy == 0 && bc->conditional_dummy == 0) {
        if (std::strncmp(b->this_col, prev_col_name, sizeof(prev_col_name)) != 0) {
            if (kind == base_rows_from::descriptor)
                PRINT('w', "cba3350", "Failed to find source row matching %s. Using 'last_row'\n",
                      b->this_col);
            else
                PRINT('w', "cmr3350", "Failed to find matching source row %s using 'last_row'\n",
                      b->this_col);
            std::memcpy(prev_col_name, b->this_col, sizeof(prev_col_name));
            prev_col_name[sizeof(prev_col_name) - 1] = '\0';
        }
    } else if (c->trace) {
        if (kind == base_rows_from::descriptor)
            PRINT('t', "cba3345", "Using dummy last row in %s to match %s\n", bc->cur_name,
                  b->this_col);
        else
            PRINT('t', "cmr3345", "Using dummy last row in %s to match %s\n", bc->cur_name,
                  b->this_col);
        return;
    }
    if (!c->trace) return;
    const int shown = value != nullptr ? static_cast<int>(std::max<int32_t>(len, 0)) : 0;
    if (kind == base_rows_from::descriptor)
        PRINT('t', "cba3355", "Looking for (%d) - (%.*s)\n", shown, shown, value ? value : "");
    else
        PRINT('t', "cmr3355", "Looking for \"%.*s\"\n", shown, value ? value : "");
    if (b->b_col == nullptr) return;
    const int32_t off = b->b_col->offset;
    const int width = b->b_col->len;
    if (off < 0 || off + width > row_text_extent(bc)) return;
    for (const row_data* r = bc->first_row; r != nullptr; r = r->next) {
        if (kind == base_rows_from::descriptor)
            PRINT('t', "cba3360", "    Found (%.*s)\n", width, r->text + off);
        else
            PRINT('t', "cmr3360", "  -->  Found \"%.*s\"\n", width, r->text + off);
    }
}

}  // namespace

int32_t row_text_extent(const curs* c) {
    return c == pcnt_cursor() ? pcnt_row_extent() : c->length;
}

int edit_bases_pass() {
    indexes().clear();
    bool failed = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        for (base* b = c->base; b != nullptr; b = b->next) {
            b->curs = nullptr;
            b->b_col = nullptr;
            b->base_row = nullptr;
            if (std::strncmp(b->cur_name, c->cur_name, sizeof(b->cur_name)) == 0) {
                PRINT('e', "pba3295", "Can't use yourself as base cursor(%s)\n", b->cur_name);
                failed = true;
                continue;
            }
            curs* bc = find_cursor(b->cur_name);
            if (bc == nullptr) {
                PRINT('e', "pba3300", "Base cursor (%s) not found, cursor %s\n", b->cur_name,
                      c->cur_name);
                failed = true;
                continue;
            }
            if (bc->cvirtual != 0) {
                PRINT('e', "pba3305", "Base cursor (%s) cannot be a virtual table, cursor %s\n",
                      b->cur_name, c->cur_name);
                failed = true;
                continue;
            }
            if (u_trace_on(8))
                PRINT('t', "smf1140", "Base cursor (%s) col (%s)\n", bc->cur_name, b->base_col);
            columns* col = nullptr;
            curs* holder = nullptr;
            if (search_curs_vers_insert(bc, b->base_col, &col, &holder) != 0) {
                PRINT('e', "pba3310",
                      "Referenced column(%s) not found for base %s, curs->cur_name\n", b->base_col,
                      bc->cur_name);
                failed = true;
                continue;
            }
            // Rows are read from the cursor in the chain; a column that only an inactive
            // version holds lies nowhere in those rows, so it matches nothing.
            b->curs = bc;
            b->b_col = holder == bc ? col : nullptr;
        }
    }
    if (failed) {
        PRINT('s', "pba3325", "Base references editing failed\n");
        return 1;
    }
    PRINT('i', "pba3320", "Base references editing successful\n");
    return 0;
}

int choose_base_rows(curs* c, base_rows_from kind, base_value_fn value_of, const void* row) {
    building = c;
    int rc = 0;
    for (base* b = c->base; b != nullptr; b = b->next) {
        b->base_row = nullptr;
        curs* bc = b->curs;
        if (bc == nullptr) {
            // Never bound: the editing pass has reported it.
            if (run_note_first(b, "cba3365", count_id, c)) report_no_row(kind, b);
            rc = 1;
            continue;
        }
        const char* value = nullptr;
        int32_t len = 0;
        bool is_null = false;
        if (!value_of(row, b, &value, &len, &is_null)) {
            if (run_note_first(b, "cba3330", count_id, c)) report_no_name(kind, b);
            b->base_row = bc->last_row;
        } else {
            const columns* col = b->b_col;
            const bool usable = col != nullptr && value != nullptr && !is_null && len > 0 &&
                                col->offset >= 0 && col->offset + col->len <= row_text_extent(bc);
            if (usable)
                b->base_row = find_base_row(bc, col, value, len,
                                            kind == base_rows_from::result_set && u_trace_on(7));
            if (b->base_row == nullptr) {
                const bool empty_age_to = bc->first_row == nullptr && bc == c->age_to;
                if (!empty_age_to) report_unmatched(kind, c, b, value, is_null ? 0 : len);
                b->base_row = bc->last_row;
            }
        }
    }
    for (base* b = c->base; b != nullptr; b = b->next) {
        if (b->base_row != nullptr || b->curs == nullptr || b->curs == c->age_to) continue;
        if (run_note_first(b, "cba3365", count_id, c)) report_no_row(kind, b);
        rc = 1;
    }
    return rc;
}

int set_bases(curs* c, xSQLDA* d) {
    return choose_base_rows(c, base_rows_from::descriptor, descriptor_value, d);
}

void end_bases(curs* c) {
    for (base* b = c->base; b != nullptr; b = b->next) b->base_row = nullptr;
    if (building == c) building = nullptr;
}

char* locate_base(curs* src, curs* c, int offset) {
    if (src == nullptr || offset < 0 || offset >= row_text_extent(src)) return nullptr;
    row_data* r = src->last_row;
    if (c == building) {
        for (base* b = c->base; b != nullptr; b = b->next) {
            if (b->curs != src) continue;
            if (b->base_row != nullptr) r = b->base_row;
            break;
        }
    }
    return r != nullptr ? r->text + offset : nullptr;
}
