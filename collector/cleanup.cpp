#include "collector/cleanup.h"

#include <unordered_set>
#include <vector>

#include "acquire/channel_parent.h"
#include "collector/percent_cursor.h"
#include "collector/startup.h"
#include "collector/trace_control.h"
#include "defs/clause_free.h"
#include "defs/cursor_versions.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

// Frees every block it is given once, however many records point at it.
class releaser {
  public:
    bool first(const void* p) { return p != nullptr && seen_.insert(p).second; }
    bool done(const void* p) const { return seen_.count(p) != 0; }
    void block(void* p) {
        if (first(p)) U_FREE(p);
    }
    template <class T, class Each>
    void chain(T* head, Each each) {
        for (T* r = head; r != nullptr;) {
            if (!first(r)) break;  // the rest of a shared chain went with its first holder
            T* next = r->next;
            each(r);
            U_FREE(r);
            r = next;
        }
    }
    template <class T>
    void chain(T* head) {
        chain(head, [](T*) {});
    }

  private:
    std::unordered_set<const void*> seen_;
};

void release_operates(releaser& r, operate* o) {
    if (o == &full_day) return;
    r.chain(o);
}

// Everything one record holds, then the record.
void release_record(releaser& r, curs* c) {
    if (!r.first(c)) return;
    // A virtual cursor's one row is freed with its rows (its buffer points into it).
    if (c->aged_to == 0) r.chain(c->first_row);
    // A channel request block (versions share it) is no fetch memory of the SQL path.
    if (channel_is_request_block(c->cur_memory)) {
        r.first(c->cur_memory);
        channel_release_cursor(c);
    } else if (c->cur_memory != nullptr && r.done(c->cur_memory)) {
        c->cur_memory = nullptr;
    }
    if (c->fetch_exit == nullptr && c->no_sql == 0 && engine_runs.freeDBcurMem != nullptr)
        engine_runs.freeDBcurMem(c);
    // The texts of an age_to receiver belong to the cursor it copies.
    if (c->aged_to != 1) {
        r.block(c->insert_select);
        r.chain(c->insert_columns, [&r](columns* col) { r.block(col->water_ptr); });
        r.block(c->insert_where);
        r.block(c->insert);
        r.block(c->table_name);
        r.block(c->raw_insert_select);
        r.block(c->nulls);
        if (c->sel_piece != nullptr && r.first(c->sel_piece) && free_sel_piece_hook != nullptr)
            free_sel_piece_hook(c->sel_piece);
    }
    r.block(c->host_table);
    r.chain(c->host_cols);
    r.chain(c->loadt, [&r](load_text* l) { r.block(l->text); });
    release_operates(r, c->saturday_start);
    release_operates(r, c->sunday_start);
    release_operates(r, c->mon_fri_start);
    r.block(c->uuidbase);
    r.block(c->uuidpavc);
    r.block(c->uuidpcvc);
    r.block(c->dummy_text);
    r.block(c->fetch_exit);
    r.block(c->script);
    // A virtual cursor's buffer is its row.
    if (c->cvirtual != 0 || c->aged_to == 1) c->buffer = nullptr;
    // The clause records: each chain goes with the first record that holds it.
    curs clauses = {};
    auto take = [&r](auto* p) { return r.first(p) ? p : nullptr; };
    clauses.pre_cursor = take(c->pre_cursor);
    clauses.iterate = take(c->iterate);
    clauses.in_list = take(c->in_list);
    clauses.base = take(c->base);
    clauses.loadp = take(c->loadp);
    clauses.m_anch = take(c->m_anch);
    clauses.decode = take(c->decode);
    clauses.cxl_ptr = take(c->cxl_ptr);
    clauses.iterate_where = take(c->iterate_where);
    clauses.set_len = take(c->set_len);
    clauses.xlda = take(c->xlda);
    clauses.buffer = take(c->buffer);
    clauses.curslist = take(c->curslist);
    // A fetch exit's anchor and result sets (an SQL cursor's fetch memory went above); the
    // release only asks whether the cursor had an exit.
    if (c->fetch_exit != nullptr && take(c->cur_memory) != nullptr) {
        clauses.fetch_exit = c->fetch_exit;
        clauses.cur_memory = c->cur_memory;
        clauses.db_data = c->db_data;
    }
    if (del_curs_clauses_hook != nullptr) del_curs_clauses_hook(&clauses);
    U_FREE(c);
}

// The records and IF nodes of an IF tree. Iterative: a block that was never edited can nest
// its IFs as deep as its file is long.
void release_tree(releaser& r, curs* root) {
    std::vector<curs*> records{root};
    while (!records.empty()) {
        curs* c = records.back();
        records.pop_back();
        if (c == nullptr || r.done(c)) continue;
        for (sIfNode* n = c->if_chain; n != nullptr;) {
            // Copied nodes keep the next of their template, so the rest of a chain can be
            // shared: it went with its first holder, and a freed node is never read.
            if (!r.first(n)) break;
            sIfNode* next = n->next;
            records.push_back(n->if_cursor);
            records.push_back(n->else_cursor);
            r.block(n->condition);
            U_FREE(n);
            n = next;
        }
        release_record(r, c);
    }
}

}  // namespace

void free_all_cursors() {
    // The channel children first: their answers would merge into cursors about to go.
    channel_release_distributors();
    // The percent cursor goes with the list: the places of its values (the request
    // parameters among them) point into its row and must not outlive it.
    pcnt_forget();
    curs* c = cur_anchor;
    cur_anchor = nullptr;
    releaser r;
    while (c != nullptr) {
        curs* next = c->next;
        PRINT('t', "cdc0305", "del_cur() Freeing storage for cursor:%s\n", c->cur_name);
        // The versions are listed before anything goes: the slot is a copy of one of them and
        // goes last, alone.
        std::vector<curs*> versions;
        if (c->cur_version_list != nullptr && c->cur_version_list != c) {
            curs* v = c->cur_version_list;
            for (int n = 0; v != nullptr && n <= max_cursor_versions; ++n) {
                versions.push_back(v);
                v = v->cur_version_list;
                if (v == c->cur_version_list) break;
            }
        }
        // A block the file ended or failed inside was never edited: it has no tree yet, and
        // its IF nodes (with their branches) hang from the record itself.
        curs* root = c->if_tree != nullptr ? c->if_tree : c;
        // The tree first: its root can be a version too (the path of an IF without ELSE
        // whose condition is false), and its IF nodes are only reachable from it.
        release_tree(r, root);
        for (curs* v : versions) release_record(r, v);
        // Whatever the slot still holds was its active version's and is gone already.
        release_record(r, c);
        c = next;
    }
    u_dump_tracem();
}

int reinit_curs() {
    init_cursors();
    reset_tracing();
    return 0;
}
