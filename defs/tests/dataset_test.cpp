#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "defs/dataset_file.h"
#include "runtime/strings.h"
#include "testing/clause_fixture.h"

namespace {

namespace fs = std::filesystem;

const fs::path data_dir = fs::path(ZOV_SOURCE_DIR) / "defs" / "tests" / "data";

// Runs a test in a directory and comes back.
class in_directory {
  public:
    explicit in_directory(const fs::path& dir) : saved_(fs::current_path()) {
        fs::current_path(dir);
    }
    ~in_directory() { fs::current_path(saved_); }

  private:
    fs::path saved_;
};

// A fresh temporary directory, removed afterwards.
class temp_dir {
  public:
    temp_dir() {
        std::string pattern = (fs::temp_directory_path() / "ulvXXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~temp_dir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    const fs::path& path() const { return path_; }
    void write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ / name) << text;
    }

  private:
    fs::path path_;
};

std::vector<std::string> column_names(const test_cursor& cur) {
    std::vector<std::string> out;
    for (columns* c = cur.c->insert_columns; c != nullptr; c = c->next)
        out.emplace_back(c->col_name);
    return out;
}

TEST(DataSetFile, ProcstatExample) {
    in_directory here(data_dir);
    test_cursor cur;
    char out[sizeof_buffer] = "INSERT !PROCSTAT";
    LogCapture log;
    ASSERT_EQ(parse_ulv(out + 7, out, sizeof(out), cur.c), 0) << log.text();
    EXPECT_STREQ(out,
                 "INSERT INTO PROCSTAT (SYSTEMNAME , TIMESTAMP , PID , CPU ) VALUES (:%machine , "
                 ":%now_time , :INT!PID , :FLOAT!CPU ) ");
    EXPECT_EQ(cur.c->objid, 5);
    EXPECT_EQ(cur.c->set, 2);
    EXPECT_EQ(cur.c->rpc_version, 3);
    EXPECT_EQ(cur.c->num_hvs, 4);
    EXPECT_STREQ(cur.c->host_table, "PROCSTAT");
    EXPECT_STREQ(cur.c->table_name, "PROCSTAT");
    EXPECT_STREQ(cur.c->uuidbase, "6b1f0c2e-0d6a-11d0-8f3a-0800096a2c55");
    EXPECT_STREQ(cur.c->uuidpavc, "6b1f0c2e-0d6a-11d0-8f3a-0800096a2c56");
    EXPECT_STREQ(cur.c->uuidpcvc, "6b1f0c2e-0d6a-11d0-8f3a-0800096a2c57");
    EXPECT_EQ(column_names(cur), (std::vector<std::string>{"%machine", "%now_time", "PID", "CPU"}));
    EXPECT_EQ(cur.column(2)->convert, CONV_INT);
    EXPECT_EQ(cur.column(3)->convert, CONV_FLOAT);
    EXPECT_TRUE(log.has("CAT1940I")) << "every line is logged";
    EXPECT_TRUE(log.has("interface procstat"));
    EXPECT_TRUE(log.has("CAT1970I"));
    EXPECT_TRUE(log.has("Deduced insert: INSERT INTO PROCSTAT"));
    EXPECT_FALSE(log.has("CAT1975T"));
}

const char* const headers =
    "[ uuidbase(B)\n"
    "uuidpavc(A)\n"
    "uuidpcvc(C) (7)\n";

struct ulv_case {
    std::string name;  // data-set word as written after INSERT
    std::string file;  // file name written, empty for none
    std::string text;
    const char* message;  // null: success
    const char* insert;   // expected text on success
};

TEST(DataSetFile, FilesToInsertOrMessage) {
    const std::string body = "interface T\nobjid(1)\nset(1)\n";
    const ulv_case cases[] = {
        // Lines that do not fit the item looked for are skipped, COLUMN lines too.
        {"!T", "T.ULV",
         "COLUMN (early, char)\nuuidpavc(x)\n" + std::string(headers) +
             "COLUMN (early, char)\ninterface t\nobjid(0)\ncolumn (x, i)\nOBJID(4)\nset(9)\n"
             "column (rowno, l)\ncolumn (sampleno, U)\ncolumn (name, C)\ncolumn (f, F)\n",
         nullptr,
         "INSERT INTO T (ROWNO , SAMPLENO , NAME , F ) VALUES (:INT!%rowno , :INT!%sampleno , "
         ":NAME , :FLOAT!F ) "},
        {"!!T!", "T.ULV", headers + body + "column (a, c)\n", nullptr,
         "INSERT INTO T (A ) VALUES (:A ) "},
        {"!T more words", "T.ULV", headers + body + "column ( (a , , c)\n", nullptr,
         "INSERT INTO T (A ) VALUES (:A ) "},
        {"!MISSING", "", "", "CAT1935E", nullptr},
        {"!T", "T.ULV", headers + std::string("objid(1)\nset(1)\ncolumn (a, c)\n"), "CAT1955E",
         nullptr},
        {"!T", "T.ULV", headers + body, "CAT1960E", nullptr},
        {"!T", "T.ULV", headers + body + "column (d, date)\n", "CAT1950E", nullptr},
        {"!T", "T.ULV", "[ uuidbase(B)\nuuidpavc(A)\nuuidpcvc(C)\n" + body, "CAT1940E", nullptr},
        {"!T", "T.ULV", "[ uuidbase(B)\nuuidpavc(A)\nuuidpcvc(C) (7\n" + body, "CAT1945E", nullptr},
        {"!T", "T.ULV", "[ uuidbase B\n", "CAT1925E", nullptr},
        {"!T", "T.ULV", "[ uuidbase(B\n", "CAT1930E", nullptr},
        {"!T", "T.ULV", headers + std::string("interface ") + std::string(50, 'T') + "\n",
         "CAT1957E", nullptr},
        {"!" + std::string(296, 'N'), "", "", "CAT1932E", nullptr},
    };
    for (const ulv_case& k : cases) {
        temp_dir dir;
        if (!k.file.empty()) dir.write(k.file, k.text);
        in_directory here(dir.path());
        test_cursor cur;
        std::vector<char> out(sizeof_buffer, '\0');
        LogCapture log;
        int rc = parse_ulv(k.name.c_str(), out.data(), out.size(), cur.c);
        if (k.message != nullptr) {
            EXPECT_EQ(rc, 1) << k.text;
            EXPECT_TRUE(log.has(k.message)) << k.text << "\n" << log.text();
            continue;
        }
        ASSERT_EQ(rc, 0) << k.text << "\n" << log.text();
        EXPECT_STREQ(out.data(), k.insert);
    }
}

TEST(DataSetFile, LaterObjidTakenAfterZero) {
    temp_dir dir;
    dir.write("T.ULV",
              std::string(headers) + "interface t\nobjid(0)\nOBJID(4)\nset(9)\ncolumn (a, i)\n");
    in_directory here(dir.path());
    test_cursor cur;
    char out[512];
    ASSERT_EQ(parse_ulv("!T", out, sizeof(out), cur.c), 0);
    EXPECT_EQ(cur.c->objid, 4);
    EXPECT_EQ(cur.c->set, 9);
    EXPECT_EQ(cur.c->rpc_version, 7);
}

TEST(DataSetFile, MissingFileNamesTheUlvFile) {
    temp_dir dir;
    in_directory here(dir.path());
    test_cursor cur;
    char out[512];
    LogCapture log;
    EXPECT_EQ(parse_ulv("!NOPE", out, sizeof(out), cur.c), 1);
    EXPECT_TRUE(log.has("Can NOT open NOPE.ULV")) << log.text();
}

TEST(DataSetFile, CursorsOwnIdentifiersStartAtTheInterface) {
    temp_dir dir;
    dir.write("T.ULV", "uuidbase(file)\ninterface t\nobjid(3)\nset(4)\ncolumn (systemname, c)\n");
    in_directory here(dir.path());
    test_cursor cur;
    cur.c->uuidbase = alloc_str("own-base");
    cur.c->uuidpavc = alloc_str("own-pavc");
    cur.c->uuidpcvc = alloc_str("own-pcvc");
    cur.c->rpc_version = 11;
    cur.c->objid = 8;
    cur.c->table_name = alloc_str("OWN_TABLE");
    cur.c->trace = 1;
    char out[512];
    LogCapture log;
    ASSERT_EQ(parse_ulv("!T", out, sizeof(out), cur.c), 0) << log.text();
    EXPECT_STREQ(cur.c->uuidbase, "own-base");
    EXPECT_EQ(cur.c->rpc_version, 11);
    EXPECT_EQ(cur.c->objid, 8) << "a set objid is not looked for";
    EXPECT_EQ(cur.c->set, 4);
    EXPECT_STREQ(cur.c->table_name, "OWN_TABLE");
    EXPECT_STREQ(cur.c->host_table, "T");
    EXPECT_STREQ(out, "INSERT INTO T (SYSTEMNAME ) VALUES (:%machine ) ");
    EXPECT_TRUE(log.has("Objid = 8, set = 4, rpc_version = 11")) << log.text();
    EXPECT_TRUE(log.has("Uuidbase = own-base"));
    EXPECT_TRUE(log.has("Uuidpcvc = own-pcvc"));
}

TEST(DataSetFile, InsertTooLongForTheStatementRefused) {
    temp_dir dir;
    std::string text = std::string(headers) + "interface t\nobjid(1)\nset(1)\n";
    for (int i = 0; i < 40; ++i) text += "column (c" + std::to_string(i) + ", c)\n";
    dir.write("T.ULV", text);
    in_directory here(dir.path());
    test_cursor cur;
    std::vector<char> out(200, '\0');
    LogCapture log;
    EXPECT_EQ(parse_ulv("!T", out.data(), out.size(), cur.c), 1);
    EXPECT_TRUE(log.has("CAT1965E")) << log.text();
    EXPECT_EQ(cur.c->insert_columns, nullptr) << "no column is added for a refused insert";
}

}  // namespace
