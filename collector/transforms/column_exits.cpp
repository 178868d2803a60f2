// Column exits and their binding pass.
#include "collector/transforms/column_exits.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>

#include "collector/rows/column_lookup.h"
#include "collector/rows/row_store.h"
#include "collector/transforms/bases.h"
#include "defs/clause_exits.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/dates.h"
#include "runtime/msg.h"

col_ex_list* col_ex_l_ptr = nullptr;

void install_column_exits() {
    colex_routines = {colex_r, colex_l, colex_m, colex_s, colex_c, colex_m2, colex_t};
}

namespace {

// Named here so that every program that can run an exit (through the driver of this file)
// also has them in the table; start-up installs them again.
[[maybe_unused]] const bool exits_installed = (install_column_exits(), true);

bool shown(const curs* c) { return c->show_cursor != 0; }

std::string_view trim(std::string_view s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    const size_t e = s.find_last_not_of(' ');
    return s.substr(b, e - b + 1);
}

// Writes text into the field of len bytes: right-aligned with blanks in front, or
// left-aligned with blanks behind; a longer text keeps its first len characters. The text
// may lie inside the field itself (it is moved before the blanks are written).
void place(char* field, size_t len, std::string_view text, bool right) {
    const size_t n = std::min(text.size(), len);
    if (right) {
        std::memmove(field + (len - n), text.data(), n);
        std::memset(field, ' ', len - n);
    } else {
        std::memmove(field, text.data(), n);
        std::memset(field + n, ' ', len - n);
    }
}

// Relative seconds of the fetch time stamp minus those of stamp, as rounded minutes.
int minutes_since(const char* stamp) {
    int64_t diff = relative_sec(fetch_time_stamp) - relative_sec(stamp);
    if (diff < 0) diff = 0;
    return static_cast<int>((diff + 30) / 60);
}

// The 16-character stamp (14 digits and "00") of the binary time in the field's first 4
// bytes; 0 converts the current time.
// Room for six integers of any value: the compiler cannot see that tm's fields are small.
using stamp_text = char[80];

void binary_stamp(curs* c, const char* field, stamp_text& stamp, const char* tag_long) {
    int32_t raw = 0;
    std::memcpy(&raw, field, sizeof(raw));
    if (c->traced != 0) {
        if (tag_long != nullptr)
            PRINT('t', "ccc4049", "UNIX time() value: %ld\n", static_cast<long>(raw));
        else
            PRINT('t', "ccc4049", "UNIX time() value: %d\n", raw);
    }
    time_t t = raw;
    struct tm rec = {};
    u_localtime(&t, &rec);
    int year = rec.tm_year;
    if (year < 1900) year += year < 81 ? 2000 : 1900;
    std::snprintf(stamp, sizeof(stamp), "%04d%02d%02d%02d%02d%02d00", year, rec.tm_mon + 1,
                  rec.tm_mday, rec.tm_hour, rec.tm_min, rec.tm_sec);
}

}  // namespace

int column_exit_driver(curs* cursor, columns* column, char* row_text, col_ex_list* list) {
    for (col_ex_list* e = list; e != nullptr; e = e->next_function) {
        if (e->c_exit == nullptr) continue;
        col_ex_l_ptr = e;
        const int rc = e->c_exit(cursor, column, row_text);
        if (rc != 0) return rc;
    }
    return 0;
}

int colex_r(curs* c, columns* col, char* row) {
    if (shown(c))
        PRINT('t', "ccc4075", "Right justify call for %s in cursor %s\n", col->col_name,
              c->cur_name);
    const size_t len = static_cast<size_t>(std::max<int16_t>(col->len, 0));
    char* v = row + col->offset;
    // Runs for every row: plain loops, no allocation.
    size_t kept = len;
    while (kept > 0 && v[kept - 1] == ' ') --kept;
    if (kept == 0 || kept == len) return 0;
    place(v, len, std::string_view(v, kept), true);
    return 0;
}

int colex_l(curs* c, columns* col, char* row) {
    if (shown(c))
        PRINT('t', "ccc4065", "Left justify call for %s in cursor %s\n", col->col_name,
              c->cur_name);
    const size_t len = static_cast<size_t>(std::max<int16_t>(col->len, 0));
    char* v = row + col->offset;
    size_t first = 0;
    while (first < len && v[first] == ' ') ++first;
    if (first == 0 || first == len) return 0;
    place(v, len, std::string_view(v + first, len - first), false);
    return 0;
}

int colex_s(curs* c, columns* col, char* row) {
    const col_ex_list* e = col_ex_l_ptr;
    const int len = std::max<int16_t>(col->len, 0);
    const int start = e->int1;
    int n = std::max<int16_t>(e->int2, 0);
    // A start below 1 is refused by the clause parser; one that arrives anyway is refused
    // like a start beyond the value.
    if (start > len || start < 1) {
        PRINT('e', "ccc4056", "Substring starting position exceeds length of %s in cursor %s\n",
              col->col_name, c->cur_name);
        return 1;
    }
    if (start + n - 1 > len) {
        PRINT('w', "ccc4060", "Substring starting plus len exceeds length of %s in cursor %s\n",
              col->col_name, c->cur_name);
        n = len - start + 1;
    }
    char* v = row + col->offset;
    place(v, static_cast<size_t>(len), std::string_view(v + start - 1, static_cast<size_t>(n)),
          false);
    return 0;
}

int colex_c(curs* c, columns* col, char* row) {
    const col_ex_list* e = col_ex_l_ptr;
    const columns* second = e->col_ptr;
    if (second == nullptr) return 1;
    const char* w_at = nullptr;
    if (e->curs == nullptr || e->curs == c) {
        w_at = row + second->offset;
    } else if (c->base != nullptr) {
        w_at = locate_base(e->curs, c, second->offset);
    } else if (e->curs->last_row != nullptr) {
        w_at = e->curs->last_row->text + second->offset;
    }
    if (w_at == nullptr) {
        PRINT('w', "ccf4580", "In concat, second column (%s) is in cursor(%s) with no rows\n",
              second->col_name, e->curs != nullptr ? e->curs->cur_name : c->cur_name);
        return 1;
    }
    const std::string w(
        trim(std::string_view(w_at, static_cast<size_t>(std::max<int16_t>(second->len, 0)))));
    if (w.empty()) return 0;
    const size_t len = static_cast<size_t>(std::max<int16_t>(col->len, 0));
    char* v = row + col->offset;
    std::string result(trim(std::string_view(v, len)));
    result += w;
    place(v, len, result, col->orig_type == 2);
    return 0;
}

int colex_m(curs* c, columns* col, char* row) {
    if (shown(c))
        PRINT('t', "ccc4045", "Minutes call for %s in cursor %s\n", col->col_name, c->cur_name);
    if (col->len != 16) {
        PRINT('e', "ccc4046", "Minutes calculation for column %% when length != 16\n");
        return 1;
    }
    char* v = row + col->offset;
    // mm/dd/yyyy hh:mm -> yyyymmddhhmm00
    static constexpr int from[12] = {6, 7, 8, 9, 0, 1, 3, 4, 11, 12, 14, 15};
    char stamp[15];
    for (int i = 0; i < 12; ++i) {
        const unsigned char ch = static_cast<unsigned char>(v[from[i]]);
        if (!std::isdigit(ch)) {
            PRINT('e', "ccc4044", "Minutes calculation for %s in cursor %s: no date in '%.16s'\n",
                  col->col_name, c->cur_name, v);
            return 1;
        }
        stamp[i] = static_cast<char>(ch);
    }
    stamp[12] = stamp[13] = '0';
    stamp[14] = '\0';
    char text[16];
    std::snprintf(text, sizeof(text), "%d", minutes_since(stamp));
    place(v, 16, text, true);
    col->orig_type = 2;
    col->data_type = 1;
    return 0;
}

int colex_m2(curs* c, columns* col, char* row) {
    const bool trace = shown(c) || c->traced != 0;
    if (trace)
        PRINT('t', "ccc4047", "Minutes2 call for %s in cursor %s\n", col->col_name, c->cur_name);
    if (col->len != 16) {
        PRINT('e', "ccc4048", "Minutes2 calculation for column %% when length != 16\n");
        return 1;
    }
    char* v = row + col->offset;
    stamp_text stamp;
    binary_stamp(c, v, stamp, nullptr);
    if (trace) PRINT('t', "ccc4050", "Converted Timestamp value = %s\n", stamp);
    char text[16];
    std::snprintf(text, sizeof(text), "%d", minutes_since(stamp));
    if (trace) PRINT('t', "ccc4051", "Converted Minutes value = %s\n", text);
    place(v, 16, text, true);
    col->orig_type = 2;
    col->data_type = 1;
    return 0;
}

int colex_t(curs* c, columns* col, char* row) {
    const bool trace = shown(c) || c->traced != 0;
    if (trace)
        PRINT('t', "ccc4052", "Timestamp call for %s in cursor %s\n", col->col_name, c->cur_name);
    if (col->len != 16) {
        PRINT('e', "ccc4053", "Timestamp calculation for column %% when length != 16\n");
        return 1;
    }
    char* v = row + col->offset;
    stamp_text stamp;
    binary_stamp(c, v, stamp, "ld");
    if (trace) PRINT('t', "ccc4055", "Converted Timestamp value = %s\n", stamp);
    place(v, 16, std::string_view(stamp, std::min<size_t>(std::strlen(stamp), 16)), false);
    col->orig_type = 2;
    col->data_type = 1;
    return 0;
}

int edit_col_exits_pass() {
    bool failed = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->cxl_ptr == nullptr) continue;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
            col_ex_list* clause = c->cxl_ptr;
            while (clause != nullptr &&
                   (clause->matched != 0 ||
                    std::memcmp(clause->col_name, col->col_name, sizeof(col->col_name)) != 0))
                clause = clause->next;
            if (clause == nullptr) continue;
            for (col_ex_list* f = clause; f != nullptr; f = f->next_function) {
                if (f->col_name_concat[0] == '\0') continue;
                if (find_col(c, f->col_name_concat, &f->col_ptr, &f->curs) != 0) {
                    PRINT('e', "pce4185", "Column (%s) in concatenate not found\n",
                          f->col_name_concat);
                    failed = true;
                    break;
                }
            }
            clause->matched = 1;
            col->cxl_ptr = clause;
        }
        for (col_ex_list* clause = c->cxl_ptr; clause != nullptr; clause = clause->next) {
            if (clause->matched != 0) continue;
            PRINT('e', "pce4190", "Column %s in cursor %s not matched for column exit\n",
                  clause->col_name, c->cur_name);
            failed = true;
        }
    }
    if (failed) {
        PRINT('e', "pce4195", "Column exit editing failed\n");
        return 1;
    }
    PRINT('i', "pce4200", "Column exit editing was successful\n");
    return 0;
}
