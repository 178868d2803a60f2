// The lock classes.
#include "comm/shm_locks.h"

#include <sys/sem.h>

ZOVThreadLockObject::ZOVThreadLockObject() {
    pthread_mutexattr_init(&mutex_attr_);
    pthread_mutex_init(&mutex_, &mutex_attr_);
    pthread_condattr_init(&cond_attr_);
    pthread_cond_init(&cond_, &cond_attr_);
}

ZOVThreadLockObject::~ZOVThreadLockObject() {
    pthread_mutex_destroy(&mutex_);
    pthread_mutexattr_destroy(&mutex_attr_);
    pthread_cond_destroy(&cond_);
    pthread_condattr_destroy(&cond_attr_);
}

void ZOVThreadLockObject::Lock() { pthread_mutex_lock(&mutex_); }
void ZOVThreadLockObject::Unlock() { pthread_mutex_unlock(&mutex_); }

namespace {

// A zero test on semaphore 0: succeeds when its value is 0.
bool is_zero(ZOVSemaphore& sem) {
    struct sembuf test = {0, 0, static_cast<short>(IPC_NOWAIT | SEM_UNDO)};
    return sem.SemOp(&test, 1) == 0;
}

}  // namespace

void ZOVBinarySemaphore::Lock() {
    if (!is_zero(sem_)) return;
    struct sembuf up = {0, 1, static_cast<short>(IPC_NOWAIT | SEM_UNDO)};
    sem_.SemOp(&up, 1);
}

void ZOVBinarySemaphore::Unlock() {
    if (is_zero(sem_)) return;
    struct sembuf down = {0, -1, static_cast<short>(IPC_NOWAIT | SEM_UNDO)};
    sem_.SemOp(&down, 1);
}
