#include "collector/transforms/age_to.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collector/rows/row_store.h"
#include "collector/startup/cleanup.h"
#include "collector/startup/engine_hooks.h"
#include "collector/tests/transform_fixture.h"
#include "defs/clause_free.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/cursor_test_support.h"
#include "testing/log_capture.h"

namespace {

using curstest::find;

// A cursor block with a two-column INSERT into a table of its own, then the statements.
std::string block(const std::string& name, const std::string& statements = "") {
    return "cursor " + name + ";\nINSERT INTO T_" + name + " (A, B) VALUES (:A, :B);\n" +
           statements;
}

// Parses the blocks as one cursor file.
int parse_all(const std::string& blocks) { return curstest::parse(blocks + "end;\n"); }

// One run of a cursor as the SQL path drives the rows: the retention of an "empty" cursor
// that does not age, the copy at the first row (pre_age) and at the end (post_age).
void run(curs* c, const std::vector<const char*>& values) {
    // Retention by samples: the rows of the last `samples` runs stay.
    while (c->samples != 0 && c->first_row != nullptr &&
           c->first_row->sampleno <= c->sampleno - c->samples) {
        row_data* head = c->first_row;
        c->first_row = head->next;
        if (c->first_row == nullptr) c->last_row = nullptr;
        --c->count;
        U_FREE(head);
    }
    ++c->sampleno;
    c->rowno = 0;
    if (c->empty != 0 && c->pre_age == 0 && c->post_age == 0) delete_all(c);
    bool first = true;
    for (const char* v : values) {
        if (first && c->pre_age != 0) {
            do_copy(c);
            if (c->empty != 0) delete_all(c);
        }
        first = false;
        xform::append_row(c, {v, "x"});
    }
    if (c->post_age != 0) do_copy(c);
}

std::vector<std::string> shown(const curs* c) {
    std::vector<std::string> out;
    int n = 0;
    for (const row_data* r = c->first_row; r != nullptr; r = r->next, ++n) {
        std::string a(r->text, 4);
        out.push_back(a.substr(0, a.find(' ')));
    }
    EXPECT_EQ(n, c->count) << c->cur_name;
    return out;
}

using rows = std::vector<std::string>;

// Parses NOW aging to BEFORE (with NOW's extra statements) and builds the copy.
struct now_before {
    curs* now = nullptr;
    curs* before = nullptr;
    explicit now_before(const std::string& now_statements = "") {
        LogCapture log;
        EXPECT_EQ(parse_all(block("NOW", "age_to BEFORE;\n" + now_statements) + block("BEFORE")), 0)
            << log.text();
        now = find("NOW");
        before = find("BEFORE");
        xform::layout(now, 4);
        EXPECT_EQ(edit_age_to_pass(), 0) << log.text();
    }
    ~now_before() {
        delete_all(now);
        delete_all(before);
    }
};

TEST(AgeTo, RowsOfThePreviousRunMoveToTheTarget) {
    now_before s;
    run(s.now, {"1a", "1b"});
    EXPECT_EQ(shown(s.now), (rows{"1a", "1b"}));
    EXPECT_EQ(shown(s.before), (rows{"1a", "1b"}));
    EXPECT_NE(s.now->first_row, s.before->first_row);  // rows are never shared
    run(s.now, {"2a"});
    EXPECT_EQ(shown(s.now), (rows{"2a"}));
    EXPECT_EQ(shown(s.before), (rows{"1a", "1b"}));
    run(s.now, {"3a", "3b", "3c"});
    EXPECT_EQ(shown(s.now), (rows{"3a", "3b", "3c"}));
    EXPECT_EQ(shown(s.before), (rows{"2a"}));
    EXPECT_EQ(s.before->aged_to, 1);
    EXPECT_EQ(s.before->once, 1);
    EXPECT_EQ(s.before->length, s.now->length);
}

TEST(AgeTo, RetentionBySamplesFreesNoRowTheTargetShows) {
    now_before s("samples 1;\n");
    run(s.now, {"1a", "1b"});
    EXPECT_EQ(shown(s.before), (rows{"1a", "1b"}));
    run(s.now, {"2a"});
    EXPECT_EQ(shown(s.now), (rows{"2a"}));
    EXPECT_EQ(shown(s.before), (rows{"1a", "1b"}));
    run(s.now, {"3a"});
    EXPECT_EQ(shown(s.now), (rows{"3a"}));
    EXPECT_EQ(shown(s.before), (rows{"2a"}));
}

TEST(AgeTo, AnEmptyRunMovesNothing) {
    now_before s("empty;\n");
    run(s.now, {"1a"});
    run(s.now, {});
    EXPECT_EQ(shown(s.now), (rows{"1a"}));
    EXPECT_EQ(shown(s.before), (rows{"1a"}));
    run(s.now, {"3a"});
    EXPECT_EQ(shown(s.now), (rows{"3a"}));
    EXPECT_EQ(shown(s.before), (rows{"1a"}));
}

TEST(AgeTo, ASourceThatDropsItsRowsAfterEachAnswerLeavesTheTargetIntact) {
    // A demand cursor with stale 0 deletes its rows after every answer; the target's rows
    // are its own, so they survive (under ASan a shared row would be freed twice).
    now_before s;
    run(s.now, {"1a"});
    delete_all(s.now);
    EXPECT_EQ(shown(s.before), (rows{"1a"}));
    run(s.now, {"2a"});
    delete_all(s.now);
    EXPECT_EQ(shown(s.before), (rows{}));
    run(s.now, {"3a"});
    EXPECT_EQ(shown(s.now), (rows{"3a"}));
}

TEST(AgeTo, TheCopyCarriesTheDefinitionButNothingThatComputesOrRuns) {
    LogCapture log;
    ASSERT_EQ(
        parse_all(block("NOW", "age_to BEFORE;\nhold;\nmath B A + 1;\nbase BEFORE on A -> A;\n") +
                  block("BEFORE", "interval 30;\n")),
        0)
        << log.text();
    curs* now = find("NOW");
    curs* before = find("BEFORE");
    ASSERT_EQ(edit_age_to_pass(), 0) << log.text();
    EXPECT_TRUE(log.has("PAG3695")) << log.text();
    EXPECT_EQ(now->age_to, before);
    EXPECT_EQ(now->post_age, 1);
    EXPECT_EQ(before->aged_to, 1);
    EXPECT_EQ(before->demand, 1);
    EXPECT_EQ(before->post_age, 1);
    EXPECT_STREQ(before->cur_name, "BEFORE");
    EXPECT_EQ(before->held, 'N');  // the source is held, the copy is not
    EXPECT_EQ(before->m_anch, nullptr);
    EXPECT_EQ(before->base, nullptr);
    EXPECT_EQ(before->cur_version_list, before);
    EXPECT_EQ(before->if_tree_place, before);
    EXPECT_EQ(before->interval, now->interval);
    // Its own columns and texts, equal to the source's.
    ASSERT_NE(before->insert_columns, nullptr);
    EXPECT_NE(before->insert_columns, now->insert_columns);
    EXPECT_STREQ(before->insert_columns->col_name, now->insert_columns->col_name);
    EXPECT_NE(before->table_name, now->table_name);
    EXPECT_STREQ(before->table_name, now->table_name);
    for (const columns* col = before->insert_columns; col != nullptr; col = col->next)
        EXPECT_EQ(col->m_anch, nullptr);
    std::string blank(sizeof(before->ssqlcode), '\0');
    EXPECT_EQ(std::string(before->ssqlcode, sizeof(before->ssqlcode)), blank);
}

TEST(AgeTo, AVersionedSourceGetsOneCopyPerVersion) {
    LogCapture log;
    ASSERT_EQ(
        parse_all(block("NOW", "age_to BEFORE;\nif 1 = 1;\nclass 1;\nelse;\nclass 2;\nendif;\n") +
                  block("BEFORE")),
        0)
        << log.text();
    curs* now = find("NOW");
    curs* before = find("BEFORE");
    ASSERT_EQ(curstest::versions(now).size(), 2u);
    ASSERT_EQ(edit_age_to_pass(), 0) << log.text();
    EXPECT_EQ(now->age_to, before);
    EXPECT_EQ(now->post_age, 1);
    std::vector<curs*> copies;
    for (curs* v : curstest::versions(now)) {
        ASSERT_NE(v->age_to, nullptr);
        EXPECT_NE(v->age_to, before);
        EXPECT_EQ(v->age_to->aged_to, 1);
        EXPECT_EQ(v->age_to->klass, v->klass);
        copies.push_back(v->age_to);
    }
    EXPECT_NE(copies[0], copies[1]);
    // The copies form a ring of their own, and BEFORE shows the active version's copy.
    EXPECT_EQ(copies[0]->cur_version_list, copies[1]);
    EXPECT_EQ(copies[1]->cur_version_list, copies[0]);
    curs* active_copy = now->if_tree_place->age_to;
    EXPECT_EQ(before->if_tree_place, active_copy);
    EXPECT_EQ(before->klass, now->if_tree_place->klass);
    EXPECT_EQ(before->next, nullptr);  // keeps its place in the chain
    EXPECT_EQ(now->next, before);
}

// The collector's clean-up frees the source, its versions, their copies and the target
// once each: ASan finds a block freed twice, and the leak check one left behind.
TEST(AgeTo, TheCleanUpFreesVersionedSourceAndCopiesOnce) {
    LogCapture log;
    ASSERT_EQ(
        parse_all(block("NOW", "age_to BEFORE;\nif 1 = 1;\nclass 1;\nelse;\nclass 2;\nendif;\n") +
                  block("BEFORE", "table_name OTHER;\n")),
        0)
        << log.text();
    curs* now = find("NOW");
    xform::layout(now, 4);
    ASSERT_EQ(edit_age_to_pass(), 0) << log.text();
    run(now, {"1a"});
    run(now, {"2a", "2b"});
    install_engine_hooks();
    free_all_cursors();
    EXPECT_EQ(cur_anchor, nullptr);
    EXPECT_TRUE(log.has("Freeing storage for cursor:BEFORE")) << log.text();
}

struct refusal {
    const char* name;
    std::string text;
    const char* message;
};

class AgeToRefused : public ::testing::TestWithParam<refusal> {};

TEST_P(AgeToRefused, FailsThePass) {
    const refusal& k = GetParam();
    LogCapture log;
    ASSERT_EQ(parse_all(k.text), 0) << log.text();
    EXPECT_EQ(edit_age_to_pass(), 1);
    EXPECT_TRUE(log.has(k.message)) << log.text();
    EXPECT_TRUE(log.has("PAG3700")) << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Table, AgeToRefused,
    ::testing::Values(
        refusal{"VirtualSource",
                "cursor V;\nINSERT INTO T_V (A) VALUES (:A);\nvirtual;\nage_to B;\n" + block("B"),
                "PAG3680"},
        refusal{
            "VirtualTarget",
            block("A", "age_to V;\n") + "cursor V;\nINSERT INTO T_V (A) VALUES (:A);\nvirtual;\n",
            "PAG3675"},
        refusal{"TwoSources", block("A", "age_to T;\n") + block("B", "age_to T;\n") + block("T"),
                "PAG3685"},
        refusal{"Missing", block("A", "age_to NOPE;\n"), "PAG3690"},
        refusal{"Itself", block("A", "age_to A;\n"), "PAG3671"},
        refusal{"Cycle", block("A", "age_to B;\n") + block("B", "age_to A;\n"), "PAG3672"},
        refusal{"Chain", block("A", "age_to B;\n") + block("B", "age_to C;\n") + block("C"),
                "PAG3673"},
        refusal{"ChainTheOtherWay",
                block("B", "age_to C;\n") + block("A", "age_to B;\n") + block("C"), "PAG3673"}),
    case_names(&refusal::name));

TEST(AgeTo, DelCursFreesSourceAndCopyOnce) {
    LogCapture log;
    ASSERT_EQ(parse_all(block("NOW", "age_to BEFORE;\nmath B A + 1;\n") +
                        block("BEFORE", "table_name OTHER;\n")),
              0)
        << log.text();
    curs* now = find("NOW");
    xform::layout(now, 4);
    ASSERT_EQ(edit_age_to_pass(), 0) << log.text();
    run(now, {"1a"});
    run(now, {"2a", "2b"});
    void (*saved)(curs*) = del_curs_clauses_hook;
    del_curs_clauses_hook = del_clauses;
    const int16_t level = my_trace_all[7];
    my_trace_all[7] = 1;
    del_curs();  // under ASan a block held by both records would be freed twice
    my_trace_all[7] = level;
    del_curs_clauses_hook = saved;
    EXPECT_EQ(cur_anchor, nullptr);
    EXPECT_TRUE(log.has("Freeing storage for cursor:BEFORE")) << log.text();
}

}  // namespace
