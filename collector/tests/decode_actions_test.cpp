// Hold and release commands of decodes.
#include "collector/transforms/decode_actions.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "collector/tests/decode_fixture.h"
#include "collector/transforms/decode.h"
#include "model/db_specifics.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

using decode_test::world_cursor;

// The cursor list of every case, in order; each cursor holds one row.
const char* const names[] = {"A", "ABC", "C", "DEF", "LONGNAME", "V", "%CURSOR"};
constexpr int kCursors = 7;

struct step {
    int cursor;  // index into names
    const char* text;
    int len;
    int result;
};

struct action_case {
    const char* what;
    std::vector<step> steps;
    const char* held;  // 'Y' or '.' per cursor after the steps
    const char* rows;  // rows per cursor after the run
    int held_below;
    const char* message = nullptr;  // written
    const char* absent = nullptr;   // not written
};

class SpecialDecode : public ::testing::TestWithParam<action_case> {};

TEST_P(SpecialDecode, Command) {
    const action_case& k = GetParam();
    std::vector<std::unique_ptr<world_cursor>> world;
    for (const char* n : names) {
        world.push_back(
            std::make_unique<world_cursor>(n, std::vector<cursortest::col_spec>{{"C", 4, 1}}));
        world.back()->rows().add({"x"});
    }
    world[5]->get()->cvirtual = 1;
    cursors_held_below = 0;
    database_info.status = up;
    LogCapture log;
    for (const step& s : k.steps) {
        std::string text(s.text);
        text.resize(256, ' ');
        EXPECT_EQ(special_decode(world[static_cast<size_t>(s.cursor)]->get(), text.data(), s.len),
                  s.result)
            << s.text;
    }
    // Rows go only when the run ends.
    for (auto& w : world) EXPECT_EQ(w->get()->count, 1);
    decode_run_done();
    std::string held, rows;
    for (auto& w : world) {
        held += w->get()->held == 'Y' ? 'Y' : '.';
        rows += static_cast<char>('0' + w->get()->count);
    }
    EXPECT_EQ(held, k.held);
    EXPECT_EQ(rows, k.rows);
    EXPECT_EQ(cursors_held_below, k.held_below);
    if (k.message != nullptr) {
        EXPECT_TRUE(log.has(k.message)) << log.text();
    }
    if (k.absent != nullptr) {
        EXPECT_FALSE(log.has(k.absent)) << log.text();
    }
    cursors_held_below = 0;
    database_info.status = up;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SpecialDecode,
    ::testing::Values(
        action_case{"hold me at width 7", {{1, "hold me", 7, 0}}, ".......", "1111111", 0},
        action_case{"hold me at width 8", {{1, "hold me", 8, 1}}, ".Y.....", "1111111", 0},
        action_case{"upper case command", {{1, "HOLD ME", 8, 1}}, ".Y.....", "1111111", 0},
        action_case{"one word", {{1, "hold", 8, 0}}, ".......", "1111111", 0},
        action_case{"other first word", {{1, "holding me", 12, 0}}, ".......", "1111111", 0},
        action_case{"hold delete next", {{1, "hold delete next", 20, 1}}, "..Y....", "1101111", 0},
        action_case{"hold next delete", {{1, "hold next delete", 20, 1}}, "..Y....", "1111111", 0},
        action_case{"hold previous", {{2, "hold previous", 20, 1}}, ".Y.....", "1111111", 0},
        action_case{"hold next of the last", {{6, "hold next", 20, 1}}, ".......", "1111111", 0},
        action_case{"hold named cursors",
                    {{0, "hold cursor abc, DEF, longnamexyz", 40, 1}},
                    ".Y.YY..",
                    "1111111",
                    0},
        action_case{"cursor names after cursor",
                    {{0, "hold cursor me, c", 20, 1}},
                    "..Y....",
                    "1111111",
                    0},
        action_case{"hold below", {{1, "hold below", 20, 1}}, "..YYYYY", "1111111", 1, "CDE4455I"},
        action_case{"hold below twice",
                    {{3, "hold below", 20, 1}, {0, "hold below delete me", 20, 1}},
                    "....YYY",
                    "1111111",
                    1},
        action_case{"hold below then its release",
                    {{1, "hold below", 20, 1}, {3, "release below", 20, 1}},
                    "..YY...",
                    "1111111",
                    0,
                    "CDE4460I"},
        action_case{"release below without a hold",
                    {{1, "release below", 20, 1}},
                    ".......",
                    "1111111",
                    0,
                    nullptr,
                    "CDE4460I"},
        action_case{"hold delete below keeps virtual and percent rows",
                    {{0, "hold delete below", 20, 1}},
                    ".YYYYYY",
                    "1000011",
                    1},
        action_case{"release me ends the command",
                    {{1, "hold me next", 20, 1}, {1, "release me next", 20, 1}},
                    ".YY....",
                    "1111111",
                    0,
                    "Unknown release option:me, cursor ABC"},
        action_case{"release named",
                    {{0, "hold cursor abc", 20, 1}, {0, "release cursor abc", 20, 1}},
                    ".......",
                    "1111111",
                    0},
        action_case{"release keeps a cursor held below",
                    {{0, "hold below", 20, 1}, {0, "hold next", 20, 1}, {0, "release next", 20, 1}},
                    ".YYYYYY",
                    "1111111",
                    1},
        action_case{"unknown hold word",
                    {{1, "hold foo me", 20, 1}},
                    ".Y.....",
                    "1111111",
                    0,
                    "Unknown hold option 1:foo, cursor ABC"},
        action_case{"repeated keyword",
                    {{1, "hold me me", 20, 1}},
                    ".Y.....",
                    "1111111",
                    0,
                    "Unknown hold option 2:me"},
        action_case{"delete me", {{2, "hold delete me", 20, 1}}, "..Y....", "1101111", 0}),
    case_names(&action_case::what));

// resetdb asks for a new connection and leaves the connection itself alone.
TEST(SpecialDecode, ResetdbAsksForReinitialisation) {
    world_cursor a("A", {{"C", 4, 1}});
    database_info.status = up;
    database_info.connected = 1;
    std::string text = "hold resetdb";
    text.resize(256, ' ');
    EXPECT_EQ(special_decode(a.get(), text.data(), 12), 1);
    EXPECT_EQ(database_info.status, reDoInit);
    EXPECT_EQ(database_info.connected, 1);
    EXPECT_NE(a.get()->held, 'Y');
    database_info.status = up;
    database_info.connected = 0;
}

// A long text of words is read without overflow; only its first 40 words count.
TEST(SpecialDecode, ManyWordsAreBounded) {
    world_cursor a("A", {{"C", 4, 1}});
    world_cursor b("B", {{"C", 4, 1}});
    std::string text = "hold";
    for (int i = 0; i < 60; ++i) text += " x";
    text += " next";
    text.resize(256, ',');
    LogCapture log;
    EXPECT_EQ(special_decode(a.get(), text.data(), 256), 1);
    EXPECT_NE(b.get()->held, 'Y') << "the 62nd word is not examined";
    EXPECT_TRUE(log.has("Unknown hold option 39:x")) << log.text();
    EXPECT_FALSE(log.has("Unknown hold option 40:x")) << log.text();
}

}  // namespace

namespace {

// A cursor that iterates over S and, on each of S's rows, holds S and asks for its rows to
// go: the walk over S's rows finishes on rows that are still there, S is held at once, and
// its rows go when the run ends.
TEST(SpecialDecode, IterationOverACursorItDeletesFinishes) {
    world_cursor t("T", {{"VAL", 24, 1}});
    world_cursor s("S", {{"VAL", 24, 1}});
    for (const char* v : {"X", "X", "X"}) s.rows().add({v});
    ASSERT_TRUE(t.rule("VAL = 'X' , 'hold delete cursor S'"));
    ASSERT_EQ(bind_decodes(), 0);
    columns* col = t.col("VAL");
    int walked = 0;
    for (row_data* r = s.get()->first_row; r != nullptr; r = r->next) {
        std::string row(r->text, 25);
        EXPECT_EQ(do_decode(col, row.data(), row.data(), 0, t.get()), 0);
        EXPECT_EQ(row.substr(0, 1), "X") << "a command never replaces the value";
        EXPECT_EQ(s.get()->held, 'Y');
        ++walked;
    }
    EXPECT_EQ(walked, 3);
    EXPECT_EQ(s.get()->count, 3);
    EXPECT_TRUE(decode_deletions_pending());
    decode_run_done();
    EXPECT_FALSE(decode_deletions_pending());
    EXPECT_EQ(s.get()->count, 0);
    EXPECT_EQ(s.get()->first_row, nullptr);
    EXPECT_EQ(s.get()->held_stat[H_CUR], 1);
}

}  // namespace
