// Answers of the request server, built in process from request blocks.
#include "collector/distributors/request_server.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "collector/rows/percent_cursor.h"
#include "collector/tests/row_test_support.h"
#include "comm/comm_anchor.h"
#include "expr/percent_vars.h"
#include "model/cursor_status.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"

namespace {

// A request entry for cursor name carrying the parameters (reply pipe "AGT").
class Request {
  public:
    Request(const std::string& name, const std::vector<std::string>& parms) {
        std::memset(&block_, 0, sizeof block_);
        std::memset(&entry_, 0, sizeof entry_);
        std::string data = name + "AGT" + std::string(1, '\0');
        for (const std::string& p : parms) data += p + std::string(1, '\0');
        data += std::string(2, '\0');
        std::memcpy(block_.data, data.data(), data.size());
        block_.len = static_cast<int16_t>(data.size() + 4);
        block_.offset = static_cast<int16_t>(name.size());
        std::strncpy(entry_.cursor, name.c_str(), COMM_CURSOR_MAX);
        entry_.pipe_buf = &block_;
    }
    ~Request() { U_FREE(entry_.data); }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;
    curs_list* get() { return &entry_; }

  private:
    data_request block_;
    curs_list entry_;
};

class RequestServer : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        LogCapture log;
        ASSERT_NE(rowtest::parse_one(rowtest::block("PA", "V"), "PA"), nullptr) << log.text();
        ASSERT_EQ(build_percent_cursor(), 0);
    }
    void TearDown() override { pcnt_forget(); }
    static std::string parm(const char* name) {
        columns* col = find_pcnt_col(name);
        return col == nullptr ? "?" : std::string(col->from, static_cast<size_t>(col->len));
    }
    static void ready(cursortest::cursor& rc) {
        curs* c = rc.get();
        c->length = 0;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next)
            c->length = col->offset + col->len;
        c->window_start = 0;
        c->window_end = 0x7fffffff;
    }
};

TEST_F(RequestServer, RowsInClusterLayoutAndParametersInThePercentCursor) {
    cursortest::cursor rc("RQ", {{"A", 3, 1}, {"B", 2, 1}});
    rc.add({"x", "1"});
    rc.add({"yy", "22"});
    ready(rc);
    Request r("RQ", {"abc", "7"});
    ASSERT_EQ(get_probe_data(r.get()), 0);
    EXPECT_EQ(r.get()->rows, 2);
    EXPECT_EQ(r.get()->len, 5);
    EXPECT_EQ(std::string(r.get()->data, 10), "x  1 yy 22");
    // Each parameter column is as long as its parameter.
    EXPECT_EQ(parm("%parm0"), "abc");
    EXPECT_EQ(parm("%parm1"), "7");
    EXPECT_EQ(parm("%parm2"), std::string(parm("%parm2").size(), ' '));

    // The next request without parameters reads them blank.
    Request again("RQ", {});
    ASSERT_EQ(get_probe_data(again.get()), 0);
    EXPECT_EQ(parm("%parm0"), std::string(parm("%parm0").size(), ' '));
}

TEST_F(RequestServer, UnknownEmptyAndOutOfWindowCursors) {
    cursortest::cursor empty("RE", {{"A", 3, 1}});
    ready(empty);
    cursortest::cursor later("RL", {{"A", 3, 1}});
    later.add({"z"});
    ready(later);
    later.get()->window_start = 0x7ffffff0;
    Request unknown("NOPE", {});
    EXPECT_EQ(get_probe_data(unknown.get()), 1);
    Request none("RE", {});
    EXPECT_EQ(get_probe_data(none.get()), 1);
    EXPECT_EQ(none.get()->data, nullptr);
    Request out("RL", {});
    EXPECT_EQ(get_probe_data(out.get()), 0);
    EXPECT_EQ(out.get()->data, nullptr);
    EXPECT_EQ(out.get()->rows, 0);
}

TEST_F(RequestServer, CursorStatusOneEncodedRecordPerCursor) {
    cursortest::cursor rc("ST", {{"A", 3, 1}});
    int count = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) ++count;
    Request r("C-STATUS", {});
    ASSERT_EQ(status_answer(r.get(), true), 0);
    EXPECT_EQ(r.get()->rows, count);
    EXPECT_EQ(r.get()->len, static_cast<int>(CURS_STATUS_LEN));
    const char* last = r.get()->data + (count - 1) * static_cast<int>(CURS_STATUS_LEN);
    EXPECT_STREQ(last + 4, "ST");
}

}  // namespace
