// Set-up of the process's two shared objects (request and data) through the IPC id file.
//
// The id file, in the local temporary directory and named after the server, the database
// type and the host, holds one line "%d %d %d %d %d %d\n": the partner process found alive
// by the last writer, a live collector first (-1 when it created the objects), the
// writer's process id, then the ids of the request segment, its semaphore set, the data
// segment and its set. A lock
// file beside it ("<id file>-lk") serialises set-ups across processes. The first process
// creates the objects (0660); later ones attach. Objects named in the file are checked
// (size, two semaphores, our uid) before they are attached or removed; they are removed
// only when no recorded process is alive and no process is attached to them.
#pragma once

#include <string>

// The set-up; 0 on success, -1 on failure (logged). `ctlHome` is not used.
int InitShare(const char* serverid, const char* ctlHome);
// Reads the id file, attaches to live objects or creates new ones, rewrites the file;
// 0 or -1. `name` is not used. Must run under the lock of InitShare.
int CreateShare(const char* name, const char* idFile);
// Creates both objects; their ids are returned in any case. 1 when both are good.
int CreateShareCommObject(const char* name, int* requestShmid, int* requestSemid, int* dataShmid,
                          int* dataSemid);
// Attaches both objects by id; 1 when both are good.
int AttachShareCommObject(int requestShmid, int requestSemid, int dataShmid, int dataSemid);
// Deletes both objects (detaching; the last process attached removes them) and clears
// the pointers.
void DestroyShareCommObject();
void DetachShareCommObject();
// 1 when a process with that id exists (kill(pid, 0) succeeds or is refused with EPERM);
// 0 for ids below 1.
int IsServerRunning(int pid);
// 1 when the process exists and its command name holds "coll".
int AmICollector(int pid);

// The id file's name for the current configuration (env_vars).
std::string zov_ipc_idfile_name();

// The six fields of an id file.
struct zov_ipc_ids {
    int partner, writer, request_shmid, request_semid, data_shmid, data_semid;
};
// Reads an id file that is a regular file owned by us (not through a symbolic link);
// true when it holds six numbers.
bool zov_ipc_read_idfile(const char* path, zov_ipc_ids* ids);
