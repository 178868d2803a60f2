#include "defs/evaluation_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "defs/evaluation.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "testing/def_file_support.h"
#include "testing/log_capture.h"

namespace {

// Cursors SYSMON and LOCKS on cur_anchor.
class EvaluationFile : public ::testing::Test {
  protected:
    void SetUp() override {
        sysmon = make("SYSMON");
        locks = make("LOCKS");
        sysmon->next = locks;
        cur_anchor = sysmon;
    }
    void TearDown() override {
        clear();
        U_FREE(sysmon);
        U_FREE(locks);
        cur_anchor = nullptr;
    }
    static curs* make(const char* name) {
        curs* c = curs_new();
        std::strcpy(c->cur_name, name);
        return c;
    }
    // Frees the evaluations hung on the cursors.
    void clear() {
        for (curs* c : {sysmon, locks}) {
            for (evaluation* e = c->evaluation; e != nullptr;) {
                evaluation* next = e->next;
                U_FREE(e->string);
                U_FREE(e);
                e = next;
            }
            c->evaluation = nullptr;
            c->has_col_funct = 0;
        }
    }
    // A file reads one statement per line: each "; " of the text ends a line.
    static int parse(const std::string& text) {
        return deftest::parse_lines(parse_eval_file, text);
    }
    static std::vector<std::string> chain(const curs* c) {
        std::vector<std::string> out;
        for (evaluation* e = c->evaluation; e != nullptr; e = e->next)
            out.push_back(std::string(e->eval_name) + "#" + std::to_string(e->ordinal));
        return out;
    }

    curs* sysmon = nullptr;
    curs* locks = nullptr;
};

TEST_F(EvaluationFile, HighCpuExample) {
    LogCapture log;
    ASSERT_EQ(parse("eval HIGHCPU; cursor SYSMON; column HW!CPU_BUSY; operator >=; value 90; end;"),
              0)
        << log.text();
    evaluation* e = sysmon->evaluation;
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->next, nullptr);
    EXPECT_STREQ(e->eval_name, "HIGHCPU");
    EXPECT_STREQ(e->cur_name, "SYSMON");
    EXPECT_EQ(e->col_function, COLF_HIGH_WATER);
    EXPECT_STREQ(e->col_name, "CPU_BUSY");
    EXPECT_EQ(e->col_name_ll, 8);
    EXPECT_EQ(e->operatr[EVAL_LESS], 0);
    EXPECT_EQ(e->operatr[EVAL_EQUAL], 1);
    EXPECT_EQ(e->operatr[EVAL_GREATER], 1);
    EXPECT_EQ(e->val_type, EVAL_NUMERIC);
    EXPECT_EQ(e->value, 90.0);
    ASSERT_NE(e->string, nullptr);
    EXPECT_STREQ(e->string, "90");
    EXPECT_EQ(e->string_ll, 2);
    EXPECT_EQ(e->ordinal, 1);
    EXPECT_EQ(e->status, 0);
    EXPECT_EQ(e->prior_status, 0);
    EXPECT_EQ(e->false_row, nullptr);
    // A column function of an evaluation leaves its cursor serving its own rows.
    EXPECT_EQ(sysmon->has_col_funct, 0);
    EXPECT_EQ(locks->evaluation, nullptr);
}

TEST_F(EvaluationFile, SingleEvaluations) {
    struct c {
        std::string body;  // statements between "eval E; cursor SYSMON;" and "end;"
        int rc;
        const char* logged;
        std::function<void(const evaluation&)> check;  // on the evaluation, when kept
    } cases[] = {
        {"column C; operator <>; value 1;", 0, nullptr,
         [](const evaluation& e) {
             EXPECT_EQ(e.operatr[EVAL_LESS], 1);
             EXPECT_EQ(e.operatr[EVAL_EQUAL], 0);
             EXPECT_EQ(e.operatr[EVAL_GREATER], 1);
         }},
        {"column C; operator <; operator =; value 1;", 0, nullptr,
         [](const evaluation& e) {
             EXPECT_EQ(e.operatr[EVAL_LESS], 1);
             EXPECT_EQ(e.operatr[EVAL_EQUAL], 1);
             EXPECT_EQ(e.operatr[EVAL_GREATER], 0);
         }},
        {"column C; operator !=; value 1;", 1, "Invalid operator", nullptr},
        {"column C; operator gte; value 1;", 1, "Invalid operator", nullptr},
        {"column C; operator gt; value 1;", 1, "Invalid operator", nullptr},
        {"column C; operator =; value 'abc';", 0, nullptr,
         [](const evaluation& e) {
             EXPECT_EQ(e.val_type, EVAL_TEXT);
             EXPECT_STREQ(e.string, "abc");
             EXPECT_EQ(e.string_ll, 3);
         }},
        {"column C; operator =; value \"a b\";", 0, nullptr,
         [](const evaluation& e) { EXPECT_STREQ(e.string, "a b"); }},
        {"column C; operator =; value idle;", 0, nullptr,
         [](const evaluation& e) {
             EXPECT_EQ(e.val_type, EVAL_TEXT);
             EXPECT_STREQ(e.string, "idle");
         }},
        {"column C; operator >; value -2.5E1;", 0, nullptr,
         [](const evaluation& e) {
             EXPECT_EQ(e.val_type, EVAL_NUMERIC);
             EXPECT_EQ(e.value, -25.0);
         }},
        {"column C; operator >; value 1 'two';", 0, nullptr,
         [](const evaluation& e) {
             EXPECT_EQ(e.val_type, EVAL_TEXT);
             EXPECT_STREQ(e.string, "two");
         }},
        {"column avg!C; operator >; value 1;", 0, nullptr,
         [](const evaluation& e) { EXPECT_EQ(e.col_function, COLF_AVG); }},
        {"column WAVG!C; operator >; value 1;", 0, nullptr,
         [](const evaluation& e) { EXPECT_EQ(e.col_function, COLF_WAVG); }},
        {"column count!C; operator >; value 1;", 0, nullptr,
         [](const evaluation& e) { EXPECT_EQ(e.col_function, COLF_COUNT); }},
        {"column Avg!C; operator >; value 1;", 0, nullptr,
         [](const evaluation& e) {
             EXPECT_EQ(e.col_function, COLF_NONE);
             EXPECT_STREQ(e.col_name, "Avg!C");
         }},
        {"column " + std::string(32, 'K') + "; operator >; value 1;", 0, nullptr,
         [](const evaluation& e) { EXPECT_EQ(e.col_name_ll, 32); }},
        {"column " + std::string(33, 'K') + "; operator >; value 1;", 1, "Column Name too long",
         nullptr},
        {"column COUNT!; operator >; value 1;", 1, "No Column name", nullptr},
        {"column C; column D; operator >; value 1;", 1, "Duplicate Column Name C", nullptr},
        {"column C; operator >;", 1, "No Value specified", nullptr},
        {"column C; value 1;", 1, "No Operator", nullptr},
        {"operator >; value 1;", 1, "No Column name", nullptr},
        {"cursor LOCKS; column C; operator >; value 1;", 1, "Duplicate Cursor Name", nullptr},
        {"name OTHER; column C; operator >; value 1;", 1, "Duplicate evaluation name", nullptr},
        {"column C; operator >; value ( 1;", 1, "Parentheses do not balance", nullptr},
        {"column C; operator >; value 'abc;", 1, "Parsing failed : Syntax error", nullptr},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.body);
        LogCapture log;
        EXPECT_EQ(parse("eval E; cursor SYSMON; " + k.body + " end;"), k.rc) << log.text();
        if (k.logged != nullptr) {
            EXPECT_TRUE(log.has(k.logged)) << log.text();
        }
        if (k.check) {
            ASSERT_NE(sysmon->evaluation, nullptr);
            k.check(*sysmon->evaluation);
        }
        if (k.rc != 0) {
            EXPECT_EQ(sysmon->evaluation, nullptr);
        }
        clear();
    }
}

TEST_F(EvaluationFile, ChainIsNewestFirstWithOrdinalsInFileOrder) {
    LogCapture log;
    ASSERT_EQ(parse("eval A; cursor SYSMON; column C; operator >; value 1;\n"
                    "eval B; cursor LOCKS; column C; operator >; value 1;\n"
                    "eval C; cursor SYSMON; column C; operator <; value 1;\n"
                    "end;"),
              0)
        << log.text();
    EXPECT_EQ(chain(sysmon), (std::vector<std::string>{"C#3", "A#1"}));
    EXPECT_EQ(chain(locks), (std::vector<std::string>{"B#2"}));
    EXPECT_EQ(sysmon->has_col_funct, 0);
}

TEST_F(EvaluationFile, UnknownCursorDropsOnlyThatEvaluation) {
    LogCapture log;
    EXPECT_EQ(parse("eval A; cursor NOSUCH; column C; operator >; value 1;\n"
                    "eval B; cursor SYSMON; column C; operator >; value 1;\n"
                    "eval C; cursor sysmon; column C; operator >; value 1;\n"
                    "eval D; cursor SYSMON; column C; operator >; value 1;\n"
                    "end;"),
              1);
    EXPECT_TRUE(log.has("Cursor named NOSUCH not found"));
    EXPECT_TRUE(log.has("Cursor named sysmon not found"));
    // The dropped evaluations still use up their numbers.
    EXPECT_EQ(chain(sysmon), (std::vector<std::string>{"D#4", "B#2"}));
}

TEST_F(EvaluationFile, ValueErrorSkipsLaterValueStatements) {
    LogCapture log;
    EXPECT_EQ(parse("eval A; cursor ABCDEFGHI; column C; operator >; value 1;\n"
                    "eval B; cursor SYSMON; column C; operator >; value 1;\n"
                    "end;"),
              1);
    EXPECT_TRUE(log.has("Excessive length on Cursor Name"));
    // A's cursor was refused, so A is incomplete and the reading stops there.
    EXPECT_TRUE(log.has("No Cursor name"));
    EXPECT_EQ(chain(sysmon), std::vector<std::string>{});
}

TEST_F(EvaluationFile, StatementsThatStopTheReading) {
    struct c {
        std::string text;
        const char* logged;
    } cases[] = {
        {"cursor SYSMON; eval A;", "First word must be 'eval'"},
        {"end;", "First word must be 'eval'"},
        {"evaluate A;", "Unknown keyword (evaluate)"},
        {"'eval A;", "Parsing failed : Syntax error"},
        {"eval " + std::string(36, 'E') + ";", "Excessive length on evaluation name"},
        {"eval A; cursor SYSMON; column C; value 1; eval B; cursor SYSMON; column C; "
         "operator >; value 1; end;",
         "No Operator"},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.text);
        LogCapture log;
        EXPECT_EQ(parse(k.text), 1);
        EXPECT_TRUE(log.has(k.logged)) << log.text();
        EXPECT_EQ(sysmon->evaluation, nullptr);
        clear();
    }
}

TEST_F(EvaluationFile, NamesAndTheEndOfTheFile) {
    LogCapture log;
    // A name of 35 characters fits; an evaluation named on its end statement opens; an
    // evaluation still open at the end of the file is dropped without a message.
    std::string name(35, 'N');
    EXPECT_EQ(parse("eval " + name +
                    "; cursor SYSMON; column C; operator >; value 1;\n"
                    "end B; cursor LOCKS; column C; operator >; value 1;\n"
                    "eval D; cursor LOCKS; column C; operator >; value 1;"),
              0)
        << log.text();
    EXPECT_EQ(chain(sysmon), std::vector<std::string>{name + "#1"});
    EXPECT_EQ(chain(locks), (std::vector<std::string>{"B#2"}));
}

TEST_F(EvaluationFile, FileIsFoundBySearchAndMissingFileFails) {
    LogCapture log;
    deftest::definition_home home;
    EXPECT_EQ(parse_eval(), 1);
    home.write("eval", "eval A;\ncursor LOCKS;\ncolumn C;\noperator =;\nvalue 0;\nend;\n");
    EXPECT_EQ(parse_eval(), 0) << log.text();
    EXPECT_EQ(chain(locks), std::vector<std::string>{"A#1"});
}

}  // namespace
