#include "collector/startup/reference_passes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "collector/startup/engine_hooks.h"
#include "defs/clause_loads.h"
#include "model/engine_globals.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"
#include "testing/reader_support.h"

namespace {

using enginetest::column;
using enginetest::cursor;

// A cursor block: columns A and the given host variable, then the statements.
std::string block(const char* name, const char* host_var, const char* statements) {
    return std::string("cursor ") + name + ";\nINSERT INTO T (A, Q) VALUES (:A, :" + host_var +
           ");\n" + statements;
}

enum class pass { pre, iter, qual };

struct ref_case {
    const char* what;
    std::string text;
    pass which;
    int rc;
    std::vector<const char*> messages;
    void (*fixup)();
    void (*check)() = nullptr;
};

class References : public ::testing::TestWithParam<ref_case> {};

TEST_P(References, TextToMessages) {
    const ref_case& k = GetParam();
    LogCapture log;
    ASSERT_EQ(enginetest::read_cursors(k.text), 0) << log.text();
    if (k.fixup != nullptr) k.fixup();
    const int rc = k.which == pass::pre    ? edit_pre_cursors_pass()
                   : k.which == pass::iter ? edit_iterates_pass()
                                           : set_qualifieds_pass();
    EXPECT_EQ(rc, k.rc) << log.text();
    if (k.check != nullptr) k.check();
    for (const char* m : k.messages) EXPECT_TRUE(log.has(m)) << m << "\n" << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, References,
    ::testing::Values(
        ref_case{"pre_cursor faults in two cursors both reported",
                 block("A", "B", "pre_cursor A;\n") + block("B", "B", "pre_cursor NOPE;\n"),
                 pass::pre,
                 1,
                 {"PPR3115E", "Can't pre_cursor yourself in cursor A",
                  "Pre_cursor NOPE not found for cursor B"},
                 nullptr},
        ref_case{"pre_cursor bound",
                 block("A", "B", "pre_cursor B;\n") + block("B", "Q", ""),
                 pass::pre,
                 0,
                 {},
                 nullptr,
                 [] { EXPECT_EQ(cursor("A")->pre_cursor->curs, cursor("B")); }},
        ref_case{"iterate itself",
                 block("A", "B", "iterate A;\n"),
                 pass::iter,
                 1,
                 {"PIT3130E", "Can't iterate yourself in cursor A"},
                 nullptr},
        ref_case{"iterate missing",
                 block("A", "B", "iterate NOPE;\n"),
                 pass::iter,
                 1,
                 {"PIT3135E", "Iterator NOPE not found for cursor A"},
                 nullptr},
        ref_case{"iterate bound",
                 block("A", "B", "iterate B;\n") + block("B", "Q", ""),
                 pass::iter,
                 0,
                 {},
                 nullptr,
                 [] { EXPECT_EQ(cursor("A")->iterate->curs, cursor("B")); }},
        ref_case{"qualified flag without a point",
                 block("A", "B.A", "") + block("B", "Q", ""),
                 pass::qual,
                 1,
                 {"PMG3160E", "Qualified name (BXA) is invalid", "PMG3185E"},
                 [] { column(cursor("A"), "B.A")->col_name[1] = 'X'; }},
        ref_case{"unknown cursor",
                 block("A", "NOPE.A", ""),
                 pass::qual,
                 1,
                 {"PMG3165E", "Source cursor (NOPE) not found for NOPE.A"},
                 nullptr},
        ref_case{"cursor part longer than a cursor name",
                 block("A", "ABCDEFGHIJKLMNOPQRSTUVWXYZ.A", "") + block("ABCDEFGH", "B", ""),
                 pass::qual,
                 1,
                 {"PMG3165E", "Source cursor (ABCDEFGHIJKLMNOPQRSTUVWXYZ) not found"},
                 nullptr},
        ref_case{"same cursor",
                 block("A", "A.A", ""),
                 pass::qual,
                 1,
                 {"PMG3170E", "Cant reference to the same cursor for A.A"},
                 nullptr},
        ref_case{"own aged data, resolved anyway",
                 block("A", "B.A", "") + block("B", "Q", ""),
                 pass::qual,
                 1,
                 {"PMG3175E", "Column reference (B.A) to own aged data not allowed", "PMG3185E"},
                 [] {
                     cursor("A")->age_to = cursor("B");
                     // The check runs after the pass: see QualifiedResolvedDespiteAgeTo.
                 }},
        ref_case{"unknown column",
                 block("A", "B.NOPE", "") + block("B", "Q", ""),
                 pass::qual,
                 1,
                 {"PMG3180E", "Source column (NOPE) not found for B.NOPE"},
                 nullptr},
        ref_case{"resolved",
                 block("A", "B.A", "") + block("C", "B.Q", "") + block("B", "Q", ""),
                 pass::qual,
                 0,
                 {"PMG3190I", "Qualified name resolution successful, 2 resolved"},
                 nullptr}),
    case_names(&ref_case::what));

TEST(QualifiedNames, ResolvedDespiteAgeTo) {
    LogCapture log;
    ASSERT_EQ(enginetest::read_cursors(block("A", "B.Q", "") + block("B", "Q", "")), 0);
    cursor("A")->age_to = cursor("B");
    EXPECT_EQ(set_qualifieds_pass(), 1);
    columns* k = column(cursor("A"), "B.Q");
    EXPECT_EQ(k->base_column, column(cursor("B"), "Q"));
    EXPECT_EQ(k->base_cursor, cursor("B"));
}

// B.X where B's active version lacks X but its else version has it binds that version.
TEST(QualifiedNames, ColumnOnlyInAnElseVersionBindsThatVersion) {
    LogCapture log;
    ASSERT_EQ(
        enginetest::read_cursors(block("A", "B.X", "") +
                                 block("B", "Q", "if 1 = 1;\nclass 1;\nelse;\nclass 2;\nendif;\n")),
        0)
        << log.text();
    curs* b = cursor("B");
    std::vector<curs*> ring = curstest::versions(b);
    ASSERT_EQ(ring.size(), 2u);
    curs* other = ring[1];
    ASSERT_NE(other, b);
    columns* x = column(other, "Q");
    ASSERT_NE(x, nullptr);
    std::memcpy(x->col_name, "X", 2);
    x->col_name_ll = 1;
    EXPECT_EQ(set_qualifieds_pass(), 0) << log.text();
    columns* k = column(cursor("A"), "B.X");
    EXPECT_EQ(k->base_column, x);
    EXPECT_EQ(k->base_cursor, other);
    EXPECT_TRUE(log.has("PMG3190I"));
}

// Start-up reaches the passes through the engine's hooks.
TEST(QualifiedNames, InstalledAsTheEditPass) {
    install_engine_hooks();
    LogCapture log;
    ASSERT_EQ(enginetest::read_cursors(block("A", "NOPE.A", "")), 0);
    EXPECT_EQ(set_qualifieds(), 1);
    EXPECT_TRUE(log.has("PMG3165E"));
}

}  // namespace
