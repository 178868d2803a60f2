// The SQL descriptor area: for each column of a fetched row its value, length, type, null
// indicator and name. One allocation holds the header and all its arrays; it is freed as
// one block.
#pragma once

#include <cstdint>

struct xSQLDA {
    int32_t N;    // entries allocated
    char** V;     // V[i]: value text of column i
    int32_t* L;   // L[i]: value length
    int16_t* T;   // T[i]: type code (1 character text; 2 right-aligned numeric)
    int16_t** I;  // I[i]: null indicator (-1 NULL)
    int32_t F;    // columns found in the current result (set by the user)
    char** S;     // S[i]: name
    int16_t* M;   // M[i]: room for the name
    int16_t* C;   // C[i]: length of the name
    char** X;     // X[i]: indicator-name buffer inside the allocation
    int16_t* Y;   // Y[i]: room for the indicator name
    int16_t* Z;   // Z[i]: length of the indicator name
};

// A descriptor of n entries in one u_malloc block: N = n, every array pointing at its place
// in the block, X[i] at the i-th indicator-name buffer of max_ind_name bytes rounded up to
// a multiple of 4 (max_name takes no part). The array contents other than X are not
// initialised. Null for a negative n.
xSQLDA* zovldal(int n, int max_name, int max_ind_name);

// The descriptor of a script-exit cursor: n entries, N and F = n, each I[i] pointing at its
// own indicator (in the same block) holding 1, X, Y and Z not set (null). Null for n < 1.
xSQLDA* xsqlda_with_indicators(int n);

// Frees *p when it is non-null; *p keeps its value. Returns 0.
int zovldau(xSQLDA** p);
