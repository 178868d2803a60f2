// zemcoll: the performance data collector.
#include <malloc.h>

#include "collector/startup/startup.h"

int main(int argc, char** argv) {
    // A long-running process that builds and frees the same large answers again and
    // again: keep large blocks on the heap, so that each answer does not come from a
    // fresh mapping whose first touch costs a page fault per 4 KB.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 256 << 20);
    zemcoll_main(argc, argv);
}
