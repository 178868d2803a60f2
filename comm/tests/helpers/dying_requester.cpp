// A requester that dies at one step of a shared-memory exchange, as one killed there
// would: it sets up like zovprobe (configuration from its environment), asks for the
// cursor named second on its command line and kills itself (SIGKILL, so nothing of its
// own runs after) when the exchange reaches the step named first ("available").
// Exit statuses: 2 usage, 3 no shared objects, 4 no anchor, 5 the step never came.
#include <signal.h>

#include <cstring>

#include "comm/share_comm_object.h"
#include "comm/zovcomm.h"
#include "runtime/env.h"

namespace {
const char* die_at = nullptr;
}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    die_at = argv[1];
    zov_shm_test_step = [](const char* step) {
        if (strcmp(step, die_at) == 0) raise(SIGKILL);
    };
    get_envs(&env_vars);
    if (zovcomm("initsm") != nullptr) return 3;
    auto* anchor = static_cast<comm_anchor*>(zovcomm("init"));
    if (!anchor) return 4;
    zovcomm("get", anchor, argv[2]);
    return 5;
}
