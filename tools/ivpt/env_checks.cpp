// The checks of zovivpt that look at its own surroundings: configuration, type sizes,
// character classes, the stored password, version headers, the fetch-exit debug word and
// signal trapping.
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/child.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/exec.h"
#include "runtime/password.h"
#include "runtime/platform.h"
#include "runtime/trace.h"
#include "tools/ivpt/ivpt.h"

extern char** environ;

char fetch_exit_debug[20] = "";

namespace {

int16_t debug_switch = 1;   // the first setdebug turns debugging on
int16_t signal_switch = 0;  // the first singal installs the handlers
int installed = 0;

struct Trapped {
    int sig;
    const char* name;
    bool ignore;
    bool always;  // also installed when nosignals is 3
};
// SIGCHLD stays at its default: ignoring it lets the system reap the children itself, and
// no run could be waited for or judged.
const Trapped kTrapped[] = {
    {SIGINT, "SIGINT", false, true},    {SIGTERM, "SIGTERM", false, true},
    {SIGHUP, "SIGHUP", true, false},    {SIGQUIT, "SIGQUIT", false, false},
    {SIGTTOU, "SIGTTOU", true, false},  {SIGABRT, "SIGABRT", false, false},
    {SIGUSR1, "SIGUSR1", false, false}, {SIGUSR2, "SIGUSR2", false, false},
};
constexpr int kTrappedCount = sizeof kTrapped / sizeof kTrapped[0];
struct sigaction previous[kTrappedCount];

volatile sig_atomic_t pending_signal = 0;
volatile sig_atomic_t pending_pid = 0;
volatile sig_atomic_t pending_uid = 0;
volatile sig_atomic_t pending_code = 0;
volatile sig_atomic_t pending_info = 0;

uintptr_t handler_value(const struct sigaction& act) {
    if (act.sa_flags & SA_SIGINFO) return reinterpret_cast<uintptr_t>(act.sa_sigaction);
    return reinterpret_cast<uintptr_t>(act.sa_handler);
}

void print_text(const char* label, const char* value) {
    std::string full = std::string("env_vars.") + label;
    if (value)
        std::printf(" %32s=%s.\n", full.c_str(), value);
    else
        std::printf(" %32s=(null)\n", full.c_str());
}

void print_number(const char* label, int value) {
    std::string full = std::string("env_vars.") + label;
    if (value)
        std::printf(" %32s=%d.\n", full.c_str(), value);
    else
        std::printf(" %32s=(null)\n", full.c_str());
}

}  // namespace

int test_get_envs() {
    const ENV_VARS& e = env_vars;
    print_text("coll_home", e.coll_home);
    print_text("ctl_home", e.ctl_home);
    print_text("bin_home", e.bin_home);
    print_text("coll_out", e.coll_out);
    print_text("hostname", e.hostname);
    print_text("hostlogonid", e.hostlogonid);
    print_text("serverid", e.serverid);
    print_text("logonid", e.logonid);
    print_text("password", e.password ? "***" : nullptr);
    print_text("errorlog", e.errorlog);
    print_text("db_type", e.db_type);
    print_text("cell_name", e.cell_name);
    print_text("tmpdir", e.tmpdir);
    print_text("localtmpdir", e.localtmpdir);
    print_text("process_ctl", e.process_ctl);
    print_text("config_dir", e.config_dir);
    print_text("useshm", e.useshm);
    print_number("nosignals", e.nosignals);
    print_number("maxreadsz", e.maxreadsz);
    // The process environment, sorted, with every password masked.
    std::vector<std::string> lines;
    for (char** p = environ; p && *p; ++p) {
        std::string entry = *p;
        size_t eq = entry.find('=');
        if (eq != std::string::npos && u_env_is_password(entry.substr(0, eq).c_str()))
            entry = entry.substr(0, eq + 1) + "***";
        lines.push_back(entry);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::string& l : lines) std::printf("%s\n", l.c_str());
    return 0;
}

int test_types() {
    std::printf(" int       \t= %d\n", static_cast<int>(sizeof(int)));
    std::printf(" long      \t= %d\n", static_cast<int>(sizeof(long)));
    std::printf(" long long \t= %d\n", static_cast<int>(sizeof(long long)));
    std::printf(" short     \t= %d\n", static_cast<int>(sizeof(short)));
    std::printf(" char      \t= %d\n", static_cast<int>(sizeof(char)));
    std::printf(" double    \t= %d\n", static_cast<int>(sizeof(double)));
    std::printf(" pointer   \t= %d\n", static_cast<int>(sizeof(void*)));
    std::printf("\n");
    std::printf(" ULONG     \t= %d\n", static_cast<int>(sizeof(uint32_t)));
    std::printf(" USHORT    \t= %d\n", static_cast<int>(sizeof(uint16_t)));
    std::printf(" LONG      \t= %d\n", static_cast<int>(sizeof(int32_t)));
    std::printf(" SHORT     \t= %d\n", static_cast<int>(sizeof(int16_t)));
    std::printf(" INT       \t= %d\n", static_cast<int>(sizeof(int32_t)));
    std::printf(" UINT      \t= %d\n", static_cast<int>(sizeof(unsigned int)));
    std::printf(" BYTE      \t= %d\n", static_cast<int>(sizeof(uint8_t)));
    std::printf(" BIT       \t= %d\n", static_cast<int>(sizeof(unsigned int)));
    std::printf("\n");
    std::printf(" FILE      \t= %d\n", static_cast<int>(sizeof(FILE)));
    std::printf(" NULL      \t= %d\n", static_cast<int>(sizeof(void*)));
    std::printf("\n");
    return 0;
}

int charset() {
    std::printf("  Tab            = \\t = %02X \n", 9);
    std::printf("  New line       = \\n = %02X \n", 10);
    std::printf("  Cariage return = \\r = %02X \n", 13);
    std::printf("  Formfeed       = \\f = %02X \n", 12);
    std::printf("  Bell           = \\a = %02X \n", 7);
    std::printf("  Vertical tab   = \\v = %02X \n", 11);
    std::printf("\n");
    std::printf(
        "             is?????"
        "() is the function name.\n");
    std::printf("dec X# c alnum alpha digit graph lower punct space print upper xdigit cntrl\n");
    for (int c = 0; c < 256; ++c) {
        std::printf("%3d %02x ", c, c);
        std::putchar(std::isprint(c) || c >= 128 ? c : ' ');
        auto cls = [](bool on, const char* name) { std::printf("%6s", on ? name : " --- "); };
        cls(std::isalnum(c), "alnum");
        cls(std::isalpha(c), "alpha");
        cls(std::isdigit(c), "digit");
        cls(std::isgraph(c), "graph");
        cls(std::islower(c), "lower");
        cls(std::ispunct(c), "punct");
        cls(std::isspace(c), "space");
        cls(std::isprint(c), "print");
        cls(std::isupper(c), "upper");
        std::printf("%7s", std::isxdigit(c) ? "xdigit" : " ---- ");
        cls(std::iscntrl(c), "cntrl");
        std::printf("\n");
    }
    return 0;
}

int test_password() {
    // Neither the stored nor the plain text is ever shown: lengths and "***" only.
    const char* stored = env_vars.password;
    std::printf("-- Encrypted password is (%d) %s\n",
                stored ? static_cast<int>(std::strlen(stored)) : 0, stored ? "***" : "(null)");
    char* plain = fok(stored);
    if (plain) {
        bool error = std::strncmp(plain, "Error ", 6) == 0;
        std::printf("-- Decrypted password is (%d) %s\n", static_cast<int>(std::strlen(plain)),
                    error ? plain : "***");
        return error ? 21 : 0;
    }
    std::printf("-- Decrypted password is (null)\n");
    return stored && strcasecmp(stored, "none") == 0 ? 0 : 20;
}

int show_versions() {
    static const char* const kPrograms[] = {"zovcoll", "zovos",   "zovprobe", "zovprob2", "qelcoll",
                                            "qelerr",  "qellog",  "qelrel",   "qelsql",   "zypcoll",
                                            "zypsql",  "gimcoll", "gimerr",   "gimsql",   "gimstat",
                                            "zemcoll", "zemerr",  "zemlog",   "zemserv",  "zemsql"};
    std::vector<char*> names;
    for (const char* p : kPrograms) names.push_back(const_cast<char*>(p));
    std::fflush(stdout);
    u_header_load(static_cast<int>(names.size()), names.data());
    return 0;
}

int set_fe_debug() {
    if (debug_switch) {
        std::string word = "-";
        for (int l = 0; l < my_trace_all_l; ++l)
            word += my_trace_all[l] ? static_cast<char>('c' + my_trace_all[l]) : 'a';
        // Only a word every program reads as trace levels will do: anything else would be
        // taken as an operand (to zemsql, one more SQL batch).
        bool levels = my_trace_all[0] && my_trace_all[1] && my_trace_all[2];
        if (!levels || word.compare(0, 4, "-ddd") != 0) word = "-ddddd";
        std::snprintf(fetch_exit_debug, sizeof fetch_exit_debug, "%s", word.c_str());
        std::printf("-- Fetch exit debugging set to %s\n", fetch_exit_debug);
        debug_switch = 0;
    } else {
        fetch_exit_debug[0] = '\0';
        std::printf("-- Fetch exit debugging turned off\n");
        debug_switch = 1;
    }
    return 0;
}

int test_signal() {
    if (!signal_switch) {
        set_signal(1);
        signal_switch = 1;
    } else {
        set_signal(0);
        signal_switch = 0;
    }
    return 0;
}

void set_signal(int on) {
    if (env_vars.nosignals >= 4) return;
    bool all = env_vars.nosignals < 3;
    if (on && !installed) {
        for (int k = 0; k < kTrappedCount; ++k) {
            if (!kTrapped[k].always && !all) continue;
            struct sigaction act {};
            sigemptyset(&act.sa_mask);
            if (kTrapped[k].ignore) {
                act.sa_handler = SIG_IGN;
            } else {
                act.sa_sigaction = do_interrupt;
                act.sa_flags = SA_SIGINFO | SA_RESTART;
            }
            sigaction(kTrapped[k].sig, &act, &previous[k]);
            std::printf("-- Setting signal %s (%d) to %lx\n", kTrapped[k].name, kTrapped[k].sig,
                        static_cast<unsigned long>(handler_value(act)));
        }
        installed = 1;
    } else if (!on && installed) {
        for (int k = 0; k < kTrappedCount; ++k) {
            if (!kTrapped[k].always && !all) continue;
            sigaction(kTrapped[k].sig, &previous[k], nullptr);
            std::printf("-- Setting signal %s (%d) to %lx\n", kTrapped[k].name, kTrapped[k].sig,
                        static_cast<unsigned long>(handler_value(previous[k])));
        }
        installed = 0;
    }
}

// Only records the signal: printing, running ps and quitting wait until the running
// command has returned (ivpt_check_interrupt).
void do_interrupt(int sig, siginfo_t* info, void*) {
    if (info && info->si_pid > 0) {
        pending_pid = info->si_pid;
        pending_uid = static_cast<sig_atomic_t>(info->si_uid);
        pending_code = info->si_code;
        pending_info = 1;
    }
    pending_signal = sig;
}

void ivpt_check_interrupt() {
    int sig = pending_signal;
    if (!sig) return;
    std::printf("-- Signal captured type: %d\n", sig);
    if (pending_info) {
        std::printf("--   Process id: %d Uid: %d Code: %d\n", static_cast<int>(pending_pid),
                    static_cast<int>(pending_uid), static_cast<int>(pending_code));
        std::string pid = std::to_string(static_cast<int>(pending_pid));
        std::string ps = "ps", f = "-f", p = "-p";
        char* argv[] = {ps.data(), f.data(), p.data(), pid.data(), nullptr};
        std::fflush(stdout);
        execopt opts{};
        r_exec_chain* lines = u_exec_argv(argv, nullptr, 30, &opts, nullptr);
        for (r_exec_chain* l = lines; l; l = l->next) std::printf("%s\n", l->line);
        u_free_r_chain(lines);
    }
    std::printf("-- Received interupt (%d). Quitting.\n", sig);
    std::fflush(stdout);
    u_exit(128 + sig);
}
