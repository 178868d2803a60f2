// Reading the process file.
//
// The parse has three states: before the first block (only "process" is accepted), inside
// a block (the open record is not yet in the list) and ended. A value error is reported,
// marks the parse failed and the reading goes on, but the words of every later value
// statement are skipped, so a run reports the first value error and the closing checks
// that follow it. Structural errors stop the reading.
#include "defs/process_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "defs/clause_words.h"
#include "defs/distrib.h"
#include "defs/parse_support.h"
#include "defs/select_lists.h"
#include "defs/tokenizer.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/msg.h"

namespace {

struct keyword {
    const char* word;
    const char* upper;
    int code;
};

const keyword keywords[] = {
    {"process", "PROCESS", PK_PROCESS},
    {"type", "TYPE", PK_TYPE},
    {"logon_id", "LOGON_ID", PK_LOGON_ID},
    {"password", "PASSWORD", PK_PASSWORD},
    {"Saturday_start", "SATURDAY_START", PK_SATURDAY_START},
    {"Saturday_end", "SATURDAY_END", PK_SATURDAY_END},
    {"Sunday_start", "SUNDAY_START", PK_SUNDAY_START},
    {"Sunday_end", "SUNDAY_END", PK_SUNDAY_END},
    {"Mon_Fri_start", "MON_FRI_START", PK_MON_FRI_START},
    {"Mon_Fri_end", "MON_FRI_END", PK_MON_FRI_END},
    {"interval", "INTERVAL", PK_INTERVAL},
    {"holiday", "HOLIDAY", PK_HOLIDAY},
    {"server_id", "SERVER_ID", PK_SERVER_ID},
    {"time_offset", "TIME_OFFSET", PK_TIME_OFFSET},
    {"sleep", "SLEEP", PK_SLEEP},
    {"hold", "HOLD", PK_HOLD},
    {"continuous", "CONTINUOUS", PK_CONTINUOUS},
    {"class", "CLASS", PK_CLASS},
    {"send_false", "SEND_FALSE", PK_SEND_FALSE},
    {"machine_id", "MACHINE_ID", PK_MACHINE_ID},
    {"end", "END", PK_END},
};

// The three kinds of day, with the messages of their window keywords.
struct day_kind {
    const char* start_word;  // as the messages name it
    const char* end_word;
    const char* dup_id;
    const char* start_len_id;
    const char* end_len_id;
};
const day_kind days[3] = {
    {"saturday_start", "saturday_end", "ppc1060", "ppc1065", "ppc1075"},
    {"sunday_start", "sunday_end", "ppc1040", "ppc1045", "ppc1055"},
    {"mon_fri_start", "mon_fri_end", "ppc1020", "ppc1025", "ppc1035"},
};

struct proc_parse {
    distrib* open = nullptr;  // the block being read; not yet in the list
    bool failed = false;      // the parse has failed: the result is 1
    bool stop = false;        // the reading ends
    bool saw_end = false;     // an end statement was read
    int32_t today = 0;        // day number of the start of the parse
    int32_t pending[3] = {};  // pending window starts, seconds; 0 none
    char* end = nullptr;      // end of the current statement
};

// Marks the parse failed after a value error; returns 1 (the rule's result).
int value_error(proc_parse& p) {
    p.failed = true;
    return 1;
}

// A decimal number filling the whole word (an optional sign, then digits).
bool read_number(const char* word, int32_t n, long* out) {
    if (n <= 0 || n > 20) return false;
    std::string text(word, static_cast<size_t>(n));
    char* stop = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &stop, 10);
    if (errno != 0 || stop == text.c_str() || *stop != '\0') return false;
    *out = v;
    return true;
}

// HHMM of exactly four digits as seconds of the day; -1 when the word is not four digits.
int32_t hhmm_seconds(const char* word) {
    for (int i = 0; i < 4; ++i)
        if (!std::isdigit(static_cast<unsigned char>(word[i]))) return -1;
    int hh = (word[0] - '0') * 10 + (word[1] - '0');
    int mm = (word[2] - '0') * 10 + (word[3] - '0');
    return hh * 3600 + mm * 60;
}

operate** day_chain(distrib* d, int kind) {
    switch (kind) {
        case 0:
            return &d->saturday_start;
        case 1:
            return &d->sunday_start;
        default:
            return &d->mon_fri_start;
    }
}

// A Y.../N... switch word: its first character when it is 'Y' or 'N', else 0.
char yes_no(const char* word) { return word[0] == 'Y' || word[0] == 'N' ? word[0] : 0; }

int rule_type(proc_parse& p, distrib* d, const char* word, int32_t n, int32_t* advance) {
    if (d->type != DT_UNSET) {
        PRINT('e', "ppc0995", "Duplicate type specification\n");
        return value_error(p);
    }
    // Recognised by the first characters of the statement text, whatever the word's
    // length: "localhost" is local, and "sql*net" (which the tokenizer cuts at '*') is
    // taken whole, so that the rest of it is not read as further type words.
    static const struct {
        const char* text;
        int16_t type;
    } types[] = {{"local", DT_LOCAL}, {"sql*net", DT_SQLNET}, {"dial", DT_DIAL},
                 {"LOCAL", DT_LOCAL}, {"SQL*NET", DT_SQLNET}, {"DIAL", DT_DIAL},
                 {"CTLIB", DT_CTLIB}, {"ctlib", DT_CTLIB}};
    for (const auto& t : types) {
        size_t len = std::strlen(t.text);
        if (std::strncmp(word, t.text, len) == 0) {
            d->type = t.type;
            *advance = std::max<int32_t>(n, static_cast<int32_t>(len));
            return 0;
        }
    }
    PRINT('e', "ppc1000", "Unrecognized type:%.*s\n", def_shown(n), word);
    return value_error(p);
}

// Copies a word into a fixed text field after the duplicate and length checks.
int rule_text(proc_parse& p, char* field, size_t width, const char* word, int32_t n,
              const char* dup_id, const char* dup_text, const char* len_id, const char* len_text) {
    if (field[0] != '\0') {
        PRINT('e', dup_id, "%s\n", dup_text);
        return value_error(p);
    }
    if (static_cast<size_t>(n) > width) {
        PRINT('e', len_id, "%s\n", len_text);
        return value_error(p);
    }
    std::memcpy(field, word, static_cast<size_t>(n));
    return 0;
}

int rule_server_id(proc_parse& p, distrib* d, const char* word, int32_t n) {
    if (d->server_id[0] != '\0') {
        PRINT('e', "ppc1095", "Duplicate server_id specification\n");
        return value_error(p);
    }
    if (static_cast<size_t>(n) > sizeof(d->server_id)) {
        PRINT('e', "ppc1100", "Excessive length for server_id\n");
        return value_error(p);
    }
    if (n <= 7) std::memset(d->server_id, ' ', 8);
    std::memcpy(d->server_id, word, static_cast<size_t>(n));
    return 0;
}

int rule_day_start(proc_parse& p, int kind, const char* word, int32_t n) {
    const day_kind& k = days[kind];
    int32_t secs = n == 4 ? hhmm_seconds(word) : -1;
    if (n != 4) {
        PRINT('e', k.start_len_id, "Incorrect length for %s (4)\n", k.start_word);
        return value_error(p);
    }
    if (secs < 0) {
        PRINT('e', k.start_len_id, "Incorrect value for %s (HHMM): %.4s\n", k.start_word, word);
        return value_error(p);
    }
    if (p.pending[kind] != 0) {
        PRINT('e', k.dup_id, "Duplicate %s specification\n", k.start_word);
        return value_error(p);
    }
    p.pending[kind] = secs;
    return 0;
}

int rule_day_end(proc_parse& p, distrib* d, int kind, const char* word, int32_t n) {
    const day_kind& k = days[kind];
    if (n != 4) {
        PRINT('e', k.end_len_id, "Incorrect length for %s (4)\n", k.end_word);
        return value_error(p);
    }
    int32_t secs = hhmm_seconds(word);
    if (secs < 0) {
        PRINT('e', k.end_len_id, "Incorrect value for %s (HHMM): %.4s\n", k.end_word, word);
        return value_error(p);
    }
    set_operate(day_chain(d, kind), p.pending[kind] - d->time_offset, secs - d->time_offset);
    p.pending[kind] = 0;
    return 0;
}

int rule_holiday(proc_parse& p, distrib* d, const char* word, int32_t n, int32_t* advance) {
    // The tokenizer ends the word at the first '/': the word is the year, and the rest
    // of the date is read from the statement text.
    auto at = [&](int i) { return word + i < p.end ? word[i] : ' '; };
    if (at(4) != '/' || at(7) != '/') {
        PRINT('e', "ppc0970", "Invalid holiday date format (YYYY/MM/DD) \n");
        return value_error(p);
    }
    if (n != 4) {
        PRINT('e', "ppc0975", "Invalid holiday date length (10)\n");
        return value_error(p);
    }
    *advance = 10;
    char date[9] = {word[0], word[1], word[2], word[3], at(5), at(6), at(8), at(9), '\0'};
    int32_t day = relative_date(date);
    if (day < p.today) {
        PRINT('w', "ppc0980", "Comment: Holiday is in the past\n");
        return 0;
    }
    for (int32_t& slot : d->holiday) {
        if (slot == 0) {
            slot = day;
            return 0;
        }
    }
    PRINT('e', "ppc0985", "Too many holidays (%d)\n", distrib_max_holidays);
    return value_error(p);
}

int rule_time_offset(proc_parse& p, distrib* d, const char* word, int32_t n) {
    if (d->time_offset != 0) {
        PRINT('e', "ppc0990", "Duplicate time_offset\n");
        return value_error(p);
    }
    long v = 0;
    if (n > 5 || !read_number(word, n, &v)) {
        PRINT('e', "ppc0991", "Invalid time_offset (%.*s)\n", def_shown(n), word);
        return value_error(p);
    }
    long a = v < 0 ? -v : v;
    long secs = (a / 100) * 3600 + (a % 100) * 60;
    d->time_offset = static_cast<int32_t>(v < 0 ? -secs : secs);
    return 0;
}

int rule_interval(proc_parse& p, distrib* d, const char* word, int32_t n) {
    if (d->interval != 0) {
        PRINT('e', "ppc1080", "Duplicate interval\n");
        return value_error(p);
    }
    if (n > 4) {
        PRINT('e', "ppc1085", "Invalid interval length (5)\n");
        return value_error(p);
    }
    long v = 0;
    if (!read_number(word, n, &v) || v < 1) {
        PRINT('e', "ppc1086", "Invalid interval value (%.*s)\n", def_shown(n), word);
        return value_error(p);
    }
    d->interval = static_cast<int32_t>(v);
    return 0;
}

int rule_sleep(proc_parse& p, const char* word, int32_t n) {
    if (n > 4) {
        PRINT('e', "ppc1090", "Invalid sleep length (5)\n");
        return value_error(p);
    }
    long v = 0;
    if (!read_number(word, n, &v) || v < 1) {
        PRINT('e', "ppc1091", "Invalid sleep value (%.*s)\n", def_shown(n), word);
        return value_error(p);
    }
    sleep_time = static_cast<int32_t>(v);
    return 0;
}

int rule_class(proc_parse& p, distrib* d, const char* word, int32_t n) {
    long v = 0;
    if (!read_number(word, n, &v)) {
        PRINT('e', "ppc1011", "Invalid class number (%.*s)\n", def_shown(n), word);
        return value_error(p);
    }
    if (v < 0 || v >= distrib_max_classes) {
        PRINT('e', "ppc1010", "Class exceeds range\n");
        return value_error(p);
    }
    if (d->classes[v] == 1) PRINT('e', "ppc1015", "Warning - Class repeditively specified\n");
    d->classes[v] = 1;
    return 0;
}

// One value word of the open block. Returns 0, or 1 after an error. *advance is how far
// the scan moves past the word's start.
int value_rule(proc_parse& p, int code, const char* word, int32_t n, int32_t* advance) {
    distrib* d = p.open;
    switch (code) {
        case PK_TYPE:
            return rule_type(p, d, word, n, advance);
        case PK_LOGON_ID:
            return rule_text(p, d->logon_id, sizeof(d->logon_id), word, n, "ppc1115",
                             "Duplicate logon_id specification", "ppc1120",
                             "Excessive length for logon_id");
        case PK_PASSWORD:
            return rule_text(p, d->password, sizeof(d->password), word, n, "ppc1105",
                             "Duplicate password specification", "ppc1110",
                             "Excessive length for password");
        case PK_SERVER_ID:
            return rule_server_id(p, d, word, n);
        case PK_SATURDAY_START:
            return rule_day_start(p, 0, word, n);
        case PK_SUNDAY_START:
            return rule_day_start(p, 1, word, n);
        case PK_MON_FRI_START:
            return rule_day_start(p, 2, word, n);
        case PK_SATURDAY_END:
            return rule_day_end(p, d, 0, word, n);
        case PK_SUNDAY_END:
            return rule_day_end(p, d, 1, word, n);
        case PK_MON_FRI_END:
            return rule_day_end(p, d, 2, word, n);
        case PK_INTERVAL:
            return rule_interval(p, d, word, n);
        case PK_HOLIDAY:
            return rule_holiday(p, d, word, n, advance);
        case PK_TIME_OFFSET:
            return rule_time_offset(p, d, word, n);
        case PK_SLEEP:
            return rule_sleep(p, word, n);
        case PK_HOLD:
            if (yes_no(word) == 0) {
                PRINT('e', "ppc1155", "Hold is not YES/NO\n");
                return value_error(p);
            }
            d->held = word[0];
            return 0;
        case PK_CONTINUOUS:
            if (std::strcmp(d->distrib_name, "collector") != 0) {
                PRINT('e', "ppc1160", "Continuous is valid only at the collector\n");
                return value_error(p);
            }
            if (yes_no(word) == 0) {
                PRINT('e', "ppc1165", "Continuous is not YES/NO\n");
                return value_error(p);
            }
            d->continuous = word[0];
            return 0;
        case PK_SEND_FALSE:
            if (std::strcmp(d->distrib_name, "evaluator") != 0) {
                PRINT('e', "ppc1170", "Send_false is valid only for the evaluator\n");
                return value_error(p);
            }
            if (yes_no(word) == 0) {
                PRINT('e', "ppc1175", "Send_false is not YES/NO\n");
                return value_error(p);
            }
            d->send_false = word[0] == 'Y' ? 1 : 0;
            return 0;
        case PK_CLASS:
            return rule_class(p, d, word, n);
        case PK_MACHINE_ID:
            if (static_cast<size_t>(n) > sizeof(machine_id.mach)) {
                PRINT('e', "ppc1125", "Excessive length for Machine_id\n");
                return value_error(p);
            }
            std::memset(machine_id.mach, ' ', sizeof(machine_id.mach));
            std::memcpy(machine_id.mach, word, static_cast<size_t>(n));
            return 0;
        default:
            return 0;
    }
}

// The words after a value keyword, one by one, until none is left or a rule failed.
void value_statement(proc_parse& p, int code) {
    int rc = def_value_words(p.end, "ppc0955", "ppc1180",
                             [&](const char* word, int32_t n, int32_t* advance) {
                                 return value_rule(p, code, word, n, advance);
                             });
    if (rc == 1) value_error(p);
    if (rc == 2) p.failed = p.stop = true;
}

// Closes the open block: the checks, then the record joins the list.
void close_block(proc_parse& p) {
    distrib* d = p.open;
    if (d == nullptr) return;
    p.open = nullptr;
    bool bad = false;
    if (d->distrib_name[0] == '\0') {
        PRINT('e', "ppc0895", "No Process name\n");
        bad = true;
    }
    if (std::strncmp(d->distrib_name, "collector", 9) == 0) {
        if (d->type == DT_UNSET) {
            PRINT('e', "ppc0900", "No Process type specified\n");
            bad = true;
        }
        // Start-up fills these from the environment where it is set.
        if (d->logon_id[0] == '\0') PRINT('h', "ppc0905", "No Process logon id specified\n");
        if (d->password[0] == '\0') PRINT('h', "ppc0910", "No Process password specified\n");
    } else if (std::strncmp(d->distrib_name, "evaluator", 9) == 0) {
        have_evaluator = 1;
    }
    if (d->interval == 0) {
        PRINT('e', "ppc0915", "No Process interval specified\n");
        bad = true;
    }
    // A start without its end belongs to this block only: it is reported here rather
    // than carried into the next block.
    for (int kind = 0; kind < 3; ++kind) {
        if (p.pending[kind] != 0) {
            PRINT('e', "ppc0925", "%s without %s in process %s\n", days[kind].start_word,
                  days[kind].end_word, d->distrib_name);
            p.failed = true;
            p.pending[kind] = 0;
        }
    }
    if (bad) {
        p.failed = true;
        p.stop = true;
        distrib_free(d);
        return;
    }
    if (d->type == DT_SQLNET && d->server_id[0] == '\0') {
        PRINT('e', "ppc0920", "Server_id required for sql*net\n");
        p.failed = true;
        p.stop = true;
        distrib_free(d);
        return;
    }
    chain_append(&distrib_anchor, d);
}

// Opens a block for the name that follows "process". Returns 1 for a duplicate name
// (the parse ends at once), else 0.
int open_block(proc_parse& p) {
    int32_t n = def_word(p.end, "ppc0955");
    if (n < 0) {
        p.failed = p.stop = true;
        return 0;
    }
    if (n == 0) {
        PRINT('e', "ppc0940", "No Process name supplied\n");
        p.failed = p.stop = true;
        return 0;
    }
    if (n > 24) {
        PRINT('e', "ppc0945", "Process name exceeeds 24 characters\n");
        p.failed = p.stop = true;
        return 0;
    }
    distrib* d = distrib_new();
    std::memcpy(d->distrib_name, parse_word.text, static_cast<size_t>(n));
    for (distrib* o = distrib_anchor; o != nullptr; o = o->next) {
        if (std::strcmp(o->distrib_name, d->distrib_name) == 0) {
            PRINT('e', "ppc0950", "Duplicate process name: %s\n", d->distrib_name);
            distrib_free(d);
            return 1;
        }
    }
    p.open = d;
    for (int32_t& s : p.pending) s = 0;
    return 0;
}

// The line trace of the process file: the value of a password statement, which may run
// over several lines, is shown as "***".
bool masking_password = false;

bool is_password_word(const char* s, size_t n) {
    if (n < 8) return false;
    for (size_t i = 0; i < 8; ++i)
        if (std::tolower(static_cast<unsigned char>(s[i])) != "password"[i]) return false;
    return n == 8 || s[8] == ' ' || s[8] == ';';
}

void echo_masked(const char* line, size_t n, const char* id) {
    if (n > 0 && line[0] == ';') {
        PRINT('i', id, "%.*s\n", static_cast<int>(n), line);
        return;
    }
    bool ends = std::memchr(line, ';', n) != nullptr;
    if (masking_password) {
        PRINT('i', id, "***\n");
        masking_password = !ends;
        return;
    }
    size_t i = 0;
    while (i < n && line[i] == ' ') ++i;
    if (is_password_word(line + i, n - i)) {
        PRINT('i', id, "%.*s ***\n", static_cast<int>(i + 8), line);
        masking_password = !ends;
        return;
    }
    PRINT('i', id, "%.*s\n", static_cast<int>(n), line);
}

}  // namespace

int distrib_key_word(const char* text, int32_t length) {
    if (text == nullptr || length < 3 || length > 14) return 0;
    for (const keyword& k : keywords) {
        if (std::strlen(k.word) != static_cast<size_t>(length)) continue;
        if (std::memcmp(text, k.word, static_cast<size_t>(length)) == 0 ||
            std::memcmp(text, k.upper, static_cast<size_t>(length)) == 0)
            return k.code;
    }
    return 0;
}

int parse_distributor_file(FILE* input) {
    proc_parse p;
    char start_time[15];
    get_time(start_time);
    p.today = relative_date(start_time);

    def_banner("ppc0740", 55, "ppc0745", "-- Starting parse of PROCESS.CTL -- Time = ", "ppc0750",
               56);
    if (distrib_anchor != nullptr) distrib_free_all();
    collector_at = nullptr;
    have_evaluator = 0;

    masking_password = false;
    bool duplicate = false;
    def_read_statements(
        input, "ppc0770", "ppc0771",
        [&](char* end) {
            p.end = end;
            int32_t n = 0;
            int code = def_keyword(end, distrib_key_word, "ppc0775", "ppc0780", &n);
            if (code == 0) return true;
            if (code < 0) {
                p.failed = p.stop = true;
                return false;
            }
            this_start = parse_word.text + n;
            if (p.open == nullptr && code != PK_PROCESS) {
                PRINT('e', "ppc0890", "First word must be 'process'\n");
                p.failed = p.stop = true;
                return false;
            }
            if (code == PK_PROCESS || code == PK_END) {
                close_block(p);
                if (p.stop) return false;
                if (code == PK_END) {
                    p.saw_end = true;
                    return false;
                }
                if (open_block(p) != 0) {
                    duplicate = true;
                    return false;
                }
                return !p.stop;
            }
            if (!p.failed) value_statement(p, code);
            return !p.stop;
        },
        [&] {
            p.failed = p.stop = true;
            return false;
        },
        echo_masked);
    if (duplicate) return 1;
    masking_password = false;

    if (!p.saw_end && !p.failed) {
        PRINT('e', "ppc1185", "Missing end statement\n");
        p.failed = true;
    }
    distrib_free(p.open);
    p.open = nullptr;

    def_banner("ppc1190", 41, "ppc1205", "--  Process Parsing ended at ", "ppc1200", 41);
    if (p.failed) {
        PRINT('e', "ppc1210", "Parsing ended with errors\n\n");
        return 1;
    }
    for (distrib* d = distrib_anchor; d != nullptr; d = d->next) {
        if (std::strcmp(d->distrib_name, "collector") == 0) {
            if (d->time_offset != 0)
                PRINT('w', "ppc1210", "Caution! - collector has a time offset\n");
            collector_at = d;
        }
        if (d->saturday_start == nullptr) d->saturday_start = &full_day;
        if (d->sunday_start == nullptr) d->sunday_start = &full_day;
        if (d->mon_fri_start == nullptr) d->mon_fri_start = &full_day;
    }
    if (collector_at == nullptr) {
        PRINT('e', "ppc1230", "Must have a process named 'collector'\n");
        return 1;
    }
    int64_t start = relative_sec(start_time);
    for (distrib* d = distrib_anchor; d != nullptr; d = d->next) set_window(d, start);
    return 0;
}

int parse_distributor() {
    // After a failed attempt the messages stay on standard output.
    if (stder == nullptr && PRINTopenerr == 0 && u_openPRINTfile(nullptr) == nullptr) return 1;
    return def_parse_named("proc", parse_distributor_file, 1);
}
