// Reading the cursor file: the keywords that act on the whole statement (INSERT, fetch
// exits, the clauses) once its words are read.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "defs/clause_math.h"
#include "defs/clause_words.h"
#include "defs/cursor_file.h"
#include "defs/cursor_file_parts.h"
#include "defs/cursor_versions.h"
#include "defs/dataset_file.h"
#include "defs/distrib.h"
#include "defs/parse_support.h"
#include "defs/select_lists.h"
#include "defs/tokenizer.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

namespace cursor_file_detail {
namespace {

bool insert_statement(parse_state& ps, char* end) {
    curs* c = ps.cur;
    if (c->insert != nullptr) {
        PRINT('e', "pcc0465", "Duplicate INSERT entry\n");
        return false;
    }
    char* s = buffer;
    while (*s == ' ') ++s;
    size_t length = static_cast<size_t>(end - s);
    if (std::strncmp(s, "INSERT ", 7) == 0) {
        char* q = s + 7;
        while (*q == ' ') ++q;
        if (*q == '!') {
            if (parse_ulv(q, buffer, sizeof_buffer, c) != 0) {
                failed = 1;
                return false;
            }
            s = buffer;
            length = std::strlen(s);
            while (length > 0 && s[length - 1] == ' ') --length;
        }
    }
    c->insert = dup_text(s, length);
    if (compact_insert(c, static_cast<int32_t>(length)) != 0) {
        failed = 1;
        return false;
    }
    if (c->num_hvs != c->num_cols) {
        PRINT('e', "pcc0470", "On INSERT, num of cols (%d) is not num HVs (%d)\n", c->num_cols,
              c->num_hvs);
        int i = 0;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next, ++i)
            PRINT('i', "pcc0475", "Col #%d = %s\n", i, col->col_name);
        failed = 1;
        return false;
    }
    return true;
}

// The time limit written after "t": a positive number, else 30 seconds.
int32_t timed_exit_limit(const char* text) {
    const size_t n = std::strlen(text);
    if (n == 0 || n > 9 || std::strspn(text, "0123456789") != n) return 30;
    int32_t v = number_of(text, static_cast<int32_t>(n));
    return v > 0 ? v : 30;
}

bool fetch_exit_statement(curs* c, const std::string& rest) {
    if (c->fetch_exit != nullptr) {
        PRINT('e', "pcc0480", "Duplicate fetch_exit entry\n");
        return false;
    }
    std::string word = rest.substr(0, rest.find(' '));
    const fetch_ex* row = find_fetch_exit(word.c_str());
    if (row == nullptr) {
        PRINT('e', "pcc0485", "Fetch exit routine not known\n");
        return false;
    }
    auto* copy = static_cast<fetch_ex*>(U_MALLOC(sizeof(fetch_ex)));
    *copy = *row;
    copy->prior = nullptr;
    const size_t name_len = std::strlen(row->name);
    if (word.size() > name_len) {
        const char mode = word[name_len];
        if (mode == 't') {
            copy->option = 1;
            copy->optval = timed_exit_limit(word.c_str() + name_len + 1);
        } else if (mode == 'p') {
            copy->option = 2;
        }
    }
    c->fetch_exit = copy;
    return true;
}

char* owned_rest(const std::string& rest) { return dup_text(rest.data(), rest.size()); }

}  // namespace

// The statement-end action of a keyword. False when it failed.
bool statement_end(parse_state& ps, int code, const std::string& rest, char* end) {
    curs* c = ps.cur;
    // Clause parsers read from a scratch copy of the rest.
    std::string scratch = rest;
    char* text = scratch.data();
    switch (code) {
        case K_HISTORY:
            c->history = 1;
            return true;
        case K_HOLD:
            hold(c);
            return true;
        case K_DEMAND:
            c->demand = 1;
            return true;
        case K_SHOW_CURSOR:
            c->show_cursor = 1;
            return true;
        case K_VIRTUAL:
            c->cvirtual = 1;
            return true;
        case K_EMPTY:
            c->empty = 1;
            return true;
        case K_SHOW_ROW:
            c->show_row = 1;
            return true;
        case K_ONCE:
            c->once = 1;
            return true;
        case K_NO_SQL:
            c->no_sql = 1;
            return true;
        case K_DUMMY:
            c->dummy = 1;
            return true;
        case K_CONDITIONAL_DUMMY:
            c->conditional_dummy = 1;
            return true;
        case K_TRACE:
            c->trace = 1;
            trace_something = 1;
            return true;
        case K_TRACED:
            c->traced = 1;
            trace_something = 1;
            return true;
        case K_TRACEM:
            c->tracem = 1;
            trace_something = 1;
            return true;
        case K_TRACE_ALL:
            trace_all = 1;
            trace_something = 1;
            return true;
        case K_INSERT_WHERE:
            if (c->insert_where != nullptr) {
                PRINT('e', "pcc0495", "Duplicate insert_where entry\n");
                return false;
            }
            c->insert_where = owned_rest(rest);
            return true;
        case K_INSERT_SELECT:
            if (c->raw_insert_select != nullptr) {
                PRINT('e', "pcc0500", "Duplicate insert_select entry\n");
                return false;
            }
            c->raw_insert_select = owned_rest(rest);
            if (rest.find('[') != std::string::npos) c->has_hvs_in_sel = 1;
            return true;
        case K_SCRIPT:
            if (c->script != nullptr) {
                PRINT('e', "pcc0490", "Duplicate script entry\n");
                return false;
            }
            c->script = owned_rest(rest);
            return true;
        case K_LOAD: {
            auto* l = static_cast<load_text*>(U_MALLOC(sizeof(load_text)));
            l->next = nullptr;
            l->text = owned_rest(rest);
            chain_append(&c->loadt, l);
            return true;
        }
        case K_PRE_CURSOR:
            return parse_pre_cursor(c, text) == 0;
        case K_ITERATE:
            return parse_iterate(c, text) == 0;
        case K_IN_LIST:
            return parse_in_list(c, text) == 0;
        case K_BASE:
            return parse_base(c, text) == 0;
        case K_MATH:
            return parse_math(c, text) == 0;
        case K_DECODE:
            return parse_decode(c, text) == 0;
        case K_COLUMN_EXIT:
            return parse_col_ex(c, text) == 0;
        case K_ITERATE_WHERE:
            return parse_iterate_where(c, text) == 0;
        case K_SET_LEN:
            return parse_set_len(c, text) == 0;
        case K_ELSE:
            return parse_else(&ps.cur) == 0;
        case K_ENDIF:
            return parse_endif(&ps.cur) == 0;
        case K_FETCH_EXIT:
            return fetch_exit_statement(c, rest);
        case K_INSERT:
            return insert_statement(ps, end);
        default:
            return true;
    }
}

}  // namespace cursor_file_detail
