// The one row builder: column resolution, value copy, transforms and the append.
#include "collector/rows/row_builder.h"

#include <strings.h>

#include <cstring>
#include <string>
#include <vector>

#include "acquire/fetch_merge.h"
#include "acquire/result_sets.h"
#include "collector/rows/row_store.h"
#include "collector/rows/trace_control.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/math.h"
#include "collector/transforms/row_transform.h"
#include "defs/xsqlda.h"
#include "expr/percent_vars.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

row_source row_source::of_descriptor(xSQLDA* d, const int32_t* types) {
    row_source s;
    if (d == nullptr) return s;
    s.kind = descriptor;
    s.sqlda = d;
    s.types = types;
    return s;
}

row_source row_source::of_columns(const _columnData* cols, int ncols) {
    row_source s;
    if (cols == nullptr) return s;
    s.kind = result_set;
    s.cols = cols;
    s.ncols = ncols;
    return s;
}

row_source row_source::of_result_set(_anchorDBdata* d, _rowData* row) {
    if (d == nullptr) return {};
    row_source s = of_columns(d->Acoldata, d->ncols);
    s.kind = result_set;  // a set without columns yet is still the source named
    s.set = d;
    s.row = row;
    return s;
}

namespace {

int16_t low16(int32_t v) { return static_cast<int16_t>(v & 0xffff); }

// What a message may name besides the cursor.
struct fault_detail {
    const columns* col = nullptr;
    const curs* source = nullptr;
    int32_t n = 0, limit = 0;
};

std::string name_of(const columns* col) {
    if (col == nullptr) return "";
    return std::string(col->col_name, strnlen(col->col_name, sizeof col->col_name));
}

const row_message& entry(const row_messages& msgs, row_fault f) {
    return msgs[static_cast<size_t>(f)];
}

bool checks(const row_messages& msgs, row_fault f) { return entry(msgs, f).id != nullptr; }

// Writes the fault's message and holds the cursor where the table says. Always false.
bool fail(curs* c, const row_messages& msgs, row_fault f, const fault_detail& x = {}) {
    const row_message& m = entry(msgs, f);
    if (m.id == nullptr) return false;
    const std::string col = name_of(x.col);
    const char* src = x.source != nullptr ? x.source->cur_name : "?";
    switch (m.args) {
        case row_args::cursor:
            PRINT(m.type, m.id, m.text, c->cur_name);
            break;
        case row_args::column:
            PRINT(m.type, m.id, m.text, col.c_str());
            break;
        case row_args::column_cursor:
            PRINT(m.type, m.id, m.text, col.c_str(), c->cur_name);
            break;
        case row_args::printable_cursor: {
            char readable[152];
            PRINT(m.type, m.id, m.text,
                  u_printable(readable, col.data(), static_cast<int>(col.size()), ""), c->cur_name);
            break;
        }
        case row_args::cursor_column:
            PRINT(m.type, m.id, m.text, c->cur_name, col.c_str());
            break;
        case row_args::cursor_column_length:
            PRINT(m.type, m.id, m.text, c->cur_name, col.c_str(),
                  x.col != nullptr ? x.col->col_name_ll : 0);
            break;
        case row_args::source_cursor:
            PRINT(m.type, m.id, m.text, src, c->cur_name);
            break;
        case row_args::position_limit_cursor:
            PRINT(m.type, m.id, m.text, x.n, x.limit, c->cur_name);
            break;
        case row_args::cursor_count:
            PRINT(m.type, m.id, m.text, c->cur_name, c->count);
            break;
        case row_args::cursor_size:
            PRINT(m.type, m.id, m.text, c->cur_name, x.limit);
            break;
        case row_args::cursor_need_size:
            PRINT(m.type, m.id, m.text, c->cur_name, x.n, x.limit);
            break;
    }
    if (m.hold) hold(c);
    return false;
}

// The source's column count, as "n!" addressing is bounded by it.
int source_columns(const row_source& s) {
    if (s.kind == row_source::descriptor) return s.sqlda->F < s.sqlda->N ? s.sqlda->F : s.sqlda->N;
    return s.kind == row_source::result_set ? s.ncols : 0;
}

// The count the messages show: the descriptor's F, the result set's column count.
int shown_limit(const row_source& s) {
    return s.kind == row_source::descriptor ? s.sqlda->F : source_columns(s);
}

}  // namespace

int result_column_by_name(const _columnData* cols, int ncols, const char* name, size_t n) {
    if (n >= sizeof(_columnData::name)) return -1;
    for (int i = 0; i < ncols; ++i)
        if (strncasecmp(cols[i].name, name, n) == 0 && cols[i].name[n] == '\0') return i;
    return -1;
}

namespace {

// The 0-based source column of the column's name, or -1: a descriptor entry of the same
// name length and bytes, a result column of the same name ignoring case.
int find_by_name(const row_source& s, const columns* col) {
    if (s.kind == row_source::descriptor) {
        const xSQLDA* d = s.sqlda;
        for (int i = 0; i < source_columns(s); ++i)
            if (d->C[i] == col->col_name_ll && d->S[i] != nullptr &&
                std::memcmp(d->S[i], col->col_name, static_cast<size_t>(col->col_name_ll)) == 0)
                return i;
        return -1;
    }
    return result_column_by_name(s.cols, s.ncols, col->col_name,
                                 strnlen(col->col_name, sizeof col->col_name));
}

int16_t source_length(const row_source& s, int i) {
    return s.kind == row_source::descriptor ? low16(s.sqlda->L[i]) : low16(s.cols[i].length);
}

// Makes source column i (0-based) the column's source.
void bind_source(columns* col, const row_source& s, int i, bool for_dummy) {
    col->data_type = 1;
    col->len = col->oracle_len = source_length(s, i);
    if (s.kind == row_source::descriptor) {
        col->from = s.sqlda->V[i];
        col->indicator = s.sqlda->I != nullptr ? s.sqlda->I[i] : nullptr;
        col->orig_type = s.types != nullptr ? low16(s.types[i]) : 1;
        return;
    }
    // A result column's value lies in each row at the column's place; the copy takes it by
    // position from the row being merged.
    const _columnData& rc = s.cols[i];
    col->fromOffset = rc.offset;
    col->indicator = const_cast<int16_t*>(&rc.indicator);
    col->occurance = static_cast<int16_t>(i + 1);
    // A dummy row shows the type the value had at its source; a merged row the type of
    // the text it holds.
    col->orig_type = low16(for_dummy && rc.source_type != 0 ? rc.source_type : rc.type);
}

enum class purpose { merge, dummy };

// Sources, lengths and offsets of every column; false after a failure (its message
// written), the columns laid out so far keeping their new places.
bool resolve_columns(curs* c, const row_source& s, const row_messages& msgs, purpose why,
                     int buffer_size) {
    const bool dummy = why == purpose::dummy;
    const bool from_set = s.kind == row_source::result_set;
    int32_t running = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        if (col->col_name[0] == '%') {
            columns* p = find_pcnt_col(col->col_name);
            if (p == nullptr) return fail(c, msgs, row_fault::unknown_percent, {col});
            col->indicator = &indicator1;
            col->from = p->from;
            col->data_type = p->data_type;
            col->orig_type = p->orig_type;
            col->len = p->len;
            if (from_set) {
                col->fromOffset = p->fromOffset;
                col->occurance = -1;
            }
        } else if (col->base_column != nullptr) {
            curs* src = col->base_cursor;
            if (checks(msgs, row_fault::base_cursor_held) && src != nullptr && src->held == 'Y')
                return fail(c, msgs, row_fault::base_cursor_held, {col, src});
            if (checks(msgs, row_fault::base_without_last_row) &&
                (src == nullptr || src->last_row == nullptr))
                return fail(c, msgs, row_fault::base_without_last_row, {col, src});
            const columns* b = col->base_column;
            col->from = b->from;
            col->data_type = b->data_type;
            col->orig_type = b->orig_type;
            col->len = b->len;
            col->oracle_len = b->oracle_len;
            col->indicator = b->indicator;
            if (from_set) col->occurance = -2;
        } else if (col->m_anch != nullptr) {
            // A merged row's math column keeps the length of its definition; a dummy row
            // shows it as a number of 16.
            if (dummy) {
                col->data_type = 1;
                col->orig_type = 2;
                col->len = 16;
            }
        } else if (col->occurance > 0) {
            const int n = col->occurance;
            if (s.kind == row_source::none && checks(msgs, row_fault::position_without_source))
                return fail(c, msgs, row_fault::position_without_source, {col, nullptr, n, 0});
            if (n > source_columns(s))
                return fail(c, msgs, row_fault::position_too_high,
                            {col, nullptr, n, shown_limit(s)});
            bind_source(col, s, n - 1, dummy);
        } else {
            if (s.kind == row_source::none)
                return fail(c, msgs, row_fault::name_without_source, {col});
            const int i = find_by_name(s, col);
            // A dummy row may show a column no source names at the length it already has; a
            // merged row needs a value for it.
            const bool keep = dummy && i < 0 && col->len > 0;
            if (!keep && (i < 0 || source_length(s, i) == 0))
                return fail(c, msgs, row_fault::name_not_found, {col});
            if (i >= 0) bind_source(col, s, i, dummy);
        }
        if (col->len < 0) return fail(c, msgs, row_fault::negative_length, {col});
        col->offset = running;
        if (!dummy && col->caret_ll == col->len) col->caret_ll = 0;
        running += col->len + 1;
        if (checks(msgs, row_fault::row_too_long) && running > buffer_size)
            return fail(c, msgs, row_fault::row_too_long, {col, nullptr, running, buffer_size});
    }
    return true;
}

// The layout rows are read with: every column's offset and length.
struct layout_entry {
    int32_t offset;
    int16_t len;
    bool operator==(const layout_entry&) const = default;
};

std::vector<layout_entry> layout_of(const curs* c) {
    std::vector<layout_entry> out;
    for (const columns* col = c->insert_columns; col != nullptr; col = col->next)
        out.push_back({col->offset, col->len});
    return out;
}

void restore_layout(curs* c, const std::vector<layout_entry>& saved) {
    size_t i = 0;
    for (columns* col = c->insert_columns; col != nullptr && i < saved.size(); col = col->next)
        col->offset = saved[i].offset, col->len = saved[i++].len;
}

// Rows built with another layout cannot be read with this one.
void drop_rows_of_other_layout(curs* c, const std::vector<layout_entry>& before,
                               const row_messages& msgs) {
    if (c->first_row == nullptr || layout_of(c) == before) return;
    fail(c, msgs, row_fault::layout_moved);
    delete_all(c);
}

void trace_source(const curs* c, const row_source& s) {
    if (s.kind == row_source::descriptor) {
        if (c->show_cursor == 0 && my_trace_all[5] <= 5) return;
        const xSQLDA* d = s.sqlda;
        PRINT('t', "cat1540", "SQLDA columns follow for %s\n", c->cur_name);
        for (int i = 0; i < source_columns(s); ++i)
            PRINT('t', "cat1545", "Col #%d= %.*s, datatype= %d datalen= %d\n", i + 1,
                  static_cast<int>(d->C[i]), d->S[i] != nullptr ? d->S[i] : "",
                  s.types != nullptr ? s.types[i] : 0, d->L[i]);
    } else if (s.kind == row_source::result_set && c->show_cursor != 0) {
        PRINT('t', "cmr1540", "Database column information follows:\n");
        for (int i = 0; i < s.ncols; ++i) {
            const _columnData& rc = s.cols[i];
            PRINT('t', "cmr1545", "Col #%2d= %32.32s, datatype= %d(%d) datalen= %d(%d)\n", i + 1,
                  rc.name, rc.conv_type, rc.source_type, rc.width, rc.length);
        }
    }
}

// A result column's value in the row being merged, by the column's position.
void take_row_value(columns* col, const row_source& s) {
    const int n = col->occurance - 1;
    if (s.row != nullptr && n < s.row->ncols) {
        const _rowColumn& rc = s.row->col[n];
        col->from = rc.value != nullptr ? rc.value : s.row->buffer + rc.offset;
        col->oracle_len = static_cast<int16_t>(rc.length);
    } else {
        col->from = nullptr;
    }
}

// Copies the value of every column that is not a math column into buffer. 1 when copied;
// 0 after a failure (its message written); -1 when a water mark could not be kept.
int copy_values(curs* c, char* buffer, int buffer_size, const row_source& s,
                const row_messages& msgs) {
    const bool from_set = s.kind == row_source::result_set;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        if (col->m_anch != nullptr) continue;
        if (from_set && col->occurance > 0) take_row_value(col, s);
        const char* src;
        int16_t ind;
        if (col->base_column != nullptr) {
            curs* b = col->base_cursor;
            if (b == nullptr || b->last_row == nullptr) {
                fail(c, msgs, row_fault::copy_without_last_row, {col, b});
                return 0;
            }
            src = c->base != nullptr ? locate_base(b, c, col->base_column->offset)
                                     : b->last_row->text + col->base_column->offset;
            ind = 1;
        } else {
            src = col->from;
            ind = col->indicator != nullptr ? *col->indicator : 0;
        }
        if (src == nullptr) {
            fail(c, msgs, row_fault::no_value, {col});
            return 0;
        }
        // The layout was made for this buffer; a column moved since must still fit it.
        const int32_t need = col->offset + col->len + 1;
        if (col->len < 0 || col->offset < 0 || need > buffer_size) {
            fail(c, msgs, row_fault::row_too_long, {col, nullptr, need, buffer_size});
            return 0;
        }
        if (row_copy_value(col, buffer, src, ind) != 0) return -1;
    }
    return 1;
}

int build_one(char* buffer, int buffer_size, curs* c, const row_source& s, const row_messages& msgs,
              const char* time_stamp) {
    if (c->base != nullptr) {
        if (s.kind == row_source::none) {
            fail(c, msgs, row_fault::base_without_source);
            return 0;
        }
        const int rc = s.kind == row_source::descriptor ? set_bases(c, s.sqlda)
                                                        : ccmr_set_bases(c, s.set, s.row);
        if (rc != 0) return 0;
    }
    if (c->trace != 0) trace_source(c, s);
    pcnt_set_work(c, time_stamp);

    if (c->cols_set == 0) {
        const std::vector<layout_entry> before = layout_of(c);
        if (!resolve_columns(c, s, msgs, purpose::merge, buffer_size)) {
            restore_layout(c, before);
            return 0;
        }
        c->row_size = 0;
        drop_rows_of_other_layout(c, before, msgs);
    }
    const int copied = copy_values(c, buffer, buffer_size, s, msgs);
    if (copied <= 0) return copied;

    int32_t end = 0;
    for (const columns* col = c->insert_columns; col != nullptr; col = col->next)
        end = col->offset + col->len;
    buffer[end] = '\0';
    c->length = end;

    row_transform(c, buffer);
    row_append(c, buffer, end);
    // The historian and the column functions look only at cursors whose rows changed.
    c->changed = 1;
    c->needs_history = 1;
    if (c->show_cursor != 0) sho_cur(c);
    c->cols_set = 1;
    return c->length;
}

}  // namespace

int build_row(char* buffer, int buffer_size, curs* c, const row_source& source,
              const row_messages& msgs, const char* time_stamp) {
    const int rc = build_one(buffer, buffer_size, c, source, msgs, time_stamp);
    // The base rows chosen for this row are not read after it.
    if (c->base != nullptr && source.kind != row_source::none) end_bases(c);
    return rc;
}

row_messages dummy_row_messages(const row_message& name_without_source,
                                const row_message& name_not_found, const row_message& position) {
    row_messages m{};
    for (row_message& e : m) e = {'e', nullptr, nullptr, row_args::cursor, false};
    auto set = [&m](row_fault f, const row_message& e) { m[static_cast<size_t>(f)] = e; };
    set(row_fault::unknown_percent,
        {'e', "pdu4520", "Un-identified percent variable %s\n", row_args::column, true});
    set(row_fault::name_without_source, name_without_source);
    set(row_fault::name_not_found, name_not_found);
    set(row_fault::position_without_source, position);
    set(row_fault::position_too_high, position);
    set(row_fault::negative_length,
        {'e', "cdu4540", "Column %s of cursor %s has a negative length, holding\n",
         row_args::column_cursor, true});
    set(row_fault::layout_moved,
        {'w', "cdu4545", "Column layout of cursor %s changed, dropping its %d rows\n",
         row_args::cursor_count, false});
    return m;
}

int lay_out_dummy(curs* c, const row_source& source, const row_messages& msgs) {
    const std::vector<layout_entry> before = layout_of(c);
    c->row_size = 0;
    if (resolve_columns(c, source, msgs, purpose::dummy, 0)) {
        const columns* last = c->insert_columns;
        while (last != nullptr && last->next != nullptr) last = last->next;
        if (last != nullptr) c->length = last->offset + last->len + 1;
    }
    drop_rows_of_other_layout(c, before, msgs);
    return 0;
}
