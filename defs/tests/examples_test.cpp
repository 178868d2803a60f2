// The bundled example definition set (examples/) parses without error, file by file in the
// collector's start-up order, and holds what the demo relies on.
#include <gtest/gtest.h>

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
#include "testing/cursor_test_support.h"
#include "defs/trace_file.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"

namespace fs = std::filesystem;

namespace {

fs::path examples_dir() {
    return fs::path(__FILE__).parent_path().parent_path().parent_path() / "examples";
}

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
    ASSERT_EQ(parse_example(parse_trace_file, "trac"), 0) << log.text();
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
    EXPECT_EQ(ring[0]->limit, 1000);
    EXPECT_EQ(ring[1]->limit, 500);
    for (curs* v : ring) {
        EXPECT_EQ(v->interval, 60);
        EXPECT_EQ(v->dist_ptr, collector_at);
        EXPECT_EQ(v->next, procs->next);
        ASSERT_NE(v->insert_select, nullptr);
        EXPECT_NE(std::string(v->insert_select->text).find("FROM master..sysprocesses"),
                  std::string::npos);
    }
    curs* sysmon = curstest::find("SYSMON");
    ASSERT_NE(sysmon, nullptr);
    EXPECT_EQ(sysmon->show_cursor, 1);
    EXPECT_NE(sysmon->evaluation, nullptr);
    curs* dbspace = curstest::find("DBSPACE");
    ASSERT_NE(dbspace, nullptr);
    EXPECT_STREQ(dbspace->host_table, "DBSPACE");
    EXPECT_EQ(dbspace->objid, 12);
    // Before the first collection no SYSMON value exists: the version stays.
    EXPECT_EQ(select_cursor_version(procs, "20261210120000"), -1);
}

}  // namespace
