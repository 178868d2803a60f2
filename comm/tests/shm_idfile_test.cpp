// The IPC id file and the set-up of the shared objects: create, attach, clean up after a
// crash, two processes at once.
#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "comm/shm_layout.h"
#include "comm/tests/shm_fixture.h"

namespace {

class ShmIdFile : public ShmFixture {
  protected:
    // The messages of the set-up (written to standard output or error, as the log
    // writer chooses for their type).
    void start_capture() {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    std::string captured() {
        std::string out = testing::internal::GetCapturedStdout();
        return out + testing::internal::GetCapturedStderr();
    }
    std::string read_file(const std::string& path) {
        std::ifstream in(path);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    zov_ipc_ids ids() {
        zov_ipc_ids i{};
        EXPECT_TRUE(zov_ipc_read_idfile(idfile().c_str(), &i));
        return i;
    }
    void expect_alive(const zov_ipc_ids& i, bool alive) {
        EXPECT_EQ(shm_exists(i.request_shmid), alive);
        EXPECT_EQ(shm_exists(i.data_shmid), alive);
        EXPECT_EQ(sem_exists(i.request_semid), alive);
        EXPECT_EQ(sem_exists(i.data_semid), alive);
    }
    // A child that sets up and then waits (holding the objects) until `release` is
    // written to; it ends with "shut" semantics (destroy) unless `crash`.
    pid_t holder(int* release_fd, bool crash) {
        int go[2];
        EXPECT_EQ(pipe(go), 0);
        ReadySignal ready;
        EXPECT_TRUE(ready.ok());
        pid_t pid = spawn([&] {
            close(go[1]);
            if (InitShare("SRV1", nullptr) != 0) return 1;
            if (!ready.signal()) return 2;
            char c;
            if (read(go[0], &c, 1) != 1) return 3;
            if (!crash) DestroyShareCommObject();
            return 0;
        });
        close(go[0]);
        EXPECT_TRUE(ready.wait());
        *release_fd = go[1];
        return pid;
    }
};

TEST_F(ShmIdFile, TheNameComesFromHostTypeAndServer) { EXPECT_EQ(zov_ipc_idfile_name(), idfile()); }

TEST_F(ShmIdFile, WithoutAnIdFileTheFirstProcessCreates) {
    start_capture();
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    const std::string out = captured();
    EXPECT_NE(out.find("Created IPCID("), std::string::npos) << out;
    const zov_ipc_ids i = ids();
    EXPECT_EQ(i.partner, -1);
    EXPECT_EQ(i.writer, getpid());
    expect_alive(i, true);
    EXPECT_EQ(read_file(idfile() + "-lk"), std::to_string(getpid()) + "\n");
    struct stat st {};
    ASSERT_EQ(stat(idfile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // A second set-up in the same process changes nothing.
    const std::string before = read_file(idfile());
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    EXPECT_EQ(read_file(idfile()), before);
    shm_transport_ops.shut();
    expect_alive(i, false);
}

TEST_F(ShmIdFile, ALiveRecordedProcessIsJoined) {
    int release = -1;
    pid_t first = holder(&release, false);
    const zov_ipc_ids created = ids();
    EXPECT_EQ(created.writer, first);
    start_capture();
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    EXPECT_NE(captured().find("Attached IPCID("), std::string::npos);
    const zov_ipc_ids joined = ids();
    EXPECT_EQ(joined.partner, first);
    EXPECT_EQ(joined.writer, getpid());
    EXPECT_EQ(joined.request_shmid, created.request_shmid);
    EXPECT_EQ(joined.data_semid, created.data_semid);
    auto* req = static_cast<ShareCommObject*>(g_pCommObjectRequest);
    EXPECT_EQ(shm::get32(req->GetSegment(), 0), 2) << "attach count";
    DestroyShareCommObject();
    expect_alive(created, true);  // the first is still attached
    ASSERT_EQ(write(release, "g", 1), 1);
    close(release);
    EXPECT_EQ(wait_child(first), 0);
    expect_alive(created, false);  // the last to detach removed them
}

TEST_F(ShmIdFile, ObjectsOfDeadProcessesAreRemovedAndNewOnesCreated) {
    int release = -1;
    pid_t crashed = holder(&release, true);  // ends without detaching
    const zov_ipc_ids old = ids();
    ASSERT_EQ(write(release, "g", 1), 1);
    close(release);
    EXPECT_EQ(wait_child(crashed), 0);
    expect_alive(old, true);  // left behind
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    expect_alive(old, false);
    const zov_ipc_ids now = ids();
    EXPECT_EQ(now.partner, -1);
    EXPECT_EQ(now.writer, getpid());
    EXPECT_NE(now.request_shmid, old.request_shmid);
}

TEST_F(ShmIdFile, ObjectsThatAreNotOursInShapeAreNeitherUsedNorRemoved) {
    const int stranger = shmget(IPC_PRIVATE, 4096, IPC_CREAT | 0600);
    ASSERT_GE(stranger, 0);
    shm_ids_.insert(stranger);
    // Only objects this test made: an id it did not make may be a live set of a test
    // running beside it.
    const int stranger_sem = semget(IPC_PRIVATE, 1, IPC_CREAT | 0600);
    ASSERT_GE(stranger_sem, 0);
    sem_ids_.insert(stranger_sem);
    std::ofstream(idfile()) << getppid() << " " << getpid() << " " << stranger << " "
                            << stranger_sem << " " << stranger << " " << stranger_sem << "\n";
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    EXPECT_TRUE(shm_exists(stranger)) << "wrong size: not ours to remove";
    EXPECT_TRUE(sem_exists(stranger_sem)) << "one semaphore: not ours to remove";
    EXPECT_NE(ids().request_shmid, stranger);
    EXPECT_NE(ids().request_semid, stranger_sem);
    shmctl(stranger, IPC_RMID, nullptr);
    semctl(stranger_sem, 0, IPC_RMID);
}

TEST_F(ShmIdFile, AnIdFileThatIsALinkIsNotFollowed) {
    const std::string target = dir_ + "/elsewhere";
    std::ofstream(target) << "keep\n";
    ASSERT_EQ(symlink(target.c_str(), idfile().c_str()), 0);
    ASSERT_EQ(InitShare("SRV1", nullptr), 0);
    EXPECT_EQ(read_file(target), "keep\n");
    struct stat st {};
    ASSERT_EQ(lstat(idfile().c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode)) << "replaced by a file of our own";
    EXPECT_EQ(ids().writer, getpid());
}

TEST_F(ShmIdFile, TwoProcessesSettingUpAtOnceShareOneSetOfObjects) {
    int start[2], report[2];
    ASSERT_EQ(pipe(start), 0);
    ASSERT_EQ(pipe(report), 0);
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    pid_t kids[2];
    for (int k = 0; k < 2; k++) {
        kids[k] = spawn([&, k] {
            close(start[1]);
            close(report[0]);
            close(go[1]);
            const std::string out = dir_ + "/out" + std::to_string(k);
            int fd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
            char c;
            if (read(start[0], &c, 1) != 1) return 1;
            if (InitShare("SRV1", nullptr) != 0) return 2;
            fflush(nullptr);
            auto* r = static_cast<ShareCommObject*>(g_pCommObjectRequest);
            auto* d = static_cast<ShareCommObject*>(g_pCommObjectData);
            int line[4] = {r->GetShmID(), r->GetSemID(), d->GetShmID(), d->GetSemID()};
            if (write(report[1], line, sizeof line) != sizeof line) return 3;
            if (read(go[0], &c, 1) != 1) return 4;
            DestroyShareCommObject();
            return 0;
        });
    }
    close(start[0]);
    close(report[1]);
    close(go[0]);
    ASSERT_EQ(write(start[1], "ss", 2), 2);  // both at once
    close(start[1]);
    int got[2][4];
    for (auto& g : got) ASSERT_EQ(read(report[0], g, sizeof g), static_cast<ssize_t>(sizeof g));
    close(report[0]);
    for (int j = 0; j < 4; j++) EXPECT_EQ(got[0][j], got[1][j]);
    const zov_ipc_ids i = ids();
    EXPECT_EQ(i.request_shmid, got[0][0]);
    ASSERT_EQ(write(go[1], "gg", 2), 2);
    close(go[1]);
    for (pid_t k : kids) EXPECT_EQ(wait_child(k), 0);
    int created = 0, attached = 0;
    for (int k = 0; k < 2; k++) {
        const std::string out = read_file(dir_ + "/out" + std::to_string(k));
        created += out.find("Created IPCID(") != std::string::npos;
        attached += out.find("Attached IPCID(") != std::string::npos;
    }
    EXPECT_EQ(created, 1);
    EXPECT_EQ(attached, 1);
    expect_alive(i, false);
}

TEST(ShmProcesses, IsServerRunningTable) {
    pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    struct Case {
        int pid;
        int alive;
    } cases[] = {{-1, 0}, {0, 0}, {static_cast<int>(getpid()), 1}, {1, 1}, {gone, 0}};
    for (const Case& c : cases) EXPECT_EQ(IsServerRunning(c.pid), c.alive) << c.pid;
}

}  // namespace
