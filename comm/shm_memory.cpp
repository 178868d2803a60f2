// The shared-memory segment wrapper and the ownership checks of System V objects.
#include "comm/shm_memory.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "comm/shm_layout.h"
#include "runtime/msg.h"

namespace {

void add_to_count(void* address, int delta) {
    char* seg = static_cast<char*>(address);
    shm::put32(seg, shm::REQ_ATTACH, shm::get32(seg, shm::REQ_ATTACH) + delta);
}

}  // namespace

ZOVShareMemory::ZOVShareMemory(size_t size, key_t key, int flags, int attach) {
    shmid = shmget(key, size, flags);
    if (shmid < 0) {
        PRINT('e', "ush0016", "Failed to construct ZOVShareMemory(): %s\n", strerror(errno));
        return;
    }
    if (attach) Attach();
    if (attached) shm::put32(GetAddress(), shm::REQ_ATTACH, 1);
}

ZOVShareMemory::ZOVShareMemory(int idOrKey, ZOVShareKeyType keyType) {
    shmid = keyType == ZOV_SHARE_BY_KEY ? shmget(static_cast<key_t>(idOrKey), 0, 0) : idOrKey;
    if (shmid < 0) {
        PRINT('e', "ush0017", "Failed to construct ZOVShareMemory(): %s\n",
              strerror(keyType == ZOV_SHARE_BY_KEY ? errno : EINVAL));
        return;
    }
    Attach();
    if (attached) add_to_count(address, 1);
}

void* ZOVShareMemory::Attach() {
    if (attached) return address;
    void* a = shmat(shmid, nullptr, 0);
    if (a == reinterpret_cast<void*>(-1)) {
        PRINT('e', "ush0021", "Failed to attach share memory: %s\n", strerror(errno));
        return nullptr;
    }
    address = a;
    attached = 1;
    return address;
}

ZOVShareMemory::~ZOVShareMemory() {
    if (!attached) return;
    add_to_count(address, -1);
    if (shmdt(address) != 0) {
        PRINT('e', "ush0018", "Failed to detach share memory: %s\n", strerror(errno));
    }
    attached = 0;
    address = nullptr;
    struct shmid_ds ds {};
    if (shmctl(shmid, IPC_STAT, &ds) != 0) return;  // already removed by a partner
    if (ds.shm_nattch > 0 || (ds.shm_perm.mode & SHM_DEST)) return;
    if (shmctl(shmid, IPC_RMID, nullptr) != 0 && errno != EINVAL && errno != EIDRM) {
        PRINT('e', "ush0019", "Failed to remove share memory: %s\n", strerror(errno));
    }
    if (semid >= 0 && semctl(semid, 0, IPC_RMID) != 0 && errno != EINVAL && errno != EIDRM) {
        PRINT('e', "ush0020", "Failed to remove share memory: %s\n", strerror(errno));
    }
}

bool zov_shm_check(int shmid, size_t size, unsigned long* nattch) {
    if (shmid < 0) return false;
    struct shmid_ds ds {};
    if (shmctl(shmid, IPC_STAT, &ds) != 0) return false;
    if (nattch) *nattch = ds.shm_nattch;
    return ds.shm_segsz == size && ds.shm_perm.uid == geteuid() && !(ds.shm_perm.mode & SHM_DEST);
}

bool zov_sem_check(int semid, int count) {
    if (semid < 0) return false;
    struct semid_ds ds {};
    union semun {
        int val;
        struct semid_ds* buf;
        unsigned short* array;
    } arg{};
    arg.buf = &ds;
    if (semctl(semid, 0, IPC_STAT, arg) != 0) return false;
    return ds.sem_nsems == static_cast<unsigned long>(count) && ds.sem_perm.uid == geteuid();
}

void zov_shm_remove(int shmid) {
    if (shmid >= 0) shmctl(shmid, IPC_RMID, nullptr);
}

void zov_sem_remove(int semid) {
    if (semid >= 0) semctl(semid, 0, IPC_RMID);
}
