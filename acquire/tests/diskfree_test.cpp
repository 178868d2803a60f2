// The example definition set's DISKFREE cursor, run as the collector runs it.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "acquire/fetch_exit.h"
#include "defs/cursor_file.h"
#include "defs/cursor_versions.h"
#include "defs/dictionary_file.h"
#include "defs/process_file.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "testing/cursor_test_support.h"
#include "testing/log_capture.h"

namespace fs = std::filesystem;

namespace {

int parse_example(int (*reader)(FILE*), const char* tag) {
    const fs::path path =
        fs::path(ZOV_SOURCE_DIR) / "examples" / (std::string("zem") + tag + ".ctl");
    FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return -1;
    int rc = reader(f);
    std::fclose(f);
    return rc;
}

TEST(DiskFree, OneRowWhoseMountIsRoot) {
    LogCapture log;
    curstest::set_aside();
    ASSERT_EQ(parse_example(parse_distributor_file, "proc"), 0) << log.text();
    ASSERT_EQ(parse_example(parse_dict_file, "dict"), 0) << log.text();
    const fs::path saved = fs::current_path();
    fs::current_path(fs::path(ZOV_SOURCE_DIR) / "examples");
    int rc = parse_example(parse_curs_file, "coll");
    fs::current_path(saved);
    ASSERT_EQ(rc, 0) << log.text();
    curs* c = curstest::find("DISKFREE");
    ASSERT_NE(c, nullptr);
    ASSERT_NE(c->fetch_exit, nullptr);
    EXPECT_EQ(c->fetch_exit->optval, 60);

    ASSERT_EQ(run_cursor_fetch_exit(c, "20260101120000"), 0) << log.text();
    ASSERT_EQ(c->count, 1) << log.text();
    columns* mount = c->insert_columns;
    while (mount != nullptr && std::string(mount->col_name) != "FS_MOUNT") mount = mount->next;
    ASSERT_NE(mount, nullptr);
    std::string value(c->last_row->text + mount->offset, static_cast<size_t>(mount->len));
    EXPECT_EQ(value.substr(0, value.find_last_not_of(' ') + 1), "/") << log.text();
    columns* kb = c->insert_columns->next;
    std::string kbs(c->last_row->text + kb->offset, static_cast<size_t>(kb->len));
    EXPECT_GT(std::atol(kbs.c_str()), 0) << kbs;
    fetch_exit_release(c);
    curstest::set_aside();
}

}  // namespace
