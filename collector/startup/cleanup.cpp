#include "collector/startup/cleanup.h"

#include <unordered_set>
#include <vector>

#include "acquire/channel_parent.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/trace_control.h"
#include "collector/startup/engine_hooks.h"
#include "collector/startup/startup.h"
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

// One block the record frees itself, by its type, each once.
template <class T>
void release_block(releaser& r, T* p) {
    r.block(p);
}
void release_block(releaser& r, operate* o) {
    if (o != &full_day) r.chain(o);
}
void release_block(releaser& r, columns* col) {
    r.chain(col, [&r](columns* x) { r.block(x->water_ptr); });
}
void release_block(releaser& r, host_cols* h) { r.chain(h); }
void release_block(releaser& r, row_data* row) { r.chain(row); }
void release_block(releaser& r, load_text* l) {
    r.chain(l, [&r](load_text* x) { r.block(x->text); });
}

// Everything one record holds, then the record.
void release_record(releaser& r, curs* c) {
    if (!r.first(c)) return;
    // A channel request block (versions share it) is no fetch memory of the SQL path.
    if (channel_is_request_block(c->cur_memory)) {
        r.first(c->cur_memory);
        channel_release_cursor(c);
    } else if (c->cur_memory != nullptr && r.done(c->cur_memory)) {
        c->cur_memory = nullptr;
    }
    if (c->fetch_exit == nullptr && c->no_sql == 0) engine_runs.freeDBcurMem(c);
    // The selection pieces are the engine's; an age-to copy has none of its own.
    if (c->aged_to != 1 && c->sel_piece != nullptr && r.first(c->sel_piece))
        free_sel_piece_hook(c->sel_piece);
    // A virtual cursor's buffer is its row.
    if (c->cvirtual != 0 || c->aged_to == 1) c->buffer = nullptr;
    // The record's own blocks here; the clause records, each chain with the first record
    // that holds it, through the clause code below.
    curs clauses = {};
    curs_for_each_owned([&r, c, &clauses](auto field, const curs_owned& how) {
        auto* p = c->*field;
        if (how.freer == curs_freer::clauses) {
            clauses.*field = r.first(p) ? p : nullptr;
        } else if (how.freer == curs_freer::record) {
            // An age-to copy's texts, columns and rows are its own too (they were left
            // behind once): each block goes once, however many records hold it.
            release_block(r, p);
        }
    });
    // A fetch exit's anchor and result sets (an SQL cursor's fetch memory went above); the
    // release only asks whether the cursor had an exit.
    if (c->fetch_exit != nullptr && r.first(c->cur_memory)) {
        clauses.fetch_exit = c->fetch_exit;
        clauses.cur_memory = c->cur_memory;
        clauses.db_data = c->db_data;
    }
    del_curs_clauses_hook(&clauses);
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
