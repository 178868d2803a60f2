// zovprobe: command line, printing and the cursor-name listing.
#include "tools/probe/probe.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "comm/zovcomm.h"
#include "model/cursor.h"
#include "model/cursor_status.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

namespace {

enum option_id {
    O_DB,
    O_SERVER,
    O_HOST,
    O_PREF,
    O_SHOW,
    O_HEADERS,
    O_CURS,
    O_PIPE,
    O_N,
    O_C,
    O_HEX,
    O_D,
    O_HELP
};

struct option_entry {
    const char* keyword;
    int length;
    int minimum;
    bool value;  // takes a value, glued or the next word
    option_id id;
};

// Tried in this order; the first that matches takes the word.
const option_entry kOptions[] = {
    {"-db", 3, 3, true, O_DB},      {"-server", 7, 2, true, O_SERVER},
    {"-host", 5, 4, true, O_HOST},  {"-pref", 5, 4, true, O_PREF},
    {"-show", 5, 4, false, O_SHOW}, {"-headers", 8, 4, false, O_HEADERS},
    {"-curs", 5, 4, true, O_CURS},  {"-pipe", 5, 4, true, O_PIPE},
    {"-n", 2, 2, true, O_N},        {"-c", 2, 2, false, O_C},
    {"-hex", 4, 4, false, O_HEX},   {"-d", 2, 2, false, O_D},
    {"-help", 5, 2, false, O_HELP},
};

// Sample count read like " %d ": leading blanks, a number; unchanged when none is read.
void read_count(const char* text, int* count) {
    errno = 0;
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (end == text || errno == ERANGE || v < INT_MIN || v > INT_MAX) return;
    *count = static_cast<int>(v);
}

bool within(const std::string& text, size_t max, const char* what) {
    if (text.size() <= max) return true;
    printf("The %s is too long (%zu characters, at most %zu).\n", what, text.size(), max);
    return false;
}

char* owned_copy(const std::string& s) {
    auto* p = static_cast<char*>(U_MALLOC(s.size() + 1));
    memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

}  // namespace

int probe_parse(int argc, const char* const* argv, probe_options* opt) {
    for (int i = 1; i < argc; i++) {
        const char* word = argv[i];
        const option_entry* match = nullptr;
        for (const auto& o : kOptions) {
            if (u_chktoken(word, o.keyword, o.length, o.minimum) == 0) {
                match = &o;
                break;
            }
        }
        if (!match) {
            opt->names += word;
            opt->names += ' ';
            continue;
        }
        std::string value;
        if (match->value) {
            if (strlen(word) > strlen(match->keyword)) {
                value = word + strlen(match->keyword);
            } else if (i + 1 < argc) {
                value = argv[++i];
            } else {
                printf("Option %s needs a value.\n", word);
                return 1;
            }
        }
        switch (match->id) {
            case O_DB:
                opt->db_type = value;
                break;
            case O_SERVER:
                opt->serverid = value;
                break;
            case O_HOST:
                opt->hostname = value;
                break;
            case O_PREF:
                opt->tmpdir = value;
                break;
            case O_SHOW:
                opt->show_cursors = true;
                break;
            case O_HEADERS:
                opt->show_header = true;
                break;
            case O_CURS:
                if (!within(value, PROBE_PREFIX_MAX, "cursor prefix")) return 1;
                opt->cursor_prefix = value;
                opt->have_prefix = true;
                break;
            case O_PIPE:
                if (!within(value, PROBE_PIPE_MAX, "pipe name")) return 1;
                opt->pipe = value;
                break;
            case O_N:
                read_count(value.c_str(), &opt->samples);
                break;
            case O_C:
                opt->print_mode = PRINT_COMPRESSED;
                break;
            case O_HEX:
                opt->print_mode = PRINT_HEX;
                break;
            case O_D: {
                opt->trace = true;
                const int n = static_cast<int>(strlen(word));
                for (int p = 2; p < n && p < 11; p++) {
                    if (word[p] == 'd') opt->levels[p - 2] = true;
                }
                break;
            }
            case O_HELP:
                return 1;
        }
    }
    // The text is refused here with the communication layer's own limit and message
    // (rather than a 2699-character buffer of the probe's): every "get" would refuse a
    // longer one anyway, after the connection was made.
    char why[96];
    if (!comm_names_text_fits(opt->names.c_str(), why, sizeof why)) {
        printf("%s\n", why);
        return 1;
    }
    return 0;
}

void probe_apply(const probe_options& opt) {
    if (!opt.db_type.empty()) env_vars.db_type = owned_copy(opt.db_type);
    if (!opt.serverid.empty()) env_vars.serverid = owned_copy(opt.serverid);
    if (!opt.hostname.empty()) env_vars.hostname = owned_copy(opt.hostname);
    if (!opt.tmpdir.empty()) env_vars.tmpdir = owned_copy(opt.tmpdir);
    if (!opt.pipe.empty()) {
        memcpy(col_pipe_name, opt.pipe.c_str(), opt.pipe.size() + 1);  // size checked
    }
    if (opt.trace) {
        trace_all = 1;
        for (int i = 0; i < 10; i++) {
            if (opt.levels[i]) my_trace_all[i] = 1;
        }
    }
}

void probe_help() {
    static const char* const kLines[] = {
        "",
        "Enter the name(s) of the cursor(s) to be tested",
        "",
        "Options:",
        " -show       = display the cursor names",
        " -curs xxx   = limit display to cursors with this prefix ",
        " -n %d      = Number of requests for the cursor(s)",
        " -c         = Compress spaces out of the output",
        " -hex       = Dump record in hex format",
        "  following e.v are used to create a pipe name ",
        "   -db %s     = database type (ZEM100,QEL100,ZEM110...)",
        "                 $COLL_VERSION",
        "   -server %s = database server name (QEL3, ZEMPROD1, ...)",
        "                 $COLL_SERVERID",
        "   -host %s   = machine name (hostname)",
        "                 $COLL_HOSTNAME",
        "   -pref %s   = pipe path prefix (/tmp/userid)",
        "                 $COLL_PREFIX",
        "  Or enter the pipe name directly",
        "   -pipe %s   = pipe name  (/tmp/userid/col_server_db_pipe)",
        "",
        "",
    };
    for (const char* line : kLines) puts(line);
    fflush(stdout);
}

void probe_print_row(const char* row, int len, int mode) {
    if (len < 0) len = 0;
    switch (mode) {
        case PRINT_COMPRESSED:
            u_print_record(row, len);
            printf("\n");
            break;
        case PRINT_HEX: {
            fflush(stdout);
            // The dump is the answer: it goes where the answer goes.
            const bool was = u_msg_on_stderr(false);
            u_print_dumpx(nullptr, row, len);
            u_msg_on_stderr(was);
            fflush(stdout);
            printf("\n");
            break;
        }
        default: {
            std::string text(row, len);
            for (char& c : text) {
                unsigned char u = static_cast<unsigned char>(c);
                if (u >= 128 || !(isalnum(u) || ispunct(u))) c = '.';
            }
            printf("%s\n\n", text.c_str());
            break;
        }
    }
}

std::string return_cursor_name(const curs_list* element, bool have_prefix,
                               const std::string& prefix) {
    std::string list;
    if (!element || element->rows <= 0 || !element->data) return list;
    for (int i = 0; i < element->rows; i++) {
        const char* row = element->data + static_cast<long>(i) * element->len;
        char name[sizeof(curs::cur_name)] = "";
        if (element->len >= static_cast<int>(CURS_STATUS_LEN)) {
            curs c{};
            curs_status_decode(reinterpret_cast<const unsigned char*>(row), &c);
            memcpy(name, c.cur_name, sizeof name);
            name[sizeof name - 1] = '\0';
        } else if (element->len > static_cast<int>(curs_status_off::cur_name)) {
            // A short record: take what there is of the name field, never beyond the row.
            int n = element->len - static_cast<int>(curs_status_off::cur_name);
            if (n > static_cast<int>(sizeof name) - 1) n = sizeof name - 1;
            memcpy(name, row + curs_status_off::cur_name, n);
            name[n] = '\0';
        }
        if (!have_prefix ||
            u_strnicmp(name, prefix.c_str(), static_cast<int>(prefix.size())) == 0) {
            list += name;
            list += ' ';
        }
    }
    return list;
}
