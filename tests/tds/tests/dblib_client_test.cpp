// FreeTDS's DB-Library against the test server: login, a batch with two result sets and
// a return status, an RPC with parameters and an output parameter, a severity-16
// message, a dropped connection and a refused login.
#include <gtest/gtest.h>
#include <sybdb.h>
#include <sybfront.h>

#include <string>
#include <vector>

#include "tests/tds/tds_testenv.h"

namespace zovtds {
namespace {

std::vector<std::pair<int, int>> g_msgs;  // server messages: number, severity
std::vector<int> g_errs;                  // DB-Library errors

int msg_handler(DBPROCESS*, DBINT number, int, int severity, char*, char*, char*, int) {
    g_msgs.emplace_back(static_cast<int>(number), severity);
    return 0;
}
int err_handler(DBPROCESS*, int, int dberr, int, char*, char*) {
    g_errs.push_back(dberr);
    return INT_CANCEL;
}

const char* kScenario = R"(
batch exec two_sets
  result name:varchar(20) n:int
  row 'alpha' 1
  row NULL 2
  result f:float
  row 3.25
  message 2601 16 2 Attempt to insert duplicate key row
  status 5
rpc myproc @p1='hello rpc' @p2=42
  result x:int
  row 7
  status 3
  param @out:int 12345
batch select dropped
  result x:int
  row 1
  drop
)";

class DblibClient : public ::testing::Test {
  protected:
    void SetUp() override {
        g_msgs.clear();
        g_errs.clear();
        std::string error;
        ASSERT_TRUE(env.start(kScenario, error)) << error;
        ASSERT_EQ(dbinit(), SUCCEED);
        dbmsghandle(msg_handler);
        dberrhandle(err_handler);
    }
    void TearDown() override {
        if (proc) dbclose(proc);
        dbexit();
    }
    DBPROCESS* open(const char* user) {
        LOGINREC* login = dblogin();
        DBSETLUSER(login, user);
        DBSETLPWD(login, "secret");
        DBSETLAPP(login, "dbclient");
        DBPROCESS* p = dbopen(login, "ZOVTDS");
        dbloginfree(login);
        return p;
    }
    // Reads every result set: rows as text, "|" between sets.
    std::string read_all() {
        std::string out;
        RETCODE rc;
        while ((rc = dbresults(proc)) != NO_MORE_RESULTS) {
            if (rc == FAIL) {
                out += "FAIL|";
                if (DBDEAD(proc)) break;
                continue;
            }
            while (dbnextrow(proc) != NO_MORE_ROWS) {
                out += "(";
                for (int c = 1; c <= dbnumcols(proc); ++c) {
                    if (c > 1) out += ",";
                    BYTE* data = dbdata(proc, c);
                    if (data == nullptr) {
                        out += "NULL";
                        continue;
                    }
                    char buf[64] = "";
                    dbconvert(proc, dbcoltype(proc, c), data, dbdatlen(proc, c), SYBCHAR,
                              reinterpret_cast<BYTE*>(buf), -1);
                    out += buf;
                }
                out += ")";
            }
            if (dbhasretstat(proc)) out += "status " + std::to_string(dbretstatus(proc));
            out += "|";
        }
        return out;
    }
    TestEnv env;
    DBPROCESS* proc = nullptr;
};

TEST_F(DblibClient, BatchWithTwoResultSetsStatusAndMessage) {
    proc = open("sa");
    ASSERT_NE(proc, nullptr);
    EXPECT_EQ(env.server.log()[0].app, "dbclient");
    EXPECT_EQ(env.server.log()[0].library, "DB-Library");
    dbcmd(proc, "exec two_sets");
    ASSERT_EQ(dbsqlexec(proc), SUCCEED);
    EXPECT_EQ(read_all(), "(alpha,1)(NULL,2)|(3.25)status 5||");
    ASSERT_EQ(g_msgs.size(), 1u);
    EXPECT_EQ(g_msgs[0], std::make_pair(2601, 16));
}

TEST_F(DblibClient, ProcedureCallWithParametersAndOutput) {
    proc = open("sa");
    ASSERT_NE(proc, nullptr);
    ASSERT_EQ(dbrpcinit(proc, "myproc", 0), SUCCEED);
    const char* text = "hello rpc";
    dbrpcparam(proc, "@p1", 0, SYBCHAR, -1, 9, reinterpret_cast<BYTE*>(const_cast<char*>(text)));
    DBINT v = 42;
    dbrpcparam(proc, "@p2", 0, SYBINT4, -1, -1, reinterpret_cast<BYTE*>(&v));
    ASSERT_EQ(dbrpcsend(proc), SUCCEED);
    ASSERT_EQ(dbsqlok(proc), SUCCEED);
    EXPECT_EQ(read_all(), "(7)status 3|");
    EXPECT_EQ(dbretstatus(proc), 3);
    ASSERT_EQ(dbnumrets(proc), 1);
    EXPECT_STREQ(dbretname(proc, 1), "@out");
    DBINT out = 0;
    memcpy(&out, dbretdata(proc, 1), sizeof out);
    EXPECT_EQ(out, 12345);
    EXPECT_EQ(log_line(env.server.log().back()), "rpc conn=1 myproc @p1='hello rpc' @p2='42'");
}

TEST_F(DblibClient, DroppedConnectionFails) {
    proc = open("sa");
    ASSERT_NE(proc, nullptr);
    dbcmd(proc, "select dropped");
    RETCODE rc = dbsqlexec(proc);
    std::string trail = rc == SUCCEED ? read_all() : "FAIL";
    EXPECT_NE(trail.find("FAIL"), std::string::npos) << trail;
    EXPECT_FALSE(g_errs.empty());
    EXPECT_TRUE(DBDEAD(proc));
}

TEST_F(DblibClient, RefusedLoginFails) {
    std::string error;
    ASSERT_TRUE(env.set_scenario("login refuse\n", error)) << error;
    EXPECT_EQ(open("sa"), nullptr);
    ASSERT_FALSE(g_msgs.empty());
    EXPECT_EQ(g_msgs[0].first, 4002);
}

TEST_F(DblibClient, UseSwitchesTheDatabase) {
    proc = open("sa");
    ASSERT_NE(proc, nullptr);
    EXPECT_STREQ(dbname(proc), "master");
    ASSERT_EQ(dbuse(proc, "testdb"), SUCCEED);
    EXPECT_STREQ(dbname(proc), "testdb");
}

TEST_F(DblibClient, UnknownStatementIsAServerError) {
    proc = open("sa");
    ASSERT_NE(proc, nullptr);
    dbcmd(proc, "select what");
    EXPECT_EQ(dbsqlexec(proc), FAIL);
    ASSERT_EQ(g_msgs.size(), 1u);
    EXPECT_EQ(g_msgs[0].second, 16);
}

}  // namespace
}  // namespace zovtds
