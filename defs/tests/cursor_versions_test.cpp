#include "defs/cursor_versions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/dictionary_file.h"
#include "defs/distrib.h"
#include "defs/trace_file.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/trace.h"
#include "testing/cursor_test_support.h"
#include "testing/log_capture.h"

namespace {

using curstest::find;
using curstest::parse;
using curstest::versions;

// A block of cursor C1 with the INSERT first, then the given statements.
std::string c1(const std::string& statements) {
    return std::string("cursor C1;\nINSERT INTO T1 (A, B) VALUES (:A, :B);\n") + statements +
           "end;\n";
}

// The values of two fields of each version in ring order.
std::vector<std::pair<int, int>> class_and_samples(curs* slot) {
    std::vector<std::pair<int, int>> out;
    for (curs* v : versions(slot)) out.emplace_back(v->klass, v->samples);
    return out;
}

TEST(CursorVersions, WithoutIfTheCursorIsItsOnlyVersion) {
    LogCapture log;
    ASSERT_EQ(parse(c1("")), 0) << log.text();
    curs* c = find("C1");
    EXPECT_EQ(c->cur_version_list, c);
    EXPECT_EQ(c->if_tree_place, c);
    EXPECT_EQ(c->if_tree, nullptr);
    EXPECT_EQ(count_cursor_versions(c), 1);
    EXPECT_EQ(select_cursor_version(c, "20261210120000"), 0);
    EXPECT_EQ(c->activation_time[0], '\0');
}

struct shape_case {
    const char* statements;
    std::vector<std::pair<int, int>> versions;  // class and samples of each, in ring order
};

TEST(CursorVersions, CountAndOrderOfVersions) {
    const shape_case cases[] = {
        // if without else: the branch, then the cursor as the block left it.
        {"if 1 = 1;\nclass 1;\nendif;\n", {{1, 0}, {0, 0}}},
        {"if 1 = 1;\nclass 1;\nelse;\nsamples 2;\nendif;\n", {{1, 0}, {0, 2}}},
        // Two sibling IFs: A and B, A and not B, not A and B, neither.
        {"if 1 = 1;\nclass 1;\nendif;\nif 2 = 2;\nsamples 2;\nendif;\n",
         {{1, 2}, {1, 0}, {0, 2}, {0, 0}}},
        // Nested: A and B, A and not B, not A.
        {"if 1 = 1;\nclass 1;\nif 2 = 2;\nsamples 2;\nendif;\nendif;\n", {{1, 2}, {1, 0}, {0, 0}}},
        // Nested inside the else branch.
        {"if 1 = 1;\nclass 1;\nelse;\nclass 3;\nif 2 = 2;\nsamples 2;\nendif;\nendif;\n",
         {{1, 0}, {3, 2}, {3, 0}}},
    };
    for (const shape_case& k : cases) {
        LogCapture log;
        ASSERT_EQ(parse(c1(k.statements)), 0) << k.statements << log.text();
        curs* c = find("C1");
        ASSERT_NE(c->if_tree, nullptr);
        EXPECT_EQ(count_cursor_versions(c), static_cast<int>(k.versions.size())) << k.statements;
        EXPECT_EQ(class_and_samples(c), k.versions) << k.statements;
        // The slot holds the first version and is not itself in the ring.
        std::vector<curs*> ring = versions(c);
        EXPECT_EQ(c->if_tree_place, ring.front());
        for (curs* v : ring) {
            EXPECT_NE(v, c);
            EXPECT_EQ(v->if_tree_place, v);
            EXPECT_EQ(v->if_tree, c->if_tree);
            EXPECT_STREQ(v->cur_name, "C1");
            ASSERT_NE(v->insert_select, nullptr);
        }
        EXPECT_EQ(c->klass, ring.front()->klass);
    }
}

// Siblings nested in the branch of a later sibling: each path still decides every IF once.
TEST(CursorVersions, SiblingsInsideASiblingsBranch) {
    LogCapture log;
    ASSERT_EQ(parse(c1("if 1 = 1;\nclass 1;\nendif;\nif 2 = 2;\nif 3 = 3;\nsamples 2;\nendif;\n"
                       "if 4 = 4;\nstart_after 3;\nendif;\nendif;\n")),
              0)
        << log.text();
    std::vector<curs*> ring = versions(find("C1"));
    ASSERT_EQ(ring.size(), 10u);
    std::vector<std::string> seen;
    for (curs* v : ring)
        seen.push_back(std::to_string(v->klass) + std::to_string(v->samples) +
                       std::to_string(v->start_after));
    const std::vector<std::string> expected = {"123", "120", "103", "100", "100",
                                               "023", "020", "003", "000", "000"};
    EXPECT_EQ(seen, expected);
}

TEST(CursorVersions, SettingsAfterEndifFillEveryBranchThatLeftThemUnset) {
    LogCapture log;
    ASSERT_EQ(parse(c1("if 1 = 1;\ninterval 30;\nelse;\nlimit 5;\nendif;\ninterval 60;\n"
                       "class 7;\n")),
              0)
        << log.text();
    std::vector<curs*> ring = versions(find("C1"));
    ASSERT_EQ(ring.size(), 2u);
    EXPECT_EQ(ring[0]->interval, 30);  // the branch's own setting wins
    EXPECT_EQ(ring[0]->klass, 7);
    EXPECT_EQ(ring[0]->limit, 200);
    EXPECT_EQ(ring[1]->interval, 60);
    EXPECT_EQ(ring[1]->klass, 7);
    EXPECT_EQ(ring[1]->limit, 5);
}

TEST(CursorVersions, SetLenAndInterfaceIdsAfterEndifReachTheBranches) {
    LogCapture log;
    ASSERT_EQ(parse(c1("if 1 = 1;\nclass 1;\nendif;\nset_len B 16;\nobjid 12;\nuuidbase a-b;\n")),
              0)
        << log.text();
    for (curs* v : versions(find("C1"))) {
        ASSERT_NE(v->set_len, nullptr) << v->klass;
        EXPECT_EQ(v->set_len->len, 16);
        EXPECT_EQ(v->objid, 12);
        EXPECT_STREQ(v->uuidbase, "a-b");
    }
}

TEST(CursorVersions, AClauseInsideABranchStaysInThatBranch) {
    LogCapture log;
    ASSERT_EQ(parse(c1("decode A = 1 , 'one';\nif 1 = 1;\ndecode B = 2 , 'two';\nendif;\n")), 0)
        << log.text();
    std::vector<curs*> ring = versions(find("C1"));
    ASSERT_EQ(ring.size(), 2u);
    auto names = [](curs* v) {
        std::string s;
        for (decode* d = v->decode; d != nullptr; d = d->next) s += std::string(d->col_name) + ";";
        return s;
    };
    EXPECT_EQ(names(ring[0]), "A;B;");
    EXPECT_EQ(names(ring[1]), "A;");
    EXPECT_NE(ring[0]->decode, ring[1]->decode);
}

TEST(CursorVersions, EveryVersionGetsTheDistributor) {
    LogCapture log;
    distrib* saved = collector_at;
    distrib* d = distrib_new();
    collector_at = d;
    ASSERT_EQ(parse(c1("if 1 = 1;\nclass 1;\nendif;\n")), 0) << log.text();
    curs* c = find("C1");
    EXPECT_EQ(c->dist_ptr, d);
    for (curs* v : versions(c)) EXPECT_EQ(v->dist_ptr, d);
    collector_at = saved;
    distrib_free(d);
    for (curs* v : versions(c)) v->dist_ptr = nullptr;
    c->dist_ptr = nullptr;
}

struct error_case {
    const char* statements;
    const char* id;
    const char* message;
};

TEST(CursorVersions, StructureErrors) {
    const error_case cases[] = {
        {"else;\n", "PIF0050", "ELSE has no matching IF for cursor C1"},
        {"endif;\n", "PIF0070", "ENDIF has no matching IF for cursor C1"},
        {"if 1 = 1;\nendif;\nendif;\n", "PIF0070", "ENDIF has no matching IF for cursor C1"},
        {"if 1 = 1;\nelse;\nelse;\nendif;\n", "PIF0050", "ELSE has no matching IF"},
        {"if 1 = 1;\nclass 1;\n", "PIF0100", "Cursor C1 end encountered before expected ENDIF"},
        {"if 1 = = ;\nendif;\n", "PIF0030",
         "Syntax error in conditional expression  for cursor C1"},
    };
    for (const error_case& k : cases) {
        LogCapture log;
        EXPECT_EQ(parse(c1(k.statements)), 1) << k.statements;
        EXPECT_TRUE(log.has(k.id)) << k.statements << "\n" << log.text();
        EXPECT_TRUE(log.has(k.message)) << k.statements << "\n" << log.text();
    }
}

std::string nested_ifs(int n) {
    std::string s;
    for (int i = 0; i < n; ++i) s += "if " + std::to_string(i) + " = 1;\n";
    for (int i = 0; i < n; ++i) s += "endif;\n";
    return s;
}

TEST(CursorVersions, FortyNineDecisionsOnAPathAreAcceptedFiftyAreNot) {
    {
        LogCapture log;
        ASSERT_EQ(parse(c1(nested_ifs(49))), 0) << log.text();
        EXPECT_EQ(count_cursor_versions(find("C1")), 50);
    }
    {
        LogCapture log;
        EXPECT_EQ(parse(c1(nested_ifs(50))), 1);
        EXPECT_TRUE(log.has("PIF0130")) << log.text();
        EXPECT_TRUE(log.has("Current stack position: 50- exceeds stack size: 50")) << log.text();
    }
}

TEST(CursorVersions, SiblingIfsAreCappedBeforeMemoryRunsOut) {
    std::string eight, forty;
    for (int i = 0; i < 8; ++i) eight += "if " + std::to_string(i) + " = 1;\nendif;\n";
    for (int i = 0; i < 40; ++i) forty += "if " + std::to_string(i) + " = 1;\nendif;\n";
    {
        LogCapture log;
        ASSERT_EQ(parse(c1(eight)), 0) << log.text();
        EXPECT_EQ(count_cursor_versions(find("C1")), 256);
    }
    {
        LogCapture log;
        EXPECT_EQ(parse(c1(forty)), 1);
        EXPECT_TRUE(log.has("PIF0150")) << log.text();
        EXPECT_TRUE(log.has("Cursor C1 has more than 256 versions")) << log.text();
    }
}

// ---- choosing the version -------------------------------------------------------------------

// Points the column's value at a text of its own (as a fetch does).
struct column_value {
    std::string text;
    void set(curs* c, const char* name, const std::string& value) {
        text = value;
        for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
            if (std::strcmp(col->col_name, name) == 0) {
                col->from = text.data();
                col->len = static_cast<int16_t>(text.size());
            }
        }
    }
};

TEST(CursorVersions, ConditionValues) {
    struct value_case {
        const char* condition;
        int klass;  // 1 for the true branch, 2 for the false
    };
    const value_case cases[] = {
        {"0.25 + 0.25", 1},
        {"1 - 1", 2},
        {"2 > 1", 1},
        {"2 < 1", 2},
    };
    for (const value_case& k : cases) {
        LogCapture log;
        ASSERT_EQ(
            parse(c1(std::string("if ") + k.condition + ";\nclass 1;\nelse;\nclass 2;\nendif;\n")),
            0)
            << log.text();
        curs* c = find("C1");
        int rc = select_cursor_version(c, "20261210120000");
        EXPECT_EQ(rc, k.klass == 1 ? 0 : 1) << k.condition << log.text();
        EXPECT_EQ(c->klass, k.klass) << k.condition;
        EXPECT_STREQ(c->activation_time, "20261210120000");
    }
}

TEST(CursorVersions, AValueNotFetchedYetKeepsTheVersion) {
    LogCapture log;
    ASSERT_EQ(parse(c1("if A = 'Y';\nclass 1;\nelse;\nclass 2;\nendif;\n")), 0) << log.text();
    curs* c = find("C1");
    curs* before = c->if_tree_place;
    EXPECT_EQ(select_cursor_version(c, "20261210120000"), -1);
    EXPECT_EQ(c->if_tree_place, before);
    EXPECT_EQ(c->klass, 1);
    EXPECT_EQ(c->activation_time[0], '\0');
    EXPECT_EQ(tune_up_cursor_versions("20261210120000"), 1);
    EXPECT_EQ(c->klass, 1);
}

// Switching X -> Y -> X: X's rows and counters come back, the slot keeps its times and
// hold states.
TEST(CursorVersions, SwitchingBackRestoresTheVersionAndKeepsTheSlotsTimes) {
    LogCapture log;
    ASSERT_EQ(parse(c1("if A = 'X';\nclass 1;\nelse;\nclass 2;\nendif;\n")), 0) << log.text();
    curs* c = find("C1");
    column_value a;
    a.set(c, "A", "X");
    ASSERT_EQ(select_cursor_version(c, "20261210120000"), 0) << log.text();
    curs* x = c->if_tree_place;
    row_data* x_row = row_data_new(4);
    c->first_row = c->last_row = x_row;
    c->sampleno = 17;
    c->held_stat[H_CUR] = 1;
    c->held = 'Y';
    std::strcpy(c->last_time, "20261210120000");
    // Evaluations hang on the slot (the evaluation file is read after the versions exist).
    static char evaluations[8];
    c->evaluation = reinterpret_cast<evaluation*>(evaluations);
    c->next_time = 1234;

    a.set(c, "A", "Z");
    ASSERT_EQ(select_cursor_version(c, "20261210120100"), 1) << log.text();
    EXPECT_EQ(c->klass, 2);
    EXPECT_NE(c->if_tree_place, x);
    EXPECT_EQ(c->first_row, nullptr);
    EXPECT_EQ(c->sampleno, 0);
    EXPECT_STREQ(c->last_time, "20261210120000");
    EXPECT_EQ(c->held_stat[H_CUR], 1);
    EXPECT_EQ(c->held, 'Y');
    EXPECT_EQ(x->held_stat[H_CUR], 0);
    EXPECT_EQ(x->first_row, x_row);
    EXPECT_EQ(c->evaluation, reinterpret_cast<evaluation*>(evaluations));
    EXPECT_EQ(c->next_time, 1234);
    row_data* y_row = row_data_new(4);
    c->first_row = c->last_row = y_row;
    std::strcpy(c->last_time, "20261210120100");

    a.set(c, "A", "X");
    ASSERT_EQ(select_cursor_version(c, "20261210120200"), 1) << log.text();
    EXPECT_EQ(c->klass, 1);
    EXPECT_EQ(c->if_tree_place, x);
    EXPECT_EQ(c->first_row, x_row);
    EXPECT_EQ(c->sampleno, 17);
    EXPECT_STREQ(c->last_time, "20261210120100");
    EXPECT_EQ(c->held_stat[H_CUR], 1);
    EXPECT_STREQ(c->activation_time, "20261210120200");
    EXPECT_EQ(c->evaluation, reinterpret_cast<evaluation*>(evaluations));
}

TEST(CursorVersions, EachCursorsConditionsBindToItsOwnColumns) {
    LogCapture log;
    ASSERT_EQ(parse(std::string("cursor C1;\nINSERT INTO T1 (A) VALUES (:A);\n"
                                "if A = 'Y';\nclass 1;\nelse;\nclass 2;\nendif;\n"
                                "cursor C2;\nINSERT INTO T2 (A) VALUES (:A);\n"
                                "if A = 'Y';\nclass 1;\nelse;\nclass 2;\nendif;\nend;\n")),
              0)
        << log.text();
    curs* one = find("C1");
    curs* two = find("C2");
    column_value a1, a2;
    a1.set(one, "A", "N");
    a2.set(two, "A", "Y");
    EXPECT_EQ(tune_up_cursor_versions("20261210120000"), 0) << log.text();
    EXPECT_EQ(one->klass, 2);
    EXPECT_EQ(two->klass, 1);
}

int passes_run = 0;
int count_pass() {
    ++passes_run;
    return 0;
}
int freed_pieces = 0;
void count_piece(sel_piece*) { ++freed_pieces; }

TEST(CursorVersions, AChangeRerunsTheEditingPassesAndResetsTheSlots) {
    LogCapture log;
    ASSERT_EQ(parse(c1("if A = 'X';\nclass 1;\nelse;\nclass 2;\nendif;\n")), 0) << log.text();
    curs* c = find("C1");
    column_value a;
    a.set(c, "A", "X");
    engine_edit_passes saved = edit_passes;
    // The start-up-only passes count too (age_to among them): a version change must not
    // rerun them.
    edit_passes = {count_pass, count_pass, count_pass, count_pass, count_pass,
                   count_pass, count_pass, count_pass, count_pass, count_pass,
                   count_pass, count_pass, count_pass};
    void (*saved_piece_hook)(sel_piece*) = free_sel_piece_hook;
    free_sel_piece_hook = count_piece;
    passes_run = 0;
    EXPECT_EQ(tune_up_cursor_versions("20261210120000"), 0);
    EXPECT_EQ(passes_run, 0);

    // A selection piece the collector built for the slot (any block will do here).
    static char piece_block[8];
    c->sel_piece = reinterpret_cast<sel_piece*>(piece_block);
    c->cols_set = 1;
    a.set(c, "A", "Q");
    EXPECT_EQ(tune_up_cursor_versions("20261210120100"), 0) << log.text();
    EXPECT_EQ(passes_run, 8);
    EXPECT_EQ(c->klass, 2);
    EXPECT_EQ(c->cols_set, 0);
    EXPECT_EQ(c->sel_piece, nullptr);
    EXPECT_EQ(freed_pieces, 1);
    // Switching back finds no stale piece in the version it left.
    a.set(c, "A", "X");
    EXPECT_EQ(tune_up_cursor_versions("20261210120200"), 0);
    EXPECT_EQ(c->sel_piece, nullptr);
    EXPECT_EQ(freed_pieces, 1);
    edit_passes = saved;
    free_sel_piece_hook = saved_piece_hook;
}

TEST(CursorVersions, TuneUpWithoutCursorsFails) {
    curstest::set_aside();
    EXPECT_EQ(tune_up_cursor_versions("20261210120000"), 1);
}

TEST(CursorVersions, DefineVersChainLinksEveryVersionToTheSlotsNext) {
    LogCapture log;
    ASSERT_EQ(parse(std::string("cursor C1;\nINSERT INTO T1 (A) VALUES (:A);\nhold;\n"
                                "if 1 = 1;\nclass 1;\nendif;\n"
                                "cursor C2;\nINSERT INTO T2 (A) VALUES (:A);\nend;\n")),
              0)
        << log.text();
    define_vers_chain();
    curs* one = find("C1");
    EXPECT_EQ(one->held_stat[H_VER], 1);
    for (curs* v : versions(one)) {
        EXPECT_EQ(v->next, find("C2"));
        EXPECT_EQ(v->held_stat[H_VER], 1);
    }
}

TEST(CursorVersions, ResetAllClearsTheColumnLinks) {
    LogCapture log;
    ASSERT_EQ(parse(c1("decode A = 1 , 'one';\n")), 0) << log.text();
    curs* c = find("C1");
    c->insert_columns->decode_op = c->decode->decode_op;
    reset_all();
    EXPECT_EQ(c->insert_columns->decode_op, nullptr);
}

// A retrace reads the trace file again: its switches reach every version.
TEST(CursorVersions, TraceFileSetsTheSwitchesOnEveryVersion) {
    LogCapture log;
    ASSERT_EQ(parse(c1("if 1 = 1;\nclass 1;\nelse;\nclass 2;\nendif;\n")), 0) << log.text();
    curs* c = find("C1");
    for (int pass = 0; pass < 2; ++pass) {
        c->traced = 0;
        for (curs* v : versions(c)) v->traced = 0;
        ASSERT_EQ(deftest::parse_text(parse_trace_file, "traced C1;\nend;\n"), 0) << log.text();
        EXPECT_EQ(c->traced, 1);
        for (curs* v : versions(c)) EXPECT_EQ(v->traced, 1);
    }
}

}  // namespace

namespace {

// The script-exit descriptor is cut out of the select text: versions that got the text
// from their parent each cut a copy of their own.
TEST(CursorVersions, EachScriptExitVersionCutsItsOwnSelectText) {
    LogCapture log;
    ASSERT_EQ(
        deftest::parse_text(parse_dict_file,
                            "name SX_NAME;\ntype CHAR(8);\nname SX_KB;\ntype INTEGER;\nend;\n"),
        0)
        << log.text();
    ASSERT_EQ(parse("cursor C1;\nINSERT INTO T1 (SX_NAME, SX_KB) VALUES (:SX_NAME, :INT!SX_KB);\n"
                    "fetch_exit fetchx1;\nscript df -kP;\nif 1 = 1;\nclass 1;\nendif;\n"
                    "insert_select SELECT SX_NAME, SX_KB FROM script;\nend;\n"),
              0)
        << log.text();
    std::vector<curs*> ring = versions(find("C1"));
    ASSERT_EQ(ring.size(), 2u);
    EXPECT_NE(ring[0]->raw_insert_select, ring[1]->raw_insert_select);
    for (curs* v : ring) {
        auto* d = static_cast<xSQLDA*>(v->xlda);
        ASSERT_NE(d, nullptr);
        ASSERT_EQ(d->N, 2);
        EXPECT_STREQ(d->S[0], "SX_NAME");
        EXPECT_STREQ(d->S[1], "SX_KB");
        EXPECT_GE(d->S[0], v->raw_insert_select);
        EXPECT_LT(d->S[0], v->raw_insert_select + 40);
    }
}

TEST(CursorFileSearch, ParseCursFindsTheCursorFile) {
    LogCapture log;
    curstest::set_aside();
    deftest::definition_home home;
    EXPECT_EQ(parse_curs(), 1);  // no file yet
    home.write("coll", c1("if 1 = 1;\nclass 1;\nendif;\n"));
    curstest::set_aside();
    EXPECT_EQ(parse_curs(), 0) << log.text();
    ASSERT_NE(find("C1"), nullptr);
    EXPECT_EQ(count_cursor_versions(find("C1")), 2);
}

}  // namespace
