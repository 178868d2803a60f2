// ZOVSemaphore: one System V semaphore set. The wrapper never removes the set; the
// segment wrapper that owns it does (comm/shm_memory.h).
#pragma once

#include <sys/sem.h>
#include <sys/types.h>

#include <cstddef>

#include "comm/shm_memory.h"

// The argument of semctl.
union zov_semun {
    int val;
    struct semid_ds* buf;
    unsigned short* array;
};

class ZOVSemaphore {
  public:
    // Creates or finds a set of `count` semaphores (semget(key, count, flags)); "ush0024"
    // when that fails.
    ZOVSemaphore(key_t key, int count, int flags);
    // Finds a set by key ("ush0025" when that fails) or takes the id.
    ZOVSemaphore(int idOrKey, int count, ZOVShareKeyType keyType);

    // semop; 0, or -1 ("ush0027", silent when a probe with IPC_NOWAIT would block).
    int SemOp(struct sembuf* ops, size_t count);
    // semtimedop with a limit of `timeout` seconds (0: only when it can be done at once);
    // an interrupted wait goes on until the limit, or ends as a time-out once the stop flag
    // (comm/comm_support.h) is set. 0 done, -10 the limit passed, -1 failed ("ush0027").
    int SemTimedOp(struct sembuf* ops, size_t count, int timeout);
    // The same with a limit in milliseconds.
    int SemTimedOpMs(struct sembuf* ops, size_t count, long long timeout_ms);
    // semctl(number, command, argument); 0 (or the value for GETVAL) or -1 ("ush0026").
    int SemCtl(int number, int command, zov_semun argument);
    bool IsSemGood() const { return semid >= 0; }
    int GetSemID() const { return semid; }

    int semid = -1;
};
