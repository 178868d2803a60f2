// How zovivpt runs other programs and judges them. Nothing goes through a shell: the
// program starts from an argument vector under the child layer's time limit, and the
// verdict takes its exit status into account as well as its output lines.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/child.h"
#include "runtime/env.h"
#include "runtime/exec.h"
#include "runtime/strings.h"
#include "runtime/trace.h"
#include "tools/ivpt/ivpt.h"

char* retcmd = nullptr;

namespace {

constexpr int kRunLimit = 600;  // seconds a program may run
constexpr int kCapture = 4096;
constexpr int kCaptureEnd = 4093;
char capture[kCapture];

// How a run ended, beside its lines.
struct Outcome {
    r_exec_chain* lines = nullptr;
    bool started = true;
    int failure = 0;  // 0 ran and ended with status 0; else n, or 128 + signal
};

// The program under the configured binary directory when it is there, else its name
// (searched on the path).
std::string resolve_program(const char* command) {
    const char* bin = env_vars.bin_home;
    if (bin && *bin && !std::strchr(command, '/')) {
        std::string full = std::string(bin) + "/" + command;
        struct stat st {};
        if (stat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(full.c_str(), X_OK) == 0)
            return full;
    }
    return command;
}

// The words of the run, as the shell would have seen the joined line.
std::vector<std::string> argv_words(const std::vector<RunParm>& parms) {
    std::vector<std::string> out;
    size_t k = 0, n = parms.size();
    for (const RunParm& p : parms) {
        bool empty = !p.text || !*p.text;
        bool last = ++k == n;
        if (empty) {
            if (k > 1 && !last) out.push_back("-null-");
            continue;
        }
        if (!p.words) {
            out.push_back(p.text);
            continue;
        }
        std::string copy = p.text;
        std::vector<char*> slots(copy.size() / 2 + 2, nullptr);
        int count = u_tokenset(slots.data(), copy.data(), nullptr);
        for (int w = 0; w < count; ++w) out.push_back(slots[w]);
    }
    return out;
}

Outcome execute(const char* command, const std::vector<RunParm>& parms, char* echo_into) {
    Outcome o;
    if (test) {
        // Nothing starts: the command line itself is the one line that comes back.
        std::string line = std::string(command) + " " + join_parms(parms);
        if (echo_into) std::snprintf(echo_into, kCapture, "%s", line.c_str());
        o.lines = u_new_r_chain(line.c_str(), static_cast<int32_t>(line.size()));
        return o;
    }
    std::fflush(stdout);
    std::string path = resolve_program(command);
    std::vector<std::string> words = argv_words(parms);
    std::vector<char*> argv;
    argv.push_back(path.data());
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    execopt opts{};
    // The database access programs read COLL_PASSWORD; so does the tool itself when a
    // sub-command runs it again with the configuration it read. No other program gets it.
    const char* slash = std::strrchr(path.c_str(), '/');
    opts.keeppw = u_is_db_access_program(path.c_str()) ||
                  std::strcmp(slash ? slash + 1 : path.c_str(), "zovivpt") == 0;
    int32_t status = -1;
    o.lines = u_exec_argv_status(argv.data(), nullptr, kRunLimit, &opts, nullptr, &status);
    if (opts.processRC == pRC_ierror) {
        o.started = false;
        return o;
    }
    if (status == -1) {
        o.failure = 128 + SIGKILL;
    } else if (WIFEXITED(status)) {
        o.failure = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        o.failure = 128 + WTERMSIG(status);
    }
    if (opts.processRC == pRC_timedout && o.failure == 0) o.failure = 128 + SIGKILL;
    return o;
}

int judge(int documented, const Outcome& o) {
    if (!o.started) return 8;
    if (o.failure == 0) return documented;
    return std::max({documented, 4, o.failure});
}

}  // namespace

std::string join_parms(const std::vector<RunParm>& parms) {
    std::string out;
    size_t k = 0, n = parms.size();
    for (const RunParm& p : parms) {
        bool empty = !p.text || !*p.text;
        ++k;
        if (k == 1) {
            if (!empty) out = p.text;
        } else if (k < n) {
            out += empty ? std::string(" -null-") : std::string(" ") + p.text;
        } else if (!empty) {
            out += std::string(" ") + p.text;
        }
    }
    if (out.size() > 1023) out.resize(1023);
    return out;
}

char* run_cmd_ret(const char* command, const std::vector<RunParm>& parms, int flags) {
    int level = 0;
    if (u_trace_on(3)) level = 1;
    if (u_trace_on(4)) level = 2;
    if (u_trace_on(5)) level = 3;
    if (flags & RUN_ECHO9) level = 9;
    std::string joined = join_parms(parms);
    if (level > 0) std::printf("-- run_cmd_ret cmd=%s, parms=%s.\n", command, joined.c_str());
    Outcome o = execute(command, parms, test ? capture : nullptr);
    if (!o.started || o.failure != 0) {
        // A program that failed gives no text to pick values from.
        u_free_r_chain(o.lines);
        if (level > 1) std::printf("-- No data returned\n");
        return nullptr;
    }
    if (!o.lines) {
        if (level > 1) std::printf("-- No data returned\n");
        return nullptr;
    }
    if (level > 1) std::printf("-- Returned data\n");
    std::memset(capture, 0, sizeof capture);
    size_t pos = 0;
    bool full = false;
    for (r_exec_chain* l = o.lines; l && !full; l = l->next) {
        const char* text = l->line;
        while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\f' ||
               *text == '\v')
            ++text;
        if (!*text) continue;
        if (text[0] == '-' && text[1] == '>') {
            text += 2;
        } else if ((flags & RUN_NOMSG) && u_ismessage(text)) {
            if (level > 1) std::printf("-- %s\n", text);
            continue;
        }
        if (level > 2) std::printf("-- ->%.200s<-\n", text);
        size_t len = std::strlen(text);
        if (pos + len + 1 > kCaptureEnd) {
            full = true;
            break;
        }
        std::memcpy(capture + pos, text, len);
        capture[pos + len] = (flags & RUN_BLANKS) ? ' ' : '\0';
        pos += len + 1;
    }
    if (level > 1) std::printf("-- \n");
    u_free_r_chain(o.lines);
    return capture;
}

int run_cmd(const char* command, const std::vector<RunParm>& parms, int flags) {
    if (flags & RUN_CAPTURE) {
        retcmd = run_cmd_ret(command, parms, flags);
        return retcmd ? 0 : 4;
    }
    if (quiet < 3)
        std::printf("-- run_cmd cmd=%s, parms=%s.\n", command, join_parms(parms).c_str());
    Outcome o = execute(command, parms, nullptr);
    if (!o.lines) {
        if (quiet < 2) std::printf("-- No data returned\n");
        return judge(5, o);
    }
    int rc = std::strstr(o.lines->line, "Command not found.") ? 8 : 0;
    std::printf("-- Returned data\n");
    bool data = false;
    for (r_exec_chain* l = o.lines; l; l = l->next) {
        if (u_ismessage(l->line)) {
            if (quiet < 2) std::printf("-- %s\n", l->line);
        } else {
            data = true;
            if (quiet < 1) std::printf("-- ->%.200s<-\n", l->line);
        }
    }
    if (quiet < 2) std::printf("-- \n");
    u_free_r_chain(o.lines);
    if (!data) rc = 4;
    return judge(rc, o);
}

std::string join_parms(std::initializer_list<RunParm> parms) {
    return join_parms(std::vector<RunParm>(parms));
}

char* run_cmd_ret(const char* command, std::initializer_list<RunParm> parms, int flags) {
    return run_cmd_ret(command, std::vector<RunParm>(parms), flags);
}

int run_cmd(const char* command, std::initializer_list<RunParm> parms, int flags) {
    return run_cmd(command, std::vector<RunParm>(parms), flags);
}

std::string program_path(const char* command) { return resolve_program(command); }

int test_exec_timed_v() {
    std::printf("\n-----------------------------------------------------------------\n");
    int seconds = parm1 ? std::atoi(parm1) : 0;
    std::printf(" Time limit=%d, Command=%s, Parms=%s.\n", seconds, parm3 ? parm3 : "(null)",
                parm4 ? parm4 : "(null)");
    execopt opts{};
    opts.callerSet = 1;
    const char* o = parm2;
    if (!o || !*o || *o == '?') {
        std::printf(" 0 -iflargep     If parms are too long put them someplace else \n");
        std::printf(
            " 1 -stdinp       place parms to child processes in the stdin pipe (conditional "
            "with iflargep)\n");
        std::printf(" 2 -infile       write parms to a temp file (conditional with iflargep)\n");
        std::printf(
            " 3 -parmsaltin   put \"--\" in command line indicating parms in stdin\n\t or if "
            "parms writen to file then set parm field to @tfilename\n");
        std::printf(" 4 -retstderr    redirect stderr also \n");
        std::printf(" 5 -outpfile     use a file instead of pipe for child stdout \n");
        if (!o || !*o) return 0;
        ++o;
        if (!*o) return 0;
    }
    size_t len = std::strlen(o);
    auto at = [&](size_t k) { return k < len && o[k] == '1'; };
    opts.iflargep = at(0);
    opts.stdinp = at(1);
    opts.infile = at(2);
    opts.parmsaltin = at(3);
    opts.retstderr = at(4);
    opts.outpfile = at(5);
    std::printf("iflargep=%d stdinp=%d infile=%d parmsaltin=%d retstderr=%d outpfile=%d \n", at(0),
                at(1), at(2), at(3), at(4), at(5));
    opts.maxRetLines = 120;
    std::fflush(stdout);
    r_exec_chain* lines = u_exec_timed(parm3 ? parm3 : "", parm4 ? parm4 : "", seconds, &opts);
    std::printf("processRC=%d,  Returned data\n", static_cast<int>(opts.processRC));
    for (r_exec_chain* l = lines; l; l = l->next) std::printf("(%03d)->%s<-\n", l->size, l->line);
    u_free_r_chain(lines);
    return 0;
}
