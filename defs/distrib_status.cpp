// The record is written field by field; the in-memory struct (64-bit pointers, its own
// padding) never leaves the process as it lies.
#include "defs/distrib_status.h"

#include <cstdint>
#include <cstring>

#include "defs/distrib.h"

namespace {

struct field {
    size_t offset;
    size_t size;    // bytes in the record
    size_t member;  // offset in the struct
};

#define F(name) \
    { distrib_status_off::name, sizeof(distrib::name), offsetof(distrib, name) }
// Every field that is not a pointer and not the password.
const field fields[] = {
    F(type),       F(distrib_name), F(logon_id),     F(server_id),  F(db_type),
    F(db_typeA),   F(time_offset),  F(holiday),      F(interval),   F(held),
    F(continuous), F(classes),      F(window_start), F(window_end), F(next_time),
    F(status),     F(time),         F(state),        F(send_false),
};
#undef F

// The record's widths equal the struct's, so host-order bytes are copied as they lie.
static_assert(sizeof(distrib::type) == 2 && sizeof(distrib::distrib_name) == 25);
static_assert(sizeof(distrib::logon_id) == 33 && sizeof(distrib::server_id) == 33);
static_assert(sizeof(distrib::password) == 100);
static_assert(sizeof(distrib::holiday) == 400 && sizeof(distrib::classes) == 100);
static_assert(sizeof(distrib::status) == 5 && sizeof(distrib::time) == 15);
static_assert(distrib_status_off::dbapsa + 4 == DISTRIB_STATUS_LEN);

}  // namespace

void distrib_status_encode(const distrib* d, unsigned char* out) {
    std::memset(out, 0, DISTRIB_STATUS_LEN);
    const auto* base = reinterpret_cast<const unsigned char*>(d);
    for (const field& f : fields) std::memcpy(out + f.offset, base + f.member, f.size);
    std::memset(out + distrib_status_off::password, ' ', sizeof(distrib::password));
}
