// The fetch-exit program tests of zovivpt: each runs the programs of one agent with the
// operands the cursor definitions use and judges every run by its result.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/env.h"
#include "runtime/strings.h"
#include "tools/ivpt/ivpt.h"

namespace {

constexpr int kCaptured = RUN_CAPTURE | RUN_ECHO9;

// The first word of a captured text (blank, tab, newline, carriage return end it).
std::string first_word(const char* text) {
    if (!text) return "";
    const char* p = text + std::strspn(text, " \t\n\r");
    return std::string(p, std::strcspn(p, " \t\n\r"));
}

char* env_copy(const char* name) {
    const char* v = std::getenv(name);
    return v ? const_cast<char*>(v) : nullptr;
}

}  // namespace

int test_zov() {
    const char* d = fetch_exit_debug;
    run_cmd("zovos", {W("-ddddd auth")}, 0);
    int rc = run_cmd("zovos", {W("fspace . /tmp /usr"), V(d)}, 0);
    if (rc > limit) return rc;
    for (const char* op : {"cpu", "osv", "pct"}) {
        rc = run_cmd("zovos", {W(op), V(d)}, 0);
        if (rc > limit) return rc;
    }
    return run_cmd("zovos", {W("pss"), V(d)}, 0);
}

int test_zem() {
    const char* d = fetch_exit_debug;
    int rc = run_cmd("zemsql",
                     {W("3 \" \" \"SELECT osprocid FROM master..sysengines WHERE  engine = 0\"")},
                     kCaptured);
    if (!retcmd || !*retcmd) {
        std::printf("-- Could not get Sybase process ID\n");
        rc = 20;
        if (rc > limit) return rc;
    } else {
        rc = 0;
    }
    std::string pid = first_word(retcmd);
    if (!env_vars.db_home) {
        const char* home = std::getenv("COLL_DBHOME");
        u_env_set_field(&env_vars.db_home, home ? home : "");
    }
    run_cmd("zemlog",
            {W("-dbhome"), V(env_vars.db_home), W("-rdbms"), V(env_vars.serverid), V(pid.c_str()),
             V(d)},
            kCaptured);
    if (!retcmd || !*retcmd) {
        rc = 10;
        if (rc > limit) return rc;
    }
    std::string log = first_word(retcmd);
    u_env_set_field(&env_vars.errorlog, log.c_str());
    rc = run_cmd("zemerr", {W("-log"), V(env_vars.errorlog), W("0"), V(d)}, 0);
    if (rc > limit) return rc;
    return run_cmd("zemserv", {W("-log"), V(env_vars.errorlog), V(d)}, 0);
}

int test_qel() {
    static bool release_asked = false;
    const char* d = fetch_exit_debug;
    u_env_set_field(&env_vars.db_home, env_copy("COLL_DBHOME"));
    if (!release_asked) {
        release_asked = true;
        if (!std::getenv("COLL_DBVERSION") && env_vars.db_home)
            run_cmd("qelrel", {W("-dbhome"), V(env_vars.db_home), V(d)}, kCaptured);
    }
    run_cmd("qelsql",
            {W("3 \" \" \"SELECT VALUE FROM V$PARAMETER WHERE NAME = 'background_dump_dest'\"")},
            kCaptured);
    std::printf("!!! return from select value from 'background_dump_dest' = %s\n",
                retcmd ? retcmd : "");
    int rc = run_cmd("qellog",
                     {W("-rdbms"), V(env_vars.serverid), W("-dbhome"), V(env_vars.db_home), V(d)},
                     kCaptured);
    if (rc > limit) return rc;
    // Nothing captured leaves the configured error log as it was.
    if (retcmd) u_env_set_field(&env_vars.errorlog, retcmd);
    return run_cmd("qelerr", {W("-log"), V(env_vars.errorlog), W("0"), V(d)}, 0);
}

int test_gim() {
    const char* d = fetch_exit_debug;
    const char* log = env_vars.errorlog;
    int rc = run_cmd("gimerr", {W("size -log"), V(log), W("0"), V(d)}, 0);
    if (rc > limit) return rc;
    rc = run_cmd("gimerr", {W("read 00 -log"), V(log), V(d)}, 0);
    if (rc > limit) return rc;
    for (const char* op : {"1", "2"}) {
        rc = run_cmd("gimstat", {W(op), V(d)}, 0);
        if (rc > limit) return rc;
    }
    rc = run_cmd("gimstat", {W("8"), V(log), V(d)}, 0);
    if (rc > limit) return rc;
    for (const char* op : {"3", "7", "6", "5"}) {
        rc = run_cmd("gimstat", {W(op), V(d)}, 0);
        if (rc > limit) return rc;
    }
    return run_cmd("gimstat", {W("4"), V(d)}, 0);
}

// Not available on this platform.
int test_vik() { return 200; }
int test_vik_db() { return 200; }
int test_vik_sqltext() { return 200; }
