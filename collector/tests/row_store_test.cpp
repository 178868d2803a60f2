// merge_text, the row list and retention.
#include "collector/rows/row_store.h"

#include <gtest/gtest.h>

#include <functional>

#include "collector/tests/row_test_support.h"
#include "collector/transforms/row_builder.h"
#include "defs/distrib.h"
#include "runtime/alloc.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::column;
using rowtest::Desc;
using rowtest::parse_one;
using rowtest::value;
using E = std::vector<Desc::entry>;

constexpr const char* stamp = "20261211093000";

class RowStore : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        engine_alloc_work_buff();
    }
    void TearDown() override { pcnt_forget(); }
    int merge(curs* c, Desc* d) {
        return merge_text(work_buff, d != nullptr ? d->get() : nullptr, c,
                          d != nullptr ? d->types.data() : nullptr, stamp);
    }
};

TEST_F(RowStore, NullValuesAreBlankWithZeroOrNull) {
    LogCapture log;
    curs* c = parse_one(block("C1", "N, S2, S8"), "C1");
    ASSERT_NE(c, nullptr) << log.text();
    Desc d(E{{"N", "12345", -1}, {"S2", "ab", -1}, {"S8", "abcdefgh", -1}});
    d.types = {2, 1, 1};
    ASSERT_EQ(merge(c, &d), 5 + 1 + 2 + 1 + 8);
    ASSERT_EQ(c->count, 1);
    EXPECT_EQ(value(c->last_row, column(c, 1)), "    0");
    EXPECT_EQ(value(c->last_row, column(c, 2)), "NU");
    EXPECT_EQ(value(c->last_row, column(c, 3)), "NULL    ");
    EXPECT_EQ(std::string(c->last_row->text, 18), std::string("    0\0NU\0NULL    \0", 18));
    EXPECT_EQ(c->changed, 1);
    EXPECT_EQ(c->needs_history, 1);
    EXPECT_EQ(c->cols_set, 1);
}

TEST_F(RowStore, NameOccurrencePercentAndSourceColumns) {
    LogCapture log;
    curs* s = parse_one(block("SRC", "V") + block("C1", "A, 2!, %rowno, X"), "SRC");
    ASSERT_NE(s, nullptr) << log.text();
    curs* c = curstest::find("C1");
    ASSERT_EQ(build_percent_cursor(), 0);
    Desc sd(E{{"V", "vvvv"}});
    ASSERT_GT(merge(s, &sd), 0);
    columns* x = column(c, 4);
    x->base_column = column(s, 1);
    x->base_cursor = s;

    // "2!" is the second descriptor entry.
    Desc d(E{{"A", "aa"}, {"Q", "qqq"}});
    c->rowno = 7;
    ASSERT_EQ(merge(c, &d), 2 + 1 + 3 + 1 + 16 + 1 + 4) << log.text();
    EXPECT_EQ(rowtest::row_text(c, c->last_row),
              std::string("aa\0qqq\0               7\0vvvv", 28));
    EXPECT_EQ(c->last_row->rowno, 7);
    EXPECT_EQ(column(c, 3)->orig_type, 2);

    // Later rows read the same sources: the values as they are now.
    d.set(0, "bb");
    sd.set(0, "wwww");
    ASSERT_GT(merge(s, &sd), 0);
    c->rowno = 8;
    ASSERT_GT(merge(c, &d), 0);
    EXPECT_EQ(rowtest::row_text(c, c->last_row),
              std::string("bb\0qqq\0               8\0wwww", 28));
    EXPECT_EQ(c->count, 2);
}

struct failure_case {
    const char* name;
    const char* vars;
    bool with_descriptor;
    std::function<void(curs* c, curs* src)> arrange;
    const char* id;
    bool holds;
};

TEST_F(RowStore, FailuresAppendNothingAndHoldWhereTheyMust) {
    auto bind_source = [](curs* c, curs* src) {
        column(c, 1)->base_column = column(src, 1);
        column(c, 1)->base_cursor = src;
    };
    const failure_case cases[] = {
        {"unknown percent variable", "%nosuch", true, nullptr, "CAT1560", true},
        {"held source", "X", true,
         [&](curs* c, curs* src) {
             bind_source(c, src);
             src->held = 'Y';
         },
         "CAT1565", true},
        {"source without rows", "X", true,
         [&](curs* c, curs* src) {
             bind_source(c, src);
             delete_all(src);
         },
         "CAT1570", true},
        {"n! without descriptor", "2!", false, nullptr, "CAT1575", true},
        {"n! past the descriptor", "3!", true, nullptr, "CAT1580", false},
        {"name without descriptor", "A", false, nullptr, "CAT1585", true},
        {"name not described", "ZZ", true, nullptr, "CAT1590", false},
        {"source emptied after resolution", "X", true,
         [&](curs* c, curs* src) {
             bind_source(c, src);
             c->cols_set = 1;
             c->length = 4;
             column(c, 1)->len = 4;
             delete_all(src);
         },
         "CAT1595", false},
        {"value without a source", "A", true,
         [&](curs* c, curs*) {
             c->cols_set = 1;
             column(c, 1)->len = 2;
         },
         "CAT1600", true},
        {"base in a cursor without SQL", "A", false,
         [&](curs* c, curs*) { c->base = reinterpret_cast<base*>(c); }, "CBA1535", true},
    };
    for (const failure_case& k : cases) {
        SCOPED_TRACE(k.name);
        LogCapture log;
        curs* src = parse_one(block("SRC", "V") + block("C1", k.vars), "SRC");
        ASSERT_NE(src, nullptr) << log.text();
        curs* c = curstest::find("C1");
        Desc sd(E{{"V", "vvvv"}});
        ASSERT_GT(merge(src, &sd), 0);
        Desc d(E{{"A", "aa"}, {"B", "bb"}});
        // A row built before stays.
        row_append(c, "kept", 4);
        if (k.arrange) k.arrange(c, src);
        EXPECT_EQ(merge(c, k.with_descriptor ? &d : nullptr), 0);
        EXPECT_TRUE(log.has(k.id)) << log.text();
        EXPECT_EQ(c->held == 'Y', k.holds);
        EXPECT_EQ(c->count, 1);
        EXPECT_EQ(std::string(c->first_row->text, 4), "kept");
        c->base = nullptr;
    }
}

TEST_F(RowStore, ALayoutPastTheWorkAreaHoldsTheCursor) {
    std::string vars;
    std::vector<Desc::entry> entries;
    for (int i = 0; i < 60; ++i) {
        std::string n = "V" + std::to_string(i);
        vars += (i ? ", " : "") + n;
        entries.push_back({n, std::string(256, static_cast<char>('a' + i % 26))});
    }
    LogCapture log;
    curs* c = parse_one(block("WIDE", vars), "WIDE");
    ASSERT_NE(c, nullptr) << log.text();
    Desc d(entries);
    EXPECT_EQ(merge(c, &d), 0);
    EXPECT_EQ(c->held, 'Y');
    EXPECT_TRUE(log.has("CAT1602")) << log.text();
    EXPECT_EQ(c->count, 0);
}

struct water_case {
    const char* name;
    const char* var;
    int32_t type;
    std::vector<std::string> values;
    std::vector<std::string> shown;
};

TEST_F(RowStore, WaterMarksShowTheHighestOrLowestValue) {
    const water_case cases[] = {
        {"high text", "HW!V", 1, {"0005", "0003", "0009"}, {"0005", "0005", "0009"}},
        {"low text", "LW!V", 1, {"0005", "0003", "0009"}, {"0005", "0003", "0003"}},
        {"high number", "HW!V", 2, {" 9.75", " 10.5"}, {" 9.75", " 10.5"}},
        {"low number", "LW!V", 2, {" 10.5", " 9.75"}, {" 10.5", " 9.75"}},
        {"high signed", "HW!V", 2, {"-5", " 3", "-7"}, {"-5", " 3", " 3"}},
    };
    for (const water_case& k : cases) {
        SCOPED_TRACE(k.name);
        LogCapture log;
        curs* c = parse_one(block("W", k.var), "W");
        ASSERT_NE(c, nullptr) << log.text();
        Desc d(E{{"V", k.values[0]}});
        d.types = {k.type};
        for (size_t i = 0; i < k.values.size(); ++i) {
            d.set(0, k.values[i]);
            ASSERT_GT(merge(c, &d), 0);
            EXPECT_EQ(value(c->last_row, column(c, 1)), k.shown[i]) << i;
        }
    }
}

TEST_F(RowStore, ANewLayoutDropsRowsAndRestartsTheWaterMark) {
    LogCapture log;
    curs* c = parse_one(block("W", "HW!V"), "W");
    ASSERT_NE(c, nullptr);
    Desc d(E{{"V", "0009"}});
    ASSERT_GT(merge(c, &d), 0);
    // A narrower value that would lose to the mark at the old width.
    Desc narrow(E{{"V", "001"}});
    c->cols_set = 0;
    ASSERT_EQ(merge(c, &narrow), 3);
    EXPECT_TRUE(log.has("CAT1604")) << log.text();
    EXPECT_EQ(c->count, 1);
    EXPECT_EQ(value(c->last_row, column(c, 1)), "001");
    // The same layout again keeps the rows.
    c->cols_set = 0;
    ASSERT_EQ(merge(c, &narrow), 3);
    EXPECT_EQ(c->count, 2);
}

TEST_F(RowStore, TheDescriptorIsTracedOnRequest) {
    LogCapture log;
    curs* c = parse_one(block("C1", "A"), "C1");
    ASSERT_NE(c, nullptr);
    Desc d(E{{"A", "aa"}});
    c->trace = 1;
    ASSERT_GT(merge(c, &d), 0);
    EXPECT_FALSE(log.has("CAT1540"));
    c->show_cursor = 1;
    ASSERT_GT(merge(c, &d), 0);
    EXPECT_TRUE(log.has("SQLDA columns follow for C1")) << log.text();
    EXPECT_TRUE(log.has("Col #1= A, datatype= 1 datalen= 2")) << log.text();
}

TEST_F(RowStore, WorkValuesAreRightAlignedInSixteen) {
    curs* c = curs_new();
    c->rowno = 42;
    c->sampleno = -3;
    c->now_sec = 1000000000;
    pcnt_set_work(c, stamp);
    EXPECT_STREQ(fetch_time_stamp, "2026121109300000");
    EXPECT_STREQ(rowno_work, "              42");
    EXPECT_STREQ(sampleno_work, "              -3");
    EXPECT_STREQ(nowsec_work, "      1000000000");
    EXPECT_STREQ(executiontime_work, "               0");
    U_FREE(c);
}

// Retention on cursors built in code.
class Retention : public ::testing::Test {
  protected:
    void SetUp() override {
        c = curs_new();
        saved_collector = collector_at;
        collector = distrib{};
        collector_at = &collector;
    }
    void TearDown() override {
        delete_all(c);
        U_FREE(c);
        collector_at = saved_collector;
    }
    void add(int32_t sample) {
        c->sampleno = sample;
        row_append(c, "row", 3);
    }
    curs* c = nullptr;
    distrib collector{};
    distrib* saved_collector = nullptr;
};

TEST_F(Retention, TheLimitDropsTheOldest) {
    c->limit = 3;
    for (int s = 1; s <= 4; ++s) add(s);
    EXPECT_EQ(c->count, 3);
    EXPECT_EQ(rowtest::row_samples(c), (std::vector<int32_t>{2, 3, 4}));
}

TEST_F(Retention, ByTimeAtTheLargerInterval) {
    c->time_limit = 600;
    c->interval = 300;
    collector.interval = 60;
    add(1);
    delete_by_time(c);
    EXPECT_EQ(c->count, 1);
    EXPECT_EQ(c->first_row->age, 300);
    add(2);
    c->changed = 0;
    delete_by_time(c);
    EXPECT_EQ(rowtest::row_samples(c), (std::vector<int32_t>{2}));
    EXPECT_EQ(c->changed, 1);
    delete_by_time(c);
    EXPECT_EQ(c->count, 0);
    EXPECT_EQ(c->last_row, nullptr);
}

TEST_F(Retention, BySamplesKeepsTheLastSamples) {
    struct sample_case {
        int32_t current;
        std::vector<int32_t> built;
        std::vector<int32_t> kept;
    };
    const sample_case cases[] = {
        {10, {7, 8, 9, 10}, {9, 10}},
        {32768, {32765, 32766, 32767, 32768}, {32767, 32768}},
        {65537, {65534, 65535, 65536, 65537}, {65536, 65537}},
    };
    for (const sample_case& k : cases) {
        delete_all(c);
        for (int32_t s : k.built) add(s);
        c->sampleno = k.current;
        c->samples = 2;
        delete_by_samples(c);
        EXPECT_EQ(rowtest::row_samples(c), k.kept) << k.current;
        EXPECT_EQ(c->count, 2);
    }
}

TEST_F(Retention, DeleteAllOnNoRowsStillMarksChanged) {
    c->changed = 0;
    delete_all(c);
    EXPECT_EQ(c->changed, 1);
    EXPECT_EQ(c->count, 0);
    EXPECT_EQ(c->first_row, nullptr);
}

}  // namespace
