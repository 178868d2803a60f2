// Reading a data-set definition file.
#include "defs/dataset_file.h"

#include <fcntl.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "defs/select_lists.h"
#include "defs/tokenizer.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/strings.h"

namespace {

enum column_type { COL_INTEGER = 1, COL_CHARACTER = 2, COL_FLOAT = 3 };

struct ds_column {
    std::string name;
    column_type type;
};

struct file_closer {
    void operator()(FILE* f) const { std::fclose(f); }
};

void flush_log() { std::fflush(stder != nullptr ? stder : stdout); }

bool starts_with(const char* p, const char* prefix) {
    return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}
bool starts_with_either(const char* p, const char* lower, const char* upper) {
    return starts_with(p, lower) || starts_with(p, upper);
}

char* owned_copy(const char* text, size_t n) {
    char* s = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(s, text, n);
    s[n] = '\0';
    return s;
}

// The text in the next parentheses of p as an owned copy; null after w_o_parens' message.
char* parens_text(const char* p) {
    int n = w_o_parens(p);
    if (n == 0) return nullptr;
    return owned_copy(text_in_parens, static_cast<size_t>(n));
}

// The integer in the next parentheses; false after w_o_parens' message.
bool parens_integer(const char* p, int32_t* value) {
    if (w_o_parens(p) == 0) return false;
    *value = static_cast<int32_t>(std::strtol(text_in_parens, nullptr, 10));
    return true;
}

// The value of a column as it enters the VALUES list and the column list of the cursor.
std::string column_value(const ds_column& c) {
    std::string prefix = c.type == COL_INTEGER ? "INT!" : c.type == COL_FLOAT ? "FLOAT!" : "";
    if (c.name == "SYSTEMNAME") return prefix + "%machine";
    if (c.name == "TIMESTAMP") return prefix + "%now_time";
    if (c.name == "SAMPLENO") return prefix + "%sampleno";
    if (c.name == "ROWNO") return prefix + "%rowno";
    return prefix + c.name;
}

void upper(std::string& s) {
    for (char& ch : s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
}

}  // namespace

namespace {

// The data-set file that word names ("!" dropped, ".ULV" added), opened; null after a
// message. name receives the file name.
std::unique_ptr<FILE, file_closer> open_ulv(const char* word, std::string& name) {
    for (const char* p = word; *p != '\0' && *p != ' '; ++p)
        if (*p != '!') name += *p;
    if (name.size() > ulv_name_max) {
        PRINT('e', "cat1932", "Data-set name too long (%d > %d) : %s\n",
              static_cast<int>(name.size()), static_cast<int>(ulv_name_max), name.c_str());
        return nullptr;
    }
    name += ".ULV";
    std::unique_ptr<FILE, file_closer> file(std::fopen(name.c_str(), "re"));
    if (!file) PRINT('e', "cat1935", "Can NOT open %s\n", name.c_str());
    return file;
}

// What the lines of a data-set file have given so far. The items come in a fixed order:
// each line fills the first one still missing, and a line that does not begin with its
// keyword is passed over.
struct ulv_reading {
    curs* cursor = nullptr;
    std::string table;
    bool have_table = false;
    std::vector<ds_column> cols;
};

// The uuidpcvc line: the uuid text, then the rpc_version in the next parentheses.
bool read_uuidpcvc(curs* cursor, const char* p) {
    if ((cursor->uuidpcvc = parens_text(p)) == nullptr) return false;
    const char* close = std::strchr(std::strchr(p, '('), ')');
    const char* open = close != nullptr ? std::strchr(close, '(') : nullptr;
    if (open == nullptr) {
        PRINT('e', "cat1940", "No rpc_version\n");
        return false;
    }
    if (!parens_integer(open, &cursor->rpc_version)) {
        PRINT('e', "cat1945", "No rpc_version\n");
        return false;
    }
    return true;
}

// The interface line (after its keyword): the table name.
bool read_interface(ulv_reading& r, const char* q) {
    while (*q == ' ') ++q;
    size_t n = std::strcspn(q, " ");
    if (n > ulv_table_max) {
        PRINT('e', "cat1957", "DS table name too long (%d > %d) : %.*s\n", static_cast<int>(n),
              static_cast<int>(ulv_table_max), static_cast<int>(n), q);
        return false;
    }
    r.table.assign(q, n);
    r.have_table = true;
    return true;
}

// A column line (after its keyword): the name and the type its first letter gives.
bool read_column(ulv_reading& r, const char* q) {
    while (*q == ' ' || *q == '(') ++q;
    size_t n = std::strcspn(q, " ,");
    ds_column c{std::string(q, n), COL_CHARACTER};
    q += n;
    while (*q == ' ' || *q == ',') ++q;
    switch (*q) {
        case 'I':
        case 'i':
        case 'U':
        case 'u':
        case 'L':
        case 'l':
            c.type = COL_INTEGER;
            break;
        case 'F':
        case 'f':
            c.type = COL_FLOAT;
            break;
        case 'C':
        case 'c':
            c.type = COL_CHARACTER;
            break;
        default:
            PRINT('e', "cat1950", "Unknown column type for %s\n", c.name.c_str());
            return false;
    }
    r.cols.push_back(std::move(c));
    return true;
}

// One line of the file (leading blanks skipped) into r. False after a message.
bool read_ulv_line(ulv_reading& r, const char* p) {
    curs* cursor = r.cursor;
    if (cursor->uuidbase == nullptr) {
        if (*p != '[') return true;
        const char* q = p + 1;
        while (*q == ' ') ++q;
        if (!starts_with_either(q, "uuidbase", "UUIDBASE")) return true;
        return (cursor->uuidbase = parens_text(q)) != nullptr;
    }
    if (cursor->uuidpavc == nullptr) {
        if (!starts_with_either(p, "uuidpavc", "UUIDPAVC")) return true;
        return (cursor->uuidpavc = parens_text(p)) != nullptr;
    }
    if (cursor->uuidpcvc == nullptr) {
        if (!starts_with_either(p, "uuidpcvc", "UUIDPCVC")) return true;
        return read_uuidpcvc(cursor, p);
    }
    if (!r.have_table) {
        if (!starts_with_either(p, "interface ", "INTERFACE ")) return true;
        return read_interface(r, p + 10);
    }
    if (cursor->objid == 0) {
        if (!starts_with_either(p, "objid", "OBJID")) return true;
        return parens_integer(p, &cursor->objid);
    }
    if (cursor->set == 0) {
        if (!starts_with_either(p, "set", "SET")) return true;
        return parens_integer(p, &cursor->set);
    }
    if (!starts_with_either(p, "column ", "COLUMN ")) return true;
    return read_column(r, p + 7);
}

// Every line of the file into r, each logged as read. False after a message.
bool read_ulv_lines(ulv_reading& r, FILE* file) {
    char* line = nullptr;
    size_t cap = 0;
    ssize_t got;
    struct line_free {
        char** p;
        ~line_free() { std::free(*p); }
    } free_line{&line};
    while ((got = getline(&line, &cap, file)) > 0) {
        size_t len = static_cast<size_t>(got);
        while (len > 0 && (line[len - 1] == '\n' || line[len - 1] == '\r')) line[--len] = '\0';
        PRINT('i', "cat1940", "%s\n", line);
        flush_log();
        const char* p = line;
        while (*p == ' ') ++p;
        if (!read_ulv_line(r, p)) return false;
    }
    return true;
}

// The INSERT statement of the table's columns.
std::string insert_text(const std::string& table, const std::vector<ds_column>& cols) {
    std::string text = "INSERT INTO " + table + " (";
    for (const ds_column& c : cols) text += c.name + " , ";
    text.resize(text.size() - 2);
    text += ") VALUES (";
    for (const ds_column& c : cols) text += ":" + column_value(c) + " , ";
    text.resize(text.size() - 2);
    text += ") ";
    return text;
}

void trace_ulv(const curs* cursor) {
    PRINT('t', "cat1975", "Objid = %d, set = %d, rpc_version = %d\n", cursor->objid, cursor->set,
          cursor->rpc_version);
    if (cursor->uuidbase != nullptr) PRINT('t', "cat1980", "Uuidbase = %s\n", cursor->uuidbase);
    if (cursor->uuidpavc != nullptr) PRINT('t', "cat1985", "Uuidpavc = %s\n", cursor->uuidpavc);
    if (cursor->uuidpcvc != nullptr) PRINT('t', "cat1990", "Uuidpcvc = %s\n", cursor->uuidpcvc);
}

}  // namespace

int parse_ulv(const char* word, char* out, size_t out_size, curs* cursor) {
    std::string name;
    std::unique_ptr<FILE, file_closer> file = open_ulv(word, name);
    if (!file) return 1;
    ulv_reading r;
    r.cursor = cursor;
    if (!read_ulv_lines(r, file.get())) return 1;

    if (!r.have_table || r.table.empty()) {
        PRINT('e', "cat1955", "Did not find DS table name\n");
        return 1;
    }
    upper(r.table);
    for (ds_column& c : r.cols) upper(c.name);
    if (r.cols.empty()) {
        PRINT('e', "cat1960", "Did not find DS column(s)\n");
        return 1;
    }

    std::string text = insert_text(r.table, r.cols);
    // The statement framing adds four blanks and a zero behind the text.
    if (text.size() + 5 > out_size) {
        PRINT('e', "cat1965", "Deduced insert too long (%d > %d) for %s\n",
              static_cast<int>(text.size()), static_cast<int>(out_size) - 5, name.c_str());
        return 1;
    }

    for (const ds_column& c : r.cols)
        if (add_column(column_value(c).c_str(), cursor) != 0) return 1;
    std::memcpy(out, text.c_str(), text.size() + 1);
    PRINT('i', "cat1970", "Deduced insert: %s\n", out);
    flush_log();

    cursor->num_hvs = static_cast<int16_t>(r.cols.size());
    U_FREE(cursor->host_table);
    cursor->host_table = owned_copy(r.table.data(), r.table.size());
    if (cursor->table_name == nullptr)
        cursor->table_name = owned_copy(r.table.data(), r.table.size());
    if (cursor->trace) trace_ulv(cursor);
    return 0;
}
