// The engine's hooks, set in one place.
#include "collector/startup/engine_hooks.h"

#include "acquire/fetch_exit.h"
#include "acquire/sql_cursor.h"
#include "collector/distributors/evaluator.h"
#include "collector/distributors/history.h"
#include "collector/distributors/log_distributors.h"
#include "collector/distributors/request_server.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/virtual_cursors.h"
#include "collector/run/cursor_run.h"
#include "collector/run/schedule.h"
#include "collector/run/signals.h"
#include "collector/startup/cleanup.h"
#include "collector/startup/reference_passes.h"
#include "collector/transforms/age_to.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/clause_binding.h"
#include "collector/transforms/column_exits.h"
#include "collector/transforms/decode.h"
#include "collector/transforms/host_vars.h"
#include "collector/transforms/in_lists.h"
#include "collector/transforms/math.h"
#include "comm/zovcomm.h"
#include "defs/clause_free.h"
#include "defs/cursor_versions.h"
#include "defs/distrib.h"
#include "model/engine_globals.h"

namespace {

// The steps of an orderly end that belong to the running collector (signals, the
// communication's "shut"); nothing is running before the schedule loop starts them.
void quitting_steps(int /*code*/) {
    set_signal(0);
    zovcomm("shut", ipc_ptr, "shut");
}

int run_interval_cursor(int32_t now, curs* c) { return get_cursor_data(now, c); }

// A cursor's clause records go with it; the percent cursor's values stop being kept when
// it goes.
void free_cursor_clauses(curs* c) {
    if (c != nullptr && c == pcnt_cursor()) pcnt_forget();
    fetch_exit_release(c);
    del_clauses(c);
}

}  // namespace

void install_engine_hooks() {
    quitting_hook = quitting_steps;
    del_curs_clauses_hook = free_cursor_clauses;
    del_curs_hook = free_all_cursors;
    del_distributor_hook = distrib_free_all;
    free_sel_piece_hook = free_sel_pieces;
    edit_passes = engine_edit_passes{
        bind_decodes,         edit_in_lists_pass, edit_bases_pass,      edit_math_pass,
        edit_col_exits_pass,  bind_iterate_where, bind_load_predicates, set_qualifieds_pass,
        build_percent_cursor, init_virtuals_pass, edit_age_to_pass,     edit_pre_cursors_pass,
        edit_iterates_pass,
    };
    engine_runs = engine_run_table{
        run_interval_cursor, commit_collect, freeDBcurMem, do_history, do_nulv,
        distribute,          do_evaluator,   do_ulv,
    };
    serving_sleep = ulv_wait;
    install_column_exits();
}

bool engine_hooks_complete() {
    const engine_edit_passes& p = edit_passes;
    const engine_run_table& r = engine_runs;
    return quitting_hook && del_curs_clauses_hook && del_curs_hook && del_distributor_hook &&
           free_sel_piece_hook && p.edit_decode && p.edit_in_lists && p.edit_bases && p.edit_math &&
           p.edit_col_exits && p.edit_iterate_where && p.edit_loads && p.set_qualifieds &&
           p.create_percent_cursor && p.init_virtuals && p.edit_age_to && p.edit_pre_cursors &&
           p.edit_iterates && r.get_cursor_data && r.commit_collect && r.freeDBcurMem &&
           r.do_history && r.do_nulv && r.distribute && r.do_evaluator && r.do_ulv;
}
