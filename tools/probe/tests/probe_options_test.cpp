// The probe in-process: command-line table, row printing, the cursor-name listing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "model/cursor.h"
#include "model/cursor_status.h"
#include "runtime/alloc.h"
#include "tools/probe/probe.h"

namespace {

struct ParseCase {
    std::vector<const char*> words;
    int rc;
    std::string names;
    int samples;
    int mode;
    std::string server;
    bool show = false;
    bool headers = false;
    std::string prefix = "";
    std::string pipe = "";
    std::string db = "";
    std::string host = "";
    std::string pref = "";
};

TEST(ProbeOptions, Table) {
    const std::string z20(20, 'z');
    const std::string a98(98, 'a'), a99(99, 'a');  // the name text: 99, then 100 characters
    const ParseCase cases[] = {
        {{"zemengd", "zemlckd"}, 0, "zemengd zemlckd ", 1, 0, ""},
        {{"-n3", "A"}, 0, "A ", 3, 0, ""},
        {{"-n", "3", "A"}, 0, "A ", 3, 0, ""},
        {{"-nx", "A"}, 0, "A ", 1, 0, ""},
        {{"-n", "0", "A"}, 0, "A ", 0, 0, ""},
        {{"-n", " 7 ", "A"}, 0, "A ", 7, 0, ""},
        {{"-number", "A"}, 0, "A ", 1, 0, ""},  // -n with the value "umber": no number
        {{"-s", "SRV1", "A"}, 0, "A ", 1, 0, "SRV1"},
        {{"-se", "SRV1", "A"}, 0, "A ", 1, 0, "SRV1"},
        {{"-serverSRV1", "A"}, 0, "A ", 1, 0, "SRV1"},
        {{"-servSRV1", "A"}, 0, "-servSRV1 A ", 1, 0, ""},  // no longer an abbreviation
        {{"-c", "-hex", "A"}, 0, "A ", 1, 2, ""},
        {{"-hex", "-c", "A"}, 0, "A ", 1, 1, ""},
        {{"-cu", "A"}, 0, "A ", 1, 1, ""},  // too short for -curs: it is -c
        {{"-help"}, 1, "", 1, 0, ""},
        {{"-h"}, 1, "", 1, 0, ""},
        {{"-he"}, 1, "", 1, 0, ""},
        {{"-n"}, 1, "", 1, 0, ""},  // a value is missing
        {{"A", "-pipe"}, 1, "A ", 1, 0, ""},
        {{"-curs", z20.c_str()}, 1, "", 1, 0, ""},  // prefix over 19
        {{a98.c_str()}, 0, a98 + " ", 1, 0, ""},
        {{a99.c_str()}, 1, "", 1, 0, ""},
    };
    for (const auto& c : cases) {
        std::vector<const char*> argv{"zovprobe"};
        argv.insert(argv.end(), c.words.begin(), c.words.end());
        probe_options opt;
        std::string shown;
        for (auto* w : c.words) shown += std::string(w) + " ";
        testing::internal::CaptureStdout();
        int rc = probe_parse(static_cast<int>(argv.size()), argv.data(), &opt);
        testing::internal::GetCapturedStdout();
        EXPECT_EQ(rc, c.rc) << shown;
        if (rc != 0) continue;
        EXPECT_EQ(opt.names, c.names) << shown;
        EXPECT_EQ(opt.samples, c.samples) << shown;
        EXPECT_EQ(opt.print_mode, c.mode) << shown;
        EXPECT_EQ(opt.serverid, c.server) << shown;
    }
}

TEST(ProbeOptions, ValuesShowListingAndHeaders) {
    const char* argv[] = {"zovprobe", "-db",     "ZEM100",          "-hos",
                          "h1",       "-prefix", "/tmp/p",          "-show",
                          "-curszem", "-pipe",   "/tmp/p/col_pipe", "-hea"};
    probe_options opt;
    ASSERT_EQ(probe_parse(12, argv, &opt), 0);
    EXPECT_EQ(opt.db_type, "ZEM100");
    EXPECT_EQ(opt.hostname, "h1");
    EXPECT_EQ(opt.tmpdir, "ix");  // -prefix is -pref with the value "ix" glued
    EXPECT_TRUE(opt.show_cursors);
    EXPECT_TRUE(opt.have_prefix);
    EXPECT_EQ(opt.cursor_prefix, "zem");
    EXPECT_EQ(opt.pipe, "/tmp/p/col_pipe");
    EXPECT_TRUE(opt.show_header);
    EXPECT_EQ(opt.names, "/tmp/p ");  // -prefix took its value glued, so /tmp/p is a name
}

TEST(ProbeOptions, TraceWords) {
    struct Case {
        const char* word;
        std::vector<int> levels;
    } cases[] = {
        {"-d", {}},     {"-ddd", {0, 1}},
        {"-dxd", {1}},  {"-ddddddddddddd", {0, 1, 2, 3, 4, 5, 6, 7, 8}},
        {"-dbZEM", {}},  // -db, not tracing
    };
    for (const auto& c : cases) {
        const char* argv[] = {"zovprobe", c.word, "A"};
        probe_options opt;
        ASSERT_EQ(probe_parse(3, argv, &opt), 0);
        EXPECT_EQ(opt.trace, strncmp(c.word, "-db", 3) != 0) << c.word;
        std::vector<int> on;
        for (int i = 0; i < 10; i++) {
            if (opt.levels[i]) on.push_back(i);
        }
        EXPECT_EQ(on, c.levels) << c.word;
    }
}

TEST(ProbePrint, ThreeModes) {
    const char row[] = {'a', 'b', ' ', 'c', 'd'};
    testing::internal::CaptureStdout();
    probe_print_row(row, 5, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ab.cd\n\n");

    const char bytes[] = {'x', '\0', '\0', '\x01', 'y', ' ', ' ', 'z'};
    testing::internal::CaptureStdout();
    probe_print_row(bytes, 8, 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x...y..z\n\n");

    testing::internal::CaptureStdout();
    probe_print_row(bytes, 8, 1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x~y z|\n\n");

    testing::internal::CaptureStdout();
    probe_print_row("ABC", 3, 2);
    std::string hex = testing::internal::GetCapturedStdout();
    EXPECT_NE(hex.find("414243"), std::string::npos) << hex;
    EXPECT_NE(hex.find("*ABC"), std::string::npos) << hex;
}

// An answer element of status records of the named cursors.
curs_list* status_element(const std::vector<const char*>& names) {
    auto* e = static_cast<curs_list*>(U_MALLOC(sizeof(curs_list)));
    memset(e, 0, sizeof *e);
    e->rows = static_cast<int>(names.size());
    e->len = static_cast<int>(CURS_STATUS_LEN);
    e->data = static_cast<char*>(U_MALLOC(names.size() * CURS_STATUS_LEN));
    for (size_t i = 0; i < names.size(); i++) {
        curs* c = curs_new();
        snprintf(c->cur_name, sizeof c->cur_name, "%s", names[i]);
        curs_status_encode(c, reinterpret_cast<unsigned char*>(e->data + i * CURS_STATUS_LEN));
        U_FREE(c);
    }
    return e;
}

TEST(ProbeListing, NamesWithAndWithoutPrefix) {
    curs_list* e = status_element({"ZEMENGD", "zemlckd", "OTHER", "ZE"});
    EXPECT_EQ(return_cursor_name(e, false, ""), "ZEMENGD zemlckd OTHER ZE ");
    EXPECT_EQ(return_cursor_name(e, true, "zem"), "ZEMENGD zemlckd ");
    EXPECT_EQ(return_cursor_name(e, true, "nothing"), "");
    e->rows = 0;
    EXPECT_EQ(return_cursor_name(e, false, ""), "");
    U_FREE(e->data);
    U_FREE(e);
}

}  // namespace
