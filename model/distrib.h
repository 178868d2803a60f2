// The distributor (process) record: what the process file describes of each distributor.
//
// A plain, trivially copyable struct with the documented fields in their documented order.
// The bytes that leave the process (the "D-STATUS" answer) are not this struct: they are
// written by distrib_status_encode (defs/distrib_status.h) at fixed offsets. Only the
// record lives here, so zem2sql can keep its connection in one without the parsers; the
// list and the globals the process file fills are in defs/distrib.h.
#pragma once

#include <cstdint>
#include <type_traits>

struct operate;

// Connection types (keyword type).
enum : int16_t { DT_UNSET = 0, DT_LOCAL = 1, DT_SQLNET = 2, DT_DIAL = 3, DT_CTLIB = 4 };

inline constexpr int distrib_max_holidays = 100;
inline constexpr int distrib_max_classes = 50;

// One distributor. Text fields filled to their full width carry no NUL: every reader takes
// at most the field's width. Comments give the offset in the 784-byte status record.
struct distrib {
    distrib* next;                          // 0   next distributor in file order
    int16_t type;                           // 4   DT_*
    char distrib_name[25];                  // 6   process name, at most 24 characters
    char logon_id[33];                      // 31  at most 33 characters
    char password[100];                     // 64  as written; never leaves the process
    char server_id[33];                     // 164 blank-padded to 8 when shorter
    char db_type[4];                        // 197 three letters and a NUL
    char db_typeA[4];                       // 201 alternative code
    operate* saturday_start;                // 208 Saturday windows
    operate* sunday_start;                  // 212 Sunday windows
    operate* mon_fri_start;                 // 216 Monday-to-Friday windows
    int32_t time_offset;                    // 220 seconds subtracted from window bounds
    int32_t holiday[distrib_max_holidays];  // 224 day numbers; the first 0 ends the list
    int32_t interval;                       // 624 seconds between runs
    char held;                              // 628 'Y', 'N' or NUL
    char continuous;                        // 629 'Y', 'N' or NUL (collector only)
    int16_t classes[distrib_max_classes];   // 630 1 = serves cursors of that class
    int32_t window_start;                   // 732 relative seconds
    int32_t window_end;                     // 736
    int32_t next_time;                      // 740
    char status[5];                         // 744 "GOOD" or "FAIL"
    char time[15];                          // 749 14-digit time of the last run
    uint16_t state;                         // 764 bit 0: takes part in the schedule
    uint16_t send_false;                    // 766 1 = the evaluator sends false results
    void* syb_context;                      // 768 Client-Library context
    void* syb_connection;                   // 772 Client-Library connection
    void* dbx;                              // 776 database access code
    void* dbapsa;                           // 780 child SQL channel block
};

static_assert(std::is_trivially_copyable_v<distrib>);
