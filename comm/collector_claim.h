// One collector per server and directory. Two would take each other's requests, and over
// named pipes the second would replace the first one's pipe, leaving it serving nothing
// without a word; two on one home directory write the same history files and log. From its
// start a collector holds a lock on a claim file in each directory it writes to, and later
// a read lock on its collector pipe; over shared memory a live collector stays named in the
// IPC id file. A collector that starts looks for any of these and stops when it finds a
// live one.
#pragma once

#include <string>
#include <vector>

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

// Takes this process's claim on the configured server (env_vars: server id and database
// type) in each of dirs: a write lock on the file "col_<server>_<type>_claim" there, made
// when missing (0660) and held while the process lives (it ends with the process, or with
// an exec). A directory named twice, one that does not exist, and one where the file can
// be neither made nor read are passed over; a claim file that no live process locks is
// taken over. 0 when every claim was taken (or was already this process's); 1 when a live
// process holds one: *owner names it and the directory, and the claims taken by this call
// are given up again.
int comm_take_collector_claim(const std::vector<std::string>& dirs, comm_collector_owner* owner);

// Gives up this process's claims and removes their files; nothing in another process (a
// child that inherited the call by fork). Safe to call when nothing is held.
void comm_release_collector_claim();
