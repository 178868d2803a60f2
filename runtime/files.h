// Files, directories and locks.
//
// Plain functions over NUL-terminated paths and descriptors; none keeps state between
// calls except the cached COLL_PATHEXT list of uf_where. Messages go through PRINT.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <cstdio>

// Takes a path apart. Works on a copy of at most 1022 characters of the path with blanks,
// quotes, tabs and newlines stripped from both ends. The file part begins after the last
// '/' or '\\' that stands after the first character (no such separator: no directory
// part). Each output may be null; a given one must hold 1023 bytes:
//   fileOut      the file part (name and extension)
//   extOut       what follows the last '.' of the file part (empty without a dot)
//   baseOut      the file part without that dot and extension
//   dirSlashOut  the directory part with its final separator
//   dirOut       the directory part without its final separator
// Filled in the order file, extension, base, directory with separator, directory; returns
// the last one filled, or null when the path is null or empty or no output was asked for.
char* u_pfilen(const char* path, char* dirOut, char* dirSlashOut, char* baseOut, char* extOut,
               char* fileOut);

// Size of the file in bytes (its end offset), -1 when it cannot be opened or has no size
// (a directory, a FIFO).
int32_t get_file_size(const char* path);

// Flags of readfile.
constexpr uint16_t RF_STRIP_NEWLINE = 1;   // drop the newline; drop lines left empty
constexpr uint16_t RF_APPEND_BLANK = 2;    // one blank after each kept line
constexpr uint16_t RF_TRIM_TRAILING = 16;  // cut trailing white space (newline kept unless 1)
constexpr uint16_t RF_TRIM_LEADING = 32;   // cut leading white space

// Reads at most 500 lines of a text file into one u_malloc buffer (caller frees), kept
// lines back to back, ended by two NUL bytes; a line whose first character (after the
// flags' trimming) is commentChar is dropped. Null for a null, empty, unreadable or
// zero-size file.
char* readfile(const char* path, uint16_t flags, char commentChar);

// Loads a file whole into a u_malloc buffer of size + 3 bytes (caller frees), NUL-
// terminated behind the data. Null for a null or empty path, an empty or unopenable file,
// or a read error ("ufl1025"). *bufOut (set to null first) receives the buffer on success;
// *sizeOut receives the number of bytes read. Either output may be null.
char* u_loadfile(const char* path, char** bufOut, int32_t* sizeOut);

// Creates a directory with mode 0764 (the umask applies): 1 created, 2 already exists,
// 0 any other failure.
int u_mkdir(const char* path);

// 1 when the path names a directory (stat follows links), else 0.
int is_directory(const char* path);
int dir_exists(const char* path);

// Option bits of file_exists.
constexpr int FE_VERBOSE = 1;  // report more (when no trace level asks for more)
constexpr int FE_EXEC = 2;     // also test that the current user may execute it

// What the path names: 0 a usable (non-empty regular; with FE_EXEC executable by us)
// file, 1 an empty file, 2 nothing, 3 not a regular file, 4 not executable by the current
// user/group, 5 no execute bit at all, -1 stat failed otherwise.
int file_exists(const char* path, int flags);
// file_exists(path, 0).
int is_file(const char* path);

// Finds a program on a ":"-separated path list (pathList when given and non-empty, else
// PATH). With a name without "." and a non-empty COLL_PATHEXT, each directory is tried
// with the list's extensions in order (an entry of one character stands for the bare
// name). A name holding "/" is tested as it stands. Empty segments are skipped.
// resultOut (1024 bytes) receives the path found; *posInOut gives the offset to start at
// and receives where the next search continues (0 when the last segment was reached or
// nothing was found). Returns 0 found, 1 not found, 2 nothing to search (null name, no
// list). uf_where(null, null, ...) releases the cached COLL_PATHEXT.
int uf_where(const char* name, char* resultOut, int* posInOut, const char* pathList);

// fcntl(fd, cmd, &lock) with the lock's type, start, whence and length set.
int lock_reg(int fd, int cmd, int type, off_t offset, int whence, off_t len);
// Advisory write lock over the whole file of fp (wait 1: block until granted, else fail
// at once when another process holds a lock); 0 success, 1 failure ("cgn3985").
int issue_write_lock(FILE* fp, const char* name, int wait);
// Releases the lock; 0 success, 1 failure ("cgn3990").
int issue_unlock(FILE* fp, const char* name, int wait);

// Describes the file system holding path: typeOut (3 bytes) the class letter ("l" local,
// "n" NFS, "?" other) and the write letter ("r" read-only, "w"); availOut, usedOut,
// totalOut in units of max(1, fragment size / 1024). 0 success, 1 failure ("uds0400").
int uf_dirstat(const char* path, char* typeOut, uint64_t* availOut, uint64_t* usedOut,
               uint64_t* totalOut);

// The type text of uf_dirstat for a file-system type name (as /proc/self/mountinfo
// names it): class "l" for ext2/3/4, xfs, btrfs, tmpfs, ufs, vxfs, jfs, hfs and the CD
// file systems (cdrfs, iso9660, always read-only), "n" for nfs*, "?" otherwise; then "r"
// or "w". out holds 3 bytes.
void u_fs_type_text(const char* fstype, bool mounted_read_only, char* out);

// Describes a file: typeOut (11 bytes) the type letter (f d p c b ?) and, when modeInOut
// is null, nine permission characters ("rwxr-sr-x"); *modeInOut receives the mode. With a
// null path, typeOut and modeInOut both given, *modeInOut is described without touching
// the file system. Returns 0, 1 no such file, -1 other error ("uds0400").
int uf_filestat(const char* path, char* typeOut, uint16_t* modeInOut, int32_t* sizeKbOut,
                uid_t* uidOut, gid_t* gidOut, time_t* mtimeOut);
