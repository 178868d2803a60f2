// zemcoll start-up: the command line, the configuration, the log, the definition files and
// the editing passes, then the schedule loop.
#include "collector/startup/startup.h"

#include <strings.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "collector/run/schedule.h"
#include "collector/run/signals.h"
#include "collector/startup/engine_hooks.h"
#include "comm/collector_claim.h"
#include "comm/zovcomm.h"
#include "defs/clause_loads.h"
#include "defs/cursor_file.h"
#include "defs/cursor_versions.h"
#include "defs/dictionary_file.h"
#include "defs/distrib.h"
#include "defs/evaluation_file.h"
#include "defs/process_file.h"
#include "defs/trace_file.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "runtime/cmdline.h"
#include "runtime/dates.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

namespace {

const char prod_id[] = "zemcoll - performance data collector for Sybase-family servers\n";
const char prod_version[] = "Version 4.1\n";
const char prod_copyr[] = "Copyright (c) the zov authors\n";
const char prod_copyr_2[] = "All rights reserved\n";

// The collector's own value options, in the order they are tried.
struct value_option {
    const char* keyword;
    int minimum;
    char** field;
};

const value_option value_options[] = {
    {"rdbms", 3, &env_vars.serverid},    {"dbtype", 3, &env_vars.db_type},
    {"tempdir", 4, &env_vars.tmpdir},    {"logonid", 3, &env_vars.logonid},
    {"logsdir", 3, &env_vars.coll_home}, {"ctldir", 3, &env_vars.ctl_home},
    {"errlog", 3, &env_vars.errorlog},   {"password", 3, &env_vars.password},
};

// Options of the general command-line pass that take a value and are none of the above:
// handed to that pass (with their value) wherever they stand on the line. Words this
// reader takes as its own are not read a second time by that pass, so that each has one
// meaning: -log stays the logon id (that pass would set the error log too) and -d trace
// level 0 (that pass would take it for its debug request, every level at 23).
struct general_option {
    const char* keyword;
    int minimum;
};
const general_option general_options[] = {
    {"serverid", 6}, {"loginid", 5},   {"ltempdir", 5}, {"maxread", 4},
    {"dbhome", 6},   {"dbversion", 5}, {"initfile", 4},
};

bool matches(const char* name, const char* keyword, int minimum) {
    return u_chktoken(name, keyword, 0, minimum) == 0;
}

[[noreturn]] void missing_value(const char* name) {
    PRINT('s', "cml1531", "Option or parameter -%s needs a value\n", name);
    u_exit(1);
}

void echo_value(bool echo, const char* keyword, const char* value) {
    if (echo) PRINT('t', "cpa1532", "%s=%s.\n", keyword, value);
}

// Sets the levels named by the lower-case "d" letters of a switch word.
void set_levels(const char* name) {
    const int len = static_cast<int>(std::strlen(name));
    const int last = len - 1 < my_trace_all_l ? len - 1 : my_trace_all_l;
    for (int i = 0; i <= last; ++i)
        if (name[i] == 'd') my_trace_all[i] = 1;
}

}  // namespace

int parse_argv(int argc, char** argv, std::vector<char*>* general) {
    if (general != nullptr && general->empty() && argc > 0) general->push_back(argv[0]);
    auto forward = [general](char* word) {
        if (general != nullptr) general->push_back(word);
    };
    bool echo = false;
    for (int i = 1; i < argc; ++i) {
        char* word = argv[i];
        if (word[0] == '@') {
            forward(word);
            continue;
        }
        if (word[0] != '-') continue;
        const char* name = word + 1;
        // The value of the option at word i: glued to the full keyword, or the next word.
        auto value_of = [&](const char* keyword) -> char* {
            const size_t k = std::strlen(keyword);
            if (std::strlen(name) > k) return word + 1 + k;
            if (i + 1 >= argc) missing_value(name);
            return argv[++i];
        };
        bool done = false;
        for (const value_option& o : value_options) {
            if (!matches(name, o.keyword, o.minimum)) continue;
            char* value = value_of(o.keyword);
            u_env_set_field(o.field, value);
            // The general pass reads -logsdir as the output directory of the log.
            if (o.field == &env_vars.coll_home) u_env_set_field(&env_vars.coll_out, value);
            // "***", not the value: a password never reaches the log, not even its stored form.
            echo_value(echo, o.keyword, o.field == &env_vars.password ? "***" : value);
            done = true;
            break;
        }
        if (done) continue;
        if (matches(name, "version", 3)) {
            // The general pass lists the headers and ends the process before any file.
            forward(word);
            while (i + 1 < argc && argv[i + 1][0] != '-') forward(argv[++i]);
            continue;
        }
        if (matches(name, "console", 3)) continue;
        if (strcasecmp(name, "filein") == 0) {
            if (i + 1 >= argc) missing_value(name);
            forward(word);
            forward(argv[++i]);
            continue;
        }
        for (const general_option& o : general_options) {
            if (!matches(name, o.keyword, o.minimum)) continue;
            forward(word);
            if (std::strlen(name) <= std::strlen(o.keyword)) {  // not glued to the name
                if (i + 1 >= argc) missing_value(name);
                forward(argv[++i]);
            }
            // Any other name beginning with d is the trace switch: -dbhome and -dbversion
            // switch tracing on as well. The others make no dictionary parameter of that
            // name: their value is the general pass's, not a dictionary entry's.
            done = name[0] != 'd' && name[0] != 'D';
            break;
        }
        if (done) continue;
        if (name[0] == 'd' || name[0] == 'D') {
            trace_all = 1;
            trace_something = 1;
            echo = true;
            set_levels(name);
            echo_value(echo, "d", name);
            continue;
        }
        if (name[0] == 'v' || name[0] == 'V') {
            echo = true;
            set_levels(name);
            continue;
        }
        if (i + 1 >= argc) missing_value(name);
        add_dict_parm(alloc_str(name), alloc_str(argv[++i]));
    }
    return 1;
}

void init_PRINT() {
    if (stder == nullptr && u_openPRINTfile(nullptr) == nullptr)
        PRINT('e', "cat2014", "'.out' open error all messages will go to stdout\n");
    PRINT('a', "cat2015", "%s", prod_id);
    PRINT('a', "cat2020", "%s", prod_version);
    PRINT('a', "cat2025", "%s", prod_copyr);
    PRINT('a', "cat2030", "%s", prod_copyr_2);
    char now[64];
    PRINT('a', "cat2035", "Time = %s\n", u_get_time(now, 1));
    // The collector's own modules, the program's main first.
    if (zov_version_headers != nullptr) {
        for (int pass = 0; pass < 2; ++pass) {
            for (const char* const* h = zov_version_headers; *h != nullptr; ++h) {
                const bool main_file = std::strstr(*h, "collector/zemcoll_main") != nullptr;
                const bool engine = std::strstr(*h, " collector/") != nullptr ||
                                    std::strstr(*h, " acquire/") != nullptr;
                if ((pass == 0 && main_file) || (pass == 1 && engine && !main_file))
                    show_headers(*h, nullptr);
            }
        }
    }
}

int init_dist() {
    if (parse_distributor() != 0) {
        del_distributor();
        quitting(-1001);
    }
    return 0;
}

namespace {

// One pair of step 8: the env_vars field and the distributor field of width bytes, of
// which at most limit characters are a value.
void settle_one(const char* what, char** env, char* field, size_t width, size_t limit,
                bool cut_padding) {
    if (*env != nullptr) {
        const size_t len = std::strlen(*env);
        if (len > limit) {
            PRINT('s', "cml1529", "The %s is longer than %d characters\n", what,
                  static_cast<int>(limit));
            quitting(-1003);
        }
        std::memset(field, 0, width);
        std::memcpy(field, *env, len);
        return;
    }
    // A field filled to its width has no NUL of its own: take a bounded copy.
    char copy[128];
    size_t len = strnlen(field, width);
    std::memcpy(copy, field, len);
    copy[len] = '\0';
    if (cut_padding) u_strip(copy);
    u_env_set_field(env, copy);
}

void fill_blank(char* field, size_t width, const char* text) {
    std::memset(field, ' ', width);
    if (text != nullptr) std::memcpy(field, text, strnlen(text, width));
}

}  // namespace

int settle_db_identity() {
    distrib* d = collector_at;
    if (d == nullptr) return 0;
    settle_one("logon id", &env_vars.logonid, d->logon_id, sizeof d->logon_id, 32, false);
    settle_one("password", &env_vars.password, d->password, sizeof d->password, 99, false);
    settle_one("server id", &env_vars.serverid, d->server_id, sizeof d->server_id, 32, true);
    return 0;
}

void set_machine_id() {
    fill_blank(machine_id.me, sizeof machine_id.me, env_vars.serverid);
    fill_blank(machine_id.mach, sizeof machine_id.mach, env_vars.hostname);
    fill_blank(machine_id.machine_me, sizeof machine_id.machine_me, nullptr);
}

namespace {

void list_environment() {
    PRINT('t', "cml1526", "Environment Setting:\n");
    const struct {
        const char* format;
        const char* value;
    } fields[] = {
        {"\t coll_home=%s\n", env_vars.coll_home},   {"\t ctl_home=%s\n", env_vars.ctl_home},
        {"\t bin_home=%s\n", env_vars.bin_home},     {"\t coll_out=%s\n", env_vars.coll_out},
        {"\t tmpdir=%s\n", env_vars.tmpdir},         {"\t localtmpdir=%s\n", env_vars.localtmpdir},
        {"\t hostname=%s\n", env_vars.hostname},     {"\t hostlogonid=%s\n", env_vars.hostlogonid},
        {"\t serverid=%s\n", env_vars.serverid},     {"\t logonid=%s\n", env_vars.logonid},
        {"\t db_version=%s\n", env_vars.db_version}, {"\t db_type=%s\n", env_vars.db_type},
        {"\t db_home=%s\n", env_vars.db_home},       {"\t errorlog=%s\n", env_vars.errorlog},
    };
    for (const auto& f : fields) {
        if (f.value == nullptr) continue;
        PRINT('t', "cml1527", f.format, f.value);
    }
}

}  // namespace

int check_required_config() {
    auto missing = [](const char* v) { return v == nullptr || *v == '\0'; };
    // Departure: an empty logon id or server id counts as missing; a collector that can
    // never log in must not report "Start collecting".
    if (missing(env_vars.serverid) || env_vars.hostname == nullptr || missing(env_vars.logonid) ||
        env_vars.db_type == nullptr) {
        PRINT('s', "cml1528", "Missing required environment variables.\n");
        quitting(-1003);
    }
    return 0;
}

void publish_config_parms() {
    const struct {
        const char* name;
        char* value;
    } parms[] = {
        {"rdbms", env_vars.serverid},       {"errlog", env_vars.errorlog},
        {"logonid", env_vars.logonid},      {"dbhome", env_vars.db_home},
        {"dbversion", env_vars.db_version}, {"dbtype", env_vars.db_type},
        {"password", env_vars.password},
    };
    for (const auto& p : parms)
        if (p.value != nullptr) add_dict_parm(const_cast<char*>(p.name), p.value);
}

namespace {

int vers_chain_step() {
    define_vers_chain();
    return 0;
}

}  // namespace

int init_cursors() {
    database_info.connected = 0;
    database_info.status = down;
    int (*const steps[])() = {
        parse_curs,     create_percent_cursor, init_virtuals,      edit_age_to, vers_chain_step,
        edit_decode,    edit_pre_cursors,      edit_in_lists,      edit_bases,  edit_math,
        edit_col_exits, edit_iterates,         edit_iterate_where, parse_loads, edit_loads,
        set_qualifieds,
    };
    for (auto step : steps) {
        if (step() != 0) {
            del_curs();
            quitting(-1001);
            return 1;  // reached only when quitting is made to return
        }
    }
    return 0;
}

int init_eval() {
    if (parse_eval() != 0) quitting(-1001);
    return 0;
}

namespace {

bool claimed = false;

[[noreturn]] void refuse(const comm_collector_owner& owner) {
    PRINT('s', "cml1533",
          "Collector process %d already serves server %s in directory %s; this one ends\n",
          owner.pid, env_vars.serverid, owner.where.c_str());
    u_exit(1);
}

}  // namespace

void refuse_second_collector() {
    // Without a server id yet (the process definitions supply it) the second look decides.
    if (env_vars.serverid == nullptr || *env_vars.serverid == '\0') return;
    if (!claimed) {
        // The directories of the history files, the log, the pipes and the IPC id file.
        std::vector<std::string> dirs;
        for (const char* d :
             {env_vars.coll_home, env_vars.coll_out, env_vars.tmpdir, env_vars.localtmpdir})
            if (d != nullptr) dirs.emplace_back(d);
        comm_collector_owner owner;
        if (comm_take_collector_claim(dirs, &owner) != 0) refuse(owner);
        claimed = true;
        // Registered before the exit message's handler, so it runs after it.
        std::atexit(comm_release_collector_claim);
    }
    const comm_collector_owner owner = comm_find_live_collector();
    if (owner.pid != 0) refuse(owner);
}

void my_atexit() {
    if (go_home != 0) return;
    char now[64];
    PRINT('s', "col9999", "Exiting collector at %s\n", u_get_time(now, 2));
}

void zemcoll_main(int argc, char** argv) {
    g_argc = argc;
    g_argv = argv;
    std::setlocale(LC_ALL, "");
    // Rows and SQL texts keep a decimal point whatever the user's locale.
    std::setlocale(LC_NUMERIC, "C");
    install_engine_hooks();

    std::vector<char*> general;
    parse_argv(argc, argv, &general);
    engine_alloc_work_buff();
    general.push_back(nullptr);
    HVM_getenv(static_cast<int>(general.size()) - 1, general.data());
    // Before the log is opened: opening it would empty the live collector's log.
    refuse_second_collector();
    init_PRINT();
    std::atexit(my_atexit);
    init_dist();
    settle_db_identity();
    set_machine_id();
    if (trace_all != 0) list_environment();
    check_required_config();
    refuse_second_collector();
    publish_config_parms();
    if (parse_dict() != 0) quitting(-1001);
    init_cursors();
    parse_trace();
    if (have_evaluator != 0) init_eval();
    set_signal(1);
    // A stopping signal ends a wait for a request at once.
    zovcomm_set_stop_flag(&go_home);
    u_init_lock();
    close_on_exec_all();
    PRINT('a', "cml1530", "Start collecting. -------------------------------\n");
    if (stder != nullptr) std::fflush(stder);
    schedule();
    u_exit(0);
}
