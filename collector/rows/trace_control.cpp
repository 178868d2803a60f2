#include "collector/rows/trace_control.h"

#include <cstring>

#include "defs/trace_file.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/dates.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

int16_t reset_trace = 0;

namespace {

void clear_switches(curs* c) {
    c->trace = 0;
    c->traced = 0;
    c->tracem = 0;
}

const char* type_name(int16_t t) {
    switch (t) {
        case 1:
        case 24:
            return "Char";
        case 2:
            return "Number";
        case 8:
            return "Long";
        case 11:
            return "RowId";
        case 12:
            return "Date";
        case 23:
            return "Raw";
        default:
            return "???";
    }
}

}  // namespace

int reset_tracing() {
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        clear_switches(c);
        // The versions are records of their own: each loses its switches too.
        if (c->cur_version_list != nullptr && c->cur_version_list != c) {
            curs* v = c->cur_version_list;
            for (int n = 0; v != nullptr && v != c && n < 1000; ++n) {
                clear_switches(v);
                v = v->cur_version_list;
                if (v == c->cur_version_list) break;
            }
        }
    }
    trace_all = 0;
    trace_something = 0;
    parse_trace();
    reset_trace = 0;
    return 0;
}

int sho_cur(curs* c) {
    c->show_cursor = 0;
    PRINT('t', "csc1900", "Curs= %s , host table= %s\n", c->cur_name,
          c->host_table != nullptr ? c->host_table : "");
    if (u_trace_on(6)) {
        if (c->raw_insert_select != nullptr)
            PRINT('t', "csc1910", " %s\n", us_ps(c->raw_insert_select, 0, 0, 0));
        else if (c->insert_select != nullptr)
            PRINT('t', "csc1915", " %s\n", us_ps(c->insert_select->text, 0, 0, 0));
    }
    const host_cols* h = c->host_cols;
    int k = 1;
    for (const columns* col = c->insert_columns; col != nullptr; col = col->next, ++k) {
        const char* send = "Char";
        int len = col->len;
        if (col->convert == CONV_NOSEND) {
            send = "NO-SEND";
            len = 0;
        } else if (col->orig_type == 2 && col->convert == CONV_INT) {
            send = "Integer";
            len = 4;
        } else if (col->orig_type == 2 && col->convert != CONV_NONE) {
            send = "Float";
            len = 8;
        } else if (col->orig_type == 2) {
            send = "Right alligned";
        }
        // A column beyond the end of the host-column list has no host name.
        PRINT('t', "csc1920", "#%d Host=%s (%d,%d), Orig=%s, Orig-t=%s, send_t=%s, len=%d\n", k,
              h != nullptr ? h->col_name : "", col->offset, col->len, col->col_name,
              type_name(col->orig_type), send, len);
        if (h != nullptr) h = h->next;
    }
    return 0;
}

int proded(int row_number, char* data, int length) {
    if (data == nullptr) return 0;
    if (row_number > 4 && my_trace_all[5] == 0) {
        char readable[152];
        const int n = length < 199 ? length : 199;
        u_printable(readable, data, n, "");
        PRINT('i', "cat1609", "Abbrv dump of row %d. %.80s\n", row_number, readable);
    } else {
        PRINT('i', "cat1610", "Dump of row %d\n", row_number);
        u_print_dumpx(nullptr, data, length != 0 ? length : static_cast<int>(std::strlen(data)));
    }
    return 0;
}
