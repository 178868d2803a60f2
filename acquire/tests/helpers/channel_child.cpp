// A scripted stand-in for a database access program in channel mode, for the channel
// parent's tests. It records what it gets and answers each request from a script.
//
// CHAN_LOG names the record file: "START <pid>", "ARGV <words>", "ENV COLL_PASSWORD=<value>"
// and "ENV COLL_DEBUG=<value>" ("-" when unset) at start, "< <line>" for each line read,
// "EOF" at the end of input.
//
// CHAN_SCRIPT names the script (read again for each request): answers separated by lines "==", one
// answer per request (a request ends with its !Z line). The answer index is kept in "<script>.pos",
// so a new child goes on where the last one stopped; past the last answer a plain status record and
// !Z are sent. In answer lines "%I" stands for the request's id field (from !X I) and "%A"
// for its cursor name blank-padded to 8 (from !X A). Directives:
//   @sleep <ms>   wait
//   @exit         end at once (mid-answer)
//   @hang         never answer (until ended)
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

FILE* g_log = nullptr;

void log_line(const std::string& s) {
    if (!g_log) return;
    std::fprintf(g_log, "%s\n", s.c_str());
    std::fflush(g_log);
}

std::vector<std::vector<std::string>> read_script(const std::string& path) {
    std::vector<std::vector<std::string>> answers(1);
    std::ifstream in(path);
    for (std::string l; std::getline(in, l);) {
        if (l == "==")
            answers.emplace_back();
        else
            answers.back().push_back(l);
    }
    if (answers.back().empty()) answers.pop_back();
    return answers;
}

int read_pos(const std::string& path) {
    std::ifstream in(path);
    int n = 0;
    in >> n;
    return n;
}

void write_pos(const std::string& path, int n) { std::ofstream(path) << n; }

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
    for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
        s.replace(at, from.size(), to);
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    // As the real programs: a parent that has gone is a failed write, not the end.
    std::signal(SIGPIPE, SIG_IGN);
    const char* log_path = std::getenv("CHAN_LOG");
    const char* script_env = std::getenv("CHAN_SCRIPT");
    if (log_path) g_log = std::fopen(log_path, "a");
    log_line("START " + std::to_string(getpid()));
    std::string words;
    for (int i = 1; i < argc; ++i) words += (i > 1 ? " " : "") + std::string(argv[i]);
    log_line("ARGV " + words);
    for (const char* name : {"COLL_PASSWORD", "COLL_DEBUG"}) {
        const char* v = std::getenv(name);
        log_line(std::string("ENV ") + name + "=" + (v ? v : "-"));
    }
    const std::string script = script_env ? script_env : "";
    const std::string pos_path = script + ".pos";

    std::string id = "0000", cursor = "        ";
    char line[8192];
    while (std::fgets(line, sizeof line, stdin)) {
        std::string l = line;
        while (!l.empty() && (l.back() == '\n' || l.back() == '\r')) l.pop_back();
        log_line("< " + l);
        if (l.rfind("!X I", 0) == 0) id = l.substr(5, 4);
        if (l.rfind("!X A", 0) == 0) {
            cursor = l.substr(5, 8);
            cursor.resize(8, ' ');
        }
        if (l.rfind("!Z", 0) != 0) continue;
        // Read for each request: a test may give a running child a new script.
        const auto answers = read_script(script);
        int pos = read_pos(pos_path);
        std::vector<std::string> answer;
        if (pos < static_cast<int>(answers.size()))
            answer = answers[static_cast<size_t>(pos)];
        else
            answer = {"!I S 0000 %I 00000000 %A Y", "!Z"};
        write_pos(pos_path, pos + 1);
        for (const auto& a : answer) {
            if (a.rfind("@sleep ", 0) == 0) {
                usleep(static_cast<useconds_t>(std::atoi(a.c_str() + 7)) * 1000u);
            } else if (a == "@exit") {
                log_line("EXIT");
                return 0;
            } else if (a == "@hang") {
                for (;;) pause();
            } else {
                std::string out = replace_all(replace_all(a, "%I", id), "%A", cursor);
                std::fprintf(stdout, "%s\n", out.c_str());
                std::fflush(stdout);
            }
        }
    }
    log_line("EOF");
    return 0;
}
