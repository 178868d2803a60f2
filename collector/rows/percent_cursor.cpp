// The percent cursor and its values.
#include "collector/rows/percent_cursor.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "collector/rows/row_store.h"
#include "expr/percent_vars.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

const sPercentVarTable pcnt_var_tb[] = {
    {"%me", machine_id.me, 1, 1, 32},
    {"%machine", machine_id.mach, 1, 1, 64},
    {"%machine_me", machine_id.machine_me, 1, 1, 64},
    {"%machine_me_ora", machine_id.mach, 1, 1, 72},
    {"%now_time", fetch_time_stamp, 1, 1, 16},
    {"%current_interval", currentinterval_work, 2, 1, 16},
    {"%now_secs", nowsec_work, 2, 1, 16},
    {"%rowno", rowno_work, 2, 1, 16},
    {"%sampleno", sampleno_work, 2, 1, 16},
    {"%execution_time", executiontime_work, 2, 1, 16},
    {"%sqlcode", nullptr, 2, 1, 0},
    {"%parm", nullptr, 2, 1, 16},
    {nullptr, nullptr, 0, 0, 0},
};

namespace {

constexpr int parm_place = 256;
constexpr int sqlcode_len = 16;

curs* percent_cursor = nullptr;
// Bytes of the percent cursor's row text: every place and its NUL (more than length, which
// sums the column lengths).
int32_t row_extent = 0;

// A value the percent cursor copies into its place: from a live source, or a cursor's
// ssqlcode.
struct place {
    char* at;
    const char* source;
    int len;
    curs* of;  // the cursor of a "%sqlcode" column
};
std::vector<place>* work_places = nullptr;
std::vector<place>* sqlcode_places = nullptr;
char* parm_places[16] = {};
columns* parm_cols[16] = {};
// The parameter a place holds was longer than the place: a repeat of it is not warned again.
bool parm_cut[16] = {};
// The length of a parameter column that holds no parameter (the table's).
int16_t parm_unbound = 0;

columns* new_column(const char* name, const sPercentVarTable* row, int16_t len) {
    columns* col = columns_new();
    size_t n = strnlen(name, sizeof col->col_name - 1);
    std::memcpy(col->col_name, name, n);
    col->col_name_ll = static_cast<int16_t>(n);
    col->orig_type = row->orig_type;
    col->data_type = row->data_type;
    col->len = len;
    col->indicator = &indicator1;
    return col;
}

bool is_family(const char* name, const char* family) {
    return std::strncmp(name, family, std::strlen(family)) == 0;
}

void free_columns(columns* col) {
    while (col != nullptr) {
        columns* next = col->next;
        U_FREE(col);
        col = next;
    }
}

}  // namespace

curs* pcnt_cursor() { return percent_cursor; }

void pcnt_forget() {
    percent_cursor = nullptr;
    delete work_places;
    delete sqlcode_places;
    work_places = nullptr;
    sqlcode_places = nullptr;
    for (char*& p : parm_places) p = nullptr;
    for (columns*& col : parm_cols) col = nullptr;
    for (bool& cut : parm_cut) cut = false;
}

columns* sqlcode_cols(const sPercentVarTable* row, columns** tail_out) {
    columns* head = nullptr;
    columns** tail = &head;
    *tail_out = nullptr;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (std::strncmp(c->cur_name, "%CURSOR", sizeof c->cur_name) == 0) continue;
        char name[64];
        std::snprintf(name, sizeof name, "%s_%.8s", row->name, c->cur_name);
        columns* col = new_column(name, row, sqlcode_len);
        col->from = c->ssqlcode;
        *tail = col;
        *tail_out = col;
        tail = &col->next;
    }
    return head;
}

columns* parmx_cols(const sPercentVarTable* row, columns** tail_out) {
    columns* head = nullptr;
    columns** tail = &head;
    for (int i = 0; i < 16; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "%s%x", row->name, i);
        columns* col = new_column(name, row, row->len);
        *tail = col;
        *tail_out = col;
        tail = &col->next;
    }
    return head;
}

columns* build_p_columns() {
    columns* head = nullptr;
    columns* last = nullptr;
    auto append = [&](columns* first, columns* tail) {
        if (first == nullptr) return;
        if (last == nullptr)
            head = first;
        else
            last->next = first;
        last = tail;
    };
    for (const sPercentVarTable* row = pcnt_var_tb; row->name != nullptr; ++row) {
        columns* tail = nullptr;
        if (std::strcmp(row->name, "%sqlcode") == 0) {
            columns* first = sqlcode_cols(row, &tail);
            // A collector of no cursor has no "%sqlcode" column: not a failure.
            append(first, tail);
        } else if (std::strcmp(row->name, "%parm") == 0) {
            columns* first = parmx_cols(row, &tail);
            if (first == nullptr) {
                PRINT('e', "PCV4620", "Can not build columns for percent-cursor\n");
                free_columns(head);
                return nullptr;
            }
            append(first, tail);
        } else {
            columns* col = new_column(row->name, row, row->len);
            col->from = row->from;
            append(col, col);
        }
    }
    return head;
}

int row_form(columns* cols, char* text) {
    int sum = 0;
    for (columns* col = cols; col != nullptr; col = col->next) {
        col->offset = static_cast<int32_t>(col->from - text);
        sum += col->len;
    }
    return sum;
}

int build_percent_cursor() {
    curs* c = curs_new();
    std::snprintf(c->cur_name, sizeof c->cur_name, "%s", "%CURSOR");
    c->demand = 1;
    c->no_sql = 1;
    hold(c);
    c->cols_set = 1;
    c->insert_columns = build_p_columns();
    if (c->insert_columns == nullptr) {
        PRINT('e', "PCV4600", "Can not build columns for percent-cursor\n");
        U_FREE(c);
        return 1;
    }
    // Each column's place in the row, its value copied in.
    int32_t extent = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        ++c->num_cols;
        extent += (is_family(col->col_name, "%parm") ? parm_place : col->len) + 1;
    }
    row_data* r = row_data_new(extent);
    pcnt_forget();
    work_places = new std::vector<place>;
    sqlcode_places = new std::vector<place>;
    int32_t at = 0;
    int parm = 0;
    curs* sq = cur_anchor;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        char* p = r->text + at;
        if (is_family(col->col_name, "%parm")) {
            std::memset(p, ' ', parm_place);
            parm_cols[parm] = col;
            parm_unbound = col->len;
            parm_places[parm++] = p;
            at += parm_place + 1;
        } else {
            if (is_family(col->col_name, "%sqlcode_")) {
                while (sq != nullptr && sq->ssqlcode != col->from) sq = sq->next;
                sqlcode_places->push_back({p, col->from, col->len, sq});
            } else if (col->from >= reinterpret_cast<char*>(&machine_id) &&
                       col->from < reinterpret_cast<char*>(&machine_id + 1)) {
                std::memcpy(p, col->from, static_cast<size_t>(col->len));
            } else {
                work_places->push_back({p, col->from, col->len, nullptr});
            }
            at += col->len + 1;
        }
        col->from = p;
    }
    r->len = row_form(c->insert_columns, r->text);
    c->first_row = c->last_row = c->column_data = r;
    c->count = 1;
    c->length = r->len;
    row_extent = extent;
    curs** tail = &cur_anchor;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = c;
    percent_cursor = c;
    pcnt_db_type = database_info.type;
    pcnt_place_work();
    pcnt_sync();
    return 0;
}

void pcnt_place_work() {
    if (work_places == nullptr) return;
    for (const place& p : *work_places) std::memcpy(p.at, p.source, static_cast<size_t>(p.len));
}

void pcnt_sync() {
    if (sqlcode_places == nullptr) return;
    for (const place& p : *sqlcode_places)
        if (p.of != nullptr) std::memcpy(p.at, p.of->ssqlcode, sqlcode_len);
}

int32_t pcnt_row_extent() { return percent_cursor != nullptr ? row_extent : 0; }

void pcnt_set_parms(const char* const parm[16]) {
    for (int i = 0; i < 16; ++i) {
        char* p = parm_places[i];
        if (p == nullptr) continue;
        const char* v = parm != nullptr ? parm[i] : nullptr;
        const size_t n = v != nullptr ? strnlen(v, parm_place) : 0;
        // A longer parameter is cut at its place's 256 bytes, as the request server counts
        // it, but with a warning: nothing is cut silently.
        const bool cut = v != nullptr && n == parm_place && v[parm_place] != '\0';
        if (cut && !(parm_cut[i] && std::memcmp(p, v, parm_place) == 0))
            PRINT('w', "PCV4630",
                  "Request parameter %d is longer than %d characters: %%parm%x keeps the first "
                  "%d\n",
                  i, parm_place, i, parm_place);
        parm_cut[i] = cut;
        std::memset(p, ' ', parm_place);
        if (v != nullptr) std::memcpy(p, v, n);
        // Readers take the column's len: the whole parameter, not the table's 16. A slot
        // the request leaves empty reads as before any request, 16 blanks.
        if (parm_cols[i] != nullptr)
            parm_cols[i]->len = v != nullptr ? static_cast<int16_t>(n) : parm_unbound;
    }
}
