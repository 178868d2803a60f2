// The run table, doing nothing until the start-up installs the engine's runs.
#include "collector/run/run_table.h"

namespace {

int no_cursor_run(int32_t, curs*) { return 0; }
int no_commit(int) { return 0; }
int no_memory(curs*) { return 0; }
int no_history(const char*) { return 0; }
int no_distributor_run(distrib*, const char*) { return 0; }
int no_evaluator(const char*, distrib*) { return 0; }
int no_serving_turn() { return 0; }

}  // namespace

engine_run_table engine_runs = {
    no_cursor_run,      no_commit,          no_memory,    no_history,
    no_distributor_run, no_distributor_run, no_evaluator, no_serving_turn,
};
