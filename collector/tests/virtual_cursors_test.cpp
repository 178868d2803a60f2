#include "collector/rows/virtual_cursors.h"

#include <gtest/gtest.h>

#include <string>

#include "collector/rows/row_store.h"
#include "testing/log_capture.h"
#include "testing/reader_support.h"

namespace {

using enginetest::column;
using enginetest::cursor;
using enginetest::value;

const char* const kDict =
    "name A; type CHAR(10); initial abc; "
    "name B; type INTEGER; initial 42; "
    "name C; type CHAR(4); "
    "name D; type CHAR(3); initial abcdefgh; "
    "name SQLRC; type CHAR(6); "
    "name SHORT; type CHAR(5); "
    "end;";

std::string virtual_cursor(const char* name, const char* cols) {
    std::string list = cols;
    std::string values;
    size_t at = 0;
    while (at <= list.size()) {
        size_t comma = list.find(',', at);
        if (comma == std::string::npos) comma = list.size();
        std::string word = list.substr(at, comma - at);
        word.erase(0, word.find_first_not_of(' '));
        values += (values.empty() ? ":" : ", :") + word;
        at = comma + 1;
    }
    return std::string("cursor ") + name + ";\n  INSERT INTO " + name + " (" + list + ") VALUES (" +
           values + ");\n  virtual;\n";
}

class Virtuals : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(enginetest::read_dict(kDict), 0) << log.text(); }
    LogCapture log;
};

TEST_F(Virtuals, RowLaidOutFromTheDictionary) {
    ASSERT_EQ(enginetest::read_cursors(virtual_cursor("V", "A, B, C, D") + "cursor P;\n  " +
                                       curstest::body()),
              0)
        << log.text();
    ASSERT_EQ(init_virtuals_pass(), 0) << log.text();
    curs* v = cursor("V");
    ASSERT_NE(v->first_row, nullptr);
    EXPECT_EQ(v->first_row, v->last_row);
    EXPECT_EQ(v->length, 11 + 17 + 5 + 4);
    EXPECT_EQ(v->first_row->len, v->length);
    EXPECT_EQ(v->buffer, v->first_row->text);
    EXPECT_EQ(v->demand, 1);
    EXPECT_EQ(v->interval, 0);
    for (int32_t f :
         {v->count, v->sampleno, v->rowno, int32_t{v->changed}, int32_t{v->needs_history}})
        EXPECT_EQ(f, 1);
    const row_data* r = v->first_row;
    // A CHAR(10) abc, B INTEGER 42 right-aligned in 16, C blanks, D cut to 3.
    EXPECT_EQ(std::string(r->text, 28),
              std::string("abc       ") + '\0' + std::string(14, ' ') + "42" + '\0');
    struct expect {
        const char* name;
        int32_t offset;
        int16_t len;
        int16_t orig_type;
        const char* text;
    } const want[] = {{"A", 0, 10, 1, "abc       "},
                      {"B", 11, 16, 2, "              42"},
                      {"C", 28, 4, 1, "    "},
                      {"D", 33, 3, 1, "abc"}};
    for (const expect& e : want) {
        columns* k = column(v, e.name);
        ASSERT_NE(k, nullptr) << e.name;
        EXPECT_EQ(k->offset, e.offset) << e.name;
        EXPECT_EQ(k->len, e.len) << e.name;
        EXPECT_EQ(k->oracle_len, e.len) << e.name;
        EXPECT_EQ(k->orig_type, e.orig_type) << e.name;
        EXPECT_EQ(k->data_type, 1) << e.name;
        EXPECT_EQ(k->from, r->text + e.offset) << e.name;
        EXPECT_EQ(k->indicator, &indicator1) << e.name;
        EXPECT_EQ(value(r, k), e.text) << e.name;
        EXPECT_EQ(r->text[e.offset + e.len], '\0') << e.name;
    }
    // A cursor that is not virtual gets no row.
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        if (c != v) {
            EXPECT_EQ(c->first_row, nullptr) << c->cur_name;
        }
}

TEST_F(Virtuals, StatusFieldOfServstat) {
    ASSERT_EQ(enginetest::read_cursors(virtual_cursor("SERVSTAT", "A, SQLRC")), 0) << log.text();
    ASSERT_EQ(init_virtuals_pass(), 0) << log.text();
    curs* s = cursor("SERVSTAT");
    ASSERT_NE(servstatus, nullptr);
    EXPECT_EQ(servstatus, s->first_row->text + column(s, "SQLRC")->offset);
    EXPECT_EQ(servstatus_len, 6);
    EXPECT_FALSE(log.has("PVT2190"));

    // A field of 5 is too short: the status stays unset and the collector runs on.
    ASSERT_EQ(enginetest::read_cursors(virtual_cursor("SERVSTAT", "A, SQLRC")), 0);
    columns* rc = column(cursor("SERVSTAT"), "SQLRC");
    ASSERT_NE(rc, nullptr);
    std::memcpy(rc->col_name, "SHORT", 6);
    rc->col_name_ll = 5;
    ASSERT_EQ(init_virtuals_pass(), 0);
    EXPECT_EQ(servstatus, nullptr);
    // SHORT is not SQLRC: no status field, no message.
    EXPECT_FALSE(log.has("PVT2190"));
    ASSERT_EQ(enginetest::read_dict("name SQLRC; type CHAR(5); end;"), 0);
    ASSERT_EQ(enginetest::read_cursors(virtual_cursor("SERVSTAT", "SQLRC")), 0);
    ASSERT_EQ(init_virtuals_pass(), 0);
    EXPECT_EQ(servstatus, nullptr);
    EXPECT_EQ(servstatus_len, 0);
    EXPECT_TRUE(log.has("PVT2190W")) << log.text();
    EXPECT_TRUE(log.has("SQLRC in SERVSTAT is too short at 5 (at least 6)"));
}

TEST_F(Virtuals, ColumnWithoutEntryFails) {
    const std::string n31(31, 'N'), n32(32, 'N'), n39(39, 'N');
    ASSERT_EQ(enginetest::read_dict("name " + n31 + "; type CHAR(2); end;"), 0) << log.text();
    struct kase {
        std::string cols;
        int rc;
    } const cases[] = {
        {n31, 0}, {"A", 1},
        {n32, 1},  // reads no byte past the 32-byte entry name
        {n39, 1}, {n31 + ", " + n39, 1},
    };
    for (const kase& k : cases) {
        LogCapture local;
        ASSERT_EQ(enginetest::read_cursors(virtual_cursor("V", k.cols.c_str())), 0) << local.text();
        EXPECT_EQ(init_virtuals_pass(), k.rc) << k.cols;
        EXPECT_EQ(local.has("PVT2185E"), k.rc == 1) << k.cols << local.text();
        if (k.rc == 1) {
            EXPECT_TRUE(local.has("Host var not matched: V.")) << local.text();
            EXPECT_EQ(cursor("V")->first_row, nullptr);
        }
    }
}

}  // namespace
