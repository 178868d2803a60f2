// Load predicates, ITERATE_WHERE filters and SET_LEN names bound to columns.
#include "collector/transforms/clause_binding.h"

#include <gtest/gtest.h>

#include "collector/rows/percent_cursor.h"
#include "collector/startup/engine_hooks.h"
#include "collector/tests/row_test_support.h"
#include "collector/transforms/set_len.h"
#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "testing/log_capture.h"

namespace {

using rowtest::block;
using rowtest::column;
using rowtest::Desc;
using E = std::vector<Desc::entry>;

class ClauseBinding : public ::testing::Test {
  protected:
    void SetUp() override {
        pcnt_forget();
        install_engine_hooks();
    }
    void TearDown() override { pcnt_forget(); }
    // Parses the blocks; the result of the parse.
    int parse(const std::string& text) {
        LogCapture log;
        int rc = curstest::parse(text + "end;\n");
        EXPECT_EQ(build_percent_cursor(), 0);
        return rc;
    }
};

struct pass_case {
    const char* clause;
    int rc;
    std::vector<const char*> ids;
};

TEST_F(ClauseBinding, LoadPredicates) {
    const pass_case cases[] = {
        {"NAME -> V.NAME WHERE STATUS = 'RUNNING'", 0, {"PDE4225"}},
        {"NAME -> V.NAME WHERE STATUS = V.NAME", 0, {"PDE4225"}},
        {"NAME -> V.NAME WHERE STATUS = 'X' and ~= %rowno", 0, {"PDE4225"}},
        {"NAME -> V.NAME WHERE NOPE = 'X'", 1, {"PDE4215", "PDE4220"}},
        {"NAME -> V.NAME WHERE STATUS = V.NOPE", 1, {"PDE4205", "PDE4220"}},
        {"NAME -> V.NAME WHERE STATUS = 'X' and = Q.NAME", 1, {"PDE3965", "PDE4210", "PDE4220"}},
    };
    for (const pass_case& k : cases) {
        SCOPED_TRACE(k.clause);
        ASSERT_EQ(parse(block("V", "NAME", "virtual;\n") +
                        block("P", "NAME, STATUS", std::string("load ") + k.clause + ";\n")),
                  0);
        {
            LogCapture log;
            ASSERT_EQ(parse_loads(), 0) << log.text();
        }
        LogCapture log;
        EXPECT_EQ(edit_loads(), k.rc);
        for (const char* id : k.ids) EXPECT_TRUE(log.has(id)) << id << log.text();
        curs* p = curstest::find("P");
        load_process* l = p->loadp;
        ASSERT_NE(l, nullptr);
        if (k.rc == 0) {
            EXPECT_EQ(l->test_column, column(p, 2));
        }
    }
    // A column of another cursor binds both the column and its cursor.
    parse(block("V", "NAME", "virtual;\n") +
          block("P", "NAME, STATUS", "load NAME -> V.NAME WHERE STATUS = V.NAME;\n"));
    LogCapture log;
    ASSERT_EQ(parse_loads(), 0);
    ASSERT_EQ(edit_loads(), 0);
    decode_op* op = curstest::find("P")->loadp->decode_ptr->decode_op;
    EXPECT_EQ(op->op_curs, curstest::find("V"));
    EXPECT_EQ(op->op_col, column(curstest::find("V"), 1));
}

TEST_F(ClauseBinding, IterateWhereFilters) {
    const pass_case cases[] = {
        {"S.COL = 1", 0, {"PIT4495"}},
        {"COL = 1", 0, {"PIT4495"}},
        {"COL = 1 and = %rowno", 0, {"PIT4495"}},
        {"NOPE = 1", 1, {"PIT4485", "PIT4490"}},
        {"X.COL = 1", 1, {"PIT4485", "PIT4490"}},
        {"COL = 1 and = NOPE", 1, {"PIT4480", "PIT4490"}},
    };
    for (const pass_case& k : cases) {
        SCOPED_TRACE(k.clause);
        ASSERT_EQ(
            parse(block("S", "OTHER, COL") +
                  block("IT", "A", std::string("iterate S;\niterate_where ") + k.clause + ";\n")),
            0);
        curs* it = curstest::find("IT");
        curs* s = curstest::find("S");
        it->iterate->curs = s;
        LogCapture log;
        EXPECT_EQ(edit_iterate_where(), k.rc);
        for (const char* id : k.ids) EXPECT_TRUE(log.has(id)) << id << log.text();
        if (k.rc == 0) {
            EXPECT_EQ(it->iterate_where->col_ptr, column(s, 2));
        }
    }
}

TEST_F(ClauseBinding, AMissedSetLenHoldsAndResolvesNextTime) {
    ASSERT_EQ(parse(block("C", "A, B", "set_len B 30;\nset_len A 7;\n")), 0);
    curs* c = curstest::find("C");
    Desc without(E{{"A", "aa"}, {"C", "cc"}});
    {
        LogCapture log;
        EXPECT_EQ(init_set_len(c, without.get()), 1);
        EXPECT_TRUE(log.has("PCL4570")) << log.text();
        EXPECT_TRUE(log.has("PCL4575")) << log.text();
    }
    EXPECT_EQ(c->held, 'Y');
    EXPECT_EQ(c->sets_are_set_up, 0);

    Desc with(E{{"B", "bb"}, {"A", "aa"}});
    EXPECT_EQ(init_set_len(c, with.get()), 0);
    EXPECT_EQ(c->sets_are_set_up, 1);
    EXPECT_EQ(set_the_lengths(c, with.get()), 0);
    EXPECT_EQ(with.get()->L[0], 30);
    EXPECT_EQ(with.get()->L[1], 7);
}

}  // namespace
