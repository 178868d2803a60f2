// Lock classes of the communication objects: an abstract lock, a mutex-based one for
// threads, a binary semaphore over a System V set, and a scope guard. No thread is
// started anywhere in the system; the classes serve the in-process request queue.
#pragma once

#include <pthread.h>

#include "comm/shm_semaphore.h"

class ZOVLockObject {
  public:
    virtual ~ZOVLockObject() = default;
    virtual void Lock() = 0;
    virtual void Unlock() = 0;
};

// A mutex (and a condition that nothing waits on), default attributes.
class ZOVThreadLockObject : public ZOVLockObject {
  public:
    ZOVThreadLockObject();
    ~ZOVThreadLockObject() override;
    ZOVThreadLockObject(const ZOVThreadLockObject&) = delete;
    ZOVThreadLockObject& operator=(const ZOVThreadLockObject&) = delete;
    void Lock() override;
    void Unlock() override;

  private:
    pthread_mutex_t mutex_;
    pthread_mutexattr_t mutex_attr_;
    pthread_cond_t cond_;
    pthread_condattr_t cond_attr_;
};

// Semaphore 0 of a set as a binary lock (IPC_NOWAIT | SEM_UNDO): Lock raises it from 0
// to 1 when it is 0, Unlock lowers it when it is not 0; neither waits.
class ZOVBinarySemaphore : public ZOVLockObject {
  public:
    explicit ZOVBinarySemaphore(int semid) : sem_(semid, 1, ZOV_SHARE_BY_ID) {}
    void Lock() override;
    void Unlock() override;

  private:
    ZOVSemaphore sem_;
};

// Holds the lock for its own lifetime.
class ZOVThreadLock {
  public:
    explicit ZOVThreadLock(ZOVThreadLockObject* lock) : lock_(lock) { lock_->Lock(); }
    ~ZOVThreadLock() { lock_->Unlock(); }
    ZOVThreadLock(const ZOVThreadLock&) = delete;
    ZOVThreadLock& operator=(const ZOVThreadLock&) = delete;

  private:
    ZOVLockObject* lock_;
};
