// The bundled example definition set (examples/) parses without error, file by file in the
// collector's start-up order, and holds what the demo relies on.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <regex>
#include <string>

#include "defs/clause_loads.h"
#include "defs/cursor_file.h"
#include "defs/cursor_versions.h"
#include "defs/dictionary.h"
#include "defs/dictionary_file.h"
#include "defs/distrib.h"
#include "defs/evaluation_file.h"
#include "defs/process_file.h"
#include "defs/trace_file.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/cursor_test_support.h"
#include "testing/log_capture.h"

namespace fs = std::filesystem;

namespace {

fs::path examples_dir() { return fs::path(ZOV_SOURCE_DIR) / "examples"; }

// The data-set files are read from the current directory.
class in_directory {
  public:
    explicit in_directory(const fs::path& dir) : saved_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~in_directory() { fs::current_path(saved_); }
    in_directory(const in_directory&) = delete;
    in_directory& operator=(const in_directory&) = delete;

  private:
    fs::path saved_;
};

int parse_example(int (*reader)(FILE*), const char* tag) {
    // The file search looks for the product code, the tag and ".ctl".
    const fs::path path = examples_dir() / (std::string("zem") + tag + ".ctl");
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) {
        ADD_FAILURE() << "cannot open " << path;
        return -1;
    }
    int rc = reader(f);
    std::fclose(f);
    return rc;
}

TEST(Examples, TheDefinitionSetParsesInStartUpOrder) {
    LogCapture log;
    curstest::set_aside();
    // A fresh process list and dictionary: an earlier test may have read them.
    distrib_free_all();
    dict_free_all();
    ASSERT_EQ(parse_example(parse_distributor_file, "proc"), 0) << log.text();
    ASSERT_NE(collector_at, nullptr);
    EXPECT_EQ(have_evaluator, 1);

    ASSERT_EQ(parse_example(parse_dict_file, "dict"), 0) << log.text();
    {
        in_directory here(examples_dir());
        ASSERT_EQ(parse_example(parse_curs_file, "coll"), 0) << log.text();
    }
    define_vers_chain();
    ASSERT_EQ(parse_loads(), 0) << log.text();
    // Whether the trace file switches anything on (an earlier test may have left the flag).
    const int16_t saved_something = trace_something;
    trace_something = 0;
    ASSERT_EQ(parse_example(parse_trace_file, "trac"), 0) << log.text();
    const int16_t traced_something = trace_something;
    trace_something = saved_something;
    ASSERT_EQ(parse_example(parse_eval_file, "eval"), 0) << log.text();
    // No error line of any reader (an id ends in E before the time).
    EXPECT_FALSE(std::regex_search(log.text(), std::regex("[0-9]E \\([0-9]{6}\\)"))) << log.text();

    // Every clause of a cursor block is used somewhere.
    bool pre = false, iter = false, inl = false, bas = false, load = false, math = false,
         dec = false, cex = false, itw = false, slen = false, script = false, ulv = false,
         versions = false, virt = false, demand = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        EXPECT_EQ(c->dist_ptr, collector_at) << c->cur_name;
        pre |= c->pre_cursor != nullptr;
        iter |= c->iterate != nullptr;
        inl |= c->in_list != nullptr;
        bas |= c->base != nullptr;
        load |= c->loadp != nullptr;
        math |= c->m_anch != nullptr;
        dec |= c->decode != nullptr;
        cex |= c->cxl_ptr != nullptr;
        itw |= c->iterate_where != nullptr;
        slen |= c->set_len != nullptr;
        script |= c->fetch_exit != nullptr && c->xlda != nullptr;
        ulv |= c->uuidbase != nullptr;
        versions |= c->if_tree != nullptr;
        virt |= c->cvirtual != 0;
        demand |= c->demand != 0;
    }
    const std::pair<const char*, bool> used[] = {
        {"pre_cursor", pre},    {"iterate", iter}, {"in_list", inl},        {"base", bas},
        {"load", load},         {"math", math},    {"decode", dec},         {"column_exit", cex},
        {"iterate_where", itw}, {"set_len", slen}, {"script exit", script}, {"data set", ulv},
        {"if/else", versions},  {"virtual", virt}, {"demand", demand},
    };
    for (const auto& [what, seen] : used) EXPECT_TRUE(seen) << what;

    curs* procs = curstest::find("PROCS");
    ASSERT_NE(procs, nullptr);
    std::vector<curs*> ring = curstest::versions(procs);
    ASSERT_EQ(ring.size(), 2u);
    // The common version first (every process), then the busy server's (no system ones).
    EXPECT_EQ(ring[0]->limit, 500);
    EXPECT_EQ(ring[1]->limit, 1000);
    ASSERT_NE(ring[0]->insert_select, nullptr);
    ASSERT_NE(ring[1]->insert_select, nullptr);
    EXPECT_EQ(std::string(ring[0]->insert_select->text).find("suid > 0"), std::string::npos);
    EXPECT_NE(std::string(ring[1]->insert_select->text).find("suid > 0"), std::string::npos);
    for (curs* v : ring) {
        EXPECT_EQ(v->interval, 60);
        EXPECT_EQ(v->dist_ptr, collector_at);
        EXPECT_EQ(v->next, procs->next);
        ASSERT_NE(v->insert_select, nullptr);
        EXPECT_NE(std::string(v->insert_select->text).find("FROM master..sysprocesses"),
                  std::string::npos);
    }
    curs* srvstat = curstest::find("SRVSTAT");
    ASSERT_NE(srvstat, nullptr);
    // The example set traces nothing: a switch writes a log line for every request of its
    // cursor, and under request load the wrapping log would keep nothing else.
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        for (int16_t flag : {c->trace, c->tracem, c->traced, c->show_row, c->show_cursor})
            EXPECT_EQ(flag, 0) << c->cur_name;
    EXPECT_EQ(traced_something, 0);
    EXPECT_NE(srvstat->evaluation, nullptr);
    ASSERT_NE(procs->pre_cursor, nullptr);
    EXPECT_STREQ(procs->pre_cursor->cur_name, "SRVSTAT");
    curs* dbspace = curstest::find("DBSPACE");
    ASSERT_NE(dbspace, nullptr);
    EXPECT_STREQ(dbspace->host_table, "DBSPACE");
    EXPECT_EQ(dbspace->objid, 12);
    // Before the first collection no SRVSTAT value exists: the version stays.
    EXPECT_EQ(select_cursor_version(procs, "20261210120000"), -1);
}

// The column names of a cursor's model INSERT, in order, joined by blanks.
std::string column_names(const curs* c) {
    std::string names;
    for (const columns* k = c->insert_columns; k != nullptr; k = k->next)
        names += (names.empty() ? "" : " ") + std::string(k->col_name);
    return names;
}

// The position of a cursor in the file's order.
int position(const curs* c) {
    int i = 0;
    for (const curs* x = cur_anchor; x != nullptr; x = x->next, ++i)
        if (x == c) return i;
    return -1;
}

// The inputs the monitor procedures read by name and column, and the monitor cursors behind
// them: an internal fetch exit naming the procedure, a select list of dictionary entries as
// wide as the procedure's lines, in the inputs' interval and after them in the file.
TEST(Examples, MonitorCursorsFollowTheInputsTheyRead) {
    LogCapture log;
    curstest::set_aside();
    // A fresh process list and dictionary: an earlier test may have read them.
    distrib_free_all();
    dict_free_all();
    ASSERT_EQ(parse_example(parse_distributor_file, "proc"), 0) << log.text();
    ASSERT_EQ(parse_example(parse_dict_file, "dict"), 0) << log.text();
    {
        in_directory here(examples_dir());
        ASSERT_EQ(parse_example(parse_curs_file, "coll"), 0) << log.text();
    }

    const std::pair<const char*, const char*> inputs[] = {
        {"SYSMON", "GROUPNAME FLDNAME FLDVALUE"},
        {"ZEMV", "STARTTIME STOPTIME"},
        {"SYSCCONF", "NUMENG"},
        {"SYSDEV", "DEVNAME OSNAME DISKMON"},
    };
    int last_input = -1;
    for (const auto& [name, cols] : inputs) {
        curs* c = curstest::find(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_EQ(column_names(c), cols) << name;
        EXPECT_EQ(c->fetch_exit, nullptr) << name;
        ASSERT_NE(c->insert_select, nullptr) << name;
        // Only the current sample is held: a sum over SYSMON covers one sample.
        EXPECT_NE(c->empty, 0) << name;
        EXPECT_EQ(c->interval, 60) << name;
        last_input = std::max(last_input, position(c));
    }
    EXPECT_NE(
        std::string(curstest::find("SYSMON")->insert_select->text).find("FROM master..sysmonitors"),
        std::string::npos);

    struct monitor_case {
        const char* name;
        int values;  // values of one line of the procedure
    };
    const monitor_case monitors[] = {
        {"ZEMENGS", 13}, {"ZEMSDEVD", 22}, {"ZEMLOGD", 5}, {"ZEMSQLD", 5}, {"ZEMTSKD", 5},
    };
    for (const monitor_case& m : monitors) {
        curs* c = curstest::find(m.name);
        ASSERT_NE(c, nullptr) << m.name;
        ASSERT_NE(c->fetch_exit, nullptr) << m.name;
        EXPECT_EQ(c->fetch_exit->format_type, 9) << m.name;
        EXPECT_EQ(c->fetch_exit->option, 7) << m.name;
        ASSERT_NE(c->script, nullptr) << m.name;
        // Trailing blanks are the exit's to cut.
        std::string script = c->script;
        script.erase(script.find_last_not_of(' ') + 1);
        EXPECT_EQ(script, std::string("zemsmon ") + m.name);
        auto* x = static_cast<xSQLDA*>(c->xlda);
        ASSERT_NE(x, nullptr) << m.name;
        EXPECT_EQ(x->F, m.values) << m.name;
        int n = 0;
        for (const columns* k = c->insert_columns; k != nullptr; k = k->next) ++n;
        EXPECT_EQ(n, m.values) << m.name;
        EXPECT_EQ(c->interval, 60) << m.name;
        EXPECT_GT(position(c), last_input) << m.name;
    }
    // The five-value lines share one set of entries: a label, then numbers right-aligned.
    for (const char* name : {"ZEMLOGD", "ZEMSQLD", "ZEMTSKD"}) {
        auto* x = static_cast<xSQLDA*>(curstest::find(name)->xlda);
        ASSERT_NE(x, nullptr) << name;
        EXPECT_EQ(std::string(x->S[0], static_cast<size_t>(x->C[0])), "MON_LABEL") << name;
        EXPECT_EQ(x->T[0], 1) << name;
        for (int i = 1; i < 5; ++i) EXPECT_EQ(x->T[i], 2) << name << " " << i;
    }
    auto* dev = static_cast<xSQLDA*>(curstest::find("ZEMSDEVD")->xlda);
    EXPECT_EQ(dev->T[0], 1);
    EXPECT_EQ(dev->T[1], 1);
    EXPECT_EQ(dev->T[2], 2);
    EXPECT_FALSE(std::regex_search(log.text(), std::regex("[0-9]E \\([0-9]{6}\\)"))) << log.text();
}

}  // namespace
