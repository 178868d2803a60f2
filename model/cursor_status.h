// The cursor status record: the bytes of one cursor in the answer to a "C-STATUS" request.
//
// 456 bytes per cursor at fixed offsets (cursor name at byte 4). Integers are in the host's
// byte order (both ends run on one host); the fields that held pointers are written as
// zeros and read back as null; padding bytes are zero.
#pragma once

#include <cstddef>

struct curs;

inline constexpr size_t CURS_STATUS_LEN = 456;

// Writes the status record of cursor c into out (CURS_STATUS_LEN bytes).
void curs_status_encode(const curs* c, unsigned char* out);

// Reads a status record into *c: every non-pointer field is filled from its offset, every
// pointer field is null, the texts are NUL-terminated within their fields.
void curs_status_decode(const unsigned char* in, curs* c);

// Offsets of the fields in the record, for readers that want one field only.
namespace curs_status_off {
inline constexpr size_t cur_name = 4, last_time = 13, window_start = 28, window_end = 32,
                        next_time = 36, stale_time = 40, stale = 44, cvirtual = 48, empty = 50,
                        demand = 52, once = 54, no_sql = 56, interval = 60, execution_time = 76,
                        current_interval = 80, held = 132, limit = 168, rowno = 176, count = 180,
                        time_limit = 188, length = 192, klass = 208, samples = 212, sampleno = 216,
                        age_to_name = 288, sqlcode = 340, ssqlcode = 344, activation_time = 424;
}  // namespace curs_status_off
