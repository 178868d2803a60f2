#include "defs/statement_reader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "defs/tokenizer.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"

namespace {

// Reads every statement of a file text; each statement is returned with its padding, a
// failure as "<error>", and "<pending>" when text without ";" remained at the end.
std::vector<std::string> statements(const std::string& file_text) {
    FILE* f = fmemopen(const_cast<char*>(file_text.data()), file_text.size(), "r");
    statement_reader r;
    statement_reader_init(&r, f, "pcc0305", "pcc0306");
    std::vector<std::string> out;
    for (int guard = 0; guard < 100; ++guard) {
        char* end = nullptr;
        int rc = read_statement(&r, &end);
        if (rc == 0) {
            if (r.pending) out.push_back("<pending>");
            break;
        }
        if (rc < 0) {
            out.push_back("<error>");
            continue;
        }
        EXPECT_EQ(std::string(end), "    ");
        EXPECT_EQ(this_start, buffer);
        out.push_back(buffer);
    }
    statement_reader_close(&r);
    std::fclose(f);
    return out;
}

using list = std::vector<std::string>;

TEST(StatementReader, FramesStatements) {
    struct c {
        const char* file;
        list want;
    } cases[] = {
        {"cursor a;\ninterval 10;\n", {"cursor a    ", "interval 10    "}},
        {"insert into t\n   values (1);\n", {"insert into t values (1)    "}},
        {";; note\n; comment\nend;\n", {"end    "}},
        {"a\n  ;\n", {"a     "}},
        {" ;x\n", {"    "}},
        {"a; b;\nc;\n", {"a    ", "c    "}},
        {";;\n;a;\nb;", {"b    "}},
        {"a\r\nb;\r\n", {"a b    "}},
        {"a\tb;", {"a\tb    "}},
        {"\n\nend;", {"  end    "}},
        {"end", {"<pending>"}},
        {"", {}},
    };
    for (const c& k : cases) EXPECT_EQ(statements(k.file), k.want) << k.file;
}

TEST(StatementReader, ResetsStatementState) {
    parens = 3;
    failed = 1;
    EXPECT_EQ(statements("x;"), list{"x    "});
    EXPECT_EQ(parens, 0);
    EXPECT_EQ(failed, 0);
}

TEST(StatementReader, KeepsLongLinesWhole) {
    std::string sql = "select " + std::string(600, 'c') + " from t";
    EXPECT_EQ(statements("script " + sql + ";\n"), list{"script " + sql + "    "});
}

TEST(StatementReader, RefusesStatementsLongerThanTheBuffer) {
    LogCapture log;
    std::string fits(sizeof_buffer - 5, 'x');
    EXPECT_EQ(statements(fits + ";"), list{fits + "    "});

    std::string over(sizeof_buffer - 4, 'x');
    EXPECT_EQ(statements(over + ";\nnext;\n"), (list{"<error>", "next    "}));
    EXPECT_TRUE(log.has("longer than 15995 bytes"));
    // Spread over many lines, and unfinished at the end of the file.
    std::string lines;
    for (int i = 0; i < 200; ++i) lines += std::string(99, 'y') + "\n";
    EXPECT_EQ(statements(lines), list{"<error>"});
}

TEST(StatementReader, TracesLinesButNotDoubleSemicolonOnes) {
    LogCapture log;
    int16_t saved = trace_something;
    trace_something = 1;
    statements(";; hidden\n; shown comment\nend;\n");
    trace_something = saved;
    std::string text = log.text();
    EXPECT_EQ(text.find("hidden"), std::string::npos);
    EXPECT_NE(text.find("shown comment"), std::string::npos);
    EXPECT_NE(text.find("end;"), std::string::npos);
}

}  // namespace
