#include "dbaccess/common/dbaccess_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/log_capture.h"

namespace {

TEST(RowBuilder, PlacesValuesAtTheirWidthsAndBlanksControls) {
    pcc_row_builder row;
    row.add("ab", 2, 4);
    row.add(nullptr, 0, 3);  // NULL: blanks
    row.add("x\ty\nz\0w", 7, 7);
    row.add("toolong", 7, 3);
    EXPECT_EQ(row.text(), std::string("ab     x y z w") + "too");
}

TEST(ProcedureText, SplitsNameAndParameters) {
    char text[] = "  sp_x  'a b'  2\t3 ";
    char* name = nullptr;
    char* params[4];
    ASSERT_EQ(split_procedure_text(text, &name, params, 4), 4);
    EXPECT_STREQ(name, "sp_x");
    EXPECT_STREQ(params[0], "'a");
    EXPECT_STREQ(params[3], "3");
    char over[] = "p 1 2 3";
    EXPECT_EQ(split_procedure_text(over, &name, params, 2), -2);
    char empty[] = "   ";
    EXPECT_EQ(split_procedure_text(empty, &name, params, 2), -1);
}

TEST(ProcedureCall, KeepsTheRequestTextAndRefusesAWrongCall) {
    procedure_call call;
    std::string text = "sp_x 1 two";
    ASSERT_TRUE(read_procedure_call(text.c_str(), call, "tst0001", "tst0002"));
    text.assign(text.size(), '#');  // the call points into its own copy
    EXPECT_STREQ(call.name, "sp_x");
    ASSERT_EQ(call.count, 2);
    EXPECT_STREQ(call.params[1], "two");

    std::string over = "p";
    for (int i = 0; i <= procedure_params_max; ++i) over += " " + std::to_string(i);
    LogCapture log;
    procedure_call refused;
    EXPECT_FALSE(read_procedure_call(over.c_str(), refused, "tst0001", "tst0002"));
    EXPECT_TRUE(log.has("TST0002"));
    procedure_call empty;
    EXPECT_FALSE(read_procedure_call(nullptr, empty, "tst0001", "tst0002"));
    EXPECT_TRUE(log.has("TST0001"));
}

TEST(LoginReason, TellsAnUnreachableServerFromARefusedLogin) {
    struct Said {
        bool server;  // else the library
        long number;
        const char* text;
        const char* os_text;
    };
    const struct {
        const char* name;
        std::vector<Said> said;
        bool unreachable, refused;
        const char* text;
    } cases[] = {
        {"closed_port",
         {{false, 20009, "Unable to connect", "Connection refused"}},
         true,
         false,
         "server unreachable (Unable to connect: Connection refused)"},
        {"refused_login",
         {{true, 4002, "Login failed.", nullptr},
          {false, 20018, "General SQL Server error", nullptr}},
         false,
         true,
         "login failed (Login failed.)"},
        {"other_message_of_the_server",
         {{true, 5701, "Changed database", nullptr}},
         false,
         false,
         ""},
        {"library_only",
         {{false, 20017, "Unexpected EOF", nullptr}, {false, 20002, "Connection failed", nullptr}},
         false,
         false,
         "Unexpected EOF"},
        {"nothing_said", {}, false, false, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        login_reason r;
        r.library(20009, "left from an earlier login", nullptr);
        r.clear();
        for (const auto& s : c.said) {
            if (s.server)
                r.server(s.number, s.text);
            else
                r.library(s.number, s.text, s.os_text);
        }
        EXPECT_EQ(r.unreachable(), c.unreachable);
        EXPECT_EQ(r.refused(), c.refused);
        EXPECT_EQ(r.text(), c.text);
    }
}

TEST(SizeText, Kilobytes) {
    const struct {
        const char* text;
        int64_t kb;
    } cases[] = {
        {"2.5 MB", 2560}, {"2.0 MB", 2048}, {"512 KB", 512}, {" 3 mb", 3072},
        {"7", 7},         {"", 0},          {"MB", 0},       {"4000000 MB", 4096000000LL},
        {"10 KB MB", 10},
    };
    for (const auto& c : cases) EXPECT_EQ(size_text_kb(c.text), c.kb) << c.text;
}

TEST(UseName, StripsAndRefuses) {
    const struct {
        const char* in;
        int rc;
        const char* out;
    } cases[] = {
        {nullptr, 0, ""},          {"  ", 0, ""},
        {"'tempdb'", 1, "tempdb"}, {" my_db$1 ", 1, "my_db$1"},
        {"db; drop", -1, ""},      {"a]b", -1, ""},
        {"x\"y", -1, ""},
    };
    for (const auto& c : cases) {
        char out[64];
        EXPECT_EQ(use_name_check(c.in, out, sizeof out), c.rc) << (c.in ? c.in : "null");
        EXPECT_STREQ(out, c.out);
    }
}

}  // namespace

#include "dbaccess/common/pcc_ops.h"

namespace {

TEST(Append, CopiesAndTerminates) {
    char buf[8];
    std::memset(buf, 'Z', sizeof buf);
    EXPECT_EQ(u_append(buf, '-', 3), 3);
    EXPECT_STREQ(buf, "---");
    EXPECT_EQ(u_append(buf, '-', 0), 0);
    EXPECT_EQ(u_append(nullptr, '-', 3), 0);
}

}  // namespace
