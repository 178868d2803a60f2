// The bundled example set through the definition readers and the engine's passes in
// start-up order, then PROCS rows (laid out as a fetch lays them out, its column exits
// applied) condensed into the virtual cursor PTOTAL by its loads.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "collector/rows/virtual_cursors.h"
#include "collector/startup/engine_hooks.h"
#include "collector/startup/reference_passes.h"
#include "collector/transforms/column_exits.h"
#include "collector/transforms/loads.h"
#include "defs/clause_decode.h"
#include "defs/clause_loads.h"
#include "defs/cursor_versions.h"
#include "defs/process_file.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "testing/cursor_builder.h"
#include "testing/example_set.h"
#include "testing/log_capture.h"
#include "testing/reader_support.h"

namespace fs = std::filesystem;

namespace {

using enginetest::column;
using enginetest::value;

using exampleset::examples_dir;
using exampleset::read_example;

// One PROCS row: values in column order, each blank-padded to its column (numbers
// right-aligned) and followed by a NUL, stored by the shared builder as the row builder
// stores it; then the column exits of each column, as the row builder runs them.
void add_procs_row(curs* c, const std::vector<std::string>& values) {
    std::vector<std::string> cells;
    size_t i = 0;
    for (columns* k = c->insert_columns; k != nullptr; k = k->next, ++i) {
        const std::string& v = values.at(i);
        const size_t len = static_cast<size_t>(k->len);
        const size_t n = std::min(v.size(), len);
        cells.push_back(k->orig_type == 2 ? std::string(len - n, ' ') + v.substr(0, n) : v);
    }
    row_data* r = cursortest::append_row(c, cells);
    for (columns* k = c->insert_columns; k != nullptr; k = k->next)
        if (k->cxl_ptr != nullptr) column_exit_driver(c, k, r->text, k->cxl_ptr);
}

TEST(ExampleSet, PassesInStartUpOrderThenLoadsIntoPtotal) {
    LogCapture log;
    install_engine_hooks();
    curstest::set_aside();
    ASSERT_EQ(read_example(parse_distributor_file, "proc"), 0) << log.text();
    ASSERT_EQ(enginetest::read_dict(""), 0);  // a fresh dictionary
    dict_anchor = nullptr;
    ASSERT_EQ(read_example(parse_dict_file, "dict"), 0) << log.text();
    ASSERT_EQ(exampleset::read_example_cursors(), 0) << log.text();
    ASSERT_TRUE(exampleset::run_start_up_passes()) << log.text();

    curs* procs = enginetest::cursor("PROCS");
    curs* ptotal = enginetest::cursor("PTOTAL");
    ASSERT_NE(procs, nullptr);
    ASSERT_NE(ptotal, nullptr);
    EXPECT_EQ(procs->pre_cursor->curs, enginetest::cursor("SRVSTAT"));
    ASSERT_NE(ptotal->last_row, nullptr);
    EXPECT_EQ(ptotal->length, 4 * 17);
    ASSERT_NE(column(procs, "LOGIN")->cxl_ptr, nullptr);
    ASSERT_NE(column(procs, "CMD")->cxl_ptr, nullptr);

    // The layout a fetch gives: SPID, STATUS, LOGIN, DBNAME, CPU, PIO, CMD, BLOCKED.
    const int16_t lens[] = {16, 12, 30, 30, 16, 16, 16, 16};
    int32_t offset = 0;
    int i = 0;
    for (columns* k = procs->insert_columns; k != nullptr; k = k->next, ++i) {
        k->len = lens[i];
        k->orig_type = k->convert == CONV_INT ? 2 : 1;
        k->data_type = 1;
        k->offset = offset;
        offset += k->len + 1;
    }
    procs->length = offset;
    // The WHERE of a load tests STATUS (bound by the load edit).
    for (load_process* l = procs->loadp; l != nullptr; l = l->next)
        if (l->decode_ptr != nullptr) l->test_column = column(procs, l->decode_ptr->col_name);

    add_procs_row(procs,
                  {"1", "RUN", "administrator_of_all", "master", "100", "5", "  SELECT", "0"});
    add_procs_row(procs, {"2", "SLEEP", "sa", "master", "2500", "7", "AWAITING", "0"});
    add_procs_row(procs, {"3", "RUN", "sa", "tempdb", "30", "1", "   UPDATE", "0"});
    add_procs_row(procs, {"4", "RUN", "probe", "pubs2", "2500", "0", "INSERT", "2"});

    // The exits ran on every row: LOGIN cut to 12, CMD left-justified.
    EXPECT_EQ(value(procs->first_row, column(procs, "LOGIN")),
              "administrato" + std::string(18, ' '));
    EXPECT_EQ(value(procs->first_row, column(procs, "CMD")), "SELECT" + std::string(10, ' '));
    EXPECT_EQ(value(procs->first_row->next->next, column(procs, "CMD")),
              "UPDATE" + std::string(10, ' '));

    ASSERT_EQ(process_loads(procs, 1), 0) << log.text();
    // Counted by hand: 4 processes, CPU 100 + 2500 + 30 + 2500, the first of the two
    // largest CPU values is SPID 2, three are RUN.
    auto right = [](const std::string& s) { return std::string(16 - s.size(), ' ') + s; };
    EXPECT_EQ(value(ptotal->last_row, column(ptotal, "NPROC")), right("4"));
    EXPECT_EQ(value(ptotal->last_row, column(ptotal, "CPU")), right("5130.00"));
    EXPECT_EQ(value(ptotal->last_row, column(ptotal, "TOPSPID")), right("2"));
    EXPECT_EQ(value(ptotal->last_row, column(ptotal, "NRUN")), right("3"));
    EXPECT_EQ(ptotal->changed, 1);

    // Free the rows: they are this test's, not the cursors'.
    cursortest::free_rows(procs);
}

}  // namespace
