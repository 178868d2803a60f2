// The collector's claim on its channel.
#include "comm/collector_claim.h"

#include <fcntl.h>
#include <unistd.h>

#include "comm/comm_anchor.h"
#include "comm/comm_support.h"
#include "comm/ipc_idfile.h"
#include "comm/pipe_transport.h"
#include "runtime/pipes.h"

namespace {

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The process that holds a lock on the collector pipe, 0 when none (or no such pipe).
int pipe_holder(std::string* where) {
    // Only the name is wanted here: a name this call builds is not kept.
    const bool preset = col_pipe_name[0] != '\0';
    char path[COMM_NAME_SIZE] = "";
    const int rc = make_pipe_name("col", path);
    if (!preset) col_pipe_name[0] = '\0';
    if (rc != 0) return 0;
    const int fd = ClientOpenPipe(path, 4);  // read-only, without waiting for a writer
    if (fd < 0) return 0;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    const bool locked = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    close(fd);
    if (!locked || probe.l_pid == getpid()) return 0;
    *where = directory_of(path);
    return static_cast<int>(probe.l_pid);
}

// A live collector other than this process named in the IPC id file, 0 when none.
int idfile_collector(std::string* where) {
    const std::string idfile = zov_ipc_idfile_name();
    if (access(idfile.c_str(), F_OK) != 0) return 0;
    zov_ipc_ids ids{};
    if (!zov_ipc_read_idfile(idfile.c_str(), &ids)) return 0;
    for (int pid : {ids.partner, ids.writer}) {
        if (pid > 0 && pid != getpid() && AmICollector(pid)) {
            *where = directory_of(idfile);
            return pid;
        }
    }
    return 0;
}

}  // namespace

comm_collector_owner comm_find_live_collector() {
    comm_collector_owner owner;
    owner.pid = pipe_holder(&owner.where);
    if (owner.pid == 0) owner.pid = idfile_collector(&owner.where);
    return owner;
}

int comm_mark_collector_pipe(int fd) {
    struct flock mark {};
    mark.l_type = F_RDLCK;
    mark.l_whence = SEEK_SET;
    return fcntl(fd, F_SETLK, &mark) == 0 ? 0 : -1;
}
