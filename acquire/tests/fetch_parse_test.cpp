// Output layouts of fetch exits, the word reader, and the reading of an exit's lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "acquire/fetch_exit.h"
#include "acquire/result_sets.h"
#include "runtime/exec.h"
#include "testing/case_names.h"
#include "testing/exit_cursor.h"
#include "testing/log_capture.h"

namespace {

using exit_test::ExitCursor;

// A result set of character columns of the given lengths.
_anchorDBdata* result_set_of(_anchorDBX* a, std::vector<int> lengths) {
    _anchorDBdata* d = DB_DATA_init(a, nullptr, 1);
    _columnData* c = COLUMN_DATA_init(d, static_cast<int>(lengths.size()));
    int at = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        c[i].type = c[i].conv_type = 1;
        c[i].length = c[i].width = lengths[i];
        c[i].offset = at;
        at += lengths[i];
    }
    d->maxRowSize = at + 1;
    return d;
}

struct ParseCase {
    const char* what;
    int format;
    const char* line;
    int filled;
    std::vector<std::string> values;  // each column's value text (length from the row entry)
};

class Layouts : public ::testing::TestWithParam<ParseCase> {};

TEST_P(Layouts, LineToColumnValues) {
    const ParseCase& k = GetParam();
    _anchorDBX* a = DBX_init(nullptr, nullptr, nullptr);
    _anchorDBdata* d = result_set_of(a, {3, 8, 4});
    std::string line = k.line;
    int filled = 0;
    switch (k.format) {
        case 1:
            filled = syntaxParsing(nullptr, d, line.data());
            break;
        case 2:
            filled = simpleParsing(nullptr, d, line.data());
            break;
        case 3:
            filled = tabbedParsing(nullptr, d, line.data());
            break;
        case 5:
            filled = cformatParsing(nullptr, d, line.data());
            break;
    }
    EXPECT_EQ(filled, k.filled);
    _rowData* row = ROW_DATA_get_first(d);
    if (k.values.empty()) {
        EXPECT_EQ(row, nullptr);  // a line that fills nothing adds no row
    } else {
        ASSERT_NE(row, nullptr);
        for (size_t i = 0; i < k.values.size(); ++i)
            EXPECT_EQ(std::string(row->col[i].value, static_cast<size_t>(row->col[i].length)),
                      k.values[i])
                << "column " << i;
    }
    DBX_free(a);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Layouts,
    ::testing::Values(ParseCase{"words", 2, "ab  cdef ghi", 3, {"ab", "cdef", "ghi"}},
                      ParseCase{"quoted_blank_comma", 2, "x \"a b, c\" y", 3, {"x", "a b, c", "y"}},
                      ParseCase{"commas", 2, "1,2 , 3", 3, {"1", "2", "3"}},
                      ParseCase{"cut_to_column", 2, "abcdef", 1, {"abc"}},
                      ParseCase{"unclosed_quote", 2, "a 'b c d", 2, {"a", "'b c d"}},
                      ParseCase{"empty_line", 2, "", 0, {}},
                      ParseCase{"blank_line", 2, "   ", 0, {}},
                      ParseCase{
                          "fixed_width", 1, "abcdefghijklmno", 3, {"abc", "defghijk", "lmno"}},
                      ParseCase{"fixed_short_line", 1, "abcde", 3, {"abc", "de", " "}},
                      ParseCase{"tabbed", 3, "a b\tc\t", 3, {"a b", "c", " "}},
                      ParseCase{"tabbed_short", 3, "abcd", 3, {"abc", " ", " "}},
                      ParseCase{"whole_line", 5, "hi there  ", 3, {"hi", "hi there", "hi t"}}),
    case_names(&ParseCase::what));

TEST(WordReader, EndEmptyAndQuotes) {
    char text[] = "a, 'b c'  \"\"";
    parsed_word w{text, nullptr, nullptr, nullptr, 0};
    ASSERT_EQ(u_getWord(&w), 1);
    EXPECT_EQ(w.start[0], 'a');
    ASSERT_EQ(u_getWord(&w), 3);
    EXPECT_EQ(std::string(w.start, 3), "b c");
    EXPECT_EQ(w.quoted, 1);
    EXPECT_EQ(u_getWord(&w), 0);  // an empty quoted word
    EXPECT_EQ(u_getWord(&w), -1);
    EXPECT_EQ(u_getWord(&w), -1);
}

// Output lines as a runner returns them.
r_exec_chain* chain_of(const std::vector<std::string>& lines) {
    r_exec_chain* head = nullptr;
    r_exec_chain** tail = &head;
    for (const std::string& l : lines) {
        *tail = u_new_r_chain(l.c_str(), static_cast<int32_t>(l.size()));
        tail = &(*tail)->next;
    }
    return head;
}

TEST(ExitLines, SkipAndStopCountDataLinesOnlyAndRelayMessages) {
    LogCapture log;
    ExitCursor x("SKIPPER", {{"V", 30, 1}}, 5, 0, "true");
    curs* c = x.get();
    c->start_after = 2;
    c->stop_after = 3;
    static fetchExitGlobal g;
    g = fetchExitGlobal{};
    setCurs4exit(&g, c, "20260101000000", c->fetch_exit);
    g.results = chain_of({"one", "ABC1234W warned here", "two", "three", "ABCD1234E failed there",
                          "->XYZ9876E data after all", "four", "five"});
    EXPECT_EQ(parseCmdResults(&g), 3);
    EXPECT_EQ(g.results, nullptr);
    auto* d = static_cast<_anchorDBdata*>(c->db_data);
    std::vector<std::string> got;
    for (_rowData* r = ROW_DATA_get_first(d); r; r = ROW_DATA_get_next(r))
        got.emplace_back(r->col[0].value, static_cast<size_t>(r->col[0].length));
    EXPECT_EQ(got, (std::vector<std::string>{"three", "XYZ9876E data after all", "four"}));
    // Message lines are relayed to the log and never become rows.
    EXPECT_TRUE(log.has("ABC1234W warned here"));
    EXPECT_TRUE(log.has("ABCD1234E failed there"));
}

}  // namespace
