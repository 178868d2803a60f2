// The collector's start-up: its command line, the database identity, the host identity,
// the required configuration and the order of the cursor steps.
#include "collector/startup/startup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "collector/startup/engine_hooks.h"
#include "collector/tests/engine_test_support.h"
#include "defs/dictionary.h"
#include "defs/dictionary_file.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "runtime/env.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/cursor_test_support.h"
#include "testing/log_capture.h"
#include "testing/temp_dir.h"

namespace {

using colltest::CleanEnvVars;
using colltest::quit_called;
using colltest::QuitTrap;

std::string text_of(const char* s) { return s != nullptr ? s : "<unset>"; }

std::string dict_text() {
    std::string out;
    for (dict_parms* p = dict_parms_anchor; p != nullptr; p = p->next)
        out += std::string(p->name) + "=" + p->initial + ";";
    return out;
}

std::string levels_text() {
    std::string out;
    for (int i = 0; i < 10; ++i) out += my_trace_all[i] != 0 ? '1' : '0';
    return out;
}

struct argv_case {
    const char* name;
    std::vector<const char*> words;  // after the program name
    const char* field;               // env_vars field looked at
    const char* value;               // its expected value (null: unset)
    const char* dict;                // expected dictionary parameters
    const char* levels;              // expected trace levels
    int trace_all;
    const char* general;  // words left to the general pass, blank-separated
};

class ParseArgv : public ::testing::TestWithParam<argv_case> {
  protected:
    void SetUp() override {
        std::memset(my_trace_all, 0, sizeof my_trace_all);
        trace_all = trace_something = 0;
    }
    void TearDown() override {
        colltest::free_dict_parms(true);
        std::memset(my_trace_all, 0, sizeof my_trace_all);
        trace_all = trace_something = 0;
    }
    CleanEnvVars env_;
    LogCapture log_;
};

char* const* field_of(const std::string& name) {
    if (name == "serverid") return &env_vars.serverid;
    if (name == "db_type") return &env_vars.db_type;
    if (name == "tmpdir") return &env_vars.tmpdir;
    if (name == "logonid") return &env_vars.logonid;
    if (name == "errorlog") return &env_vars.errorlog;
    if (name == "coll_home") return &env_vars.coll_home;
    if (name == "coll_out") return &env_vars.coll_out;
    return nullptr;
}

TEST_P(ParseArgv, SetsWhatEachWordMeans) {
    const argv_case& c = GetParam();
    std::vector<std::string> store = {"zemcoll"};
    for (const char* w : c.words) store.emplace_back(w);
    std::vector<char*> argv;
    for (auto& s : store) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<char*> general;
    EXPECT_EQ(parse_argv(static_cast<int>(argv.size()) - 1, argv.data(), &general), 1);

    if (c.field != nullptr) {
        char* const* f = field_of(c.field);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(text_of(*f), text_of(c.value)) << c.field;
    }
    EXPECT_EQ(dict_text(), c.dict);
    EXPECT_EQ(levels_text(), c.levels);
    EXPECT_EQ(trace_all, c.trace_all);
    std::string left;
    for (size_t i = 1; i < general.size(); ++i)
        left += (i > 1 ? " " : "") + std::string(general[i]);
    EXPECT_EQ(left, c.general);
    ASSERT_FALSE(general.empty());
    EXPECT_STREQ(general[0], "zemcoll");
}

const char* const none = "0000000000";

INSTANTIATE_TEST_SUITE_P(
    Words, ParseArgv,
    ::testing::Values(
        argv_case{"full", {"-rdbms", "SRV1"}, "serverid", "SRV1", "", none, 0, ""},
        argv_case{"abbreviated", {"-rdb", "SRV1"}, "serverid", "SRV1", "", none, 0, ""},
        argv_case{"glued", {"-rdbmsSRV1"}, "serverid", "SRV1", "", none, 0, ""},
        argv_case{"glued_to_abbreviation",
                  {"-rdbSRV1", "x"},
                  "serverid",
                  nullptr,
                  "rdbSRV1=x;",
                  none,
                  0,
                  ""},
        argv_case{"capitals", {"-RDBMS", "SRV1"}, "serverid", "SRV1", "", none, 0, ""},
        argv_case{"below_minimum", {"-tem", "x"}, "tmpdir", nullptr, "tem=x;", none, 0, ""},
        argv_case{"at_minimum", {"-temp", "x"}, "tmpdir", "x", "", none, 0, ""},
        argv_case{"console_takes_no_value",
                  {"-console", "-rdbms", "S"},
                  "serverid",
                  "S",
                  "",
                  none,
                  0,
                  ""},
        argv_case{"log_is_logonid_only", {"-log", "sa"}, "errorlog", nullptr, "", none, 0, ""},
        argv_case{"log_sets_logonid", {"-log", "sa"}, "logonid", "sa", "", none, 0, ""},
        argv_case{"logsdir_is_coll_home", {"-logsdir", "/l"}, "coll_home", "/l", "", none, 0, ""},
        argv_case{
            "logsdir_is_also_coll_out", {"-logsdir", "/l"}, "coll_out", "/l", "", none, 0, ""},
        argv_case{"dbt_is_dbtype", {"-dbt", "syb"}, "db_type", "syb", "", none, 0, ""},
        argv_case{"parameter", {"-owner", "SYS"}, nullptr, nullptr, "owner=SYS;", none, 0, ""},
        argv_case{"d_is_level_0", {"-d"}, nullptr, nullptr, "", "1000000000", 1, ""},
        argv_case{"ddd", {"-ddd"}, nullptr, nullptr, "", "1110000000", 1, ""},
        argv_case{"dxd", {"-dxd"}, nullptr, nullptr, "", "1010000000", 1, ""},
        argv_case{"capital_D_no_level", {"-D"}, nullptr, nullptr, "", none, 1, ""},
        argv_case{"db_is_trace_switch", {"-db", "x"}, nullptr, nullptr, "", "1000000000", 1, ""},
        argv_case{"v_sets_levels_only", {"-vdd"}, nullptr, nullptr, "", "0110000000", 0, ""},
        argv_case{"dbhome_left_to_general_pass_and_a_trace_switch",
                  {"-dbhome", "X"},
                  nullptr,
                  nullptr,
                  "",
                  "1000000000",
                  1,
                  "-dbhome X"},
        argv_case{"glued_general_value_takes_no_next_word",
                  {"-dbversion15", "-rdbms", "S"},
                  "serverid",
                  "S",
                  "",
                  "1000000000",
                  1,
                  "-dbversion15"},
        argv_case{"filein_in_any_case",
                  {"-FILEIN", "more", "-FileIn", "other"},
                  nullptr,
                  nullptr,
                  "",
                  none,
                  0,
                  "-FILEIN more -FileIn other"},
        argv_case{"general_options_keep_order",
                  {"-serverid", "S", "-rdbms", "R", "-maxread", "9", "-loginid", "L"},
                  "serverid",
                  "R",
                  "",
                  none,
                  0,
                  "-serverid S -maxread 9 -loginid L"},
        argv_case{"version_and_its_names",
                  {"-version", "zemcoll", "zovprobe", "-rdbms", "S"},
                  "serverid",
                  "S",
                  "",
                  none,
                  0,
                  "-version zemcoll zovprobe"},
        argv_case{"argument_files",
                  {"@args", "-filein", "more"},
                  nullptr,
                  nullptr,
                  "",
                  none,
                  0,
                  "@args -filein more"},
        argv_case{
            "other_words_skipped", {"word", "-rdbms", "S", "x"}, "serverid", "S", "", none, 0, ""}),
    case_names(&argv_case::name));

TEST_F(ParseArgv, EchoBeginsAtTheSwitchAndHidesThePassword) {
    char a0[] = "zemcoll", a1[] = "-password", a2[] = "P1", a3[] = "-v", a4[] = "-password",
         a5[] = "P2", a6[] = "-rdbms", a7[] = "S";
    char* argv[] = {a0, a1, a2, a3, a4, a5, a6, a7, nullptr};
    parse_argv(8, argv);
    const std::string text = log_.text();
    EXPECT_EQ(text.find("P1"), std::string::npos) << text;
    EXPECT_EQ(text.find("P2"), std::string::npos) << text;
    EXPECT_NE(text.find("CPA1532T"), std::string::npos) << text;
    EXPECT_NE(text.find("password=***."), std::string::npos) << text;
    EXPECT_NE(text.find("rdbms=S."), std::string::npos) << text;
    EXPECT_STREQ(env_vars.password, "P2");
}

TEST_F(ParseArgv, NothingIsEchoedBeforeTheSwitch) {
    char a0[] = "zemcoll", a1[] = "-password", a2[] = "P", a3[] = "-v";
    char* argv[] = {a0, a1, a2, a3, nullptr};
    parse_argv(4, argv);
    EXPECT_FALSE(log_.has("CPA1532")) << log_.text();
}

TEST_F(ParseArgv, TheTraceSwitchEchoesItself) {
    char a0[] = "zemcoll", a1[] = "-dd";
    char* argv[] = {a0, a1, nullptr};
    parse_argv(2, argv);
    EXPECT_TRUE(log_.has("d=dd.")) << log_.text();
}

using ParseArgvDeathTest = ParseArgv;

TEST_F(ParseArgvDeathTest, AValueWordMissingAtTheEndEndsWithStatusOne) {
    for (const char* last : {"-rdbms", "-owner", "-dbhome"}) {
        std::string w = last;
        char a0[] = "zemcoll";
        char* argv[] = {a0, w.data(), nullptr};
        EXPECT_EXIT(
            {
                stder = nullptr;
                parse_argv(2, argv);
            },
            ::testing::ExitedWithCode(1), "CML1531")
            << last;
    }
}

// ---- The database identity (step 8) and the host identity -----------------------------

struct identity_case {
    const char* name;
    const char* env_logon;   // null: unset
    const char* proc_logon;  // the process file's value; may fill all 33 bytes
    const char* env_server;
    const char* proc_server;
    const char* want_logon;     // env_vars.logonid afterwards
    const char* want_server;    // env_vars.serverid afterwards
    const char* want_d_server;  // the distributor's server_id afterwards (its text)
};

class DbIdentity : public ::testing::TestWithParam<identity_case> {
  protected:
    void SetUp() override { collector_at = distrib_new(); }
    void TearDown() override {
        distrib_free(collector_at);
        collector_at = nullptr;
    }
    CleanEnvVars env_;
    LogCapture log_;
};

TEST_P(DbIdentity, CopiesInTheRightDirection) {
    const identity_case& c = GetParam();
    distrib* d = collector_at;
    std::memcpy(d->logon_id, c.proc_logon, strnlen(c.proc_logon, sizeof d->logon_id));
    std::memcpy(d->server_id, c.proc_server, strnlen(c.proc_server, sizeof d->server_id));
    std::memcpy(d->password, "stored", 7);
    u_env_set_field(&env_vars.logonid, c.env_logon);
    u_env_set_field(&env_vars.serverid, c.env_server);
    EXPECT_EQ(settle_db_identity(), 0);
    EXPECT_EQ(text_of(env_vars.logonid), c.want_logon);
    EXPECT_EQ(text_of(env_vars.serverid), c.want_server);
    EXPECT_EQ(std::string(d->server_id, strnlen(d->server_id, sizeof d->server_id)),
              c.want_d_server);
    EXPECT_STREQ(env_vars.password, "stored");
    // Owned copies: never a pointer into the record.
    const char* lo = reinterpret_cast<const char*>(d);
    const char* hi = lo + sizeof *d;
    EXPECT_FALSE(env_vars.logonid >= lo && env_vars.logonid < hi);
    EXPECT_FALSE(env_vars.serverid >= lo && env_vars.serverid < hi);
    EXPECT_FALSE(env_vars.password >= lo && env_vars.password < hi);
}

const std::string logon33(33, 'L');
const std::string server32(32, 'S');

INSTANTIATE_TEST_SUITE_P(
    Pairs, DbIdentity,
    ::testing::Values(identity_case{"environment_wins", "sa", "other", "SRV1", "SRVX    ", "sa",
                                    "SRV1", "SRV1"},
                      identity_case{"process_file_supplies", nullptr, "procuser", nullptr,
                                    "SRV2    ", "procuser", "SRV2", "SRV2    "},
                      identity_case{"logon_filled_to_width", nullptr, logon33.c_str(), "S", "",
                                    logon33.c_str(), "S", "S"},
                      identity_case{"server_id_of_32", "sa", "", server32.c_str(), "", "sa",
                                    server32.c_str(), server32.c_str()},
                      identity_case{"empty_process_values", nullptr, "", nullptr, "", "", "", ""}),
    case_names(&identity_case::name));

TEST_F(DbIdentity, AValueLongerThanItsFieldIsRefused) {
    QuitTrap trap;
    const std::string long_server(33, 'S');
    u_env_set_field(&env_vars.serverid, long_server.c_str());
    u_env_set_field(&env_vars.logonid, "sa");
    try {
        settle_db_identity();
        FAIL() << "accepted a 33-character server id";
    } catch (const quit_called& q) {
        EXPECT_EQ(q.code, -1003);
    }
    EXPECT_TRUE(log_.has("CML1529S")) << log_.text();

    const std::string long_password(100, 'p');
    u_env_set_field(&env_vars.serverid, "S");
    u_env_set_field(&env_vars.password, long_password.c_str());
    EXPECT_THROW(settle_db_identity(), quit_called);
    u_env_set_field(&env_vars.password, std::string(99, 'p').c_str());
    EXPECT_EQ(settle_db_identity(), 0);
    EXPECT_EQ(std::strlen(collector_at->password), 99u);
}

TEST(MachineId, FieldsAreBlankPadded) {
    CleanEnvVars env;
    u_env_set_field(&env_vars.serverid, "SRV1");
    u_env_set_field(&env_vars.hostname, std::string(70, 'h').c_str());
    std::memset(&machine_id, 'x', sizeof machine_id);
    set_machine_id();
    EXPECT_EQ(std::string(machine_id.me, 32), "SRV1" + std::string(28, ' '));
    EXPECT_EQ(std::string(machine_id.mach, 64), std::string(64, 'h'));
    EXPECT_EQ(std::string(machine_id.machine_me, 64), std::string(64, ' '));
}

TEST(RequiredConfig, AMissingFieldOrAnEmptyServerOrLogonIdStopsTheStartUp) {
    QuitTrap trap;
    char** const fields[] = {&env_vars.serverid, &env_vars.hostname, &env_vars.logonid,
                             &env_vars.db_type};
    const struct {
        char** field;
        const char* value;  // null: unset
        bool stops;
    } cases[] = {
        {&env_vars.serverid, nullptr, true}, {&env_vars.hostname, nullptr, true},
        {&env_vars.logonid, nullptr, true},  {&env_vars.db_type, nullptr, true},
        {&env_vars.serverid, "", true},      {&env_vars.logonid, "", true},
        {&env_vars.hostname, "", false},     {&env_vars.db_type, "", false},
    };
    for (const auto& k : cases) {
        CleanEnvVars env;
        LogCapture log;
        for (char** f : fields) u_env_set_field(f, f == k.field ? k.value : "x");
        bool stopped = false;
        try {
            EXPECT_EQ(check_required_config(), 0);
        } catch (const quit_called& q) {
            EXPECT_EQ(q.code, -1003);
            stopped = true;
        }
        const int at = static_cast<int>(&k - cases);
        EXPECT_EQ(stopped, k.stops) << "case " << at;
        EXPECT_EQ(log.has("CML1528S"), k.stops) << "case " << at << log.text();
    }
}

TEST(ConfigParms, PublishedAfterTheCommandLineOnesInOrder) {
    CleanEnvVars env;
    u_env_set_field(&env_vars.serverid, "S");
    u_env_set_field(&env_vars.logonid, "L");
    u_env_set_field(&env_vars.db_type, "syb");
    u_env_set_field(&env_vars.password, "P");
    char n[] = "rdbms", v[] = "FIRST";
    add_dict_parm(n, v);
    publish_config_parms();
    EXPECT_EQ(dict_text(), "rdbms=FIRST;rdbms=S;logonid=L;dbtype=syb;password=P;");
    EXPECT_STREQ(search_dict_parm("RDBMS"), "FIRST");
    colltest::free_dict_parms(false);
}

// ---- init_cursors ------------------------------------------------------------------------

std::vector<std::string> steps_run;
int fail_at = -1;

template <int N>
int recorder() {
    static const char* const names[] = {
        "create_percent_cursor", "init_virtuals", "edit_age_to",        "edit_decode",
        "edit_pre_cursors",      "edit_in_lists", "edit_bases",         "edit_math",
        "edit_col_exits",        "edit_iterates", "edit_iterate_where", "edit_loads",
        "set_qualifieds"};
    steps_run.emplace_back(names[N]);
    return N == fail_at ? 1 : 0;
}

class InitCursors : public ::testing::Test {
  protected:
    void SetUp() override {
        saved_ = edit_passes;
        edit_passes = engine_edit_passes{
            recorder<3>,  recorder<5>,  recorder<6>,  recorder<7>, recorder<8>,
            recorder<10>, recorder<11>, recorder<12>, recorder<0>, recorder<1>,
            recorder<2>,  recorder<4>,  recorder<9>,
        };
        steps_run.clear();
        // init_cursors reads onto a fresh list: what earlier tests left stays reachable.
        curstest::set_aside();
        fail_at = -1;
        u_env_set_field(&env_vars.db_type, "syb");
        env_vars.ctl_home = const_cast<char*>(dir_.path().c_str());
        env_vars.coll_home = env_vars.ctl_home;
        dir_.write(std::string(u_db_type(0)) + "coll.ctl",
                   "cursor C1;\ninsert_select select a from t;\ninsert insert into T "
                   "(A) values (:A);\nend;\n");
        level7_ = my_trace_all[7];
        my_trace_all[7] = 1;
    }
    void TearDown() override {
        edit_passes = saved_;
        env_vars.ctl_home = env_vars.coll_home = nullptr;
        u_env_set_field(&env_vars.db_type, nullptr);
        del_curs();
        my_trace_all[7] = level7_;
    }
    engine_edit_passes saved_;
    CfgTempDir dir_;
    LogCapture log_;
    int16_t level7_ = 0;
};

const std::vector<std::string> all_steps = {
    "create_percent_cursor", "init_virtuals", "edit_age_to",   "edit_decode",    "edit_pre_cursors",
    "edit_in_lists",         "edit_bases",    "edit_math",     "edit_col_exits", "edit_iterates",
    "edit_iterate_where",    "edit_loads",    "set_qualifieds"};

TEST_F(InitCursors, RunsEveryStepInItsOrder) {
    database_info.connected = 1;
    database_info.status = up;
    ASSERT_EQ(init_cursors(), 0) << log_.text();
    EXPECT_EQ(steps_run, all_steps);
    ASSERT_NE(cur_anchor, nullptr);
    EXPECT_STREQ(cur_anchor->cur_name, "C1");
    EXPECT_EQ(database_info.connected, 0);
    EXPECT_EQ(database_info.status, down);
}

TEST_F(InitCursors, AFailingStepStopsTheRestFreesTheCursorsAndQuits) {
    QuitTrap trap;
    for (int k : {0, 7, 12}) {
        steps_run.clear();
        fail_at = k;
        try {
            init_cursors();
            ADD_FAILURE() << "step " << k << " failed without quitting";
        } catch (const quit_called& q) {
            EXPECT_EQ(q.code, -1001);
        }
        ASSERT_FALSE(steps_run.empty());
        EXPECT_EQ(steps_run.back(), all_steps[static_cast<size_t>(k)]);
        EXPECT_EQ(steps_run.size(), static_cast<size_t>(k) + 1);
        EXPECT_EQ(cur_anchor, nullptr);
        EXPECT_TRUE(log_.has("del_cur() Freeing storage for cursor:C1")) << log_.text();
    }
}

TEST_F(InitCursors, ARejectedCursorFileRunsNoPass) {
    QuitTrap trap;
    dir_.write(std::string(u_db_type(0)) + "coll.ctl", "cursor C1;\nbogus 1;\n");
    EXPECT_THROW(init_cursors(), quit_called);
    EXPECT_TRUE(steps_run.empty());
}

}  // namespace

namespace {

// The example cursors (two of them with if/else versions) taken down in the
// memory-tracing mode: the sanitizer reports any block freed twice or left behind.
// The product code that prefixes the definition files is fixed by the first lookup of
// the process, so the examples are copied under whatever prefix this process has.
TEST(DelCurs, FreesTheExampleCursorsAndTheirVersionsOnce) {
    LogCapture log;
    install_engine_hooks();
    CleanEnvVars env;
    u_env_set_field(&env_vars.db_type, "syb");
    CfgTempDir dir;
    const std::string prefix = u_db_type(0);
    for (const auto& e : std::filesystem::directory_iterator(EXAMPLES_DIR)) {
        std::string name = e.path().filename().string();
        if (name.size() > 3 && name.compare(0, 3, "zem") == 0 && name.ends_with(".ctl"))
            name = prefix + name.substr(3);
        std::filesystem::copy_file(e.path(), std::filesystem::path(dir.path()) / name);
    }
    env_vars.ctl_home = const_cast<char*>(dir.path().c_str());
    env_vars.coll_home = env_vars.ctl_home;
    // The data set file of DBSPACE is read from the current directory, which is the
    // test's again however the test ends (the scratch directory goes at its end).
    struct back_home {
        std::filesystem::path cwd = std::filesystem::current_path();
        ~back_home() { std::filesystem::current_path(cwd); }
    } home;
    std::filesystem::current_path(dir.path());
    QuitTrap trap;
    // init_cursors reads onto a fresh list: what earlier tests left stays reachable.
    curstest::set_aside();
    dict_free_all();  // a dictionary an earlier test read would make each name a duplicate
    ASSERT_EQ(parse_dict(), 0) << log.text();
    ASSERT_EQ(init_cursors(), 0) << log.text();
    std::filesystem::current_path(home.cwd);
    int count = 0;
    bool versions = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        ++count;
        versions = versions || (c->cur_version_list != nullptr && c->cur_version_list != c);
    }
    EXPECT_GE(count, 9);
    EXPECT_TRUE(versions);
    const int16_t level = my_trace_all[7];
    my_trace_all[7] = 1;
    del_curs();
    my_trace_all[7] = level;
    EXPECT_EQ(cur_anchor, nullptr);
    EXPECT_TRUE(log.has("del_cur() Freeing storage for cursor:PROCS")) << log.text();
    env_vars.ctl_home = env_vars.coll_home = nullptr;
    dict_free_all();
}

}  // namespace
