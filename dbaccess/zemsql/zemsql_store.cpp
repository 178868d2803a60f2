#include <cstdlib>
#include <cstring>

#include "dbaccess/zemsql/zemsql.h"
#include "runtime/msg.h"

_set_desc* results_set_anchor = nullptr;

namespace {

void free_row(_results_set_row* row, int num_columns) {
    if (!row) return;
    if (row->columns)
        for (int c = 0; c < num_columns; ++c) std::free(row->columns[c].value);
    std::free(row->columns);
    std::free(row);
}

}  // namespace

int add_row(_set_desc* set, int row_number, const fetched_value* values) {
    auto* row = static_cast<_results_set_row*>(std::calloc(1, sizeof(_results_set_row)));
    if (!row) {
        PRINT('e', "esq0360", "malloc() failed\n");
        return 1;
    }
    row->row_number = static_cast<int16_t>(row_number);
    row->columns = static_cast<_zem_stored_value*>(
        std::calloc(static_cast<size_t>(set->num_columns), sizeof(_zem_stored_value)));
    if (!row->columns) {
        PRINT('e', "esq0370", "malloc() failed\n");
        std::free(row);
        return 1;
    }
    for (int c = 0; c < set->num_columns; ++c) {
        _zem_stored_value& v = row->columns[c];
        v.column = static_cast<int16_t>(c + 1);
        v.valuelen = values[c].length + 1;
        v.value = static_cast<char*>(std::malloc(static_cast<size_t>(v.valuelen)));
        if (!v.value) {
            PRINT('e', "esq0380", "malloc() failed\n");
            free_row(row, c);
            return 1;
        }
        if (values[c].length > 0)
            std::memcpy(v.value, values[c].text, static_cast<size_t>(values[c].length));
        v.value[values[c].length] = '\0';
    }
    if (set->last_row)
        set->last_row->next = row;
    else
        set->first_row = row;
    set->last_row = row;
    return 0;
}

int store_row(int set_number, int row_number, int num_columns, const fetched_value* values) {
    _set_desc* set = results_set_anchor;
    _set_desc* last = nullptr;
    for (; set && set->set_number != set_number; set = set->next) last = set;
    if (!set) {
        set = static_cast<_set_desc*>(std::calloc(1, sizeof(_set_desc)));
        if (!set) {
            PRINT('e', "esq0350", "malloc() failed\n");
            free_results();
            return 1;
        }
        set->set_number = static_cast<int16_t>(set_number);
        set->num_columns = static_cast<int16_t>(num_columns);
        if (last)
            last->next = set;
        else
            results_set_anchor = set;
    }
    if (add_row(set, row_number, values) != 0) {
        free_results();
        return 1;
    }
    return 0;
}

void free_results() {
    while (results_set_anchor) {
        _set_desc* set = results_set_anchor;
        results_set_anchor = set->next;
        while (set->first_row) {
            _results_set_row* row = set->first_row;
            set->first_row = row->next;
            free_row(row, set->num_columns);
        }
        std::free(set);
    }
}

const char* stored_value(const _set_desc* set, int row, int column) {
    if (!set || column < 1 || column > set->num_columns) return "";
    const _results_set_row* r = set->first_row;
    for (int i = 0; r && i < row; ++i) r = r->next;
    return r && r->columns[column - 1].value ? r->columns[column - 1].value : "";
}
