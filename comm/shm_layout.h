// The byte layouts of the two shared-memory segments, read and written only through the
// accessors below. The agent framework attaches to the same segments, so every offset is
// part of the protocol. Integers are 32-bit in the host's byte order; texts are
// NUL-padded and a writer clears the whole field before copying into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace shm {

// Request segment: one request at a time, requester to collector.
constexpr int REQ_SIZE = 30600;
constexpr int REQ_ATTACH = 0;       // attach count
constexpr int REQ_READ_INDEX = 4;   // 0 after each request (reader)
constexpr int REQ_WRITE_INDEX = 8;  // 0 after each request (writer)
constexpr int REQ_NAME = 12;        // cursor name, at most 14 characters
constexpr int REQ_NAME_SIZE = 15;
constexpr int REQ_UNIQUE = 27;  // unique request id, at most 49 characters
constexpr int REQ_UNIQUE_SIZE = 50;
constexpr int REQ_PARMS = 77;  // 16 slots of 20 bytes, each at most 19 characters
constexpr int REQ_PARM_SIZE = 20;
constexpr int REQ_PARM_COUNT = 16;
constexpr int REQ_DATA = 397;  // request data text, at most 29999 characters
constexpr int REQ_DATA_SIZE = 30000;
constexpr int REQ_LIFE = 30400;          // life time of a request in seconds (45)
constexpr int REQ_WRITTEN = 30404;       // when the current request was written
constexpr int REQ_DATA_WRITTEN = 30408;  // when the data segment was last written; -1 none
constexpr int32_t REQ_LIFE_DEFAULT = 45;

// Data segment: one answer at a time, collector to requester, in chunks.
constexpr int DATA_SIZE = 100000;
constexpr int DATA_ATTACH = 0;
constexpr int DATA_READ_INDEX = 4;    // chunk the reader takes (always 0)
constexpr int DATA_WRITE_INDEX = 8;   // chunk the writer fills (always 0)
constexpr int DATA_READER_DONE = 12;  // 1 when the last answer was read (or cleaned away)
constexpr int DATA_UNIQUE = 16;       // unique id of the answer, at most 49 characters
constexpr int DATA_UNIQUE_SIZE = 50;
constexpr int DATA_ROWS = 68;
constexpr int DATA_LEN = 72;
constexpr int DATA_CHUNK = 76;
constexpr int DATA_CHUNK_SIZE = 99000;

// Semaphore numbers of each segment's set of two.
constexpr int SEM_AVAILABLE = 0;  // the segment may be written
constexpr int SEM_FILLED = 1;     // the segment holds something to read

// Seconds after which an unread answer is cleaned away by the next writer.
constexpr int32_t CHECK_TIME = 30;

// One aligned 32-bit word of a segment (atomic so both ends see whole values).
inline int32_t get32(const char* seg, int offset) {
    return __atomic_load_n(reinterpret_cast<const int32_t*>(seg + offset), __ATOMIC_ACQUIRE);
}
inline void put32(char* seg, int offset, int32_t value) {
    __atomic_store_n(reinterpret_cast<int32_t*>(seg + offset), value, __ATOMIC_RELEASE);
}

// Clears the field of `size` bytes and copies at most size - 1 bytes of text into it.
void put_text(char* seg, int offset, int size, const char* text, size_t length);
inline void put_text(char* seg, int offset, int size, const std::string& text) {
    put_text(seg, offset, size, text.data(), text.size());
}
// The text of a field, up to its first NUL and never past size - 1 bytes.
std::string get_text(const char* seg, int offset, int size);

// The current time as the segments keep it (seconds, 32 bits).
int32_t now32();
// Seconds from `then` to `now` with wrap-around arithmetic (valid after 2038).
inline int32_t age(int32_t now, int32_t then) {
    return static_cast<int32_t>(static_cast<uint32_t>(now) - static_cast<uint32_t>(then));
}

}  // namespace shm
