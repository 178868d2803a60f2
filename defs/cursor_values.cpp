// Reading the cursor file: the keywords that take each following word as a value.
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

}  // namespace

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

}  // namespace cursor_file_detail
