// Test helper: a child that overruns its time limit.
// xh_slow <lines> <seconds> [ignterm] [grandchild <pidfile>] [exit <status>]
// Prints <lines> lines "line <n>", optionally starts a grandchild (same process group)
// that writes its pid to <pidfile> and sleeps 60 seconds, then sleeps <seconds> seconds
// and exits with <status> (0 by default). With ignterm it ignores SIGTERM.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    int lines = std::atoi(argv[1]);
    int seconds = std::atoi(argv[2]);
    const char* pidfile = nullptr;
    int status = 0;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "ignterm") == 0) signal(SIGTERM, SIG_IGN);
        if (std::strcmp(argv[i], "grandchild") == 0 && i + 1 < argc) pidfile = argv[++i];
        if (std::strcmp(argv[i], "exit") == 0 && i + 1 < argc) status = std::atoi(argv[++i]);
    }
    for (int i = 1; i <= lines; ++i) std::printf("line %d\n", i);
    std::fflush(stdout);
    if (pidfile) {
        pid_t pid = fork();
        if (pid == 0) {
            signal(SIGTERM, SIG_DFL);
            if (FILE* f = std::fopen(pidfile, "w")) {
                std::fprintf(f, "%d\n", static_cast<int>(getpid()));
                std::fclose(f);
            }
            sleep(60);
            _exit(0);
        }
    }
    sleep(static_cast<unsigned>(seconds));
    return status;
}
