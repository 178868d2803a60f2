#include "runtime/env.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/cmdline.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/temp_dir.h"

namespace {

const char* const kVariables[] = {"COLL_HOME",
                                  "COLL_CTL_HOME",
                                  "COLL_BINPATH",
                                  "COLL_OUT",
                                  "COLL_HOSTNAME",
                                  "USER",
                                  "COLL_SERVERID",
                                  "COLL_LOGON",
                                  "COLL_LOGONID",
                                  "COLL_PASSWORD",
                                  "COLL_ERRORLOG",
                                  "COLL_VERSION",
                                  "COLL_VERSION_HOME",
                                  "COLL_PREFIX",
                                  "COLL_PREFIX_LOCAL",
                                  "ZOVLOGDIR",
                                  "MAXREADSZ_ERRORLOG",
                                  "COLL_USESHM",
                                  "COLL_NOSIGNALS",
                                  "ZOVCFGDIR",
                                  "COLL_DBHOME",
                                  "COLL_DBVERSION",
                                  "COLL_DEBUG",
                                  "DSQUERY",
                                  "SYBASE",
                                  "ORACLE_SID",
                                  "PXULV_CELL_NAME",
                                  "ZOVTEST_X",
                                  "ZOVTEST_PASSWORD"};

char** const kTextFields[] = {&env_vars.coll_home,  &env_vars.ctl_home,    &env_vars.bin_home,
                              &env_vars.coll_out,   &env_vars.hostname,    &env_vars.hostlogonid,
                              &env_vars.serverid,   &env_vars.logonid,     &env_vars.password,
                              &env_vars.errorlog,   &env_vars.db_type,     &env_vars.cell_name,
                              &env_vars.tmpdir,     &env_vars.localtmpdir, &env_vars.useshm,
                              &env_vars.config_dir, &env_vars.db_home,     &env_vars.db_version};

void clear_env_vars() {
    for (char** f : kTextFields) u_env_set_field(f, nullptr);
    env_vars.maxreadsz = 0;
    env_vars.nosignals = 0;
}

std::string text(const char* p) { return p ? p : "(null)"; }

// Every test starts from an empty record and without the variables it reads; both are
// restored afterwards.
class EnvTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* v : kVariables) {
            const char* value = std::getenv(v);
            if (value) saved_[v] = value;
            unsetenv(v);
        }
        clear_env_vars();
    }
    void TearDown() override {
        clear_env_vars();
        for (const char* v : kVariables) {
            auto it = saved_.find(v);
            if (it != saved_.end())
                setenv(v, it->second.c_str(), 1);
            else
                unsetenv(v);
        }
        for (auto& l : my_trace_all) l = 0;
    }
    std::map<std::string, std::string> saved_;
};

// ---- u_getenv and u_putenv ----------------------------------------------------------------

struct GetenvCase {
    const char* what;
    const char* value;  // null: unset
    int32_t mode;
    const char* deflt;
    const char* expected;  // null: no value
};

class GetenvTest : public EnvTest, public ::testing::WithParamInterface<GetenvCase> {};

TEST_P(GetenvTest, ValueOrDefault) {
    const GetenvCase& c = GetParam();
    if (c.value) setenv("ZOVTEST_X", c.value, 1);
    char* got = u_getenv("ZOVTEST_X", c.mode, c.deflt);
    EXPECT_EQ(text(got), text(c.expected)) << c.what;
    U_FREE(got);  // always the caller's own copy
}

INSTANTIATE_TEST_SUITE_P(
    Table, GetenvTest,
    ::testing::Values(GetenvCase{"unset", nullptr, 0, nullptr, nullptr},
                      GetenvCase{"set", "v", 0, nullptr, "v"},
                      GetenvCase{"set wins over the default", "v", 0, "d", "v"},
                      GetenvCase{"set but empty is unset", "", 1, nullptr, nullptr},
                      GetenvCase{"default", nullptr, -2, "d", "d"},
                      GetenvCase{"empty default is none", nullptr, 1, "", nullptr},
                      GetenvCase{"default when empty", "", 0, "d", "d"}),
    case_names(&GetenvCase::what));

TEST_F(EnvTest, ModeMinusOnePutsTheDefaultIntoTheEnvironment) {
    char* got = u_getenv("ZOVTEST_X", -1, "x");
    EXPECT_EQ(text(got), "x");
    EXPECT_EQ(text(std::getenv("ZOVTEST_X")), "x");
    U_FREE(got);
    // A set value is not replaced.
    setenv("ZOVTEST_X", "kept", 1);
    got = u_getenv("ZOVTEST_X", -1, "x");
    EXPECT_EQ(text(got), "kept");
    U_FREE(got);
}

TEST_F(EnvTest, PutenvReturnsTheValueInsideTheEntry) {
    char* value = u_putenv("ZOVTEST_X", "abc");
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, "abc");
    EXPECT_EQ(std::getenv("ZOVTEST_X"), value);
    EXPECT_STREQ(value - 10, "ZOVTEST_X=abc");
    EXPECT_EQ(u_putenv(nullptr, "x"), nullptr);
}

// Captures what the message writers print, wherever they print it.
template <class F>
std::string captured(F f) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    f();
    std::string out = ::testing::internal::GetCapturedStdout();
    return out + ::testing::internal::GetCapturedStderr();
}

TEST_F(EnvTest, PasswordsAreNeverTraced) {
    setenv("COLL_PASSWORD", "Sw0rdfish", 1);
    setenv("COLL_LOGON", "sa", 1);
    for (auto& l : my_trace_all) l = 23;
    std::string out = captured([] {
        U_FREE(u_getenv("COLL_PASSWORD", 0, nullptr));
        U_FREE(u_getenv("COLL_LOGON", 0, nullptr));
        U_FREE(u_getenv("ZOVTEST_PASSWORD", 1, "Def4ult"));
        u_putenv("ZOVTEST_PASSWORD", "Put4ed");
        get_envs(&env_vars);
    });
    for (auto& l : my_trace_all) l = 0;
    EXPECT_EQ(out.find("Sw0rdfish"), std::string::npos) << out;
    EXPECT_EQ(out.find("Def4ult"), std::string::npos) << out;
    EXPECT_EQ(out.find("Put4ed"), std::string::npos) << out;
    EXPECT_NE(out.find("COLL_PASSWORD=***"), std::string::npos) << out;
    EXPECT_NE(out.find("COLL_LOGON=sa"), std::string::npos) << out;
    EXPECT_EQ(text(env_vars.password), "Sw0rdfish");
}

// ---- get_envs ------------------------------------------------------------------------

TEST_F(EnvTest, CommandLineValuesWin) {
    setenv("COLL_LOGON", "envuser", 1);
    setenv("COLL_PREFIX", "/envtmp", 1);
    setenv("COLL_PREFIX_LOCAL", "/envlocal", 1);
    setenv("COLL_OUT", "/envout", 1);
    setenv("MAXREADSZ_ERRORLOG", "777", 1);
    std::string w[] = {"zemcoll",   "-logonid", "cmduser", "-tempdir", "/cmdtmp", "-ltempdir",
                       "/cmdlocal", "-logsdir", "/cmdout", "-maxread", "55"};
    char* argv[] = {w[0].data(), w[1].data(), w[2].data(), w[3].data(), w[4].data(),  w[5].data(),
                    w[6].data(), w[7].data(), w[8].data(), w[9].data(), w[10].data(), nullptr};
    EXPECT_EQ(HVM_getenv(11, argv), 11);
    EXPECT_EQ(text(env_vars.logonid), "cmduser");
    EXPECT_EQ(text(env_vars.tmpdir), "/cmdtmp");
    EXPECT_EQ(text(env_vars.localtmpdir), "/cmdlocal");
    EXPECT_EQ(text(env_vars.coll_out), "/cmdout");
    EXPECT_EQ(env_vars.maxreadsz, 55);
}

struct LogonCase {
    const char* logon;    // COLL_LOGON (null: unset)
    const char* logonid;  // COLL_LOGONID
    const char* option;   // -logonid on the command line
    const char* expected;
};

class LogonTest : public EnvTest, public ::testing::WithParamInterface<LogonCase> {};

TEST_P(LogonTest, Precedence) {
    const LogonCase& c = GetParam();
    if (c.logon) setenv("COLL_LOGON", c.logon, 1);
    if (c.logonid) setenv("COLL_LOGONID", c.logonid, 1);
    if (c.option) u_env_set_field(&env_vars.logonid, c.option);
    get_envs(&env_vars);
    EXPECT_EQ(text(env_vars.logonid), text(c.expected));
}

INSTANTIATE_TEST_SUITE_P(Table, LogonTest,
                         ::testing::Values(LogonCase{"a", "b", "cmd", "cmd"},
                                           LogonCase{"a", "b", nullptr, "a"},
                                           LogonCase{nullptr, "b", nullptr, "b"},
                                           LogonCase{"", "b", nullptr, "b"},
                                           LogonCase{"", "", nullptr, nullptr},
                                           LogonCase{nullptr, nullptr, "cmd", "cmd"}),
                         case_names(&LogonCase::logon));

TEST_F(EnvTest, TemporaryDirectoriesAndOutput) {
    setenv("USER", "joe", 1);
    setenv("COLL_HOME", "/home/coll", 1);
    get_envs(&env_vars);
    EXPECT_EQ(text(env_vars.hostlogonid), "joe");
    EXPECT_EQ(text(env_vars.tmpdir), "/tmp/joe");
    EXPECT_EQ(text(env_vars.localtmpdir), "/tmp/joe");
    EXPECT_EQ(text(env_vars.coll_out), "/home/coll");

    clear_env_vars();
    setenv("ZOVLOGDIR", "/var/zov", 1);
    setenv("COLL_PREFIX_LOCAL", "/local", 1);
    get_envs(&env_vars);
    EXPECT_EQ(text(env_vars.tmpdir), "/var/zov/joe");
    EXPECT_EQ(text(env_vars.localtmpdir), "/local");
    EXPECT_EQ(text(env_vars.coll_out), "/local");

    clear_env_vars();
    setenv("COLL_PREFIX", "/pre", 1);
    setenv("COLL_PREFIX_LOCAL", "/pre", 1);
    setenv("COLL_OUT", "/out", 1);
    get_envs(&env_vars);
    EXPECT_EQ(text(env_vars.tmpdir), "/pre");
    EXPECT_EQ(text(env_vars.coll_out), "/out");
    // Every field is a copy of its own: freeing one leaves the others.
    EXPECT_NE(env_vars.tmpdir, env_vars.localtmpdir);
}

TEST_F(EnvTest, DefaultsAndPlainVariables) {
    setenv("COLL_CTL_HOME", "/ctl", 1);
    setenv("COLL_BINPATH", "/bin/zov", 1);
    setenv("COLL_SERVERID", "SRV1", 1);
    setenv("COLL_ERRORLOG", "/log/errorlog", 1);
    setenv("COLL_DBVERSION", "15", 1);
    setenv("COLL_USESHM", "Y", 1);
    setenv("COLL_DBHOME", "/sybase", 1);
    setenv("COLL_NOSIGNALS", "3", 1);
    get_envs(&env_vars);
    EXPECT_EQ(text(env_vars.ctl_home), "/ctl");
    EXPECT_EQ(text(env_vars.bin_home), "/bin/zov");
    EXPECT_EQ(text(env_vars.serverid), "SRV1");
    EXPECT_EQ(text(env_vars.errorlog), "/log/errorlog");
    EXPECT_EQ(text(env_vars.db_version), "15");
    EXPECT_EQ(text(env_vars.useshm), "Y");
    EXPECT_EQ(text(env_vars.db_home), "/sybase");
    EXPECT_EQ(env_vars.nosignals, 3);
    EXPECT_EQ(text(env_vars.db_type), "zov");
    EXPECT_EQ(env_vars.maxreadsz, 20480000);
    EXPECT_EQ(text(env_vars.config_dir), "/ctl");
    EXPECT_EQ(env_vars.cell_name, nullptr);
    EXPECT_EQ(env_vars.process_ctl, nullptr);
    struct utsname u;
    ASSERT_EQ(uname(&u), 0);
    EXPECT_EQ(text(env_vars.hostname), u.nodename);
    EXPECT_NE(text(env_vars.hostlogonid), "(null)");
    EXPECT_NE(text(env_vars.coll_home), "(null)");
    EXPECT_EQ(text(env_vars.ctl_home), "/ctl");
}

TEST_F(EnvTest, LaterCallsFillOnlyWhatIsEmpty) {
    setenv("COLL_SERVERID", "FIRST", 1);
    setenv("COLL_VERSION_HOME", "zem15", 1);
    setenv("MAXREADSZ_ERRORLOG", "99", 1);
    get_envs(&env_vars);
    setenv("COLL_SERVERID", "SECOND", 1);
    setenv("MAXREADSZ_ERRORLOG", "11", 1);
    get_envs(&env_vars);
    EXPECT_EQ(text(env_vars.serverid), "FIRST");
    EXPECT_EQ(text(env_vars.db_type), "zem15");
    EXPECT_EQ(env_vars.maxreadsz, 99);
}

// COLL_DEBUG is read by the first get_envs of a process only, so these run in a process of
// their own; each exits 0 when the levels are right.
[[noreturn]] void coll_debug_child() {
    std::string w[] = {"zemcoll", "-dddzzz", "-d"};
    char* argv[] = {w[0].data(), w[1].data(), w[2].data(), nullptr};
    setenv("COLL_DEBUG", "xde", 1);
    HVM_getenv(3, argv);
    bool ok = my_trace_all[0] == 1 && my_trace_all[1] == 2 && my_trace_all[2] == 0 &&
              my_trace_all[8] == 0 && trace_all == 1;
    // A second call does not read it again.
    setenv("COLL_DEBUG", "dzzz", 1);
    get_envs(&env_vars);
    ok = ok && my_trace_all[0] == 1 && my_trace_all[1] == 2;
    _exit(ok ? 0 : 1);
}

[[noreturn]] void debug_option_child() {
    std::string w[] = {"zemcoll", "-debug"};
    char* argv[] = {w[0].data(), w[1].data(), nullptr};
    HVM_getenv(2, argv);
    _exit(my_trace_all[0] == 23 && my_trace_all[8] == 23 && my_trace_all[9] == 0 ? 0 : 1);
}

TEST_F(EnvTest, CollDebugReplacesTheCommandLineLevels) {
    CfgFreshProcessDeathTests fresh;
    EXPECT_EXIT(coll_debug_child(), ::testing::ExitedWithCode(0), "");
    EXPECT_EXIT(debug_option_child(), ::testing::ExitedWithCode(0), "");
}

// ---- u_retrieveEnvVar ------------------------------------------------------------------

TEST_F(EnvTest, RetrieveByNameInAnyCase) {
    setenv("COLL_SERVERID", "SRV9", 1);
    EXPECT_EQ(text(u_retrieveEnvVar("coll_serverid")), "SRV9");
    EXPECT_EQ(u_retrieveEnvVar("coll_serverid"), env_vars.serverid);  // the field itself
    setenv("PXULV_CELL_NAME", "cell", 1);
    EXPECT_EQ(text(u_retrieveEnvVar("Pxulv_Cell_Name")), "cell");
    EXPECT_EQ(u_retrieveEnvVar("COLL_OUT"), nullptr);  // not one of the ten
    EXPECT_EQ(u_retrieveEnvVar(nullptr), nullptr);
    // A set field is not read again.
    setenv("COLL_SERVERID", "OTHER", 1);
    EXPECT_EQ(text(u_retrieveEnvVar("COLL_SERVERID")), "SRV9");
}

struct FallbackCase {
    const char* db_type;
    const char* name;
    const char* variable;
    const char* expected;
};

class RetrieveFallbackTest : public EnvTest, public ::testing::WithParamInterface<FallbackCase> {};

TEST_P(RetrieveFallbackTest, DatabaseTypeVariables) {
    const FallbackCase& c = GetParam();
    u_env_set_field(&env_vars.db_type, c.db_type);
    if (c.variable) setenv(c.variable, "fromdb", 1);
    EXPECT_EQ(text(u_retrieveEnvVar(c.name)), text(c.expected));
    if (c.variable) unsetenv(c.variable);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RetrieveFallbackTest,
    ::testing::Values(FallbackCase{"zem11", "COLL_SERVERID", "DSQUERY", "fromdb"},
                      FallbackCase{"zem11", "COLL_DBHOME", "SYBASE", "fromdb"},
                      FallbackCase{"zyp", "COLL_SERVERID", "ORACLE_SID", "fromdb"},
                      FallbackCase{"zov", "COLL_SERVERID", "DSQUERY", nullptr},
                      FallbackCase{"zem", "COLL_LOGON", "DSQUERY", nullptr}),
    case_names(&FallbackCase::name));

// ---- u_db_type -------------------------------------------------------------------------

struct DbTypeCase {
    const char* db_type;
    const char* code;
    const char* alias1;
    const char* alias2;
    const char* alias3;
};

class DbTypeTest : public ::testing::TestWithParam<DbTypeCase> {};

bool same(const char* a, const char* b) { return (!a && !b) || (a && b && std::strcmp(a, b) == 0); }

[[noreturn]] void db_type_child(const DbTypeCase& c) {
    env_vars.db_type = const_cast<char*>(c.db_type);
    bool ok = same(u_db_type(0), c.code) && same(u_db_type(1), c.alias1) &&
              same(u_db_type(2), c.alias2) && same(u_db_type(3), c.alias3) &&
              u_db_type(4) == nullptr && u_db_type(-1) == nullptr;
    // A later change of db_type changes nothing.
    env_vars.db_type = const_cast<char*>("zyp");
    ok = ok && same(u_db_type(0), c.code) && same(u_db_type(1), c.alias1);
    _exit(ok ? 0 : 1);
}

// The codes are fixed on first use, so each case runs in a process of its own.
TEST_P(DbTypeTest, CodesAreFixedOnFirstUse) {
    CfgFreshProcessDeathTests fresh;
    EXPECT_EXIT(db_type_child(GetParam()), ::testing::ExitedWithCode(0), "");
}

INSTANTIATE_TEST_SUITE_P(Table, DbTypeTest,
                         ::testing::Values(DbTypeCase{"Sybase", "zem", nullptr, nullptr, nullptr},
                                           DbTypeCase{"ORA8", "qel", nullptr, nullptr, nullptr},
                                           DbTypeCase{"", "und", nullptr, nullptr, nullptr},
                                           DbTypeCase{nullptr, "und", nullptr, nullptr, nullptr},
                                           DbTypeCase{"xyz", "unk", nullptr, nullptr, nullptr},
                                           DbTypeCase{"ZEM15", "zem", nullptr, nullptr, nullptr},
                                           DbTypeCase{"zyp", "zyp", "qel", nullptr, nullptr},
                                           DbTypeCase{"DB2", "wef", "db2", nullptr, nullptr},
                                           DbTypeCase{"qaa", "qaa", "xxx", "yyy", "zzz"},
                                           DbTypeCase{"inf7", "gim", nullptr, nullptr, nullptr},
                                           DbTypeCase{"sql2000", "vik", nullptr, nullptr, nullptr}),
                         case_names(&DbTypeCase::db_type));

[[noreturn]] void alias_first_child() {
    env_vars.db_type = const_cast<char*>("zyp");
    bool ok = u_db_type(1) == nullptr && same(u_db_type(0), "zyp") && u_db_type(1) == nullptr;
    _exit(ok ? 0 : 1);
}

TEST(DbType, AnAliasAskedForBeforeTheCodeStaysAbsent) {
    CfgFreshProcessDeathTests fresh;
    EXPECT_EXIT(alias_first_child(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
