// The engine's hooks, set in one place.
#include "collector/engine_hooks.h"

#include "collector/age_to.h"
#include "collector/bases.h"
#include "collector/math.h"
#include "defs/clause_free.h"
#include "defs/cursor_versions.h"
#include "defs/distrib.h"
#include "model/engine_globals.h"

namespace {

// The steps of an orderly end that belong to the running collector (signals, the
// communication's "shut"); nothing is running before the schedule loop starts them.
void quitting_steps(int /*code*/) {}

// Selection pieces are made by the host-variable substitution of SQL statements; until it
// exists no cursor holds one.
void release_sel_piece(sel_piece* /*piece*/) {}

// Editing passes whose clauses are not bound by the engine yet: they accept every cursor.
int decode_pass() { return 0; }
int in_list_pass() { return 0; }
int column_exit_pass() { return 0; }
int iterate_where_pass() { return 0; }
int load_pass() { return 0; }
int qualified_name_pass() { return 0; }

}  // namespace

void install_engine_hooks() {
    quitting_hook = quitting_steps;
    del_curs_clauses_hook = del_clauses;
    del_distributor_hook = distrib_free_all;
    free_sel_piece_hook = release_sel_piece;
    edit_passes = engine_edit_passes{
        decode_pass,        in_list_pass, edit_bases_pass,     edit_math_pass,   column_exit_pass,
        iterate_where_pass, load_pass,    qualified_name_pass, edit_age_to_pass,
    };
}

bool engine_hooks_complete() {
    const engine_edit_passes& p = edit_passes;
    return quitting_hook && del_curs_clauses_hook && del_distributor_hook && free_sel_piece_hook &&
           p.edit_decode && p.edit_in_lists && p.edit_bases && p.edit_math && p.edit_col_exits &&
           p.edit_iterate_where && p.edit_loads && p.set_qualifieds && p.edit_age_to;
}
