// The collector's claim files: held while the holder lives, refused to another process with
// the holder named, taken over once the holder is gone, one per directory.
#include "comm/collector_claim.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>

#include "runtime/env.h"
#include "testing/temp_dir.h"

namespace {

// The server id and database type the claim files are named after, for one test.
class ClaimIdentity {
  public:
    ClaimIdentity()
        : server_(env_vars.serverid ? env_vars.serverid : ""),
          type_(env_vars.db_type ? env_vars.db_type : ""),
          had_server_(env_vars.serverid != nullptr),
          had_type_(env_vars.db_type != nullptr) {
        u_env_set_field(&env_vars.serverid, "SRVC");
        u_env_set_field(&env_vars.db_type, "syb");
    }
    ~ClaimIdentity() {
        comm_release_collector_claim();
        u_env_set_field(&env_vars.serverid, had_server_ ? server_.c_str() : nullptr);
        u_env_set_field(&env_vars.db_type, had_type_ ? type_.c_str() : nullptr);
    }

  private:
    std::string server_, type_;
    bool had_server_, had_type_;
};

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

// Status of a child that runs `body` and ends with its result.
template <class F>
int in_child(F body) {
    const pid_t pid = fork();
    if (pid == 0) _exit(body());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
}

TEST(CollectorClaim, HeldWhileTheHolderLivesAndTakenOverOnceItIsGone) {
    ClaimIdentity id;
    CfgTempDir a, b;
    const std::string file_a = a.path() + "/col_SRVC_syb_claim";
    const std::string file_b = b.path() + "/col_SRVC_syb_claim";
    std::ofstream(file_a) << "";  // left by a collector that was killed: nobody locks it

    // A child takes the claim in b and keeps it until told to end.
    int ready[2], go[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(go), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        char c = comm_take_collector_claim({b.path()}, nullptr) == 0 ? 'y' : 'n';
        if (write(ready[1], &c, 1) != 1 || read(go[0], &c, 1) < 0) _exit(2);
        _exit(0);  // ends without giving the claim up: its file stays behind
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');

    comm_collector_owner owner;
    EXPECT_EQ(comm_take_collector_claim({a.path(), "/nonexistent/dir", b.path()}, &owner), 1);
    EXPECT_EQ(owner.pid, holder);
    EXPECT_EQ(owner.where, b.path());
    EXPECT_FALSE(exists(file_a)) << "the claim taken on the way is given up";

    ASSERT_EQ(write(go[1], "x", 1), 1);
    waitpid(holder, nullptr, 0);
    for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);
    ASSERT_TRUE(exists(file_b));
    EXPECT_EQ(comm_take_collector_claim({a.path(), b.path()}, &owner), 0);
    EXPECT_TRUE(exists(file_a));
    // Named again (and in another spelling): nothing changes, the lock stays held.
    EXPECT_EQ(comm_take_collector_claim({a.path() + "/"}, &owner), 0);
    const pid_t self = getpid();
    EXPECT_EQ(in_child([&] {
                  comm_collector_owner o;
                  return comm_take_collector_claim({a.path()}, &o) == 1 && o.pid == self ? 0 : 1;
              }),
              0);
    EXPECT_TRUE(exists(file_a)) << "a refused process removes no one else's claim";

    comm_release_collector_claim();
    EXPECT_FALSE(exists(file_a));
    EXPECT_FALSE(exists(file_b));
}

}  // namespace
