// The evaluator: evaluation rules against a cursor's current rows.
#include "collector/distributors/evaluator.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "collector/distributors/log_distributors.h"
#include "collector/rows/cluster.h"
#include "collector/rows/column_functions.h"
#include "collector/rows/row_format.h"
#include "collector/run/cursor_answer.h"
#include "defs/distrib.h"
#include "defs/evaluation.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

bool in_classes(const distrib* d, const curs* c) {
    return c->klass >= 0 && c->klass < distrib_max_classes && d->classes[c->klass] != 0;
}

void mark(predicate_stuff* e, int16_t status, const evaluation* r) {
    e->stat_set = 1;
    e->status = status;
    e->ordinal = static_cast<int16_t>(r->ordinal);
}

bool same_name(const columns* k, const evaluation* r) {
    return k->col_name_ll == r->col_name_ll &&
           std::memcmp(k->col_name, r->col_name, static_cast<size_t>(r->col_name_ll)) == 0;
}

// A plain rule, row by row over the stored rows.
void test_rows(curs* c, predicate_stuff* list, const columns* k, evaluation* r,
               const char* marked_id) {
    for (predicate_stuff* e = list; e != nullptr && e->kind == 1; e = e->next) {
        if (e->stat_set != 0) {
            if (c->trace != 0) PRINT('t', marked_id, "Row stat set before %s\n", r->eval_name);
            continue;
        }
        if (do_compare(k, e->text + k->offset, r) != 0) {
            mark(e, 3, r);
            r->status = 1;
        } else {
            r->false_row = e;
        }
    }
}

predicate_stuff* last_entry(predicate_stuff* list) {
    predicate_stuff* e = list;
    while (e->next != nullptr) e = e->next;
    return e;
}

// A function rule on the column of that function: the value in the last entry.
void test_function(curs* c, predicate_stuff* list, const columns* k, evaluation* r) {
    predicate_stuff* last = last_entry(list);
    const char* value = last->text + k->offset;
    if (r->col_function != COLF_MIN && r->col_function != COLF_MAX) {
        if (last->stat_set != 0) {
            if (c->trace != 0) PRINT('t', "cev1720", "Col stat set before %s\n", r->eval_name);
        } else if (do_compare(k, value, r) != 0) {
            mark(last, 3, r);
            r->status = 1;
        } else {
            r->false_row = last;
        }
        return;
    }
    if (do_compare(k, value, r) == 0) {
        r->false_row = last;
        return;
    }
    // The stored row the MIN or MAX came from is the one sent.
    for (predicate_stuff* e = list; e != nullptr && e->kind == 1; e = e->next) {
        if (e->stat_set != 0) {
            if (c->trace != 0) PRINT('t', "cev1715", "Col stat set before %s\n", r->eval_name);
            continue;
        }
        if (std::memcmp(e->text + k->offset, value, static_cast<size_t>(k->len)) == 0) {
            mark(e, r->col_function == COLF_MIN ? 2 : 1, r);
            r->status = 1;
            return;
        }
    }
}

// A function rule on a column without that function: computed now over the rows.
int test_on_the_fly(curs* c, predicate_stuff* list, const columns* k, evaluation* r) {
    columns work = *k;
    work.col_function = static_cast<int16_t>(r->col_function);
    std::string area(static_cast<size_t>(k->len > 256 ? k->len : 256), ' ');
    if (col_function(c, &work, area.data()) != 0) return 1;
    if (do_compare(&work, area.data(), r) != 0) {
        for (predicate_stuff* e = list; e != nullptr; e = e->next) mark(e, 3, r);
        r->status = 1;
    }
    return 0;
}

// Sends the marked entries, each as the row a requester would get.
int send_marked(curs* c, predicate_stuff* list) {
    if (c->row_size == 0) {
        const int size = get_row_size(c);
        if (size < 0) return 1;
        c->row_size = size;
    }
    std::vector<char> row(static_cast<size_t>(c->row_size) + 1);
    for (predicate_stuff* e = list; e != nullptr; e = e->next) {
        if (e->stat_set == 0) continue;
        std::fill(row.begin(), row.end(), '\0');
        make_row(c, row.data(), e->text);
        if (send_a_row(c, row.data()) != 0) return 1;
    }
    return 0;
}

int evaluate_cursor(curs* c, const distrib* d) {
    predicate_stuff* list = nullptr;
    const int built = get_predicate_rows(c, &list);
    if (built == 2) PRINT('e', "cev1680", "Unable to get memory for predicate eval\n");
    if (built != 0) return built;
    int rc = 0;
    for (evaluation* r = c->evaluation; r != nullptr; r = r->next) {
        r->false_row = nullptr;
        r->prior_status = r->status;
        r->status = 0;
        if (c->trace != 0)
            PRINT('t', "cev1685", "for eval: funct = %d, col_ll = %d , col = %s\n", r->col_function,
                  r->col_name_ll, r->col_name);
        const columns* k = c->insert_columns;
        for (; k != nullptr; k = k->next) {
            if (c->trace != 0)
                PRINT('t', "cev1695", "for col: funct = %d, col_ll = %d , col = %s\n",
                      k->col_function, k->col_name_ll, k->col_name);
            if (k->col_function == r->col_function && same_name(k, r)) break;
        }
        if (k != nullptr) {
            if (r->col_function == COLF_NONE)
                test_rows(c, list, k, r, "cev1730");
            else
                test_function(c, list, k, r);
            continue;
        }
        if (c->trace != 0)
            PRINT('t', "cev1740", "No column/col-funct match for eval %s\n", r->eval_name);
        for (k = c->insert_columns; k != nullptr && !same_name(k, r);) k = k->next;
        if (k == nullptr) {
            PRINT('w', "cev1750", "Can't match for eval %d\n", r->ordinal);
        } else if (r->col_function == COLF_NONE) {
            test_rows(c, list, k, r, "cev1755");
        } else if (test_on_the_fly(c, list, k, r) != 0) {
            rc = 1;
        }
    }
    if (d->send_false != 0) {
        for (evaluation* r = c->evaluation; r != nullptr; r = r->next)
            if (r->status == 0 && r->prior_status == 1 && r->false_row != nullptr &&
                r->false_row->stat_set == 0)
                mark(r->false_row, 4, r);
    }
    if (send_marked(c, list) != 0) {
        for (evaluation* r = c->evaluation; r != nullptr; r = r->next) r->status = r->prior_status;
    }
    for (evaluation* r = c->evaluation; r != nullptr; r = r->next) r->false_row = nullptr;
    free_predicate_rows(list);
    return rc;
}

}  // namespace

int get_predicate_rows(curs* c, predicate_stuff** list) {
    *list = nullptr;
    cluster* cl = open_cursor(c);
    if (cl == nullptr) return 1;
    close_cur(cl);
    const bool synthetic = c->has_col_funct != 0 && c->column_data != nullptr;
    // A demand cursor without staleness gives its rows up once they were answered.
    if (!synthetic && c->last_row == nullptr) return 1;
    size_t n = 0;
    for (row_data* r = c->first_row; r != nullptr; r = r->next) ++n;
    const size_t align = alignof(predicate_stuff);
    const size_t size =
        (offsetof(predicate_stuff, text) + static_cast<size_t>(c->length) + 1 + align - 1) / align *
        align;
    auto* block = static_cast<char*>(U_MALLOC(static_cast<long>(size * (n + 1))));
    std::memset(block, 0, size * (n + 1));
    auto entry = [&](size_t i) { return reinterpret_cast<predicate_stuff*>(block + i * size); };
    size_t i = 0;
    for (row_data* r = c->first_row; r != nullptr; r = r->next, ++i) {
        predicate_stuff* e = entry(i);
        e->kind = 1;
        e->next = entry(i + 1);
        std::memcpy(e->text, r->text, static_cast<size_t>(c->length));
    }
    predicate_stuff* last = entry(n);
    last->kind = 2;
    std::memcpy(last->text, synthetic ? c->column_data->text : c->last_row->text,
                static_cast<size_t>(c->length));
    *list = entry(0);
    return 0;
}

void free_predicate_rows(predicate_stuff* list) { U_FREE(list); }

int do_compare(const columns* column, const char* value, const evaluation* rule) {
    const water* w = column->water_ptr;
    if ((column->col_function == COLF_HIGH_WATER || column->col_function == COLF_LOW_WATER) &&
        w != nullptr && w->is_set != 0)
        value = w->value.s_value;
    const int len = column->len;
    if (len > 255) PRINT('w', "cev1795", "Improper length on column string %s\n", column->col_name);
    if (rule->string_ll > 255)
        PRINT('w', "cev1800", "Improper length on constant string %s\n",
              rule->string != nullptr ? rule->string : "");
    int outcome = EVAL_EQUAL;
    if (rule->val_type == EVAL_NUMERIC && column->orig_type == 2) {
        std::string text(value, static_cast<size_t>(len > 0 ? len : 0));
        const char* p = text.c_str();
        while (*p == ' ') ++p;
        const double x = std::atof(p);
        outcome = x == rule->value ? EVAL_EQUAL : (x < rule->value ? EVAL_LESS : EVAL_GREATER);
    } else {
        // The shorter side is read as padded with blanks.
        const int ll = rule->string != nullptr ? rule->string_ll : 0;
        const int span = len > ll ? len : ll;
        for (int i = 0; i < span; ++i) {
            const auto a = static_cast<unsigned char>(i < len ? value[i] : ' ');
            const auto b = static_cast<unsigned char>(i < ll ? rule->string[i] : ' ');
            if (a != b) {
                outcome = a > b ? EVAL_GREATER : EVAL_LESS;
                break;
            }
        }
    }
    return rule->operatr[outcome] != 0 ? 1 : 0;
}

int do_evaluator(const char* now, distrib* d) {
    const int64_t t = relative_sec(now);
    int rc = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->window_end <= t) set_window_c(c, t);
        if (c->window_start > t || c->held == 'Y' || !in_classes(d, c) || c->evaluation == nullptr)
            continue;
        const int r = evaluate_cursor(c, d);
        if (rc == 0) rc = r;  // the first failure, not the latest: a later success hid it
    }
    return rc;
}
