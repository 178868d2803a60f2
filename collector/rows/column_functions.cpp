// Column functions: the rows of a cursor collapsed into one synthetic row.
#include "collector/rows/column_functions.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"

namespace {

// A value of len bytes reading "NULL" (cut to len when shorter than 5).
bool is_null_value(const char* v, int len) {
    if (len < 5) return std::memcmp(v, "NULL", static_cast<size_t>(len)) == 0;
    return std::memcmp(v, "NULL ", 5) == 0;
}

bool in_sample(const curs* c, const row_data* r) {
    return c->samples == 0 || r->sampleno == c->sampleno;
}

// HIGH_WATER / LOW_WATER: the mark's value, or question marks while it is unset.
void water_value(const columns* column, char* out) {
    const int len = column->len;
    std::memset(out, ' ', static_cast<size_t>(len));
    const water* w = column->water_ptr;
    if (w != nullptr && w->is_set != 0) {
        const int n = w->width < len ? w->width : len;
        std::memcpy(out, w->value.s_value, static_cast<size_t>(n));
    } else {
        std::memset(out, '?', static_cast<size_t>(len < 8 ? len : 8));
    }
}

// Digits after the first '.' of a value (up to a blank or its end).
int decimals_of(const char* v) {
    const char* dot = std::strchr(v, '.');
    if (dot == nullptr) return 0;
    int d = 0;
    for (const char* p = dot + 1; *p != '\0' && *p != ' '; ++p) ++d;
    return d;
}

}  // namespace

int col_function(curs* c, columns* column, char* out) {
    const int len = column->len;
    const int16_t f = column->col_function;
    if (column->orig_type != 2 && f != COLF_COUNT) return col_funct_char(c, column, out);
    if (f == COLF_HIGH_WATER || f == COLF_LOW_WATER) {
        water_value(column, out);
        return 0;
    }
    if (len > 255 || len < 0) return 1;
    std::memset(out, ' ', static_cast<size_t>(len));

    double value = 0.0;
    double sum = 0.0;
    double weighted = 0.0;
    int64_t n = 0;
    int decimals = 0;
    const row_data* extreme = nullptr;
    if (f == COLF_MIN || f == COLF_MAX) c->min_max_row = nullptr;
    if (f == COLF_COUNT) {
        if (c->tiCount != 0) {
            // The rows of the last run, not tiCount: tiCount counts every row ever merged.
            for (const row_data* r = c->first_row; r != nullptr; r = r->next)
                if (r->sampleno == c->sampleno) value += 1.0;
        } else if (c->last_row != nullptr && c->last_row->sampleno == c->sampleno)
            value = c->last_row->rowno;
    } else {
        if (f < COLF_MIN || f > COLF_SUM) return 1;
        for (row_data* r = c->first_row; r != nullptr; r = r->next) {
            if (!in_sample(c, r)) continue;
            const char* v = r->text + column->offset;
            if (is_null_value(v, len)) continue;
            char text[256];
            std::memcpy(text, v, static_cast<size_t>(len));
            text[len] = '\0';
            const char* p = text;
            while (*p == ' ') ++p;
            const double x = std::atof(p);
            ++n;
            switch (f) {
                case COLF_MIN:
                case COLF_MAX:
                    if (extreme == nullptr || (f == COLF_MIN ? x < value : x > value)) {
                        value = x;
                        extreme = r;
                        c->min_max_row = r;
                    }
                    break;
                case COLF_AVG:
                case COLF_SUM:
                    sum += x;
                    break;
                case COLF_WAVG:
                    sum += x * static_cast<double>(n);
                    break;
                case COLF_TREND:
                    sum += x;
                    weighted += x * static_cast<double>(n);
                    break;
                default:
                    break;
            }
            if (f == COLF_AVG || f == COLF_SUM || f == COLF_WAVG) {
                const int d = decimals_of(p);
                if (d > decimals) decimals = d;
            }
        }
        const double triangle = static_cast<double>(n) * static_cast<double>(n + 1) / 2.0;
        switch (f) {
            case COLF_MIN:
            case COLF_MAX:
                if (extreme != nullptr) {
                    std::memcpy(out, extreme->text + column->offset, static_cast<size_t>(len));
                    return 0;
                }
                break;
            case COLF_AVG:
                value = n != 0 ? sum / static_cast<double>(n) : 0.0;
                break;
            case COLF_WAVG:
                value = n != 0 ? sum / triangle : 0.0;
                break;
            case COLF_TREND: {
                const double average = n != 0 ? sum / static_cast<double>(n) : 0.0;
                // A flat line at zero has no trend to speak of: 0 rather than a division by 0.
                value = average != 0.0 ? weighted / triangle / average : 0.0;
                break;
            }
            case COLF_SUM:
                value = sum;
                break;
            default:
                break;
        }
    }

    // "%f" of the largest double runs past 300 characters.
    char text[400];
    std::snprintf(text, sizeof text, "%f", value);
    if (f == COLF_AVG || f == COLF_SUM || f == COLF_WAVG) {
        if (char* dot = std::strchr(text, '.')) {
            const size_t after = std::strlen(dot + 1);
            const size_t keep = static_cast<size_t>(decimals) < after ? decimals : after;
            dot[decimals == 0 ? 0 : 1 + keep] = '\0';
        }
    }
    const size_t t = std::strlen(text);
    if (t >= static_cast<size_t>(len))
        std::memcpy(out, text, static_cast<size_t>(len));
    else
        std::memcpy(out + (static_cast<size_t>(len) - t), text, t);
    return 0;
}

int col_funct_char(curs* c, columns* column, char* out) {
    const int len = column->len;
    if (len < 0) return 1;
    std::memset(out, ' ', static_cast<size_t>(len));
    switch (column->col_function) {
        case COLF_HIGH_WATER:
        case COLF_LOW_WATER:
            water_value(column, out);
            return 0;
        case COLF_MIN:
        case COLF_MAX:
            break;
        default:
            return 1;
    }
    const bool lowest = column->col_function == COLF_MIN;
    const row_data* kept = nullptr;
    c->min_max_row = nullptr;
    for (row_data* r = c->first_row; r != nullptr; r = r->next) {
        if (!in_sample(c, r)) continue;
        const char* v = r->text + column->offset;
        if (is_null_value(v, len)) continue;
        if (kept != nullptr) {
            const int order = std::memcmp(v, kept->text + column->offset, static_cast<size_t>(len));
            if (lowest ? order >= 0 : order <= 0) continue;
        }
        kept = r;
        c->min_max_row = r;
    }
    if (kept != nullptr) std::memcpy(out, kept->text + column->offset, static_cast<size_t>(len));
    return 0;
}
