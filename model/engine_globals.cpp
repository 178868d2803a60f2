// The engine globals the definition readers use, and the engine's orderly ends in the
// form the readers need; the collector start-up code installs the rest through the hooks.
#include "model/engine_globals.h"

#include <cstdio>
#include <cstring>

#include "model/cursor.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

curs* cur_anchor = nullptr;
char* work_buff = nullptr;
int32_t go_home_time = 0;
char last_version_update_time[15] = {};
machine_ident machine_id = {};
dict_parms* dict_parms_anchor = nullptr;

namespace {

// What a hook does until the collector installs its own.
void no_quitting_steps(int) {}
void no_clause_records(curs*) {}
int no_distributors() { return 0; }
int no_pass() { return 0; }
void free_each_cursor();

}  // namespace

void (*quitting_hook)(int) = no_quitting_steps;
void (*del_curs_clauses_hook)(curs*) = no_clause_records;
void (*del_curs_hook)() = free_each_cursor;
int (*del_distributor_hook)() = no_distributors;
engine_edit_passes edit_passes = {no_pass, no_pass, no_pass, no_pass, no_pass, no_pass, no_pass,
                                  no_pass, no_pass, no_pass, no_pass, no_pass, no_pass};

curs* find_cursor(const char* name) {
    if (name == nullptr) return nullptr;
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        if (std::strncmp(c->cur_name, name, sizeof c->cur_name) == 0) return c;
    return nullptr;
}

char* engine_alloc_work_buff() {
    if (work_buff == nullptr) {
        work_buff = static_cast<char*>(U_MALLOC(sizeof_work_buff));
        work_buff[0] = '\0';
    }
    return work_buff;
}

int add_dict_parm(char* name, char* value) {
    auto* p = static_cast<dict_parms*>(U_MALLOC(sizeof(dict_parms)));
    p->next = nullptr;
    p->name = name;
    p->initial = value;
    dict_parms** tail = &dict_parms_anchor;
    while (*tail != nullptr) tail = &(*tail)->next;
    *tail = p;
    return 0;
}

char* search_dict_parm(const char* name) {
    if (name == nullptr) return nullptr;
    for (dict_parms* p = dict_parms_anchor; p != nullptr; p = p->next) {
        if (p->name != nullptr && u_stricmp(p->name, name) == 0) return p->initial;
    }
    return nullptr;
}

void no_mem() {
    PRINT('s', "pgn0001", "No memory\n");
    u_exit(98);
}

int quitting(int code) {
    quitting_hook(code);
    del_curs();
    char now[20];
    form_time(now);
    PRINT('s', "ggn1505", "Time = %s, Collector ended\n", now);
    if (stder != nullptr) {
        std::fclose(stder);
        stder = nullptr;
    }
    if (code == -1) return 0;
    u_exit(code == 0 ? 0 : 1);  // 1, not 0, for a failure: no failure ends with status 0
}

namespace {

void free_cursor(curs* c) {
    curs_free_owned(c);
    U_FREE(c);
}

void free_each_cursor() {
    curs* c = cur_anchor;
    cur_anchor = nullptr;
    while (c != nullptr) {
        curs* next = c->next;
        PRINT('t', "cdc0305", "del_cur() Freeing storage for cursor:%s\n", c->cur_name);
        free_cursor(c);
        c = next;
    }
}

}  // namespace

void del_curs() {
    if (!u_trace_on(7)) {
        cur_anchor = nullptr;
        return;
    }
    del_curs_hook();
    cur_anchor = nullptr;
}

int del_distributor() {
    del_distributor_hook();
    return 0;
}

#define PASS(name) \
    int name() { return edit_passes.name(); }
PASS(edit_decode)
PASS(edit_in_lists)
PASS(edit_bases)
PASS(edit_math)
PASS(edit_col_exits)
PASS(edit_iterate_where)
PASS(edit_loads)
PASS(set_qualifieds)
PASS(create_percent_cursor)
PASS(init_virtuals)
PASS(edit_age_to)
PASS(edit_pre_cursors)
PASS(edit_iterates)
#undef PASS
