#include "defs/dictionary_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "defs/dictionary.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/def_file_support.h"
#include "testing/log_capture.h"

namespace {

void free_parms() {
    for (dict_parms* p = dict_parms_anchor; p != nullptr;) {
        dict_parms* next = p->next;
        U_FREE(p);
        p = next;
    }
    dict_parms_anchor = nullptr;
}

std::vector<std::string> names() {
    std::vector<std::string> out;
    for (dictionary* d = dict_anchor; d != nullptr; d = d->next) out.push_back(d->name);
    return out;
}

class DictionaryFile : public ::testing::Test {
  protected:
    void SetUp() override {
        dict_free_all();
        free_parms();
        add_dict_parm(const_cast<char*>("dbuser"), const_cast<char*>("dbo"));
        add_dict_parm(const_cast<char*>("quoted"), const_cast<char*>("'xyz'"));
        add_dict_parm(const_cast<char*>("open"), const_cast<char*>("'xyz"));
        add_dict_parm(const_cast<char*>("envref"), const_cast<char*>("%ZOV_DICT_UNSET"));
        add_dict_parm(const_cast<char*>("num"), const_cast<char*>("'42'"));
        add_dict_parm(const_cast<char*>("password"), const_cast<char*>("s3cret"));
        setenv("ZOV_DICT_SET", "/opt/zov", 1);
        unsetenv("ZOV_DICT_UNSET");
    }
    void TearDown() override {
        dict_free_all();
        free_parms();
        trace_all = 0;
        trace_something = 0;
    }
    // A file reads one statement per line: each "; " of the text ends a line.
    static int parse(const std::string& text) {
        return deftest::parse_lines(parse_dict_file, text);
    }
};

const char* const no_initial = nullptr;

TEST_F(DictionaryFile, SingleEntries) {
    struct c {
        std::string text;
        int rc;
        const char* logged;   // a text the log must hold, or null
        const char* initial;  // the first entry's initial value; null: none
        int orig_type;
        int len;
    } cases[] = {
        // A dictionary parameter, found without regard to case, or the default after it.
        {"name LOGONID; type CHAR(30); initial -dbuser,sa; end;", 0, nullptr, "dbo", 0, 30},
        {"name LOGONID; type CHAR(30); initial -DBUSER,sa; end;", 0, nullptr, "dbo", 0, 30},
        {"name LOGONID; type CHAR(30); initial -logonid,sa; end;", 0, nullptr, "sa", 0, 30},
        {"name LOGONID; type CHAR(30); initial -logonid, 'sa' ; end;", 0, nullptr, "sa", 0, 30},
        {"name X; type CHAR(30); initial -nosuch; end;", 0, nullptr, "-nosuch", 0, 30},
        {"name X; type CHAR(30); initial -nosuch, ' '; end;", 0, nullptr, "-nosuch", 0, 30},
        // An environment variable, directly or through a parameter.
        {"name X; type CHAR(30); initial %ZOV_DICT_SET; end;", 0, nullptr, "/opt/zov", 0, 30},
        {"name X; type CHAR(30); initial %ZOV_DICT_UNSET; end;", 0, nullptr, "%ZOV_DICT_UNSET", 0,
         30},
        {"name X; type CHAR(30); initial %ZOV_DICT_UNSET,fallback; end;", 0, nullptr, "fallback", 0,
         30},
        {"name X; type CHAR(30); initial -envref; end;", 0,
         "Environmental variable ZOV_DICT_UNSET not found", no_initial, 0, 30},
        // Quotes.
        {"name X; type CHAR(30); initial -quoted; end;", 0, nullptr, "xyz", 0, 30},
        {"name X; type CHAR(30); initial -open; end;", 1, "Missing an ending ' in initial value",
         no_initial, 0, 30},
        {"name X; type CHAR(30); initial 'a b'; end;", 0, nullptr, "a b    ", 0, 30},
        {"name X; type CHAR(30); initial 'abc; end;", 1, "Parsing failed : Syntax error",
         no_initial, 0, 30},
        {"name X; type CHAR(30); initial hello; end;", 0, nullptr, "hello    ", 0, 30},
        {"name X; type CHAR(4); initial a; initial b; end;", 0, nullptr, "b    ", 0, 4},
        // Numbers are right-aligned in their field; a type declared after the initial
        // value leaves the text as written.
        {"name N; type INTEGER; initial 42; end;", 0, nullptr, "              42", 2, 16},
        {"name N; type FLOAT; initial -num; end;", 0, nullptr, "              42", 2, 16},
        {"name N; type float; initial '7' ; end;", 0, nullptr, "               7", 2, 16},
        {"name N; initial 42; type INTEGER; end;", 0, nullptr, "42    ", 2, 16},
        {"name N; type integer; initial 1234567890123456; end;", 0, nullptr, "1234567890123456", 2,
         16},
        {"name N; type integer; initial 12345678901234567; end;", 1,
         "Initial value 12345678901234567 is longer than the length 16", no_initial, 2, 16},
        {"name N; type CHAR(5); number; initial 42; end;", 0, nullptr, "42    ", 0, 5},
        {"name N; type CHAR(5); number Y; initial 42; end;", 0, nullptr, "   42", 2, 5},
        // Types and lengths.
        {"name X; type CHARACTER(12); initial a; end;", 0, nullptr, "a    ", 0, 12},
        {"name X; type char (256); initial a; end;", 0, nullptr, "a    ", 0, 256},
        {"name X; type CHAR(300); initial a; end;", 1, "ERR Length of 300 exceeds maximum(256)",
         "a    ", 0, 300},
        {"name X; type CHAR(10); type CHAR(20); end;", 1, "Duplicate data type", no_initial, 0, 10},
        {"name X; type VARCHAR(10); type CHAR(2); end;", 1, "Invalid data type", no_initial, 0, 2},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.text);
        LogCapture log;
        EXPECT_EQ(parse(k.text), k.rc) << log.text();
        if (k.logged != nullptr) {
            EXPECT_TRUE(log.has(k.logged)) << log.text();
        }
        if (k.rc != 0) {
            EXPECT_TRUE(log.has("Parsing ended with errors"));
        }
        ASSERT_NE(dict_anchor, nullptr);
        EXPECT_EQ(dict_anchor->type, 1);
        EXPECT_EQ(dict_anchor->orig_type, k.orig_type);
        EXPECT_EQ(dict_anchor->len, k.len);
        if (k.initial == nullptr) {
            EXPECT_EQ(dict_anchor->initial, nullptr);
            EXPECT_TRUE(log.has("No Initial value, using default"));
        } else {
            ASSERT_NE(dict_anchor->initial, nullptr);
            EXPECT_EQ(std::string(dict_anchor->initial), k.initial);
        }
        dict_free_all();
    }
}

TEST_F(DictionaryFile, EntriesThatStopTheReading) {
    struct c {
        const char* text;
        const char* logged;
    } cases[] = {
        {"name A; type CHAR; name B; type CHAR(2); end;", "No length given for the data type CHAR"},
        {"name A; type CHAR(0); name B; type CHAR(2); end;", "ERR Length of 0 below minimum(1)"},
        {"name A; type CHAR(-3); name B; type CHAR(2); end;", "ERR Length of -3 below minimum(1)"},
        {"name A; initial x; name B; type CHAR(2); end;", "No data type"},
        {"type CHAR(2); name B; type CHAR(2); end;", "First word must be 'name'"},
        {"initial x; name B; type CHAR(2); end;", "First word must be 'name'"},
        {"name A; typ CHAR(2); name B; type CHAR(2); end;", "Unknown keyword (typ)"},
        {"name ABCDEFGHIJKLMNOPQRSTUVWXYZ012345; type CHAR(2); end;",
         "Name exceeds 31 characters: ABCDEFGHIJKLMNOPQRSTUVWXYZ012345"},
    };
    for (const c& k : cases) {
        SCOPED_TRACE(k.text);
        LogCapture log;
        EXPECT_EQ(parse(k.text), 1);
        EXPECT_TRUE(log.has(k.logged)) << log.text();
        EXPECT_EQ(names(), std::vector<std::string>{});
        dict_free_all();
    }
}

TEST_F(DictionaryFile, NameOf31CharactersIsAccepted) {
    LogCapture log;
    std::string name(31, 'N');
    EXPECT_EQ(parse("name " + name + "; type CHAR(2); initial x; end;"), 0) << log.text();
    EXPECT_EQ(names(), std::vector<std::string>{name});
}

TEST_F(DictionaryFile, RepeatedNameFailsButBothEntriesAreKept) {
    LogCapture log;
    EXPECT_EQ(parse("name A; type CHAR(2); name A; type CHAR(3); end;"), 1);
    EXPECT_TRUE(log.has("Name previously used"));
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "A"}));
}

TEST_F(DictionaryFile, ListIsInFileOrderAndAnOpenEntryAtTheEndIsLost) {
    LogCapture log;
    EXPECT_EQ(parse(";comment\nname A;\n  type CHAR(1);\nend B;\ntype CHAR(2);\n"
                    "name C; type CHAR(3);\n"),
              0)
        << log.text();
    EXPECT_EQ(names(), (std::vector<std::string>{"A", "B"}));
    EXPECT_TRUE(log.has("-- Starting parse of DICT.CTL -- Time: "));
    EXPECT_TRUE(log.has("--  Dict Control Parsing ended at "));
    EXPECT_FALSE(log.has("Parsing ended with errors"));
}

TEST_F(DictionaryFile, PasswordValuesAreNeverTraced) {
    LogCapture log;
    trace_all = 1;
    trace_something = 1;
    EXPECT_EQ(parse("name PW; type CHAR(20); initial -password;\n"
                    "name USER; type CHAR(8); initial -dbuser; end;"),
              0);
    ASSERT_NE(dict_anchor, nullptr);
    EXPECT_EQ(std::string(dict_anchor->initial), "s3cret");  // kept, only hidden
    std::string text = log.text();
    EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
    EXPECT_NE(text.find("Parm Name= password, Value= ***"), std::string::npos) << text;
    EXPECT_NE(text.find("Name = PW, Type = 1, len = 20, Initial = ***."), std::string::npos)
        << text;
    EXPECT_NE(text.find("Name = USER, Type = 1, len = 8, Initial = dbo."), std::string::npos)
        << text;
}

TEST_F(DictionaryFile, FileIsFoundBySearchAndMissingFileFails) {
    LogCapture log;
    deftest::definition_home home;
    EXPECT_EQ(parse_dict(), 1);
    home.write("dict", "name A;\ntype INTEGER;\ninitial 5;\nend;\n");
    EXPECT_EQ(parse_dict(), 0) << log.text();
    EXPECT_EQ(names(), std::vector<std::string>{"A"});
}

}  // namespace
