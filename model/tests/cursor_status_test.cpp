#include "model/cursor_status.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "testing/record_bytes.h"

namespace {

struct int_field {
    size_t offset;
    int width;  // 2 or 4
    std::function<void(curs&, int32_t)> set;
};

#define I32(off, f)                                 \
    int_field {                                     \
        off, 4, [](curs& c, int32_t v) { c.f = v; } \
    }
#define I16(off, f)                                                       \
    int_field {                                                           \
        off, 2, [](curs& c, int32_t v) { c.f = static_cast<int16_t>(v); } \
    }

const int_field int_fields[] = {
    I32(28, window_start),
    I32(32, window_end),
    I32(36, next_time),
    I32(40, stale_time),
    I32(44, stale),
    I16(48, cvirtual),
    I16(50, empty),
    I16(52, demand),
    I16(54, once),
    I16(56, no_sql),
    I32(60, interval),
    I32(64, last_iteration_start),
    I32(68, this_iteration_start),
    I32(72, this_iteration_end),
    I32(76, execution_time),
    I32(80, current_interval),
    I16(96, has_hvs_in_sel),
    I16(112, num_hvs),
    I16(124, num_cols),
    I16(134, held_stat[0]),
    I16(136, held_stat[1]),
    I16(138, held_stat[2]),
    I16(140, bypass),
    I16(142, has_col_funct),
    I16(144, has_min_max),
    I32(164, row_size),
    I32(168, limit),
    I32(172, totalDataRowsReturned),
    I32(176, rowno),
    I32(180, count),
    I32(184, tiCount),
    I32(188, time_limit),
    I32(192, length),
    I16(200, changed),
    I16(202, history),
    I16(204, needs_history),
    I32(208, klass),
    I16(212, samples),
    I32(216, sampleno),
    I32(232, rpc_version),
    I32(236, objid),
    I32(240, set),
    I16(244, show_cursor),
    I16(246, show_row),
    I16(248, cols_set),
    I16(250, build_routine),
    I16(252, row_routine),
    I16(298, pre_age),
    I16(300, post_age),
    I32(304, aged_to),
    I32(308, now_sec),
    I16(324, fetch_routine),
    I16(326, start_after),
    I16(328, stop_after),
    I32(340, sqlcode),
    I16(368, dummy),
    I16(370, conditional_dummy),
    I16(380, sets_are_set_up),
    I16(382, trace),
    I16(384, traced),
    I16(386, tracem),
};

// Byte ranges that held pointers (or padding) and must always read zero.
const std::pair<size_t, size_t> zero_ranges[] = {
    {0, 4},     {58, 60},   {84, 96},   {98, 112},  {114, 124}, {126, 132}, {133, 134},
    {146, 164}, {196, 200}, {206, 208}, {214, 216}, {220, 232}, {254, 288}, {297, 298},
    {302, 304}, {312, 324}, {330, 340}, {360, 368}, {372, 380}, {388, 424}, {439, 456},
};

TEST(CursorStatus, IntegersAtTheirOffsetsInHostOrder) {
    curs c{};
    int32_t value = 0x01020304;
    for (const int_field& f : int_fields) f.set(c, value + static_cast<int32_t>(f.offset));
    unsigned char rec[CURS_STATUS_LEN];
    curs_status_encode(&c, rec);
    for (const int_field& f : int_fields) {
        int32_t want = value + static_cast<int32_t>(f.offset);
        if (f.width == 4)
            EXPECT_EQ(i32_at(rec, f.offset), want) << "offset " << f.offset;
        else
            EXPECT_EQ(i16_at(rec, f.offset), static_cast<int16_t>(want)) << "offset " << f.offset;
    }
}

TEST(CursorStatus, TextsAndPointersAtTheirOffsets) {
    curs* c = curs_new();
    std::strcpy(c->cur_name, "CPUBUSY1");
    std::memset(c->ssqlcode, ' ', sizeof(c->ssqlcode));
    std::strcpy(c->age_to_name, "AGED");
    std::strcpy(c->activation_time, "20261210142400");
    c->held = 'Y';
    // Pointers of every kind are set; none may reach the record.
    row_data* r = row_data_new(4);
    c->first_row = c->last_row = r;
    c->next = c;
    c->insert = const_cast<char*>("insert");
    c->saturday_start = c->sunday_start = c->mon_fri_start = &full_day;
    unsigned char rec[CURS_STATUS_LEN];
    std::memset(rec, 0xAA, sizeof(rec));
    curs_status_encode(c, rec);

    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec) + 4, 9), std::string("CPUBUSY1\0", 9));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec) + 13, 15),
              std::string("19900101010101\0", 15));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec) + 344, 16), std::string(16, ' '));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec) + 288, 4), "AGED");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(rec) + 424, 14), "20261210142400");
    EXPECT_EQ(rec[132], 'Y');
    for (auto [from, to] : zero_ranges)
        for (size_t i = from; i < to; ++i) EXPECT_EQ(rec[i], 0) << "byte " << i;

    c->insert = nullptr;
    U_FREE(r);
    U_FREE(c);
}

TEST(CursorStatus, DecodeReadsBackWhatEncodeWrote) {
    curs c{};
    for (const int_field& f : int_fields) f.set(c, 1000 + static_cast<int32_t>(f.offset));
    std::strcpy(c.cur_name, "ABCDEFGH");
    std::strcpy(c.last_time, "20261210142400");
    std::memset(c.ssqlcode, '9', sizeof(c.ssqlcode));
    std::strcpy(c.age_to_name, "TARGET");
    c.held = 'N';
    c.next = &c;
    c.cur_version_list = &c;
    unsigned char rec[CURS_STATUS_LEN];
    curs_status_encode(&c, rec);

    curs back;
    std::memset(&back, 0x55, sizeof(back));
    curs_status_decode(rec, &back);
    unsigned char again[CURS_STATUS_LEN];
    curs_status_encode(&back, again);
    EXPECT_EQ(std::memcmp(rec, again, CURS_STATUS_LEN), 0);
    EXPECT_STREQ(back.cur_name, "ABCDEFGH");
    EXPECT_STREQ(back.last_time, "20261210142400");
    EXPECT_EQ(back.held, 'N');
    EXPECT_EQ(back.interval, 1060);
    EXPECT_EQ(back.next, nullptr);
    EXPECT_EQ(back.cur_version_list, nullptr);
    EXPECT_EQ(back.insert_columns, nullptr);
}

TEST(CursorStatus, DecodeTerminatesFullWidthTexts) {
    unsigned char rec[CURS_STATUS_LEN] = {};
    std::memset(rec + 4, 'N', 9);
    std::memset(rec + 13, '7', 15);
    curs back;
    curs_status_decode(rec, &back);
    EXPECT_EQ(std::strlen(back.cur_name), 8u);
    EXPECT_EQ(std::strlen(back.last_time), 14u);
}

TEST(CursorRecords, NewCursorShowsBaseTimeAndSharesFullDay) {
    curs* c = curs_new();
    EXPECT_STREQ(c->last_time, "19900101010101");
    EXPECT_EQ(c->cur_version_list, c);
    EXPECT_EQ(c->if_tree_place, c);
    EXPECT_EQ(c->insert_columns, nullptr);
    EXPECT_EQ(full_day.next, nullptr);
    EXPECT_EQ(full_day.start_time, 0);
    EXPECT_EQ(full_day.end_time, 86400);
    U_FREE(c);
}

}  // namespace
