// Log distributors: "nulv", the row lines, and the others.
#include "collector/distributors/log_distributors.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "collector/rows/cluster.h"
#include "collector/run/cursor_answer.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/msg.h"

namespace {

// The cursor whose rows were logged last: its INSERT text heads a run of its rows.
const curs* last_curs = nullptr;

bool in_classes(const distrib* d, const curs* c) {
    return c->klass >= 0 && c->klass < distrib_max_classes && d->classes[c->klass] != 0;
}

}  // namespace

int send_a_row(curs* c, const char* row) {
    if (c != last_curs) {
        last_curs = c;
        PRINT('i', "cpr1890", "%s\n", c->insert != nullptr ? c->insert : "");
    }
    int k = 0;
    for (const columns* col = c->insert_columns; col != nullptr; col = col->next) {
        ++k;
        const char* at = row + col->row_offset;
        int l = col->caret_ll != 0 ? col->caret_ll : col->len;
        int w = l;
        std::string value;
        switch (col->convert) {
            case CONV_NONE:
                while (l > 1 && at[l - 1] == ' ') --l;
                value.assign(at, static_cast<size_t>(l > 0 ? l : 0));
                break;
            case CONV_INT: {
                int32_t v = 0;
                std::memcpy(&v, at, sizeof v);  // cluster rows need not be aligned
                value = std::to_string(v);
                l = static_cast<int>(value.size());
                w = 4;
                break;
            }
            case CONV_FLOAT: {
                double v = 0;
                std::memcpy(&v, at, sizeof v);
                char text[400];
                std::snprintf(text, sizeof text, "%f", v);
                value = text;
                l = static_cast<int>(value.size());
                w = 8;
                break;
            }
            case CONV_NOSEND:
                value = "ZIP";
                l = 3;
                w = 0;
                break;
            default:
                value.assign(at, static_cast<size_t>(l > 0 ? l : 0));
                break;
        }
        PRINT('i', "cpr1895", "#=%d,n=%s,l=%d,o=%d,ll=%d:%s\n", k, col->col_name, l,
              col->row_offset, w, value.c_str());
    }
    return 0;
}

int do_nulv(distrib* d, const char* now) {
    const int64_t t = relative_sec(now);
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->evaluation != nullptr || c->aged_to != 0) continue;
        if (c->window_end <= t) set_window_c(c, t);
        if (c->window_start > t || !in_classes(d, c) || c->held == 'Y') continue;
        PRINT('i', "cir1650", "Nulv for %s\n", c->cur_name);
        cluster* cl = open_cursor(c);
        if (cl == nullptr) continue;
        while (fetch_cur(cl) == 0) {
            if (send_a_row(c, cl->next_row) != 0) {
                close_cur(cl);
                return 0;
            }
        }
        close_cur(cl);
    }
    return 0;
}

int distribute(distrib* d, const char* now) {
    PRINT('i', "cir1625", "Dist for %s at %s\n", d->distrib_name, now);
    return 0;
}
