// The raw bytes of both segments after each step of one request and its answer.
#include "comm/shm_layout.h"

#include <cstring>

#include "comm/tests/shm_fixture.h"

namespace {

constexpr time_t kNow = 1700000000;

void fixed_clock(struct timespec* out) {
    out->tv_sec = kNow;
    out->tv_nsec = 0;
}

class ShmLayout : public ShmFixture {
  protected:
    void SetUp() override {
        ShmFixture::SetUp();
        u_platform_ops ops{};
        ops.clock_now = fixed_clock;
        u_platform_set(ops);
        int ids[4];
        ASSERT_EQ(CreateShareCommObject(nullptr, &ids[0], &ids[1], &ids[2], &ids[3]), 1);
        track_current();
        req_ = static_cast<ShareCommObject*>(g_pCommObjectRequest);
        data_ = static_cast<ShareCommObject*>(g_pCommObjectData);
        r_ = req_->GetSegment();
        d_ = data_->GetSegment();
    }
    int32_t word(const char* seg, int offset) {
        int32_t v;
        memcpy(&v, seg + offset, 4);
        return v;
    }
    // The field's bytes up to its first NUL, and whether the rest of it is zero.
    std::string field(const char* seg, int offset, int size) {
        std::string s(seg + offset, strnlen(seg + offset, size));
        for (int i = static_cast<int>(s.size()); i < size; i++) {
            if (seg[offset + i] != '\0') return s + "<not cleared>";
        }
        return s;
    }
    ShareCommObject* req_ = nullptr;
    ShareCommObject* data_ = nullptr;
    char* r_ = nullptr;
    char* d_ = nullptr;
};

struct Word {
    const char* what;
    bool request_segment;
    int offset;
    int32_t value;
};

TEST_F(ShmLayout, NewSegmentsHoldTheirStartValues) {
    const Word words[] = {
        {"request attach count", true, 0, 1}, {"request read index", true, 4, 0},
        {"request write index", true, 8, 0},  {"life time", true, 30400, 45},
        {"written", true, 30404, kNow},       {"data written", true, 30408, kNow},
        {"data attach count", false, 0, 1},   {"data read index", false, 4, 0},
        {"data write index", false, 8, 0},    {"reader finished", false, 12, 1},
    };
    for (const Word& w : words) {
        EXPECT_EQ(word(w.request_segment ? r_ : d_, w.offset), w.value) << w.what;
    }
    EXPECT_EQ(req_->SemValue(0), 1);
    EXPECT_EQ(req_->SemValue(1), 0);
    EXPECT_EQ(data_->SemValue(0), 1);
    EXPECT_EQ(data_->SemValue(1), 0);
    struct shmid_ds ds {};
    ASSERT_EQ(shmctl(req_->GetShmID(), IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_segsz, 30600u);
    EXPECT_EQ(ds.shm_perm.mode & 0777, 0660u);
    ASSERT_EQ(shmctl(data_->GetShmID(), IPC_STAT, &ds), 0);
    EXPECT_EQ(ds.shm_segsz, 100000u);
}

TEST_F(ShmLayout, ARequestLiesAtItsOffsets) {
    std::list<std::string> params = {"p1", "", "abcdefghijklmnopqrstuvwxyz0123"};
    for (int i = 3; i < 17; i++) params.push_back("q" + std::to_string(i));
    std::string unique;
    memset(r_ + 12, 'x', 30400 - 12);  // every field must be cleared by the writer
    ASSERT_EQ(req_->SendRequest("ABCDEFGHIJKLMNOPQRST", params, unique, nullptr, 0), 0);
    EXPECT_EQ(unique, zov_form_unique("ABCDEFGHIJKLMN", kNow, g_nCount, getpid()));
    struct Text {
        int offset, size;
        std::string value;
    } texts[] = {
        {12, 15, "ABCDEFGHIJKLMN"},
        {27, 50, unique},
        {77, 20, "p1"},
        {77 + 20, 20, ""},
        {77 + 40, 20, "abcdefghijklmnopqrs"},
        {77 + 60, 20, "q3"},
        {77 + 300, 20, "q15"},  // the 17th, q16, is not sent
    };
    for (const Text& t : texts) EXPECT_EQ(field(r_, t.offset, t.size), t.value) << t.offset;
    EXPECT_EQ(std::string(r_ + 397, 3), "xxx") << "no data text: the data field is left";
    EXPECT_EQ(word(r_, 8), 0);
    EXPECT_EQ(word(r_, 30404), kNow);
    EXPECT_EQ(req_->SemValue(0), 0);
    EXPECT_EQ(req_->SemValue(1), 1);

    memset(r_ + 397, 0, 1);  // as a writer with no data leaves a cleared field
    std::string name, got, data;
    std::list<std::string> read;
    ASSERT_EQ(req_->GetRequest(name, got, read, data, 0), 0);
    EXPECT_EQ(name, "ABCDEFGHIJKLMN");
    EXPECT_EQ(got, unique);
    std::list<std::string> expected = {"p1", "abcdefghijklmnopqrs"};
    for (int i = 3; i < 16; i++) expected.push_back("q" + std::to_string(i));
    EXPECT_EQ(read, expected) << "the empty slot is skipped, the 17th was never sent";
    EXPECT_EQ(data, "");
    EXPECT_EQ(req_->SemValue(0), 1);
    EXPECT_EQ(req_->SemValue(1), 0);
}

TEST_F(ShmLayout, ADataTextTravelsInItsField) {
    std::string unique, name, got, data;
    std::list<std::string> params;
    ASSERT_EQ(req_->SendRequest("A", {}, unique, "select 1", 0), 0);
    EXPECT_EQ(field(r_, 397, 30000), "select 1");
    ASSERT_EQ(req_->GetRequest(name, got, params, data, 0), 0);
    EXPECT_EQ(data, "select 1");
}

TEST_F(ShmLayout, AnAnswerLiesAtItsOffsets) {
    memset(d_ + 16, 'x', 99000 + 60);
    ASSERT_EQ(data_->SendData("ABC-1", 2, 3, "abcdef", 0), 0);
    EXPECT_EQ(field(d_, 16, 50), "ABC-1");
    EXPECT_EQ(word(d_, 68), 2);
    EXPECT_EQ(word(d_, 72), 3);
    EXPECT_EQ(field(d_, 76, 99000), "abcdef");
    EXPECT_EQ(word(d_, 12), 0) << "reader not finished";
    EXPECT_EQ(word(r_, 30408), kNow);
    EXPECT_EQ(data_->SemValue(0), 0);
    EXPECT_EQ(data_->SemValue(1), 1);

    std::string got, data;
    int rows = -1, len = -1;
    ASSERT_EQ(data_->GetData("ABC-1", got, rows, len, data, 0), 0);
    EXPECT_EQ(got, "ABC-1");
    EXPECT_EQ(rows, 2);
    EXPECT_EQ(len, 3);
    EXPECT_EQ(data, "abcdef");
    EXPECT_EQ(word(d_, 12), 1);
    EXPECT_EQ(word(r_, 30408), -1);
    EXPECT_EQ(data_->SemValue(0), 1);
    EXPECT_EQ(data_->SemValue(1), 0);
}

TEST_F(ShmLayout, AProcessThatAttachesLeavesAPendingAnswerPending) {
    ASSERT_EQ(data_->SendData("ABC-1", 1, 3, "abc", 0), 0);
    ASSERT_EQ(word(d_, 12), 0);
    {
        // A requester that starts while the answer waits for its reader.
        char* const ours = g_pData;
        ShareCommObject late(ZOV_SHARE_DATA, data_->GetShmID(), data_->GetSemID(), ZOV_SHARE_BY_ID);
        ASSERT_TRUE(late.IsGood());
        g_pData = ours;
        // Set to 1, it told the collector the slot was free while the answer was unread.
        EXPECT_EQ(word(d_, 12), 0);
    }
    std::string got, data;
    int rows = 0, len = 0;
    ASSERT_EQ(data_->GetData("ABC-1", got, rows, len, data, 0), 0);
    EXPECT_EQ(data, "abc");
    EXPECT_EQ(word(d_, 12), 1);
}

TEST_F(ShmLayout, AnAnswerIsReadOnlyByItsRequesterOrItsProcess) {
    struct Case {
        const char* waits_for;
        const char* answer;
        bool read;
    } cases[] = {
        {"RQ-001700000000-0007-4242", "RQ-001700000000-0007-4242", true},
        // The same process gave up on an earlier request: its late answer is read away.
        {"RQ-001700000000-0007-4242", "RQ-001700000000-0006-4242", true},
        {"RQ-001700000000-0007-4242", "RQ-001700000000-0007-4243", false},
        {"RQ-001700000000-0007-4242", "RQ-001700000000-0007-14242", false},
        {"RQ-001700000000-0007-4242", "", false},  // no id at all: not ours either
        // Agents' ids end in a count, not a process id: two agents' counts can be equal.
        {"ABC-000946684800-0001", "XYZ-000946684800-0001", false},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(data_->SendData(c.answer, 1, 2, "ab", 0), 0) << c.answer;
        std::string got, data;
        int rows = 0, len = 0;
        EXPECT_EQ(data_->GetData(c.waits_for, got, rows, len, data, 0), c.read ? 0 : -10)
            << c.answer;
        EXPECT_EQ(word(d_, 12), c.read ? 1 : 0) << c.answer;
        EXPECT_EQ(data_->SemValue(1), c.read ? 0 : 1) << c.answer << ": left for its owner";
        if (c.read) {
            EXPECT_EQ(got, c.answer);
            EXPECT_EQ(data, "ab");
        } else {
            ASSERT_EQ(data_->GetData(c.answer, got, rows, len, data, 0), 0) << c.answer;
        }
    }
}

TEST_F(ShmLayout, NoRowsTravelAsNone) {
    for (auto [rows, len] : {std::pair{0, 10}, std::pair{3, 0}}) {
        ASSERT_EQ(data_->SendData("U", rows, len, "ignored", 0), 0);
        EXPECT_EQ(field(d_, 76, 99000), "NONE");
        std::string got, data;
        int r = -1, l = -1;
        ASSERT_EQ(data_->GetData("U", got, r, l, data, 0), 0);
        EXPECT_EQ(r, rows);
        EXPECT_EQ(l, len);
        EXPECT_EQ(data, "NONE");
    }
}

TEST_F(ShmLayout, ImpossibleCountsAreRefusedAndCleaned) {
    struct Case {
        int32_t rows, len;
    } cases[] = {{-1, 5}, {5, -1}, {1 << 20, 1 << 20}};
    for (const Case& c : cases) {
        ASSERT_EQ(data_->SendData("U", 1, 1, "a", 0), 0);
        memcpy(d_ + 68, &c.rows, 4);
        memcpy(d_ + 72, &c.len, 4);
        std::string got, data;
        int r = 0, l = 0;
        EXPECT_EQ(data_->GetData("U", got, r, l, data, 0), -1) << c.rows << "x" << c.len;
        EXPECT_EQ(word(d_, 12), 1);
        EXPECT_EQ(data_->SemValue(0), 1);
        EXPECT_EQ(data_->SemValue(1), 0);
    }
}

TEST_F(ShmLayout, TimeFieldsAgeAcrossTheWrap) {
    struct Case {
        int32_t now, then, age;
    } cases[] = {
        {100, 54, 46},
        {INT32_MIN + 10, INT32_MAX - 35, 46},  // 2038: the counter wrapped between them
        {-1, -47, 46},
    };
    for (const Case& c : cases) EXPECT_EQ(shm::age(c.now, c.then), c.age) << c.now;
}

}  // namespace
