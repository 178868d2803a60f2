// The evaluator ("evaluator" distributor): tests each cursor's evaluation rules against its
// current rows or column-function results and logs the rows that satisfy a rule, and, when
// the distributor asks for it, the row that made a rule that held turn false.
#pragma once

#include <cstdint>

struct curs;
struct columns;
struct distrib;
struct evaluation;

// One candidate row of a pass. The entries of a pass lie in one block.
struct predicate_stuff {
    predicate_stuff* next;  // null after the last
    int16_t kind;           // 1 a stored row; 2 the last entry (synthetic or last row)
    int16_t stat_set;       // 1: the row is sent
    int16_t status;         // 1 MAX found here, 2 MIN found here, 3 matched, 4 turned false
    int16_t ordinal;        // low 16 bits of the ordinal of the rule that marked it
    char text[1];           // the row text, the cursor's length bytes
};

// One evaluator pass at the 14-character time now. 0; 1 when a cursor had no answer or a
// column function computed on the fly failed; 2 when a candidate list could not be had. A
// failure stays the pass's result even when later cursors succeed.
int do_evaluator(const char* now, distrib* d);

// The candidate list of cursor c: its stored rows oldest first (kind 1), then one entry of
// kind 2 holding the synthetic row of column functions, or else a copy of the last row.
// 0 done; 1 no answer (no cluster, or no row left once it was opened); 2 no memory. Free
// the list with free_predicate_rows.
int get_predicate_rows(curs* c, predicate_stuff** list);
void free_predicate_rows(predicate_stuff* list);

// 1 when the rule holds for the column's value (len bytes), else 0. A water-mark column
// with a set mark is tested by its mark.
int do_compare(const columns* column, const char* value, const evaluation* rule);
