// Cursor versions: the IF tree of a cursor block, its ring of versions, and the choice of
// the active version before each interval collection.
#include "defs/cursor_versions.h"

#include <cstring>
#include <string>
#include <vector>

#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "defs/clause_math.h"
#include "defs/clause_words.h"
#include "expr/interpreter.h"
#include "expr/lexer.h"
#include "expr/term_table.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

IF_NODE* current_if = nullptr;

namespace {

// Until the collector installs its release, a reset piece is only dropped from the cursor.
void drop_sel_piece(sel_piece*) {}

}  // namespace

void (*free_sel_piece_hook)(sel_piece*) = drop_sel_piece;

namespace {

constexpr int expr_trace_level = 8;
bool tracing() { return u_trace_on(expr_trace_level); }

// The condition tables, one per cursor name. Kept for the life of the process.
struct condition_table {
    char name[9];
    TERM_TABLE* anchor;
};
std::vector<condition_table> condition_tables;

TERM_TABLE** table_of(const char* name) {
    for (condition_table& t : condition_tables)
        if (std::strncmp(t.name, name, sizeof(t.name)) == 0) return &t.anchor;
    condition_table t = {};
    std::strncpy(t.name, name, sizeof(t.name) - 1);
    condition_tables.push_back(t);
    return &condition_tables.back().anchor;
}

// Versions made so far for the cursor whose tree is being multiplied.
int versions_made = 0;

// ---- private copies of what a branch inherits -------------------------------------------

template <typename T>
T* dup_rec(const T* r) {
    if (r == nullptr) return nullptr;
    T* c = static_cast<T*>(U_MALLOC(sizeof(T)));
    std::memcpy(static_cast<void*>(c), static_cast<const void*>(r), sizeof(T));
    return c;
}

char* dup_text(const char* s) {
    if (s == nullptr) return nullptr;
    size_t n = std::strlen(s) + 1;
    char* c = static_cast<char*>(U_MALLOC(n));
    std::memcpy(c, s, n);
    return c;
}

// Copies a chain linked through `next`, each record by `each` (which copies the record and
// whatever it owns).
template <typename T, typename F>
T* dup_chain(const T* head, F each) {
    T* first = nullptr;
    T** tail = &first;
    for (const T* r = head; r != nullptr; r = r->next) {
        T* c = each(r);
        c->next = nullptr;
        *tail = c;
        tail = &c->next;
    }
    return first;
}

template <typename T>
T* dup_plain_chain(const T* head) {
    return dup_chain(head, [](const T* r) { return dup_rec(r); });
}

and_part* dup_and_parts(const and_part* head) {
    return dup_chain(head, [](const and_part* a) {
        and_part* c = dup_rec(a);
        if (a->operand != nullptr) {
            c->operand = static_cast<char*>(U_MALLOC(OPERANDLL));
            std::memcpy(c->operand, a->operand, OPERANDLL);
        }
        return c;
    });
}

decode* dup_decodes(const decode* head) {
    return dup_chain(head, [](const decode* d) {
        decode* c = dup_rec(d);
        c->decode_op = dup_chain(d->decode_op, [](const decode_op* op) {
            decode_op* o = dup_rec(op);
            const char* block =
                op->replacement != nullptr ? op->replacement - OPERANDLL : op->operand;
            if (block != nullptr) {
                char* copy = static_cast<char*>(U_MALLOC(2 * OPERANDLL));
                std::memcpy(copy, block, 2 * OPERANDLL);
                o->operand = op->operand != nullptr ? copy : nullptr;
                o->replacement = copy + OPERANDLL;
            }
            o->and_ = dup_and_parts(op->and_);
            o->curslist = nullptr;
            return o;
        });
        return c;
    });
}

m_anch* dup_math(const m_anch* head) {
    return dup_chain(head, [](const m_anch* a) {
        m_anch* c = dup_rec(a);
        c->math_in = dup_plain_chain(a->math_in);
        if (a->math != nullptr && a->word_count > 0) {
            size_t n = sizeof(math) * static_cast<size_t>(a->word_count);
            c->math = static_cast<math*>(U_MALLOC(n));
            std::memcpy(static_cast<void*>(c->math), a->math, n);
        } else {
            c->math = nullptr;
        }
        return c;
    });
}

col_ex_list* dup_col_exits(const col_ex_list* head) {
    return dup_chain(head, [](const col_ex_list* l) {
        col_ex_list* c = dup_rec(l);
        col_ex_list** tail = &c->next_function;
        *tail = nullptr;
        for (const col_ex_list* f = l->next_function; f != nullptr; f = f->next_function) {
            col_ex_list* g = dup_rec(f);
            g->next_function = nullptr;
            *tail = g;
            tail = &g->next_function;
        }
        return c;
    });
}

// Gives a branch record private copies of every chain and owned text it was copied with,
// so that what the branch adds or replaces never reaches the record it came from.
void own_copies(curs* c) {
    curs_copy_definition(c);
    c->loadt = dup_chain(c->loadt, [](const load_text* l) {
        load_text* t = dup_rec(l);
        t->text = dup_text(l->text);
        return t;
    });
    c->pre_cursor = dup_plain_chain(c->pre_cursor);
    c->iterate = dup_rec(c->iterate);
    c->in_list = dup_chain(c->in_list, [](const in_list* l) {
        in_list* t = dup_rec(l);
        if (l->text != nullptr && l->text != default_in_list) t->text = dup_text(l->text);
        return t;
    });
    c->base = dup_plain_chain(c->base);
    c->m_anch = dup_math(c->m_anch);
    c->decode = dup_decodes(c->decode);
    c->cxl_ptr = dup_col_exits(c->cxl_ptr);
    if (c->iterate_where != nullptr) {
        it_where* w = dup_rec(c->iterate_where);
        w->decode = dup_decodes(c->iterate_where->decode);
        c->iterate_where = w;
    }
    c->set_len = dup_plain_chain(c->set_len);
}

curs* copy_record(const curs* from) {
    curs* c = static_cast<curs*>(U_MALLOC(sizeof(curs)));
    std::memcpy(static_cast<void*>(c), static_cast<const void*>(from), sizeof(curs));
    return c;
}

void copy_whole(curs* to, const curs* from) {
    if (to != from)
        std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), sizeof(curs));
}

const char* select_text(const curs* c) {
    return c->insert_select != nullptr ? c->insert_select->text : "NULL";
}

bool is_percent_cursor(const curs* c) { return u_strnicmp(c->cur_name, "%CURSOR", 9) == 0; }

// Forgets the columns the conditions were bound to, so that after a version change they
// bind to the columns of the versions now active.
void unbind_condition_columns() {
    for (condition_table& t : condition_tables) {
        for (TERM_TABLE* term = t.anchor; term != nullptr; term = term->next) {
            if (term->term_type == TERM_COLUMN && term->value_ref != nullptr &&
                term->value_ref != term_value_ref_final())
                term->value_ref = nullptr;
        }
    }
}

// Drops the selection pieces of a cursor's slot and of every version in its ring: the
// version that left the slot took the slot's piece with it, and a piece is rebuilt after
// every change anyway. Each distinct piece is released once.
void drop_sel_pieces(curs* x) {
    std::vector<sel_piece*> pieces;
    auto take = [&pieces](curs* v) {
        if (v->sel_piece == nullptr) return;
        bool seen = false;
        for (sel_piece* p : pieces) seen = seen || p == v->sel_piece;
        if (!seen) pieces.push_back(v->sel_piece);
        v->sel_piece = nullptr;
    };
    take(x);
    if (x->if_tree != nullptr) {
        curs* start = x->cur_version_list;
        curs* v = start;
        int guard = 0;
        do {
            take(v);
            v = v->cur_version_list;
        } while (v != nullptr && v != start && ++guard <= max_cursor_versions);
    }
    for (sel_piece* p : pieces) free_sel_piece_hook(p);
}

}  // namespace

void reset_version_parse_state() {
    current_if = nullptr;
    current_cursor = nullptr;
}

LEXEME* parse_condition(char** scan) {
    const char* text = *scan;
    LEXEME* rpn = parse_expression(&text);
    *scan = const_cast<char*>(text);
    return rpn;
}

int parse_if(curs** p, char** scan) {
    curs* r = *p;
    if (current_cursor == nullptr) current_cursor = r;
    if (r != current_cursor) {
        PRINT('e', "PIF0010", "IF-ELSE srtucture not complete for cursor %s\n", r->cur_name);
        return 1;
    }
    auto* node = static_cast<IF_NODE*>(U_MALLOC(sizeof(IF_NODE)));
    std::memset(node, 0, sizeof(IF_NODE));
    node->parent_cursor = current_cursor;
    if (tracing()) PRINT('t', "QWBIF030", "condition: %.30s\n", *scan);

    TERM_TABLE** table = table_of(current_cursor->cur_name);
    open_lexer(*table);
    node->condition = parse_condition(scan);
    close_lexer(table);
    if (tracing()) PRINT('t', "QWBIF040", "condition parsed\n");
    if (node->condition == nullptr) {
        PRINT('e', "PIF0030", "Syntax error in conditional expression  for cursor %s\n",
              current_cursor->cur_name);
        U_FREE(node);
        return 1;
    }

    curs* branch = copy_record(current_cursor);
    own_copies(branch);
    branch->if_chain = nullptr;
    branch->parent_if = node;
    node->if_cursor = branch;

    chain_append(&current_cursor->if_chain, node);

    current_if = node;
    current_cursor = branch;
    *p = branch;
    *scan -= 1;
    return 0;
}

int parse_else(curs** p) {
    curs* r = *p;
    if (current_cursor != nullptr && current_cursor == r && current_if != nullptr &&
        current_if->else_cursor == nullptr) {
        curs* branch = copy_record(current_if->parent_cursor);
        own_copies(branch);
        branch->if_chain = nullptr;
        branch->parent_if = current_if;
        current_if->else_cursor = branch;
        current_cursor = branch;
        *p = branch;
        return 0;
    }
    PRINT('e', "PIF0050", "ELSE has no matching IF for cursor %s\n", r->cur_name);
    return 1;
}

int parse_endif(curs** p) {
    curs* r = *p;
    if (current_cursor != nullptr && current_cursor == r && current_if != nullptr) {
        current_cursor = current_if->parent_cursor;
        current_if = current_cursor->parent_if;
        *p = current_cursor;
        if (current_if == nullptr) current_cursor = nullptr;
        if (tracing()) {
            curs* c = current_cursor;
            PRINT('w', "QWBIF045",
                  "current curs %x,                            current IF   %x,            "
                  "                current curs parent if %x\n",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(c)),
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(current_if)),
                  static_cast<unsigned>(
                      reinterpret_cast<uintptr_t>(c != nullptr ? c->parent_if : nullptr)));
        }
        return 0;
    }
    PRINT('e', "PIF0070", "ENDIF has no matching IF for cursor %s\n", r->cur_name);
    return 1;
}

int update_stack(IF_NODE** stack, int count) {
    for (int i = count - 1; i >= 0; --i) {
        if (stack[i] != nullptr && stack[i]->next != nullptr) {
            stack[i] = stack[i]->next;
            return i;
        }
    }
    return -1;
}

namespace {

// Counts one more version of the cursor being multiplied; false (after a message) when
// the cap is passed.
bool count_version(const curs* w) {
    if (++versions_made > max_cursor_versions) {
        PRINT('e', "PIF0150", "Cursor %s has more than %d versions\n", w->cur_name,
              max_cursor_versions);
        return false;
    }
    return true;
}

// A copied IF chain hung as the only IF node of record w.
bool hang_copy(curs* w, const IF_NODE* source) {
    IF_NODE* copy = copy_if_tree(source);
    if (copy == nullptr) return false;
    copy->next = nullptr;
    copy->parent_cursor = w;
    w->if_chain = copy;
    return true;
}

// A whole copy of a branch record under the copied node; its IF chain is copied from its
// first node (whose next still names the source's sibling: siblings serve as templates
// that multiply_tree copies as it goes).
curs* copy_branch(const curs* branch, IF_NODE* node) {
    curs* c = copy_record(branch);
    c->parent_if = node;
    if (branch->if_chain != nullptr) {
        c->if_chain = copy_if_tree(branch->if_chain);
        if (c->if_chain == nullptr) return nullptr;
        c->if_chain->parent_cursor = c;
    }
    return c;
}

}  // namespace

IF_NODE* copy_if_tree(const IF_NODE* node) {
    auto* copy = static_cast<IF_NODE*>(U_MALLOC(sizeof(IF_NODE)));
    *copy = *node;
    if (node->if_cursor != nullptr) {
        copy->if_cursor = copy_branch(node->if_cursor, copy);
        if (copy->if_cursor == nullptr) return nullptr;
    }
    if (node->else_cursor != nullptr) {
        copy->else_cursor = copy_branch(node->else_cursor, copy);
        if (copy->else_cursor == nullptr) return nullptr;
    }
    return copy;
}

int multiply_tree(curs* w, IF_NODE** stack, int pos) {
    if (tracing()) {
        PRINT('t', "QWBIF500", "Current stack position: %i\n", pos);
        PRINT('t', "QWBIF510", "Curs if_chain: %p\n", static_cast<void*>(w->if_chain));
    }
    if (pos > if_stack_size - 1) {
        PRINT('s', "PIF0130", "Current stack position: %i- exceeds stack size: %i\n", pos,
              if_stack_size);
        return 1;
    }
    stack[pos] = w->if_chain;
    IF_NODE* local[if_stack_size];
    std::memcpy(local, stack, sizeof(local));

    if (w->if_chain == nullptr) {
        int at = update_stack(local, pos);
        if (at < 0) return count_version(w) ? 0 : 1;
        if (!hang_copy(w, local[at])) return 1;
    }
    IF_NODE* n = w->if_chain;
    if (n->if_cursor != nullptr && multiply_tree(n->if_cursor, local, pos + 1) != 0) return 1;
    if (n->else_cursor != nullptr) return multiply_tree(n->else_cursor, local, pos + 1);

    int at = update_stack(local, pos + 1);
    if (at < 0) return count_version(w) ? 0 : 1;
    curs* f = copy_record(w);
    f->parent_if = n;
    n->else_cursor = f;
    if (!hang_copy(f, local[at])) return 1;
    return multiply_tree(f, local, pos + 1);
}

void merge_curs(curs* b, const curs* a) {
    std::memcpy(b->cur_name, a->cur_name, sizeof(b->cur_name));
    std::memcpy(b->last_time, a->last_time, sizeof(b->last_time));
    b->window_start = a->window_start;
    b->window_end = a->window_end;
    b->next_time = a->next_time;
    b->held = a->held;
    // The blocks the record owns, as their list says (cur_memory is always the parent's).
    curs_for_each_owned([b, a](auto field, const curs_owned& how) {
        if (how.merge == curs_merge::parent ||
            (how.merge == curs_merge::inherit && b->*field == nullptr))
            b->*field = a->*field;
    });
#define FILL(f) \
    if (!b->f) b->f = a->f
    FILL(stale);
    FILL(stale_time);
    FILL(interval);
    FILL(bypass);
    FILL(demand);
    FILL(has_col_funct);
    FILL(has_min_max);
    FILL(min_max_row);
    FILL(limit);
    FILL(time_limit);
    FILL(history);
    FILL(needs_history);
    FILL(klass);
    FILL(evaluation);
    FILL(show_cursor);
    FILL(num_hvs);
    FILL(num_cols);
    FILL(fetch_routine);
    FILL(build_routine);
    FILL(row_routine);
    FILL(cvirtual);
    FILL(empty);
    FILL(has_hvs_in_sel);
    FILL(samples);
    FILL(current_interval);
    FILL(show_row);
    FILL(start_after);
    FILL(stop_after);
    FILL(once);
    FILL(no_sql);
    FILL(dummy);
    FILL(conditional_dummy);
    FILL(trace);
    FILL(traced);
    FILL(tracem);
    // Not in the original list (nor were set_len and the interface identifiers, inherited
    // through the owned list), so a value written after "endif" never reached a branch.
    FILL(rpc_version);
    FILL(objid);
    FILL(set);
#undef FILL
    if (static_cast<signed char>(b->age_to_name[0]) <= 32)
        std::memcpy(b->age_to_name, a->age_to_name, sizeof(b->age_to_name));
}

void edit_if_tree(curs* w, curs*** tail) {
    auto append = [&](curs* v) {
        **tail = v;
        *tail = &v->cur_version_list;
    };
    IF_NODE* n = w->if_chain;
    if (n == nullptr) {
        append(w);
        return;
    }
    if (n->if_cursor != nullptr) {
        merge_curs(n->if_cursor, w);
        edit_if_tree(n->if_cursor, tail);
    }
    if (n->else_cursor != nullptr) {
        merge_curs(n->else_cursor, w);
        edit_if_tree(n->else_cursor, tail);
    } else {
        append(w);
    }
}

int edit_curs_version_set(curs* w) {
    if (w->parent_if != nullptr) {
        PRINT('e', "PIF0100", "Cursor %s end encountered before expected ENDIF\n", w->cur_name);
        return 1;
    }
    if (w->if_chain == nullptr) {
        w->cur_version_list = w;
        w->if_tree_place = w;
        return 0;
    }
    IF_NODE* stack[if_stack_size] = {};
    versions_made = 0;
    if (multiply_tree(w, stack, 0) != 0) return 1;

    curs* root = copy_record(w);
    for (IF_NODE* n = root->if_chain; n != nullptr; n = n->next) n->parent_cursor = root;

    curs* first = nullptr;
    curs** link = &first;
    edit_if_tree(root, &link);
    if (tracing()) {
        PRINT('t', "QWBIF010", "Cursor %s : %x is being edited, vers_list %x, SQL %s\n",
              w->cur_name, static_cast<unsigned>(reinterpret_cast<uintptr_t>(w)),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(first)), select_text(w));
        PRINT('t', "QWBIF011", "New root : %x\n",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(root)));
    }
    if (first == nullptr) {
        PRINT('e', "PIF0120", "IF-tree for cursor %s not valid\n", w->cur_name);
        return 1;
    }
    *link = first;
    curs* v = first;
    do {
        v->if_tree = root;
        v->if_tree_place = v;
        v = v->cur_version_list;
    } while (v != first);

    copy_whole(w, first);
    if (tracing())
        PRINT('t', "QWBIF060", "Slot cursor %s : %x, vers_list %x, SQL %s, tree place %x\n",
              w->cur_name, static_cast<unsigned>(reinterpret_cast<uintptr_t>(w)),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(w->cur_version_list)),
              select_text(w), static_cast<unsigned>(reinterpret_cast<uintptr_t>(w->if_tree_place)));
    return 0;
}

void define_vers_chain() {
    for (curs* x = cur_anchor; x != nullptr; x = x->next) {
        if (x->held == 'Y') x->held_stat[H_VER] = 1;
        if (x->cur_version_list == x || x->cur_version_list == nullptr) continue;
        curs* start = x->cur_version_list;
        curs* v = start;
        do {
            if (v->held == 'Y') v->held_stat[H_VER] = 1;
            v->next = x->next;
            v = v->cur_version_list;
        } while (v != nullptr && v != start);
    }
}

int select_cursor_version(curs* s, const char* now) {
    if (s->if_tree == nullptr) return 0;
    TERM_TABLE** table = table_of(s->cur_name);
    open_lexer(*table);
    curs* chosen = s->if_tree;
    IF_NODE* n = chosen->if_chain;
    int rc = 0;
    while (n != nullptr) {
        auto* copy = static_cast<LEXEME*>(U_MALLOC(sizeof(LEXEME) * RPN_ENTRIES));
        std::memcpy(copy, n->condition, sizeof(LEXEME) * RPN_ENTRIES);
        curs* saved = current_cursor;
        set_current_cursor(s);
        TERM_TABLE* result = interpreter(copy);
        set_current_cursor(saved);
        U_FREE(copy);
        if (result == nullptr) {
            PRINT('t', "CSL0010", "Can not determine cursor %s version:         may be next time\n",
                  s->cur_name);
            rc = -1;
            break;
        }
        double value = 0.0;
        bool numeric = true;
        if (result->num_type == 2)
            value = result->int_val;
        else if (result->num_type == 3)
            value = result->dbl_val;
        else
            numeric = false;
        free_work_chain(&result, nullptr, 0);
        if (!numeric) {
            PRINT('t', "CSL0020",
                  "Invalid conditional expression result for           cursor %s: will try next "
                  "time\n",
                  s->cur_name);
            rc = -1;
            break;
        }
        if (tracing()) PRINT('t', "QWBIF200", "Conditional expression result %lf\n", value);
        if (value == 0.0) {
            if (n->else_cursor == nullptr) {
                chosen = n->parent_cursor;
                break;
            }
            chosen = n->else_cursor;
        } else {
            if (n->if_cursor == nullptr) {
                PRINT('e', "CSL0030", "Something wrong with IF-tree for cursor %s\n", s->cur_name);
                rc = -1;
                break;
            }
            chosen = n->if_cursor;
        }
        n = chosen->if_chain;
    }
    close_lexer(table);
    if (rc < 0) return -1;
    if (tracing())
        PRINT('t', "QWBIF210",
              "Slot %x, slot tree place %x, slot SQL %s, selected cursor %x, selected tree place "
              "%x, selected SQL %s\n",
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(s)),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(s->if_tree_place)), select_text(s),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(chosen)),
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(chosen->if_tree_place)),
              select_text(chosen));

    curs* o = s->if_tree_place;
    if (chosen != o) {
        const char h = o->held;
        copy_whole(o, s);
        curs* g = nullptr;
        if (s->age_to != nullptr) {
            g = s->age_to;
            curs* place = g->if_tree_place != nullptr ? g->if_tree_place : g;
            copy_whole(place, g);
            o->age_to = place;
        }
        copy_whole(s, chosen);
        if (o->held_stat[H_GLB] != 0 || o->held_stat[H_CUR] != 0) s->held = o->held;
        o->held = h;
        s->held_stat[H_GLB] = o->held_stat[H_GLB];
        s->held_stat[H_CUR] = o->held_stat[H_CUR];
        o->held_stat[H_GLB] = 0;
        o->held_stat[H_CUR] = 0;
        std::memcpy(s->last_time, o->last_time, sizeof(s->last_time));
        // The schedule, the evaluations and the chain position belong to the slot.
        s->window_start = o->window_start;
        s->window_end = o->window_end;
        s->next_time = o->next_time;
        s->stale_time = o->stale_time;
        s->evaluation = o->evaluation;
        s->dist_ptr = o->dist_ptr;
        s->next = o->next;
        if (s->age_to != nullptr && g != nullptr) {
            copy_whole(g, s->age_to);
            s->age_to = g;
        }
        rc = 1;
    }
    std::strncpy(s->activation_time, now, sizeof(s->activation_time) - 1);
    s->activation_time[sizeof(s->activation_time) - 1] = '\0';
    return rc;
}

void reset_all() {
    for (curs* x = cur_anchor; x != nullptr; x = x->next) {
        if (x->aged_to != 0) continue;
        if (x->decode == nullptr && x->m_anch == nullptr && x->cxl_ptr == nullptr) continue;
        // Every clause binds again, not only the first: a version that returns must run
        // all of its exits.
        for (col_ex_list* e = x->cxl_ptr; e != nullptr; e = e->next) e->matched = 0;
        for (columns* col = x->insert_columns; col != nullptr; col = col->next) {
            col->decode_op = nullptr;
            col->m_anch = nullptr;
            col->cxl_ptr = nullptr;
        }
    }
}

int tune_up_cursor_versions(const char* now) {
    if (cur_anchor == nullptr) return 1;
    bool failed_any = false;
    bool changed = false;
    for (curs* x = cur_anchor; x != nullptr; x = x->next) {
        if (x->cvirtual != 0 || is_percent_cursor(x) || x->aged_to != 0) continue;
        current_cursor = x;
        int rc = select_cursor_version(x, now);
        if (rc < 0) failed_any = true;
        if (rc == 1) {
            changed = true;
            if (trace_all) PRINT('i', "CSL0100", "Cursor %s version changed\n", x->cur_name);
        }
    }
    current_cursor = nullptr;
    if (changed) {
        if (trace_all)
            PRINT('i', "CSL0110", "There was cursor version change: redoing some edits\n");
        unbind_condition_columns();
        reset_all();
        if (edit_decode() != 0) failed_any = true;
        if (edit_in_lists() != 0) failed_any = true;
        if (edit_bases() != 0) failed_any = true;
        if (edit_math() != 0) failed_any = true;
        if (edit_col_exits() != 0) failed_any = true;
        if (edit_iterate_where() != 0) failed_any = true;
        if (parse_loads() != 0) failed_any = true;
        if (edit_loads() != 0) failed_any = true;
        if (set_qualifieds() != 0) failed_any = true;
        for (curs* x = cur_anchor; x != nullptr; x = x->next) {
            if (is_percent_cursor(x)) continue;
            x->cols_set = 0;
            drop_sel_pieces(x);
        }
    }
    return failed_any ? 1 : 0;
}

int count_cursor_versions(const curs* slot) {
    if (slot == nullptr) return 0;
    if (slot->if_tree == nullptr) return 1;
    const curs* start = slot->cur_version_list;
    const curs* v = start;
    int n = 0;
    do {
        ++n;
        v = v->cur_version_list;
    } while (v != nullptr && v != start && n <= max_cursor_versions);
    return n;
}
