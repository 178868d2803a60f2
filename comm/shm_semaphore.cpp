// The semaphore-set wrapper.
#include "comm/shm_semaphore.h"

#include <cerrno>
#include <cstring>
#include <ctime>

#include "comm/comm_support.h"
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
    return SemTimedOpMs(ops, count, timeout < 0 ? 0 : static_cast<long long>(timeout) * 1000);
}

int ZOVSemaphore::SemTimedOpMs(struct sembuf* ops, size_t count, long long timeout_ms) {
    if (timeout_ms < 0) timeout_ms = 0;
    const int64_t deadline = comm_now_ms() + timeout_ms;
    for (;;) {
        // Waits in steps, so that the stop flag is read at least every step.
        int64_t left = deadline - comm_now_ms();
        if (left < 0) left = 0;
        if (left > COMM_STOP_CHECK_MS) left = COMM_STOP_CHECK_MS;
        struct timespec ts {
            static_cast<time_t>(left / 1000), static_cast<long>(left % 1000) * 1000000L
        };
        if (semtimedop(semid, ops, count, &ts) == 0) return 0;
        if (errno != EAGAIN && errno != EINTR) {
            PRINT('e', "ush0027", "semop() failed: %s\n", strerror(errno));
            return -1;
        }
        if (comm_stop_requested() || comm_now_ms() >= deadline) return -10;
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
