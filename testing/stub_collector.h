// A stand-in collector for the tests of the requesting side (comm, zovprobe): run in a
// forked child, it opens the collector end, says it is ready, answers requests through a
// callback and closes its end again, as the request server of a collector would.
#pragma once

#include <unistd.h>

#include "comm/zovcomm.h"
#include "testing/child_support.h"

struct StubCollector {
    int requests = 1;         // requests to serve before closing
    int max_turns = 1500;     // gets before giving up (a get waits at most wait_timeout)
    bool shm = false;         // "initsm" first and "shut" last: the shared-memory transport
    bool check_gets = false;  // a failed get ends the stub with status 4
    bool check_puts = false;  // a failed put ends it with 5 (a requester may have moved on)
    int idle_ms = 10;         // pause after a get that brought no request
};

// What the stub does with one request block: fill it and send the answer (put), or send
// nothing (skip), or end the stub at once with the given status (any other value > 1).
enum StubReply { stub_put = 0, stub_skip = 1 };

// Serves as `opt` says with answer(anchor, block) -> StubReply. Returns the status for the
// child's _exit: 0 when every request was served; 2 the end could not be opened, 3 the
// readiness could not be told, 4 a get failed, 5 a put failed (when checked), 6 fewer
// requests came than expected, or what answer returned.
template <class Answer>
int run_stub_collector(const StubCollector& opt, ReadySignal& ready, Answer answer) {
    if (opt.shm) zovcomm("initsm");
    auto* a = static_cast<comm_anchor*>(zovcomm("initc"));
    if (!a) return 2;
    if (!ready.signal()) return 3;
    int served = 0;
    for (int turn = 0; served < opt.requests && turn < opt.max_turns; turn++) {
        auto* block = static_cast<curs_list*>(zovcomm("get", a, nullptr));
        if (!block) {
            // 0 on a pipe and 20 on shared memory: nothing came within the wait.
            if (opt.check_gets && a->return_code != 0 && a->return_code != 20) return 4;
            if (opt.idle_ms > 0) usleep(opt.idle_ms * 1000);
            continue;
        }
        served++;
        const int reply = answer(a, block);
        if (reply > stub_skip) return reply;
        if (reply == stub_put && zovcomm("put", a) != nullptr && opt.check_puts) return 5;
    }
    zovcomm("term", a);
    if (opt.shm) zovcomm("shut", static_cast<comm_anchor*>(nullptr));
    return served == opt.requests ? 0 : 6;
}
