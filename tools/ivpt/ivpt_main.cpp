// zovivpt: checks an installation by running the commands named on its command line.
#include "runtime/platform.h"
#include "tools/ivpt/ivpt.h"

int main(int argc, char** argv) {
    int status = 1;
    try {
        status = ivpt_main(argc, argv);
    } catch (...) {
        status = 1;
    }
    u_exit(status);
}
