// SET_LEN: forced fetch lengths of named result columns, resolved against the fetch
// descriptor on the first fetch and applied before each fetch.
#pragma once

struct curs;
struct xSQLDA;

// Finds each SET_LEN name among the descriptor's names (the first of equal length and
// bytes) and keeps its index. 0 when every name was found (sets_are_set_up becomes 1); 1
// when one was not ("pcl4570", "pcl4575", the cursor held; the others still resolved).
int init_set_len(curs* cursor, xSQLDA* sqlda);

// Sets the descriptor length of every SET_LEN entry to its forced length. Returns 0.
int set_the_lengths(curs* cursor, xSQLDA* sqlda);
