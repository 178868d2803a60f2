// Running a command for its output.
//
// Two runners return what a command prints as a chain of lines: u_exec (through the shell,
// no time limit) and u_exec_timed (fork and exec with pipes and a time limit, on the child
// process layer of runtime/child.h). Also here: the chain's release, the buffered line
// reader that the child layer reads pipes and files with, and the test that tells a
// message line of another program of the system from a data line.
#pragma once

#include <cstddef>
#include <cstdint>

struct execopt;  // runtime/child.h

// One output line, allocated with u_malloc as one block holding the fields and the text
// with its NUL. A chain is returned by its first element and belongs to the caller.
struct r_exec_chain {
    r_exec_chain* next;  // next line, null at the end
    int32_t size;        // length of the line without the NUL
    char line[];         // the text, without its newline, NUL-terminated
};

// State of u_blockread. The caller zeroes it and sets buff and maxBuffSize before the
// first call; buff must hold 2 * maxBuffSize - 1 bytes (a carried partial line of less
// than maxBuffSize - 1 bytes, one read of maxBuffSize - 1 bytes and a NUL).
struct readBuff {
    char* lastLine;       // terminator of the line returned last; null when the next call reads
    char* buffEnd;        // end of the valid data in buff
    char* prevBuff;       // where the next read stores data (behind a carried line); null: buff
    char* buff;           // the caller's buffer
    int32_t maxBuffSize;  // one more than the bytes asked for in one read
    int32_t curLineLen;   // length of the line returned last
    // Beyond the historical record: NUL and control bytes read so far (not TAB, newline,
    // carriage return or the end mark 0x1A), each counted once as the scan passes it.
    int32_t oddBytes;
    // Beyond the historical record: the last read of u_blockread_nb returned less than it
    // asked for, so the pipe held no more then; cleared when that call reports would-block.
    int32_t drained;
    // Beyond the historical record: the line returned last continues a line longer than one
    // read (the piece before it filled the buffer without reaching its end). Readers that
    // keep whole lines drop such pieces: a long line stays one line, cut.
    int32_t curLineCont;
    // Internal: the line returned last was cut at the buffer's end; more of it may follow.
    int32_t cutOpen;
};

// Allocates one chain element holding the len bytes of text (NUL-terminated copy).
r_exec_chain* u_new_r_chain(const char* text, int32_t len);

// Where a reader of many lines carves its elements: blocks of 64 KB, each freed once the
// reader has closed it and every element carved from it has been freed. Zero it before use.
struct u_line_arena {
    char* block;  // the block being filled, null before the first line
    size_t used;  // bytes of it taken
};
// As u_new_r_chain, the element carved from the arena's block (a long line gets its own).
r_exec_chain* u_arena_r_chain(u_line_arena* arena, const char* text, int32_t len);
// The reader is done: no more elements come from the arena's block.
void u_arena_close(u_line_arena* arena);

// Frees every element of the chain, following next; null is allowed. Elements from
// u_new_r_chain, u_arena_r_chain or a plain u_malloc of the record may be mixed.
void u_free_r_chain(r_exec_chain* chain);

// Runs "cmd parms" through the shell (a pipe, or a temporary output file when the database
// type is "zem") and returns its non-empty output lines, at most 10000; null when it
// printed nothing or failed (the failure is logged). parms may be empty, not null.
// Parameters longer than 1024 characters travel as "-filein <temporary file>".
r_exec_chain* u_exec(const char* cmd, const char* parms);

// Runs cmd as a child under a time limit (opts->maxWaitTime, or timeLimit when that is 0)
// and returns its non-empty output lines. opts->processRC tells how it ended: pRC_ok,
// pRC_timedout (the lines written before the limit are still returned) or pRC_ierror
// (it could not be started). With opts->async set it returns null as soon as the child
// runs; a later call with asyncCont set waits for it and reads its output.
r_exec_chain* u_exec_timed(const char* cmd, const char* parms, int32_t timeLimit, execopt* opts);

// Runs argv[0] (found on the path) with argv[1], argv[2] ... as its arguments, without a
// shell: no argument is ever read as shell syntax. stdinText, when not null, is written to
// its standard input with its NUL. Limit, output and end as u_exec_timed (opts->maxWaitTime,
// else timeLimit; on time-out the child's process group is ended and reaped, the lines read
// before are returned, processRC pRC_timedout). *linesDropped (may be null) receives the
// lines read beyond opts->maxRetLines.
r_exec_chain* u_exec_argv(char* const* argv, const char* stdinText, int32_t timeLimit,
                          execopt* opts, int32_t* linesDropped);
// As u_exec_argv; *waitStatus (may be null) receives the child's status as waitpid gave
// it, or -1 when it was not started or not reaped.
r_exec_chain* u_exec_argv_status(char* const* argv, const char* stdinText, int32_t timeLimit,
                                 execopt* opts, int32_t* linesDropped, int32_t* waitStatus);
// Starts argv[0] with its arguments detached, without a shell, and does not wait. A watcher
// process (not the caller's child) ends the command's process group once timeLimit seconds
// (600 when < 1) have passed; the caller is left no zombie. 0 started, 4 fork failed.
// The command gets the caller's environment without COLL_PASSWORD, unless keeppw is set
// (one of the suite's database access programs, as execopt.keeppw).
int u_AsynProcessArgv(char* const* argv, int32_t timeLimit, int keeppw);

// Returns the next non-empty line read from fd (inside rb->buff, NUL-terminated, without
// its newline), or null at the end of input or on a read error. A line longer than one read
// is delivered cut into pieces, every piece after the first with rb->curLineCont set; a last
// line without a newline is returned. EINTR is retried.
// rb->oddBytes counts the bytes read that no text holds (see readBuff).
char* u_blockread(int fd, readBuff* rb);

// Result of u_blockread_nb beside the line.
enum u_blockread_state : int32_t {
    u_br_line = 0,       // a line was returned
    u_br_eof = 1,        // end of input (or a read error)
    u_br_wouldblock = 2  // fd is non-blocking and holds no complete line yet; call again later
};

// As u_blockread, for a non-blocking fd: returns null with *state u_br_wouldblock when the
// pipe held no more data at its last read (a read found it empty, or returned less than it
// asked for), keeping a carried partial line for the next call. The caller polls before
// calling again; the call after a would-block always reads.
char* u_blockread_nb(int fd, readBuff* rb, int32_t* state);

// 1 when the line has the shape of a message line of the system ("ABC1234E text" or
// "ABCD1234W text"), else 0.
int u_ismessage(const char* line);
