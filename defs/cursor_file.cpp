// Reading the cursor file.
//
// Each statement starts with a keyword. Keywords with a value take each following word as
// a value (a second word therefore meets the duplicate test of the first); keywords acting
// on the whole statement take the text after the keyword. Host-variable words of any
// statement become columns of the cursor. if/else/endif switch the record being filled
// (cursor versions); a block is closed, checked on every version and appended to
// cur_anchor at the next cursor statement or at end.
#include "defs/cursor_file.h"

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

namespace {

fetch_ex exit_rows[8] = {
    {&exit_rows[1], 1, 1, "fetchx1", 0, 0}, {&exit_rows[2], 1, 2, "fetchx2", 0, 0},
    {&exit_rows[3], 1, 3, "fetchx3", 0, 0}, {&exit_rows[4], 1, 4, "fetchx4", 0, 0},
    {&exit_rows[5], 1, 5, "fetchx5", 0, 0}, {&exit_rows[6], 1, 9, "fetchxi1", 7, 0},
    {&exit_rows[7], 1, 9, "fetchxi", 0, 0}, {nullptr, 1, 1, "fetchxt", 0, 0},
};

}  // namespace

const fetch_ex* const exits = &exit_rows[0];

const fetch_ex* find_fetch_exit(const char* word) {
    for (const fetch_ex* row = exits; row != nullptr; row = row->prior)
        if (u_strxicmp(word, row->name) == 0) return row;
    return nullptr;
}

namespace {

// Keyword codes of the cursor file (test_word).
enum : int {
    K_HISTORY = 1,
    K_INSERT_WHERE = 2,
    K_INSERT = 3,
    K_CURSOR = 4,
    K_INSERT_SELECT = 5,
    K_SATURDAY_START = 6,
    K_SATURDAY_END = 7,
    K_SUNDAY_START = 8,
    K_SUNDAY_END = 9,
    K_MON_FRI_START = 10,
    K_MON_FRI_END = 11,
    K_INTERVAL = 12,
    K_HOLD = 13,
    K_LIMIT = 14,
    K_TIME = 15,
    K_DEMAND = 16,
    K_CLASS = 17,
    K_STALE = 18,
    K_GO_HOME = 19,
    K_TABLE_NAME = 20,
    K_SHOW_CURSOR = 21,
    K_OBJID = 22,
    K_SET = 23,
    K_UUIDBASE = 24,
    K_UUIDPAVC = 25,
    K_UUIDPCVC = 27,
    K_RPC_VERSION = 28,
    K_END = 29,
    K_VIRTUAL = 30,
    K_SAMPLES = 31,
    K_LOAD = 32,
    K_EMPTY = 33,
    K_PRE_CURSOR = 34,
    K_ITERATE = 35,
    K_IN_LIST = 36,
    K_BASE = 37,
    K_MATH = 38,
    K_AGE_TO = 39,
    K_DECODE = 40,
    K_SHOW_ROW = 41,
    K_FETCH_EXIT = 42,
    K_SCRIPT = 43,
    K_COLUMN_EXIT = 44,
    K_ONCE = 45,
    K_START_AFTER = 46,
    K_STOP_AFTER = 47,
    K_NO_SQL = 48,
    K_ITERATE_WHERE = 49,
    K_DUMMY = 50,
    K_CONDITIONAL_DUMMY = 51,
    K_SET_LEN = 52,
    K_TRACE = 53,
    K_TRACED = 54,
    K_TRACEM = 55,
    K_TRACE_ALL = 56,
    K_IF = 57,
    K_ELSE = 58,
    K_ENDIF = 59,
};

bool tracing() { return u_trace_on(8); }

// The state of one parse.
struct parse_state {
    curs* cur = nullptr;  // the record the statements fill (a branch inside if/else)
    curs* top = nullptr;  // the record opened by the cursor statement
    bool open = false;
    bool error = false;
    int last_keyword = 0;
    int32_t pending[3] = {};  // pending Saturday, Sunday and Monday-to-Friday starts
};

// The decimal value of the leading digits of a word (0 when none), within int32.
int32_t number_of(const char* word, int32_t len) {
    char text[32] = {};
    std::memcpy(text, word, static_cast<size_t>(std::min<int32_t>(len, 31)));
    errno = 0;
    long v = std::strtol(text, nullptr, 10);
    if (v > INT32_MAX) v = INT32_MAX;
    if (v < INT32_MIN) v = INT32_MIN;
    return static_cast<int32_t>(v);
}

// Seconds after midnight of a four-character hhmm word.
int32_t hhmm_seconds(const char* word) {
    return number_of(word, 2) * 3600 + number_of(word + 2, 2) * 60;
}

char* dup_text(const char* text, size_t n) {
    char* c = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(c, text, n);
    c[n] = '\0';
    return c;
}

void append_cursor(curs* c) {
    c->next = nullptr;
    chain_append(&cur_anchor, c);
}

// Calls fn on every version of the ring that starts at c's cur_version_list.
template <typename F>
void each_version(curs* c, F fn) {
    curs* start = c->cur_version_list != nullptr ? c->cur_version_list : c;
    curs* v = start;
    int guard = 0;
    do {
        fn(v);
        v = v->cur_version_list;
    } while (v != nullptr && v != start && ++guard <= max_cursor_versions);
}

// ---- keywords with a value ----------------------------------------------------------------

// A value with a duplicate test (the field is already non-zero) and a length limit. Returns
// false after the message.
struct numeric_rule {
    int code;
    const char* dup_id;
    const char* dup_text;
    int32_t max_len;
    const char* len_id;
    const char* len_text;
};

const numeric_rule numeric_rules[] = {
    {K_INTERVAL, "pcc0560", "Duplicate interval\n", 6, "pcc0565", "Invalid interval length (5)\n"},
    {K_LIMIT, "pcc0620", "Duplicate Limit\n", 4, "pcc0625", "Invalid Limit length (5)\n"},
    {K_TIME, "pcc0680", "Duplicate Time Limit\n", 4, "pcc0685", "Invalid Time Limit length (5)\n"},
    {K_CLASS, "pcc0690", "Duplicate Class Specified\n", 4, "pcc0695", "Invalid Class length (5)\n"},
    {K_STALE, "pcc0640", "Duplicate Stale time\n", 6, "pcc0645", "Invalid interval length (5)\n"},
    {K_OBJID, "pcc0610", "Duplicate objid\n", 6, "pcc0615", "Invalid set length (7)\n"},
    {K_SET, "pcc0590", "Duplicate set\n", 4, "pcc0595", "Invalid Set length (5)\n"},
    {K_RPC_VERSION, "pcc0600", "Duplicate rpc_version\n", 4, "pcc0605",
     "Invalid Rpc_version length (5)\n"},
    {K_SAMPLES, nullptr, nullptr, 4, "pcc0635", "Invalid Sample (5)\n"},
    {K_START_AFTER, "pcc0570", "Duplicate start_after\n", 3, "pcc0575",
     "Invalid start_after (4)\n"},
    {K_STOP_AFTER, "pcc0580", "Duplicate stop_after\n", 3, "pcc0585", "Invalid stop_after (4)\n"},
    {K_GO_HOME, nullptr, nullptr, 4, "pcc0630", "Invalid Go_home length (5)\n"},
};

const numeric_rule* numeric_rule_of(int code) {
    for (const numeric_rule& r : numeric_rules)
        if (r.code == code) return &r;
    return nullptr;
}

// The current value of a numeric field, for its duplicate test.
int32_t numeric_field(const curs* c, int code) {
    switch (code) {
        case K_INTERVAL:
            return c->interval;
        case K_LIMIT:
            return c->limit;
        case K_TIME:
            return c->time_limit;
        case K_CLASS:
            return c->klass;
        case K_STALE:
            return c->stale;
        case K_OBJID:
            return c->objid;
        case K_SET:
            return c->set;
        case K_RPC_VERSION:
            return c->rpc_version;
        case K_START_AFTER:
            return c->start_after;
        case K_STOP_AFTER:
            return c->stop_after;
        default:
            return 0;
    }
}

bool numeric_value(curs* c, int code, const char* word, int32_t len) {
    const numeric_rule* r = numeric_rule_of(code);
    if (r->dup_id != nullptr && numeric_field(c, code) != 0) {
        PRINT('e', r->dup_id, r->dup_text);
        return false;
    }
    if (len > r->max_len) {
        PRINT('e', r->len_id, r->len_text);
        return false;
    }
    int32_t v = number_of(word, len);
    switch (code) {
        case K_INTERVAL:
            c->interval = v;
            break;
        case K_LIMIT:
            c->limit = v;
            break;
        case K_TIME:
            c->time_limit = v;
            break;
        case K_CLASS:
            // The collector distributor has classes 0 to 49.
            if (v > 49) {
                PRINT('e', "pcc0700", "Excessive Class value\n");
                return false;
            }
            c->klass = v;
            break;
        case K_STALE:
            c->stale = v;
            break;
        case K_OBJID:
            c->objid = v;
            break;
        case K_SET:
            c->set = v;
            break;
        case K_RPC_VERSION:
            c->rpc_version = v;
            break;
        case K_SAMPLES:
            c->samples = static_cast<int16_t>(v);
            break;
        case K_START_AFTER:
            c->start_after = static_cast<int16_t>(v);
            break;
        case K_STOP_AFTER:
            c->stop_after = static_cast<int16_t>(v);
            break;
        case K_GO_HOME: {
            char now[15];
            get_time(now);
            go_home_time = static_cast<int32_t>(relative_sec(now) + v);
            break;
        }
        default:
            break;
    }
    return true;
}

// The day keywords: index of the day kind and its chain.
struct day_rule {
    int start_code;
    int end_code;
    int kind;
    const char* dup_id;
    const char* dup_text;
    const char* start_len_id;
    const char* start_len_text;
    const char* end_len_id;
    const char* end_len_text;
};

const day_rule day_rules[] = {
    {K_SATURDAY_START, K_SATURDAY_END, 0, "pcc0550", "Duplicate saturday_start specification\n",
     "pcc0555", "Incorrect length for saturday_start (4)\n", "pcc0565",
     "Incorrect length for saturday_end (4)\n"},
    {K_SUNDAY_START, K_SUNDAY_END, 1, "pcc0530", "Duplicate sunday_start specification\n",
     "pcc0535", "Incorrect length for sunday_start (4)\n", "pcc0545",
     "Incorrect length for sunday_end (4)\n"},
    {K_MON_FRI_START, K_MON_FRI_END, 2, "pcc0510", "Duplicate mon_fri_start specification\n",
     "pcc0515", "Incorrect length for mon_fri_start (4)\n", "pcc0525",
     "Incorrect length for mon_fri_end (4)\n"},
};

operate** day_chain(curs* c, int kind) {
    return kind == 0 ? &c->saturday_start : kind == 1 ? &c->sunday_start : &c->mon_fri_start;
}

bool day_value(parse_state& ps, int code, const char* word, int32_t len) {
    for (const day_rule& d : day_rules) {
        if (code == d.start_code) {
            if (ps.pending[d.kind] != 0) {
                PRINT('e', d.dup_id, d.dup_text);
                return false;
            }
            if (len != 4) {
                PRINT('e', d.start_len_id, d.start_len_text);
                return false;
            }
            ps.pending[d.kind] = hhmm_seconds(word);
            return true;
        }
        if (code == d.end_code) {
            if (len != 4) {
                PRINT('e', d.end_len_id, d.end_len_text);
                return false;
            }
            set_operate(day_chain(ps.cur, d.kind), ps.pending[d.kind], hhmm_seconds(word));
            ps.pending[d.kind] = 0;
            return true;
        }
    }
    return true;
}

// The uuid values run to the next blank, across the characters that end a word.
bool uuid_value(curs* c, int code, char* word, char* end) {
    char* q = word;
    while (q < end && *q != ' ' && *q != '\0') ++q;
    const int32_t len = static_cast<int32_t>(q - word);
    this_start = q;
    char** field = code == K_UUIDBASE   ? &c->uuidbase
                   : code == K_UUIDPAVC ? &c->uuidpavc
                                        : &c->uuidpcvc;
    if (*field != nullptr) {
        if (code == K_UUIDBASE) PRINT('e', "pcc0650", "Duplicate Uuidbase\n");
        if (code == K_UUIDPAVC) PRINT('e', "pcc0660", "Duplicate Uuidpavc\n");
        if (code == K_UUIDPCVC) PRINT('e', "pcc0670", "Duplicate Uuidpcvc\n");
        return false;
    }
    if (len > 36) {
        if (code == K_UUIDBASE) PRINT('e', "pcc0655", "Invalid Uuidbase length (36)\n");
        if (code == K_UUIDPAVC) PRINT('e', "pcc0665", "Invalid Uuidpavc length (36)\n");
        if (code == K_UUIDPCVC) PRINT('e', "pcc0675", "Invalid Uuidpcvc length (36)\n");
        return false;
    }
    *field = dup_text(word, static_cast<size_t>(len));
    return true;
}

// A table name of the insert statement: the third word, or any word with a ".".
bool insert_value(curs* c, int word_no, const char* word, int32_t len, uint16_t flags) {
    if (flags & (PW_HOSTVAR | PW_LITERAL)) return true;
    const bool dotted = std::memchr(word, '.', static_cast<size_t>(len)) != nullptr;
    if (word_no != 3 && !dotted) return true;
    if (dotted) {
        if (len <= 2) {
            PRINT('e', "pcc0715", "Invalid table name format\n");
            return false;
        }
        if (word[0] == '.' || word[len - 1] == '.') {
            PRINT('e', "pcc0720", "Invalid table name format\n");
            return false;
        }
    }
    U_FREE(c->host_table);
    c->host_table = dup_text(word, static_cast<size_t>(len));
    if (c->table_name == nullptr) c->table_name = dup_text(word, static_cast<size_t>(len));
    return true;
}

// Offers one word to the keyword's value handling. False after an error message (the rest
// of the statement is then skipped).
bool value_word(parse_state& ps, int code, int word_no, char* word, int32_t len, uint16_t flags,
                char* end) {
    curs* c = ps.cur;
    switch (code) {
        case K_SATURDAY_START:
        case K_SATURDAY_END:
        case K_SUNDAY_START:
        case K_SUNDAY_END:
        case K_MON_FRI_START:
        case K_MON_FRI_END:
            return day_value(ps, code, word, len);
        case K_INTERVAL:
        case K_LIMIT:
        case K_TIME:
        case K_CLASS:
        case K_STALE:
        case K_GO_HOME:
        case K_OBJID:
        case K_SET:
        case K_RPC_VERSION:
        case K_SAMPLES:
        case K_START_AFTER:
        case K_STOP_AFTER:
            return numeric_value(c, code, word, len);
        case K_TABLE_NAME:
            U_FREE(c->table_name);
            c->table_name = dup_text(word, static_cast<size_t>(len));
            return true;
        case K_UUIDBASE:
        case K_UUIDPAVC:
        case K_UUIDPCVC:
            return uuid_value(c, code, word, end);
        case K_AGE_TO:
            if (c->age_to_name[0] != '\0') {
                PRINT('e', "pcc0705", "Duplicate age_to entry\n");
                return false;
            }
            if (len > 8) {
                PRINT('e', "pcc0710", "Excessive length on age_to name\n");
                return false;
            }
            std::memset(c->age_to_name, 0, sizeof(c->age_to_name));
            std::memcpy(c->age_to_name, word, static_cast<size_t>(len));
            return true;
        case K_INSERT:
            return insert_value(c, word_no, word, len, flags);
        default:
            return true;
    }
}

// ---- keywords acting on the whole statement ----------------------------------------------

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
            c->held = 'Y';
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

// ---- blocks -----------------------------------------------------------------------------

// Closes the open block. False when reading is to stop.
bool close_block(parse_state& ps) {
    curs* c = ps.cur;
    ps.open = false;
    if (tracing()) PRINT('t', "QWBPIF10", "Going to edit curs %s\n", c->cur_name);
    if (edit_curs_version_set(c) != 0) {
        ps.error = true;
        reset_version_parse_state();
        append_cursor(ps.top);  // kept on the list so that del_curs releases it
        return false;
    }
    failed = 0;
    each_version(c, [](curs* v) { edit_cursor_block(v); });
    bool ok = failed == 0;
    if (ok) {
        each_version(c, [&ok](curs* v) {
            if (ok && set_selects(v) != 0) ok = false;
        });
    }
    if (c->if_tree_place != nullptr && c->if_tree_place != c)
        std::memcpy(static_cast<void*>(c), static_cast<const void*>(c->if_tree_place),
                    sizeof(curs));
    if (tracing())
        PRINT('t', "QWBPIF100", "Slot cursor %s : %p, vers_list %p, SQL %.100s, tree place %p\n",
              c->cur_name, static_cast<void*>(c), static_cast<void*>(c->cur_version_list),
              c->insert_select != nullptr ? c->insert_select->text : "",
              static_cast<void*>(c->if_tree_place));
    append_cursor(c);
    if (!ok) ps.error = true;
    return ok;
}

enum class open_result { ok, stop, duplicate };

open_result open_block(parse_state& ps, char* end) {
    int32_t n = def_word(end, "pcc0460");
    // A missing or long name stops reading without the error flag: the missing end
    // statement is then reported as well.
    if (n < 0) {
        ps.error = true;
        return open_result::stop;
    }
    if (n == 0) {
        PRINT('e', "pcc0445", "No Cursor name supplied\n");
        return open_result::stop;
    }
    if (n > 8) {
        PRINT('e', "pcc0450", "Cursor name exceeeds 8 characters\n");
        return open_result::stop;
    }
    char name[9] = {};
    std::memcpy(name, parse_word.text, static_cast<size_t>(n));
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (std::strcmp(c->cur_name, name) == 0) {
            PRINT('e', "pcc0455", "Duplicate cursor name %s\n", name);
            return open_result::duplicate;
        }
    }
    curs* c = curs_new();
    std::memcpy(c->cur_name, name, sizeof(name));
    ps.cur = c;
    ps.top = c;
    ps.open = true;
    reset_version_parse_state();
    return open_result::ok;
}

// The words after the keyword of one statement. False when reading is to stop
// (unbalanced parentheses).
bool statement_words(parse_state& ps, int code, char* end) {
    char* after_keyword = this_start;
    while (*after_keyword == ' ') ++after_keyword;
    std::string rest(after_keyword);

    if (code == K_IF) {
        char* scan = after_keyword;
        if (tracing())
            PRINT('t', "QWBPIF20", "curs %p, cur name %s, expr %.30s\n", static_cast<void*>(ps.cur),
                  ps.cur->cur_name, scan);
        int rc = parse_if(&ps.cur, &scan);
        if (tracing())
            PRINT('t', "QWBPIF30", "curs %p, cur name %s, expr %.30s, if chain %p\n",
                  static_cast<void*>(ps.cur), ps.cur->cur_name, scan,
                  static_cast<void*>(ps.cur->if_chain));
        if (rc != 0) ps.error = true;
        return true;
    }

    bool statement_error = false;
    int word_no = 1;
    for (;;) {
        int32_t len = def_word(end, "pcc0460");
        if (len < 0) {
            ps.error = true;
            return true;
        }
        if (len == 0) break;
        ++word_no;
        char* word = parse_word.text;
        const uint16_t flags = parse_word.flags;
        this_start = word + len;
        if (flags & PW_HOSTVAR) {
            char host[256];
            const size_t n = std::min(static_cast<size_t>(len), sizeof(host) - 1);
            std::memcpy(host, word, n);
            host[n] = '\0';
            if (add_column(host, ps.cur) == 0)
                ++ps.cur->num_hvs;
            else
                ps.error = true;
        }
        if (!value_word(ps, code, word_no, word, len, flags, end)) {
            statement_error = true;
            break;
        }
    }
    if (statement_error) {
        ps.error = true;
        return true;
    }
    if (!def_parens_balance("pcc0725")) {
        ps.error = true;
        return false;
    }
    if (!statement_end(ps, code, rest, end)) ps.error = true;
    return true;
}

}  // namespace

void edit_cursor_block(curs* c) {
    set_col_ordinals(c);
    std::memset(c->ssqlcode, ' ', sizeof(c->ssqlcode));
    if (c->cur_name[0] == '\0') {
        PRINT('e', "pcc0327", "No cursor name\n");
        failed = 1;
    }
    if (c->stale != 0 && c->demand == 0) {
        PRINT('t', "pcc0340", "Error - Stale only valid with demand cursor\n");
        failed = 1;
    }
    if (c->demand == 0 && c->cvirtual == 0 && c->interval == 0) {
        c->interval = 10;
        PRINT('w', "pcc0345", "Using default interval of 10 seconds for cursor %s\n", c->cur_name);
    }
    if (c->dummy != 0 && c->conditional_dummy != 0) {
        PRINT('e', "pcc0350", "Conditional_dummy_last_row and dummy_last_row are exclusive\n");
        failed = 1;
    }
    if (c->insert_columns == nullptr) {
        PRINT('e', "pcc0355", "No local columns to fetch for insert\n");
        failed = 1;
    }
    if (c->insert == nullptr) {
        PRINT('e', "pcc0360", "No model INSERT statement\n");
        failed = 1;
    }
    if (c->table_name == nullptr) {
        PRINT('e', "pcc0365", "No table name found\n");
        failed = 1;
    }
    if (c->demand == 0 && c->cvirtual == 0 && c->limit == 0 && c->time_limit == 0) {
        c->limit = 200;
        PRINT('w', "pcc0370", "Warning, No cursor row limit, using 200 rows\n");
    }
    if (c->mon_fri_start == nullptr) c->mon_fri_start = &full_day;
    if (c->saturday_start == nullptr) c->saturday_start = &full_day;
    if (c->sunday_start == nullptr) c->sunday_start = &full_day;
    if (c->once != 0 && c->empty != 0) {
        PRINT('e', "pcc0390", "Empty and Once are incompatable\n");
        failed = 1;
    }
    if (c->no_sql != 0) {
        if (c->raw_insert_select != nullptr) {
            PRINT('e', "pcc0400", "NO_SQL and INSERT_SELECT are incompatable\n");
            failed = 1;
        }
        if (c->cvirtual != 0) {
            PRINT('e', "pcc0405", "NO_SQL and VIRTUAL are incompatable\n");
            failed = 1;
        }
        if (c->base != nullptr) {
            PRINT('e', "pcc0410", "NO_SQL and BASE are incompatable\n");
            failed = 1;
        }
    }
    if (c->iterate_where != nullptr && c->iterate == nullptr) {
        PRINT('e', "pcc0415", "ITERATE_WHERE requires ITERATE\n");
        failed = 1;
    }
    if (c->fetch_exit != nullptr && c->fetch_exit->type == 1) {
        if (c->script == nullptr || c->raw_insert_select == nullptr) {
            PRINT('e', "pcc0440", "Fetch exit %s requires 'script' and 'select'\n",
                  c->fetch_exit->name);
            failed = 1;
        } else {
            // The descriptor is cut out of the select text: a version that shares the text
            // with another version gets a copy of its own first.
            bool shared = false;
            if (c->if_tree != nullptr) {
                each_version(c, [&](curs* v) {
                    if (v != c && v->raw_insert_select == c->raw_insert_select) shared = true;
                });
            }
            if (shared)
                c->raw_insert_select =
                    dup_text(c->raw_insert_select, std::strlen(c->raw_insert_select));
            if (parse_script_exit(c) != 0) failed = 1;
        }
    }
    if (c->cvirtual != 0 && c->if_tree != nullptr) {
        PRINT('e', "pcc0443", "A virtual cursor (%s) can't be conditional\n", c->cur_name);
        failed = 1;
    }
}

int parse_curs_file(FILE* input) {
    reset_version_parse_state();
    def_banner("pcc0275", 51, "pcc0280", "-- Starting parse of COLLECT.CTL -- Time = ", "pcc0285",
               51);
    if (cur_anchor != nullptr) del_curs();

    parse_state ps;
    bool duplicate = false;
    def_read_statements(
        input, "pcc0305", "pcc0306",
        [&](char* end) {
            int32_t n = 0;
            const int code = def_keyword(
                end, [](const char* w, int32_t len) -> int { return test_word(w, len); }, "pcc0310",
                "pcc0315", &n);
            if (code == 0) return true;
            if (code < 0) {
                ps.error = true;
                return false;
            }
            const char* word = parse_word.text;
            if (!ps.open && ps.top == nullptr) {
                if (n != 6) {
                    PRINT('e', "pcc0320", "First word must be 'cursor'\n");
                    ps.error = true;
                    return false;
                }
                if (std::strncmp(word, "cursor", 6) != 0 && std::strncmp(word, "CURSOR", 6) != 0) {
                    PRINT('e', "pcc0325", "First word must be 'cursor'\n");
                    ps.error = true;
                    return false;
                }
            }
            ps.last_keyword = code;
            this_start = parse_word.text + n;
            if (code == K_CURSOR || code == K_END) {
                if (ps.open && !close_block(ps)) return false;
                if (code == K_END) return false;
                open_result o = open_block(ps, end);
                if (o == open_result::duplicate) {
                    duplicate = true;
                    return false;
                }
                return o != open_result::stop;
            }
            if (ps.error) return true;
            return statement_words(ps, code, end);
        },
        [&] {
            ps.error = true;
            return true;
        });
    if (duplicate) {
        reset_version_parse_state();
        return 1;
    }
    if (ps.last_keyword != K_END && !ps.error) {
        PRINT('e', "pcc0730", "Missing end statement\n");
        ps.error = true;
    }
    if (ps.open) {
        // A block the file left open is kept on the list, so that del_curs releases it.
        reset_version_parse_state();
        append_cursor(ps.top);
        ps.open = false;
    }
    if (ps.last_keyword == K_END && trace_all != 0) {
        for (curs* c = cur_anchor; c != nullptr; c = c->next) {
            c->trace = 1;
            each_version(c, [](curs* v) { v->trace = 1; });
        }
    }

    def_banner("pcc0735", 42, "pcc0740", "--  Collector Parsing ended at ", "pcc0745", 42);
    if (ps.error) {
        PRINT('e', "pcc0755", "Parsing ended with errors\n");
        return 1;
    }
    char stamp[15];
    get_time(stamp);
    const int64_t rel = relative_sec(stamp);
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        c->dist_ptr = collector_at;
        each_version(c, [](curs* v) { v->dist_ptr = collector_at; });
        set_window_c(c, rel);
    }
    return 0;
}

int parse_curs() {
    // After a failed attempt the messages stay on standard output.
    if (stder == nullptr && PRINTopenerr == 0 && u_openPRINTfile(nullptr) == nullptr) return 1;
    return def_parse_named("coll", parse_curs_file, 1);
}
