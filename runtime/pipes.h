// Named pipes: the thin layer under the named-pipe transport of the collector-agent
// communication. Results are those of the system calls (-1 with errno set); nothing is
// reported or retried here. The descriptors belong to the caller.
//
// Pipes are for owner and group only: they are created 0660 whatever the umask, and a
// pipe is opened only when it is a FIFO that we own. A write to a pipe that nobody reads
// fails with EPIPE when SIGPIPE is ignored, as it is in every program of the system.
#pragma once

#include <sys/stat.h>

// Creates the FIFO `path`, mode 0660. 0 on success; -1 on failure (also for a null path,
// and when the name exists already, which is then left alone).
int MakeNamedPipe(const char* path);

// Opens a FIFO: flags 2 write-only, otherwise read-only; flags 4 adds non-blocking mode.
// Refuses (-1, EPERM) a path that is a symbolic link, not a FIFO, or not ours. Returns the
// descriptor (close-on-exec) or -1. Write-only and non-blocking with no reader fails at
// once (ENXIO); write-only without 4 waits for a reader.
int ClientOpenPipe(const char* path, int flags);

// ClientOpenPipe with `allowed` as the test of the file (a FIFO of an accepted owner): made
// on the name before the open and on the opened file after it, which must be the same one.
int OpenCheckedPipe(const char* path, int flags, bool (*allowed)(const struct stat&));

// One write / read call; its result.
int WritePipe(int fd, const void* buffer, int length);
int ReadPipe(int fd, void* buffer, int length);
// close(fd); its result.
int ClosePipe(int fd);
// 0 when the path exists, -1 when it does not; mode is not used.
int Access(const char* path, int mode);

// They complete the set of pipe operations and do nothing: a FIFO needs no connection.
void DisconnectPipe(int fd);
int AcceptConnection(int fd, int wait);               // 0
int ClientConnectToPipe(const char* path, int wait);  // 0
