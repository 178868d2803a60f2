// zovtds: the scripted TDS 5.0 test server as a program, for scripts and the demo.
//
//   zovtds -s SCENARIO [-p PORT] [-c FREETDS_CONF] [-n SECTION] [-l LOGFILE]
//
// Prints "port N" on standard output once it listens (N is the chosen port when -p is 0
// or absent), writes a freetds.conf naming it when -c is given, logs every request to
// LOGFILE (or standard error) and runs until SIGTERM or SIGINT. Exit status 0 after a
// signal, 1 on a usage or start-up error.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/tds/tds_server.h"

namespace {
int usage() {
    fprintf(stderr,
            "usage: zovtds -s SCENARIO [-p PORT] [-c FREETDS_CONF] [-n SECTION] [-l LOGFILE]\n");
    return 1;
}
}  // namespace

int main(int argc, char** argv) {
    std::string scenario_path, conf_path, section = "ZOVTDS", log_path;
    long port = 0;
    int opt;
    while ((opt = getopt(argc, argv, "s:p:c:n:l:")) != -1) {
        switch (opt) {
            case 's':
                scenario_path = optarg;
                break;
            case 'c':
                conf_path = optarg;
                break;
            case 'n':
                section = optarg;
                break;
            case 'l':
                log_path = optarg;
                break;
            case 'p': {
                char* end = nullptr;
                port = strtol(optarg, &end, 10);
                if (*end != '\0' || port < 0 || port > 65535) return usage();
                break;
            }
            default:
                return usage();
        }
    }
    if (scenario_path.empty() || optind != argc) return usage();

    signal(SIGPIPE, SIG_IGN);
    // The stop signals are blocked in every thread and taken by sigwait below.
    sigset_t stop_set;
    sigemptyset(&stop_set);
    sigaddset(&stop_set, SIGTERM);
    sigaddset(&stop_set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stop_set, nullptr);
    // An inherited "ignore" would discard them even while blocked.
    struct sigaction sa {};
    sa.sa_handler = [](int) {};
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    zovtds::Scenario sc;
    std::string error;
    if (!zovtds::load_scenario(scenario_path, sc, error)) {
        fprintf(stderr, "zovtds: %s: %s\n", scenario_path.c_str(), error.c_str());
        return 1;
    }
    FILE* log = stderr;
    if (!log_path.empty()) {
        log = fopen(log_path.c_str(), "ae");
        if (log == nullptr) {
            fprintf(stderr, "zovtds: cannot open %s: %s\n", log_path.c_str(), strerror(errno));
            return 1;
        }
    }
    zovtds::Server server;
    server.set_log_stream(log);
    if (!server.start(sc, static_cast<int>(port), error)) {
        fprintf(stderr, "zovtds: %s\n", error.c_str());
        return 1;
    }
    if (!conf_path.empty() && !server.write_freetds_conf(conf_path, section)) {
        fprintf(stderr, "zovtds: cannot write %s\n", conf_path.c_str());
        server.stop();
        return 1;
    }
    printf("port %d\n", server.port());
    fflush(stdout);
    int sig = 0;
    sigwait(&stop_set, &sig);
    server.stop();
    server.set_log_stream(nullptr);
    if (log != stderr) fclose(log);
    return 0;
}
