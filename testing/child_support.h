// What the comm and probe tests share: a private directory, the configuration that points
// the communication at it (a stub collector runs in a child with it), and child processes
// (their readiness and exit status).
#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "runtime/env.h"
#include "testing/temp_dir.h"

// Makes a private directory (mode 0700) "<stem>XXXXXX" under $TMPDIR (else /tmp); empty
// when it could not be made.
inline std::string make_test_dir(const char* stem) {
    std::string name = test_temp_template(stem);
    return mkdtemp(name.data()) ? name : std::string();
}

// The names in `dir`, without "." and "..".
inline std::vector<std::string> dir_entries(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = opendir(dir.c_str())) {
        while (dirent* e = readdir(d)) {
            std::string n = e->d_name;
            if (n != "." && n != "..") out.push_back(n);
        }
        closedir(d);
    }
    return out;
}

// Removes the files in `dir` and then `dir` itself.
inline void remove_test_dir(const std::string& dir) {
    for (const auto& e : dir_entries(dir)) unlink((dir + "/" + e).c_str());
    rmdir(dir.c_str());
}

// Points the configuration at `dir` (home, pipe and temporary directory; the
// configuration then counts as read) for server "SRV1", version "ZEM100", host "h1";
// `useshm` is COLL_USESHM (null: shared memory). `dir` must outlive its use.
inline void use_test_config(char* dir, char* useshm) {
    static char server[] = "SRV1";
    static char version[] = "ZEM100";
    static char host[] = "h1";
    env_vars.coll_home = dir;
    env_vars.localtmpdir = dir;
    env_vars.tmpdir = dir;
    env_vars.useshm = useshm;
    env_vars.serverid = server;
    env_vars.db_type = version;
    env_vars.hostname = host;
}

// Waits for child `pid`: its exit status, 100 + the signal when one ended it, -1 when it
// is not a child of ours.
inline int child_status(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

// A child's one-byte "ready" for its parent. Make it before the fork; the child calls
// signal() once it is set up, the parent wait().
class ReadySignal {
  public:
    ReadySignal() {
        if (pipe(fds_) != 0) fds_[0] = fds_[1] = -1;
    }
    ~ReadySignal() { close_both(); }
    ReadySignal(const ReadySignal&) = delete;
    ReadySignal& operator=(const ReadySignal&) = delete;

    // False when the pipe could not be made.
    bool ok() const { return fds_[0] >= 0; }
    // In the child: true when the parent got the byte.
    bool signal() {
        close_one(0);
        const bool sent = fds_[1] >= 0 && write(fds_[1], "r", 1) == 1;
        close_one(1);
        return sent;
    }
    // In the parent: true when the child signalled, false when it ended without.
    bool wait() {
        close_one(1);
        char c = 0;
        const bool got = fds_[0] >= 0 && read(fds_[0], &c, 1) == 1;
        close_one(0);
        return got;
    }

  private:
    void close_one(int i) {
        if (fds_[i] >= 0) close(fds_[i]);
        fds_[i] = -1;
    }
    void close_both() {
        close_one(0);
        close_one(1);
    }
    int fds_[2];
};
