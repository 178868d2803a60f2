// Least forms of services built elsewhere (row store, column functions, decodes, bases).
// Each keeps the documented signature and only what the virtual cursors, loads and column
// exits need until the real one replaces it.
#include "collector/least_forms_virtuals.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/clause_decode.h"
#include "expr/percent_vars.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"

int col_function(curs* c, columns* column, char* out) {
    const int len = column->len;
    if (column->col_function != COLF_SUM || column->orig_type != 2 || len > 255) return 1;
    std::memset(out, ' ', static_cast<size_t>(len));
    double sum = 0.0;
    size_t decimals = 0;
    for (row_data* r = c->first_row; r != nullptr; r = r->next) {
        if (c->samples != 0 && r->sampleno != static_cast<int16_t>(c->sampleno)) continue;
        std::string v(r->text + column->offset, static_cast<size_t>(len));
        sum += std::atof(v.c_str());
        const size_t dot = v.find('.');
        if (dot != std::string::npos) {
            const size_t end = v.find_first_of(" ", dot);
            const size_t d = (end == std::string::npos ? v.size() : end) - dot - 1;
            if (d > decimals) decimals = d;
        }
    }
    char text[400];
    std::snprintf(text, sizeof(text), "%f", sum);
    if (char* dot = std::strchr(text, '.'))
        dot[decimals == 0 ? 0 : 1 + std::min<size_t>(decimals, std::strlen(dot + 1))] = '\0';
    const size_t n = std::strlen(text);
    if (n >= static_cast<size_t>(len))
        std::memcpy(out, text, static_cast<size_t>(len));
    else
        std::memcpy(out + (len - static_cast<int>(n)), text, n);
    return 0;
}
