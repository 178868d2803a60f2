#include "comm/zovcomm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "comm/request.h"
#include "comm/shm_transport.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/platform.h"

namespace {

// The configuration counts as read, so zovcomm does not fill env_vars from the
// environment of the test run.
class ConfigRead : public ::testing::Environment {
  public:
    void SetUp() override { env_vars.coll_home = const_cast<char*>("/nonexistent"); }
};
const auto* const kConfigRead = ::testing::AddGlobalTestEnvironment(new ConfigRead);

TEST(ZovcommWords, UnknownWordReturnsNullAndTouchesNothing) {
    comm_anchor a{};
    a.type = 'C';
    a.return_code = 7;
    EXPECT_EQ(zovcomm("gets", &a), nullptr);
    EXPECT_EQ(a.return_code, 7);
    EXPECT_EQ(zovcomm_locked, 0);
}

TEST(GetCursName, SplitsAtBlanksAndCommas) {
    struct Case {
        const char* text;
        std::vector<std::string> names;
    } cases[] = {
        {" a,b  c", {"a", "b", "c"}},
        {"ABCDEFGHIJ", {"ABCDEFGH", "IJ"}},  // a long run continues inside itself
        {"", {}},
        {" , ,", {}},
        {"ZEMENGD ZEMLCKD ", {"ZEMENGD", "ZEMLCKD"}},
        {"C-STATUS", {"C-STATUS"}},
    };
    for (const auto& c : cases) {
        std::vector<std::string> got;
        const char* p = c.text;
        for (;;) {
            while (*p == ' ' || *p == ',') p++;
            char name[9];
            memset(name, 'x', sizeof name);
            int n = get_curs_name(p, name);
            if (n == 0) break;
            EXPECT_EQ(name[n], '\0');
            EXPECT_EQ(static_cast<int>(strlen(name)), n);
            got.emplace_back(name);
            p += n;
        }
        EXPECT_EQ(got, c.names) << c.text;
    }
}

TEST(Transport, SharedMemoryWithoutSharedObjectsGivesError21) {
    char* saved = env_vars.useshm;
    env_vars.useshm = nullptr;
    comm_anchor* a = comm_new_anchor('C');
    EXPECT_EQ(zovcomm("get", a, "X"), nullptr);
    EXPECT_EQ(a->return_code, 21);
    EXPECT_STREQ(a->return_msg, "Share memory generic error");
    EXPECT_EQ(zovcomm("term", a), nullptr);  // frees it (ASan would report a leak)
    env_vars.useshm = saved;
}

TEST(Chain, BlocksAppendAtTheTailAndFreeWhole) {
    comm_anchor* a = comm_new_anchor('C');
    curs_list* b1 = get_cursor_block(a);
    curs_list* b2 = get_cursor_block(a);
    EXPECT_EQ(a->curs, b1);
    EXPECT_EQ(b1->next, b2);
    EXPECT_EQ(b2->rows, 0);
    add_reply_pipe(b1, "/d/p1");
    add_reply_pipe(b1, "/d/p2");
    EXPECT_STREQ(b1->pipe->pipe, "/d/p1");
    EXPECT_EQ(b1->pipe->len, 5);
    EXPECT_STREQ(b1->pipe->next->pipe, "/d/p2");
    b2->data = static_cast<char*>(u_malloc(10, __FILE__, __LINE__, "rows"));
    b2->pipe_buf =
        static_cast<data_request*>(u_malloc(sizeof(data_request), __FILE__, __LINE__, ""));
    free_cursor_blocks(a);
    EXPECT_EQ(a->curs, nullptr);
    comm_free_anchor(a);
}

TEST(Chain, ScanFindsTheSameRequestWhateverItsReplyPipe) {
    comm_anchor* a = comm_new_anchor('C');
    const char* parms[COMM_PARMS] = {"p1"};
    curs_list* b = get_cursor_block(a);
    strcpy(b->cursor, "ABC");
    b->pipe_buf =
        static_cast<data_request*>(u_malloc(sizeof(data_request), __FILE__, __LINE__, ""));
    ASSERT_EQ(comm_request_encode("ABC", 3, "/d/one", parms, b->pipe_buf, nullptr), 0);

    struct Case {
        const char* what;
        const char* name;
        const char* reply;
        const char* parm;
        bool found;
    } cases[] = {
        {"same request, other pipe of equal length", "ABC", "/d/two", "p1", true},
        {"other name", "ABD", "/d/two", "p1", false},
        {"prefix of the name", "AB", "/d/twoo", "p1", false},
        {"other parameter", "ABC", "/d/two", "p2", false},
        {"other pipe length", "ABC", "/d/three", "p1", false},
    };
    for (const auto& c : cases) {
        const char* ps[COMM_PARMS] = {c.parm};
        data_request req;
        ASSERT_EQ(comm_request_encode(c.name, static_cast<int>(strlen(c.name)), c.reply, ps, &req,
                                      nullptr),
                  0);
        EXPECT_EQ(scan_cursor_blocks(a, &req) == b, c.found) << c.what;
    }
    comm_free_anchor(a);
}

TEST(Guard, WaitsForTheHolderAndThenProceeds) {
    static int sleeps;
    sleeps = 0;
    u_platform_ops ops{};
    ops.sleep_ms = [](long) {
        if (++sleeps == 3) zovcomm_locked = 0;
    };
    u_platform_set(ops);
    char* saved = env_vars.useshm;
    env_vars.useshm = const_cast<char*>("0");
    zovcomm_locked = 4;
    EXPECT_EQ(zovcomm("term", static_cast<comm_anchor*>(nullptr)), nullptr);
    EXPECT_EQ(sleeps, 3);
    EXPECT_EQ(zovcomm_locked, 0);

    // A holder that never lets go: 30 seconds, then the call proceeds all the same.
    ops.sleep_ms = [](long) { ++sleeps; };
    u_platform_set(ops);
    sleeps = 0;
    zovcomm_locked = 4;
    EXPECT_EQ(zovcomm("term", static_cast<comm_anchor*>(nullptr)), nullptr);
    EXPECT_EQ(sleeps, 30);
    EXPECT_EQ(zovcomm_locked, 0);

    // "shut" never waits.
    sleeps = 0;
    zovcomm_locked = 4;
    EXPECT_EQ(zovcomm("shut", static_cast<comm_anchor*>(nullptr)), nullptr);
    EXPECT_EQ(sleeps, 0);
    env_vars.useshm = saved;
    u_platform_reset();
}

}  // namespace
