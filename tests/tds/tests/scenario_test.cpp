// Scenario files: what they say and how faults in them are reported.
#include <gtest/gtest.h>

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
