// Temporary file names and the files made under them.
#include "runtime/tempnames.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#include "runtime/env.h"
#include "runtime/files.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace {

char retname[1024];
int TempFileNameI = 0;
bool InitPath = false;
bool tempDirWarned = false;

// A temporary directory is trusted only when it is a real directory (not a link to one),
// owned by us and writable by nobody else: otherwise another user could plant or swap
// the files we are about to create.
bool temp_dir_is_ours(const char* dir) {
    struct stat st;
    if (lstat(dir, &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool set(const char* field) { return field && *field; }

}  // namespace

char* u_createTempFileName(char* buffer, const char* base, char mode) {
    std::string name;
    if (set(env_vars.localtmpdir)) {
        const char* dir = env_vars.localtmpdir;
        if (!InitPath) {
            InitPath = true;
            // A failure shows in the check below, with the other reasons not to use it.
            (void)mkdir(dir, 0700);
        }
        if (temp_dir_is_ours(dir)) {
            name = dir;
        } else {
            if (!tempDirWarned) {
                tempDirWarned = true;
                PRINT('w', "utf0105", "Could not create path: %s, using '.'\n", dir);
            }
            name = ".";
        }
        name += "/";
    }
    if (set(env_vars.hostname)) name += std::string(env_vars.hostname) + "_";
    if (set(env_vars.db_type)) name += std::string(env_vars.db_type + 1) + "_";
    if (set(env_vars.serverid)) name += std::string(env_vars.serverid) + "_";
    if (mode != 'n' && mode != 'N') {
        char stamp[16] = "000000";
        time_t now = u_time_now();
        struct tm tm;
        if (localtime_r(&now, &tm)) std::strftime(stamp, sizeof stamp, "%H%M%S", &tm);
        if (TempFileNameI > 100) TempFileNameI = 0;
        ++TempFileNameI;
        name += stamp + std::to_string(TempFileNameI) + "_" + std::to_string(getpid()) + "_";
    }
    if (base) name += base;

    char* out = buffer ? buffer : retname;
    size_t n = name.size() < sizeof retname - 1 ? name.size() : sizeof retname - 1;
    std::memcpy(out, name.data(), n);
    out[n] = '\0';
    return out;
}

int u_createTempFile(const char* name) {
    if (!name || !*name) {
        errno = EINVAL;
        return -1;
    }
    return open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}
