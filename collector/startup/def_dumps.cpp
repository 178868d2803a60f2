#include "collector/startup/def_dumps.h"

#include <cstring>

#include "defs/distrib.h"
#include "defs/evaluation.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/msg.h"

namespace {

int hours(int64_t secs) { return static_cast<int>(secs_to_hour(secs)); }

// A fixed-width text field that may be filled to its width without a NUL.
template <size_t N>
int width(const char (&)[N]) {
    return static_cast<int>(N);
}

void window_lines(const operate* o, int32_t offset, const char* start_id, const char* start_fmt,
                  const char* end_id, const char* end_fmt) {
    for (; o != nullptr; o = o->next) {
        PRINT('i', start_id, start_fmt, hours(o->start_time + static_cast<int64_t>(offset)));
        PRINT('i', end_id, end_fmt, hours(o->end_time + static_cast<int64_t>(offset)));
    }
}

void cursor_windows(const operate* o, const char* start_id, const char* start_fmt,
                    const char* end_id, const char* end_fmt) {
    for (; o != nullptr; o = o->next) {
        PRINT('t', start_id, start_fmt, hours(o->start_time));
        PRINT('t', end_id, end_fmt, hours(o->end_time));
    }
}

}  // namespace

void show_processes() {
    for (const distrib* d = distrib_anchor; d != nullptr; d = d->next) {
        PRINT('i', "psp1380", "Process name:%.*s\n", width(d->distrib_name), d->distrib_name);
        switch (d->type) {
            case 1:
                PRINT('i', "psp1385", "Type = local\n");
                break;
            case 2:
                PRINT('i', "psp1390", "Type = remote\n");
                break;
            case 3:
                PRINT('i', "psp1395", "Type = dial\n");
                break;
            case 4:
                PRINT('i', "psp1430", "Type = ctlib\n");
                break;
            default:
                break;
        }
        PRINT('i', "psp1435", "Logon id = %.*s\n", width(d->logon_id), d->logon_id);
        PRINT('i', "psp1440", "Password = ***\n");
        PRINT('i', "psp1445", "Server id = %.*s\n", width(d->server_id), d->server_id);
        PRINT('i', "psp1450", "Time offset = %d\n", hours(d->time_offset));
        window_lines(d->saturday_start, d->time_offset, "psp1455", "Saturday start = %d\n",
                     "psp1460", "Saturday end = %d\n");
        window_lines(d->sunday_start, d->time_offset, "psp1465", "Sunday start = %d\n", "psp1470",
                     "Sunday end = %d\n");
        window_lines(d->mon_fri_start, d->time_offset, "psp1475", "Mon_Fri start = %d\n", "psp1480",
                     "Mon_Fri end = %d\n");
        PRINT('i', "psp1485", "Interval = %d\n", d->interval);
        for (int i = 0; i < distrib_max_holidays && d->holiday[i] != 0; ++i) {
            char day[9];
            PRINT('i', "psp1490", "Holiday = %s\n", real_date(day, d->holiday[i]));
        }
        char when[15];
        PRINT('i', "psp1495", "Window open at %s\n", secs_to_date(when, d->window_start));
        PRINT('i', "psp1500", "Window closes at %s\n", secs_to_date(when, d->window_end));
    }
}

namespace {

void column_lines(const columns* col) {
    static const struct {
        const char* id;
        const char* text;
    } functions[] = {
        {nullptr, nullptr},
        {"psc0085", "   has Col Funct = MIN\n"},
        {"psc0090", "   has Col Funct = MAX\n"},
        {"psc0080", "   has Col Funct = AVG\n"},
        {"psc0095", "   has Col Funct = WAVG\n"},
        {"psc0100", "   has Col Funct = TREND\n"},
        {"psc0105", "   has Col Funct = SUM\n"},
        {"psc0110", "   has Col Funct = HIGH_WATER\n"},
        {"psc0115", "   has Col Funct = LOW_WATER\n"},
        {"psc0120", "   has Col Funct = COUNT\n"},
    };
    PRINT('t', "psc0075", " Ins Col= %s\n", col->col_name);
    if (col->col_function >= 1 && col->col_function <= 9)
        PRINT('t', functions[col->col_function].id, "%s", functions[col->col_function].text);
    if (col->orig_type != 0) PRINT('t', "psc0125", "Orig data type= %d\n", col->orig_type);
    if (col->oracle_len != 0) PRINT('t', "psc0130", "Oracle data len= %d\n", col->oracle_len);
    if (col->caret_ll != 0)
        PRINT('t', "psc0135", "Formatted data length= %d\n", col->caret_ll);
    else if (col->len != 0)
        PRINT('t', "psc0140", "Formatted data length= %d\n", col->len);
    if (col->offset != 0) PRINT('t', "psc0145", "Buffer Offset= %d\n", col->offset);
}

void evaluation_lines(const evaluation* e) {
    PRINT('t', "psc0230", "Evaluation name = %s\n", e->eval_name);
    PRINT('t', "psc0235", " on cursor %s\n", e->cur_name);
    PRINT('t', "psc0240", "Column = %s\n", e->col_name);
    if (e->operatr[0] != 0)
        PRINT('t', "psc0245", "Operand = %s\n", "<");
    else if (e->operatr[1] != 0)
        PRINT('t', "psc0245", "Operand = %s\n", "=");
    else if (e->operatr[2] != 0)
        PRINT('t', "psc0245", "Operand = %s\n", ">");
    if (e->val_type == EVAL_TEXT)
        PRINT('t', "psc0250", "Value = %.100s\n", e->string != nullptr ? e->string : "");
    else
        PRINT('t', "psc0251", "Value = %f\n", e->value);
    if (e->col_function != 0) PRINT('t', "psc0255", "Col_funct = %d\n", e->col_function);
    PRINT('t', "psc0260", "Ordinal = %d\n", e->ordinal);
}

}  // namespace

void show_curs() {
    for (const curs* c = cur_anchor; c != nullptr; c = c->next) {
        PRINT('t', "psc0030", "Cursor name = %s\n", c->cur_name);
        PRINT('t', "psc0035", "Last Cursor time= %.14s\n", c->last_time);
        if (c->raw_insert_select != nullptr)
            PRINT('t', "psc0040", "Raw_insert_select= %.80s\n", c->raw_insert_select);
        if (c->insert_select != nullptr) {
            PRINT('t', "psc0045", "Insert sel len= %d\n", c->insert_select->len);
            PRINT('t', "psc0050", "Text len= %d\n",
                  static_cast<int>(std::strlen(c->insert_select->text)));
            PRINT('t', "psc0055", "Select= %.70s\n", c->insert_select->text);
        }
        if (c->limit != 0) PRINT('t', "psc0055", "Limit= %d\n", c->limit);
        if (c->time_limit != 0) PRINT('t', "psc0060", "Time Limit= %d\n", c->time_limit);
        if (c->length != 0) PRINT('t', "psc0065", "Row length= %d\n", c->length);
        if (c->has_col_funct != 0) PRINT('t', "psc0070", "Has Column Function(s)\n");
        for (const columns* col = c->insert_columns; col != nullptr; col = col->next)
            column_lines(col);
        if (c->insert_where != nullptr)
            PRINT('t', "psc0150", "Ins where= %.80s..\n", c->insert_where);
        PRINT('t', "psc0155", "Insert= %.60s\n", c->insert != nullptr ? c->insert : "");
        PRINT('t', "psc0160", "Table= %s\n", c->table_name != nullptr ? c->table_name : "");
        cursor_windows(c->saturday_start, "psc0165", "Saturday start= %d\n", "psc0170",
                       "Saturday end= %d\n");
        cursor_windows(c->sunday_start, "psc0175", "Sunday start= %d\n", "psc0180",
                       "Sunday end= %d\n");
        cursor_windows(c->mon_fri_start, "psc0185", "Mon_Fri start= %d\n", "psc0190",
                       "Mon_Fri end= %d\n");
        char when[15];
        PRINT('t', "psc0195", "Window open at %s\n", secs_to_date(when, c->window_start));
        PRINT('t', "psc0200", "Window closes at %s\n", secs_to_date(when, c->window_end));
        PRINT('t', "psc0205", "Interval= %d\n", c->interval);
        if (c->history != 0)
            PRINT('t', "psc0210", "History applies\n");
        else
            PRINT('t', "psc0215", "History does not apply\n");
        if (c->demand != 0)
            PRINT('t', "psc0220", "Demand cursor\n");
        else
            PRINT('t', "psc0225", "Not a demand cursor\n");
        for (const evaluation* e = c->evaluation; e != nullptr; e = e->next) evaluation_lines(e);
    }
}
