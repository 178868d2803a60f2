// A private directory (id file, lock file) and a shared-memory configuration for the
// transport tests. Every System V object a test makes is recorded (track) or named in
// the id file; when the test ends none of them may be left, and any that is gets removed.
#pragma once

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "comm/comm_object.h"
#include "comm/ipc_idfile.h"
#include "comm/share_comm_object.h"
#include "comm/shm_transport.h"
#include "comm/zovcomm.h"
#include "runtime/env.h"
#include "runtime/platform.h"
#include "testing/child_support.h"

inline bool shm_exists(int id) {
    struct shmid_ds ds {};
    return id >= 0 && shmctl(id, IPC_STAT, &ds) == 0;
}
inline bool sem_exists(int id) {
    struct semid_ds ds {};
    zov_semun arg{};
    arg.buf = &ds;
    return id >= 0 && semctl(id, 0, IPC_STAT, arg) == 0;
}

class ShmFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = env_vars;
        saved_wait_ = wait_timeout;
        dir_ = make_test_dir("zovshm_test_");
        ASSERT_NE(dir_, "");
        use_test_config(dir_.data(), nullptr);  // shared memory
        wait_timeout = 3;
        zovcomm_locked = 0;
    }

    void TearDown() override {
        for (pid_t child : children_) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        DestroyShareCommObject();
        zov_ipc_ids ids{};
        if (zov_ipc_read_idfile(idfile().c_str(), &ids)) {
            shm_ids_.insert({ids.request_shmid, ids.data_shmid});
            sem_ids_.insert({ids.request_semid, ids.data_semid});
        }
        for (int id : shm_ids_) {
            EXPECT_FALSE(shm_exists(id)) << "segment " << id << " left behind";
            if (shm_exists(id)) shmctl(id, IPC_RMID, nullptr);
        }
        for (int id : sem_ids_) {
            EXPECT_FALSE(sem_exists(id)) << "semaphore set " << id << " left behind";
            if (sem_exists(id)) semctl(id, 0, IPC_RMID);
        }
        remove_test_dir(dir_);
        env_vars = saved_;
        wait_timeout = saved_wait_;
        u_platform_reset();
    }

    // Records the objects of a transport object so that the test must remove them.
    void track(const ShareCommObject* o) {
        shm_ids_.insert(o->GetShmID());
        sem_ids_.insert(o->GetSemID());
    }
    void track_current() {
        for (ZOVCommObject* o : {g_pCommObjectRequest, g_pCommObjectData}) {
            if (auto* s = dynamic_cast<ShareCommObject*>(o)) track(s);
        }
    }

    // Runs `body` in a child process (which ends with its result) and records it.
    template <class F>
    pid_t spawn(F body) {
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            int rc = 99;
            rc = body();
            _exit(rc);
        }
        children_.push_back(pid);
        return pid;
    }
    // The child's exit status (100 + signal when killed), -1 when it is not ours.
    int wait_child(pid_t pid) {
        const int status = child_status(pid);
        if (status == -1) return -1;
        for (auto it = children_.begin(); it != children_.end(); ++it) {
            if (*it == pid) {
                children_.erase(it);
                break;
            }
        }
        return status;
    }

    // The id file of this configuration: dir/host_ZEM100 without Z_server_base.
    std::string idfile() const { return dir_ + "/h1_EM100_SRV1_SRV1_ZEM100_h1"; }

    std::string dir_;
    ENV_VARS saved_{};
    int saved_wait_ = 0;
    std::set<int> shm_ids_, sem_ids_;
    std::vector<pid_t> children_;
};

// A fixture whose test starts with the request and data objects made (as the collector
// makes them) and recorded; req_ and data_ are the two.
class ShmObjectsFixture : public ShmFixture {
  protected:
    void SetUp() override {
        ShmFixture::SetUp();
        int ids[4];
        ASSERT_EQ(CreateShareCommObject(nullptr, &ids[0], &ids[1], &ids[2], &ids[3]), 1);
        track_current();
        req_ = static_cast<ShareCommObject*>(g_pCommObjectRequest);
        data_ = static_cast<ShareCommObject*>(g_pCommObjectData);
    }
    // Sets both semaphores of a set ("available", "filled").
    void set_sems(ShareCommObject* o, unsigned short available, unsigned short filled) {
        unsigned short v[2] = {available, filled};
        zov_semun arg{};
        arg.array = v;
        ASSERT_EQ(semctl(o->GetSemID(), 0, SETALL, arg), 0);
    }
    ShareCommObject* req_ = nullptr;
    ShareCommObject* data_ = nullptr;
};
