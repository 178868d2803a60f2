// Command-line options, argument files and version headers.
#include "runtime/cmdline.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/files.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

OPTIONS options{};
int32_t Argc = 0;
char** Argv = nullptr;

namespace {

constexpr int kMaxArgumentFiles = 10;

// The list built by the last parseCmdline: one block holding the pointers and the texts.
char** g_owned_list = nullptr;

bool is_separator(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Cuts an argument file's text into words; quoted words keep their separators.
std::vector<std::string> split_words(const char* text, size_t len) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < len) {
        while (i < len && is_separator(text[i])) ++i;
        if (i >= len) break;
        char quote = text[i];
        if (quote == '"' || quote == '\'') {
            size_t start = ++i;
            while (i < len && text[i] != quote) ++i;
            words.emplace_back(text + start, i - start);
            if (i < len) ++i;  // the closing quote
        } else {
            size_t start = i;
            while (i < len && !is_separator(text[i])) ++i;
            words.emplace_back(text + start, i - start);
        }
    }
    return words;
}

bool starts_with_nocase(const std::string& word, const char* prefix) {
    size_t n = std::strlen(prefix);
    if (word.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(word[i])) != prefix[i]) return false;
    return true;
}

// One allocation: null-terminated pointer array followed by the texts.
char** build_list(const std::vector<std::string>& words) {
    size_t bytes = (words.size() + 1) * sizeof(char*);
    for (const std::string& w : words) bytes += w.size() + 1;
    char** list = static_cast<char**>(
        u_malloc(static_cast<long>(bytes), __FILE__, __LINE__, "Words(argc+i+2)"));
    char* text = reinterpret_cast<char*>(list + words.size() + 1);
    for (size_t i = 0; i < words.size(); ++i) {
        std::memcpy(text, words[i].c_str(), words[i].size() + 1);
        list[i] = text;
        text += words[i].size() + 1;
    }
    list[words.size()] = nullptr;
    return list;
}

// Option matching: the first characters of text (up to the name's length), lower-cased,
// must number at least `minimum` and begin the name.
bool option_matches(const char* text, const char* name, size_t minimum) {
    size_t name_len = std::strlen(name);
    size_t n = strnlen(text, name_len);
    if (n < minimum || n == 0) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != name[i]) return false;
    return true;
}

// Copies at most max characters and cuts it into words at white space.
std::vector<std::string> header_words(const char* text, size_t max) {
    std::string copy(text, strnlen(text, max));
    std::vector<std::string> words;
    size_t i = 0;
    while (i < copy.size()) {
        while (i < copy.size() && std::isspace(static_cast<unsigned char>(copy[i]))) ++i;
        size_t start = i;
        while (i < copy.size() && !std::isspace(static_cast<unsigned char>(copy[i]))) ++i;
        if (i > start) words.push_back(copy.substr(start, i - start));
    }
    return words;
}

void show_one_header(const char* text) {
    std::vector<std::string> w = header_words(text, 299);
    auto c = [&](size_t i) { return w[i].c_str(); };
    if (w.size() == 14 || w.size() == 13 || w.size() == 9) {
        char file[1024] = "";
        u_pfilen(c(1), nullptr, nullptr, nullptr, nullptr, file);
        std::string rev = remformat_rev(c(2));
        if (w.size() == 14)
            u_msg(nullptr, __FILE__, __LINE__, "aH", "ush0100",
                  "%-12.12s %8.8s %2.2s%3.3s%4.4s %8.8s %6.6s %2.2s%3.3s%4.4s %8.8s %.66s", file,
                  rev.c_str(), c(3), c(4), c(5), c(6), c(7), c(10), c(9), c(11), c(12), c(13));
        else if (w.size() == 13)
            u_msg(nullptr, __FILE__, __LINE__, "aH", "ush0100",
                  "%-12.12s %8.8s %2.2s%3.3s%4.4s %8.8s %6.6s %2.2s%3.3s%4.4s %8.8s", file,
                  rev.c_str(), c(3), c(4), c(5), c(6), c(7), c(10), c(9), c(11), c(12));
        else
            u_msg(nullptr, __FILE__, __LINE__, "aH", "ush0100",
                  "%-12.12s %8.8s %2.2s%3.3s%4.4s %8.8s %6.6s", file, rev.c_str(), c(3), c(4), c(5),
                  c(6), c(7));
    } else {
        u_msg(nullptr, __FILE__, __LINE__, "aH", "ush0100", "%.100s", text);
    }
}

const char* const kDefaultPrograms[] = {
    "zovcoll", "qelcoll", "zemcoll", "vikcoll", "gimcoll", "zypcoll",  "qelsql",
    "zemsql",  "viksql",  "gimsql",  "zypsql",  "zovos",   "zovprobe", "vikerr",
    "viklog",  "vikserv", "viktxt",  "qelerr",  "qellog",  "qelrel",   "zemerr",
    "zemlog",  "zemserv", "gimerr",  "gimstat", nullptr};

}  // namespace

char** parseCmdline(int argc, char** argv) {
    std::vector<std::string> words;
    for (int i = 0; i < argc && argv && argv[i]; ++i) words.emplace_back(argv[i]);

    int files = 0;
    size_t i = 0;
    while (i < words.size()) {
        const std::string w = words[i];
        if (starts_with_nocase(w, "-ddd")) {
            trace_set(w.c_str());
            words.erase(words.begin() + static_cast<long>(i));
            continue;
        }
        std::string name;
        bool from_file = false;
        if (w.size() == 7 && starts_with_nocase(w, "-filein")) {
            from_file = true;
            if (i + 1 >= words.size()) {
                name = "<unknown>";
                words.erase(words.begin() + static_cast<long>(i));
            } else {
                name = words[i + 1];
                words.erase(words.begin() + static_cast<long>(i),
                            words.begin() + static_cast<long>(i) + 2);
            }
        } else if (!w.empty() && w[0] == '@') {
            from_file = true;
            name = w.substr(1);
            words.erase(words.begin() + static_cast<long>(i));
        }
        if (!from_file) {
            ++i;
            continue;
        }
        if (++files > kMaxArgumentFiles) {
            u_msg(nullptr, __FILE__, __LINE__, "e", "utf0015",
                  "Nested file %s exceded max of 10 files\n", name.c_str());
            u_exit(15);
        }
        errno = 0;
        int32_t size = 0;
        char* text = name == "<unknown>" ? nullptr : u_loadfile(name.c_str(), nullptr, &size);
        if (!text) {
            int err = errno;
            u_msg(nullptr, __FILE__, __LINE__, "e", "utf0010", "Include file \"%s\" errno=%i %s\n",
                  name.c_str(), err, std::strerror(err));
            u_exit(95);
        }
        std::vector<std::string> spliced = split_words(text, static_cast<size_t>(size));
        U_FREE(text);
        words.insert(words.begin() + static_cast<long>(i), spliced.begin(), spliced.end());
        // Examination goes on with the first word taken from the file.
    }

    char** list = build_list(words);
    // The list of an earlier call is no longer needed: everything in it was copied.
    if (g_owned_list) u_free(g_owned_list, __FILE__, __LINE__, "argv");
    g_owned_list = list;
    Argv = list;
    Argc = static_cast<int32_t>(words.size());
    return list;
}

int32_t parseHVMCmdline(int argc, char** argv) {
    enum Kind { kText = 0, kFlagText = 1, kNumber = 2, kSet = 3, kVersion = 4 };
    struct Row {
        const char* name;
        size_t minimum;
        int type;
        int values;
        char** text;
        int32_t* number;
        uint16_t* flag;
    };
    bool debug = false;
    const Row rows[] = {
        {"logonid", 5, kText, 1, &env_vars.logonid, nullptr, nullptr},
        {"loginid", 5, kText, 1, &env_vars.logonid, nullptr, nullptr},
        {"password", 4, kText, 1, &env_vars.password, nullptr, nullptr},
        {"ctldir", 3, kText, 1, &env_vars.ctl_home, nullptr, nullptr},
        {"rdbms", 3, kText, 1, &env_vars.serverid, nullptr, nullptr},
        {"serverid", 6, kText, 1, &env_vars.serverid, nullptr, nullptr},
        {"logsdir", 4, kText, 1, &env_vars.coll_out, nullptr, nullptr},
        {"errlog", 3, kText, 1, &env_vars.errorlog, nullptr, nullptr},
        {"log", 3, kText, 1, &env_vars.errorlog, nullptr, nullptr},
        {"dbtype", 3, kText, 1, &env_vars.db_type, nullptr, nullptr},
        {"ltempdir", 5, kText, 1, &env_vars.localtmpdir, nullptr, nullptr},
        {"tempdir", 4, kText, 1, &env_vars.tmpdir, nullptr, nullptr},
        {"maxread", 4, kNumber, 1, nullptr, &env_vars.maxreadsz, nullptr},
        {"dbhome", 6, kText, 1, &env_vars.db_home, nullptr, nullptr},
        {"dbversion", 5, kText, 1, &env_vars.db_version, nullptr, nullptr},
        {"console", 7, kSet, 1, nullptr, nullptr, &options.console},
        {"initfile", 4, kText, 1, &options.dbinitfile, nullptr, nullptr},
        {"version", 3, kVersion, 0, nullptr, nullptr, nullptr},
        {"debug", 1, kFlagText, 0, nullptr, nullptr, nullptr},
    };

    parseCmdline(argc, argv);
    int n = Argc;
    char** words = Argv;
    u_env_set_field(&options.dbinitfile, nullptr);
    options = OPTIONS{};

    int i = 0;
    int32_t count = 0;
    if (n > 1 && words[0][0] != '-' && words[1][0] == '-' && std::strlen(words[0]) > 4) {
        i = 1;
        count = 1;
    }
    bool version = false;
    int version_first = 0;
    while (i < n && words[i][0] == '-') {
        const char* text = words[i] + 1;
        const Row* row = nullptr;
        for (const Row& r : rows)
            if (option_matches(text, r.name, r.minimum)) {
                row = &r;
                break;
            }
        if (!row) break;
        ++i;
        const char* value = nullptr;
        if (row->values == 1) {
            size_t name_len = std::strlen(row->name);
            if (std::strlen(text) > name_len)
                value = text + name_len;
            else if (i < n && words[i][0] != '-')
                value = words[i++];
        }
        switch (row->type) {
            case kText:
                u_env_set_field(row->text, value);
                break;
            case kFlagText:
                debug = true;
                break;
            case kNumber: {
                // Without a (valid) number the field keeps its value.
                // "12x" is refused, not read as 12: a mistyped size must not shrink the limit.
                if (!value) break;
                errno = 0;
                char* end = nullptr;
                unsigned long v = std::strtoul(value, &end, 10);
                if (errno == 0 && end != value && *end == '\0' && value[0] != '-' &&
                    v <= static_cast<unsigned long>(INT32_MAX))
                    *row->number = static_cast<int32_t>(v);
                break;
            }
            case kSet:
                *row->flag = 1;
                break;
            case kVersion:
                version = true;
                version_first = i;
                break;
        }
        if (version) break;
    }

    if (version) {
        int rest = n - version_first;
        u_header_load(rest, rest > 0 ? words + version_first : nullptr);
        u_exit(0);
    }
    if (debug) trace_set("azzzzzzzzz");
    // The words actually consumed: a value joined to its option ("-rdbmsSRV1") or missing
    // is not a second word.
    count = i;
    return count;
}

int u_test_word(const char* word, const char* const* list, int max, int flags) {
    if (!word || !list) return 0;
    if (max < 1) max = 99;
    std::string copy(word, strnlen(word, 59));
    if (!(flags & 1))
        for (char& ch : copy) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (int i = 0; i < max; ++i) {
        const char* entry = list[i];
        if (!entry || !*entry) return 0;
        if (std::strlen(entry) != copy.size()) continue;
        int cmp = std::memcmp(entry, copy.data(), copy.size());
        if (cmp == 0) return i + 1;
        if ((flags & 2) && cmp > 0) return 0;
    }
    return 0;
}

char* remformat_rev(const char* revision) {
    static char buffer[18];
    if (!revision || !*revision) return buffer;
    const char* dot = std::strchr(revision, '.');
    if (!dot) return buffer;
    std::string out;
    int parts = 0;
    const char* p = dot + 1;
    while (parts < 5) {
        const char* next = std::strchr(p, '.');
        std::string part = next ? std::string(p, static_cast<size_t>(next - p)) : std::string(p);
        out += (parts ? "." : "") + part;
        ++parts;
        if (!next) break;
        p = next + 1;
    }
    size_t n = out.size() < sizeof buffer - 1 ? out.size() : sizeof buffer - 1;
    std::memcpy(buffer, out.data(), n);
    buffer[n] = '\0';
    return buffer;
}

void show_headers(const char* first, ...) {
    va_list ap;
    va_start(ap, first);
    for (const char* text = first; text && *text; text = va_arg(ap, const char*))
        show_one_header(text);
    va_end(ap);
}

int scanforHeader(const char* start, const char* end) {
    if (!start || !end || end <= start) return 0;
    // The mark is built from two pieces so that this code does not carry one itself.
    static const char kTail[] = "Header: ";
    size_t span = static_cast<size_t>(end - start);
    if (span <= 8) return 0;
    size_t limit = span - 8;  // positions before end minus 8
    size_t text_end = span + 30;
    int found = 0;
    for (size_t i = 0; i < limit; ++i) {
        if (start[i] != '$' || std::memcmp(start + i + 1, kTail, 8) != 0) continue;
        size_t avail = text_end - i;
        std::string text(start + i, strnlen(start + i, avail < 299 ? avail : 299));
        show_headers(text.c_str(), nullptr);
        ++found;
    }
    return found;
}

void u_header_load(int count, char** names) {
    const char* const* list = names;
    if (count <= 0 || !names) {
        u_msg(nullptr, __FILE__, __LINE__, "h", "ush9053", "original parms %d - %X\n", count,
              static_cast<unsigned>(reinterpret_cast<uintptr_t>(names)));
        list = kDefaultPrograms;
        count = 99;
    }
    u_msg(nullptr, __FILE__, __LINE__, "aH", "ush9053",
          "program            vv check_in_date_time  devid compile__date_time stamp");
    for (int i = 0; i < count; ++i) {
        const char* entry = list[i];
        if (!entry || !*entry || entry[0] == '-') break;
        std::string name(entry, strnlen(entry, 1023));
        size_t b = name.find_first_not_of(" \"'");
        size_t e = name.find_last_not_of(" \"'");
        name = b == std::string::npos ? "" : name.substr(b, e - b + 1);
        if (name.empty()) continue;
        if (file_exists(name.c_str(), 0) != 0) {
            char file[1024] = "";
            char found[1024] = "";
            u_pfilen(name.c_str(), nullptr, nullptr, nullptr, nullptr, file);
            if (uf_where(file, found, nullptr, nullptr) != 0) continue;
            name = found;
        }
        int32_t size = 0;
        char* text = u_loadfile(name.c_str(), nullptr, &size);
        if (!text) continue;
        u_msg(nullptr, __FILE__, __LINE__, "a", "ush9054", "Dump headers for %s", name.c_str());
        // The scan ends 30 bytes before the end of the text; a shorter text holds none.
        if (size > 38 && scanforHeader(text, text + size - 30) > 0)
            u_msg(nullptr, __FILE__, __LINE__, "aH", "ush9056", "%s", std::string(60, '-').c_str());
        u_free(text, __FILE__, __LINE__, "program");
    }
}
