// Decodes: rules that rewrite a column's value while a row is built, bound to their
// columns and cursors by an edit pass at start-up and after every change of cursor
// versions.
#pragma once

struct curs;
struct columns;
struct decode_op;

// The edit pass (installed as edit_passes.edit_decode): for every cursor with decodes
// that is no age-to copy, hangs each decode's rules on its column and binds the column
// operands and replacements, the cursors to run, the AND columns and the in-lists.
// Every reference that is not found is reported ("pde3880" to "pde3900", or find_in_list's
// message) and the pass goes on; 0 when all were bound ("pde3910"), else 1 ("pde3905").
int bind_decodes();

// Binds the in-list of every IN rule of the chain from first, once, by name with
// find_in_list. 0 when all were found; 1 after find_in_list's message for each one that
// was not. The edit passes of decodes, loads and iterate_where filters call it.
int bind_decode_in_lists(decode_op* first);

// Applies the column's rules to the col->len characters at value inside the row text row
// (indicator below 0: the value is NULL) of the row being built for c: the rule that holds
// replaces the value with its constant or another column's value, queues a cursor to run
// after c (once per cursor and row number), or carries out a hold or release command
// (special_decode). Returns 1 when the cursor of a replacement column has no row
// ("cde4420"), else 0. A column wider than decode_value_max is left as it is ("cde4425",
// once per column).
int do_decode(columns* col, char* value, char* row, int indicator, curs* c);
