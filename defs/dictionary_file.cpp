// Reading the dictionary file.
//
// Before the first name statement only name is accepted; then one entry is open at a time
// and joins the list when the next name or end statement closes it. Value errors and
// repeated names are reported and the reading goes on; an entry without name, type or
// length stops it. Values taken from a password (the "password" parameter, or a password
// variable of the environment) are never written to the log: "***" stands for them.
#include "defs/dictionary_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "defs/clause_words.h"
#include "defs/def_keywords.h"
#include "defs/dictionary.h"
#include "defs/parse_support.h"
#include "defs/tokenizer.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

enum { DW_NAME = 1, DW_TYPE = 2, DW_INITIAL = 3, DW_NUMBER = 4, DW_END = 5 };

struct dict_parse : def_block_parse {
    dictionary* open = nullptr;          // the entry being read; not yet in the list
    std::set<const dictionary*> secret;  // entries whose initial value is a password
};

bool contains_password(const char* name) {
    if (name == nullptr) return false;
    std::string low(name);
    for (char& c : low) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return low.find("password") != std::string::npos;
}

// The text after a separator with blanks, commas and quotes stripped from both ends.
std::string stripped_default(const std::string& rest) {
    const char* set = " ,'\"";
    size_t b = rest.find_first_not_of(set);
    if (b == std::string::npos) return "";
    size_t e = rest.find_last_not_of(set);
    return rest.substr(b, e - b + 1);
}

// Resolves one "-parm" or "%VAR" reference at the start of v in place. Returns false when
// the statement ends without a value (a variable that is not found and has no separator).
bool resolve(std::string& v, char mark, bool* secret) {
    if (v.empty() || v[0] != mark) return true;
    size_t sep = v.find_first_of(" ,", 1);
    std::string name = v.substr(1, sep == std::string::npos ? std::string::npos : sep - 1);
    const char* value = nullptr;
    if (mark == '-') {
        value = search_dict_parm(name.c_str());
        if (value != nullptr && contains_password(name.c_str())) *secret = true;
    } else {
        value = u_retrieveEnvVar(name.c_str());
        if (value == nullptr) value = std::getenv(name.c_str());
        if (value != nullptr &&
            (u_env_is_password(name.c_str()) || contains_password(name.c_str())))
            *secret = true;
    }
    if (value != nullptr) {
        v = value;
        return true;
    }
    if (mark == '%' && sep == std::string::npos) {
        PRINT('w', "pdc2150", "Environmental variable %s not found\n", name.c_str());
        return false;
    }
    std::string deflt = sep == std::string::npos ? "" : stripped_default(v.substr(sep + 1));
    v = deflt.empty() ? v.substr(0, sep) : deflt;
    return true;
}

char* copy_text(const std::string& s) {
    auto* out = static_cast<char*>(U_MALLOC(s.size() + 1));
    std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

// The initial statement: value is the statement text after the keyword.
void rule_initial(dict_parse& p, const char* value) {
    dictionary* d = p.open;
    std::string v = value;
    bool secret = false;
    if (!resolve(v, '-', &secret)) return;
    if (!resolve(v, '%', &secret)) return;
    if (contains_password(d->name)) secret = true;
    const char* shown_value = secret ? "***" : v.c_str();

    std::string stored;
    if (d->orig_type != 2) {
        // Text: a quoted value loses its first and last characters, and its closing quote,
        // where that lies inside what is kept, becomes a blank.
        stored = v;
        if (!v.empty() && v[0] == '\'') {
            size_t q = v.rfind('\'');
            if (q == 0) {
                PRINT('e', "pdc2157", "Missing an ending ' in initial value %s\n", shown_value);
                p.failed = true;
                return;
            }
            stored = v.substr(1, v.size() - 2);
            if (q >= 1 && q <= v.size() - 2) stored[q - 1] = ' ';
        }
    } else {
        // Numeric: the first word, without its quotes, right-aligned in the field.
        std::string s = v;
        if (!s.empty() && s[0] == '\'') {
            size_t q = s.find('\'', 1);
            if (q == std::string::npos) {
                PRINT('e', "pdc2157", "Missing an ending ' in initial value %s\n", shown_value);
                p.failed = true;
                return;
            }
            s = s.substr(1, q - 1) + s.substr(q + 1);
        }
        size_t b = s.find_first_not_of(' ');
        std::string word = b == std::string::npos ? "" : s.substr(b, s.find(' ', b) - b);
        size_t width = d->len > 0 ? static_cast<size_t>(d->len) : 0;
        if (word.size() > width) {
            PRINT('e', "pdc2158", "Initial value %s is longer than the length %d\n",
                  secret ? "***" : word.c_str(), static_cast<int>(width));
            p.failed = true;
            return;
        }
        stored.assign(width - word.size(), ' ');
        stored += word;
    }
    U_FREE(d->initial);
    d->initial = copy_text(stored);
    if (secret)
        p.secret.insert(d);
    else
        p.secret.erase(d);
}

void rule_type(dict_parse& p, const char* value) {
    dictionary* d = p.open;
    if (d->type != 0) {
        PRINT('e', "pdc2130", "Duplicate data type\n");
        p.failed = true;
        return;
    }
    if (std::strncmp(value, "CHAR", 4) == 0 || std::strncmp(value, "char", 4) == 0) {
        const char* open = std::strchr(value + 4, '(');
        if (open == nullptr) {
            PRINT('e', "pdc2140", "No length given for the data type %.*s\n",
                  def_shown(static_cast<int64_t>(std::strcspn(value, " "))), value);
            p.failed = true;
            return;
        }
        errno = 0;
        long n = std::strtol(open + 1, nullptr, 10);
        if (errno != 0) n = 0;
        d->type = 1;
        if (n <= 0) {
            // A length that is not a positive number gives no field at all.
            PRINT('e', "pdc2136", "ERR Length of %ld below minimum(%d)\n", n, 1);
            p.failed = true;
            return;
        }
        d->len = static_cast<int16_t>(std::min<long>(n, INT16_MAX));
        if (n > dict_max_len) {
            PRINT('e', "pdc2135", "ERR Length of %ld exceeds maximum(%d)\n", n, dict_max_len);
            p.failed = true;
        }
        return;
    }
    static const char* const numeric[] = {"INTEGER", "integer", "float", "FLOAT"};
    for (const char* t : numeric) {
        if (std::strncmp(value, t, std::strlen(t)) == 0) {
            d->orig_type = 2;
            d->type = 1;
            d->len = 16;
            return;
        }
    }
    PRINT('e', "pdc2145", "Invalid data type\n");
    p.failed = true;
}

// Closes the open entry: the checks, then it joins the list.
void close_entry(dict_parse& p) {
    dictionary* d = p.open;
    if (d == nullptr) return;
    p.open = nullptr;
    bool bad = false;
    if (d->name[0] == '\0') {
        PRINT('e', "pdc2080", "No  name\n");
        bad = true;
    }
    if (d->type == 0) {
        PRINT('e', "pdc2085", "No data type\n");
        bad = true;
    }
    if (d->len == 0) {
        PRINT('e', "pdc2090", "No Length specified\n");
        bad = true;
    }
    if (d->initial == nullptr) PRINT('i', "pdc2095", "No Initial value, using default\n");
    if (bad) {
        p.failed = p.stop = true;
        p.secret.erase(d);
        U_FREE(d->initial);
        U_FREE(d);
        return;
    }
    chain_append(&dict_anchor, d);
}

// Opens an entry for the word that follows name (or end); no word ends the reading.
void open_entry(dict_parse& p) {
    int32_t n = def_block_name(
        p, "pdc2110", static_cast<int32_t>(sizeof(dictionary::name)) - 1, [](int32_t len) {
            PRINT('e', "pdc2100", "Name exceeds %d characters: %.*s\n",
                  static_cast<int>(sizeof(dictionary::name)) - 1, def_shown(len), parse_word.text);
        });
    if (n == 0) return;
    auto* d = static_cast<dictionary*>(U_MALLOC(sizeof(dictionary)));
    std::memset(d, 0, sizeof(dictionary));
    std::memcpy(d->name, parse_word.text, static_cast<size_t>(n));
    for (dictionary* o = dict_anchor; o != nullptr; o = o->next) {
        if (std::strcmp(o->name, d->name) == 0) {
            PRINT('e', "pdc2105", "Name previously used\n");
            p.failed = true;
            break;
        }
    }
    p.open = d;
}

// A type, initial or number statement of the open entry.
void value_statement(dict_parse& p, int code) {
    char* value = this_start;
    while (value < p.end && *value == ' ') ++value;
    int32_t w = def_word(p.end, "pdc2110");
    if (w < 0) {
        p.failed = true;
        return;
    }
    if (w == 0) return;
    switch (code) {
        case DW_TYPE:
            rule_type(p, value);
            break;
        case DW_INITIAL:
            rule_initial(p, value);
            break;
        case DW_NUMBER:
            p.open->orig_type = 2;
            break;
        default:
            break;
    }
}

constexpr def_block_keys dict_keys = {test_dict_word, "pdc2060", "pdc2065", DW_NAME,
                                      DW_END,         "name",    "pdc2070", "pdc2075"};

void statement(dict_parse& p) {
    def_block_statement(
        p, dict_keys, [&] { close_entry(p); }, [&] { open_entry(p); },
        [&](int code) { value_statement(p, code); });
}

}  // namespace

int parse_dict_file(FILE* input) {
    def_banner("pdc2040", 50, "pdc2045", "-- Starting parse of DICT.CTL -- Time: ", "pdc2050", 51);
    if (trace_all) {
        for (dict_parms* parm = dict_parms_anchor; parm != nullptr; parm = parm->next) {
            const char* value = contains_password(parm->name) ? "***" : parm->initial;
            PRINT('t', "pdc2164", "Parm Name= %s, Value= %s\n", parm->name ? parm->name : "",
                  value ? value : "");
        }
    }

    dict_parse p;
    def_read_blocks(input, "pdc2055", "pdc2056", p, [&] { statement(p); });
    if (p.open != nullptr) {  // no closing name or end statement: dropped
        U_FREE(p.open->initial);
        U_FREE(p.open);
        p.open = nullptr;
    }

    if (trace_all) {
        for (dictionary* d = dict_anchor; d != nullptr; d = d->next) {
            PRINT('t', "pdc2165", "Name = %s, Type = %d, len = %d", d->name, d->type, d->len);
            if (d->initial != nullptr)
                PRINT('-', "pdc2170", ", Initial = %s.\n",
                      p.secret.count(d) != 0 ? "***" : d->initial);
            else
                PRINT('-', "", "\n");
        }
    }
    def_banner("ptc4725", 45, "ptc4740", "--  Dict Control Parsing ended at ", "ptc4735", 45);
    if (p.failed) PRINT('e', "pdc2180", "Parsing ended with errors\n");
    return p.failed ? 1 : 0;
}

int parse_dict() { return def_parse_named("dict", parse_dict_file, 1); }
