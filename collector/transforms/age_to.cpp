#include "collector/transforms/age_to.h"

#include <cstdint>
#include <cstring>

#include "collector/rows/row_store.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

bool names_age_to(const curs* c) { return static_cast<unsigned char>(c->age_to_name[0]) > ' '; }

bool has_versions(const curs* c) {
    return c->if_tree != nullptr && c->cur_version_list != nullptr && c->cur_version_list != c;
}

// True when the cursor or any of its versions names an age_to cursor.
bool is_source(const curs* c) {
    if (names_age_to(c)) return true;
    if (!has_versions(c)) return false;
    const curs* start = c->cur_version_list;
    const curs* v = start;
    int n = 0;
    do {
        if (names_age_to(v)) return true;
        v = v->cur_version_list;
    } while (v != nullptr && v != start && ++n < 4096);
    return false;
}

unsigned hex(const void* p) { return static_cast<unsigned>(reinterpret_cast<uintptr_t>(p)); }
char hold_mark(const curs* c) { return c->held != '\0' ? c->held : ' '; }

// Frees the blocks a cursor's own definition holds, before the record becomes a copy.
void release_definition(curs* c) {
    delete_all(c);
    curs_free_owned(c);
}

// Copies the record whole but keeps the destination's place in the cursor chain.
void copy_keeping_next(curs* to, const curs* from) {
    curs* next = to->next;
    std::memcpy(static_cast<void*>(to), static_cast<const void*>(from), sizeof(curs));
    to->next = next;
}

}  // namespace

int make_age_to_copy(curs* copy, curs* src) {
    curs* next = copy->next;
    char name[sizeof(copy->cur_name)];
    char age_name[sizeof(copy->age_to_name)];
    std::memcpy(name, copy->cur_name, sizeof(name));
    std::memcpy(age_name, copy->age_to_name, sizeof(age_name));
    curs* age_to = copy->age_to;
    if (copy != src)
        std::memcpy(static_cast<void*>(copy), static_cast<const void*>(src), sizeof(curs));
    copy->next = next;
    std::memcpy(copy->cur_name, name, sizeof(name));
    std::memcpy(copy->age_to_name, age_name, sizeof(age_name));
    copy->age_to = age_to;

    copy->aged_to = 1;
    copy->demand = 1;
    copy->held = 'N';
    std::memset(copy->held_stat, 0, sizeof(copy->held_stat));
    // Its own copies of the definition's texts, columns and windows; it does not run, so
    // the run-time blocks stay with the source.
    curs_copy_definition(copy);
    // A copy computes nothing: no clauses, no version links.
    curs_for_each_owned([copy](auto field, const curs_owned& how) {
        if (how.life == curs_life::clause) copy->*field = nullptr;
    });
    copy->evaluation = nullptr;
    copy->if_chain = nullptr;
    copy->parent_if = nullptr;
    copy->if_tree = nullptr;
    copy->if_tree_place = copy;
    copy->cur_version_list = nullptr;
    copy->min_max_row = nullptr;
    copy->column_data = nullptr;
    copy->count = 0;

    src->post_age = 1;
    src->age_to = copy;
    copy->post_age = 1;
    copy->has_col_funct = 0;
    copy->has_min_max = 0;
    return 0;
}

int edit_age_to_pass() {
    bool failed = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (u_trace_on(8))
            PRINT('t', "WYH1110", "curs %x, vers_list %x, name %s, hold %c\n", hex(c),
                  hex(c->cur_version_list), c->cur_name, hold_mark(c));
        if (!names_age_to(c) && c->if_tree == nullptr) continue;
        if (c->aged_to != 0) continue;  // already made a copy by an earlier source
        if (c->cvirtual != 0) {
            if (is_source(c)) {
                PRINT('e', "pag3680", "Can't copy from a virtual table\n");
                failed = true;
            }
            continue;
        }
        const bool versioned = has_versions(c);
        curs* start = versioned ? c->cur_version_list : c;
        curs* v = start;
        int guard = 0;
        do {
            curs* version = v;
            v = versioned ? v->cur_version_list : start;
            if (versioned && u_trace_on(8))
                PRINT('t', "smf1120", "vers %x, vers_list %x, name %s, hold %c\n", hex(version),
                      hex(version->cur_version_list), version->cur_name, hold_mark(version));
            if (!names_age_to(version)) continue;
            curs* target = find_cursor(version->age_to_name);
            if (target == nullptr) {
                PRINT('e', "pag3690", "Age-to Cursor (%s) not found\n", version->age_to_name);
                failed = true;
                continue;
            }
            if (target == c) {
                PRINT('e', "pag3671", "Cursor %s cannot age_to itself\n", c->cur_name);
                failed = true;
                continue;
            }
            if (target->cvirtual != 0) {
                PRINT('e', "pag3675", "Can't copy to virtual table\n");
                failed = true;
                continue;
            }
            if (is_source(target) && target->aged_to == 0) {
                if (std::strncmp(target->age_to_name, c->cur_name, sizeof(c->cur_name)) == 0)
                    PRINT('e', "pag3672", "Cursors %s and %s age_to each other\n", c->cur_name,
                          target->cur_name);
                else
                    PRINT('e', "pag3673",
                          "Age-to cursor %s of %s ages to a cursor itself: no chains of age_to\n",
                          target->cur_name, c->cur_name);
                failed = true;
                continue;
            }
            if (target->post_age != 0 &&
                std::strncmp(target->ssqlcode, version->cur_name, sizeof(version->cur_name)) != 0) {
                PRINT('e', "pag3685", "Duplicate attempts to 'age_to' the same cursor %s\n",
                      target->cur_name);
                failed = true;
                continue;
            }
            c->age_to = target;
            if (!versioned) {
                if (target->if_tree == nullptr) release_definition(target);
                make_age_to_copy(target, c);
                target->cur_version_list = target;
                std::memset(target->ssqlcode, 0, sizeof(target->ssqlcode));
                std::memcpy(target->ssqlcode, c->cur_name, sizeof(c->cur_name));
                continue;
            }
            auto* n = static_cast<curs*>(U_MALLOC(sizeof(curs)));
            std::memcpy(static_cast<void*>(n), static_cast<const void*>(target), sizeof(curs));
            make_age_to_copy(n, version);
            std::memset(n->ssqlcode, 0, sizeof(n->ssqlcode));
            if (target->post_age == 0) {
                // The first copy of this target: the target's own definition is dropped and
                // the target shows the copy until the active version's copy is put in.
                if (target->if_tree == nullptr) release_definition(target);
                copy_keeping_next(target, n);
                n->cur_version_list = n;
                target->cur_version_list = n;
                target->post_age = 1;
                std::memset(target->ssqlcode, 0, sizeof(target->ssqlcode));
                std::memcpy(target->ssqlcode, c->cur_name, sizeof(c->cur_name));
            } else {
                curs* p = target->cur_version_list;
                n->cur_version_list = p->cur_version_list;
                p->cur_version_list = n;
                target->cur_version_list = n;
            }
            c->post_age = 1;
        } while (versioned && v != start && ++guard < 4096);
    }
    age_to_default_vers();
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        std::memset(c->ssqlcode, 0, sizeof(c->ssqlcode));
    if (failed) {
        PRINT('e', "pag3700", "Age_to editing failed\n");
        return 1;
    }
    PRINT('i', "pag3695", "Age_to editing successful\n");
    return 0;
}

void age_to_default_vers() {
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (!has_versions(c) || c->age_to == nullptr || c->aged_to != 0) continue;
        curs* place = c->if_tree_place;
        if (place == nullptr || place->age_to == nullptr || place->age_to == c->age_to) continue;
        copy_keeping_next(c->age_to, place->age_to);
    }
}

int do_copy(curs* src) {
    curs* t = src->age_to;
    if (t == nullptr) return 0;
    if (t->first_row != nullptr && t->first_row == src->first_row) {
        if (src->trace) PRINT('t', "cag3705", "Skipping Copying\n");
        src->first_row = nullptr;
        src->last_row = nullptr;
        src->count = 0;
        return 0;
    }
    delete_all(t);
    if (src->trace) {
        if (src->pre_age != 0)
            PRINT('t', "cag3710", "PreCopying %d records from %s to %s\n", src->count,
                  src->cur_name, t->cur_name);
        else if (src->post_age != 0)
            PRINT('t', "cag3715", "PostCopying %d records from %s to %s\n", src->count,
                  src->cur_name, t->cur_name);
        else
            PRINT('t', "cag3720", "Incorrectly Copying %d records from %s to %s\n", src->count,
                  src->cur_name, t->cur_name);
    }
    if (src->pre_age != 0) {
        t->first_row = src->first_row;
        t->last_row = src->last_row;
        t->count = src->count;
        src->first_row = nullptr;
        src->last_row = nullptr;
        src->count = 0;
    } else {
        // The source keeps its rows until its next run: the target gets its own.
        row_data* head = nullptr;
        row_data* tail = nullptr;
        int32_t n = 0;
        const long text_len = src->length > 0 ? src->length : 0;
        for (const row_data* r = src->first_row; r != nullptr; r = r->next) {
            row_data* d = row_data_copy(r, text_len);
            if (tail == nullptr)
                head = d;
            else
                tail->next = d;
            tail = d;
            ++n;
        }
        t->first_row = head;
        t->last_row = tail;
        t->count = n;
        columns* tc = t->insert_columns;
        for (const columns* sc = src->insert_columns; sc != nullptr && tc != nullptr;
             sc = sc->next, tc = tc->next) {
            columns keep = *tc;
            *tc = *sc;
            tc->next = keep.next;
            tc->water_ptr = keep.water_ptr;
            tc->decode_op = keep.decode_op;
            tc->m_anch = keep.m_anch;
            tc->cxl_ptr = keep.cxl_ptr;
        }
    }
    t->now_sec = src->now_sec;
    std::memcpy(t->last_time, src->last_time, sizeof(t->last_time));
    t->length = src->length;
    t->changed = src->changed;
    t->needs_history = src->needs_history;
    t->sampleno = src->sampleno;
    t->rowno = src->rowno;
    t->cols_set = src->cols_set;
    t->history = 0;
    t->once = 1;
    t->aged_to = 1;
    src->pre_age = 1;
    src->post_age = 0;
    return 0;
}
