#include "comm/request.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<unsigned char> bytes_of(const data_request& req) {
    std::vector<unsigned char> out(COMM_REQUEST_MAX);
    comm_request_to_bytes(&req, out.data());
    out.resize(req.len);
    return out;
}

TEST(RequestRecord, RoundTripWithZeroOneAndSixteenParameters) {
    for (int count : {0, 1, 16}) {
        SCOPED_TRACE(count);
        std::vector<std::string> texts;
        const char* parms[COMM_PARMS] = {};
        for (int i = 0; i < count; i++) texts.push_back("p" + std::to_string(i));
        for (int i = 0; i < count; i++) parms[i] = texts[i].c_str();
        data_request req;
        ASSERT_EQ(comm_request_encode("ZEMENGD", 7, "/tmp/d/prb_x_pipe", parms, &req, nullptr), 0);

        size_t expected = 4 + 7 + strlen("/tmp/d/prb_x_pipe") + 1 + 2;
        for (auto& t : texts) expected += t.size() + 1;
        EXPECT_EQ(req.len, static_cast<int16_t>(expected));
        EXPECT_EQ(req.offset, 7);

        // The wire bytes: header in host order, name without NUL, reply name, parameters,
        // two closing zeros.
        auto wire = bytes_of(req);
        int16_t len;
        int16_t offset;
        comm_request_header_from_bytes(wire.data(), &len, &offset);
        EXPECT_EQ(len, req.len);
        EXPECT_EQ(offset, 7);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(wire.data()) + 4, 7), "ZEMENGD");
        EXPECT_EQ(wire[len - 1], 0);
        EXPECT_EQ(wire[len - 2], 0);

        // Read back through the checker and the parameter views.
        data_request back{};
        back.len = len;
        back.offset = offset;
        memcpy(back.data, wire.data() + 4, len - 4);
        const char* why = nullptr;
        ASSERT_EQ(comm_request_check(&back, &why), 0) << why;
        EXPECT_STREQ(comm_request_reply(&back), "/tmp/d/prb_x_pipe");
        const char* got[COMM_PARMS];
        ASSERT_EQ(comm_request_parms(&back, got), count);
        for (int i = 0; i < count; i++) EXPECT_STREQ(got[i], texts[i].c_str());
        // The collector's view: the parameters, then the two empty strings, as far as 16 reach.
        char* parm[COMM_PARMS];
        int pointed = comm_request_point_parms(&back, parm);
        EXPECT_EQ(pointed, std::min(count + 2, static_cast<int>(COMM_PARMS)));
        if (count + 2 <= COMM_PARMS) {
            EXPECT_STREQ(parm[count], "");
            EXPECT_STREQ(parm[count + 1], "");
        }
        for (int i = pointed; i < COMM_PARMS; i++) EXPECT_EQ(parm[i], nullptr);
    }
}

TEST(RequestRecord, AbsentParametersAreSkippedInOrder) {
    const char* parms[COMM_PARMS] = {};
    parms[0] = "parm1           ";
    parms[3] = "x";
    data_request req;
    ASSERT_EQ(comm_request_encode("A", 1, "p", parms, &req, nullptr), 0);
    const char* got[COMM_PARMS];
    ASSERT_EQ(comm_request_parms(&req, got), 2);
    EXPECT_STREQ(got[0], "parm1           ");
    EXPECT_STREQ(got[1], "x");
}

TEST(RequestRecord, EncodeRefusesWhatDoesNotFit) {
    std::string long_reply(100, 'r');
    std::string long_parm(291, 'p');  // 4 + 1 + 2 + 292 + 2 = 301 bytes
    const char* big[COMM_PARMS] = {long_parm.c_str()};
    struct Case {
        const char* what;
        const char* name;
        int name_len;
        const char* reply;
        const char* const* parms;
    } cases[] = {
        {"empty name", "", 0, "p", nullptr},
        {"9-character name", "ABCDEFGHI", 9, "p", nullptr},
        {"empty reply", "A", 1, "", nullptr},
        {"100-character reply", "A", 1, long_reply.c_str(), nullptr},
        {"record over 300 bytes", "A", 1, "p", big},
    };
    for (const auto& c : cases) {
        data_request req;
        const char* why = nullptr;
        EXPECT_EQ(comm_request_encode(c.name, c.name_len, c.reply, c.parms, &req, &why), 1)
            << c.what;
        EXPECT_NE(why, nullptr) << c.what;
    }
}

// Builds a raw record: header fields as given, body bytes as given.
data_request raw(int16_t len, int16_t offset, const std::string& body) {
    data_request r{};
    r.len = len;
    r.offset = offset;
    memcpy(r.data, body.data(), std::min(body.size(), sizeof r.data));
    return r;
}

TEST(RequestRecord, CheckRefusesMalformedRecords) {
    const std::string good_body = std::string("ABC") + "pipe" + '\0' + '\0' + '\0';
    const int good_len = 4 + static_cast<int>(good_body.size());
    const data_request good = raw(good_len, 3, good_body);
    ASSERT_EQ(comm_request_check(&good, nullptr), 0);
    std::string reply150(150, 'r');
    std::string no_nul = "ABC" + std::string(20, 'x');
    struct Case {
        const char* what;
        data_request req;
    } cases[] = {
        {"len 301", raw(301, 3, good_body)},
        {"len 3", raw(3, 3, good_body)},
        {"len below name + reply + closing zeros", raw(4 + 3 + 1 + 1, 3, good_body)},
        {"offset 9", raw(good_len, 9, good_body)},
        {"offset 0", raw(good_len, 0, good_body)},
        {"offset -1", raw(good_len, -1, good_body)},
        {"reply name without NUL", raw(4 + static_cast<int>(no_nul.size()), 3, no_nul)},
        {"150-character reply name",
         raw(4 + 3 + 151 + 2, 3, "ABC" + reply150 + '\0' + '\0' + '\0')},
        {"empty reply name", raw(4 + 3 + 1 + 2, 3, std::string("ABC") + '\0' + '\0' + '\0')},
        {"NUL inside the name",
         raw(good_len, 3, std::string("A\0C", 3) + "pipe" + '\0' + '\0' + '\0')},
        {"no closing zero bytes", raw(4 + 3 + 5 + 2, 3, std::string("ABC") + "pipe" + '\0' + "xy")},
    };
    for (const auto& c : cases) {
        const char* why = nullptr;
        EXPECT_EQ(comm_request_check(&c.req, &why), 1) << c.what;
        EXPECT_NE(why, nullptr) << c.what;
    }
}

TEST(AnswerHeader, DecodeChecksRowsLengthAndProduct) {
    struct Case {
        int32_t rows;
        int32_t len;
        bool ok;
        int64_t bytes;
    } cases[] = {
        {0, 0, true, 0},
        {0, 456, true, 0},
        {3, 10, true, 30},
        {-1, 10, false, 0},
        {3, -10, false, 0},
        {0x7fffffff, 0x7fffffff, false, 0},  // product beyond any sane answer
        {1 << 20, 1 << 11, false, 0},        // 2 GiB
    };
    for (const auto& c : cases) {
        unsigned char buf[COMM_HEADER_BYTES];
        comm_header_encode(stream_header{c.rows, c.len}, buf);
        stream_header h;
        int64_t bytes = -1;
        int rc = comm_header_decode(buf, &h, &bytes);
        EXPECT_EQ(rc == 0, c.ok) << c.rows << "x" << c.len;
        EXPECT_EQ(h.rows, c.rows);
        EXPECT_EQ(h.len, c.len);
        if (c.ok) {
            EXPECT_EQ(bytes, c.bytes);
        }
    }
}

}  // namespace
