// Host-variable substitution into a script's words.
#include "acquire/script_words.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

#include "collector/rows/column_lookup.h"
#include "collector/rows/dummy_rows.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_store.h"
#include "collector/rows/trace_control.h"
#include "collector/transforms/column_exits.h"
#include "collector/transforms/decode.h"
#include "defs/clause_loads.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/child.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/tempnames.h"
#include "runtime/trace.h"

namespace {

constexpr size_t kMaxName = 49;
constexpr const char kShellSyntax[] = ";|<>&$`";

bool is_space(char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; }

bool is_name_char(char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) != 0 || std::strchr("._%$", ch) != nullptr;
}

std::string shell_quote(const std::string& v) {
    std::string out = "'";
    for (char ch : v) {
        if (ch == '\'')
            out += "'\\''";
        else
            out += ch;
    }
    return out + "'";
}

// The entries of an in-list text "('a','b c',3)": each without blanks around it and without
// its enclosing quotes.
std::vector<std::string> in_list_entries(const std::string& inner) {
    std::vector<std::string> out;
    size_t pos = 0;
    for (;;) {
        size_t comma = inner.find(',', pos);
        std::string e =
            inner.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        while (!e.empty() && is_space(e.front())) e.erase(e.begin());
        while (!e.empty() && is_space(e.back())) e.pop_back();
        if (e.size() >= 2 && (e.front() == '\'' || e.front() == '"') && e.back() == e.front())
            e = e.substr(1, e.size() - 2);
        if (!e.empty()) out.push_back(e);
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return out;
}

// A fetch exit's column value loses its trailing blanks, and its trailing unprintable
// characters while more than one remains.
void cut_value(std::string& v) {
    while (!v.empty()) {
        unsigned char ch = static_cast<unsigned char>(v.back());
        if (ch == ' ' || (!std::isprint(ch) && v.size() > 1))
            v.pop_back();
        else
            break;
    }
}

class builder {
  public:
    builder(curs* c, const char* script, hv_style style, script_command* out)
        : c_(c), script_(script), style_(style), out_(out) {}

    int run() {
        const char* p = script_;
        while (*p != '\0') {
            if (*p == '[' && phase_ > 0) {
                p = host_variable(p);
                if (p == nullptr) return 1;
                continue;
            }
            raw(*p++);
        }
        end_word();
        return 0;
    }

  private:
    const char* id(const char* fetch_exit_id, const char* script_text_id) const {
        return style_ == hv_style::fetch_exit ? fetch_exit_id : script_text_id;
    }

    // The text of the command and its parameters, as the traces show it.
    void text(const std::string& s) {
        if (s.empty()) return;
        if (phase_ == 0) {
            out_->command += s;
        } else {
            phase_ = 2;
            out_->parameters += s;
        }
    }

    void end_word() {
        if (in_word_) out_->words.push_back(word_);
        word_.clear();
        in_word_ = false;
        quote_ = 0;
    }

    void start_word() {
        if (!in_word_) {
            in_word_ = true;
            quote_ = 0;
        }
    }

    // One character of the script's own text.
    void raw(char ch) {
        if (std::strchr(kShellSyntax, ch) != nullptr) out_->shell = true;
        out_->shell_text += ch;
        // The shell's own quoting of the script, so a value put inside quotes stays literal.
        if (sh_quote_ == 0 && (ch == '\'' || ch == '"') && !sh_escaped_)
            sh_quote_ = ch;
        else if (sh_quote_ == ch && (ch == '\'' || !sh_escaped_))
            sh_quote_ = 0;
        sh_escaped_ = ch == '\\' && sh_quote_ != '\'' && !sh_escaped_;
        if (phase_ == 0) {
            if (is_space(ch))
                phase_ = 1;
            else
                out_->command += ch;
        } else if (phase_ == 1) {
            if (!is_space(ch)) {
                phase_ = 2;
                out_->parameters += ch;
            }
        } else {
            out_->parameters += ch;
        }
        if (in_word_ && quote_ != 0) {
            if (ch == quote_)
                end_word();
            else
                word_ += ch;
            return;
        }
        if (is_space(ch)) {
            end_word();
            return;
        }
        if (ch == '"' || ch == '\'') {
            end_word();
            in_word_ = true;
            quote_ = ch;
            return;
        }
        start_word();
        word_ += ch;
    }

    // Resolves the host variable at p ("["); returns where scanning goes on, null on failure.
    const char* host_variable(const char* p) {
        const char* q = p + 1;
        while (*q == ' ' || *q == '\t') ++q;
        const char* name_start = q;
        if (style_ == hv_style::fetch_exit) {
            while (is_name_char(*q)) ++q;
        } else {
            while (*q != '\0' && *q != ' ' && *q != ',') ++q;
        }
        const size_t n = static_cast<size_t>(q - name_start);
        if (n > kMaxName) {
            PRINT('e', id("fxr4016", "ccc4016"),
                  "Host variable name (%.60s...) longer than %d characters in script %s\n",
                  name_start, static_cast<int>(kMaxName), script_);
            return nullptr;
        }
        char name[kMaxName + 1] = {};
        std::memcpy(name, name_start, n);
        if (style_ == hv_style::fetch_exit && *q == ']') ++q;

        columns* col = nullptr;
        curs* cur = nullptr;  // decided anew for every host variable
        if (n > 0 && find_col(c_, name, &col, &cur) == 0 && col != nullptr) {
            curs* owner = cur != nullptr ? cur : c_;
            if (owner->last_row == nullptr) {
                PRINT('e', id("fxr4020", "ccc4020"),
                      "No data in cursor (%s) for hv (%s) in script (%s)\n", owner->cur_name, name,
                      script_);
                return nullptr;
            }
            const char* v = owner->last_row->text + col->offset;
            size_t len = col->len > 0 ? static_cast<size_t>(col->len) : 0;
            if (const void* nul = std::memchr(v, '\0', len))
                len = static_cast<size_t>(static_cast<const char*>(nul) - v);
            std::string value(v, len);
            if (style_ == hv_style::fetch_exit) {
                cut_value(value);
                if (my_trace_all[6])
                    PRINT('t', "fxr4022", "Host variable '%s' replaced with '%.*s'\n", name,
                          static_cast<int>(value.size()), value.c_str());
            }
            text(value);
            out_->shell_text += shell_value(value);
            start_word();
            word_ += value;
            return q;
        }
        in_list* list = nullptr;
        if (n > 0 && std::strchr(name, '.') != nullptr) list = find_in_list(name);
        if (list != nullptr) {
            std::string inner =
                list->text != nullptr
                    ? std::string(list->text, list->len > 0 ? static_cast<size_t>(list->len)
                                                            : std::strlen(list->text))
                    : std::string();
            if (const void* nul = std::memchr(inner.data(), '\0', inner.size()))
                inner.resize(static_cast<size_t>(static_cast<const char*>(nul) - inner.data()));
            if (!inner.empty() && inner.front() == '(') inner.erase(inner.begin());
            if (!inner.empty() && inner.back() == ')') inner.pop_back();
            if (style_ == hv_style::fetch_exit && my_trace_all[6])
                PRINT('t', "fxr4014", "Host variable '%s' is an inlist\n", name);
            std::string blanked = inner;
            for (char& ch : blanked)
                if (ch == ',') ch = ' ';
            text(blanked);
            std::vector<std::string> entries = in_list_entries(inner);
            for (size_t i = 0; i < entries.size(); ++i) {
                if (i > 0) {
                    end_word();
                    out_->shell_text += ' ';
                }
                out_->shell_text += shell_value(entries[i]);
                start_word();
                word_ += entries[i];
            }
            return q;
        }
        PRINT('e', id("fxr4015", "ccc4015"), "Script host variable (%s) not found in script %s\n",
              name, script_);
        return nullptr;
    }

    // A value as literal text where it stands in the shell script.
    std::string shell_value(const std::string& v) const {
        if (sh_quote_ == '\'') return "'" + shell_quote(v) + "'";
        if (sh_quote_ == '"') {
            std::string out;
            for (char ch : v) {
                if (ch == '"' || ch == '\\' || ch == '$' || ch == '`') out += '\\';
                out += ch;
            }
            return out;
        }
        return shell_quote(v);
    }

    curs* c_;
    const char* script_;
    hv_style style_;
    script_command* out_;
    int phase_ = 0;  // 0 command, 1 blanks after it, 2 parameters
    bool in_word_ = false;
    char quote_ = 0;  // closing quote of the word being read, 0 for a plain word
    std::string word_;
    char sh_quote_ = 0;        // the shell quote open at this point of the script
    bool sh_escaped_ = false;  // the last character was an unquoted or double-quoted '\'
};

}  // namespace

int build_script_command(curs* c, const char* script, hv_style style, size_t max_command,
                         size_t max_parameters, script_command* out) {
    *out = script_command{};
    const char* tag = style == hv_style::fetch_exit ? "fxr4018" : "ccc4018";
    if (script == nullptr || *script == '\0') {
        PRINT('e', style == hv_style::fetch_exit ? "fxr4019" : "ccc4019",
              "No script text for cursor %s\n", c->cur_name);
        return 1;
    }
    if (builder(c, script, style, out).run() != 0) return 1;
    if (out->words.empty() || out->command.empty()) {
        PRINT('e', style == hv_style::fetch_exit ? "fxr4019" : "ccc4019",
              "No script text for cursor %s\n", c->cur_name);
        return 1;
    }
    if (out->command.size() >= max_command || out->parameters.size() >= max_parameters) {
        PRINT('e', tag,
              "Script of cursor %s too long: command %d (at most %d), parameters %d (at most "
              "%d) characters\n",
              c->cur_name, static_cast<int>(out->command.size()), static_cast<int>(max_command) - 1,
              static_cast<int>(out->parameters.size()), static_cast<int>(max_parameters) - 1);
        return 1;
    }
    return 0;
}

std::vector<char*> script_argv(script_command& cmd) {
    std::vector<char*> argv;
    if (cmd.shell) {
        argv.push_back(const_cast<char*>("/bin/sh"));
        argv.push_back(const_cast<char*>("-c"));
        argv.push_back(cmd.shell_text.data());
    } else {
        for (std::string& w : cmd.words) argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    return argv;
}

r_exec_chain* run_script_command(curs* c, script_command& cmd, script_run how, int limit_s,
                                 int max_lines, script_outcome* outcome) {
    if (outcome != nullptr) *outcome = script_outcome{};
    if (limit_s < 1) limit_s = 1;
    std::vector<char*> argv = script_argv(cmd);
    // Long parameters travel as the programs of the system read them.
    std::string parms_file;
    std::string flag;
    const char* stdin_text = nullptr;
    std::vector<char*> short_argv;
    if (!cmd.shell && cmd.words.size() > 1) {
        if (how == script_run::wait && cmd.parameters.size() > 1024) {
            char name[1024];
            u_createTempFileName(name, "rexecp", ' ');
            int fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            bool ok = fd >= 0 && ::write(fd, cmd.parameters.data(), cmd.parameters.size()) ==
                                     static_cast<ssize_t>(cmd.parameters.size());
            if (fd >= 0) ::close(fd);
            if (!ok) {
                PRINT('e', "fxr4029", "Cannot write the parameters of cursor %s to %s\n",
                      c->cur_name, name);
                ::unlink(name);
                return nullptr;
            }
            parms_file = name;
            flag = "-filein";
            short_argv = {argv[0], flag.data(), parms_file.data(), nullptr};
        } else if (how == script_run::timed &&
                   cmd.words[0].size() + cmd.parameters.size() + 2 > 1023) {
            flag = "--";
            stdin_text = cmd.parameters.c_str();
            short_argv = {argv[0], flag.data(), nullptr};
        }
    }
    char* const* run_argv = short_argv.empty() ? argv.data() : short_argv.data();
    // The suite's database access programs read the password from COLL_PASSWORD; no other
    // command gets it. A script with shell syntax does not either: the shell would hand it
    // to every program of its line.
    const int keeppw = !cmd.shell && u_is_db_access_program(cmd.words[0].c_str()) ? 1 : 0;
    if (how == script_run::detached) {
        if (u_AsynProcessArgv(run_argv, limit_s, keeppw) != 0)
            PRINT('e', "fxr4029", "Fetch exit %s of cursor %s could not be started\n",
                  cmd.words[0].c_str(), c->cur_name);
        return nullptr;
    }
    execopt opts{};
    opts.keeppw = static_cast<uint32_t>(keeppw);
    opts.maxRetLines = max_lines;
    opts.maxWaitTime = limit_s;
    int32_t dropped = 0;
    int32_t status = -1;
    r_exec_chain* lines =
        u_exec_argv_status(run_argv, stdin_text, limit_s, &opts, &dropped, &status);
    if (outcome != nullptr) {
        outcome->process_rc = opts.processRC;
        outcome->wait_status = status;
        outcome->odd_bytes = opts.oddBytes;
        outcome->long_lines = opts.longLines;
    }
    if (!parms_file.empty() && !u_trace_on(9)) ::unlink(parms_file.c_str());
    if (opts.processRC == pRC_ierror)
        PRINT('e', "fxr4029", "Fetch exit %s of cursor %s could not be started\n",
              cmd.words[0].c_str(), c->cur_name);
    if (opts.processRC == pRC_timedout)
        PRINT('w', "fxr4030", "Fetch exit %s of cursor %s ended at its limit of %d seconds\n",
              cmd.words[0].c_str(), c->cur_name, limit_s);
    if (opts.longLines > 0)
        PRINT('w', "fxr4034",
              "Fetch exit of cursor %s: %d output lines longer than %d bytes, each cut to one "
              "row\n",
              c->cur_name, static_cast<int>(opts.longLines), static_cast<int>(u_child_read_size));
    if (dropped > 0)
        PRINT('w', "fxr4031", "Fetch exit of cursor %s: %d output lines beyond %d dropped\n",
              c->cur_name, dropped, max_lines);
    return lines;
}
