// The definition dumps, the trace reset and column dump, the status column and the
// database type codes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "collector/rows/server_status.h"
#include "collector/rows/trace_control.h"
#include "collector/run/schedule.h"
#include "collector/startup/def_dumps.h"
#include "defs/distrib.h"
#include "defs/evaluation.h"
#include "defs/select_lists.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/strings.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

// The message texts of the log, without the id and time header of each line.
std::string bodies(const std::string& log) {
    std::string out;
    size_t at = 0;
    while (at < log.size()) {
        size_t end = log.find('\n', at);
        if (end == std::string::npos) end = log.size();
        std::string line = log.substr(at, end - at);
        const size_t body = line.find(") ");
        out +=
            (body != std::string::npos ? line.substr(0, 8) + " " + line.substr(body + 2) : line) +
            "\n";
        at = end + 1;
    }
    return out;
}

TEST(ShowProcesses, OneLinePerFactAndNeverThePassword) {
    LogCapture log;
    distrib* d = distrib_new();
    std::strcpy(d->distrib_name, "collector");
    d->type = 4;
    std::strcpy(d->logon_id, "sa");
    std::strcpy(d->password, "secret");
    std::memset(d->server_id, 'S', sizeof d->server_id);  // filled to its width, no NUL
    d->time_offset = 3600;
    operate sat = {nullptr, 3600, 7200};
    d->saturday_start = &sat;
    d->sunday_start = d->mon_fri_start = nullptr;
    d->interval = 60;
    d->holiday[0] = relative_date("20261225");
    d->window_start = static_cast<int32_t>(relative_sec("20261210000000"));
    d->window_end = static_cast<int32_t>(relative_sec("20261211000000"));
    distrib* saved = distrib_anchor;
    distrib_anchor = d;
    show_processes();
    distrib_anchor = saved;
    d->saturday_start = nullptr;
    distrib_free(d);
    EXPECT_EQ(bodies(log.text()),
              "PSP1380I Process name:collector\n"
              "PSP1430I Type = ctlib\n"
              "PSP1435I Logon id = sa\n"
              "PSP1440I Password = ***\n"
              "PSP1445I Server id = " +
                  std::string(33, 'S') +
                  "\n"
                  "PSP1450I Time offset = 100\n"
                  "PSP1455I Saturday start = 200\n"
                  "PSP1460I Saturday end = 300\n"
                  "PSP1485I Interval = 60\n"
                  "PSP1490I Holiday = 20261225\n"
                  "PSP1495I Window open at 20261210000000\n"
                  "PSP1500I Window closes at 20261211000000\n");
    EXPECT_EQ(log.text().find("secret"), std::string::npos);
}

TEST(ShowCurs, GoldenDumpOfOneCursor) {
    LogCapture log;
    curs* c = curs_new();
    std::strcpy(c->cur_name, "C1");
    c->raw_insert_select = alloc_str("select a, b from t");
    c->insert_select = sel_new("select a, b from t", 18);
    c->limit = 200;
    c->interval = 60;
    c->history = 1;
    c->saturday_start = c->sunday_start = c->mon_fri_start = &full_day;
    c->window_start = static_cast<int32_t>(relative_sec("20261210000000"));
    c->window_end = static_cast<int32_t>(relative_sec("20261211000000"));
    columns* a = columns_new();
    std::strcpy(a->col_name, "A");
    a->col_function = COLF_AVG;
    a->orig_type = 2;
    a->len = 12;
    columns* b = columns_new();
    std::strcpy(b->col_name, "B");
    b->caret_ll = 5;
    b->len = 30;
    b->offset = 13;
    a->next = b;
    c->insert_columns = a;
    evaluation e = {};
    std::strcpy(e.eval_name, "E1");
    std::strcpy(e.cur_name, "C1");
    std::strcpy(e.col_name, "A");
    e.operatr[EVAL_GREATER] = 1;
    e.val_type = EVAL_NUMERIC;
    e.value = 90;
    e.ordinal = 1;
    c->evaluation = &e;
    curs* saved = cur_anchor;
    cur_anchor = c;
    show_curs();
    cur_anchor = saved;
    EXPECT_EQ(bodies(log.text()),
              "PSC0030T Cursor name = C1\n"
              "PSC0035T Last Cursor time= 19900101010101\n"
              "PSC0040T Raw_insert_select= select a, b from t\n"
              "PSC0045T Insert sel len= 19\n"
              "PSC0050T Text len= 18\n"
              "PSC0055T Select= select a, b from t\n"
              "PSC0055T Limit= 200\n"
              "PSC0075T  Ins Col= A\n"
              "PSC0080T    has Col Funct = AVG\n"
              "PSC0125T Orig data type= 2\n"
              "PSC0140T Formatted data length= 12\n"
              "PSC0075T  Ins Col= B\n"
              "PSC0135T Formatted data length= 5\n"
              "PSC0145T Buffer Offset= 13\n"
              "PSC0155T Insert= \n"
              "PSC0160T Table= \n"
              "PSC0165T Saturday start= 0\n"
              "PSC0170T Saturday end= 2400\n"
              "PSC0175T Sunday start= 0\n"
              "PSC0180T Sunday end= 2400\n"
              "PSC0185T Mon_Fri start= 0\n"
              "PSC0190T Mon_Fri end= 2400\n"
              "PSC0195T Window open at 20261210000000\n"
              "PSC0200T Window closes at 20261211000000\n"
              "PSC0205T Interval= 60\n"
              "PSC0210T History applies\n"
              "PSC0225T Not a demand cursor\n"
              "PSC0230T Evaluation name = E1\n"
              "PSC0235T  on cursor C1\n"
              "PSC0240T Column = A\n"
              "PSC0245T Operand = >\n"
              "PSC0251T Value = 90.000000\n"
              "PSC0260T Ordinal = 1\n");
    U_FREE(b);
    U_FREE(a);
    U_FREE(c->insert_select);
    U_FREE(c->raw_insert_select);
    U_FREE(c);
}

TEST(ShoCur, DumpsTheColumnsOnceWithTheirSendTypes) {
    LogCapture log;
    curs* c = curs_new();
    std::strcpy(c->cur_name, "C1");
    c->show_cursor = 1;
    host_cols h1 = {nullptr, "HA"};
    c->host_cols = &h1;  // shorter than the column list
    columns cols[4] = {};
    const struct {
        const char* name;
        int16_t orig_type, convert, len;
    } spec[] = {{"N", 2, CONV_INT, 9},
                {"F", 2, CONV_FLOAT, 9},
                {"R", 2, CONV_NONE, 9},
                {"X", 12, CONV_NOSEND, 9}};
    for (int i = 0; i < 4; ++i) {
        std::strcpy(cols[i].col_name, spec[i].name);
        cols[i].orig_type = spec[i].orig_type;
        cols[i].convert = spec[i].convert;
        cols[i].len = spec[i].len;
        cols[i].offset = i * 10;
        cols[i].next = i < 3 ? &cols[i + 1] : nullptr;
    }
    c->insert_columns = cols;
    EXPECT_EQ(sho_cur(c), 0);
    EXPECT_EQ(c->show_cursor, 0);
    EXPECT_EQ(bodies(log.text()),
              "CSC1900T Curs= C1 , host table= \n"
              "CSC1920T #1 Host=HA (0,9), Orig=N, Orig-t=Number, send_t=Integer, len=4\n"
              "CSC1920T #2 Host= (10,9), Orig=F, Orig-t=Number, send_t=Float, len=8\n"
              "CSC1920T #3 Host= (20,9), Orig=R, Orig-t=Number, send_t=Right alligned, len=9\n"
              "CSC1920T #4 Host= (30,9), Orig=X, Orig-t=Date, send_t=NO-SEND, len=0\n");
    U_FREE(c);
}

TEST(ResetTracing, ClearsEveryVersionButKeepsTheDisplaySwitches) {
    LogCapture log;
    curs* slot = curs_new();
    curs* v1 = curs_new();
    curs* v2 = curs_new();
    slot->cur_version_list = v1;
    v1->cur_version_list = v2;
    v2->cur_version_list = v1;
    for (curs* c : {slot, v1, v2}) c->trace = c->traced = c->tracem = c->show_row = 1;
    curs* saved = cur_anchor;
    cur_anchor = slot;
    trace_all = trace_something = 1;
    reset_trace = 1;
    EXPECT_EQ(reset_tracing(), 0);
    cur_anchor = saved;
    for (curs* c : {slot, v1, v2}) {
        EXPECT_EQ(c->trace + c->traced + c->tracem, 0);
        EXPECT_EQ(c->show_row, 1);
        U_FREE(c);
    }
    EXPECT_EQ(trace_all, 0);
    EXPECT_EQ(reset_trace, 0);
}

// ---- The status column ------------------------------------------------------------------

struct status_case {
    const char* name;
    int32_t code;
    const char* column;  // the 6 bytes afterwards
};

class SetStatus : public ::testing::TestWithParam<status_case> {};

TEST_P(SetStatus, WritesWithinTheColumnOnly) {
    char row[8];
    std::memcpy(row, "xxxxxx#", 8);  // '#' guards the byte after the column
    servstatus = row;
    servstatus_len = 6;
    EXPECT_EQ(set_status(GetParam().code), 0);
    servstatus = nullptr;
    servstatus_len = 0;
    EXPECT_EQ(std::string(row, 6), GetParam().column);
    EXPECT_EQ(row[6], '#');
}

INSTANTIATE_TEST_SUITE_P(Codes, SetStatus,
                         ::testing::Values(status_case{"success", 0, "      "},
                                           status_case{"no_more_rows", 100, "      "},
                                           status_case{"no_data_found", 1403, "      "},
                                           status_case{"minus_one", -1, "-1    "},
                                           status_case{"fits", 123456, "123456"},
                                           status_case{"too_wide", -123456, "******"}),
                         case_names(&status_case::name));

TEST(SetStatusWithoutColumn, DoesNothing) {
    servstatus = nullptr;
    EXPECT_EQ(set_status(-1), 0);
}

struct db_type_case {
    const char* code;
    const char* db_type;
    const char* db_typeA;
};

class CollDbType : public ::testing::TestWithParam<db_type_case> {};

TEST_P(CollDbType, SetsBothProductCodes) {
    distrib d = {};
    std::strcpy(d.db_typeA, "old");
    coll_db_type(&d, GetParam().code);
    EXPECT_STREQ(d.db_type, GetParam().db_type);
    EXPECT_STREQ(d.db_typeA, GetParam().db_typeA);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, CollDbType,
    ::testing::Values(db_type_case{"SYBASE", "zem", "old"}, db_type_case{"Db2x", "db2", "wef"},
                      db_type_case{"zyp", "zyp", "qel"}, db_type_case{"wef", "wef", "db2"},
                      db_type_case{"ora", "qel", "old"}, db_type_case{"inf", "gim", "old"},
                      db_type_case{"sql", "vik", "old"}, db_type_case{"qaa", "qaa", "xxx"},
                      db_type_case{"zov", "zov", "old"}, db_type_case{"abc", "abc", "unk"},
                      db_type_case{"", "", "old"}),
    case_names(&db_type_case::code));

TEST(CollDbTypeNull, ChangesNothing) {
    distrib d = {};
    coll_db_type(&d, nullptr);
    EXPECT_STREQ(d.db_type, "");
}

TEST(Proded, FirstFourRowsWholeLaterOnesAbbreviated) {
    char data[] = "row text";
    LogCapture log;
    proded(5, data, 8);
    EXPECT_TRUE(log.has("CAT1609")) << log.text();
    EXPECT_FALSE(log.has("CAT1610"));
    proded(4, data, 0);
    EXPECT_TRUE(log.has("CAT1610")) << log.text();
}

}  // namespace
