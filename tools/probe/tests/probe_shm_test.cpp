// zovprobe as a shared-memory requester (COLL_USESHM unset) against a collector stub.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "comm/ipc_idfile.h"
#include "comm/zovcomm.h"
#include "runtime/alloc.h"
#include "runtime/env.h"

#ifndef ZOVPROBE_PATH
#error "ZOVPROBE_PATH must name the zovprobe program"
#endif

namespace {

class ProbeShm : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/zovprobe_shm_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (stub_ > 0) {
            kill(stub_, SIGKILL);
            waitpid(stub_, nullptr, 0);
        }
        zov_ipc_ids ids{};
        if (zov_ipc_read_idfile((dir_ + "/h1_EM100_SRV1_SRV1_ZEM100_h1").c_str(), &ids)) {
            struct shmid_ds ds {};
            for (int id : {ids.request_shmid, ids.data_shmid}) {
                EXPECT_NE(shmctl(id, IPC_STAT, &ds), 0) << "segment " << id << " left behind";
                shmctl(id, IPC_RMID, nullptr);
            }
            for (int id : {ids.request_semid, ids.data_semid}) {
                EXPECT_LT(semctl(id, 0, GETVAL), 0) << "semaphore set " << id << " left behind";
                semctl(id, 0, IPC_RMID);
            }
        }
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") unlink((dir_ + "/" + n).c_str());
            }
            closedir(d);
        }
        rmdir(dir_.c_str());
    }

    // A shared-memory collector child: answers ROWS with two rows "ab cd" and anything
    // else with no rows, `requests` times, then "term" and "shut".
    void start_stub(int requests) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        stub_ = fork();
        ASSERT_GE(stub_, 0);
        if (stub_ == 0) {
            close(ready[0]);
            static std::string dir = dir_;
            env_vars.coll_home = dir.data();
            env_vars.localtmpdir = dir.data();
            env_vars.tmpdir = dir.data();
            env_vars.useshm = nullptr;
            env_vars.serverid = const_cast<char*>("SRV1");
            env_vars.db_type = const_cast<char*>("ZEM100");
            env_vars.hostname = const_cast<char*>("h1");
            wait_timeout = 5;
            zovcomm("initsm");
            auto* a = static_cast<comm_anchor*>(zovcomm("initc"));
            if (!a || write(ready[1], "r", 1) != 1) _exit(2);
            int served = 0;
            for (int turn = 0; served < requests && turn < 10; turn++) {
                auto* chain = static_cast<curs_list*>(zovcomm("get", a, nullptr));
                if (!chain) continue;
                if (strcmp(chain->cursor, "ROWS") == 0) {
                    chain->rows = 2;
                    chain->len = 5;
                    chain->data = static_cast<char*>(U_MALLOC(10));
                    memcpy(chain->data, "ab cdab cd", 10);
                }
                if (zovcomm("put", a) != nullptr) _exit(3);
                served++;
            }
            zovcomm("term", a);
            zovcomm("shut", static_cast<comm_anchor*>(nullptr));
            _exit(served == requests ? 0 : 4);
        }
        close(ready[1]);
        char c;
        ASSERT_EQ(read(ready[0], &c, 1), 1);
        close(ready[0]);
    }

    int stub_status() {
        int status = 0;
        if (waitpid(stub_, &status, 0) != stub_) return -1;
        stub_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }

    // Runs zovprobe over shared memory; returns its exit status, output in output_.
    int run_probe(const std::vector<std::string>& words) {
        int out[2];
        if (pipe(out) != 0) return -1;
        pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            close(out[0]);
            close(out[1]);
            std::vector<std::string> env = {"COLL_SERVERID=SRV1",
                                            "COLL_VERSION=ZEM100",
                                            "COLL_HOSTNAME=h1",
                                            "WAIT_TIMEOUT=5",
                                            "COLL_PREFIX=" + dir_,
                                            "TZ=UTC",
                                            "LC_ALL=C"};
            for (const char* keep : {"PATH", "ASAN_OPTIONS", "UBSAN_OPTIONS", "HOME"}) {
                if (const char* v = getenv(keep)) env.push_back(std::string(keep) + "=" + v);
            }
            std::vector<char*> envp;
            for (auto& e : env) envp.push_back(e.data());
            envp.push_back(nullptr);
            std::vector<std::string> args = {"zovprobe"};
            args.insert(args.end(), words.begin(), words.end());
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execve(ZOVPROBE_PATH, argv.data(), envp.data());
            _exit(127);
        }
        close(out[1]);
        output_.clear();
        char buf[4096];
        ssize_t n;
        while ((n = read(out[0], buf, sizeof buf)) > 0) output_.append(buf, n);
        close(out[0]);
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) return -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }

    std::string dir_;
    std::string output_;
    pid_t stub_ = 0;
};

TEST_F(ProbeShm, SamplesOverSharedMemoryAndLeavesNoObjects) {
    start_stub(2);  // one request per name
    EXPECT_EQ(run_probe({"rows", "empty"}), 0) << output_;
    EXPECT_NE(output_.find("*********Cursor:ROWS, Rows:2\nab.cd\n\nab.cd\n\n"), std::string::npos)
        << output_;
    EXPECT_NE(output_.find("*********Cursor:EMPTY, Rows:0\n<<No rows returned>>\n"),
              std::string::npos)
        << output_;
    EXPECT_EQ(stub_status(), 0);
}

}  // namespace
