// The evaluator over hand-built cursors and rules.
#include "collector/distributors/evaluator.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "defs/distrib.h"
#include "defs/evaluation.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"

namespace {

constexpr const char* pass = "20261211093000";

void ready(cursortest::cursor& rc) {
    curs* c = rc.get();
    int32_t length = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next)
        length = col->offset + col->len;
    c->length = length;
    c->window_start = 0;
    c->window_end = 0x7fffffff;
    c->klass = 1;
}

evaluation rule(const char* column, int less, int equal, int greater, double value,
                int32_t function = COLF_NONE) {
    evaluation e{};
    std::strcpy(e.eval_name, "R");
    std::strcpy(e.col_name, column);
    e.col_name_ll = static_cast<int16_t>(std::strlen(column));
    e.operatr[EVAL_LESS] = less;
    e.operatr[EVAL_EQUAL] = equal;
    e.operatr[EVAL_GREATER] = greater;
    e.val_type = EVAL_NUMERIC;
    e.value = value;
    e.col_function = function;
    e.ordinal = 1;
    return e;
}

distrib evaluator() {
    distrib d{};
    std::strcpy(d.distrib_name, "evaluator");
    d.classes[1] = 1;
    return d;
}

// The row names (column ID) logged, in order.
std::string sent_ids(const std::string& log) {
    std::string out;
    const std::string key = "n=ID,l=";
    for (size_t at = log.find(key); at != std::string::npos; at = log.find(key, at + 1))
        out += log.substr(log.find(':', at) + 1, 1);
    return out;
}

TEST(DoCompare, OutcomeTable) {
    columns num{};
    num.len = 4;
    num.orig_type = 2;
    columns text{};
    text.len = 4;
    text.orig_type = 1;
    columns shorter{};
    shorter.len = 1;
    char ab[] = "AB";
    char abc[] = "ABC";
    evaluation eq_ab = rule("X", 0, 1, 0, 0);
    eq_ab.val_type = EVAL_TEXT;
    eq_ab.string = ab;
    eq_ab.string_ll = 2;
    evaluation gt_abc = eq_ab;
    gt_abc.string = abc;
    gt_abc.string_ll = 3;
    gt_abc.operatr[EVAL_EQUAL] = 0;
    gt_abc.operatr[EVAL_GREATER] = 1;
    const evaluation ge10 = rule("X", 0, 1, 1, 10);
    struct {
        const columns* column;
        const char* value;
        const evaluation* r;
        int holds;
    } cases[] = {
        {&num, "   5", &ge10, 0},    {&num, "  10", &ge10, 1},    {&num, "12.5", &ge10, 1},
        {&text, "AB  ", &eq_ab, 1},  {&text, "ABD ", &gt_abc, 1}, {&text, "AB  ", &gt_abc, 0},
        {&shorter, "A", &gt_abc, 0},
    };
    for (const auto& k : cases) EXPECT_EQ(do_compare(k.column, k.value, k.r), k.holds) << k.value;
}

TEST(Evaluator, PlainRuleSendsTheMatchingRowsInOrder) {
    cursortest::cursor rc("EV", {{"ID", 1, 1}, {"V", 4, 2}});
    rc.add({"a", "   5"});
    rc.add({"b", "  10"});
    rc.add({"c", "  12"});
    ready(rc);
    evaluation r = rule("V", 0, 1, 1, 10);
    rc.get()->evaluation = &r;
    distrib d = evaluator();
    LogCapture log;
    EXPECT_EQ(do_evaluator(pass, &d), 0) << log.text();
    EXPECT_EQ(sent_ids(log.text()), "bc") << log.text();
    EXPECT_EQ(r.status, 1);
    rc.get()->evaluation = nullptr;
}

TEST(Evaluator, MaxRuleSendsTheFirstRowHoldingTheMaximum) {
    cursortest::cursor rc("EM", {{"ID", 1, 1}, {"V", 4, 2}});
    rc.add({"a", "   3"});
    rc.add({"b", "   9"});
    rc.add({"c", "   9"});
    ready(rc);
    rc.get()->insert_columns->next->col_function = COLF_MAX;
    rc.get()->has_col_funct = 1;
    rc.get()->has_min_max = 1;
    rc.get()->changed = 1;
    evaluation r = rule("V", 0, 0, 1, 5, COLF_MAX);
    rc.get()->evaluation = &r;
    distrib d = evaluator();
    LogCapture log;
    EXPECT_EQ(do_evaluator(pass, &d), 0) << log.text();
    EXPECT_EQ(sent_ids(log.text()), "b") << log.text();
    rc.get()->evaluation = nullptr;
    U_FREE(rc.get()->column_data);
}

TEST(Evaluator, FunctionComputedOnTheFlyMarksEveryEntry) {
    cursortest::cursor rc("EF", {{"ID", 1, 1}, {"V", 4, 2}});
    rc.add({"a", "   2"});
    rc.add({"b", "   4"});
    ready(rc);
    evaluation r = rule("V", 0, 1, 0, 3, COLF_AVG);
    rc.get()->evaluation = &r;
    distrib d = evaluator();
    LogCapture log;
    EXPECT_EQ(do_evaluator(pass, &d), 0) << log.text();
    EXPECT_EQ(sent_ids(log.text()), "abb") << log.text();  // the last entry is the last row
    rc.get()->evaluation = nullptr;
}

TEST(Evaluator, ARuleTurnedFalseSendsItsLastFailingRowOnce) {
    cursortest::cursor rc("ES", {{"ID", 1, 1}, {"V", 4, 2}});
    rc.add({"a", "  20"});
    ready(rc);
    evaluation r = rule("V", 0, 0, 1, 10);
    rc.get()->evaluation = &r;
    distrib d = evaluator();
    d.send_false = 1;
    {
        LogCapture log;
        do_evaluator(pass, &d);
        EXPECT_EQ(sent_ids(log.text()), "a");
    }
    rc.clear_rows();
    rc.add({"x", "   1"});
    rc.add({"y", "   2"});
    {
        LogCapture log;
        do_evaluator(pass, &d);
        EXPECT_EQ(sent_ids(log.text()), "y") << log.text();
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.prior_status, 1);
    }
    LogCapture log;
    do_evaluator(pass, &d);
    EXPECT_EQ(sent_ids(log.text()), "");
    rc.get()->evaluation = nullptr;
}

TEST(Evaluator, AFailureIsNotHiddenByALaterSuccessAndUnknownColumnsAreReported) {
    cursortest::cursor empty("E1", {{"ID", 1, 1}});
    ready(empty);
    cursortest::cursor rc("E2", {{"ID", 1, 1}});
    rc.add({"a"});
    ready(rc);
    evaluation r1 = rule("ID", 1, 1, 1, 0);
    evaluation r2 = rule("NOPE", 1, 1, 1, 0);
    r2.ordinal = 7;
    empty.get()->evaluation = &r1;
    rc.get()->evaluation = &r2;
    distrib d = evaluator();
    LogCapture log;
    EXPECT_EQ(do_evaluator(pass, &d), 1);
    EXPECT_TRUE(log.has("Can't match for eval 7")) << log.text();
    empty.get()->evaluation = nullptr;
    rc.get()->evaluation = nullptr;
}

}  // namespace
