// Host variables in select statements: the first execution that parses and binds, and the
// replay of the kept chain.
#include "collector/transforms/host_vars.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "collector/transforms/in_lists.h"
#include "defs/clause_loads.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"
#include "testing/log_capture.h"

namespace {

// A consumer cursor with its statement text; frees its pieces and text at the end.
struct Consumer {
    cursortest::cursor rc{"Q", {}};
    explicit Consumer(const std::string& sql) {
        curs* c = rc.get();
        c->raw_insert_select = static_cast<char*>(U_MALLOC(sql.size() + 1));
        std::memcpy(c->raw_insert_select, sql.c_str(), sql.size() + 1);
        c->has_hvs_in_sel = 1;
    }
    ~Consumer() {
        free_sel_pieces(rc.get()->sel_piece);
        U_FREE(rc.get()->raw_insert_select);
    }
    curs* get() { return rc.get(); }
    // One execution: its result and the statement when it succeeded.
    std::pair<int, std::string> run() {
        std::vector<char> out(hv_statement_size, '\x7f');
        const int n = set_hvs_in_sel(get(), out.data());
        return {n, n > 0 ? std::string(out.data()) : std::string()};
    }
};

// The cursors of one test on a list of their own (other tests may leave theirs on
// cur_anchor, set aside but reachable).
struct OwnCursorList {
    curs* saved = cur_anchor;
    OwnCursorList() { cur_anchor = nullptr; }
    ~OwnCursorList() { cur_anchor = saved; }
};

struct HostVars : ::testing::Test {
    OwnCursorList own;
    cursortest::cursor procs{"PROCS", {{"SPID", 6, 2}, {"LOGIN", 10, 1}, {"DBNAME", 8, 1}}};
    cursortest::cursor pct{"%CURSOR", {{"%me", 8, 1}}};
    cursortest::cursor dbs{"DBLIST", {{"NAME", 8, 1}}};
    in_list list{};
    HostVars() {
        procs.add({"    42", "sa", "master"});
        pct.add({"SRV1"});
        std::strcpy(list.name, "USERDBS");
        std::strcpy(list.column, "NAME");
        list.column_ll = 4;
        list.text = default_in_list;
        list.len = 9;
        dbs.get()->in_list = &list;
    }
    ~HostVars() override {
        if (list.text != default_in_list) U_FREE(list.text);
        dbs.get()->in_list = nullptr;
    }
    void set_login(const char* v) {
        std::string field(10, ' ');
        field.replace(0, std::strlen(v), v);
        std::memcpy(procs.get()->last_row->text + procs.get()->insert_columns->next->offset,
                    field.data(), 10);
    }
};

TEST_F(HostVars, ValuesInTheirThreeFormsAndReplayGivesTheSame) {
    const struct {
        const char* login;  // PROCS.LOGIN in the last row
        const char* sql;
        const char* expected;
    } cases[] = {
        {"sa", "where spid = [PROCS.SPID and x", "where spid =     42 and x"},
        {"sa", "where login = [PROCS.LOGIN or 1", "where login = 'sa' or 1"},
        {"sa", "exec ![PROCS.LOGIN,1", "exec sa,1"},
        {"", "where login = [PROCS.LOGIN", "where login = ' '"},
        {"", "exec ![PROCS.LOGIN)", "exec )"},
        {"sa", "x([PROCS.3)", "x('master')"},
        {"sa", "x([ PROCS . 0)", "x(    42)"},
        {"sa", "a[1] and b[xxxxxxxxxxxxx", "a[1] and b[xxxxxxxxxxxxx"},
        {"sa", "me = [%me", "me = 'SRV1'"},
        {"sa", "me = [ignored%me end", "me = 'SRV1' end"},
        {"o'neil", "where login = [PROCS.LOGIN", "where login = 'o''neil'"},
    };
    for (const auto& k : cases) {
        set_login(k.login);
        Consumer q(k.sql);
        auto [n, text] = q.run();
        EXPECT_EQ(text, k.expected) << k.sql;
        EXPECT_EQ(n, static_cast<int>(std::strlen(k.expected))) << k.sql;
        ASSERT_NE(q.get()->sel_piece, nullptr) << k.sql;
        auto [n2, replay] = q.run();
        EXPECT_EQ(replay, k.expected) << "replay of " << k.sql;
        EXPECT_EQ(n2, n);
    }
}

// Row values are any client's data: one that would change the statement is refused, for
// this run only.
TEST_F(HostVars, AValueThatIsNoSafeTextIsRefused) {
    const struct {
        const char* login;
        const char* spid;
        const char* sql;
    } cases[] = {
        {"a;drop", "    42", "exec ![PROCS.LOGIN"},
        {"a b", "    42", "exec ![PROCS.LOGIN"},
        {"sa", "1 or 1", "where spid = [PROCS.SPID"},
    };
    for (const auto& k : cases) {
        set_login(k.login);
        std::memcpy(procs.get()->last_row->text, k.spid, 6);
        Consumer q(k.sql);
        LogCapture log;
        EXPECT_EQ(q.run().first, -1) << k.sql;
        EXPECT_TRUE(log.has("CMG3237")) << log.text();
        EXPECT_EQ(q.get()->sel_piece, nullptr) << "the next run parses again";
    }
}

TEST_F(HostVars, UnboundReferencesGiveZeroAndNoRowsFailTheRunOnly) {
    const struct {
        const char* sql;
        const char* id;
    } unbound[] = {
        {"x = [NOPE.SPID", "CMG3205"},
        {"x = [PROCS.NOPE", "CMG3230"},
        {"x = [%nope", "CMG3232"},
    };
    for (const auto& k : unbound) {
        Consumer q(k.sql);
        LogCapture log;
        EXPECT_EQ(q.run().first, 0) << k.sql;
        EXPECT_TRUE(log.has(k.id)) << log.text();
    }

    procs.clear_rows();
    Consumer q("x = [PROCS.LOGIN y");
    {
        LogCapture log;
        EXPECT_EQ(q.run().first, -1);
        EXPECT_TRUE(log.has("CMG3235")) << log.text();
        EXPECT_EQ(q.get()->sel_piece, nullptr);
    }
    procs.add({"1", "bob"});
    EXPECT_EQ(q.run().second, "x = 'bob' y");
    procs.clear_rows();
    LogCapture log;
    EXPECT_EQ(q.run().first, -1);  // the replay
    EXPECT_TRUE(log.has("CMG3245")) << log.text();
    EXPECT_NE(q.get()->sel_piece, nullptr) << "a bound chain is kept";
}

TEST_F(HostVars, AnInListNotYetBuiltHoldsTheCursorAndALaterRunSendsTheList) {
    ASSERT_EQ(edit_in_lists_pass(), 0);
    Consumer q("select * from t where db in [DBLIST.USERDBS order by 1");
    {
        LogCapture log;
        EXPECT_EQ(q.run().second, "select * from t where db in ( 'ZIP' ) order by 1");
        EXPECT_EQ(q.get()->held, 'Y');
        EXPECT_TRUE(log.has("CMG3220")) << log.text();
    }
    dbs.add({"pubs2"});
    dbs.add({"model"});
    build_in_list(dbs.get());
    EXPECT_EQ(q.run().second, "select * from t where db in ( 'pubs2' , 'model' ) order by 1");

    // A list that makes the statement longer than its buffer fails the run.
    for (int i = 0; i < 4000; ++i) dbs.add({"database"});
    build_in_list(dbs.get());
    LogCapture log;
    EXPECT_EQ(q.run().first, -1);
    EXPECT_TRUE(log.has("YPP0207")) << log.text();
}

TEST(ExtractColName, StopsAtATerminatorAndCutsLongNames) {
    char text[] = "col_a+1";
    char* p = text;
    char name[300] = {};
    extract_col_name(&p, name);
    EXPECT_STREQ(name, "col_a");
    EXPECT_EQ(*p, '+');

    std::string longname(400, 'x');
    longname += ")";
    p = longname.data();
    char cut[300] = {};
    extract_col_name(&p, cut);
    EXPECT_EQ(std::strlen(cut), 299u);
    EXPECT_EQ(*p, ')');
}

}  // namespace
