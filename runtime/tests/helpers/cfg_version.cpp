// Test helper: reads its command line like every program of the system, then prints
// the words left and the option count. "-version ..." lists version headers and exits.
#include <cstdio>

#include "runtime/cmdline.h"
#include "runtime/env.h"

int main(int argc, char** argv) {
    int32_t count = parseHVMCmdline(argc, argv);
    std::printf("count=%d argc=%d\n", count, Argc);
    for (int i = 0; i < Argc; ++i) std::printf("word[%d]=%s\n", i, Argv[i]);
    std::printf("logonid=%s\n", env_vars.logonid ? env_vars.logonid : "(null)");
    return 0;
}
