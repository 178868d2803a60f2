// The distributor list and the globals the process file fills; the record is in
// model/distrib.h.
#pragma once

#include <cstdint>

#include "model/distrib.h"

// Head of the list of distributors in file order.
extern distrib* distrib_anchor;
// The distributor named exactly "collector"; null before a successful parse.
extern distrib* collector_at;
// 1 when a process whose name begins with "evaluator" exists.
extern int32_t have_evaluator;
// The request server's longest sleep between checks, seconds; 10 until a sleep keyword.
extern int32_t sleep_time;

// A new zeroed record from u_malloc with classes[0] = 1 and state = 1. Never null.
distrib* distrib_new();
// Frees one record and its day chains (never the shared full_day).
void distrib_free(distrib* d);
// Frees every record of distrib_anchor and clears distrib_anchor and collector_at;
// returns 0. The collector installs it as the engine's del_distributor_hook.
int distrib_free_all();
