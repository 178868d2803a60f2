// The distributor status record: the bytes of one distributor in the answer to a
// "D-STATUS" request.
//
// 784 bytes per distributor at fixed offsets. Integers are in the host's byte order (both
// ends run on one host); the fields that held pointers are written as zeros; padding bytes
// are zero. The password field is always written as 100 blanks: a requester never
// receives a password.
#pragma once

#include <cstddef>

struct distrib;

inline constexpr size_t DISTRIB_STATUS_LEN = 784;

// Writes the status record of distributor d into out (DISTRIB_STATUS_LEN bytes).
void distrib_status_encode(const distrib* d, unsigned char* out);

// Offsets of the fields in the record.
namespace distrib_status_off {
inline constexpr size_t next = 0, type = 4, distrib_name = 6, logon_id = 31, password = 64,
                        server_id = 164, db_type = 197, db_typeA = 201, saturday_start = 208,
                        sunday_start = 212, mon_fri_start = 216, time_offset = 220, holiday = 224,
                        interval = 624, held = 628, continuous = 629, classes = 630,
                        window_start = 732, window_end = 736, next_time = 740, status = 744,
                        time = 749, state = 764, send_false = 766, syb_context = 768,
                        syb_connection = 772, dbx = 776, dbapsa = 780;
}  // namespace distrib_status_off
