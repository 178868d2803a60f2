// The IPC id file, its lock file and the set-up of the shared objects.
#include "comm/ipc_idfile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "comm/share_comm_object.h"
#include "comm/shm_layout.h"
#include "runtime/dates.h"
#include "runtime/env.h"
#include "runtime/files.h"
#include "runtime/msg.h"
#include "runtime/tempnames.h"
#include "runtime/trace.h"

namespace {

const char* text_or_empty(const char* s) { return s ? s : ""; }

// A regular file owned by us, opened without following a symbolic link.
bool ours(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == geteuid();
}

bool both_exist() { return g_pCommObjectRequest && g_pCommObjectData; }

}  // namespace

std::string zov_ipc_idfile_name() {
    std::string base = std::string(text_or_empty(env_vars.serverid)) + "_" +
                       text_or_empty(env_vars.db_type) + "_" + text_or_empty(env_vars.hostname);
    char buffer[1024];
    u_createTempFileName(buffer, base.c_str(), 'n');
    return buffer;
}

bool zov_ipc_read_idfile(const char* path, zov_ipc_ids* ids) {
    int fd = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    if (!ours(fd)) {
        PRINT('e', "ush0040", "IPC id file %s is not a regular file of ours; ignored\n", path);
        close(fd);
        return false;
    }
    char text[256];
    ssize_t n = read(fd, text, sizeof text - 1);
    close(fd);
    if (n <= 0) return false;
    text[n] = '\0';
    return sscanf(text, "%d %d %d %d %d %d", &ids->partner, &ids->writer, &ids->request_shmid,
                  &ids->request_semid, &ids->data_shmid, &ids->data_semid) == 6;
}

// Writes the file through a new temporary file beside it and rename; true on success.
static bool zov_ipc_write_idfile(const char* path, const zov_ipc_ids& ids) {
    char line[128];
    int len = snprintf(line, sizeof line, "%d %d %d %d %d %d\n", ids.partner, ids.writer,
                       ids.request_shmid, ids.request_semid, ids.data_shmid, ids.data_semid);
    std::string temp = std::string(path) + ".tmp" + std::to_string(getpid());
    unlink(temp.c_str());  // a leftover of our own earlier crash
    int fd = u_createTempFile(temp.c_str());
    if (fd < 0) return false;
    bool ok = write(fd, line, static_cast<size_t>(len)) == len;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), path) == 0) return true;
    unlink(temp.c_str());
    return false;
}

int IsServerRunning(int pid) {
    if (pid < 1) return 0;
    const int alive = kill(pid, 0) == 0 || errno == EPERM;
    if (u_trace_on(5)) PRINT('t', "ush0400", "kill(%d, 0): %s\n", pid, alive ? "alive" : "gone");
    return alive;
}

int AmICollector(int pid) {
    if (!IsServerRunning(pid)) return 0;
    char path[64];
    snprintf(path, sizeof path, "/proc/%d/comm", pid);
    FILE* f = fopen(path, "re");
    if (!f) return 0;
    char comm[64] = "";
    const bool got = fgets(comm, sizeof comm, f) != nullptr;
    fclose(f);
    return got && strstr(comm, "coll") ? 1 : 0;
}

int CreateShareCommObject(const char* /*name*/, int* requestShmid, int* requestSemid,
                          int* dataShmid, int* dataSemid) {
    auto* request = new ShareCommObject(ZOV_SHARE_REQUEST, shm::REQ_SIZE, IPC_PRIVATE, 1,
                                        ZOV_SHM_CREATE_FLAGS, ZOV_SHM_CREATE_FLAGS);
    g_pCommObjectRequest = request;
    if (!request->IsGood()) PRINT('e', "ush0034", "Failed to create Request object\n");
    auto* data = new ShareCommObject(ZOV_SHARE_DATA, shm::DATA_SIZE, IPC_PRIVATE, 1,
                                     ZOV_SHM_CREATE_FLAGS, ZOV_SHM_CREATE_FLAGS);
    g_pCommObjectData = data;
    if (!data->IsGood()) PRINT('e', "ush0035", "Failed to create Data object\n");
    *requestShmid = request->GetShmID();
    *requestSemid = request->GetSemID();
    *dataShmid = data->GetShmID();
    *dataSemid = data->GetSemID();
    return request->IsGood() && data->IsGood();
}

int AttachShareCommObject(int requestShmid, int requestSemid, int dataShmid, int dataSemid) {
    auto* request =
        new ShareCommObject(ZOV_SHARE_REQUEST, requestShmid, requestSemid, ZOV_SHARE_BY_ID);
    g_pCommObjectRequest = request;
    if (!request->IsGood()) PRINT('e', "ush0036", "Failed to attach Request object\n");
    auto* data = new ShareCommObject(ZOV_SHARE_DATA, dataShmid, dataSemid, ZOV_SHARE_BY_ID);
    g_pCommObjectData = data;
    if (!data->IsGood()) PRINT('e', "ush0037", "Failed to attach Data object\n");
    return request->IsGood() && data->IsGood();
}

void DestroyShareCommObject() {
    if (g_pCommObjectData == g_pCommObjectRequest) g_pCommObjectData = nullptr;  // one object
    delete g_pCommObjectRequest;
    g_pCommObjectRequest = nullptr;
    delete g_pCommObjectData;
    g_pCommObjectData = nullptr;
}

void DetachShareCommObject() { DestroyShareCommObject(); }

int CreateShare(const char* /*name*/, const char* idFile) {
    if (both_exist()) return 0;
    zov_ipc_ids old{};
    bool attach = false;
    int partner = -1;
    if (zov_ipc_read_idfile(idFile, &old)) {
        const bool alive1 = IsServerRunning(old.partner);
        const bool alive2 = IsServerRunning(old.writer);
        unsigned long req_users = 0, data_users = 0;
        const bool req_ok = zov_shm_check(old.request_shmid, shm::REQ_SIZE, &req_users);
        const bool data_ok = zov_shm_check(old.data_shmid, shm::DATA_SIZE, &data_users);
        const bool req_sem_ok = zov_sem_check(old.request_semid, 2);
        const bool data_sem_ok = zov_sem_check(old.data_semid, 2);
        const bool valid = req_ok && data_ok && req_sem_ok && data_sem_ok;
        if (valid && (alive1 || alive2 || req_users > 0 || data_users > 0)) {
            attach = true;
            partner = alive1 ? old.partner : old.writer;
            // A live collector stays named, so that a second collector finds it.
            if (!AmICollector(partner) && AmICollector(old.writer)) partner = old.writer;
        } else {
            // Nobody uses them any longer: remove what is ours and of the right shape.
            if (req_ok && req_users == 0) zov_shm_remove(old.request_shmid);
            if (data_ok && data_users == 0) zov_shm_remove(old.data_shmid);
            if (req_sem_ok && (!req_ok || req_users == 0)) zov_sem_remove(old.request_semid);
            if (data_sem_ok && (!data_ok || data_users == 0)) zov_sem_remove(old.data_semid);
        }
    }
    char when[64];
    zov_ipc_ids ids{};
    if (attach) {
        ids = old;
        if (!AttachShareCommObject(old.request_shmid, old.request_semid, old.data_shmid,
                                   old.data_semid)) {
            DestroyShareCommObject();
            return -1;
        }
        PRINT('a', "ush0035", "Attached IPCID(%s): %d %d %d %d\n", u_get_time(when, 1),
              ids.request_shmid, ids.request_semid, ids.data_shmid, ids.data_semid);
    } else {
        if (!CreateShareCommObject(nullptr, &ids.request_shmid, &ids.request_semid, &ids.data_shmid,
                                   &ids.data_semid)) {
            PRINT('e', "ush0033", "Failed to initialize share memory and semaphore\n");
            DestroyShareCommObject();
            return -1;
        }
        PRINT('a', "ush0034", "Created IPCID(%s): %d %d %d %d\n", u_get_time(when, 1),
              ids.request_shmid, ids.request_semid, ids.data_shmid, ids.data_semid);
        partner = -1;
    }
    ids.partner = partner;
    ids.writer = static_cast<int>(getpid());
    if (!zov_ipc_write_idfile(idFile, ids)) {
        PRINT('e', "ush0032", "Cannot open file: %s\n", idFile);
        DestroyShareCommObject();
        return -1;
    }
    return 0;
}

int InitShare(const char* serverid, const char* /*ctlHome*/) {
    if (!env_vars.tmpdir) get_envs(&env_vars);
    const std::string idFile = zov_ipc_idfile_name();
    const std::string lockFile = idFile + "-lk";
    int fd = open(lockFile.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && !ours(fd)) {
        close(fd);
        fd = -1;
    }
    FILE* lock = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (!lock) {
        if (fd >= 0) close(fd);
        PRINT('e', "ush0560", "Cannot open lock file: %s\n", lockFile.c_str());
        return -1;
    }
    if (u_trace_on(5)) PRINT('t', "ush0550", "locking file %s\n", lockFile.c_str());
    if (issue_write_lock(lock, lockFile.c_str(), 1) != 0) {
        fclose(lock);
        return -1;
    }
    if (ftruncate(fileno(lock), 0) != 0) { /* the pid below is informative only */
    }
    const int rc = CreateShare(serverid, idFile.c_str());
    fprintf(lock, "%d\n", static_cast<int>(getpid()));
    fflush(lock);
    if (u_trace_on(5)) PRINT('t', "ush0570", "Unlock file %s\n", lockFile.c_str());
    issue_unlock(lock, lockFile.c_str(), 1);
    fclose(lock);
    return rc == 0 ? 0 : -1;
}
