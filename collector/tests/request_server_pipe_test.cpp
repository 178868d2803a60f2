// do_ulv serving a requester over named pipes: the collector side in a child.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "collector/distributors/request_server.h"
#include "collector/run/schedule.h"
#include "collector/run/signals.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"
#include "testing/pipe_fixture.h"

namespace {

using ServeOverPipes = PipeFixture;

// Serves requests with do_ulv until a SHUTDOWN request or 15 seconds, then ends.
pid_t start_server() {
    ReadySignal ready;
    if (!ready.ok()) return -1;
    const pid_t pid = fork();
    if (pid != 0) return ready.wait() ? pid : -1;
    ipc_ptr = zovcomm("initc");
    if (ipc_ptr == nullptr || !ready.signal()) _exit(3);
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (go_home == 0 && std::chrono::steady_clock::now() < end) do_ulv();
    zovcomm("term", ipc_ptr);
    _exit(go_home != 0 ? 0 : 4);
}

TEST_F(ServeOverPipes, RowsForKnownCursorsNothingForOthersAndShutdownEnds) {
    cursortest::cursor rc("RQ", {{"A", 3, 1}, {"B", 2, 1}});
    rc.add({"x", "1"});
    rc.add({"yy", "22"});
    rc.get()->length = 6;
    rc.get()->window_end = 0x7fffffff;
    LogCapture log;
    const pid_t pid = start_server();
    ASSERT_GT(pid, 0);
    auto* a = static_cast<comm_anchor*>(zovcomm("init"));
    ASSERT_NE(a, nullptr);
    auto* chain = static_cast<curs_list*>(zovcomm("get", a, "RQ,NOPE"));
    ASSERT_NE(chain, nullptr) << a->return_msg;
    EXPECT_EQ(chain->rows, 2);
    ASSERT_EQ(chain->len, 5);
    EXPECT_EQ(std::string(chain->data, 10), "x  1 yy 22");
    ASSERT_NE(chain->next, nullptr);
    EXPECT_EQ(chain->next->rows, 0);
    EXPECT_EQ(chain->next->data, nullptr);
    chain = static_cast<curs_list*>(zovcomm("get", a, "SHUTDOWN"));
    EXPECT_EQ(zovcomm("term", a), nullptr);
    EXPECT_EQ(child_status(pid), 0);  // the SHUTDOWN request ended the server
}

}  // namespace
