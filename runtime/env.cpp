// The configuration record and the environment routines.
#include "runtime/env.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/cmdline.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

ENV_VARS env_vars{};

namespace {

// Shown in place of every password value.
constexpr const char* kHidden = "***";

// Every text that get_envs or u_env_set_field put into a field, so that a replacement
// frees exactly those. Never destroyed: the texts stay reachable until the process ends.
std::vector<char*>& owned_texts() {
    static auto* list = new std::vector<char*>;
    return *list;
}

// Every entry handed to putenv: the environment keeps pointing into them, and they stay
// reachable even after a later setenv replaced them there.
std::vector<char*>& environment_entries() {
    static auto* list = new std::vector<char*>;
    return *list;
}

char* dup_text(const char* text, const char* what) {
    size_t n = std::strlen(text);
    char* p = static_cast<char*>(u_malloc(static_cast<long>(n + 1), __FILE__, __LINE__, what));
    std::memcpy(p, text, n + 1);
    return p;
}

// Reads a decimal number; false when the text is no whole number within [lo, hi].
bool read_decimal(const char* text, long lo, long hi, long* out) {
    if (!text || !*text) return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < lo || v > hi) return false;
    *out = v;
    return true;
}

// State fixed by the first get_envs call of the process.
bool g_envs_done = false;
std::string g_home;
std::string g_cwd;
std::string g_tmp;

// Product codes of u_db_type.
char g_db_type_std[4] = "";
// Alias codes: not yet computed, absent, or a code.
enum class AliasState { unknown, absent, present };
AliasState g_alias_state[3] = {AliasState::unknown, AliasState::unknown, AliasState::unknown};
char g_alias[3][4] = {"", "", ""};

std::string current_user() {
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (getpwuid_r(geteuid(), &pw, buf, sizeof buf, &found) == 0 && found && found->pw_name)
        return found->pw_name;
    return "";
}

std::string node_name() {
    struct utsname u;
    if (uname(&u) == 0) return u.nodename;
    return "";
}

// Records a text that get_envs stored into a field; returns it.
char* own(char* text) {
    if (text) owned_texts().push_back(text);
    return text;
}

// Fills a text field when it is empty.
void fill(char** field, const char* name, int32_t mode = 0, const char* deflt = nullptr) {
    if (*field) return;
    *field = own(u_getenv(name, mode, deflt));
}

}  // namespace

void u_env_set_field(char** field, const char* value) {
    if (!field) return;
    auto& owned = owned_texts();
    for (auto it = owned.begin(); it != owned.end(); ++it) {
        if (*it == *field) {
            u_free(*it, __FILE__, __LINE__, "field");
            owned.erase(it);
            break;
        }
    }
    *field = value ? own(dup_text(value, "field")) : nullptr;
}

bool u_env_is_password(const char* name) {
    if (!name) return false;
    std::string upper(name);
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.find("PASSWORD") != std::string::npos || upper.find("PASSWD") != std::string::npos;
}

char* u_getenv(const char* name, int32_t mode, const char* deflt) {
    if (!name || !*name) return nullptr;
    bool has_default = deflt && *deflt;
    const char* type = has_default ? "i" : "w";
    bool hide = u_env_is_password(name);

    const char* value = std::getenv(name);
    if (value && !*value) {
        if (mode == 1)
            u_msg(nullptr, __FILE__, __LINE__, type, "uen0010",
                  "Environment variable \"%s\" is not available\n", name);
        value = nullptr;
    } else if (!value && mode == 1) {
        u_msg(nullptr, __FILE__, __LINE__, type, "uen0015", "Environment variable \"%s\" not set\n",
              name);
    }

    bool from_default = false;
    if (!value && has_default) {
        value = deflt;
        from_default = true;
        if (mode == 1)
            u_msg(nullptr, __FILE__, __LINE__, "i", "uen0020", "Using default of %s\n",
                  hide ? kHidden : deflt);
    }

    if (from_default && mode == -1) u_putenv(name, deflt);

    char* ret = value ? dup_text(value, "strlen(ret)+1") : nullptr;

    if (u_trace_on(3) && mode != -2 && mode != 1) {
        if (ret)
            u_msg(nullptr, __FILE__, __LINE__, "t", "uen0025", "Env var %s=%s.\n", name,
                  hide ? kHidden : ret);
        else
            u_msg(nullptr, __FILE__, __LINE__, "t", "uen0026", "Env var %s was not set.\n", name);
    }
    return ret;
}

char* u_putenv(const char* name, const char* value) {
    if (!name) return nullptr;
    size_t nlen = std::strlen(name);
    size_t vlen = value ? std::strlen(value) : 0;
    char* entry = static_cast<char*>(
        u_malloc(static_cast<long>(nlen + vlen + 2), __FILE__, __LINE__, "size+1+1"));
    std::memcpy(entry, name, nlen);
    char* result = entry + nlen;
    if (value) {
        entry[nlen] = '=';
        std::memcpy(entry + nlen + 1, value, vlen);
        result = entry + nlen + 1;
    }
    entry[nlen + (value ? 1 + vlen : 0)] = '\0';

    bool hide = u_env_is_password(name) && value;
    std::string shown = hide ? std::string(name) + "=" + kHidden : std::string(entry);
    // The entry belongs to the environment from now on; it is never freed.
    if (putenv(entry) != 0) {
        u_msg(nullptr, __FILE__, __LINE__, "e", "uen0045",
              "Environment variable \"%s\" could not be set.", shown.c_str());
        u_free(entry, __FILE__, __LINE__, "entry");
        return nullptr;
    }
    environment_entries().push_back(entry);
    if (u_trace_on(0))
        u_msg(nullptr, __FILE__, __LINE__, "t", "uen0046", "Set environment variable \")%s\".",
              shown.c_str());
    return result;
}

int get_envs(ENV_VARS* record) {
    if (!record) return 1;
    if (!g_envs_done) {
        g_envs_done = true;
        if (char* debug = u_getenv("COLL_DEBUG", -2, nullptr)) {
            trace_set(debug);
            u_free(debug, __FILE__, __LINE__, "tcp");
        }
        char* home = u_getenv("HOME", -2, "~");
        g_home = home ? home : "~";
        u_free(home, __FILE__, __LINE__, "tcp");

        char* pwd = u_getenv("PWD", -2, nullptr);
        if (pwd) {
            g_cwd = pwd;
            u_free(pwd, __FILE__, __LINE__, "tcp");
        } else {
            char buf[4096];
            g_cwd = getcwd(buf, sizeof buf) ? buf : "";
            if (g_cwd.empty()) g_cwd = g_home;
        }
        g_tmp = std::string("/") + "tmp";
    }

    if (!record->hostlogonid) {
        record->hostlogonid = own(u_getenv("USER", -2, nullptr));
        if (!record->hostlogonid)
            record->hostlogonid = own(dup_text(current_user().c_str(), "user"));
    }
    fill(&record->coll_home, "COLL_HOME", 0, g_cwd.c_str());
    fill(&record->ctl_home, "COLL_CTL_HOME", 0, g_cwd.c_str());
    fill(&record->bin_home, "COLL_BINPATH");
    if (!record->hostname) {
        record->hostname = own(u_getenv("COLL_HOSTNAME", 0, nullptr));
        if (!record->hostname) record->hostname = own(dup_text(node_name().c_str(), "host"));
    }
    fill(&record->serverid, "COLL_SERVERID");
    fill(&record->logonid, "COLL_LOGON");
    fill(&record->logonid, "COLL_LOGONID", -2);
    fill(&record->password, "COLL_PASSWORD");
    fill(&record->db_type, "COLL_VERSION");
    fill(&record->db_type, "COLL_VERSION_HOME", -2, "zov");

    if (!record->tmpdir) {
        record->tmpdir = own(u_getenv("COLL_PREFIX", 0, nullptr));
        if (!record->tmpdir) {
            std::string dir;
            if (char* logdir = u_getenv("ZOVLOGDIR", -2, nullptr)) {
                dir = logdir;
                u_free(logdir, __FILE__, __LINE__, "tcp");
            } else {
                dir = g_tmp;
            }
            dir += "/";
            dir += record->hostlogonid ? record->hostlogonid : "";
            record->tmpdir = own(dup_text(dir.c_str(), "tmpdir"));
        }
    }
    if (!record->localtmpdir) {
        record->localtmpdir = own(u_getenv("COLL_PREFIX_LOCAL", 0, nullptr));
        if (!record->localtmpdir)
            record->localtmpdir = own(dup_text(record->tmpdir, "localtmpdir"));
    }
    if (!record->coll_out) {
        record->coll_out = own(u_getenv("COLL_OUT", 0, nullptr));
        if (!record->coll_out) {
            const char* src = std::strcmp(record->localtmpdir, record->tmpdir) != 0
                                  ? record->localtmpdir
                                  : record->coll_home;
            record->coll_out = own(dup_text(src ? src : "", "coll_out"));
        }
    }
    fill(&record->errorlog, "COLL_ERRORLOG");
    fill(&record->db_version, "COLL_DBVERSION");

    if (record->maxreadsz == 0) {
        const char* var = "MAXREADSZ_ERRORLOG";
        char* text = u_getenv(var, -2, nullptr);
        long v = 0;
        if (text && read_decimal(text, INT32_MIN, INT32_MAX, &v) && v != 0) {
            record->maxreadsz = static_cast<int32_t>(v);
        } else {
            record->maxreadsz = 20480000;
            if (!text && u_trace_on(6))
                u_msg(nullptr, __FILE__, __LINE__, "t", "uen0021",
                      "'%s' not set, using default of %d\n", var, record->maxreadsz);
        }
        u_free(text, __FILE__, __LINE__, "tcp");
    }
    fill(&record->useshm, "COLL_USESHM");
    fill(&record->db_home, "COLL_DBHOME");
    if (record->nosignals == 0) {
        char* text = u_getenv("COLL_NOSIGNALS", 0, nullptr);
        long v = 0;
        if (text && read_decimal(text, INT16_MIN, INT16_MAX, &v))
            record->nosignals = static_cast<int16_t>(v);
        u_free(text, __FILE__, __LINE__, "tcp");
    }
    fill(&record->config_dir, "ZOVCFGDIR", 0, record->ctl_home);
    return 1;
}

int32_t HVM_getenv(int argc, char** argv) {
    int32_t count = 0;
    if (argc >= 1) count = parseHVMCmdline(argc, argv);
    get_envs(&env_vars);
    return count;
}

char* u_retrieveEnvVar(const char* name) {
    if (!name) return nullptr;
    struct Row {
        const char* variable;
        int kind;
        char** field;
    };
    const Row rows[] = {
        {"COLL_LOGON", 0, &env_vars.logonid},     {"COLL_PASSWORD", 0, &env_vars.password},
        {"COLL_CTL_HOME", 0, &env_vars.ctl_home}, {"COLL_HOME", 0, &env_vars.coll_home},
        {"COLL_SERVERID", 2, &env_vars.serverid}, {"COLL_ERRORLOG", 0, &env_vars.errorlog},
        {"COLL_VERSION", 0, &env_vars.db_type},   {"COLL_DBVERSION", 0, &env_vars.db_version},
        {"COLL_DBHOME", 3, &env_vars.db_home},    {"PXULV_CELL_NAME", 0, &env_vars.cell_name},
    };
    char upper[33];
    size_t n = strnlen(name, 32);
    for (size_t i = 0; i < n; ++i)
        upper[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[i])));
    upper[n] = '\0';

    for (const Row& row : rows) {
        if (std::strcmp(upper, row.variable) != 0) continue;
        if (!*row.field) *row.field = own(u_getenv(row.variable, 0, nullptr));
        if (!*row.field && (row.kind == 2 || row.kind == 3)) {
            struct Fallback {
                const char* type;
                const char* server;
                const char* home;
            };
            static const Fallback fallbacks[] = {
                {"zem", "DSQUERY", "SYBASE"},         {"gim", "INFORMIXSERVER", "INFORMIXDIR"},
                {"qel", "ORACLE_SID", "ORACLE_HOME"}, {"zyp", "ORACLE_SID", "ORACLE_HOME"},
                {"vik", "MSSQL", "MSSQL_HOME"},
            };
            const char* type = env_vars.db_type ? env_vars.db_type : "";
            for (const Fallback& f : fallbacks) {
                if (std::strncmp(type, f.type, 3) == 0) {
                    *row.field = own(u_getenv(row.kind == 2 ? f.server : f.home, 0, nullptr));
                    break;
                }
            }
        }
        return *row.field;
    }
    return nullptr;
}

namespace {
// The database type codes: each names the suite's programs of its type (zemcoll, zemsql).
const char* const kDbTypeCodes[] = {"zem", "qel", "gim", "vik", "zyp", "zov", "qaa", "wef"};
}  // namespace

bool u_is_db_type_code(const char* text, size_t len) {
    for (const char* code : kDbTypeCodes)
        if (len == 3 && std::strncmp(text, code, 3) == 0) return true;
    return false;
}

const char* u_db_type(int index) {
    if (index == 0) {
        if (!g_db_type_std[0]) {
            static const char* const mapped[][2] = {
                {"syb", "zem"}, {"ora", "qel"}, {"inf", "gim"}, {"sql", "vik"}, {"db2", "wef"}};
            const char* type = env_vars.db_type;
            if (!type || !*type) {
                std::strcpy(g_db_type_std, "und");
            } else {
                char low[4] = "";
                size_t n = strnlen(type, 3);
                for (size_t i = 0; i < n; ++i)
                    low[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(type[i])));
                low[n] = '\0';
                const char* result = "unk";
                for (const char* code : kDbTypeCodes)
                    if (std::strcmp(low, code) == 0) result = code;
                for (const auto& m : mapped)
                    if (std::strcmp(low, m[0]) == 0) result = m[1];
                std::strcpy(g_db_type_std, result);
            }
        }
        return g_db_type_std;
    }
    if (index < 1 || index > 3) return nullptr;
    int i = index - 1;
    if (g_alias_state[i] == AliasState::unknown) {
        const char* alias = nullptr;
        const char* std_code = g_db_type_std;
        if (index == 1) {
            if (std::strcmp(std_code, "zyp") == 0)
                alias = "qel";
            else if (std::strcmp(std_code, "wef") == 0)
                alias = "db2";
            else if (std::strcmp(std_code, "qaa") == 0)
                alias = "xxx";
        } else if (index == 2) {
            if (std::strcmp(std_code, "qaa") == 0) alias = "yyy";
        } else if (std::strcmp(std_code, "qaa") == 0) {
            alias = "zzz";
        }
        if (alias) {
            std::strcpy(g_alias[i], alias);
            g_alias_state[i] = AliasState::present;
        } else {
            g_alias_state[i] = AliasState::absent;
        }
    }
    return g_alias_state[i] == AliasState::present ? g_alias[i] : nullptr;
}
