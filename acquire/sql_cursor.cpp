// The run of one cursor; the SQL statement path is not here yet.
#include "acquire/sql_cursor.h"

#include "collector/column_exits.h"
#include "collector/dummy_rows.h"
#include "collector/in_lists.h"
#include "collector/least_forms_rows.h"
#include "collector/loads.h"
#include "collector/row_store.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/msg.h"

namespace {

char xtime[15];
int32_t itime;

int32_t now_relative() {
    char t[15];
    get_time(t);
    return static_cast<int32_t>(relative_sec(t));
}

// Type codes of a cursor without a descriptor: none is read.
int32_t scratch_types[1] = {1};

}  // namespace

int connect_to_DB(distrib*) { return 1; }

void after_fetch_steps(curs* c, int count) {
    if (c->loadp != nullptr) process_loads(c, count);
    if (c->in_list != nullptr) build_in_list(c);
    if (c->dummy != 0) build_dummy_last_row(c);
    if (c->conditional_dummy != 0 && c->count == 0) build_dummy_last_row(c);
    c->this_iteration_end = now_relative();
    c->execution_time = c->this_iteration_end - c->this_iteration_start;
}

int prep_l_fetch(curs* c, const char* time_stamp, int* rows_for_insert) {
    if (c->once != 0 && c->first_row != nullptr) return 0;
    get_time(xtime);
    itime = static_cast<int32_t>(relative_sec(xtime));
    bool iterating = c->iterate != nullptr;
    if (!iterating) {
        c->last_iteration_start = c->this_iteration_start;
        c->this_iteration_start = itime;
        c->current_interval = c->this_iteration_start - c->last_iteration_start;
    }
    if (c->trace != 0) PRINT('t', "ypp0200", "Doing prep_l_fetch for cursor %s\n", c->cur_name);
    ++c->sampleno;
    if (!iterating) c->rowno = 0;
    c->now_sec = itime;
    if (c->fetch_exit != nullptr || c->no_sql == 0) return 1;

    if (merge_text(engine_alloc_work_buff(), nullptr, c, scratch_types, time_stamp) <= 0) return 1;
    if (c->trace != 0) proded(1, work_buff, c->length);
    if (rows_for_insert != nullptr) ++*rows_for_insert;
    if (!iterating) after_fetch_steps(c, 1);
    return 0;
}
