// The command interpreter of zovivpt: the table of command words, the matcher, the help
// listing and the setting commands.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/trace.h"
#include "tools/ivpt/ivpt.h"

char* parm1 = nullptr;
char* parm2 = nullptr;
char* parm3 = nullptr;
char* parm4 = nullptr;
int margc = 0;
char** margv = nullptr;
int globalRC = 0;
int limit = 1;
int quiet = 0;
int test = 0;
int sub_out = 0;
char* margv0 = nullptr;

// The names and texts are the vocabulary users type and see, spelling included.
syntax testSyn[] = {
    {"out", 0, 0, 0, open_dot_out, "Create ivp.out for PRINT messages"},
    {"subout", 0, 0, 0, open_sub_dot_out, "pass -out to zovivpt calls (-confgured)"},
    {"get_envs", 7, 0, 0, test_get_envs, "Display the environment variables we know about"},
    {"types", 0, 0, 0, test_types, "Print type lengths"},
    {"charset", 4, 0, 0, charset, "Print character set"},
    {"singal", 0, 0, 0, test_signal, "Turn signal trapping on or off"},
    {"testpass", 0, 0, 0, test_password, "Check decryption of password"},
    {"showver", 3, 0, 0, show_versions, "Show the header information for all modules"},
    {"setdebug", 5, 0, 0, set_fe_debug, "Toggle fetch exit tracing - defautl is off"},
    {"limit", 0, 1, 0, set_limit, "Set the maximum rc that will allow processing to continue."},
    {"quiet", 0, 1, 0, set_quiet, "Don't echo the results of the commands.=1 +msg =2, +parms =3"},
    {"test", 0, 0, 0, set_test, "Don't run commands just echo them."},
    {"qeldb", 0, 0, 0, test_qel_db, "Test qelsql fetch exits"},
    {"qel", 0, 0, 0, test_qel, "Test all non-database access qel fetch exits"},
    {"viksqltxt", 4, 0, 0, test_vik_sqltext, "Test viktxt get sql text"},
    {"vikdb", 0, 0, 0, test_vik_db, "Test viksql fetch exits"},
    {"vik", 0, 0, 0, test_vik, "Test all vik fetch exits"},
    {"zemdb", 0, 0, 0, test_zem_db, "Test zemsql fetch exits"},
    {"zem", 0, 0, 0, test_zem, "Test all zem fetch exits"},
    {"gimdb", 0, 0, 0, test_gim_db, "Test gimsql fetch exits"},
    {"gim", 0, 0, 0, test_gim, "Test all gim fetch exits"},
    {"zov", 0, 0, 0, test_zov, "Test all common fetch exits"},
    {"confgured", 4, 1, 0, test_do_all,
     "Run ivp on each configured database - enter:all qel zem gim vik or serverid"},
    {"help", 1, 0, 1, help, nullptr},
    {nullptr, 0, 0, 0, nullptr, nullptr},
};

namespace {

// A number for -limit and -quiet: optional sign and digits only.
bool is_number(const char* text) {
    if (!text) return false;
    const char* p = text;
    if (*p == '-' || *p == '+') ++p;
    if (!*p) return false;
    for (; *p; ++p)
        if (*p < '0' || *p > '9') return false;
    return true;
}

}  // namespace

int DeCodeToken(const char* word, const syntax* table) {
    if (!word || (word[0] != '-' && word[0] != '+')) return -2;
    const char* rest = word + 1;
    for (int i = 0; table[i].name; ++i)
        if (u_chktoken(rest, table[i].name, table[i].signif, 0) == 0) return i;
    return -1;
}

int help() {
    const syntax* table = reinterpret_cast<const syntax*>(parm1 ? parm1 : nullptr);
    if (!table) table = testSyn;
    std::printf("\n\tEnter the name of the function to be tested\n\n");
    std::printf(" Command\t# parms-\t-help text\n");
    for (int i = 0; table[i].name; ++i) {
        char name[64];
        std::snprintf(name, sizeof name, "%s", table[i].name);
        size_t n = table[i].signif ? table[i].signif : std::strlen(name);
        for (size_t k = 0; k < n && name[k]; ++k)
            name[k] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[k])));
        std::printf(" -%-10s \t%hd", name, table[i].parms);
        if (table[i].help)
            std::printf(",\t%s\n", table[i].help);
        else
            std::printf("\n");
    }
    std::printf("\n");
    std::fflush(stdout);
    // The program's own line is that of its entry point; the first header will do when
    // the build gave none for it.
    if (&zov_version_headers && zov_version_headers[0]) {
        const char* own = zov_version_headers[0];
        for (int k = 0; zov_version_headers[k]; ++k)
            if (std::strstr(zov_version_headers[k], "ivpt_main.cpp")) own = zov_version_headers[k];
        show_headers(own, nullptr);
    }
    std::fflush(stdout);
    u_exit(1);
}

int set_limit() {
    limit = std::atoi(parm1);
    return 0;
}

int set_quiet() {
    quiet = std::atoi(parm1);
    return 0;
}

int set_test() {
    test = 1;
    return 0;
}

int open_dot_out() {
    u_openPRINTfile("ivp.out");
    return 0;
}

int open_sub_dot_out() {
    sub_out = 1;
    return 0;
}

int do_cmds(int count, char** words) {
    int rc = 0;
    for (int i = 0; i < count;) {
        int row = DeCodeToken(words[i], testSyn);
        if (row < 0) {
            std::printf("-- Invalid command '%s'\n", words[i]);
            if (limit < 200) {
                parm1 = reinterpret_cast<char*>(testSyn);
                help();
            }
            ++i;
            continue;
        }
        const syntax& cmd = testSyn[row];
        int n = cmd.parms;
        // -limit and -quiet take a number: anything else is a missing parameter, not 0.
        bool bad_number = (cmd.handler == set_limit || cmd.handler == set_quiet) && i + n < count &&
                          !is_number(words[i + 1]);
        if (i + n >= count || bad_number) {
            std::printf("-- Command '%s' needs %d parms\n", words[i], n);
            parm1 = reinterpret_cast<char*>(testSyn);
            help();
        }
        globalRC = 0;
        parm1 = parm2 = parm3 = parm4 = nullptr;
        margv = nullptr;
        switch (cmd.calltype) {
            case 0: {
                if (n > 4) {
                    std::printf("-- Too many parms requested (%d) -- quitting\n", n);
                    return 100;
                }
                char** slots[4] = {&parm1, &parm2, &parm3, &parm4};
                for (int k = 0; k < n; ++k) *slots[k] = words[i + 1 + k];
                rc = cmd.handler();
                break;
            }
            case 1:
                parm1 = reinterpret_cast<char*>(testSyn);
                cmd.handler();
                break;
            case 2:
            case 3:
                margc = count - i;
                margv = words + i + 1;
                if (cmd.calltype == 3) {
                    parm1 = margv[0];
                    if (margc > 1) parm2 = margv[1];
                    if (margc > 2) parm3 = margv[2];
                    if (margc > 3) parm4 = margv[3];
                }
                n = cmd.handler();
                rc = globalRC;
                break;
            default:
                break;
        }
        std::fflush(stdout);
        ivpt_check_interrupt();
        if (rc > limit) {
            std::printf("-- Command %s returned %d -- quitting\n", cmd.name, rc);
            return rc;
        }
        i += n + 1;
    }
    return 0;
}

int ivpt_main(int argc, char** argv) {
    margv0 = argc > 0 ? argv[0] : nullptr;
    int taken = parseHVMCmdline(argc > 0 ? argc - 1 : 0, argc > 0 ? argv + 1 : argv);
    int total = Argc;
    char** words = Argv;
    if (u_trace_on(0)) {
        PRINT('@', "--- ", "%s", "");
        PRINT('t', "ivp0096", "number parms preprocessed %d. Total parms %d\n", taken, total);
        for (int k = 0; k < total; ++k) PRINT('t', "mss0098", "Parm # %d value: %s\n", k, words[k]);
    }
    get_envs(&env_vars);
    if (taken > total) taken = total;
    int rc = do_cmds(total - taken, words + taken);
    std::fflush(stdout);
    return rc;
}
