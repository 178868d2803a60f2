// Loads: values condensed from a cursor's rows into another cursor's current row.
#include "collector/transforms/loads.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "collector/rows/column_functions.h"
#include "collector/rows/virtual_cursors.h"
#include "collector/transforms/decode.h"
#include "collector/transforms/decode_eval.h"
#include "defs/clause_decode.h"
#include "defs/clause_loads.h"
#include "defs/dictionary.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/msg.h"

namespace {

size_t width(const columns* col) { return static_cast<size_t>(std::max<int16_t>(col->len, 0)); }

std::string_view value_in(const row_data* r, const columns* col) {
    return std::string_view(r->text + col->offset, width(col));
}

// The text without blanks and tabs at either end.
std::string_view strip(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t");
    if (b == std::string_view::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}

// Fills the field of len bytes with blanks and the text: right-aligned keeping the text's
// last len characters, or left-aligned keeping its first.
void place(char* field, size_t len, std::string_view text, bool right) {
    std::memset(field, ' ', len);
    if (right) {
        if (text.size() > len) text = text.substr(text.size() - len);
        std::memcpy(field + (len - text.size()), text.data(), text.size());
    } else {
        std::memcpy(field, text.data(), std::min(text.size(), len));
    }
}

// A number read from a value: leading blanks skipped, the whole rest a number.
bool as_number(std::string_view v, double* out) {
    const std::string text(strip(v));
    if (text.empty()) return false;
    char* end = nullptr;
    *out = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0';
}

// The load's target field, or null (with "plo3112") when the target holds no row: a
// decode's delete can empty a virtual cursor.
char* target_field(const load_process* l, const curs* c) {
    curs* t = l->target_curs;
    if (t == nullptr || l->target_col_ptr == nullptr || t->last_row == nullptr) {
        PRINT('w', "plo3112", "Load target %s has no current row, load skipped for cur = %s\n",
              t != nullptr ? t->cur_name : "?", c->cur_name);
        return nullptr;
    }
    t->needs_history = 1;
    t->changed = 1;
    return t->last_row->text + l->target_col_ptr->offset;
}

// A run without rows: the target's dictionary initial value, or blanks.
void set_default(const load_process* l, char* dest) {
    columns* target = l->target_col_ptr;
    const dictionary* d = dict_entry_of(target);
    if (d == nullptr || d->type != 1) return;
    std::string_view initial = d->initial != nullptr ? std::string_view(d->initial) : "";
    // Numbers as at start-up, right-aligned.
    place(dest, width(target), initial.substr(0, std::min(initial.size(), width(target))),
          d->orig_type == 2);
}

row_data* best_row(curs* c, const columns* col, bool want_max) {
    row_data* best = c->first_row;
    if (best == nullptr) return nullptr;
    for (row_data* r = best->next; r != nullptr; r = r->next) {
        const int cmp = load_compare_values(col, r->text + col->offset, best->text + col->offset);
        if (want_max ? cmp > 0 : cmp < 0) best = r;
    }
    return best;
}

bool passes(const load_process* l, curs* c, row_data* r) {
    if (!l->load_where) return true;  // COUNT, SUM and AVERAGE over every row
    if (l->decode_ptr == nullptr || l->test_column == nullptr) return false;
    return eval_decode(l->test_column, r->text + l->test_column->offset, r->text, 1, c,
                       l->decode_ptr->decode_op) != nullptr;
}

void where_load(load_process* l, curs* c, char* dest) {
    columns* source = l->source_col_ptr;
    columns* target = l->target_col_ptr;
    const bool aggregate = l->load_count || l->load_sum || l->load_average;
    l->count = 0;
    l->sum = 0.0;
    row_data* first_passing = nullptr;
    for (row_data* r = c->first_row; r != nullptr; r = r->next) {
        if (!passes(l, c, r)) continue;
        if (!aggregate) {
            first_passing = r;
            break;
        }
        ++l->count;
        if (!l->load_count) {
            const std::string v(value_in(r, source));
            l->sum += std::atof(v.c_str());
        }
    }
    if (!aggregate) {
        if (first_passing != nullptr)
            set_one_var(source, target, dest, first_passing->text + source->offset, c);
        return;
    }
    char text[64];
    if (l->load_count)
        std::snprintf(text, sizeof(text), "%d", l->count);
    else if (l->load_sum)
        std::snprintf(text, sizeof(text), "%.2f", l->sum);
    else if (l->count == 0)
        std::snprintf(text, sizeof(text), "0.0");
    else
        std::snprintf(text, sizeof(text), "%.2f", l->sum / l->count);
    if (c->trace)
        PRINT('t', "plo3107", "Moving '%s' from %s (%d:%d) to %s (%d:%d)\n", text, source->col_name,
              source->len, source->data_type, target->col_name, target->len, target->data_type);
    std::string_view s = strip(text);
    place(dest, width(target), s.substr(0, std::min(s.size(), width(target))), true);
}

}  // namespace

int load_compare_values(const columns* column, const char* a, const char* b) {
    const std::string_view va(a, width(column)), vb(b, width(column));
    if (column->orig_type == 2) {
        double x = 0, y = 0;
        const bool nx = as_number(va, &x), ny = as_number(vb, &y);
        if (nx && ny) return x < y ? -1 : (x > y ? 1 : 0);
        if (nx != ny) return nx ? -1 : 1;
    }
    return va.compare(vb);
}

int set_one_var(columns* source, columns* target, char* dest, char* value, curs* c) {
    const size_t n = strnlen(value, width(source));
    const std::string_view text = strip(std::string_view(value, n));
    if (c != nullptr && c->trace)
        PRINT('t', "plo3095", "Moving '%.50s' from %s (%d:%d) to %s (%d:%d)\n",
              std::string(text).c_str(), source->col_name, static_cast<int>(text.size()),
              source->data_type, target->col_name, target->len, target->data_type);
    place(dest, width(target), text, source->data_type == 2 || source->orig_type == 2);
    return 0;
}

row_data* get_max_occurance(curs* c, columns* column) {
    if (c->first_row == nullptr) return nullptr;
    struct tally {
        row_data* first;
        long count;
    };
    std::vector<tally> entries;
    std::unordered_map<std::string_view, size_t> index;
    index.reserve(static_cast<size_t>(std::max(c->count, 16)));
    for (row_data* r = c->first_row; r != nullptr; r = r->next) {
        auto [at, added] = index.try_emplace(value_in(r, column), entries.size());
        if (added)
            entries.push_back({r, 1});
        else
            ++entries[at->second].count;
    }
    const tally* best = &entries.front();
    for (const tally& t : entries)
        if (t.count > best->count) best = &t;
    return best->first;
}

int process_loads(curs* c, int have_rows) {
    for (load_process* l = c->loadp; l != nullptr; l = l->next) {
        c->needs_history = 1;
        c->changed = 1;
        char* dest = target_field(l, c);
        if (dest == nullptr) continue;
        columns* source = l->source_col_ptr;
        columns* target = l->target_col_ptr;

        if (have_rows == 0) {
            if (c->trace)
                PRINT('t', "plo3100", "Setting defaults at loads for cur = %s\n", c->cur_name);
            set_default(l, dest);
            continue;
        }
        if (source == nullptr) continue;
        // Refreshed on every run: a new layout of the rows moves offsets and lengths.
        if (l->this_column != nullptr) {
            l->this_column->orig_type = source->orig_type;
            l->this_column->offset = source->offset;
            l->this_column->water_ptr = source->water_ptr;
            l->this_column->len = source->len;
            l->inited = 1;
        }

        if (l->this_column != nullptr && l->this_column->col_function != 0) {
            std::string buffer(width(source) + 1, ' ');
            buffer.back() = '\0';
            const int rc = col_function(c, l->this_column, buffer.data());
            if (rc != 0) {
                PRINT('e', "plo3105", "Col_function failed for load, cur = %s, load = %s\n",
                      c->cur_name, target->col_name);
                return rc;
            }
            set_one_var(source, target, dest, buffer.data(), c);
            continue;
        }

        // COUNT, SUM and AVERAGE condense the rows with or without a condition: moving
        // one row's value would give the loads' sum and count of one row.
        if (l->load_where || l->load_count || l->load_sum || l->load_average) {
            where_load(l, c, dest);
            continue;
        }
        row_data* from = nullptr;
        if (!l->load_from) {
            from = c->last_row;
        } else if ((l->load_min || l->load_max) && l->min_max_column != nullptr) {
            from = best_row(c, l->min_max_column, l->load_max != 0);
        } else if (l->load_max_occurance && l->min_max_column != nullptr) {
            from = get_max_occurance(c, l->min_max_column);
        } else {
            PRINT('e', "plo3110", "Bad load directive %s\n", c->cur_name);
            continue;
        }
        if (from != nullptr) set_one_var(source, target, dest, from->text + source->offset, c);
    }
    return 0;
}

int borin_load(columns* source, char* cursor_name, char* column_name, char* value) {
    char key[sizeof(curs::cur_name)] = {};
    std::strncpy(key, cursor_name, sizeof(key) - 1);
    if (std::strlen(cursor_name) >= sizeof(key)) return 2;
    curs* t = find_cursor(key);
    if (t == nullptr) return 2;
    if (t->cvirtual == 0) return 3;
    t->needs_history = 1;
    t->changed = 1;
    columns* col = t->insert_columns;
    while (col != nullptr && std::strncmp(col->col_name, column_name, sizeof(col->col_name)) != 0)
        col = col->next;
    if (col == nullptr) return 4;
    if (t->last_row == nullptr) {
        PRINT('w', "plo3112", "Load target %s has no current row, load skipped for cur = %s\n",
              t->cur_name, t->cur_name);
        return 5;
    }
    return set_one_var(source, col, t->last_row->text + col->offset, value, t);
}
