// Scenario files: what they say and how faults in them are reported.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdlib>
#include <sstream>

#include "tests/tds/tds_scenario.h"

namespace zovtds {
namespace {

TEST(Scenario, ReadsEntriesStepsAndLoginFaults) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(parse_scenario(R"(# a comment
server TESTSERV
login refuse baduser
login delay 250
batch select   a,
  result a:int b:varchar(5) c:numeric(10,2)
  row 1 'it''s' 1.5
  row NULL NULL NULL
  message 5701 10 1 Changed database context to 'master'.
  status 5
match ^select .* from sysprocesses$
  error 208 16 1 sysprocesses not found
rpc myproc 'x y' @p2=42 NULL
  param @out:int 7
  delay 100
  drop
batch select \
  long
  fail
)",
                               s, error))
        << error;
    EXPECT_EQ(s.server_name, "TESTSERV");
    EXPECT_EQ(s.refuse_users, std::vector<std::string>{"baduser"});
    EXPECT_EQ(s.login_delay_ms, 250);
    ASSERT_EQ(s.entries.size(), 4u);
    const Entry& b = s.entries[0];
    EXPECT_EQ(b.text, "select a,");
    ASSERT_EQ(b.answer.steps.size(), 2u);
    const Step& r = b.answer.steps[0];
    ASSERT_EQ(r.rows.size(), 2u);
    EXPECT_EQ(r.rows[0][1].text, "it's");
    EXPECT_TRUE(r.rows[1][0].is_null);
    EXPECT_EQ(r.columns[0].type, kIntN);  // a NULL makes the column nullable
    EXPECT_EQ(r.columns[0].max_length, 4);
    EXPECT_EQ(b.answer.steps[1].text, "Changed database context to 'master'.");
    EXPECT_TRUE(b.answer.has_status);
    EXPECT_TRUE(s.entries[1].answer.fail);
    const Entry& rpc = s.entries[2];
    ASSERT_EQ(rpc.args.size(), 3u);
    EXPECT_EQ(rpc.args[0], std::make_pair(std::string(), std::string("x y")));
    EXPECT_EQ(rpc.args[1], std::make_pair(std::string("@p2"), std::string("42")));
    EXPECT_EQ(rpc.answer.out_params.size(), 1u);
    EXPECT_EQ(s.entries[3].text, "select long");
    EXPECT_TRUE(s.entries[3].answer.fail);
}

TEST(Scenario, FaultsNameTheirLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"row 1\n", "line 1: 'row' before any batch, match or rpc"},
        {"batch x\n  row 1\n", "line 2: row without result"},
        {"batch x\n  result a:int\n  row 1 2\n", "line 3: row has 2 values for 1 columns"},
        {"batch x\n  result a:integer\n", "line 2: unknown type 'integer'"},
        {"batch x\n  result a:int\n  row NULL\n  row abc\n",
         "line 4: not an integer of 4 bytes: abc"},
        {"batch x\n  result a:varchar(2)\n  row 'abc'\n",
         "line 3: text longer than its column: abc"},
        {"batch x\n  delay soon\n", "line 2: delay MS"},
        {"login maybe\n", "line 1: login refuse [user] | login delay MS | login drop"},
        {"match (\n", "line 1: bad pattern"},
        {"rpc p 'open\n", "line 1: unclosed quote"},
        {"batch x\n  frobnicate\n", "line 2: unknown keyword 'frobnicate'"},
        {"batch x\n  repeat 3\n", "line 2: repeat without result"},
        {"batch x\n  result a:int\n  repeat 0\n  row 1\n", "line 3: repeat N"},
        {"batch x\n  result a:int\n  repeat 2\n  message 1 10 1 m\n",
         "line 4: repeat must come before a row"},
        {"batch x\n  result a:int\n  repeat 2\n", "line 3: repeat must come before a row"},
        {"batch x\n  result a:tinyint\n  repeat 300\n  row {i}\n",
         "line 4: not an integer of 1 bytes: 299"},
        {"batch x\n  result a:int\n  row 1\n  drop now\n", "line 4: drop takes no value"},
        {"batch x\n  result a:int\n  row {m}\n", "line 3: bad value form '{m}'"},
        {"batch x\n  result a:int\n  row {1+xn}\n", "line 3: bad value form '{1+xn}'"},
        {"batch x\n  result a:int\n  row {rand 5 1}\n", "line 3: bad value form '{rand 5 1}'"},
        {"batch x\n  result a:int\n  row {rand 1}\n", "line 3: bad value form '{rand 1}'"},
        {"batch x\n  result a:int\n  row {tod-x}\n", "line 3: bad value form '{tod-x}'"},
        {"batch x\n  result a:int\n  row {tod--5}\n", "line 3: bad value form '{tod--5}'"},
        {"batch x\n  result a:varchar(9)\n\n  row 'a{n'\n", "line 4: unclosed '{' in value 'a{n'"},
        {"batch x\n  result a:tinyint\n  row {rand 0 256}\n",
         "line 3: not an integer of 1 bytes: 256"},
        {"batch x\n  result a:smallint\n  row {tod}\n", "line 3: not an integer of 2 bytes: 86399"},
        {"seed many\n", "line 1: seed N"},
    };
    for (const auto& c : cases) {
        Scenario s;
        std::string error;
        EXPECT_FALSE(parse_scenario(c.text, s, error)) << c.text;
        EXPECT_EQ(error, c.error) << c.text;
    }
}

// A break between row lines stays in the result; one after the last row line answers after
// the result's DONE, as a step of its own (so "row; drop" still ends the result first).
TEST(Scenario, RepeatedRowsAndBreaksInsideAResult) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(
        parse_scenario("batch x\n  result a:int b:varchar(9)\n  repeat 4\n"
                       "  row {i} 'n{i}-{i}'\n  delay 50\n  row 9 'x'\n  drop\n"
                       "  row 10 'y'\n  delay 70\n  message 1 10 1 m\n",
                       s, error))
        << error;
    const auto& steps = s.entries[0].answer.steps;
    ASSERT_EQ(steps.size(), 3u);
    const Step& r = steps[0];
    EXPECT_EQ(r.repeat, (std::vector<int64_t>{4, 1, 1}));
    ASSERT_EQ(r.breaks.size(), 2u);
    EXPECT_EQ(r.breaks[0].before_row, 1u);
    EXPECT_FALSE(r.breaks[0].drop);
    EXPECT_EQ(r.breaks[0].delay_ms, 50);
    EXPECT_EQ(r.breaks[1].before_row, 2u);
    EXPECT_TRUE(r.breaks[1].drop);
    EXPECT_EQ(steps[1].kind, Step::Delay);
    EXPECT_EQ(steps[1].delay_ms, 70);
    EXPECT_EQ(steps[2].kind, Step::Message);
    EXPECT_EQ(expand_row_value(r.rows[0][1].text, 12), "n12-12");
    EXPECT_EQ(expand_row_value("plain", 3), "plain");
}

// The values of the first entry's rows over `answers` answers, as the server computes them:
// one string per answer, values joined by ",", rows by ";".
std::vector<std::string> play(const std::string& text, int answers) {
    Scenario s;
    std::string error;
    EXPECT_TRUE(parse_scenario(text, s, error)) << error;
    if (s.entries.empty()) return {};
    ValueState state(s.seed);
    std::vector<std::string> out;
    for (int k = 0; k < answers; ++k) {
        ValueContext ctx;
        ctx.n = state.begin_answer(s.entries[0]);
        ctx.tod = seconds_of_day_now();
        ctx.state = &state;
        std::string one;
        const Step& st = s.entries[0].answer.steps[0];
        for (size_t r = 0; r < st.rows.size(); ++r) {
            for (ctx.i = 0; ctx.i < st.repeat[r]; ++ctx.i) {
                if (!one.empty()) one += ";";
                for (size_t c = 0; c < st.rows[r].size(); ++c)
                    one += (c ? "," : "") + expand_value(st.rows[r][c], ctx);
            }
        }
        out.push_back(one);
    }
    return out;
}

TEST(Scenario, ValueFormsChangeFromOneAnswerToTheNext) {
    const struct {
        const char* text;
        std::vector<std::string> answers;
    } cases[] = {
        // {n} counts this entry's answers from 1; {A+Bn} grows with it.
        {"batch x\n  result a:int b:bigint c:int d:int\n  row {n} {1000+250n} {100+-3n} {7+n}\n",
         {"1,1250,97,8", "2,1500,94,9", "3,1750,91,10"}},
        // Inside quoted text, beside {i} of a repeated row; "{{" is a brace.
        {"batch x\n  result s:varchar(30)\n  repeat 2\n  row 'run {n} copy {i} {{x}'\n",
         {"run 1 copy 0 {x};run 1 copy 1 {x}", "run 2 copy 0 {x};run 2 copy 1 {x}"}},
        // A {rand} whose range is one number; a plain value stays as written.
        {"batch x\n  result a:int b:varchar(5)\n  row {rand 4 4} 'a b'\n", {"4,a b", "4,a b"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(play(c.text, static_cast<int>(c.answers.size())), c.answers) << c.text;

    // A seed repeats its {rand} sequence; another seed gives another; values stay in range.
    const std::string rand7 =
        "seed 7\nbatch x\n  result a:int\n  repeat 20\n  row {rand -5 1000}\n";
    const auto first = play(rand7, 3);
    EXPECT_EQ(play(rand7, 3), first);
    EXPECT_NE(play("seed 8" + rand7.substr(6), 3), first);
    EXPECT_NE(first[0], first[1]);
    for (const auto& answer : first) {
        std::istringstream values(answer);
        for (std::string v; std::getline(values, v, ';');) {
            EXPECT_GE(std::stoi(v), -5);
            EXPECT_LE(std::stoi(v), 1000);
        }
    }

    // {tod} is the second of the day now; {tod-S} lags it by S, wrapping past midnight.
    const auto tod =
        play("batch x\n  result a:int b:int c:int\n  row {tod} {tod-10} {tod-86400}\n", 1);
    ASSERT_EQ(tod.size(), 1u);
    const int now = std::stoi(tod[0]);
    const int lag = std::stoi(tod[0].substr(tod[0].find(',') + 1));
    EXPECT_EQ(lag, (now - 10 + 86400) % 86400);
    EXPECT_EQ(tod[0].substr(tod[0].rfind(',') + 1), std::to_string(now));
    const time_t t = time(nullptr);
    struct tm tm {};
    localtime_r(&t, &tm);
    const int clock = tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
    EXPECT_TRUE(std::abs(clock - now) <= 1 || std::abs(clock - now) == 86399) << tod[0];
}

TEST(Scenario, MatchesBatchesAndRpcs) {
    Scenario s;
    std::string error;
    ASSERT_TRUE(
        parse_scenario("batch SELECT 1\nmatch ^select \\d+ from t$\n"
                       "rpc p @a=1\nrpc p\n",
                       s, error))
        << error;
    EXPECT_EQ(find_batch(s, normalise_sql("  select\n\t1 ")), &s.entries[0]);
    EXPECT_EQ(find_batch(s, "select 42 from t"), &s.entries[1]);
    EXPECT_EQ(find_batch(s, "select x from t"), nullptr);
    std::vector<RpcParam> one{{"@a", "1", false, false}}, other{{"@a", "2", false, false}};
    EXPECT_EQ(find_rpc(s, "P", one), &s.entries[2]);
    EXPECT_EQ(find_rpc(s, "p", other), &s.entries[3]);  // falls through to the catch-all
    EXPECT_EQ(find_rpc(s, "q", one), nullptr);
}

}  // namespace
}  // namespace zovtds
