// Cursor runs.
#include "collector/run/cursor_run.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include "acquire/server_faults.h"
#include "acquire/sql_cursor.h"
#include "collector/rows/cluster.h"
#include "collector/rows/column_functions.h"
#include "collector/rows/dummy_rows.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_store.h"
#include "collector/rows/trace_control.h"
#include "collector/run/cursor_answer.h"
#include "collector/transforms/column_exits.h"
#include "collector/transforms/decode.h"
#include "collector/transforms/decode_actions.h"
#include "collector/transforms/decode_eval.h"
#include "collector/transforms/in_lists.h"
#include "collector/transforms/loads.h"
#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

void mark_collector(const char* time, const char* status) {
    if (collector_at == nullptr) return;
    std::snprintf(collector_at->time, sizeof collector_at->time, "%.14s", time);
    std::snprintf(collector_at->status, sizeof collector_at->status, "%.4s", status);
}

// Runs the post-cursors queued on q. is_pre says whether q ran as a pre-cursor (for the
// message).
int run_post_cursors(curs* q, const char* time, bool is_pre) {
    curslist* e = q->curslist;
    q->curslist = nullptr;
    while (e != nullptr) {
        curslist* next = e->next;
        if (e->cur_to_run == nullptr) {
            U_FREE(e);
            e = next;
            continue;
        }
        if (e->cur_to_run == q) {
            // Its rows would be appended after the row that queued it.
            PRINT('w', "pfe3205", "Post cursor %s queued on itself, not run\n", q->cur_name);
            U_FREE(e);
            e = next;
            continue;
        }
        row_data* saved = q->last_row;
        for (row_data* r = q->first_row; r != nullptr; r = r->next)
            if (r->rowno == e->rowno) q->last_row = r;
        int rc = run_cursor(e->cur_to_run, time);
        q->last_row = saved;
        U_FREE(e);
        if (rc != 0) {
            if (next != nullptr) {
                if (is_pre)
                    PRINT('w', "cfe3195", "Post cursor failed, breaking the chain\n");
                else
                    PRINT('w', "pfe3200", "Post cursor failed, breaking the chain\n");
            }
            free_curslist(next);
            return rc;
        }
        e = next;
    }
    return 0;
}

int run_iteration(curs* c, const char* time) {
    curs* s = c->iterate->curs;
    int32_t t0 = static_cast<int32_t>(now_relative_sec());
    c->last_iteration_start = c->this_iteration_start;
    c->this_iteration_start = t0;
    if (c->last_iteration_start != 0)
        c->current_interval = c->this_iteration_start - c->last_iteration_start;

    row_data* kept_last = s != nullptr ? s->last_row : nullptr;
    int32_t kept_sample = c->sampleno;
    int16_t kept_empty = c->empty;
    iterate* kept_iterate = c->iterate;
    if (s != nullptr && s->trace != 0)
        PRINT('t', "cit3140", "Iterating from Cursor %s which has %d rows\n", s->cur_name,
              s->count);
    c->rowno = 0;
    int rc = 0;
    int out = 0;  // rows of every step: the loads see the whole run
    bool stepped = false;
    for (row_data* r = s != nullptr ? s->first_row : nullptr; r != nullptr; r = r->next) {
        it_where* w = c->iterate_where;
        if (w != nullptr) {
            columns* col = w->col_ptr;
            decode_op* first = w->decode != nullptr ? w->decode->decode_op : nullptr;
            char* value = col != nullptr ? r->text + col->offset : r->text;
            if (eval_decode(col, value, r->text, 1, c, first) == nullptr) continue;
        }
        s->last_row = r;
        c->sampleno = kept_sample;
        // Only the first step may drop the rows of earlier runs.
        if (stepped) c->empty = 0;
        stepped = true;
        if (s->trace != 0) PRINT('t', "cit3145", "Iteration on row %d\n", r->rowno);
        rc = prep_l_fetch(c, time, &out);
        if (rc != 0) {
            PRINT('e', "cit3150", "Iteration broken for cursor %s, cursor %s rc= %d\n", s->cur_name,
                  c->cur_name, rc);
            break;
        }
    }
    if (s != nullptr) s->last_row = kept_last;
    c->iterate = kept_iterate;
    c->empty = kept_empty;
    c->sampleno = kept_sample + 1;

    int n = 0;
    for (row_data* r = c->first_row; r != nullptr; r = r->next) {
        r->sampleno = c->sampleno;
        r->rowno = ++n;
    }
    if (c->trace != 0)
        PRINT('t', "cit3155", "Iteration produced %d rows in sample %d for %s\n", n, c->sampleno,
              c->cur_name);
    if (c->loadp != nullptr) process_loads(c, out);
    if (c->in_list != nullptr) build_in_list(c);
    if (c->dummy != 0) build_dummy_last_row(c);
    if (c->conditional_dummy != 0 && c->count == 0) build_dummy_last_row(c);
    c->this_iteration_end = static_cast<int32_t>(now_relative_sec());
    c->execution_time = c->this_iteration_end - c->this_iteration_start;
    return rc;
}

// The stored rows of a cursor as they were before a run, copied, with the flags that tell
// the historian and the column functions about new rows and the sample and row numbers
// the run moves on. A run on the server that fails puts them back: the cursor keeps its
// last good sample, never the rows of a fetch that broke off (nor loses its rows to the
// retention of a run that did not happen).
class kept_rows {
  public:
    explicit kept_rows(const curs* c)
        : length_(c->length),
          count_(c->count),
          sampleno_(c->sampleno),
          rowno_(c->rowno),
          changed_(c->changed),
          needs_history_(c->needs_history) {
        const long text_len = c->length > 0 ? c->length : 0;
        row_data** tail = &head_;
        for (const row_data* r = c->first_row; r != nullptr; r = r->next) {
            row_data* d = row_data_copy(r, text_len);
            *tail = d;
            last_ = d;
            tail = &d->next;
        }
    }
    ~kept_rows() { free_chain(head_); }
    kept_rows(const kept_rows&) = delete;
    kept_rows& operator=(const kept_rows&) = delete;

    // A run whose rows took a new layout (a first run among them) has dropped the old
    // ones already: they are not brought back into rows of another length, and the rows
    // the broken fetch stored go too.
    void restore(curs* c) {
        free_chain(c->first_row);
        const bool same_layout = c->length == length_;
        c->first_row = same_layout ? head_ : nullptr;
        c->last_row = same_layout ? last_ : nullptr;
        c->count = same_layout ? count_ : 0;
        if (same_layout) head_ = nullptr;
        // The kept rows carry the sample number the run had moved past.
        c->sampleno = sampleno_;
        c->rowno = rowno_;
        c->changed = changed_;
        c->needs_history = needs_history_;
        if (c->trace != 0)
            PRINT('t', "cit3160", "Run of cursor %s failed: its %d rows before the run kept\n",
                  c->cur_name, c->count);
    }

  private:
    static void free_chain(row_data* r) {
        while (r != nullptr) {
            row_data* next = r->next;
            U_FREE(r);
            r = next;
        }
    }
    row_data* head_ = nullptr;
    row_data* last_ = nullptr;
    int32_t length_;
    int32_t count_;
    int32_t sampleno_;
    int32_t rowno_;
    int16_t changed_;
    int16_t needs_history_;
};

void mark_no_connection(curs* c, int rc) {
    c->sqlcode = rc;
    char text[24];
    std::snprintf(text, sizeof text, "%*d", 16, rc);
    std::memcpy(c->ssqlcode, text, sizeof c->ssqlcode);
}

// Opens the collector's connection when it is not open: 0, or 1 with the collector marked
// "CNCT" and the cursor's return code set.
int connect_for(curs* c) {
    if (database_info.connected != 0) return 0;
    int rc = connect_to_DB(collector_at);
    if (rc != 0) {
        char now[15];
        get_time(now);
        mark_collector(now, "CNCT");
        if (database_info.status != reDoInit) database_info.status = down;
        mark_no_connection(c, rc);
        return 1;
    }
    database_info.connected = 1;
    database_info.status = up;
    return 0;
}

int run_cursor_body(curs* c, const char* time) {
    const bool on_server = c->fetch_exit == nullptr && c->no_sql == 0;
    // After a failed login or a time-out in this pass the server is not asked again
    // until the next pass: one time-out per pass, not one per cursor.
    if (on_server && !server_may_run(c)) {
        mark_no_connection(c, 1);
        return 1;
    }
    // The rows of an iterating run that breaks off stay (each step is a sample of its own).
    std::optional<kept_rows> kept;
    if (on_server && c->iterate == nullptr && (c->length > 0 || c->first_row == nullptr))
        kept.emplace(c);

    if (c->time_limit != 0) delete_by_time(c);
    if (c->samples != 0) delete_by_samples(c);
    if (c->empty != 0 && c->pre_age == 0 && c->post_age == 0) delete_all(c);

    int rc = on_server ? connect_for(c) : 0;
    if (rc == 0) {
        int out = 0;
        rc = c->iterate == nullptr ? prep_l_fetch(c, time, &out) : run_iteration(c, time);
    }
    if (rc != 0 && kept) kept->restore(c);
    return rc;
}

}  // namespace

int run_cursor(curs* c, const char* time) {
    if (c->held == 'Y') {
        if (c->trace != 0) PRINT('t', "cit3143", "Not running held cursor %s.\n", c->cur_name);
        return 0;
    }
    pcnt_sync();
    int rc = run_cursor_body(c, time);
    pcnt_sync();
    return rc;
}

int pre_prep_l_fetch(curs* c, const char* time) {
    for (pre_cursor* p = c->pre_cursor; p != nullptr; p = p->next) {
        if (p->curs == nullptr) continue;
        int rc = run_cursor(p->curs, time);
        if (rc != 0) return rc;
        rc = run_post_cursors(p->curs, time, true);
        if (rc != 0) return rc;
    }
    int rc = run_cursor(c, time);
    if (rc != 0) return rc;
    return run_post_cursors(c, time, false);
}

int get_cursor_data(int now, curs* c) {
    if (c->cvirtual != 0) {
        c->changed = 1;
        c->needs_history = 1;
        return 0;
    }
    char stamp[15];
    secs_to_date(stamp, now);
    int rc = pre_prep_l_fetch(c, stamp);
    // Rows that the run's hold and release commands asked to delete go now, when no row
    // of theirs is being read any more.
    decode_run_done();
    char end[15];
    get_time(end);
    if (rc != 0) {
        c->stale_time = 0;
        mark_collector(end, "FAIL");
        return 1;
    }
    std::memcpy(c->last_time, stamp, sizeof c->last_time);
    if (c->trace != 0) {
        char t[20];
        form_time(t);
        PRINT('t', "cfe1645", "Time = %s, collected records in %d seconds\n", t,
              static_cast<int>(relative_sec(end) - now));
    }
    mark_collector(end, "GOOD");
    return 0;
}

cluster* prep_demand(curs* c) {
    if (c->held == 'Y' || c->demand == 0 || c->aged_to != 0) return nullptr;
    int32_t now = static_cast<int32_t>(now_relative_sec());
    c->stale_time = now + c->stale;
    if (get_cursor_data(now, c) != 0) return nullptr;
    cluster* r = c->has_col_funct != 0 ? do_column_func(c, now) : make_cluster(c);
    if (c->stale == 0) delete_all(c);
    return r;
}
