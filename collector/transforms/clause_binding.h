// Binding the columns of LOAD predicates and ITERATE_WHERE filters, at start-up and again
// whenever cursor versions are re-selected. Installed as the edit_loads and
// edit_iterate_where passes (model/engine_globals.h).
#pragma once

// Every LOAD predicate of every cursor: its decodes' column becomes the load's
// test_column; column operands of the rules and their AND parts are bound with find_col.
// 0 ("pde4225"); 1 ("pde4220") after "pde4215", "pde4205" or "pde4210".
int bind_load_predicates();

// Every ITERATE_WHERE clause of a cursor that is no age-to target: the decode's column
// (CURSOR.COLUMN naming the iterated cursor, or COLUMN) found in the iterated cursor
// becomes col_ptr; column operands of the first rule's AND parts are bound with find_col.
// 0 ("pit4495"); 1 ("pit4490") after "pit4485" or "pit4480".
int bind_iterate_where();
