// What the benchmarks that read a child's output share: the child started as the child
// layer starts one (posix_spawn, its standard output on a pipe), the pipe read to its end
// in lines, this process's own CPU time and the directory of this program.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

extern char** environ;

namespace benchpipe {

// CPU seconds of this process (user and system), its children not counted.
inline double cpu_seconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
           static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The directory this program lies in.
inline std::string self_dir() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    const std::string path = n > 0 ? std::string(self, static_cast<size_t>(n)) : std::string(".");
    return path.substr(0, path.rfind('/'));
}

// Starts path with argv, its standard output on a pipe; the pipe's read end (close-on-exec),
// or -1 when the program could not start. *pid is the child's.
inline int spawn_reading(const char* path, char* const argv[], pid_t* pid) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    const int e = posix_spawn(pid, path, &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    if (e != 0) {
        close(fds[0]);
        return -1;
    }
    return fds[0];
}

// Reads fd to its end with blocking reads of 64 KB and hands each line to
// on_line(begin, end), its newline left out; then a last line without a newline. A line
// longer than the 128 KB buffer is handed on in pieces of the buffer's size. Closes fd.
template <class F>
void read_lines(int fd, F on_line) {
    static char buf[2 * 65536];
    size_t carried = 0;
    ssize_t n;
    while ((n = read(fd, buf + carried, std::min<size_t>(65536, sizeof buf - carried))) > 0 ||
           (n < 0 && errno == EINTR)) {
        if (n < 0) continue;
        char* p = buf;
        char* const end = buf + carried + n;
        while (char* nl = static_cast<char*>(std::memchr(p, '\n', static_cast<size_t>(end - p)))) {
            on_line(p, nl);
            p = nl + 1;
        }
        carried = static_cast<size_t>(end - p);
        if (carried == sizeof buf) {
            on_line(buf, buf + carried);
            carried = 0;
        }
        std::memmove(buf, p, carried);
    }
    if (carried > 0) on_line(buf, buf + carried);
    close(fd);
}

}  // namespace benchpipe
