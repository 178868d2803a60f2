// The pipe transport's readers: the input is what waits in the collector pipe; the
// collector takes request after request from it (header check, record check, reply pipe
// check) until it is empty. The first 8 bytes are also read as an answer header, as a
// requester reads one from its reply pipe.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "comm/comm_anchor.h"
#include "comm/pipe_transport.h"
#include "comm/request.h"
#include "comm/zovcomm.h"
#include "fuzz/fuzz_support.h"
#include "runtime/env.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static char pipe_dir[] = "/tmp/zovfuzzpipes";
    static const bool ready = [] {
        fuzzing::quiet_log();
        env_vars.localtmpdir = pipe_dir;  // reply pipes are only named, never opened
        return true;
    }();
    (void)ready;
    if (size >= static_cast<size_t>(COMM_HEADER_BYTES)) {
        stream_header h{};
        int64_t bytes = 0;
        comm_header_decode(data, &h, &bytes);
    }
    const std::string path = fuzzing::write_file("col_pipe", fuzzing::text(data, size));
    comm_anchor* anchor = comm_new_anchor('C');
    std::snprintf(anchor->coll_pipe, sizeof anchor->coll_pipe, "%s", path.c_str());
    anchor->coll_pipe_fd = open(path.c_str(), O_RDONLY | O_NONBLOCK);
    // Each round takes at least the 4 header bytes or finds the pipe empty.
    for (size_t round = 0; round <= size / 4 + 1 && anchor->coll_pipe_fd >= 0; ++round) {
        struct stat st {};
        if (fstat(anchor->coll_pipe_fd, &st) != 0 ||
            lseek(anchor->coll_pipe_fd, 0, SEEK_CUR) >= st.st_size)
            break;
        get_request(anchor, nullptr);
    }
    comm_drop_requests(anchor);
    anchor->coll_pipe[0] = '\0';  // the file stays for the next input
    term_comm(anchor);
    fuzzing::traces_off();
    return 0;
}
