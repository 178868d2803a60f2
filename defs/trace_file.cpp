// Reading the trace file.
//
// No block structure: each statement is a keyword and, for the per-cursor switches, a list
// of cursor names. A name that is too long or names no cursor is reported and the reading
// goes on; only a tokenizer failure on a first word and an unknown keyword stop it.
#include "defs/trace_file.h"

#include <cstring>

#include "defs/def_keywords.h"
#include "defs/parse_support.h"
#include "defs/tokenizer.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

enum {
    TW_TRACE = 1,
    TW_TRACEM = 2,
    TW_TRACED = 3,
    TW_ALL = 4,
    TW_SHOW_ROW = 5,
    TW_SHOW_CURSOR = 6,
    TW_END = 7
};

// The messages of one per-cursor switch.
struct switch_msgs {
    const char* long_id;
    const char* long_text;
    const char* missing_id;
    const char* missing_text;
};

const switch_msgs* msgs_of(int code) {
    static const switch_msgs trace = {"ptc4645", "Trace cursor name too long : %.*s\n", "ptc4655",
                                      "Cursor to trace (%s) not found\n"};
    static const switch_msgs tracem = {"ptc4670", "Tracem cursor name too long : %.*s\n", "ptc4680",
                                       "Cursor on which to trace math (%s) not found\n"};
    static const switch_msgs traced = {"ptc4685", "Traced cursor name too long : %.*s\n", "ptc4695",
                                       "Cursor on which to trace decodes (%s) not found\n"};
    static const switch_msgs show_row = {"ptc4700", "Show_row cursor name too long : %.*s\n",
                                         "ptc4705", "Cursor on which to show_row (%s) not found\n"};
    static const switch_msgs show_cursor = {"ptc4710", "Show_cursor cursor name too long : %.*s\n",
                                            "ptc4715",
                                            "Cursor on which to show_cursor (%s) not found\n"};
    switch (code) {
        case TW_TRACE:
            return &trace;
        case TW_TRACEM:
            return &tracem;
        case TW_TRACED:
            return &traced;
        case TW_SHOW_ROW:
            return &show_row;
        default:
            return &show_cursor;
    }
}

void set_switch(curs* c, int code) {
    switch (code) {
        case TW_TRACE:
            c->trace = 1;
            break;
        case TW_TRACEM:
            c->tracem = 1;
            break;
        case TW_TRACED:
            c->traced = 1;
            break;
        case TW_SHOW_ROW:
            c->show_row = 1;
            break;
        case TW_SHOW_CURSOR:
            c->show_cursor = 1;
            break;
        case TW_ALL:
            c->trace = 1;
            c->show_cursor = 1;
            c->show_row = 1;
            break;
        default:
            break;
    }
}

// Sets the switch on the cursor and on every other version in its ring.
void set_on_versions(curs* c, int code) {
    curs* v = c;
    int guard = 0;
    do {
        set_switch(v, code);
        v = v->cur_version_list;
    } while (v != nullptr && v != c && ++guard < 100000);
}

// The cursor names after a per-cursor switch. Returns true when an error was reported.
bool name_list(int code, char* end) {
    const switch_msgs* m = msgs_of(code);
    bool error = false;
    for (;;) {
        int32_t n = def_word(end, "ptc4635");
        if (n < 0) return true;
        if (n == 0) break;
        const char* word = parse_word.text;
        this_start = parse_word.text + n;
        if (parse_word.flags & PW_COMMA) continue;
        if (n > 9) {
            PRINT('e', m->long_id, m->long_text, def_shown(n), word);
            return true;
        }
        // A nine-character name matches no cursor, whose names have at most eight.
        char name[10] = {};
        std::memcpy(name, word, static_cast<size_t>(n));
        curs* found = find_cursor(name);
        if (found == nullptr) {
            PRINT('e', m->missing_id, m->missing_text, name);
            error = true;
            continue;
        }
        set_on_versions(found, code);
        trace_something = 1;
    }
    return error;
}

}  // namespace

int parse_trace_file(FILE* input) {
    def_banner("ptc4615", 52, "ptc4620", "-- Starting parse of TRACE.CTL --- Time = ", "ptc4625",
               52);

    bool errors = false;
    def_read_statements(
        input, "ptc4630", "ptc4631",
        [&](char* end) {
            failed = 0;
            int32_t n = 0;
            int code = def_keyword(end, test_trace_word, "ptc4635", "ptc4640", &n);
            if (code == 0) return true;
            if (code < 0) {
                errors = true;
                return false;
            }
            this_start = parse_word.text + n;
            if (code == TW_END) return false;
            if (code == TW_ALL) {
                for (curs* c = cur_anchor; c != nullptr; c = c->next) set_on_versions(c, TW_ALL);
                trace_all = 1;
                trace_something = 1;
                return true;
            }
            if (name_list(code, end)) errors = true;
            return true;
        },
        [&] {
            errors = true;
            return true;
        });

    def_banner("ptc4725", 46, "ptc4740", "--  Trace Control Parsing ended at ", "ptc4735", 46);
    if (errors)
        PRINT('e', "ptc4755", "Trace Parsing ended with errors\n");
    else
        PRINT('i', "ptc4760", "Trace Parsing ended ok\n");
    return errors ? 1 : 0;
}

int parse_trace() { return def_parse_named("trac", parse_trace_file, 0); }
