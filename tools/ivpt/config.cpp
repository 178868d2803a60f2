// Configuration files of the monitored databases and the configured run: each file of
// this host that is installed gives one run of zovivpt itself with that database's
// settings in its environment.
#include <glob.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/strings.h"
#include "runtime/trace.h"
#include "tools/ivpt/ivpt.h"

extern char** environ;

namespace {

constexpr int kMaxLines = 500;
constexpr size_t kMaxLineLength = 1022;
constexpr size_t kMaxServerId = 255;

enum Key { kSid, kHome, kLogin, kPassword, kType, kHostname, kInstallStatus, kVer, kKeys };
const char* const kKeyNames[] = {"db_sid",           "db_home", "db_login",
                                 "db_password",      "db_type", "db_hostname",
                                 "db_installstatus", "db_ver",  nullptr};

bool blank(char c) { return c == ' ' || c == '\t'; }

// The key and value of a "db_" line: "key = value", "key=value" and "key value" all give
// the value; a quoted value keeps its blanks. Empty key or value: nothing.
bool split_line(const std::string& line, std::string& key, std::string& value) {
    size_t p = 0, n = line.size();
    while (p < n && !blank(line[p]) && line[p] != '=') ++p;
    key = line.substr(0, p);
    while (p < n && blank(line[p])) ++p;
    if (p < n && line[p] == '=') ++p;
    while (p < n && blank(line[p])) ++p;
    if (p < n && (line[p] == '"' || line[p] == '\'')) {
        char quote = line[p++];
        size_t end = line.find(quote, p);
        value = line.substr(p, end == std::string::npos ? std::string::npos : end - p);
    } else {
        size_t start = p;
        while (p < n && !blank(line[p])) ++p;
        value = line.substr(start, p - start);
    }
    return !key.empty() && !value.empty();
}

// The line as shown: the value of a db_password line, in any case and commented out or
// not, is replaced by "***".
std::string masked(const std::string& line) {
    size_t p = line.find_first_not_of(" \t#");
    if (p == std::string::npos) return line;
    std::string key, value;
    if (split_line(line.substr(p), key, value) && u_stricmp(key.c_str(), "db_password") == 0)
        return line.substr(0, p) + key + " = ***";
    return line;
}

// The lines of a file with their CR and trailing blanks dropped; false when it cannot be
// opened. Reads one line past the limit so an overlong file can be told apart.
bool read_lines(const char* path, std::vector<std::string>& lines) {
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    while (static_cast<int>(lines.size()) <= kMaxLines && std::getline(in, line)) {
        if (line.size() > kMaxLineLength) line.resize(kMaxLineLength);
        while (!line.empty() && (line.back() == '\r' || blank(line.back()))) line.pop_back();
        lines.push_back(line);
    }
    return true;
}

void export_value(const char* name, const std::string& value) { u_putenv(name, value.c_str()); }

// Takes a value into an env_vars field and exports it under its variable.
void take(char** field, const char* name, const std::string& value) {
    u_env_set_field(field, value.c_str());
    export_value(name, value);
}

// The environment and the env_vars fields a configuration file may change, kept so that
// every re-run starts from the tool's own and sees nothing of another file.
class Saved {
  public:
    Saved() {
        for (char** e = environ; e && *e; ++e) env_.emplace_back(*e);
        for (int k = 0; k < kFields; ++k)
            if (*fields()[k]) values_[k] = *fields()[k];
    }
    void restore() const {
        std::vector<std::string> names;
        for (char** e = environ; e && *e; ++e) {
            std::string entry = *e;
            names.push_back(entry.substr(0, entry.find('=')));
        }
        for (const std::string& name : names) {
            bool kept = std::any_of(env_.begin(), env_.end(), [&](const std::string& s) {
                return s.compare(0, name.size() + 1, name + "=") == 0 || s == name;
            });
            if (!kept) unsetenv(name.c_str());
        }
        std::vector<std::string> done;
        for (const std::string& entry : env_) {
            size_t eq = entry.find('=');
            if (eq == std::string::npos) continue;
            std::string name = entry.substr(0, eq), value = entry.substr(eq + 1);
            // Of a name given twice the first entry is the one in force.
            if (std::find(done.begin(), done.end(), name) != done.end()) continue;
            done.push_back(name);
            const char* now = std::getenv(name.c_str());
            if (!now || value != now) setenv(name.c_str(), value.c_str(), 1);
        }
        for (int k = 0; k < kFields; ++k)
            u_env_set_field(fields()[k], values_[k] ? values_[k]->c_str() : nullptr);
    }

  private:
    static constexpr int kFields = 5;
    static char** const* fields() {
        static char** const list[kFields] = {&env_vars.serverid, &env_vars.db_home,
                                             &env_vars.logonid, &env_vars.password,
                                             &env_vars.db_type};
        return list;
    }
    std::vector<std::string> env_;
    std::optional<std::string> values_[kFields];
};

// Backslash before every character glob would read as a pattern.
std::string glob_quote(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '*' || c == '?' || c == '[' || c == ']' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

// The path of the running program, for the re-runs.
std::string own_program() {
    char path[4096];
    ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n > 0) return std::string(path, static_cast<size_t>(n));
    return margv0 ? margv0 : "zovivpt";
}

}  // namespace

int setEnvFromCfg(const char* path) {
    std::vector<std::string> lines;
    if (!path || !read_lines(path, lines)) {
        if (u_trace_on(0)) std::printf("-- Could not open config file: %s\n", path ? path : "");
        return 9;
    }
    if (static_cast<int>(lines.size()) > kMaxLines) {
        std::printf("-- Config file %s has more than %d lines; not used\n", path, kMaxLines);
        return 3;
    }
    std::optional<std::string> value[kKeys];
    for (const std::string& line : lines) {
        if (u_trace_on(9)) std::printf("-- Config file line: %s\n", masked(line).c_str());
        size_t p = line.find_first_not_of(" \t");
        if (p == std::string::npos || line.compare(p, 3, "db_") != 0) continue;
        std::string key, text;
        if (!split_line(line.substr(p), key, text)) continue;
        int k = u_test_word(key.c_str(), kKeyNames, 0, 0);
        if (k > 0) value[k - 1] = text;
    }
    if (!value[kInstallStatus] || !value[kHostname]) return 3;
    if (u_stricmp(value[kInstallStatus]->c_str(), "CONFIGSUCCESS") != 0) return 1;
    if (!env_vars.hostname || u_stricmp(value[kHostname]->c_str(), env_vars.hostname) != 0)
        return 2;
    if (!value[kSid] || !value[kLogin] || !value[kPassword] || !value[kType]) return 3;

    if (u_trace_on(4)) std::printf("-- Matching config file: %s\n", path);
    if (!u_trace_on(9))
        for (const std::string& line : lines) std::printf("%s\n", masked(line).c_str());
    std::fflush(stdout);

    // Every value the file gives is exported, equal to the current one or not: the re-run
    // reads its settings from the environment alone.
    take(&env_vars.serverid, "COLL_SERVERID", *value[kSid]);
    if (char* home = u_getenv("COLL_DBHOME", -2, nullptr)) {
        u_env_set_field(&env_vars.db_home, home);
        U_FREE(home);
    }
    if (value[kHome]) take(&env_vars.db_home, "COLL_DBHOME", *value[kHome]);
    take(&env_vars.logonid, "COLL_LOGON", *value[kLogin]);
    take(&env_vars.password, "COLL_PASSWORD", *value[kPassword]);
    if (value[kVer]) export_value("COLL_DBVERSION", *value[kVer]);
    take(&env_vars.db_type, "COLL_VERSION", *value[kType]);

    const std::string home = env_vars.db_home ? env_vars.db_home : "";
    const std::string& sid = *value[kSid];
    const char* type = value[kType]->c_str();
    const char* search = std::getenv("PATH");
    const std::string path_now = search ? search : "";
    struct Product {
        const char* prefix;
        const char* home_var;
        const char* server_var;
        const char* separator;
        const char* bin;
    };
    static const Product kProducts[] = {
        {"qel", "ORACLE_HOME", "ORACLE_SID", ":", "/bin"},
        {"zem", "SYBASE", "DSQUERY", ":", "/bin"},
        {"gim", "INFORMIXDIR", "INFORMIXSERVER", ":", "/bin"},
        {"vik", "MSSQL_HOME", "INST", ";", "\\binn"},
    };
    for (const Product& p : kProducts) {
        if (u_strxicmp(type, p.prefix) != 0) continue;
        if (!home.empty()) export_value(p.home_var, home);
        export_value(p.server_var, sid);
        if (!home.empty()) export_value("PATH", path_now + p.separator + home + p.bin);
        break;
    }
    return 0;
}

int test_do_all() {
    const char* dir = env_vars.config_dir;
    if (!dir || !*dir) {
        std::printf("-- configuration directory was not set.\n");
        return 4;
    }
    std::string word = parm1 ? parm1 : "";
    const std::string base =
        glob_quote(dir) + "/" + glob_quote(env_vars.hostname ? env_vars.hostname : "");
    std::vector<std::string> patterns;
    if (word.size() == 3) {
        std::string type = word;
        u_strlower(type.data());
        bool all = type == "all";
        if (all || type == "qel") patterns.push_back(base + "*_el_*.cfg");
        if (all || type == "zem") patterns.push_back(base + "*_em_*.cfg");
        if (all || type == "gim") patterns.push_back(base + "*_im_*.cfg");
    } else {
        if (word.size() > kMaxServerId) word.resize(kMaxServerId);
        patterns.push_back(base + "*" + glob_quote(word) + "*.cfg");
    }
    if (u_trace_on(2)) {
        std::string shown;
        for (const std::string& p : patterns) shown += p + " ";
        std::printf("-- config file patterns=%s.\n", shown.c_str());
    }
    // One sorted list, as ls shows its arguments in the C locale; a file that two
    // patterns find is run once.
    std::vector<std::string> files;
    for (const std::string& p : patterns) {
        glob_t g{};
        if (glob(p.c_str(), 0, nullptr, &g) == 0)
            for (size_t k = 0; k < g.gl_pathc; ++k) files.emplace_back(g.gl_pathv[k]);
        globfree(&g);
    }
    std::sort(files.begin(), files.end());
    files.erase(std::unique(files.begin(), files.end()), files.end());

    const std::string self = own_program();
    const size_t dir_len = std::strlen(dir);
    int worst = 0;
    for (const std::string& file : files) {
        if (u_trace_on(8)) std::printf("-- Config file: %s\n", file.c_str());
        if (file.size() <= dir_len || file.compare(0, dir_len, dir) != 0) continue;
        Saved saved;
        if (setEnvFromCfg(file.c_str()) == 0) {
            // The type word from a copy: the database type itself stays whole.
            std::string type = env_vars.db_type ? env_vars.db_type : "";
            u_strlower(type.data());
            if (type.size() > 3) type.resize(3);
            std::string parms;
            if (fetch_exit_debug[0]) {
                parms += std::string(fetch_exit_debug) + " -setdebug ";
                if (u_trace_on(7)) parms += "-get_envs ";
            }
            if (test) parms += "-test ";
            if (sub_out) parms += "-out ";
            if (limit > 1) parms += "-limit " + std::to_string(limit) + " ";
            if (quiet != 0) parms += "-quiet " + std::to_string(quiet) + " ";
            parms += "-testpass -" + type + " -" + type + "db";
            int kept_test = test;
            test = 0;
            int rc = run_cmd(self.c_str(), {W(parms.c_str())}, 0);
            test = kept_test;
            worst = std::max(worst, rc);
        }
        saved.restore();
    }
    return worst;
}
