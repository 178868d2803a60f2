// The collector's claim on its channel.
#include "comm/collector_claim.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "comm/comm_anchor.h"
#include "comm/comm_support.h"
#include "comm/ipc_idfile.h"
#include "comm/pipe_transport.h"
#include "runtime/env.h"
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

// A claim this process holds: the locked file and the directory it lies in.
struct held_claim {
    int fd;
    std::string path;
    dev_t dir_dev;
    ino_t dir_ino;
};

std::vector<held_claim>& held() {
    static std::vector<held_claim> claims;
    return claims;
}
pid_t held_by = 0;  // the process whose claims these are (a forked child holds no lock)

std::string claim_file_name() {
    std::string name = "col_";
    for (const char* part : {env_vars.serverid, env_vars.db_type})
        if (part != nullptr && *part != '\0') name += std::string(part) + "_";
    return name + "claim";
}

enum class claim_result { taken, held_elsewhere, passed_over };

// Locks the claim file at path. taken: *fd is the locked descriptor; held_elsewhere:
// *holder is the live process that holds it.
claim_result claim_file(const std::string& path, int* fd_out, int* holder) {
    // A few turns, should the holder end or the file be renewed between two steps.
    for (int turn = 0; turn < 10; ++turn) {
        bool writable = true;
        const int flags = O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK;
        int fd = open(path.c_str(), O_RDWR | O_CREAT | flags, 0660);
        if (fd < 0) {
            writable = false;  // still worth a look for a live holder
            fd = open(path.c_str(), O_RDONLY | flags);
        }
        if (fd < 0) return claim_result::passed_over;
        struct stat opened {};
        if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode)) {
            close(fd);
            return claim_result::passed_over;
        }
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        if (writable && fcntl(fd, F_SETLK, &lock) == 0) {
            // The former holder removes its file as it ends: the lock must be on the file
            // that the name gives now, or a third collector could claim another one.
            struct stat named {};
            if (stat(path.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
                named.st_ino == opened.st_ino) {
                *fd_out = fd;
                return claim_result::taken;
            }
            close(fd);
            continue;
        }
        struct flock probe {};
        probe.l_type = F_WRLCK;
        probe.l_whence = SEEK_SET;
        const bool locked = fcntl(fd, F_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
        close(fd);
        if (locked) {
            *holder = probe.l_pid > 0 ? static_cast<int>(probe.l_pid) : -1;
            return claim_result::held_elsewhere;
        }
        if (!writable) return claim_result::passed_over;
    }
    return claim_result::passed_over;
}

void release(held_claim& c) {
    unlink(c.path.c_str());  // while the lock is held: nobody else holds this file
    close(c.fd);
}

}  // namespace

int comm_take_collector_claim(const std::vector<std::string>& dirs, comm_collector_owner* owner) {
    if (held_by != getpid()) held().clear();  // inherited by fork: none of them locked here
    held_by = getpid();
    const size_t before = held().size();
    const std::string name = claim_file_name();
    for (const std::string& dir : dirs) {
        struct stat ds {};
        if (dir.empty() || stat(dir.c_str(), &ds) != 0 || !S_ISDIR(ds.st_mode)) continue;
        bool already = false;
        for (const held_claim& h : held())
            already = already || (h.dir_dev == ds.st_dev && h.dir_ino == ds.st_ino);
        if (already) continue;
        std::string path = dir;
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        path += "/" + name;
        int fd = -1;
        int holder = 0;
        const claim_result r = claim_file(path, &fd, &holder);
        if (r == claim_result::taken) {
            held().push_back(held_claim{fd, std::move(path), ds.st_dev, ds.st_ino});
        } else if (r == claim_result::held_elsewhere) {
            while (held().size() > before) {
                release(held().back());
                held().pop_back();
            }
            if (owner != nullptr) {
                owner->pid = holder;
                owner->where = dir;
            }
            return 1;
        }
    }
    return 0;
}

void comm_release_collector_claim() {
    if (held_by != getpid()) return;
    for (held_claim& c : held()) release(c);
    held().clear();
}

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
