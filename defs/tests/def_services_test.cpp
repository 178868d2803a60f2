// The syntax error text and the keywords of the definition files.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "defs/def_keywords.h"
#include "defs/syntax_error.h"

namespace {

TEST(Errmsg, ComposesTheSyntaxErrorText) {
    struct c {
        const char* text;
        const char* word;
        int length;
        int position;
        const char* want;
    } cases[] = {
        {"Bad value", "abcdef", 3, 4, "Syntax error - Position = 5 Bad value, Text = abc"},
        {"Bad value", "abcdef", 0, 4, "Syntax error - Position = 5 Bad value"},
        {"Bad value", "abcdef", 6, 0, "Syntax error - Bad value, Text = abcdef"},
        {"", nullptr, 0, 0, "Syntax error - "},
    };
    for (const c& k : cases) {
        failed = 0;
        EXPECT_EQ(errmsg(k.text, k.word, k.length, k.position), -1);
        EXPECT_STREQ(message, k.want);
        EXPECT_EQ(failed, 1);
    }
}

TEST(Errmsg, StaysWithinTheMessageArea) {
    std::string word(400, 'w');
    errmsg("t", word.c_str(), 400, 0);
    std::string m = message;
    EXPECT_EQ(m.size(), 256u);
    EXPECT_EQ(m.substr(0, 25), "Syntax error - t, Text = ");
    std::string text(400, 'x');
    errmsg(text.c_str(), "w", 1, 12);
    EXPECT_EQ(std::strlen(message), 256u);
}

TEST(Keywords, DictionaryEvaluationAndTrace) {
    struct c {
        int (*fn)(const char*, int32_t);
        const char* word;
        int want;
    } cases[] = {
        {test_dict_word, "name", 1},
        {test_dict_word, "TYPE", 2},
        {test_dict_word, "initial", 3},
        {test_dict_word, "NUMBER", 4},
        {test_dict_word, "end", 5},
        {test_dict_word, "Name", 0},
        {test_dict_word, "names", 0},
        {test_dict_word, "", 0},
        {eval_key_word, "eval", 1},
        {eval_key_word, "VALUE", 2},
        {eval_key_word, "cursor", 3},
        {eval_key_word, "COLUMN", 4},
        {eval_key_word, "operator", 5},
        {eval_key_word, "name", 6},
        {eval_key_word, "END", 7},
        {eval_key_word, "Eval", 0},
        {eval_key_word, "ev", 0},
        {eval_key_word, "operators", 0},
        {test_trace_word, "trace", 1},
        {test_trace_word, "TRACEM", 2},
        {test_trace_word, "traced", 3},
        {test_trace_word, "traceall", 4},
        {test_trace_word, "TRACE_ALL", 4},
        {test_trace_word, "show_row", 5},
        {test_trace_word, "SHOW_CURSOR", 6},
        {test_trace_word, "end", 7},
        {test_trace_word, "Trace", 0},
        {test_trace_word, "show_cursors", 0},
    };
    for (const c& k : cases)
        EXPECT_EQ(k.fn(k.word, static_cast<int32_t>(std::strlen(k.word))), k.want) << k.word;
    // The word is compared over the given length only.
    EXPECT_EQ(test_dict_word("name;", 4), 1);
    EXPECT_EQ(test_trace_word("trace_all x", 9), 4);
    EXPECT_EQ(eval_key_word("value", 3), 0);
}

}  // namespace
