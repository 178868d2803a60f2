// ZOVShareMemory: one System V shared-memory segment attached to this process.
//
// The first 4 bytes of every segment hold an attach count that the wrappers keep up to
// date (the agent framework reads it); whether a segment is removed is decided by the
// system's own attach count (shm_nattch), so a crashed process cannot keep it for ever:
// the wrapper whose detach leaves no process attached removes the segment and, when
// recorded, its companion semaphore set. A failed system call leaves the wrapper "not
// good" (IsShmGood) and is logged; nothing throws.
#pragma once

#include <sys/types.h>

#include <cstddef>

// How the wrappers find an existing object: by key, or the id is given.
enum ZOVShareKeyType { ZOV_SHARE_BY_KEY = 0, ZOV_SHARE_BY_ID = 1 };

class ZOVShareMemory {
  public:
    // Creates or finds a segment (shmget(key, size, flags)); attaches when `attach` is not
    // 0 and then sets the segment's attach count to 1.
    ZOVShareMemory(size_t size, key_t key, int flags, int attach);
    // Finds a segment by key or takes the id, attaches it and adds 1 to its attach count.
    ZOVShareMemory(int idOrKey, ZOVShareKeyType keyType);
    // Detaches (attach count - 1); removes the segment and the recorded semaphore set when
    // no process is attached any longer.
    ~ZOVShareMemory();
    ZOVShareMemory(const ZOVShareMemory&) = delete;
    ZOVShareMemory& operator=(const ZOVShareMemory&) = delete;

    // Attaches when not attached yet; the address, null on failure ("ush0021").
    void* Attach();
    bool IsShmGood() const { return shmid >= 0 && attached; }
    int GetShmID() const { return shmid; }
    char* GetAddress() const { return static_cast<char*>(address); }
    // Records the semaphore set removed with the segment.
    void SetSemID(int id) { semid = id; }

    int shmid = -1;
    int semid = -1;
    void* address = nullptr;
    int attached = 0;
};

// Checks a segment named by someone else before it is attached or removed: it exists, is
// not marked for removal, has exactly `size` bytes and is owned by our user. Sets
// *nattch (when given) to the number of processes attached. True when it passes.
bool zov_shm_check(int shmid, size_t size, unsigned long* nattch);
// Checks a semaphore set likewise: it exists, holds `count` semaphores and is ours.
bool zov_sem_check(int semid, int count);
// Removes a segment or a semaphore set (IPC_RMID); errors are ignored.
void zov_shm_remove(int shmid);
void zov_sem_remove(int semid);
