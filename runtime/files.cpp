// Files, directories and locks (u_pfilen lives in pfilen.cpp).
#include "runtime/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

constexpr size_t kPathMax = 1024;  // result buffers of uf_where hold this many bytes

// COLL_PATHEXT, fetched once by uf_where and kept until uf_where(null, null, ...).
char* execExtList = nullptr;
bool execExtFetched = false;

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Bounded copy into a buffer of kPathMax bytes.
void copy_path(char* out, const std::string& text) {
    size_t n = text.size() < kPathMax - 1 ? text.size() : kPathMax - 1;
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

int32_t get_file_size(const char* path) {
    if (!path) return -1;
    // Non-blocking, so that a FIFO does not wait for a writer (it then has no size).
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    // A directory opens read-only too, but its end offset is no size.
    struct stat st;
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        return -1;
    }
    off_t end = lseek(fd, 0, SEEK_END);
    close(fd);
    if (end < 0) return -1;
    // The size is a 32-bit count; a larger file is reported at the largest count.
    return end > INT32_MAX ? INT32_MAX : static_cast<int32_t>(end);
}

char* readfile(const char* path, uint16_t flags, char commentChar) {
    if (!path || !*path) return nullptr;
    int32_t size = get_file_size(path);
    if (size <= 0) return nullptr;
    FILE* f = std::fopen(path, "re");
    if (!f) return nullptr;
    char* buf = static_cast<char*>(U_MALLOC(static_cast<long>(size) + 3));

    // pos + room stays size + 1: fgets never writes past buf[size], and a blank appended
    // behind a line that fgets filled to the end still leaves the two closing NULs inside.
    long pos = 0;
    long room = static_cast<long>(size) + 1;
    for (int lines = 0; lines < 500 && room > 1; ++lines) {
        char* line = buf + pos;
        if (!std::fgets(line, static_cast<int>(room), f)) break;
        size_t len = std::strlen(line);
        if (len == 0) continue;
        bool had_newline = line[len - 1] == '\n';
        if (flags & RF_STRIP_NEWLINE) {
            if (had_newline) line[--len] = '\0';
            if (len == 0) continue;
        }
        if (flags & RF_TRIM_TRAILING) {
            while (len > 0 && is_space(line[len - 1])) --len;
            if (!(flags & RF_STRIP_NEWLINE) && had_newline) line[len++] = '\n';
            line[len] = '\0';
        }
        if (flags & RF_TRIM_LEADING) {
            size_t skip = 0;
            while (skip < len && is_space(line[skip])) ++skip;
            std::memmove(line, line + skip, len - skip + 1);
            len -= skip;
        }
        if (line[0] == commentChar) {
            line[0] = '\0';
            continue;
        }
        if (flags & RF_APPEND_BLANK) {
            line[len++] = ' ';
            line[len] = '\0';
        }
        pos += static_cast<long>(len);
        room -= static_cast<long>(len);
    }
    std::fclose(f);
    buf[pos] = '\0';
    buf[pos + 1] = '\0';
    return buf;
}

char* u_loadfile(const char* path, char** bufOut, int32_t* sizeOut) {
    if (bufOut) *bufOut = nullptr;
    if (!path || !*path) return nullptr;
    int32_t size = get_file_size(path);
    if (size < 1) return nullptr;
    if (sizeOut) *sizeOut = size;
    char* buf = static_cast<char*>(U_MALLOC(static_cast<long>(size) + 3));
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        int saved = errno;
        U_FREE(buf);
        errno = saved;
        return nullptr;
    }
    // Read up to size + 1 bytes; a short read from a regular file is continued.
    long want = static_cast<long>(size) + 1;
    long got = 0;
    while (got < want) {
        ssize_t n = read(fd, buf + got, static_cast<size_t>(want - got));
        if (n < 0) {
            if (errno == EINTR) continue;
            int saved = errno;
            PRINT('w', "ufl1025", "read() returned -1. errno=%d %s\n", saved, std::strerror(saved));
            close(fd);
            U_FREE(buf);
            errno = saved;
            return nullptr;
        }
        if (n == 0) break;
        got += n;
    }
    close(fd);
    // The file may have grown by one byte since its size was taken; it is cut there.
    if (got > size) got = size;
    buf[got] = '\0';
    if (sizeOut) *sizeOut = static_cast<int32_t>(got);
    if (bufOut) *bufOut = buf;
    return buf;
}

int u_mkdir(const char* path) {
    if (!path || !*path) return 0;
    // The historical mode value 500, written in decimal: 0764.
    if (mkdir(path, 500) == 0) return 1;
    return errno == EEXIST ? 2 : 0;
}

int is_directory(const char* path) {
    struct stat st;
    if (!path || stat(path, &st) != 0) {
        if (path && errno != ENOENT)
            PRINT('w', "uds0400", "stat error %d %s\n", errno, std::strerror(errno));
        return 0;
    }
    return S_ISDIR(st.st_mode) ? 1 : 0;
}

int dir_exists(const char* path) { return is_directory(path); }

int file_exists(const char* path, int flags) {
    int v = 0;
    if (u_trace_on(9))
        v = 4;
    else if (u_trace_on(5))
        v = 1;
    else if (flags & FE_VERBOSE)
        v = 3;

    struct stat st;
    errno = 0;
    if (!path || stat(path, &st) != 0) {
        int err = path ? errno : ENOENT;
        if (err == ENOENT || err == 0) {
            if (v > 3) PRINT('i', "ust4000", "File %s does not exist\n", path ? path : "");
            return 2;
        }
        if (v > 0) PRINT('i', "uds0400", "stat error (%d %s) %s\n", err, std::strerror(err), path);
        return -1;
    }
    if (!S_ISREG(st.st_mode)) {
        if (v > 1) PRINT('i', "ust4070", "Not a file: %s\n", path);
        return 3;
    }
    if (st.st_size <= 0) {
        if (v > 0) PRINT('i', "ust4010", "Null file: %s\n", path);
        return 1;
    }
    if (!(flags & FE_EXEC)) return 0;

    if (!(st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH))) {
        if (v > 2) PRINT('i', "ust4020", "File is not executable: %s\n", path);
        return 5;
    }
    if (st.st_mode & S_IXOTH) {
        if (v > 2) PRINT('i', "ust4030", "Anyone can execute file: %s\n", path);
        return 0;
    }
    if (st.st_uid == getuid() || st.st_uid == geteuid()) {
        if (st.st_mode & S_IXUSR) {
            if (v > 2) PRINT('i', "ust4040", "Owner can execute file: %s\n", path);
            return 0;
        }
        if (v > 2) PRINT('i', "ust4042", "Owner can not execute file: %s\n", path);
        return 4;
    }
    if ((st.st_mode & S_IXGRP) && (st.st_gid == getgid() || st.st_gid == getegid())) {
        if (v > 2) PRINT('i', "ust4050", "Group can execute file: %s\n", path);
        return 0;
    }
    if (v > 2) PRINT('i', "ust4060", "File is not executable by current user/group: %s\n", path);
    return 4;
}

int is_file(const char* path) { return file_exists(path, 0); }

int uf_where(const char* name, char* resultOut, int* posInOut, const char* pathList) {
    if (!name) {
        if (!resultOut) {
            U_FREE(execExtList);
            execExtList = nullptr;
            execExtFetched = false;
        }
        return 2;
    }

    // A name with a directory in it is not searched for.
    if (std::strchr(name, '/')) {
        if (posInOut) *posInOut = 0;
        if (file_exists(name, FE_EXEC) != 0) return 1;
        if (resultOut) copy_path(resultOut, name);
        if (u_trace_on(7)) PRINT('t', "ufw3090", "Found file path %s\n", name);
        return 0;
    }

    char* fetched = nullptr;
    const char* list = pathList;
    if (!list || !*list) {
        fetched = u_getenv("PATH", 1, nullptr);
        if (!fetched) return 2;
        list = fetched;
    }
    size_t len = std::strlen(list);
    size_t start = 0;
    if (posInOut && *posInOut > 0 && static_cast<size_t>(*posInOut) < len)
        start = static_cast<size_t>(*posInOut);

    std::vector<std::string> exts;
    if (!std::strchr(name, '.')) {
        if (!execExtFetched) {
            execExtList = u_getenv("COLL_PATHEXT", 0, "");
            execExtFetched = true;
        }
        if (execExtList) {
            std::string cur;
            for (const char* p = execExtList;; ++p) {
                if (*p == ':' || *p == ' ' || *p == '\0') {
                    if (!cur.empty()) exts.push_back(cur);
                    cur.clear();
                    if (!*p) break;
                } else {
                    cur += *p;
                }
            }
        }
    }

    auto test = [](const std::string& candidate) {
        return candidate.size() < kPathMax && file_exists(candidate.c_str(), FE_EXEC) == 0;
    };

    int result = 1;
    size_t seg = start;
    while (seg <= len) {
        const char* colon = std::strchr(list + seg, ':');
        size_t seg_end = colon ? static_cast<size_t>(colon - list) : len;
        size_t next = colon ? seg_end + 1 : 0;
        if (seg_end > seg) {
            std::string candidate(list + seg, seg_end - seg);
            if (candidate.back() != '/') candidate += '/';
            candidate += name;
            std::string found;
            if (exts.empty()) {
                if (test(candidate)) found = candidate;
            } else {
                for (const std::string& e : exts) {
                    std::string c = e.size() >= 2 ? candidate + e : candidate;
                    if (test(c)) {
                        found = c;
                        break;
                    }
                }
            }
            if (!found.empty()) {
                if (resultOut) copy_path(resultOut, found);
                if (posInOut) *posInOut = next < len ? static_cast<int>(next) : 0;
                if (u_trace_on(7)) PRINT('t', "ufw3090", "Found file path %s\n", found.c_str());
                result = 0;
                break;
            }
        }
        if (!colon) break;
        seg = next;
    }
    if (result != 0 && posInOut) *posInOut = 0;
    U_FREE(fetched);
    return result;
}

int lock_reg(int fd, int cmd, int type, off_t offset, int whence, off_t len) {
    struct flock lock {};
    lock.l_type = static_cast<short>(type);
    lock.l_start = offset;
    lock.l_whence = static_cast<short>(whence);
    lock.l_len = len;
    return fcntl(fd, cmd, &lock);
}

namespace {

// Sets (F_WRLCK) or clears (F_UNLCK) the lock on the whole of the stream's file, waiting
// for it when `wait` is 1; -1 with errno set when that fails.
int lock_whole_file(FILE* fp, int wait, int type) {
    int fd = fp ? fileno(fp) : -1;
    if (fd < 0) {
        errno = EBADF;
        return -1;
    }
    return lock_reg(fd, wait == 1 ? F_SETLKW : F_SETLK, type, 0, SEEK_SET, 0);
}

}  // namespace

int issue_write_lock(FILE* fp, const char* name, int wait) {
    if (lock_whole_file(fp, wait, F_WRLCK) == -1) {
        int err = errno;
        PRINT('e', "cgn3985", "Write_lock error %d on %s. %s\n", err, name ? name : "",
              std::strerror(err));
        return 1;
    }
    return 0;
}

int issue_unlock(FILE* fp, const char* name, int wait) {
    if (lock_whole_file(fp, wait, F_UNLCK) == -1) {
        int err = errno;
        PRINT('e', "cgn3990", "Unlock error %d on %s. %s!!\n", err, name ? name : "",
              std::strerror(err));
        return 1;
    }
    return 0;
}

namespace {

// Undoes the octal escapes (\040 and kin) of a mountinfo field.
std::string unescape_mount(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 3 < s.size() &&
            std::isdigit(static_cast<unsigned char>(s[i + 1]))) {
            out += static_cast<char>(std::strtol(s.substr(i + 1, 3).c_str(), nullptr, 8));
            i += 3;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The file-system type of the mount that holds path, from /proc/self/mountinfo: the
// mount of the same device (the last one listed, which lies on top), else the longest
// mount point that is a prefix of the real path. Empty when unknown.
std::string mount_type(const char* path) {
    struct stat st;
    bool have_dev = stat(path, &st) == 0;
    char real[PATH_MAX];
    std::string rpath = realpath(path, real) ? real : "";
    std::ifstream in("/proc/self/mountinfo");
    std::string line, by_dev, by_prefix;
    size_t best = 0;
    while (std::getline(in, line)) {
        // id parent major:minor root mount-point options [optional...] - type source ...
        std::vector<std::string> f;
        size_t p = 0;
        while (p < line.size()) {
            size_t q = line.find(' ', p);
            if (q == std::string::npos) q = line.size();
            f.push_back(line.substr(p, q - p));
            p = q + 1;
        }
        size_t dash = 0;
        for (size_t i = 6; i < f.size(); ++i)
            if (f[i] == "-") {
                dash = i;
                break;
            }
        if (f.size() < 5 || dash == 0 || dash + 1 >= f.size()) continue;
        const std::string& type = f[dash + 1];
        unsigned maj = 0, min = 0;
        if (have_dev && std::sscanf(f[2].c_str(), "%u:%u", &maj, &min) == 2 &&
            maj == major(st.st_dev) && min == minor(st.st_dev))
            by_dev = type;
        std::string mp = unescape_mount(f[4]);
        if (!rpath.empty() && rpath.compare(0, mp.size(), mp) == 0 &&
            (mp == "/" || rpath.size() == mp.size() || rpath[mp.size()] == '/') &&
            mp.size() >= best) {
            best = mp.size();
            by_prefix = type;
        }
    }
    return by_dev.empty() ? by_prefix : by_dev;
}

}  // namespace

void u_fs_type_text(const char* fstype, bool mounted_read_only, char* out) {
    static const char* const local[] = {"ext2", "ext3", "ext4", "xfs", "btrfs", "tmpfs",
                                        "ufs",  "vxfs", "jfs",  "hfs", "cdrfs", "iso9660"};
    const char* type = fstype ? fstype : "";
    bool cd = std::strcmp(type, "cdrfs") == 0 || std::strcmp(type, "iso9660") == 0;
    char cls = '?';
    if (std::strncmp(type, "nfs", 3) == 0) {
        cls = 'n';
    } else {
        for (const char* t : local)
            if (std::strcmp(type, t) == 0) cls = 'l';
    }
    out[0] = cls;
    out[1] = (cd || mounted_read_only) ? 'r' : 'w';
    out[2] = '\0';
}

int uf_dirstat(const char* path, char* typeOut, uint64_t* availOut, uint64_t* usedOut,
               uint64_t* totalOut) {
    struct statvfs vfs;
    if (!path || statvfs(path, &vfs) != 0) {
        int err = path ? errno : EFAULT;
        PRINT('e', "uds0400", "statvfs error %d %s\n", err, std::strerror(err));
        return 1;
    }
    if (typeOut) {
        std::string type = mount_type(path);
        u_fs_type_text(type.c_str(), (vfs.f_flag & ST_RDONLY) != 0, typeOut);
    }
    uint64_t k = vfs.f_frsize / 1024;
    if (k < 1) k = 1;
    if (availOut) *availOut = k * vfs.f_bavail;
    if (usedOut) *usedOut = k * vfs.f_blocks - k * vfs.f_bfree;
    if (totalOut) *totalOut = k * vfs.f_blocks;
    return 0;
}

int uf_filestat(const char* path, char* typeOut, uint16_t* modeInOut, int32_t* sizeKbOut,
                uid_t* uidOut, gid_t* gidOut, time_t* mtimeOut) {
    mode_t mode = 0;
    if (!path && typeOut && modeInOut) {
        mode = *modeInOut;
    } else {
        struct stat st;
        if (!path || stat(path, &st) != 0) {
            int err = path ? errno : EFAULT;
            if (err == ENOENT) return 1;
            PRINT('w', "uds0400", "stat error %d %s.  File:%s\n", err, std::strerror(err),
                  path ? path : "");
            return -1;
        }
        mode = st.st_mode;
        if (modeInOut) *modeInOut = static_cast<uint16_t>(mode);
        if (sizeKbOut) {
            off_t kb = st.st_size / 1024;
            *sizeKbOut = kb > INT32_MAX ? INT32_MAX : static_cast<int32_t>(kb);
        }
        if (uidOut) *uidOut = st.st_uid;
        if (gidOut) *gidOut = st.st_gid;
        if (mtimeOut) *mtimeOut = st.st_mtime;
    }
    if (typeOut) {
        char t = '?';
        if (S_ISREG(mode))
            t = 'f';
        else if (S_ISDIR(mode))
            t = 'd';
        else if (S_ISFIFO(mode))
            t = 'p';
        else if (S_ISCHR(mode))
            t = 'c';
        else if (S_ISBLK(mode))
            t = 'b';
        typeOut[0] = t;
        typeOut[1] = '\0';
        if (!modeInOut) {
            static const mode_t bits[9] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                                           S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
            static const char letters[] = "rwxrwxrwx";
            for (int i = 0; i < 9; ++i) typeOut[1 + i] = (mode & bits[i]) ? letters[i] : '-';
            if (mode & S_ISUID) typeOut[3] = 's';
            if (mode & S_ISGID) {
                if (typeOut[6] == 'x') typeOut[6] = 's';
                if (typeOut[9] == 'x') typeOut[9] = 's';
            }
            typeOut[10] = '\0';
        }
    }
    return 0;
}
