// zovprobe: asks a running collector for cursors and prints the rows.
#include "runtime/platform.h"
#include "tools/probe/probe.h"

int main(int argc, char** argv) {
    int status = 1;
    try {
        status = probe_main(argc, argv);
    } catch (...) {
        status = 1;
    }
    u_exit(status);
}
