// The bare exchanges the transports are measured against: a child process answers a
// request with `size` bytes, once through a semaphore ping-pong over one 99000-byte chunk
// area (the shared-memory transport's own chunking), once through a pair of pipes. The
// child lives as long as the object; round_trip() is one request and its whole answer.
#pragma once

#include <fcntl.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace bare {

constexpr int kChunk = 99000;

inline const std::string& payload() {
    static const std::string bytes = [] {
        std::string s(1 << 20, '\0');
        for (size_t i = 0; i < s.size(); i++) s[i] = static_cast<char>('a' + i % 26);
        return s;
    }();
    return bytes;
}

// Request semaphore, then per chunk available -> filled.
class Semaphore {
  public:
    Semaphore() {
        shmid_ = shmget(IPC_PRIVATE, kChunk + 4, IPC_CREAT | 0600);
        semid_ = semget(IPC_PRIVATE, 3, IPC_CREAT | 0600);
        if (shmid_ < 0 || semid_ < 0) std::abort();
        seg_ = static_cast<char*>(shmat(shmid_, nullptr, 0));
        unsigned short init[3] = {0, 0, 1};  // request, filled, available
        semctl(semid_, 0, SETALL, init);
        payload();
        child_ = fork();
        if (child_ == 0) serve();
    }
    ~Semaphore() {
        int32_t stop = -1;
        memcpy(seg_, &stop, 4);
        op(0, 1);
        waitpid(child_, nullptr, 0);
        shmdt(seg_);
        shmctl(shmid_, IPC_RMID, nullptr);
        semctl(semid_, 0, IPC_RMID);
    }
    pid_t child() const { return child_; }
    void round_trip(long size, std::string& out) {
        out.clear();
        int32_t want = static_cast<int32_t>(size);
        memcpy(seg_, &want, 4);
        op(0, 1);
        for (long done = 0; done < size;) {
            const long n = std::min<long>(size - done, kChunk);
            op(1, -1);
            out.append(seg_ + 4, static_cast<size_t>(n));
            done += n;
            op(2, 1);
        }
    }

  private:
    void op(unsigned short n, short v) {
        struct sembuf b = {n, v, 0};
        while (semop(semid_, &b, 1) != 0) {
        }
    }
    [[noreturn]] void serve() {
        for (;;) {
            op(0, -1);
            int32_t want;
            memcpy(&want, seg_, 4);
            if (want < 0) _exit(0);
            for (long done = 0; done < want;) {
                const long n = std::min<long>(want - done, kChunk);
                op(2, -1);
                memcpy(seg_ + 4, payload().data() + done, static_cast<size_t>(n));
                done += n;
                op(1, 1);
            }
        }
    }
    int shmid_ = -1, semid_ = -1;
    char* seg_ = nullptr;
    pid_t child_ = -1;
};

// A 4-byte request, the answer's bytes back. The answer pipe gets `pipe_size` bytes of
// room (0: the system's default), as zovcomm gives its reply pipes 1 MB.
class Pipe {
  public:
    explicit Pipe(int pipe_size = 0) {
        if (pipe(up_) != 0 || pipe(down_) != 0) std::abort();
        if (pipe_size > 0) fcntl(down_[0], F_SETPIPE_SZ, pipe_size);
        payload();
        child_ = fork();
        if (child_ == 0) serve();
        close(up_[0]);
        close(down_[1]);
    }
    ~Pipe() {
        close(up_[1]);
        close(down_[0]);
        waitpid(child_, nullptr, 0);
    }
    pid_t child() const { return child_; }
    void round_trip(long size, std::string& out) {
        out.resize(static_cast<size_t>(size));
        int32_t want = static_cast<int32_t>(size);
        if (write(up_[1], &want, 4) != 4) std::abort();
        for (long done = 0; done < size;) {
            ssize_t n = read(down_[0], out.data() + done, static_cast<size_t>(size - done));
            if (n <= 0) std::abort();
            done += n;
        }
    }

  private:
    [[noreturn]] void serve() {
        close(up_[1]);
        close(down_[0]);
        int32_t want;
        while (read(up_[0], &want, 4) == 4) {
            for (long done = 0; done < want;) {
                ssize_t n =
                    write(down_[1], payload().data() + done, static_cast<size_t>(want - done));
                if (n <= 0) _exit(1);
                done += n;
            }
        }
        _exit(0);
    }
    int up_[2] = {-1, -1}, down_[2] = {-1, -1};
    pid_t child_ = -1;
};

}  // namespace bare
