// Reading a text file backwards: a search of a log from its end toward its start.
//
// A reader delivers the lines of the last `maxBytes` bytes of a file, last line first,
// reading 8192-byte blocks from the end. A line that straddles two blocks is carried
// over and delivered whole, however long (up to 1 MiB; a longer one ends the reading
// with "urb060"). Delivered lines are NUL-terminated texts inside the reader; they stay
// valid until the reader loads its next block.
//
// read_backwards matches each line against a chain of search patterns and collects hits
// and context lines in a result chain (f_chain elements, see chains.h):
//   pattern code > 0  a search pattern; code 1 ends the search at its first hit;
//   pattern code < 0  a follow-up of the pattern whose code is its negative, its line one
//                     of "%PREV_LINE" (the line after the hit), "%NEXT_LINE" (the line
//                     before it), "%PREV_LINE_TIME" / "%GET_TIMESTAMP" (the nearest line
//                     after / before the hit whose last word is a year above 1990) or
//                     "%LAST_LINE" (the file's last line, once, hit or not);
//   count             hits still wanted (0: inactive), lowered by each hit;
//   nots              a text whose presence in the line cancels the hit, or null;
//   lstartcol         the column from which the pattern is looked for.
// A result carries the line, the code and count of the pattern that produced it and,
// for a hit, the hit's column (lstartcol) and in `nots` the position behind the hit
// inside the result's own line.
#pragma once

#include <cstdint>
#include <vector>

#include "runtime/chains.h"

struct readBackBuff {
    int32_t blockSize = 8192;  // bytes read per block
    int64_t fileSize = 0;      // size of the file when it was opened
    int64_t cursp = 0;         // file offset of the next block to read
    int32_t toread = 0;        // bytes of the searched tail still to read
    const char* fileName = nullptr;
    int fd = -1;
    char* start = nullptr;  // first complete line in buffer
    char* end = nullptr;    // end of the data in buffer
    char* cur = nullptr;    // the line delivered last; null when nothing is left
    char* carry = nullptr;  // the saved partial first line of the block, null when none
    int32_t carryLen = 0;
    std::vector<char> buffer;    // the block (newlines turned into NULs) and the carried line
    std::vector<char> carryBuf;  // the carried partial line, NUL-terminated
    int64_t dataEnd = 0;         // file offset just past the data in buffer

    readBackBuff() = default;
    readBackBuff(const readBackBuff&) = delete;  // pointers into the buffers: readBackBuffCopy
    readBackBuff& operator=(const readBackBuff&) = delete;
    ~readBackBuff();  // closes the file when read_back_term has not
};

// Searches the last maxBytes bytes of the file; returns the number of lines added to
// `results` (0 also when the file cannot be opened: "erb0120", "erb0020").
int read_backwards(const char* fileName, int32_t maxBytes, f_chain* patterns, f_chain* results);

// Opens the file and loads its last block. 1 ready, 0 when the file cannot be opened.
int read_back_init(readBackBuff* rb, const char* fileName, int32_t maxBytes);
// The next line toward the start of the file, or null when none is left.
char* read_back_next(readBackBuff* rb);
// A line toward the end of the file, or null. Mode 1: the line after the one delivered
// last; 2: the same, and the reader moves to it (within the block); -2: one more line
// after the last one a forward step gave (or after the line delivered last), reading up
// to 1024 bytes past the block when needed; -1: forgets the forward steps. The forward
// step is one per process.
char* read_back_prev(readBackBuff* rb, int mode);
// Loads the block before the current one. 1 loaded, 0 nothing more or an error.
int read_back_previous_buffer(readBackBuff* rb);
// Forgets the forward steps and closes the file. Returns 1.
int read_back_term(readBackBuff* rb);
// Makes dst a copy of src that reads its own buffers and its own descriptor.
void readBackBuffCopy(readBackBuff* dst, const readBackBuff* src);
