// zovivpt, the installation verification tool: a command interpreter over its own command
// line, the runner that starts and judges other programs, and the checks it offers.
#pragma once

#include <signal.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

// ---- Command table and interpreter (commands.cpp) ----------------------------------

// One command word. `signif` leading characters must match (0: the whole name).
struct syntax {
    const char* name;
    uint16_t signif;
    int16_t parms;     // how many following words the command takes
    int16_t calltype;  // 0 plain, 1 help, 2 argument vector, 3 vector and parm1..parm4
    int (*handler)();
    const char* help;
};

extern syntax testSyn[];  // ended by a row whose name is null

extern char* parm1;
extern char* parm2;
extern char* parm3;
extern char* parm4;
extern int margc;
extern char** margv;
extern int globalRC;
extern int limit;  // highest result that lets the run go on
extern int quiet;  // runner output level 0..3
extern int test;   // echo commands instead of running them
extern int sub_out;
extern char* margv0;

// The program: reads the runtime options, then runs the command words. Returns the exit
// status.
int ivpt_main(int argc, char** argv);
// Runs the command words left to right; 0, or the result that stopped the run.
int do_cmds(int count, char** words);
// 0-based row of the table, -2 when the word lacks its "-" or "+", -1 when nothing matches.
int DeCodeToken(const char* word, const syntax* table);

int help();  // prints the listing and ends the process with status 1
int open_dot_out();
int open_sub_dot_out();
int set_limit();
int set_quiet();
int set_test();

// ---- Runner (runner.cpp) -------------------------------------------------------------

enum : int {
    RUN_NOMSG = 1,    // captured: leave out message lines
    RUN_BLANKS = 2,   // captured: kept lines separated by blanks (else by NULs)
    RUN_CAPTURE = 8,  // run_cmd: capture into retcmd instead of echoing
    RUN_ECHO9 = 16    // captured: echo at the highest level
};

// One parameter of a run. The tool's own texts (`words` set) are split into words as a
// shell would split them, quotes honoured; a value from the configuration or from another
// program's output is passed as one word whatever it holds.
struct RunParm {
    const char* text;
    bool words;
};
inline RunParm W(const char* text) { return {text, true}; }
inline RunParm V(const char* text) { return {text, false}; }

extern char* retcmd;  // text of the last captured run_cmd, null when nothing came back

// Joins the parameters as shown: an empty middle one is "-null-", an empty last one is
// left out.
std::string join_parms(std::initializer_list<RunParm> parms);
std::string join_parms(const std::vector<RunParm>& parms);
// Runs command with the parameters and judges it (0, 4, 5, 8, or the failure status).
int run_cmd(const char* command, std::initializer_list<RunParm> parms, int flags);
int run_cmd(const char* command, const std::vector<RunParm>& parms, int flags);
// Runs command and returns its kept lines in the shared 4096-byte buffer, or null.
char* run_cmd_ret(const char* command, std::initializer_list<RunParm> parms, int flags);
char* run_cmd_ret(const char* command, const std::vector<RunParm>& parms, int flags);
// Where a program is started from: under the configured binary directory when it is
// there, else its name (searched on the path).
std::string program_path(const char* command);
int test_exec_timed_v();

// ---- Environment, password, version and signal checks (env_checks.cpp) --------------

extern char fetch_exit_debug[20];
int test_get_envs();
int test_types();
int charset();
int test_password();
int show_versions();
int set_fe_debug();
int test_signal();
void set_signal(int on);
void do_interrupt(int sig, siginfo_t* info, void* context);
// When a trapped signal arrived: prints what the handler would and ends the process with
// 128 + the signal. Called between commands.
void ivpt_check_interrupt();

// ---- Fetch-exit program tests (fetch_exit_tests.cpp) ---------------------------------

int test_zov();
int test_zem();
int test_qel();
int test_gim();
int test_vik();
int test_vik_db();
int test_vik_sqltext();

// ---- Configured runs (config.cpp) ---------------------------------------------------

// Reads one database's configuration file: 0 it is installed on this host and complete
// (its settings are then exported into the environment and env_vars), 1 not installed,
// 2 another host, 3 incomplete or longer than 500 lines, 9 unreadable.
int setEnvFromCfg(const char* path);
int test_do_all();

// ---- Database access program tests (db_test.cpp) -------------------------------------

// Runs a database access program with s1 and s2 on its command line, s3 through a
// parameter file and s4 to s6 (each in parentheses) as its channel parent.
int test_db(const char* program, const char* s1, const char* s2, const char* s3, const char* s4,
            const char* s5, const char* s6);
int test_qel_db();
int test_zem_db();
int test_gim_db();
