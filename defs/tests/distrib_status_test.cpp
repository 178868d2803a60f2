#include "defs/distrib_status.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "defs/distrib.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "testing/record_bytes.h"

namespace {

std::string bytes_at(const unsigned char* rec, size_t off, size_t n) {
    return std::string(reinterpret_cast<const char*>(rec + off), n);
}

// A record with a distinct value in every field, pointers included.
distrib* full_record() {
    distrib* d = distrib_new();
    static operate window = {nullptr, 100, 200};
    d->next = d;
    d->type = DT_CTLIB;
    std::strcpy(d->distrib_name, "collector");
    std::memset(d->logon_id, 'L', sizeof(d->logon_id));  // full width, no NUL
    std::strcpy(d->password, "Secret#1");
    std::strcpy(d->server_id, "SYB1    ");
    std::strcpy(d->db_type, "zem");
    std::strcpy(d->db_typeA, "syb");
    d->saturday_start = &window;
    d->sunday_start = &window;
    d->mon_fri_start = &window;
    d->time_offset = -5400;
    for (int i = 0; i < distrib_max_holidays; ++i) d->holiday[i] = 12000 + i;
    d->interval = 60;
    d->held = 'Y';
    d->continuous = 'N';
    d->classes[3] = 1;
    d->classes[49] = 1;
    d->window_start = 1111111;
    d->window_end = 2222222;
    d->next_time = 3333333;
    std::memcpy(d->status, "GOOD", 5);
    std::strcpy(d->time, "20261210143005");
    d->state = 0x8001;
    d->send_false = 1;
    d->syb_context = d;
    d->syb_connection = d;
    d->dbx = d;
    d->dbapsa = d;
    return d;
}

TEST(DistribStatus, FieldsAtTheirOffsets) {
    distrib* d = full_record();
    unsigned char rec[DISTRIB_STATUS_LEN + 8];
    std::memset(rec, 0xAB, sizeof(rec));
    distrib_status_encode(d, rec);
    // Nothing is written past the record.
    for (size_t i = DISTRIB_STATUS_LEN; i < sizeof(rec); ++i) ASSERT_EQ(rec[i], 0xAB) << i;

    EXPECT_EQ(i16_at(rec, 4), DT_CTLIB);
    EXPECT_EQ(bytes_at(rec, 6, 25), std::string("collector") + std::string(16, '\0'));
    EXPECT_EQ(bytes_at(rec, 31, 33), std::string(33, 'L'));
    EXPECT_EQ(bytes_at(rec, 164, 33), std::string("SYB1    ") + std::string(25, '\0'));
    EXPECT_EQ(bytes_at(rec, 197, 4), std::string("zem\0", 4));
    EXPECT_EQ(bytes_at(rec, 201, 4), std::string("syb\0", 4));
    EXPECT_EQ(i32_at(rec, 220), -5400);
    for (int i = 0; i < distrib_max_holidays; ++i) EXPECT_EQ(i32_at(rec, 224 + 4 * i), 12000 + i);
    EXPECT_EQ(i32_at(rec, 624), 60);
    EXPECT_EQ(rec[628], 'Y');
    EXPECT_EQ(rec[629], 'N');
    EXPECT_EQ(i16_at(rec, 630), 1);  // class 0, set when the record is made
    EXPECT_EQ(i16_at(rec, 630 + 2 * 3), 1);
    EXPECT_EQ(i16_at(rec, 630 + 2 * 4), 0);
    EXPECT_EQ(i16_at(rec, 630 + 2 * 49), 1);
    EXPECT_EQ(i32_at(rec, 732), 1111111);
    EXPECT_EQ(i32_at(rec, 736), 2222222);
    EXPECT_EQ(i32_at(rec, 740), 3333333);
    EXPECT_EQ(bytes_at(rec, 744, 5), std::string("GOOD\0", 5));
    EXPECT_EQ(bytes_at(rec, 749, 15), std::string("20261210143005\0", 15));
    EXPECT_EQ(static_cast<uint16_t>(i16_at(rec, 764)), 0x8001);
    EXPECT_EQ(i16_at(rec, 766), 1);

    // Pointer fields and padding are zeros.
    const size_t zero_spans[][2] = {{0, 4}, {205, 3}, {208, 12}, {730, 2}, {768, 16}};
    for (const auto& span : zero_spans)
        EXPECT_EQ(bytes_at(rec, span[0], span[1]), std::string(span[1], '\0')) << span[0];
    U_FREE(d);
}

TEST(DistribStatus, PasswordFieldIsAlwaysBlank) {
    distrib* d = full_record();
    unsigned char rec[DISTRIB_STATUS_LEN];
    for (size_t len : {size_t{0}, size_t{8}, sizeof(d->password)}) {
        std::memset(d->password, 0, sizeof(d->password));
        std::memset(d->password, 'p', len);
        distrib_status_encode(d, rec);
        EXPECT_EQ(bytes_at(rec, 64, 100), std::string(100, ' ')) << len;
        // The neighbours keep their own bytes.
        EXPECT_EQ(rec[63], 'L');
        EXPECT_EQ(rec[164], 'S');
    }
    U_FREE(d);
}

}  // namespace
