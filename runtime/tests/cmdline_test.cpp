#include "runtime/cmdline.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/env.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/program_runner.h"
#include "testing/temp_dir.h"

namespace {

// Text fields of env_vars that the options set.
char** const kOptionFields[] = {&env_vars.logonid,  &env_vars.password,    &env_vars.ctl_home,
                                &env_vars.serverid, &env_vars.coll_out,    &env_vars.errorlog,
                                &env_vars.db_type,  &env_vars.localtmpdir, &env_vars.tmpdir,
                                &env_vars.db_home,  &env_vars.db_version};

void clear_options() {
    for (char** f : kOptionFields) u_env_set_field(f, nullptr);
    env_vars.maxreadsz = 0;
    trace_all = 0;
    trace_something = 0;
    for (auto& l : my_trace_all) l = 0;
}

// Runs parseHVMCmdline over a list of words (copies, as main's argv would be).
int32_t parse(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    return parseHVMCmdline(static_cast<int>(words.size()), argv.data());
}

std::vector<std::string> words_left() {
    std::vector<std::string> out;
    for (int i = 0; i < Argc; ++i) out.emplace_back(Argv[i]);
    EXPECT_EQ(Argv[Argc], nullptr);
    return out;
}

std::string text(const char* field) { return field ? field : "(null)"; }

// ---- the option table ------------------------------------------------------------------

struct OptionCase {
    const char* what;
    std::vector<std::string> words;
    int32_t count;
    // Expected "field=value" pairs; fields not named must stay null / 0.
    std::vector<std::pair<const char*, std::string>> fields;
};

std::string field_value(const std::string& name) {
    if (name == "logonid") return text(env_vars.logonid);
    if (name == "password") return text(env_vars.password);
    if (name == "ctl_home") return text(env_vars.ctl_home);
    if (name == "serverid") return text(env_vars.serverid);
    if (name == "coll_out") return text(env_vars.coll_out);
    if (name == "errorlog") return text(env_vars.errorlog);
    if (name == "db_type") return text(env_vars.db_type);
    if (name == "localtmpdir") return text(env_vars.localtmpdir);
    if (name == "tmpdir") return text(env_vars.tmpdir);
    if (name == "db_home") return text(env_vars.db_home);
    if (name == "db_version") return text(env_vars.db_version);
    if (name == "maxreadsz") return std::to_string(env_vars.maxreadsz);
    if (name == "console") return std::to_string(options.console);
    if (name == "dbinitfile") return text(options.dbinitfile);
    if (name == "level0") return std::to_string(my_trace_all[0]);
    if (name == "level9") return std::to_string(my_trace_all[9]);
    return "?";
}

class OptionTableTest : public ::testing::TestWithParam<OptionCase> {
  protected:
    void SetUp() override { clear_options(); }
    void TearDown() override { clear_options(); }
};

TEST_P(OptionTableTest, SetsFieldsAndCounts) {
    const OptionCase& c = GetParam();
    EXPECT_EQ(parse(c.words), c.count) << c.what;
    const char* all[] = {"logonid",    "password",  "ctl_home",    "serverid",   "coll_out",
                         "errorlog",   "db_type",   "localtmpdir", "tmpdir",     "db_home",
                         "db_version", "maxreadsz", "console",     "dbinitfile", "level0"};
    for (const char* name : all) {
        std::string expected = std::string(name) == "maxreadsz" || std::string(name) == "console" ||
                                       std::string(name) == "level0"
                                   ? "0"
                                   : "(null)";
        for (const auto& [n, v] : c.fields)
            if (std::string(n) == name) expected = v;
        EXPECT_EQ(field_value(name), expected) << c.what << ": " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, OptionTableTest,
    ::testing::Values(
        OptionCase{"full name any case", {"zemsql", "-LOGON", "sa"}, 3, {{"logonid", "sa"}}},
        OptionCase{"log by three letters, value behind the name",
                   {"zemsql", "-logo", "sa"},
                   2,  // "sa" is left: the value was behind the name
                   {{"errorlog", "o"}}},
        OptionCase{"value behind the full name", {"zemsql", "-logonidsa"}, 2, {{"logonid", "sa"}}},
        OptionCase{
            "password behind the name", {"zemsql", "-passwordS3cr"}, 2, {{"password", "S3cr"}}},
        OptionCase{"log", {"zemsql", "-log", "x"}, 3, {{"errorlog", "x"}}},
        OptionCase{"logs is logsdir", {"zemsql", "-logs", "x"}, 3, {{"coll_out", "x"}}},
        OptionCase{"d alone is debug", {"zemsql", "-d"}, 2, {{"level0", "23"}}},
        OptionCase{"db matches nothing", {"zemsql", "-db", "x", "-logonid", "sa"}, 1, {}},
        OptionCase{"console takes a word",
                   {"zemsql", "-console", "yes", "-rdbms", "SRV"},
                   5,
                   {{"console", "1"}, {"serverid", "SRV"}}},
        OptionCase{"console without a word",
                   {"zemsql", "-console", "-rdbms", "SRV"},
                   4,
                   {{"console", "1"}, {"serverid", "SRV"}}},
        OptionCase{"a value option without a value",
                   {"zemsql", "-logonid", "-password", "pw"},
                   4,
                   {{"password", "pw"}}},
        OptionCase{"short program name: no options", {"zem", "-logonid", "sa"}, 0, {}},
        OptionCase{"no program name", {"-logonid", "sa", "rest"}, 2, {{"logonid", "sa"}}},
        OptionCase{"program name alone", {"zemsql", "sa"}, 0, {}},
        OptionCase{"maxread", {"zemsql", "-maxread", "5000"}, 3, {{"maxreadsz", "5000"}}},
        OptionCase{"maxread without a value", {"zemsql", "-maxread"}, 2, {}},
        OptionCase{"maxread with no number", {"zemsql", "-maxreadx"}, 2, {}},
        OptionCase{
            "maxread with a number followed by other text", {"zemsql", "-maxread", "12x"}, 3, {}},
        OptionCase{
            "every text option",
            {"zemsql", "-loginid",   "u2",  "-ctldir",   "/c",    "-serverid", "S2", "-errlog",
             "e",      "-dbtype",    "zem", "-ltempdir", "/l",    "-tempdir",  "/t", "-dbhome",
             "/h",     "-dbversion", "15",  "-initfile", "i.sql", "-logsdir",  "/o"},
            23,
            {{"logonid", "u2"},
             {"ctl_home", "/c"},
             {"serverid", "S2"},
             {"errorlog", "e"},
             {"db_type", "zem"},
             {"localtmpdir", "/l"},
             {"tmpdir", "/t"},
             {"db_home", "/h"},
             {"db_version", "15"},
             {"dbinitfile", "i.sql"},
             {"coll_out", "/o"}}},
        OptionCase{"minimum not reached", {"zemsql", "-pas", "x"}, 1, {}}),
    case_names(&OptionCase::what));

TEST(Options, TraceWordsAreRemovedAnywhere) {
    clear_options();
    EXPECT_EQ(parse({"zemsql", "-ddd", "-logonid", "sa", "-DDDz", "-rdbms", "S"}), 5);
    EXPECT_EQ(words_left(), (std::vector<std::string>{"zemsql", "-logonid", "sa", "-rdbms", "S"}));
    EXPECT_EQ(text(env_vars.logonid), "sa");
    EXPECT_EQ(text(env_vars.serverid), "S");
    EXPECT_EQ(trace_all, 1);  // set by the first word, not cleared by the second
    // "-DDDz": no lower-case d, so only the levels change: d, d, z.
    EXPECT_EQ(my_trace_all[0], 1);
    EXPECT_EQ(my_trace_all[1], 1);
    EXPECT_EQ(my_trace_all[2], 23);
    EXPECT_EQ(my_trace_all[3], 0);
    clear_options();
}

TEST(Options, ValuesOutliveTheWordsAndLaterRuns) {
    clear_options();
    {
        std::vector<std::string> words{"zemsql", "-logonid", "first", "-rdbms", "S1"};
        parse(words);
    }
    // A second run over other words (channel requests do this) replaces only what it names.
    parse({"-logonid", "second"});
    EXPECT_EQ(text(env_vars.logonid), "second");
    EXPECT_EQ(text(env_vars.serverid), "S1");
    EXPECT_EQ(words_left(), (std::vector<std::string>{"-logonid", "second"}));
    // A field that someone else set is replaced, not freed.
    static char mine[] = "mine";
    env_vars.serverid = mine;
    parse({"-rdbms", "S2"});
    EXPECT_EQ(text(env_vars.serverid), "S2");
    EXPECT_STREQ(mine, "mine");
    clear_options();
}

TEST(Options, ARunOverTheProgramsOwnList) {
    clear_options();
    parse({"zemsql", "-logonid", "sa", "tail"});
    // Argv itself goes back in; its words were copied before the old list was freed.
    parseHVMCmdline(Argc, Argv);
    EXPECT_EQ(words_left(), (std::vector<std::string>{"zemsql", "-logonid", "sa", "tail"}));
    EXPECT_EQ(text(env_vars.logonid), "sa");
    clear_options();
}

// ---- argument files -----------------------------------------------------------------------

std::vector<std::string> cmdline(std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    parseCmdline(static_cast<int>(words.size()), argv.data());
    return words_left();
}

TEST(ArgumentFiles, QuotesAndSeparators) {
    CfgTempDir dir;
    std::string at = dir.write("args", "-logonid \"my user\"\t'x y'\r\n\"\" last");
    EXPECT_EQ(
        cmdline({"zemsql", "@" + at, "after"}),
        (std::vector<std::string>{"zemsql", "-logonid", "my user", "x y", "", "last", "after"}));
    std::string open = dir.write("open", "a \"b c");
    EXPECT_EQ(cmdline({"p", "-FILEIN", open}), (std::vector<std::string>{"p", "a", "b c"}));
}

TEST(ArgumentFiles, NestedFilesAreSplicedInPlace) {
    CfgTempDir dir;
    std::string inner = dir.write("inner", "-ddd i1 i2");
    std::string outer = dir.write("outer", "o1 -filein " + inner + " o2");
    trace_all = 0;
    EXPECT_EQ(cmdline({"prog", "a", "@" + outer, "b"}),
              (std::vector<std::string>{"prog", "a", "o1", "i1", "i2", "o2", "b"}));
    EXPECT_EQ(trace_all, 1);
    trace_all = 0;
    for (auto& l : my_trace_all) l = 0;
}

TEST(ArgumentFiles, TenFilesAreTheLimit) {
    CfgFreshProcessDeathTests fresh;
    CfgTempDir dir;
    // A chain of n files: each names the next.
    auto chain = [&](int n) {
        std::string next = "end";
        for (int i = n; i >= 1; --i)
            next = "@" + dir.write("f" + std::to_string(n) + "_" + std::to_string(i), next);
        return next;
    };
    EXPECT_EQ(cmdline({"prog", chain(10)}), (std::vector<std::string>{"prog", "end"}));
    std::string eleven = chain(11);
    EXPECT_EXIT(cmdline({"prog", eleven}), ::testing::ExitedWithCode(15), "");
    // Ten files side by side count the same as ten nested ones.
    std::string one = dir.write("one", "x");
    std::vector<std::string> words{"prog"};
    for (int i = 0; i < 11; ++i) words.push_back("@" + one);
    EXPECT_EXIT(cmdline(words), ::testing::ExitedWithCode(15), "");
}

TEST(ArgumentFiles, UnloadableFileEndsTheProgram) {
    CfgFreshProcessDeathTests fresh;
    CfgTempDir dir;
    EXPECT_EXIT(cmdline({"prog", "-filein"}), ::testing::ExitedWithCode(95), "");
    EXPECT_EXIT(cmdline({"prog", "@" + (dir / "missing")}), ::testing::ExitedWithCode(95), "");
    EXPECT_EXIT(cmdline({"prog", "-filein", dir.write("empty", "")}), ::testing::ExitedWithCode(95),
                "");
}

// ---- u_test_word ------------------------------------------------------------------------

struct WordCase {
    const char* word;
    int max;
    int flags;
    int expected;
};

class TestWordTest : public ::testing::TestWithParam<WordCase> {};

TEST_P(TestWordTest, Position) {
    static const char* const list[] = {"get", "init", "initc", "put", "term", nullptr};
    const WordCase& c = GetParam();
    EXPECT_EQ(u_test_word(c.word, list, c.max, c.flags), c.expected) << c.word;
}

INSTANTIATE_TEST_SUITE_P(Table, TestWordTest,
                         ::testing::Values(WordCase{"get", 0, 0, 1}, WordCase{"TERM", 0, 0, 5},
                                           WordCase{"TERM", 0, 1, 0}, WordCase{"initc", 0, 0, 3},
                                           WordCase{"ini", 0, 0, 0}, WordCase{"term", 4, 0, 0},
                                           WordCase{"term", 5, 0, 5}, WordCase{"put", 0, 2, 4},
                                           // Sorted: "get" sorts after "abc" and ends the search.
                                           WordCase{"abc", 0, 2, 0}, WordCase{"", 0, 0, 0}),
                         case_names(&WordCase::word));

TEST(TestWord, SortedListStopsEarly) {
    // Not in order, so the sorted search misses what the plain search finds.
    static const char* const list[] = {"zzz", "aaa", nullptr};
    EXPECT_EQ(u_test_word("aaa", list, 0, 0), 2);
    EXPECT_EQ(u_test_word("aaa", list, 0, 2), 0);
}

// ---- version headers -------------------------------------------------------------------

struct RevCase {
    const char* revision;
    const char* expected;
};

class RemformatTest : public ::testing::TestWithParam<RevCase> {};

TEST_P(RemformatTest, DropsTheFirstComponent) {
    remformat_rev("1.0");  // a known buffer for the cases that leave it alone
    EXPECT_STREQ(remformat_rev(GetParam().revision), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, RemformatTest,
                         ::testing::Values(RevCase{"1.5", "5"}, RevCase{"1.5.1.2", "5.1.2"},
                                           RevCase{"1.2.3.4.5.6.7.8", "2.3.4.5.6"},
                                           RevCase{"1.123456.123456.123456", "123456.123456.123"},
                                           RevCase{"15", "0"}, RevCase{"", "0"},
                                           RevCase{nullptr, "0"}),
                         case_names(&RevCase::revision));

// Captures what the message writers print, wherever they print it.
struct Captured {
    template <class F>
    static std::string of(F f) {
        ::testing::internal::CaptureStdout();
        ::testing::internal::CaptureStderr();
        f();
        std::string out = ::testing::internal::GetCapturedStdout();
        return out + ::testing::internal::GetCapturedStderr();
    }
};

TEST(ShowHeaders, LineFormsByWordCount) {
    std::string out = Captured::of([] {
        show_headers(
            "$Header: src/zovenv.c 1.5.1.2 10 Dec 2026 14:20:00 ab $ Jan 11 2027 09:00:00 g1a2b3c",
            "$Header: /a/b/zovx.c 1.7 01 Feb 1999 12:00:00 xy $ Mar  2 2000 10:11:12",
            "$Header: zovy.c 1.3 05 May 2001 08:00:00 zz $", "$Header: odd words", nullptr,
            "$Header: never shown");
    });
    EXPECT_NE(
        out.find("zovenv.c        5.1.2 10Dec2026 14:20:00     ab 11Jan2027 09:00:00 g1a2b3c"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("zovx.c              7 01Feb1999 12:00:00     xy  2Mar2000 10:11:12"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("zovy.c              3 05May2001 08:00:00     zz"), std::string::npos)
        << out;
    EXPECT_NE(out.find("$Header: odd words"), std::string::npos) << out;
    EXPECT_EQ(out.find("never shown"), std::string::npos) << out;
}

TEST(ScanForHeader, FindsHeadersBeforeTheEnd) {
    std::string mark = std::string("$") + "Header: ";
    std::string blob = std::string(100, 'x') + '\0' + mark + "a.c 1.1 $" + '\0' +
                       std::string(50, 'y') + mark + "b.c 1.2 $" + '\0';
    std::string tail = mark + "c.c 1.3 $";  // within the last 38 bytes: not seen
    blob += tail + std::string(38 - tail.size(), '\0');
    int found = 0;
    std::string out =
        Captured::of([&] { found = scanforHeader(blob.data(), blob.data() + blob.size() - 30); });
    EXPECT_EQ(found, 2);
    EXPECT_NE(out.find("a.c 1.1 $"), std::string::npos) << out;
    EXPECT_NE(out.find("b.c 1.2 $"), std::string::npos) << out;
    EXPECT_EQ(out.find("c.c"), std::string::npos) << out;
}

TEST(ScanForHeader, ThisProgramCarriesItsHeaders) {
    ASSERT_NE(&zov_version_headers, nullptr);
    int n = 0;
    bool mine = false;
    for (const char* const* h = zov_version_headers; *h; ++h, ++n) {
        mine = mine || std::strstr(*h, " runtime/cmdline.cpp ") != nullptr;
        int words = 0;
        char last = ' ';
        for (const char* p = *h; *p; last = *p++) words += (*p != ' ' && last == ' ');
        EXPECT_EQ(words, 14) << *h;
    }
    EXPECT_GT(n, 5);
    EXPECT_TRUE(mine);
}

#ifdef ZOV_SOURCE_DIR
// The standard output of a shell command, or "" when it cannot be run.
std::string command_output(const std::string& command) {
    testprog::program p;
    p.path = "/bin/sh";
    p.args = {"-c", command};
    p.env = testprog::own_env();
    return testprog::run_program(p).out;
}

// A file with several commits: its header names as many revisions as git counts commits,
// and the date of the newest one, both taken at the commit the build was configured at.
TEST(ScanForHeader, RevisionAndDateAreThoseOfGit) {
    const char* header = nullptr;
    for (const char* const* h = zov_version_headers; *h; ++h)
        if (std::strstr(*h, " runtime/msg.cpp ") != nullptr) header = *h;
    ASSERT_NE(header, nullptr);
    const char* stamp = std::strrchr(header, ' ');
    ASSERT_NE(stamp, nullptr);
    if (std::strcmp(stamp, " nogit") == 0) GTEST_SKIP() << "built outside a git checkout";
    const std::string at = std::string(stamp + 2);  // "g<commit>"
    const std::string git = "cd '" ZOV_SOURCE_DIR "' && TZ=UTC LC_ALL=C git log --no-merges " + at +
                            " '--date=format-local:%d %b %Y %H:%M:%S' --format=%ad"
                            " -- runtime/msg.cpp 2>/dev/null";
    const std::string dates = command_output(git);
    ASSERT_FALSE(dates.empty()) << git;
    int commits = 0;
    for (char c : dates) commits += c == '\n';
    const std::string newest = dates.substr(0, dates.find('\n'));
    const std::string expected =
        "runtime/msg.cpp 1." + std::to_string(commits) + " " + newest + " ";
    EXPECT_NE(std::string(header).find(expected), std::string::npos)
        << header << "\nexpected: " << expected;
}
#endif

#ifdef ZOV_TEST_HELPER_DIR
// The standard output and error of a shell command, then "status=" and its exit status.
std::string run(const std::string& command) {
    testprog::program p;
    p.path = "/bin/sh";
    p.args = {"-c", command};
    p.env = testprog::own_env();
    p.merge_stderr = true;
    const testprog::program_result r = testprog::run_program(p);
    return r.out + "status=" + std::to_string(r.status) + "\n";
}

const std::string kHelper = std::string(ZOV_TEST_HELPER_DIR) + "/cfg_version";

TEST(Version, ListsTheNamedPrograms) {
    CfgTempDir dir;
    for (const char* name : {"zemsql", "zovprobe", "zemcoll"})
        ASSERT_EQ(symlink(kHelper.c_str(), (dir / name).c_str()), 0);
    std::string env = "PATH=" + dir.path() + " ";
    std::string out = run(env + kHelper + " -version zemsql zovprobe");
    EXPECT_NE(out.find("Dump headers for " + (dir / "zemsql")), std::string::npos) << out;
    EXPECT_NE(out.find("Dump headers for " + (dir / "zovprobe")), std::string::npos) << out;
    EXPECT_EQ(out.find("zemcoll"), std::string::npos) << out;
    EXPECT_NE(out.find("cmdline.cpp "), std::string::npos) << out;
    EXPECT_NE(out.find(std::string(60, '-')), std::string::npos) << out;
    EXPECT_NE(out.find("status=0"), std::string::npos) << out;
    EXPECT_EQ(out.find("count="), std::string::npos) << "the program went on: " << out;
}

TEST(Version, WithoutNamesListsTheDefaultPrograms) {
    CfgTempDir dir;
    for (const char* name : {"zemcoll", "gimstat", "other"})
        ASSERT_EQ(symlink(kHelper.c_str(), (dir / name).c_str()), 0);
    std::string out = run("PATH=" + dir.path() + " " + kHelper + " -ver");
    EXPECT_NE(out.find("program            vv check_in_date_time"), std::string::npos) << out;
    EXPECT_NE(out.find("Dump headers for " + (dir / "zemcoll")), std::string::npos) << out;
    EXPECT_NE(out.find("Dump headers for " + (dir / "gimstat")), std::string::npos) << out;
    EXPECT_EQ(out.find("other"), std::string::npos) << out;
    EXPECT_NE(out.find("status=0"), std::string::npos) << out;
}

TEST(Version, APathIsTakenAsItStands) {
    std::string out = run(kHelper + " -version " + kHelper);
    EXPECT_NE(out.find("Dump headers for " + kHelper), std::string::npos) << out;
    EXPECT_NE(out.find("env.cpp "), std::string::npos) << out;
}
#endif

}  // namespace
