// The row store: merge_text, the row list and retention.
#include "collector/rows/row_store.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_builder.h"
#include "collector/rows/small_copy.h"
#include "defs/distrib.h"
#include "defs/xsqlda.h"
#include "expr/percent_vars.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

char fetch_time_stamp[17] = {};
char rowno_work[17] = {};
char sampleno_work[17] = {};
char nowsec_work[17] = {};
char executiontime_work[17] = {};
char currentinterval_work[17] = {};
int16_t indicator1 = 1;

namespace {

// "%*d" with width 16, without stdio: the rows of a busy cursor pass here every time.
void put_width16(char* out, int64_t v) {
    char digits[24];
    int n = 0;
    bool neg = v < 0;
    uint64_t u = neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    do {
        digits[n++] = static_cast<char>('0' + u % 10);
        u /= 10;
    } while (u != 0);
    if (neg) digits[n++] = '-';
    int pad = 16 - n;
    for (int i = 0; i < pad; ++i) out[i] = ' ';
    for (int i = 0; i < n; ++i) out[pad + i] = digits[n - 1 - i];
    out[16] = '\0';
}

// HIGH_WATER / LOW_WATER: the row shows the highest (lowest) value since the mark was set.
bool keep_water(columns* col, char* value) {
    water* w = col->water_ptr;
    if (w == nullptr || w->width != col->len) {
        U_FREE(w);
        w = static_cast<water*>(U_MALLOC(water_size(col->len)));
        std::memset(w, 0, static_cast<size_t>(water_size(col->len)));
        w->width = col->len;
        col->water_ptr = w;
    }
    size_t n = static_cast<size_t>(col->len);
    if (w->is_set == 0) {
        std::memcpy(w->value.s_value, value, n);
        w->is_set = 1;
        return true;
    }
    int order = water_compare(w->value.s_value, value, col->len, col->orig_type == 2);
    bool replace = col->col_function == COLF_HIGH_WATER ? order < 0 : order > 0;
    if (replace)
        std::memcpy(w->value.s_value, value, n);
    else
        std::memcpy(value, w->value.s_value, n);
    return true;
}

double number_of(const char* text, int len) {
    char buf[257];
    size_t n = static_cast<size_t>(len < 0 ? 0 : (len > 256 ? 256 : len));
    std::memcpy(buf, text, n);
    buf[n] = '\0';
    char* end = nullptr;
    double v = std::strtod(buf, &end);
    return end == buf ? 0.0 : v;
}

void unlink_head(curs* c) {
    row_data* r = c->first_row;
    c->first_row = r->next;
    if (c->first_row == nullptr) {
        c->last_row = nullptr;
        c->count = 0;
    } else {
        --c->count;
    }
    U_FREE(r);
    c->changed = 1;
}

}  // namespace

int water_compare(const char* a, const char* b, int len, bool numeric) {
    if (len <= 0) return 0;
    if (numeric) {
        double x = number_of(a, len), y = number_of(b, len);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    return std::memcmp(a, b, static_cast<size_t>(len));
}

void pcnt_set_work(const curs* c, const char* time_stamp) {
    if (time_stamp != nullptr) {
        size_t n = strnlen(time_stamp, 14);
        std::memcpy(fetch_time_stamp, time_stamp, n);
        for (size_t i = n; i < 14; ++i) fetch_time_stamp[i] = '0';
    } else {
        std::memset(fetch_time_stamp, '0', 14);
    }
    fetch_time_stamp[14] = '0';
    fetch_time_stamp[15] = '0';
    fetch_time_stamp[16] = '\0';
    // Most of these change once a run, not once a row: a buffer is rewritten only when its
    // number changed.
    struct work_value {
        char* buffer;
        int64_t shown;
        bool set;
    };
    static work_value values[] = {{rowno_work, 0, false},
                                  {sampleno_work, 0, false},
                                  {nowsec_work, 0, false},
                                  {executiontime_work, 0, false},
                                  {currentinterval_work, 0, false}};
    const int64_t now[] = {c->rowno, c->sampleno, c->now_sec, c->execution_time,
                           c->current_interval};
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i) {
        if (values[i].set && values[i].shown == now[i]) continue;
        put_width16(values[i].buffer, now[i]);
        values[i].shown = now[i];
        values[i].set = true;
    }
    pcnt_place_work();
}

int row_copy_value(columns* col, char* buffer, const char* src, int16_t indicator) {
    char* at = buffer + col->offset;
    size_t n = static_cast<size_t>(col->len);
    if (indicator >= 0) {
        copy_value(at, src, n);
        at[n] = '\0';
        if ((col->col_function == COLF_HIGH_WATER || col->col_function == COLF_LOW_WATER) &&
            !keep_water(col, at))
            return -1;
    } else {
        std::memset(at, ' ', n);
        at[n] = '\0';
        if (n == 0) return 0;
        if (col->orig_type == 2)
            at[n - 1] = '0';
        else
            std::memcpy(at, "NULL", n < 4 ? n : 4);
    }
    return 0;
}

row_data* row_append(curs* c, const char* text, int32_t len) {
    // Every byte is written once: the header, the text, and zeros behind it (the record
    // as a zero-filled allocation would leave it, without clearing the text first).
    if (len < 0) len = 0;
    auto* r = static_cast<row_data*>(U_MALLOC(row_data_size(len)));
    r->next = nullptr;
    r->len = 0;
    r->age = 0;
    r->sampleno = c->sampleno;
    r->rowno = c->rowno;
    std::memcpy(r->text, text, static_cast<size_t>(len));
    std::memset(r->text + len, 0, 3);
    if (c->last_row == nullptr || c->first_row == nullptr)
        c->first_row = r;
    else
        c->last_row->next = r;
    c->last_row = r;
    ++c->count;
    while (c->limit > 0 && c->count > c->limit && c->first_row != r) unlink_head(c);
    return r;
}

namespace {

// merge_text's messages.
const row_messages descriptor_messages = {{
    /* base_without_source */ {'e', "cba1535", "Cannot use BASE in non_sql cursor %s\n",
                               row_args::cursor, true},
    /* unknown_percent */
    {'e', "cat1560", "Un-identified percent variable %s\n", row_args::column, true},
    /* base_cursor_held */
    {'w', "cat1565", "Source cursor %s held, holding %s\n", row_args::source_cursor, true},
    /* base_without_last_row */
    {'e', "cat1570", "Source cursor %s has no last row, holding %s\n", row_args::source_cursor,
     true},
    /* name_without_source */
    {'e', "cat1585", "Name (%s) not resolved in non_sql cursor %s\n", row_args::column_cursor,
     true},
    /* name_not_found */
    {'e', "cat1590", "No sqlda entry found for %s.%s\n", row_args::cursor_column, false},
    /* position_without_source */
    {'e', "cat1575", "Cannot use n! addressing in NO_SQL cursor %s\n", row_args::cursor, true},
    /* position_too_high */
    {'e', "cat1580", "Occurance (%d) exceeds sqlda limit (%d), %s\n",
     row_args::position_limit_cursor, false},
    /* negative_length */
    {'e', "cat1603", "Column %s of cursor %s has a negative length, holding\n",
     row_args::column_cursor, true},
    /* row_too_long */
    {'e', "cat1602", "Row of cursor %s needs more than the %d bytes of the work area, holding\n",
     row_args::cursor_size, true},
    /* copy_without_last_row */
    {'w', "cat1595", "No last row for cur %s as used by %s\n", row_args::source_cursor, false},
    /* no_value */
    {'e', "cat1600", "Could not match %s - holding cursor %s\n", row_args::printable_cursor, true},
    /* layout_moved */
    {'w', "cat1604", "Column layout of cursor %s changed, dropping its %d rows\n",
     row_args::cursor_count, false},
}};

}  // namespace

int merge_text(char* buffer, xSQLDA* d, curs* c, const int32_t* types, const char* time_stamp) {
    return build_row(buffer, sizeof_work_buff, c, row_source::of_descriptor(d, types),
                     descriptor_messages, time_stamp);
}

int delete_by_time(curs* c) {
    int32_t step = c->interval;
    if (collector_at != nullptr && collector_at->interval > step) step = collector_at->interval;
    row_data* prev = nullptr;
    for (row_data* r = c->first_row; r != nullptr;) {
        r->age += step;
        if (r->age >= c->time_limit && prev == nullptr) {
            unlink_head(c);
            r = c->first_row;
            continue;
        }
        prev = r;
        r = r->next;
    }
    return 0;
}

int delete_by_samples(curs* c) {
    int64_t keep_after = static_cast<int64_t>(c->sampleno) - c->samples;
    while (c->first_row != nullptr && c->first_row->sampleno <= keep_after) unlink_head(c);
    return 0;
}

int delete_all(curs* c) {
    if (c->trace != 0)
        PRINT('t', "pdr3000", "Deleting (%d) rows for cursor %s\n", c->count, c->cur_name);
    for (row_data* r = c->first_row; r != nullptr;) {
        row_data* next = r->next;
        U_FREE(r);
        r = next;
    }
    c->first_row = nullptr;
    c->last_row = nullptr;
    c->count = 0;
    c->changed = 1;
    return 0;
}
