// zovprobe: asks a running collector for cursors and prints the rows.
#include "runtime/platform.h"
#include "tools/probe/probe.h"

int main(int argc, char** argv) { u_exit(probe_main(argc, argv)); }
