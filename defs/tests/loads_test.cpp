#include <gtest/gtest.h>

#include <string>

#include "defs/clause_decode.h"
#include "defs/clause_loads.h"
#include "testing/case_names.h"
#include "testing/clause_fixture.h"

namespace {

// ---- pre_cursor, iterate, in_list, base ------------------------------------------------

TEST(PreCursor, AllKeptInOrder) {
    test_cursor cur;
    for (const char* t : {"FIRST", "SECOND extra words", "ABCDEFGH"}) {
        clause_text text(t);
        EXPECT_EQ(parse_pre_cursor(cur.c, text), 0) << t;
    }
    const pre_cursor* p = cur.c->pre_cursor;
    ASSERT_NE(p, nullptr);
    EXPECT_STREQ(p->cur_name, "FIRST");
    ASSERT_NE(p->next, nullptr);
    EXPECT_STREQ(p->next->cur_name, "SECOND");
    ASSERT_NE(p->next->next, nullptr);
    EXPECT_STREQ(p->next->next->cur_name, "ABCDEFGH");
    EXPECT_EQ(p->next->next->next, nullptr);
}

TEST(PreCursor, NameLongerThanACursorNameRefused) {
    test_cursor cur;
    LogCapture log;
    clause_text text("ABCDEFGHI");
    EXPECT_EQ(parse_pre_cursor(cur.c, text), 1);
    EXPECT_TRUE(log.has("PCC3100E"));
    EXPECT_EQ(cur.c->pre_cursor, nullptr);
}

TEST(Iterate, SecondRefusedFirstStays) {
    test_cursor cur;
    LogCapture log;
    clause_text first("SRC");
    EXPECT_EQ(parse_iterate(cur.c, first), 0);
    clause_text second("OTHER");
    EXPECT_EQ(parse_iterate(cur.c, second), 1);
    EXPECT_TRUE(log.has("PIT3125E"));
    EXPECT_TRUE(log.has("Can only have one iterate on a cursor"));
    ASSERT_NE(cur.c->iterate, nullptr);
    EXPECT_STREQ(cur.c->iterate->cur_name, "SRC");

    test_cursor c2;
    clause_text long_name("ABCDEFGHI");
    EXPECT_EQ(parse_iterate(c2.c, long_name), 1);
    EXPECT_TRUE(log.has("PIT3120E"));
    EXPECT_EQ(c2.c->iterate, nullptr);
}

struct in_list_case {
    std::string text;
    const char* message;
    const char* name;
    const char* column;
};

TEST(InList, TextToRecord) {
    const std::string n49(49, 'L'), n50(50, 'L');
    const in_list_case cases[] = {
        {"L1 using PROCS.NAME", nullptr, "L1", "PROCS.NAME"},
        {"L1   using   PROCS.NAME trailing", nullptr, "L1", "PROCS.NAME"},
        {"L1 usingX PROCS.NAME", nullptr, "L1", "X"},  // five characters compared
        {n49 + " using C.X", nullptr, n49.c_str(), "C.X"},
        {"L1 from PROCS.NAME", "PIN3260E", nullptr, nullptr},
        {"L1 USING PROCS.NAME", "PIN3260E", nullptr, nullptr},
        {"L1", "PIN3260E", nullptr, nullptr},
        {n50 + " using C.X", "PIN3255E", nullptr, nullptr},
        {"L1 using C." + n49, "PIN3255E", nullptr, nullptr},
    };
    for (const in_list_case& k : cases) {
        test_cursor cur;
        LogCapture log;
        clause_text text(k.text);
        int rc = parse_in_list(cur.c, text);
        if (k.message != nullptr) {
            EXPECT_EQ(rc, 1) << k.text;
            EXPECT_TRUE(log.has(k.message)) << k.text << log.text();
            EXPECT_EQ(cur.c->in_list, nullptr);
            continue;
        }
        ASSERT_EQ(rc, 0) << k.text;
        const in_list* l = cur.c->in_list;
        ASSERT_NE(l, nullptr);
        EXPECT_STREQ(l->name, k.name);
        EXPECT_STREQ(l->column, k.column);
        EXPECT_EQ(l->column_ll, static_cast<int16_t>(std::strlen(k.column)));
        EXPECT_EQ(l->text, default_in_list);
        EXPECT_STREQ(l->text, "( 'ZIP' )");
        EXPECT_EQ(l->len, 9);
    }
}

TEST(InList, SeveralKeptInOrder) {
    test_cursor cur;
    clause_text a("A using C.X");
    clause_text b("B using C.Y");
    ASSERT_EQ(parse_in_list(cur.c, a), 0);
    ASSERT_EQ(parse_in_list(cur.c, b), 0);
    ASSERT_NE(cur.c->in_list->next, nullptr);
    EXPECT_STREQ(cur.c->in_list->name, "A");
    EXPECT_STREQ(cur.c->in_list->next->name, "B");
}

struct base_case {
    std::string text;
    const char* message;
    const char* cur_name;
    const char* this_col;
    const char* base_col;
};

TEST(Base, TextToRecord) {
    const std::string n49(49, 'C'), n50(50, 'C');
    const base_case cases[] = {
        {"B1 on COL1 -> BCOL", nullptr, "B1", "COL1", "BCOL"},
        {"B1 on COL1->BCOL", nullptr, "B1", "COL1", "BCOL"},
        {"B1   on   COL1   ->   BCOL", nullptr, "B1", "COL1", "BCOL"},
        {"ABCDEFGH on " + n49 + " -> " + n49, nullptr, "ABCDEFGH", n49.c_str(), n49.c_str()},
        {"B1 COL1 -> BCOL", "PBA3285E", nullptr, nullptr, nullptr},
        {"B1 ON COL1 -> BCOL", "PBA3285E", nullptr, nullptr, nullptr},
        {"B1 on COL1 BCOL", "PBA3290E", nullptr, nullptr, nullptr},
        {"B1 on COL1 - BCOL", "PBA3290E", nullptr, nullptr, nullptr},
        {"ABCDEFGHI on A -> B", "PBA3280E", nullptr, nullptr, nullptr},
        {"B1 on " + n50 + " -> B", "PBA3280E", nullptr, nullptr, nullptr},
        {"B1 on A -> " + n50, "PBA3280E", nullptr, nullptr, nullptr},
    };
    for (const base_case& k : cases) {
        test_cursor cur;
        LogCapture log;
        clause_text text(k.text);
        int rc = parse_base(cur.c, text);
        if (k.message != nullptr) {
            EXPECT_EQ(rc, 1) << k.text;
            EXPECT_TRUE(log.has(k.message)) << k.text << log.text();
            EXPECT_EQ(cur.c->base, nullptr);
            continue;
        }
        ASSERT_EQ(rc, 0) << k.text;
        const base* b = cur.c->base;
        ASSERT_NE(b, nullptr);
        EXPECT_STREQ(b->cur_name, k.cur_name);
        EXPECT_STREQ(b->this_col, k.this_col);
        EXPECT_EQ(b->this_col_ll, static_cast<int16_t>(std::strlen(k.this_col)));
        EXPECT_STREQ(b->base_col, k.base_col);
        EXPECT_EQ(b->base_col_ll, static_cast<int16_t>(std::strlen(k.base_col)));
    }
}

// ---- load ------------------------------------------------------------------------------

// A source cursor PROCS, virtual targets VTOT and VCUR, and a plain cursor PLAIN, on
// cur_anchor for the length of a test.
struct load_world {
    test_cursor procs{"PROCS", {"NAME", "CPU", "BYTES", "STATUS", "CPU", "AVG!LOAD"}};
    test_cursor vtot{"VTOT", {"TOTAL"}};
    test_cursor vcur{"VCUR", {"NAME", "CNT", "MAXCPU"}};
    test_cursor plain{"PLAIN", {"X"}};
    curs* saved = cur_anchor;
    load_world() {
        vtot.c->cvirtual = 1;
        vcur.c->cvirtual = 1;
        procs.c->next = vtot.c;
        vtot.c->next = vcur.c;
        vcur.c->next = plain.c;
        cur_anchor = procs.c;
    }
    ~load_world() { cur_anchor = saved; }
};

struct load_case {
    const char* text;
    int rc;
    const char* message;  // also for rc 0 (plo3090)
    bool built;
    int source;  // index in PROCS
    const char* target;
    int target_col;  // index in the target
    int sum, average, count, from, where, lmin, lmax, lmax_occ;
    int min_max;  // index in PROCS, -1 none
};

class Loads : public ::testing::TestWithParam<load_case> {};

TEST_P(Loads, TextToRecord) {
    const load_case& k = GetParam();
    load_world w;
    w.procs.add_load(k.text);
    LogCapture log;
    EXPECT_EQ(parse_loads(), k.rc) << k.text << log.text();
    EXPECT_TRUE(log.has(k.message)) << k.text << log.text();
    EXPECT_TRUE(log.has(k.rc == 0 ? "PLO3090I" : "PLO3085E")) << log.text();
    const load_process* lp = w.procs.c->loadp;
    if (!k.built) {
        EXPECT_EQ(lp, nullptr) << k.text;
        return;
    }
    ASSERT_NE(lp, nullptr) << k.text;
    EXPECT_EQ(lp->next, nullptr);
    EXPECT_EQ(lp->source_col_ptr, w.procs.column(k.source)) << k.text;
    curs* target = std::string(k.target) == "VTOT" ? w.vtot.c : w.vcur.c;
    EXPECT_EQ(lp->target_curs, target) << k.text;
    EXPECT_EQ(lp->target_col_ptr,
              (std::string(k.target) == "VTOT" ? w.vtot : w.vcur).column(k.target_col))
        << k.text;
    EXPECT_EQ(lp->load_sum, k.sum) << k.text;
    EXPECT_EQ(lp->load_average, k.average) << k.text;
    EXPECT_EQ(lp->load_count, k.count) << k.text;
    EXPECT_EQ(lp->load_from, k.from) << k.text;
    EXPECT_EQ(lp->load_where, k.where) << k.text;
    EXPECT_EQ(lp->load_min, k.lmin) << k.text;
    EXPECT_EQ(lp->load_max, k.lmax) << k.text;
    EXPECT_EQ(lp->load_max_occurance, k.lmax_occ) << k.text;
    EXPECT_EQ(lp->min_max_column, k.min_max < 0 ? nullptr : w.procs.column(k.min_max));
    EXPECT_EQ(lp->decode_ptr != nullptr, k.where == 1) << k.text;
    ASSERT_NE(lp->this_column, nullptr);
    EXPECT_EQ(lp->inited, 0);
    EXPECT_EQ(lp->count, 0);
    EXPECT_DOUBLE_EQ(lp->sum, 0.0);
    // The parsed column is the load's own: never one of the cursor's.
    for (columns* col = w.procs.c->insert_columns; col != nullptr; col = col->next)
        EXPECT_NE(col, lp->this_column);
    EXPECT_EQ(w.procs.column_count(), 6);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, Loads,
    ::testing::Values(
        //        text                                     rc msg         built src target col
        load_case{"SUM BYTES -> VTOT.TOTAL", 0, "PLO3090I", true, 2, "VTOT", 0, 1, 0, 0, 0, 0, 0, 0,
                  0, -1},
        load_case{"sum BYTES -> VTOT.TOTAL", 0, "PLO3090I", true, 2, "VTOT", 0, 1, 0, 0, 0, 0, 0, 0,
                  0, -1},
        load_case{"AVERAGE CPU -> VTOT.TOTAL", 0, "PLO3090I", true, 1, "VTOT", 0, 0, 1, 0, 0, 0, 0,
                  0, 0, -1},
        load_case{"average CPU -> VTOT.TOTAL", 0, "PLO3090I", true, 1, "VTOT", 0, 0, 1, 0, 0, 0, 0,
                  0, 0, -1},
        load_case{"COUNT NAME -> VCUR.CNT", 0, "PLO3090I", true, 0, "VCUR", 1, 0, 0, 1, 0, 0, 0, 0,
                  0, -1},
        load_case{"count NAME -> VCUR.CNT", 0, "PLO3090I", true, 0, "VCUR", 1, 0, 0, 1, 0, 0, 0, 0,
                  0, -1},
        load_case{"Sum BYTES -> VTOT.TOTAL", 1, "PLO3020E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  -1},
        load_case{"NAME -> VCUR.2", 0, "PLO3090I", true, 0, "VCUR", 1, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME -> VCUR.0", 0, "PLO3090I", true, 0, "VCUR", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME->VCUR.NAME", 0, "PLO3090I", true, 0, "VCUR", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"  NAME  ->  VCUR . NAME  ", 0, "PLO3090I", true, 0, "VCUR", 0, 0, 0, 0, 0, 0, 0,
                  0, 0, -1},
        load_case{"CPU -> VTOT.TOTAL", 0, "PLO3090I", true, 1, "VTOT", 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  -1},
        load_case{"1CPU -> VTOT.TOTAL", 0, "PLO3090I", true, 4, "VTOT", 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  -1},
        load_case{"3 -> VTOT.TOTAL", 0, "PLO3090I", true, 3, "VTOT", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"INT!BYTES -> VTOT.TOTAL", 0, "PLO3090I", true, 2, "VTOT", 0, 0, 0, 0, 0, 0, 0, 0,
                  0, -1},
        load_case{"NAME -> VCUR.NAME FROM MAX CPU", 0, "PLO3090I", true, 0, "VCUR", 0, 0, 0, 0, 1,
                  0, 0, 1, 0, 1},
        load_case{"NAME -> VCUR.NAME from min CPU", 0, "PLO3090I", true, 0, "VCUR", 0, 0, 0, 0, 1,
                  0, 1, 0, 0, 1},
        load_case{"NAME -> VCUR.NAME FROM MAX_OCCURANCE STATUS", 0, "PLO3090I", true, 0, "VCUR", 0,
                  0, 0, 0, 1, 0, 0, 0, 1, 3},
        load_case{"NAME -> VCUR.NAME max_occurance", 0, "PLO3090I", true, 0, "VCUR", 0, 0, 0, 0, 0,
                  0, 0, 0, 0, -1},  // without FROM the rest is not read
        load_case{"NAME -> VCUR.NAME WHERE STATUS = 'RUNNING'", 0, "PLO3090I", true, 0, "VCUR", 0,
                  0, 0, 0, 0, 1, 0, 0, 0, -1},
        // Refused loads.
        load_case{"-> VCUR.NAME", 1, "PLO3010E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"SUM    ", 1, "PLO3010E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ -> VCUR.NAME", 1, "PLO3015E", false, 0,
                  "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NOPE -> VCUR.NAME", 1, "PLO3020E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"2CPU -> VCUR.NAME", 1, "PLO3020E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"9 -> VCUR.NAME", 1, "PLO3020E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME VCUR.NAME", 1, "PLO3025E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME -> .NAME", 1, "PLO3030E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME -> MISSING.NAME", 1, "PLO3035E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  -1},
        load_case{"NAME -> VCURXXXXX.NAME", 1, "PLO3035E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0,
                  -1},
        load_case{"NAME -> PLAIN.X", 1, "PLO3040E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME -> VCUR NAME", 1, "PLO3045E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME -> VCUR.", 1, "PLO3050E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME -> VCUR.NOPE", 1, "PLO3055E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"NAME -> VCUR.4", 1, "PLO3055E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0, 0, -1},
        load_case{"LOAD -> VTOT.TOTAL WHERE STATUS = 1", 1, "PLO3060E", true, 5, "VTOT", 0, 0, 0, 0,
                  0, 1, 0, 0, 0, -1},
        load_case{"COUNT NAME -> VCUR.CNT FROM MAX CPU", 1, "PLO3065E", false, 0, "", 0, 0, 0, 0, 0,
                  0, 0, 0, 0, -1},
        load_case{"NAME -> VCUR.NAME FROM CPU", 1, "PLO3070E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0,
                  0, -1},
        load_case{"NAME -> VCUR.NAME FROM MAX", 1, "PLO3075E", false, 0, "", 0, 0, 0, 0, 0, 0, 0, 0,
                  0, -1},
        load_case{"NAME -> VCUR.NAME FROM MAX NOPE", 1, "PLO3080E", false, 0, "", 0, 0, 0, 0, 0, 0,
                  0, 0, 0, -1},
        load_case{"NAME -> VCUR.NAME WHERE STATUS equal 1", 1, "PDE3775E", false, 0, "", 0, 0, 0, 0,
                  0, 0, 0, 0, 0, -1}),
    case_names(&load_case::text));

TEST(LoadWhere, ConditionIsADecodeChainOwnDecodesUnchanged) {
    load_world w;
    clause_text own("CPU > 90 , 'HIGH'");
    ASSERT_EQ(parse_decode(w.procs.c, own), 0);
    decode* own_chain = w.procs.c->decode;
    w.procs.add_load("NAME -> VCUR.NAME WHERE STATUS = 'RUNNING' and ~= 'X'");
    LogCapture log;
    ASSERT_EQ(parse_loads(), 0) << log.text();
    EXPECT_EQ(w.procs.c->decode, own_chain);
    EXPECT_EQ(own_chain->next, nullptr);
    const decode* cond = w.procs.c->loadp->decode_ptr;
    ASSERT_NE(cond, nullptr);
    EXPECT_STREQ(cond->col_name, "STATUS");
    const decode_op* op = cond->decode_op;
    EXPECT_EQ(op->operatr, DOP_EQ);
    EXPECT_EQ(op->operand_type, DOK_STRING);
    EXPECT_EQ(std::string(op->operand, 7), "RUNNING");
    EXPECT_EQ(op->replacement_type, DRK_STRING);
    EXPECT_EQ(op->replacement_ll, 1);
    ASSERT_NE(op->and_, nullptr);
    EXPECT_EQ(op->and_->operatr, DOP_NE);
}

TEST(LoadWhere, RefusedConditionKeepsTheCursorsDecodes) {
    load_world w;
    clause_text own("CPU > 90 , 'HIGH'");
    ASSERT_EQ(parse_decode(w.procs.c, own), 0);
    decode* own_chain = w.procs.c->decode;
    w.procs.add_load("NAME -> VCUR.NAME WHERE STATUS equal 1");
    LogCapture log;
    EXPECT_EQ(parse_loads(), 1);
    EXPECT_EQ(w.procs.c->decode, own_chain);
}

TEST(LoadPass, EveryBadLoadReportedGoodOnesBuilt) {
    load_world w;
    w.procs.add_load("NOPE -> VCUR.NAME");
    w.procs.add_load("SUM BYTES -> VTOT.TOTAL");
    w.procs.add_load("NAME -> PLAIN.X");
    w.vcur.add_load("CNT -> VTOT.TOTAL");
    LogCapture log;
    EXPECT_EQ(parse_loads(), 1);
    EXPECT_TRUE(log.has("PLO3020E"));
    EXPECT_TRUE(log.has("PLO3040E"));
    EXPECT_TRUE(log.has("PLO3085E"));
    ASSERT_NE(w.procs.c->loadp, nullptr);
    EXPECT_EQ(w.procs.c->loadp->load_sum, 1);
    EXPECT_EQ(w.procs.c->loadp->next, nullptr);
    ASSERT_NE(w.vcur.c->loadp, nullptr);
    EXPECT_EQ(w.vcur.c->loadp->source_col_ptr, w.vcur.column(1));
}

TEST(LoadPass, SecondRunChangesNothing) {
    load_world w;
    w.procs.add_load("NAME -> VCUR.NAME WHERE STATUS = 1");
    w.procs.add_load("MAX!CPU -> VTOT.TOTAL");
    w.vcur.add_load("NOPE -> VTOT.TOTAL WHERE CNT = 1");  // fails every time
    test_cursor lone{"LONE", {"A"}};
    w.plain.c->next = lone.c;
    lone.add_load("A -> VTOT.TOTAL");
    const std::string text0 = w.procs.c->loadt->text;
    const std::string failing = w.vcur.c->loadt->text;
    const int16_t min_max_before = w.plain.c->has_min_max;
    LogCapture log;
    EXPECT_EQ(parse_loads(), 1);
    load_process* first = w.procs.c->loadp;
    load_process* lone_first = lone.c->loadp;
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->next, nullptr);
    EXPECT_EQ(w.procs.c->has_min_max, 0) << "the scratch column leaves the cursor's flags";
    EXPECT_EQ(parse_loads(), 1);
    EXPECT_EQ(w.procs.c->loadp, first);
    EXPECT_EQ(first->next->next, nullptr);
    EXPECT_EQ(lone.c->loadp, lone_first);
    EXPECT_EQ(lone_first->next, nullptr);
    EXPECT_EQ(w.vcur.c->loadp, nullptr);
    EXPECT_EQ(std::string(w.procs.c->loadt->text), text0);
    EXPECT_EQ(std::string(w.vcur.c->loadt->text), failing);
    EXPECT_EQ(w.procs.column_count(), 6);
    EXPECT_EQ(w.plain.c->has_min_max, min_max_before);
    w.plain.c->next = nullptr;
}

TEST(LoadPass, NoLoadsEndsOk) {
    load_world w;
    LogCapture log;
    EXPECT_EQ(parse_loads(), 0);
    EXPECT_TRUE(log.has("PLO3090I"));
    EXPECT_TRUE(log.has("Load parsing ended ok."));
}

}  // namespace
