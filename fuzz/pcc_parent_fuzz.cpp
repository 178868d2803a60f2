// The parent side of the channel: the input is what the child printed on its standard
// output; pcc_receive_sql reads it line by line to its end, as the collector reads an
// answer.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>

#include "fuzz/fuzz_support.h"
#include "runtime/alloc.h"
#include "runtime/child.h"
#include "runtime/pcc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (fuzzing::quiet_log(), setenv("COLL_WAIT_TIMEOUT", "1", 1), true);
    (void)ready;
    int fd = memfd_create("pcc_parent", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0) {
        close(fd);
        return 0;
    }
    static createProcessComm cpc;
    cpc = createProcessComm{};
    cpc.outFileFd = -1;
    cpc.stdinPipe[0] = cpc.stdinPipe[1] = -1;
    cpc.stdoutPipe[0] = fd;
    cpc.stdoutPipe[1] = -1;
    cpc.pidfd = -1;
    execopt opts{};
    opts.ihandle = &cpc;
    char buf[pcc_record_size];
    // Every call takes at least one byte or ends the input.
    for (size_t guard = 0; guard <= size + 1; ++guard)
        if (pcc_receive_sql(buf, &opts) == 0) break;
    U_FREE(cpc.outStream);
    close(fd);
    fuzzing::traces_off();
    return 0;
}
