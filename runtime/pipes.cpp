// Named pipes.
#include "runtime/pipes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

bool is_our_fifo(const struct stat& st) { return S_ISFIFO(st.st_mode) && st.st_uid == geteuid(); }

}  // namespace

int MakeNamedPipe(const char* field) {
    if (!field) {
        errno = EINVAL;
        return -1;
    }
    if (mkfifo(field, 0660) != 0) return -1;
    // The umask may have narrowed the mode; the group needs its access all the same.
    if (chmod(field, 0660) != 0) {
        int saved = errno;
        unlink(field);
        errno = saved;
        return -1;
    }
    return 0;
}

int ClientOpenPipe(const char* path, int flags) {
    return OpenCheckedPipe(path, flags, is_our_fifo);
}

int OpenCheckedPipe(const char* path, int flags, bool (*allowed)(const struct stat&)) {
    if (!path) {
        errno = EINVAL;
        return -1;
    }
    struct stat before;
    if (lstat(path, &before) != 0) return -1;
    if (!allowed(before)) {
        errno = EPERM;
        return -1;
    }
    int mode = (flags & 2) ? O_WRONLY : O_RDONLY;
    if (flags & 4) mode |= O_NONBLOCK;
    int fd = open(path, mode | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -1;
    // The name may have been swapped between the test and the open.
    struct stat after;
    if (fstat(fd, &after) != 0 || !allowed(after) || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        close(fd);
        errno = EPERM;
        return -1;
    }
    return fd;
}

int WritePipe(int fd, const void* buffer, int length) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(write(fd, buffer, static_cast<size_t>(length)));
}

int ReadPipe(int fd, void* buffer, int length) {
    if (length < 0) {
        errno = EINVAL;
        return -1;
    }
    return static_cast<int>(read(fd, buffer, static_cast<size_t>(length)));
}

int ClosePipe(int fd) { return close(fd); }

int Access(const char* path, int) { return path && access(path, F_OK) == 0 ? 0 : -1; }

void DisconnectPipe(int) {}

int AcceptConnection(int, int) { return 0; }

int ClientConnectToPipe(const char*, int) { return 0; }
