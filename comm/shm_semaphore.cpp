// The semaphore-set wrapper.
#include "comm/shm_semaphore.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "runtime/msg.h"
#include "runtime/platform.h"

ZOVSemaphore::ZOVSemaphore(key_t key, int count, int flags) {
    semid = semget(key, count, flags);
    if (semid < 0) PRINT('e', "ush0024", "Failed to create semaphore: %s\n", strerror(errno));
}

ZOVSemaphore::ZOVSemaphore(int idOrKey, int count, ZOVShareKeyType keyType) {
    if (keyType == ZOV_SHARE_BY_ID) {
        semid = idOrKey;
        return;
    }
    semid = semget(static_cast<key_t>(idOrKey), count, 0);
    if (semid < 0) PRINT('e', "ush0025", "Failed to get semaphore: %s\n", strerror(errno));
}

int ZOVSemaphore::SemOp(struct sembuf* ops, size_t count) {
    if (semop(semid, ops, count) == 0) return 0;
    if (errno != EAGAIN) PRINT('e', "ush0027", "semop() failed: %s\n", strerror(errno));
    return -1;
}

int ZOVSemaphore::SemTimedOp(struct sembuf* ops, size_t count, int timeout) {
    if (timeout < 0) timeout = 0;
    struct timespec start {};
    u_clock_now(&start);
    const long long limit_ns = static_cast<long long>(timeout) * 1000000000LL;
    long long spent_ns = 0;
    for (;;) {
        const long long left = limit_ns - spent_ns;
        struct timespec ts {};
        if (left > 0) {
            ts.tv_sec = static_cast<time_t>(left / 1000000000LL);
            ts.tv_nsec = static_cast<long>(left % 1000000000LL);
        }
        if (semtimedop(semid, ops, count, &ts) == 0) return 0;
        if (errno == EAGAIN) return -10;
        if (errno != EINTR) {
            PRINT('e', "ush0027", "semop() failed: %s\n", strerror(errno));
            return -1;
        }
        struct timespec now {};
        u_clock_now(&now);
        spent_ns = (now.tv_sec - start.tv_sec) * 1000000000LL + (now.tv_nsec - start.tv_nsec);
        if (spent_ns >= limit_ns) return -10;
    }
}

int ZOVSemaphore::SemCtl(int number, int command, zov_semun argument) {
    int rc = semctl(semid, number, command, argument);
    if (rc < 0) {
        PRINT('e', "ush0026", "semctl() failed: %s\n", strerror(errno));
        return -1;
    }
    return rc;
}
