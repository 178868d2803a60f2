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

char fetch_time_stamp[17] = "0000000000000000";
int16_t indicator1 = 1;

int find_col(curs* c, char* text, columns** col, curs** cur) {
    char name[50] = {};
    std::strncpy(name, text, sizeof(name) - 1);
    for (columns* k = c->insert_columns; k != nullptr; k = k->next) {
        if (std::memcmp(k->col_name, name, sizeof(name)) == 0) {
            *col = k;
            return 0;
        }
    }
    if (name[0] == '%') {
        columns* k = find_pcnt_col(name);
        if (k == nullptr) return 1;
        *col = k;
        for (curs* p = cur_anchor; p != nullptr; p = p->next)
            if (std::strcmp(p->cur_name, "%CURSOR") == 0) *cur = p;
        return 0;
    }
    const char* dot = std::strchr(name, '.');
    if (dot == nullptr || dot - name > 8) return 1;
    char cname[9] = {};
    std::memcpy(cname, name, static_cast<size_t>(dot - name));
    for (curs* p = cur_anchor; p != nullptr; p = p->next) {
        if (std::memcmp(p->cur_name, cname, sizeof(cname)) != 0) continue;
        return search_curs_vers_insert(p, dot + 1, col, cur);
    }
    return 1;
}

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

decode_op* eval_decode(columns* col, char* value, char* /*row*/, int /*indicator*/, curs* /*c*/,
                       decode_op* first) {
    decode_op* fallback = nullptr;
    const size_t len = static_cast<size_t>(col->len);
    const bool numeric = col->orig_type == 2;
    const double left = std::atof(std::string(value, len).c_str());
    for (decode_op* op = first; op != nullptr; op = op->next) {
        if (op->operatr == 5) {
            fallback = op;
            continue;
        }
        int r;
        if (op->operand_type == 1 && numeric)
            r = left < op->op_num ? -1 : (left > op->op_num ? 1 : 0);
        else if (op->operand_type == 2 && op->operand != nullptr)
            r = std::memcmp(value, op->operand, std::min<size_t>(len, 256));
        else
            continue;
        const bool holds = (r > 0 && (op->operatr == 2 || op->operatr == 6 || op->operatr == 8)) ||
                           (r == 0 && (op->operatr == 1 || op->operatr == 6 || op->operatr == 7)) ||
                           (r < 0 && (op->operatr == 3 || op->operatr == 7 || op->operatr == 8));
        if (holds) return op;
    }
    return fallback;
}

char* locate_base(curs* src, curs* /*c*/, int offset) {
    return src->last_row != nullptr ? src->last_row->text + offset : nullptr;
}
