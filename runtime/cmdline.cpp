// Command-line options, argument files and version headers.
#include "runtime/cmdline.h"

OPTIONS options{};
int32_t Argc = 0;
char** Argv = nullptr;

char** parseCmdline(int argc, char** argv) {
    Argc = argc;
    Argv = argv;
    return argv;
}

int32_t parseHVMCmdline(int argc, char** argv) {
    parseCmdline(argc, argv);
    return 0;
}
