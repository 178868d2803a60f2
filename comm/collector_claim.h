// One collector per server and directory. Two would take each other's requests, and over
// named pipes the second would replace the first one's pipe, leaving it serving nothing
// without a word. A collector holds a read lock on its collector pipe while it lives, and
// over shared memory a live collector stays named in the IPC id file; a collector that
// starts looks for either and stops when it finds a live one.
#pragma once

#include <string>

struct comm_collector_owner {
    int pid = 0;        // the live collector; 0 when there is none
    std::string where;  // the directory of its collector pipe or IPC id file
};

// The live collector, other than this process, that serves the current configuration
// (env_vars): the holder of the collector pipe's lock, or a live collector (AmICollector)
// recorded in the IPC id file. A pipe or id file left by a process that is gone counts
// as none.
comm_collector_owner comm_find_live_collector();

// Marks the collector pipe, open for reading on fd, as this process's for as long as the
// process keeps a descriptor of it open; 0, or -1 when the lock is refused.
int comm_mark_collector_pipe(int fd);
