// The status record is written and read field by field; the in-memory struct (64-bit
// pointers) never leaves the process as it lies.
#include "model/cursor_status.h"

#include <cstdint>
#include <cstring>

#include "model/cursor.h"

namespace {

// Every field of the record that is not a pointer, with its offset.
enum class kind { text, i16, i32, ch };
struct field {
    size_t offset;
    kind k;
    size_t size;  // bytes in the record (texts: field width; arrays of i16: 2 * count)
    size_t member;
};

#define F(off, k, name) \
    { off, k, sizeof(curs::name), offsetof(curs, name) }
const field fields[] = {
    F(4, kind::text, cur_name),
    F(13, kind::text, last_time),
    F(28, kind::i32, window_start),
    F(32, kind::i32, window_end),
    F(36, kind::i32, next_time),
    F(40, kind::i32, stale_time),
    F(44, kind::i32, stale),
    F(48, kind::i16, cvirtual),
    F(50, kind::i16, empty),
    F(52, kind::i16, demand),
    F(54, kind::i16, once),
    F(56, kind::i16, no_sql),
    F(60, kind::i32, interval),
    F(64, kind::i32, last_iteration_start),
    F(68, kind::i32, this_iteration_start),
    F(72, kind::i32, this_iteration_end),
    F(76, kind::i32, execution_time),
    F(80, kind::i32, current_interval),
    F(96, kind::i16, has_hvs_in_sel),
    F(112, kind::i16, num_hvs),
    F(124, kind::i16, num_cols),
    F(132, kind::ch, held),
    F(134, kind::i16, held_stat),  // three 16-bit values, copied as bytes in host order
    F(140, kind::i16, bypass),
    F(142, kind::i16, has_col_funct),
    F(144, kind::i16, has_min_max),
    F(164, kind::i32, row_size),
    F(168, kind::i32, limit),
    F(172, kind::i32, totalDataRowsReturned),
    F(176, kind::i32, rowno),
    F(180, kind::i32, count),
    F(184, kind::i32, tiCount),
    F(188, kind::i32, time_limit),
    F(192, kind::i32, length),
    F(200, kind::i16, changed),
    F(202, kind::i16, history),
    F(204, kind::i16, needs_history),
    F(208, kind::i32, klass),
    F(212, kind::i16, samples),
    F(216, kind::i32, sampleno),
    F(232, kind::i32, rpc_version),
    F(236, kind::i32, objid),
    F(240, kind::i32, set),
    F(244, kind::i16, show_cursor),
    F(246, kind::i16, show_row),
    F(248, kind::i16, cols_set),
    F(250, kind::i16, build_routine),
    F(252, kind::i16, row_routine),
    F(288, kind::text, age_to_name),
    F(298, kind::i16, pre_age),
    F(300, kind::i16, post_age),
    F(304, kind::i32, aged_to),
    F(308, kind::i32, now_sec),
    F(324, kind::i16, fetch_routine),
    F(326, kind::i16, start_after),
    F(328, kind::i16, stop_after),
    F(340, kind::i32, sqlcode),
    F(344, kind::text, ssqlcode),
    F(368, kind::i16, dummy),
    F(370, kind::i16, conditional_dummy),
    F(380, kind::i16, sets_are_set_up),
    F(382, kind::i16, trace),
    F(384, kind::i16, traced),
    F(386, kind::i16, tracem),
    F(424, kind::text, activation_time),
};
#undef F

// The record's own integer widths equal the struct's, so host-order bytes are copied.
static_assert(sizeof(curs::held_stat) == 6);
static_assert(sizeof(curs::cur_name) == 9 && sizeof(curs::last_time) == 15);
static_assert(sizeof(curs::ssqlcode) == 16 && sizeof(curs::activation_time) == 15);

}  // namespace

void curs_status_encode(const curs* c, unsigned char* out) {
    std::memset(out, 0, CURS_STATUS_LEN);
    const auto* base = reinterpret_cast<const unsigned char*>(c);
    for (const field& f : fields) std::memcpy(out + f.offset, base + f.member, f.size);
}

void curs_status_decode(const unsigned char* in, curs* c) {
    std::memset(c, 0, sizeof(curs));
    auto* base = reinterpret_cast<unsigned char*>(c);
    for (const field& f : fields) std::memcpy(base + f.member, in + f.offset, f.size);
    // Texts filled to their full width carry no NUL in the record; keep them terminated.
    c->cur_name[sizeof(c->cur_name) - 1] = '\0';
    c->last_time[sizeof(c->last_time) - 1] = '\0';
    c->age_to_name[sizeof(c->age_to_name) - 1] = '\0';
    c->activation_time[sizeof(c->activation_time) - 1] = '\0';
}
